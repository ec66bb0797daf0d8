// A stand-in for the interface page in the shell's tests: it defines the page functions the
// shell calls and records every call, and it posts commands only when a test asks (through
// window.testPost). Inside a frame it posts hostile commands instead (see poster.js).
(() => {
  'use strict';
  if (window !== window.top) {
    const post = (to, name) => {
      try {
        to.postMessage({ quorvane: { id: 'frame-' + name, command: 'theme', data: { theme: 'dark' } } }, '*');
      } catch (error) {
        // a cross-origin window may refuse
      }
    };
    post(window.parent, 'parent');
    post(window.top, 'top');
    post(window, 'self');
    return;
  }
  const record = {
    document: Math.random(),
    loaded: false,
    readyPosted: false,
    states: 0,
    statesEarly: 0, // before the load event and before "ready" was posted
    lastState: null,
    updates: [],
    desktopSettings: [],
    updatesEarly: 0,
    results: [],
    settings: 0,
    flush: 'resolve', // or 'reject' or 'hang'
    flushed: 0,
    reused: 0, // messages of the last state that are the very objects of the state before
  };
  window.__test = record;
  window.addEventListener('load', () => { record.loaded = true; });

  const early = () => !record.loaded && !record.readyPosted;

  const define = (name, value) =>
    Object.defineProperty(window, name, { value, writable: false, configurable: false, enumerable: false });

  define('receiveState', (state) => {
    if (early()) record.statesEarly += 1;
    record.states += 1;
    const before = record.lastState;
    if (before && before.account && state.account) {
      const previous = new Set(before.account.messages);
      record.reused = state.account.messages.filter((m) => previous.has(m)).length;
    }
    record.lastState = state;
    const main = document.getElementById('conversation');
    if (main) {
      const shown = state.account.messages.slice(-20);
      main.replaceChildren(...shown.map((m) => {
        const div = document.createElement('div');
        div.className = 'message';
        div.textContent = m.text.slice(0, 300);
        return div;
      }));
    }
  });
  define('receiveUpdateState', (update) => {
    if (early()) record.updatesEarly += 1;
    record.updates.push(update);
  });
  define('receiveDesktopSettings', (settings) => { record.desktopSettings.push(settings); });
  define('nativeResult', (id, error) => { record.results.push({ id, error }); });
  define('showSettings', () => { record.settings += 1; });
  define('flushDraft', async () => {
    record.flushed += 1;
    if (record.flush === 'reject') throw new Error('The draft could not be stored.');
    if (record.flush === 'hang') return new Promise(() => {});
    return true;
  });
  define('testPost', (id, command, data) => {
    if (command === 'ready') record.readyPosted = true;
    const message = { id, command };
    if (data !== undefined) message.data = data;
    window.postMessage({ quorvane: message }, '*');
  });
  // The policy allows two Trusted Types policies; the page's own frames need one for their
  // script addresses and markup.
  const trusted = window.trustedTypes
    ? window.trustedTypes.createPolicy('quorvane', { createScriptURL: (u) => u, createHTML: (h) => h })
    : { createScriptURL: (u) => u, createHTML: (h) => h };
  // Frames of every kind, each posting hostile commands to its parent, the top and itself.
  define('testFrames', () => {
    const made = [];
    const blank = document.createElement('iframe');
    document.body.append(blank);
    const script = blank.contentDocument.createElement('script');
    script.src = trusted.createScriptURL(new URL('poster.js', location.href).href);
    blank.contentDocument.head.append(script);
    made.push('blank');
    const srcdoc = document.createElement('iframe');
    srcdoc.srcdoc = trusted.createHTML('<script src="poster.js"></scr' + 'ipt>');
    document.body.append(srcdoc);
    made.push('srcdoc');
    const data = document.createElement('iframe');
    data.src = 'data:text/html,<script>parent.postMessage({quorvane:{id:"data",command:"theme",data:{theme:"dark"}}},"*");' +
      'top.postMessage({quorvane:{id:"data-top",command:"theme",data:{theme:"dark"}}},"*");</scr' + 'ipt>';
    document.body.append(data);
    made.push('data');
    const own = document.createElement('iframe');
    own.src = 'index.html?frame';
    document.body.append(own);
    made.push('index');
    const other = document.createElement('iframe');
    other.src = 'other.html';
    document.body.append(other);
    made.push('other');
    return made;
  });
})();
