// The Dot page. It renders from the state embedded in the document, follows the backend's
// event stream, and re-renders by building fresh nodes for whatever changed, the way
// virtual-DOM frameworks do: keep no reference to a message node or to the send button
// across updates. Only the composer's editable element lives for the page's lifetime.
(function () {
  'use strict';

  var boot = JSON.parse(document.getElementById('__DOT_STATE__').textContent);
  var C = __CLASS_NAMES__;
  var route = boot.route;
  // The page's variant (the simulator's `page` control call): how far it is from the plain one.
  var V = boot.variant || {};
  var LABELS = {
    en: { composer: 'Message Dot', send: 'Send message', stop: 'Stop generating', attach: 'Attach files', profile: 'Open profile menu',
      youSaid: 'You said:', said: ' said:', copy: 'Copy', good: 'Good response', dismiss: 'Dismiss' },
    fr: { composer: '\u00c9crire \u00e0 Dot', send: 'Envoyer le message', stop: 'Arr\u00eater la g\u00e9n\u00e9ration', attach: 'Joindre des fichiers',
      profile: 'Ouvrir le menu du profil', youSaid: 'Vous avez dit\u00a0:', said: ' a dit\u00a0:', copy: 'Copier', good: 'Bonne r\u00e9ponse', dismiss: 'Fermer' },
  };
  var L = LABELS[V.locale] || LABELS.en;
  // A test id, or nothing when the variant has none.
  function tid(id) { return V.testIds === false ? null : id; }
  var view = boot.view || { conversation: null, conversations: [], dialog: null, profile: null };
  var root = document.getElementById('__dot');

  var draft = '';
  var pendingFiles = [];
  var sending = false;
  var alertText = '';
  var menuOpen = false;
  var source = null;
  var messageNodes = new Map();
  var parts = {};

  // ---- a tiny element builder ------------------------------------------------------

  function h(tag, props) {
    var el = document.createElement(tag);
    props = props || {};
    Object.keys(props).forEach(function (key) {
      var value = props[key];
      if (value === undefined || value === null || value === false) return;
      if (key.slice(0, 2) === 'on') el.addEventListener(key.slice(2).toLowerCase(), value);
      else if (key === 'className') el.className = value;
      else if (key === 'html') el.innerHTML = value;
      else el.setAttribute(key, value === true ? '' : String(value));
    });
    for (var i = 2; i < arguments.length; i += 1) append(el, arguments[i]);
    return el;
  }

  function append(el, child) {
    if (child === null || child === undefined || child === false) return;
    if (Array.isArray(child)) child.forEach(function (c) { append(el, c); });
    else el.appendChild(typeof child === 'string' ? document.createTextNode(child) : child);
  }

  var SVG_NS = 'http://www.w3.org/2000/svg';
  function icon(path) {
    var svg = document.createElementNS(SVG_NS, 'svg');
    svg.setAttribute('width', '18');
    svg.setAttribute('height', '18');
    svg.setAttribute('viewBox', '0 0 24 24');
    svg.setAttribute('aria-hidden', 'true');
    var p = document.createElementNS(SVG_NS, 'path');
    p.setAttribute('d', path);
    p.setAttribute('fill', 'none');
    p.setAttribute('stroke', 'currentColor');
    p.setAttribute('stroke-width', '2');
    p.setAttribute('stroke-linecap', 'round');
    svg.appendChild(p);
    return svg;
  }
  var ICON_SEND = 'M12 19V5M5 12l7-7 7 7';
  var ICON_STOP = 'M7 7h10v10H7z';
  var ICON_PLUS = 'M12 5v14M5 12h14';
  var ICON_EDIT = 'M4 20h4L19 9l-4-4L4 16v4z';
  var ICON_COPY = 'M8 8h11v12H8zM5 16V4h11';
  var ICON_THUMB = 'M7 11v9H4v-9h3zm0 0l4-7c2 0 3 1 3 3v3h5l-2 10H7';

  // ---- composer --------------------------------------------------------------------

  // Reads the editable element as text, one line per block and per <br>. A <br> that is the
  // last thing in its block only keeps an empty block open, as browsers insert it.
  var BLOCKS = { DIV: 1, P: 1, LI: 1, UL: 1, OL: 1, PRE: 1, BLOCKQUOTE: 1, H1: 1, H2: 1, H3: 1, H4: 1, H5: 1, H6: 1 };
  function isPlaceholderBreak(br) {
    var node = br;
    while (node && node !== editor) {
      var next = node.nextSibling;
      while (next && next.nodeType === 3 && next.data === '') next = next.nextSibling;
      if (next) return false;
      node = node.parentNode;
      if (node && BLOCKS[node.nodeName]) return true;
    }
    return true;
  }
  function composerText() {
    var lines = [];
    var current = '';
    var open = false;
    function walk(node) {
      for (var child = node.firstChild; child; child = child.nextSibling) {
        if (child.nodeType === 3) {
          var pieces = child.data.replace(/\u00a0/g, ' ').split('\n');
          for (var i = 0; i < pieces.length; i += 1) {
            if (i > 0) { lines.push(current); current = ''; }
            current += pieces[i];
          }
          if (child.data !== '') open = true;
        } else if (child.nodeName === 'BR') {
          if (isPlaceholderBreak(child)) open = true;
          else { lines.push(current); current = ''; open = true; }
        } else if (child.nodeType === 1 && BLOCKS[child.nodeName]) {
          if (open) { lines.push(current); current = ''; open = false; }
          walk(child);
          if (open) { lines.push(current); current = ''; open = false; }
        } else if (child.nodeType === 1) {
          walk(child);
        }
      }
    }
    walk(editor);
    if (open) lines.push(current);
    return lines.join('\n');
  }

  var editor = h('div', {
    className: C.editor,
    contenteditable: 'true',
    role: 'textbox',
    'aria-multiline': 'true',
    'aria-label': L.composer,
    'data-placeholder': L.composer,
    'data-testid': tid('composer-input'),
    'data-empty': 'true',
    translate: 'no',
    spellcheck: 'false',
    tabindex: '0',
  });

  function blocked() {
    return Boolean(view.dialog) || route.kind === 'signIn';
  }

  editor.addEventListener('beforeinput', function (event) {
    if (blocked()) event.preventDefault();
    else if (V.enterSends === 'beforeinput' && event.inputType === 'insertParagraph') {
      // Editors that treat a paragraph break as Enter send what they hold at that moment.
      event.preventDefault();
      submit();
    }
  });
  // The page's model of the draft changes only through input events, as in the editors that
  // real services use; a script that rewrites the element silently leaves the model behind.
  editor.addEventListener('input', function (event) {
    draft = composerText();
    editor.setAttribute('data-empty', draft === '' ? 'true' : 'false');
    if (alertText) { alertText = ''; renderAlert(); }
    renderControls();
    if (V.enterSends === 'input' && event.inputType === 'insertParagraph') submit();
  });
  editor.addEventListener('paste', function (event) {
    var text = event.clipboardData && event.clipboardData.getData('text/plain');
    if (typeof text !== 'string') return;
    event.preventDefault();
    document.execCommand('insertText', false, text);
  });
  editor.addEventListener('keydown', function (event) {
    if (event.key === 'Enter' && !event.shiftKey && !event.ctrlKey && !event.altKey && !event.metaKey && !event.isComposing) {
      event.preventDefault();
      submit();
    }
  });

  function clearComposer() {
    editor.replaceChildren();
    draft = '';
    pendingFiles = [];
    editor.setAttribute('data-empty', 'true');
    renderChips();
  }

  function canSend() {
    var busy = Boolean(view.conversation && view.conversation.busy);
    return !sending && !busy && !blocked() && (draft.trim() !== '' || pendingFiles.length > 0);
  }

  function api(method, path, body) {
    return fetch(path, {
      method: method,
      credentials: 'same-origin',
      headers: body ? { 'Content-Type': 'application/json' } : {},
      body: body ? JSON.stringify(body) : undefined,
    }).then(function (response) {
      return response.json().catch(function () { return {}; }).then(function (data) {
        return { ok: response.ok, status: response.status, data: data };
      });
    });
  }

  function submit() {
    if (!canSend()) return;
    var target = route.kind === 'conversation' ? route.id : 'new';
    var text = draft;
    var files = pendingFiles.map(function (f) { return f.id; });
    sending = true;
    if (V.optimisticClear) clearComposer();
    renderControls();
    api('POST', '/backend/conversations/' + encodeURIComponent(target) + '/messages', {
      text: text,
      attachments: files,
      client_message_id: newId(),
    }).then(function (result) {
      sending = false;
      if (result.status === 401) return sessionLost('expired');
      if (!result.ok) {
        alertText = (result.data && result.data.error && result.data.error.message) || 'Something went wrong. Please try again.';
        if (V.optimisticClear && V.restoreOnRefusal) restoreDraft(text);
        renderAlert();
        renderControls();
        return;
      }
      clearComposer();
      if (V.toastOnSend) showToast(V.toastOnSend);
      if (target === 'new') {
        // The new conversation replaces the home screen without a page load.
        route = { kind: 'conversation', id: result.data.conversation_id };
        history.pushState({}, '', '/dots/' + result.data.conversation_id);
        view = result.data;
        renderApp();
        editor.focus();
        subscribe();
        return;
      }
      applyView(result.data);
    }, function () {
      sending = false;
      alertText = 'Network error. Check your connection and try again.';
      renderAlert();
      renderControls();
    });
  }

  function restoreDraft(text) {
    editor.textContent = text;
    draft = text;
    editor.setAttribute('data-empty', draft === '' ? 'true' : 'false');
  }

  // A notice of the page's own, unrelated to the message that was just sent.
  function showToast(text) {
    var toast = h('div', { role: 'alert', className: C.alert, style: 'position: fixed; top: 12px; right: 12px; z-index: 20;' }, text);
    document.body.appendChild(toast);
    setTimeout(function () { toast.remove(); }, 2500);
  }

  function stop() {
    if (route.kind !== 'conversation') return;
    api('POST', '/backend/conversations/' + encodeURIComponent(route.id) + '/stop');
  }

  var fileInput = h('input', { type: 'file', multiple: true, hidden: true, tabindex: '-1' });
  fileInput.addEventListener('change', function () {
    Array.prototype.forEach.call(fileInput.files, function (file) {
      var reader = new FileReader();
      reader.onload = function () {
        var data = String(reader.result).replace(/^data:[^,]*,/, '');
        api('POST', '/backend/files', { name: file.name, type: file.type, data: data }).then(function (result) {
          if (!result.ok) { alertText = 'That file couldn\u2019t be attached.'; renderAlert(); return; }
          pendingFiles.push(result.data.file);
          renderChips();
          renderControls();
        });
      };
      reader.readAsDataURL(file);
    });
    fileInput.value = '';
  });

  // ---- rendering -------------------------------------------------------------------

  function replacePart(name, node) {
    var old = parts[name];
    parts[name] = node;
    if (old && old.parentNode) old.replaceWith(node);
    return node;
  }

  function renderSidebar() {
    var profile = view.profile || { name: 'Dot', avatar_url: '' };
    var items = (view.conversations || []).map(function (c) {
      var active = route.kind === 'conversation' && c.id.toLowerCase() === String(route.id).toLowerCase();
      return h('li', null, h('a', {
        className: C.historyItem + (active ? ' ' + C.historyActive : ''),
        href: '/dots/' + c.id,
        'aria-current': active ? 'page' : null,
        title: c.title,
      }, c.title));
    });
    var menu = menuOpen ? h('div', { className: C.menu, role: 'menu' },
      h('button', { type: 'button', className: C.menuItem, role: 'menuitem', onclick: signOut }, 'Log out')) : null;
    return replacePart('sidebar', h('nav', { className: C.sidebar, 'aria-label': 'Chat history' },
      h('a', { className: C.newChat, href: '/dots/home', 'data-testid': tid('create-new-chat-button') }, icon(ICON_EDIT), 'New chat'),
      h('h2', { className: C.sideHeading }, 'Chats'),
      h('ol', { className: C.history }, items),
      h('div', { className: C.profileArea }, menu,
        h('button', {
          type: 'button',
          className: C.profile,
          'data-testid': tid('profile-button'),
          'aria-label': L.profile,
          'aria-haspopup': 'menu',
          'aria-expanded': menuOpen ? 'true' : 'false',
          onclick: function () { menuOpen = !menuOpen; renderSidebar(); },
        },
        h('img', { className: C.avatar, src: profile.avatar_url, alt: '', width: '32', height: '32', draggable: 'false' }),
        h('span', { className: C.profileName }, profile.name),
        V.profileSubtitle ? h('div', { className: C.footnote }, V.profileSubtitle) : null))));
  }

  function attachmentNodes(attachments) {
    if (!attachments || attachments.length === 0) return null;
    return h('div', { className: C.attachments }, attachments.map(function (a) {
      if (a.kind === 'image') {
        return h('figure', { className: C.figure, 'data-attachment-id': a.id },
          h('img', { src: a.url, alt: a.title, loading: 'lazy' }), h('figcaption', null, a.title));
      }
      return h('a', { className: C.fileCard, href: a.url, download: a.title, target: '_blank', rel: 'noopener', 'data-attachment-id': a.id },
        h('span', { className: C.fileIcon, 'aria-hidden': 'true' }), h('span', null, a.title));
    }));
  }

  // Words the page writes on its own, `length` characters of them.
  function filler(length) {
    var words = 'the page wrote this paragraph itself ';
    return words.repeat(Math.ceil(length / words.length)).slice(0, length);
  }

  // The newest message as the bloatLast and nestLast variants make it: filler at the end of its
  // content, in paragraphs of 1,000 characters (as a long answer comes; one text node of many
  // megabytes costs the browser's own layout gigabytes), and the content inside a deep stack of
  // elements.
  function hostileBody(body) {
    for (var left = V.bloatLast; left > 0; left -= 1000) body.appendChild(h('p', null, filler(Math.min(1000, left))));
    for (var depth = 0; depth < V.nestLast; depth += 1) {
      var wrapper = document.createElement('div');
      wrapper.appendChild(body);
      body = wrapper;
    }
    return body;
  }

  function messageNode(message, index, copy) {
    var role = message.author.role;
    var speaker = (view.profile && view.profile.name) || 'Dot';
    var streaming = message.status === 'streaming';
    var body;
    var renamed = V.messageAttributes === 'renamed';
    var idAttribute = renamed ? 'data-turn-id' : 'data-message-id';
    var roleAttribute = renamed ? 'data-turn-role' : 'data-message-author-role';
    if (role === 'user') {
      body = h('div', { className: C.bubble }, h('div', { className: C.userText }, message.content.text || ''));
    } else {
      body = answerBlocks(message.content.html || '', streaming);
    }
    if (index === newestIndex && (V.bloatLast > 0 || V.nestLast > 0)) body = hostileBody(body);
    if (V.nestedMessages) {
      // Some pages mark an inner element of the message as a message too, with an id of its own.
      var inner = {};
      inner[idAttribute] = message.id + '-content';
      inner[roleAttribute] = role;
      body = h('div', inner, body);
    }
    var outer = {
      className: C.message + (role === 'user' ? ' ' + C.userMessage : ''),
      'aria-busy': streaming && V.ariaBusy !== false ? 'true' : null,
      dir: 'auto',
    };
    outer[roleAttribute] = role;
    outer[idAttribute] = message.id;
    return h('article', {
      className: C.turn,
      'data-testid': tid('conversation-turn-' + (index + 1)),
      'data-copy': copy ? String(copy) : null,
    },
    h(role === 'user' ? 'h5' : 'h6', { className: C.srOnly }, role === 'user' ? L.youSaid : speaker + L.said),
    h('div', outer, body, attachmentNodes(message.attachments)),
    role !== 'user' && !streaming ? h('div', { className: C.actions },
      h('button', { type: 'button', className: C.iconButton, 'aria-label': L.copy, 'data-testid': tid('copy-turn-action-button'), onclick: function () { copyText(message); } }, icon(ICON_COPY)),
      h('button', { type: 'button', className: C.iconButton, 'aria-label': L.good }, icon(ICON_THUMB))) : null);
  }

  // Markup the page pads on its own (the simulator's `seed` with `padding`).
  function pad(node, html) {
    if (html.indexOf('data-padding-length') < 0) return node;
    Array.prototype.forEach.call(node.querySelectorAll('[data-padding-length]'), function (el) {
      el.setAttribute('data-padding', 'x'.repeat(Number(el.getAttribute('data-padding-length'))));
    });
    return node;
  }

  // An answer's content: one block, or its top-level pieces spread over several sibling blocks
  // (as pages do that render reasoning, text and tool output apart).
  function answerBlocks(html, streaming) {
    var className = (V.contentClasses === false ? '' : 'markdown prose ') + C.markdown + (streaming ? ' ' + C.streaming : '');
    var count = V.answerBlocks || 1;
    var blocks;
    if (count <= 1) {
      blocks = [pad(h('div', { className: className, html: html }), html)];
    } else {
      var template = document.createElement('template');
      template.innerHTML = html;
      var pieces = Array.prototype.slice.call(template.content.childNodes);
      var groups = Math.max(1, Math.min(count, pieces.length));
      blocks = [];
      for (var g = 0; g < groups; g += 1) {
        var block = h('div', { className: className });
        pieces.slice(Math.floor(g * pieces.length / groups), Math.floor((g + 1) * pieces.length / groups)).forEach(function (piece) {
          block.appendChild(piece);
        });
        blocks.push(block);
      }
    }
    if (streaming) blocks[blocks.length - 1].appendChild(h('span', { className: C.cursor, 'aria-hidden': 'true' }));
    return blocks.length === 1 ? blocks[0] : h('div', null, blocks);
  }

  function copyText(message) {
    var div = document.createElement('div');
    div.innerHTML = message.content.html || '';
    if (navigator.clipboard) navigator.clipboard.writeText(div.textContent).catch(function () {});
  }

  var newestIndex = -1;

  function renderThread() {
    var messages = (view.conversation && view.conversation.messages) || [];
    newestIndex = messages.length - 1;
    var next = new Map();
    var nodes = [];
    var first = V.keepLast > 0 ? Math.max(0, messages.length - V.keepLast) : 0;
    // A virtualised history: older turns leave the document, a spacer keeps the scroll height.
    if (first > 0) nodes.push(h('div', { 'aria-hidden': 'true', style: 'height: ' + (first * 120) + 'px' }));
    messages.forEach(function (message, index) {
      if (index < first) return;
      var copies = message.metadata && message.metadata.duplicate_in_view ? 2 : 1;
      for (var copy = 0; copy < copies; copy += 1) {
        var key = message.id + '#' + copy;
        var signature = JSON.stringify([message.status, message.content, message.attachments, index]);
        var known = messageNodes.get(key);
        var node = known && known.signature === signature ? known.node : messageNode(message, index, copy);
        next.set(key, { signature: signature, node: node });
        nodes.push(node);
      }
    });
    messageNodes = next;
    if (!parts.threadInner) return;
    var thread = parts.thread;
    var atBottom = thread.scrollHeight - thread.scrollTop - thread.clientHeight < 80;
    parts.threadInner.replaceChildren.apply(parts.threadInner, nodes);
    if (atBottom) thread.scrollTop = thread.scrollHeight;
  }

  function renderControls() {
    var busy = Boolean(view.conversation && view.conversation.busy);
    var button;
    var sendType = V.submitButton ? 'submit' : 'button';
    var sendClick = V.submitButton ? null : submit; // a submit button sends through the form
    if (busy && V.busyStyle === 'disabledSend') {
      button = h('button', { type: sendType, className: C.sendButton, 'aria-label': L.send, 'data-testid': tid('send-button'), disabled: true }, icon(ICON_SEND));
    } else if (busy) {
      button = h('button', { type: 'button', className: C.stopButton, 'aria-label': L.stop, 'data-testid': tid('stop-button'), onclick: stop }, icon(ICON_STOP));
    } else if (sending) {
      button = h('button', { type: sendType, className: C.sendButton, 'aria-label': L.send, 'data-testid': tid('send-button'), disabled: true }, h('span', { className: C.spinner, 'aria-hidden': 'true' }));
    } else {
      button = h('button', { type: sendType, className: C.sendButton, 'aria-label': L.send, 'data-testid': tid('send-button'), disabled: !canSend(), onclick: sendClick }, icon(ICON_SEND));
    }
    replacePart('sendControl', button);
  }

  function renderChips() {
    replacePart('chips', pendingFiles.length === 0 ? h('div', { hidden: true }) : h('div', { className: C.chips }, pendingFiles.map(function (f) {
      return h('span', { className: C.chip, 'data-attachment-id': f.id }, f.title);
    })));
  }

  function renderAlert() {
    replacePart('alert', alertText ? h('div', { className: C.alert, role: 'alert' }, h('span', null, alertText),
      h('button', { type: 'button', className: C.alertClose, 'aria-label': L.dismiss, onclick: function () { alertText = ''; renderAlert(); } }, '\u00d7'))
      : h('div', { hidden: true }));
  }

  function renderDialog() {
    var app = parts.app;
    if (app) {
      if (view.dialog) { app.setAttribute('inert', ''); app.setAttribute('aria-hidden', 'true'); }
      else { app.removeAttribute('inert'); app.removeAttribute('aria-hidden'); }
    }
    if (!view.dialog) return replacePart('dialog', h('div', { hidden: true }));
    var d = view.dialog;
    var titleId = 'radix-' + d.id.slice(0, 8);
    return replacePart('dialog', h('div', { className: C.backdrop, 'data-state': 'open' },
      h('div', { role: 'dialog', 'aria-modal': 'true', 'aria-labelledby': titleId, className: C.dialog, 'data-state': 'open', tabindex: '-1' },
        h('h2', { id: titleId, className: C.dialogTitle }, d.title),
        h('p', { className: C.dialogBody }, d.body),
        h('div', { className: C.dialogActions }, h('button', {
          type: 'button', className: C.primaryButton, onclick: function () {
            api('POST', '/backend/dialog/dismiss').then(function () { view.dialog = null; renderDialog(); renderControls(); });
          },
        }, d.button)))));
  }

  function renderMain() {
    var content;
    if (route.kind === 'missing') {
      return h('main', { className: C.main }, h('div', { className: C.hero },
        h('h1', { className: C.heroTitle }, 'Conversation not found'),
        h('p', null, 'It may have been deleted, or the link is wrong.'),
        h('a', { href: '/dots/home' }, 'Start a new chat')));
    }
    var thread = parts.thread = h('div', { className: C.thread, role: 'presentation' },
      parts.threadInner = h('div', { className: C.threadInner, role: 'log', 'aria-label': 'Conversation', 'aria-live': 'polite' }));
    if (route.kind === 'home') {
      content = h('div', { className: C.hero }, h('h1', { className: C.heroTitle }, 'What can I help with?'));
    } else {
      content = thread;
    }
    var title = route.kind === 'conversation' && view.conversation ? view.conversation.title : 'Dot';
    return h('main', { className: C.main },
      h('header', { className: C.header }, h('div', { className: C.headerTitle }, title)),
      content,
      h('div', { className: C.composerArea },
        parts.alert || h('div', { hidden: true }),
        h('form', { className: C.composer, 'data-type': 'unified-composer', onsubmit: function (e) { e.preventDefault(); submit(); } },
          parts.chips || h('div', { hidden: true }),
          editor,
          h('div', { className: C.composerRow },
            h('button', { type: 'button', className: C.attachButton, 'aria-label': L.attach, onclick: function () { fileInput.click(); } }, icon(ICON_PLUS)),
            fileInput,
            parts.sendControl || h('span'))),
        h('div', { className: C.footnote }, 'Dot can make mistakes. Check important info.')));
  }

  function renderApp() {
    parts = { alert: parts.alert, chips: parts.chips, sendControl: parts.sendControl };
    renderAlert();
    renderChips();
    renderControls();
    var sidebar = renderSidebar();
    var app = parts.app = h('div', { className: C.app }, sidebar, renderMain());
    root.replaceChildren(app, renderDialog());
    renderThread();
    document.title = route.kind === 'conversation' && view.conversation ? view.conversation.title + ' \u2013 Dot' : 'Dot';
  }

  function renderSignIn(expired) {
    root.replaceChildren(h('main', { className: C.wall },
      h('div', { className: C.wallCard },
        h('h1', { className: C.heroTitle }, expired ? 'Your session has expired' : 'Welcome to Dot'),
        h('p', null, expired ? 'Please sign in again to continue.' : 'Sign in to pick up where you left off.'),
        h('button', { type: 'button', className: C.primaryButton, 'data-testid': 'login-button', onclick: openSignIn }, 'Sign in'))));
    document.title = 'Sign in \u2013 Dot';
  }

  function openSignIn() {
    var popup = window.open('/auth/signin?popup=1', 'dot-sign-in', 'popup=yes,width=480,height=640');
    if (!popup) location.href = '/auth/signin?next=' + encodeURIComponent(location.pathname);
  }

  function signOut() {
    api('POST', '/auth/signout').then(function () { location.reload(); });
  }

  // ---- state -----------------------------------------------------------------------

  function applyView(next) {
    if (lying) return; // a page that redefined its own methods cannot render any more
    var before = view;
    view = { conversation: next.conversation, conversations: next.conversations, dialog: next.dialog, profile: next.profile };
    if (JSON.stringify(before.conversations) !== JSON.stringify(view.conversations) || JSON.stringify(before.profile) !== JSON.stringify(view.profile)) renderSidebar();
    if (JSON.stringify(before.dialog) !== JSON.stringify(view.dialog)) renderDialog();
    renderThread();
    renderControls();
    if (route.kind === 'conversation' && view.conversation) document.title = view.conversation.title + ' \u2013 Dot';
  }

  function subscribe() {
    if (source) source.close();
    var id = route.kind === 'conversation' ? route.id : 'home';
    source = new EventSource('/backend/events?conversation=' + encodeURIComponent(id));
    source.addEventListener('state', function (event) { applyView(JSON.parse(event.data)); });
    source.addEventListener('reload', function () { location.reload(); });
    source.addEventListener('hang', function (event) {
      // The page's main thread stops answering (a runaway script), here for `ms`.
      var end = Date.now() + JSON.parse(event.data).ms;
      while (Date.now() < end) { /* spin */ }
    });
    source.addEventListener('session', function (event) {
      var data = JSON.parse(event.data);
      sessionLost(data.reason);
    });
    source.onerror = function () {
      if (source && source.readyState === EventSource.CLOSED) {
        fetch('/backend/session', { credentials: 'same-origin' }).then(function (r) { return r.json(); }).then(function (s) {
          if (!s.signed_in) sessionLost(s.expired ? 'expired' : 'signedOut');
          else setTimeout(subscribe, 1000);
        }, function () { setTimeout(subscribe, 2000); });
      }
    };
  }

  function sessionLost(reason) {
    if (source) { source.close(); source = null; }
    route = { kind: 'signIn', expired: reason === 'expired', previous: route };
    renderSignIn(reason === 'expired');
    waitForSignIn();
  }

  function waitForSignIn() {
    var timer = setInterval(function () {
      fetch('/backend/session', { credentials: 'same-origin' }).then(function (r) { return r.json(); }).then(function (s) {
        if (s.signed_in) { clearInterval(timer); location.reload(); }
      }, function () {});
    }, 1500);
  }

  window.addEventListener('message', function (event) {
    if (event.origin === location.origin && event.data && event.data.type === 'dot:signed-in') location.reload();
  });
  window.addEventListener('popstate', function () { location.reload(); });
  document.addEventListener('click', function (event) {
    if (menuOpen && !event.target.closest('[data-testid="profile-button"], [role="menu"]')) { menuOpen = false; renderSidebar(); }
  });

  function newId() {
    if (window.crypto && crypto.randomUUID) return crypto.randomUUID();
    return String(Date.now()) + Math.random().toString(16).slice(2);
  }

  if (V.forgeChangeSignal) {
    // A page script that tries to reach the application's message handlers, under guessed
    // names; what it got is left on the root element for anyone to read.
    var outcomes = {};
    setInterval(function () {
      ['dotChanged', 'quorvane', 'dot', 'changed', 'dotchanged'].forEach(function (name) {
        try {
          var handlers = window.webkit && window.webkit.messageHandlers;
          if (!handlers || !handlers[name]) { outcomes[name] = 'missing'; return; }
          handlers[name].postMessage({ mainFrame: true });
          outcomes[name] = 'posted';
        } catch (error) {
          outcomes[name] = 'error';
        }
      });
      // Written only when it changes, so the guessing itself leaves the document quiet.
      var written = JSON.stringify(outcomes);
      if (document.documentElement.getAttribute('data-forged') !== written) document.documentElement.setAttribute('data-forged', written);
    }, 100);
  }

  // ---- a page that turns on its host --------------------------------------------------

  // navigateAway: the top frame is sent elsewhere a second after the page started, and again
  // every two seconds for as long as it stays; the root element counts the attempts.
  function navigateAway() {
    var target = V.navigateAway;
    var attempts = 0;
    function attempt() {
      if (location.href === target) return;
      attempts += 1;
      document.documentElement.setAttribute('data-navigate-attempts', String(attempts));
      if (V.navigateBy === 'link') {
        var link = h('a', { href: target, hidden: true }, 'away');
        document.body.appendChild(link);
        link.click();
        link.remove();
      } else if (V.navigateBy === 'refresh') {
        var old = document.querySelector('meta[http-equiv="refresh"]');
        if (old) old.remove();
        document.head.appendChild(h('meta', { 'http-equiv': 'refresh', content: '0;url=' + target }));
      } else {
        location.href = target;
      }
    }
    setTimeout(function () {
      attempt();
      setInterval(attempt, 2000);
    }, 1000);
  }

  // redefineDOM: the DOM's and the language's own methods lie from now on. The page does not
  // render again after this (it would break itself: new state from the service is ignored), so
  // whoever reads it meets only the lies.
  // "late" first touches every message, so that a reader that remembers them reads them again.
  var lying = false;

  function redefineDOM() {
    lying = true;
    var messages = document.querySelectorAll('[data-message-id]');
    if (V.redefineDOM === 'late') {
      Array.prototype.forEach.call(messages, function (message) {
        (message.firstElementChild || message).setAttribute('data-touched', 'true');
      });
    }
    var decoy = document.createElement('div');
    decoy.setAttribute('data-message-id', 'forged-by-the-page');
    decoy.setAttribute('data-message-author-role', 'assistant');
    decoy.textContent = 'Forged by the page';
    var forged = 'Forged by the page';
    function lie(target, name, value) {
      Object.defineProperty(target, name, { value: value, configurable: true, writable: true });
    }
    function lieGetter(target, name, get) {
      Object.defineProperty(target, name, { get: get, configurable: true });
    }
    [Document.prototype, DocumentFragment.prototype, Element.prototype].forEach(function (proto) {
      lie(proto, 'querySelectorAll', function () { return [decoy]; });
      lie(proto, 'querySelector', function () { return decoy; });
    });
    lie(Element.prototype, 'closest', function () { return decoy; });
    lie(Element.prototype, 'matches', function () { return false; });
    lie(Element.prototype, 'getAttribute', function () { return 'forged'; });
    lie(Element.prototype, 'hasAttribute', function () { return false; });
    lie(Node.prototype, 'cloneNode', function () { return decoy; });
    lieGetter(Node.prototype, 'textContent', function () { return forged; });
    lieGetter(HTMLElement.prototype, 'innerText', function () { return forged; });
    lieGetter(Element.prototype, 'innerHTML', function () { return '<p>' + forged + '</p>'; });
    lieGetter(CharacterData.prototype, 'data', function () { return forged; });
    lieGetter(Node.prototype, 'firstChild', function () { return null; });
    lie(window, 'getComputedStyle', function () { return { display: 'none', whiteSpace: 'normal', visibility: 'hidden' }; });
    lie(window, 'MutationObserver', function () { return { observe: function () {}, disconnect: function () {}, takeRecords: function () { return []; } }; });
    lie(window, 'setTimeout', function () { return 0; });
    lie(JSON, 'stringify', function () { return '{"forged":true}'; });
    lie(JSON, 'parse', function () { return { forged: true }; });
    lie(Object, 'keys', function () { return []; });
    lie(Array, 'from', function () { return [decoy]; });
    lie(Array.prototype, 'map', function () { return [forged]; });
    lie(Array.prototype, 'filter', function () { return []; });
    lie(Array.prototype, 'some', function () { return false; });
    lie(Array.prototype, 'join', function () { return forged; });
    lie(String.prototype, 'slice', function () { return forged; });
    lie(String.prototype, 'trim', function () { return forged; });
  }

  // mutationFlood: an attribute of the newest message and a text node outside the messages
  // change on every animation frame, or on every turn of the event loop; `__dotFloodTicks`
  // counts the changes.
  function mutationFlood() {
    var counter = document.createTextNode('0');
    document.body.appendChild(h('span', { className: C.srOnly }, counter));
    window.__dotFloodTicks = 0;
    function tick() {
      window.__dotFloodTicks += 1;
      counter.data = String(window.__dotFloodTicks);
      var messages = document.querySelectorAll('[data-message-id]');
      if (messages.length) messages[messages.length - 1].setAttribute('data-tick', String(window.__dotFloodTicks));
      if (V.mutationFlood === 'frame') requestAnimationFrame(tick);
      else setTimeout(tick, 0);
    }
    tick();
  }

  if (route.kind === 'signIn') {
    renderSignIn(route.expired);
    waitForSignIn();
  } else {
    renderApp();
    if (route.kind !== 'missing') {
      subscribe();
      editor.focus();
    }
    if (V.navigateAway) navigateAway();
    if (V.mutationFlood) mutationFlood();
    if (V.redefineDOM === 'early') redefineDOM();
    if (V.redefineDOM === 'late') setTimeout(redefineDOM, 3000);
  }
})();
