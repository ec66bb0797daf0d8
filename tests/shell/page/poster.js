// Runs inside a frame of the test page and posts hostile commands to its parent, the top and
// itself; none of them may reach the application.
(() => {
  const post = (to, name) => {
    try {
      to.postMessage({ quorvane: { id: 'poster-' + name, command: 'theme', data: { theme: 'dark' } } }, '*');
    } catch (error) {
      // refused by a cross-origin window
    }
  };
  post(window.parent, 'parent');
  post(window.top, 'top');
  post(window, 'self');
})();
