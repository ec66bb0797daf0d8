// The interface page's only way to the application.
//
// The shell injects this into the top frame only, in a script world of its own: the message
// handler "quorvane" exists in that world alone, so neither the page's own scripts nor any
// sub-frame can reach it, and nothing the page does to its globals (JSON, addEventListener,
// postMessage) changes what runs here.
//
// It forwards the page's own window messages shaped { quorvane: { id, command, data } }: only
// those whose source is this very window (a frame that posts to its parent, or to the top, has
// another source), and only their "quorvane" member. With each one goes the document's address
// at that moment, which the application compares with the bundle's index.html; the application
// checks the shape and the size again, so this is the first gate, not the only one.
(() => {
  'use strict';
  // The same limit as InterfaceBridge::kMessageByteLimit, counted here in UTF-16 units.
  const limit = 64 * 1024 * 1024;
  const handler = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.quorvane;
  if (!handler) return;
  const post = handler.postMessage.bind(handler);
  const stringify = JSON.stringify;
  window.addEventListener(
    'message',
    (event) => {
      if (event.source !== window) return;
      const data = event.data;
      if (data === null || typeof data !== 'object') return;
      const message = data.quorvane;
      if (message === null || typeof message !== 'object' || Array.isArray(message)) return;
      let text;
      try {
        text = stringify({ href: location.href, message });
      } catch (error) {
        return; // not JSON (a cycle, a BigInt): not a command
      }
      if (typeof text !== 'string' || text.length > limit) return;
      post(text);
    },
    { capture: true },
  );
})();
