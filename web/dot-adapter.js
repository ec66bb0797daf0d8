// Quorvane's page adapter for Dot: the only code that reads or changes the Dot page.
//
// This file is the BODY of an async function. Quorvane runs it in the page's main frame, in the
// isolated script world "local.quorvane.adapter" (page scripts cannot see it), with four string
// arguments: `action`, `text`, `expectedURL` and `since`. What it returns is the call's result:
//   "inspect"    -> a snapshot as JSON text (see "Snapshots" below); `text` and `expectedURL`
//                   are empty, `since` names the snapshot the caller already holds
//   "prepare"    -> {ok} after placing `text` in the composer without sending it
//   "send"       -> {ok} after submitting the composer, which holds `text`
//   "clearDraft" -> {ok} after removing `text` from the composer
//   "reveal"     -> {ok} after scrolling the message whose id is `text` into view
// `expectedURL` is the conversation the page must be showing for an action to run. Every
// action function takes what it works on as parameters; nothing reads the arguments above
// except the dispatch at the end.
//
// Outcomes. A false "ok" comes with a "reason" sentence that Quorvane shows unchanged, and
// means the page refused: nothing reached the conversation. An outcome that cannot be known
// comes back without "ok" on purpose ({outcome: "unknown"}); Quorvane then checks delivery
// instead of sending again. In particular:
//   - "prepare" places the whole text in one step (a paste the page handles, else one
//     insertText), never as typed Enter keys, and never answers ok (nor refuses) when a new
//     user turn appeared while it worked: a page that sends on a line break may have sent part.
//   - "send" succeeds when a new user turn that matches the text appears; it is refused when a
//     new alert stays shown while the composer still holds the text; anything else is unknown.
//
// Finding the page. Elements are found by roles, ARIA attributes, test ids, data attributes
// and structure, never by class names, which such pages generate per build. Labels are read
// case-insensitively in English; where a page speaks another language the structural rules
// below still hold:
//   - messages are elements with both data-message-id and data-message-author-role; one nested
//     inside another is part of it, not a second message. A message's text is everything it
//     shows (every content block, not the first), less its attachments and controls; its HTML
//     is the markup of its content, wrappers with a single child unwrapped.
//   - busy: a stop control (test id or English label), a message marked aria-busy, a send
//     control that is disabled while the composer holds text, or - once a send control has been
//     seen - another control in its place (most pages swap send for stop while they answer).
//   - a page with turns (articles, a log or feed with entries, message attributes) from which
//     no message can be read, or with a message element that cannot be read, is not ready; its
//     reason says so. Snapshots never claim "ready, no messages" for a conversation they cannot
//     read.
//   - a history that keeps only its newest turns in the document (virtualised) is read as one:
//     turns seen before that left the top of the document stay in the snapshot, in order, until
//     the page moves to another conversation or is reloaded.
//
// Bounds (lengths in UTF-16 code units, as JavaScript counts them). Every string is made
// well-formed (a lone surrogate becomes U+FFFD) before it is measured or returned.
//   - messages: the newest 5,000; older ones are left out.
//   - message id: at most 256; a message with a longer (or empty) id cannot be read, so the
//     page is not ready (see "Finding the page"). Role: at most 32.
//   - message text: at most 262,144, cut at a character boundary (Quorvane's longest request,
//     20,000 characters, fits even in scripts of several code units per character).
//   - message HTML: at most 524,288; longer markup is left out (cut markup would be broken).
//   - attachments: at most 32 per message; id at most 256, title at most 1,024; an address is
//     kept only when it is http(s) and at most 2,048 long (no javascript:, file:, blob: or data:).
//   - alert text used as a reason: at most 500, cut with "…".
//   - profile name: its first line, at most 256. Avatar address: as attachment addresses.
//   - composer text (draft): at most 262,144. Page address: at most 8,192.
//   - a whole snapshot: at most 16,777,216 of JSON (2,000 messages of 2 KB of HTML take about
//     8,000,000); the oldest messages are left out until it fits. Quorvane refuses a snapshot
//     over 64 MiB of UTF-8 before parsing it, which this bound keeps clear of: a code unit is
//     at most three bytes.
//
// Snapshots. Reading the whole conversation on every call would cost the page and Quorvane's
// main thread more than a turn every half second allows, so the adapter remembers what it
// answered last (per document) and sends what changed since then:
//   {"base": "<snapshot the changes apply to, or empty for a whole one>",
//    "generation": "<name of this snapshot>",
//    "page": {url, ready, busy, reason, draft, avatarURL?, profileName?, requiresSignIn?,
//             blockedByDialog?},
//    "order": [message keys in page order]        (left out when unchanged),
//    "changed": [{"key", id, role, text, html?, attachments?}]  (messages new or changed)}
// A message's key is its id, or id + U+0000 + n for the n-th repeat of an id on the page.
// The answer is relative to `since` only when `since` names the last snapshot answered;
// otherwise (a first call, a lost answer, a reload) it is whole. Messages are read again only
// when a mutation inside them was observed; the page fields only when the document changed, a
// field's value moved or 5 s passed (for what changes without a mutation, such as styles). An
// unchanged page therefore costs almost nothing to watch. A first read of a long conversation
// yields to the page every 30 ms, so the page (and Quorvane's check that it still answers)
// keeps running meanwhile.
//
// Every run also makes sure that one MutationObserver per page posts "dotChanged" (coalesced,
// at most one per 250 ms) whenever the document changes: text, elements, a field's input, and
// attributes but inline styles and the presentation attributes inside messages (see
// watchPage). Quorvane relies on it to know when an unchanged page need not be read again.
// Each message says whether it comes from the top frame; Quorvane ignores the others.

'use strict';

const LIMITS = Object.freeze({
  messages: 5000,
  id: 256,
  role: 32,
  text: 262144,
  html: 524288,
  attachments: 32,
  attachmentTitle: 1024,
  address: 2048,
  alert: 500,
  profileName: 256,
  draft: 262144,
  url: 8192,
  snapshot: 16777216,
});

// What the page fields may take of a snapshot, at most: the draft and the address (escaped, at
// worst twice their length), the profile and the rest.
const PAGE_FIELDS_ROOM = 2 * (LIMITS.draft + LIMITS.url) + 2 * LIMITS.address + 4 * LIMITS.profileName + 4096;

const CHANGE_DELAY_MS = 250;
const PAGE_REFRESH_MS = 5000; // an unchanged page is read again at least this often
const READ_SLICE_MS = 30; // reading messages yields to the page this often
const SEND_SETTLE_MS = 10000; // how long a send may take to show its turn
const ALERT_SETTLE_MS = 1000; // a new alert must stay this long to count
const CONTROL_WAIT_MS = 2000; // for the send control to become enabled
const PLACE_WAIT_MS = 600; // for a page that handles a paste on its own time
const PLACED_WATCH_MS = 300; // after the text went in: did the page send it on its own?
const TURN_WATCH_MS = 1000; // after a failed placement: did the page send something?

const UNKNOWN = Object.freeze({ outcome: 'unknown' });
const OK = Object.freeze({ ok: true });
const refuse = (reason) => ({ ok: false, reason });

const UNFINISHED = 'You have an unfinished message in your Dot window. Finish it there, then we’ll continue here.';
const UNREADABLE = 'Quorvane can’t read the messages on this Dot page.';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ---- strings ----------------------------------------------------------------------------

const LONE_SURROGATE = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g;
const clean = typeof ''.toWellFormed === 'function'
  ? (value) => String(value).toWellFormed()
  : (value) => String(value).replace(LONE_SURROGATE, '\uFFFD');

// The first `limit` code units, never ending inside a surrogate pair.
function bounded(value, limit) {
  if (value.length <= limit) return value;
  const end = value.charCodeAt(limit - 1) >= 0xd800 && value.charCodeAt(limit - 1) <= 0xdbff ? limit - 1 : limit;
  return value.slice(0, end);
}

function boundedWithEllipsis(value, limit) {
  return value.length <= limit ? value : `${bounded(value, limit - 1)}…`;
}

// http(s) addresses of a sane length; nothing else is ever handed on.
function safeAddress(value) {
  if (typeof value !== 'string' || value === '') return null;
  let url;
  try {
    url = new URL(value, location.href);
  } catch (error) {
    return null;
  }
  if (url.protocol !== 'https:' && url.protocol !== 'http:') return null;
  const href = clean(url.href);
  return href.length <= LIMITS.address ? href : null;
}

// ---- finding things ---------------------------------------------------------------------

const all = (selector, root) => Array.from((root || document).querySelectorAll(selector));
// The first shown element for the earliest of `selectors` that finds one. One walk of the
// document for all of them: a long conversation makes every walk count.
const first = (selectors, root) => {
  const found = all(selectors.join(', '), root);
  if (found.length === 0) return null;
  for (const selector of selectors) {
    const match = found.find((element) => element.matches(selector) && isShown(element));
    if (match) return match;
  }
  return null;
};

function isShown(element) {
  if (!element || !element.isConnected) return false;
  if (element.closest('[hidden], template')) return false;
  const style = getComputedStyle(element);
  return style.display !== 'none' && style.visibility !== 'hidden';
}

const isDisabled = (control) => control.disabled || control.getAttribute('aria-disabled') === 'true';
const labelOf = (control) => (control.getAttribute('aria-label') || control.textContent || '').trim();

const COMPOSER_SELECTORS = [
  '[data-testid="composer-input"]',
  '[contenteditable="true"][role="textbox"][aria-label*="message" i]',
  'textarea[aria-label*="message" i]',
  'textarea[placeholder*="message" i]',
  'form [contenteditable="true"][role="textbox"]',
  '[contenteditable="true"][role="textbox"]',
  'form [contenteditable="true"]',
  'form textarea',
];
const SEND_SELECTORS = ['[data-testid="send-button"]', 'button[aria-label*="send" i]', 'button[type="submit"]'];
const STOP_SELECTORS = [
  '[data-testid="stop-button"]',
  'button[aria-label*="stop generating" i]',
  'button[aria-label*="stop" i][aria-label*="respon" i]',
];

const findComposer = () => first(COMPOSER_SELECTORS);

function composerScope(composer) {
  return (composer && (composer.closest('form') || composer.closest('[data-type*="composer" i]'))) || document;
}

function findSendControl(composer) {
  return first(SEND_SELECTORS, composerScope(composer)) || first(SEND_SELECTORS.slice(0, 2));
}

// The buttons that sit with the composer, in page order.
function controlsNear(composer) {
  const scope = composerScope(composer);
  return scope === document ? [] : all('button', scope).filter(isShown);
}

function findDialog() {
  return first(['[role="alertdialog"]', '[role="dialog"][aria-modal="true"]', 'dialog[open]']);
}

function findSignIn(composer) {
  // A password field or a sign-in control anywhere, also beside a composer (some pages let a
  // visitor type before they sign in; nothing sent there would be kept).
  if (first(['input[type="password"]', '[data-testid="login-button"]', '[data-testid*="sign-in" i]', '[data-testid*="signin" i]'])) return true;
  const path = location.pathname.toLowerCase();
  if (/\/(auth|login|log-in|signin|sign-in)(\/|$)/.test(path)) return true;
  // A bare wall with a "Sign in" / "Log in" button and no composer.
  if (composer) return false;
  return all('button, a[href]').some((el) => isShown(el) && /^\s*(sign|log)\s*in\s*$/i.test(el.textContent || ''));
}

function findProfile() {
  const button = first([
    '[data-testid="profile-button"]',
    'button[aria-label*="profile" i]',
    '[data-testid*="profile" i]',
    'button[aria-label*="account" i]',
    // Structure: the menu button with a picture in the page's navigation.
    'nav button[aria-haspopup]:has(img)',
  ]);
  if (!button) return {};
  const result = {};
  const image = button.querySelector('img[src]');
  const avatar = image && safeAddress(image.getAttribute('src'));
  if (avatar) result.avatarURL = avatar;
  const name = bounded(clean(textOf(button, false).split('\n')[0].trim()), LIMITS.profileName);
  if (name) result.profileName = name;
  return result;
}

// ---- reading text -----------------------------------------------------------------------

const SKIPPED = new Set(['BUTTON', 'SCRIPT', 'STYLE', 'TEMPLATE', 'NOSCRIPT', 'SVG', 'svg', 'INPUT', 'SELECT', 'TEXTAREA']);
const PARAGRAPHS = new Set(['P', 'PRE', 'BLOCKQUOTE', 'UL', 'OL', 'TABLE', 'H1', 'H2', 'H3', 'H4', 'H5', 'H6', 'HR', 'FIGURE']);
const BLOCK_TAGS = new Set(['DIV', 'LI', 'DT', 'DD', 'TR', 'SECTION', 'ARTICLE', 'HEADER', 'FOOTER', 'MAIN', 'NAV', 'ASIDE', 'FIGCAPTION', 'ADDRESS', 'DETAILS', 'SUMMARY', 'FORM', 'FIELDSET']);

function isBlock(element, style) {
  if (PARAGRAPHS.has(element.nodeName) || BLOCK_TAGS.has(element.nodeName)) return true;
  const display = (style || getComputedStyle(element)).display;
  return display === 'block' || display === 'list-item' || display === 'flex' || display === 'grid' || display === 'table';
}

// A <br> that is the last thing in its block only keeps an empty block open (editors put one
// there so the caret has a line); it is not a line of its own.
function isPlaceholderBreak(br, root) {
  let node = br;
  while (node && node !== root) {
    let next = node.nextSibling;
    while (next && next.nodeType === Node.TEXT_NODE && next.data === '') next = next.nextSibling;
    if (next) return false;
    node = node.parentNode;
    if (node && node.nodeType === Node.ELEMENT_NODE && isBlock(node)) return true;
  }
  return true;
}

// The text a reader sees: one line per block and per <br>, white space as the CSS keeps it, a
// blank line between paragraphs when `paragraphGaps` (messages; not the composer, whose
// editors often make every line a paragraph).
function textOf(root, paragraphGaps, skipSelector) {
  const lines = [];
  let current = '';
  let open = false;
  let gap = false;
  const endLine = () => {
    if (open) {
      lines.push(current.replace(/ +$/, (spaces) => (current.trim() === '' ? spaces : '')));
      current = '';
      open = false;
    }
  };
  const startContent = () => {
    if (gap && lines.length > 0 && !open) lines.push('');
    gap = false;
  };
  const walk = (node, whiteSpace) => {
    for (let child = node.firstChild; child; child = child.nextSibling) {
      if (child.nodeType === Node.TEXT_NODE) {
        let data = child.data.replace(/\u00a0/g, ' ');
        if (data === '') continue;
        if (whiteSpace === 'normal' || whiteSpace === 'nowrap') {
          data = data.replace(/[ \t\n\r\f]+/g, ' ');
          if (!open || /\s$/.test(current)) data = data.replace(/^ /, '');
          if (data === '') continue;
        } else if (whiteSpace === 'pre-line') {
          data = data.replace(/[ \t\f]+/g, ' ');
        }
        startContent();
        const pieces = data.split(/\r\n|\n|\r/);
        pieces.forEach((piece, index) => {
          if (index > 0) {
            lines.push(current);
            current = '';
          }
          current += piece;
        });
        open = true;
      } else if (child.nodeType === Node.ELEMENT_NODE) {
        if (SKIPPED.has(child.nodeName) || child.getAttribute('aria-hidden') === 'true' || child.hidden) continue;
        if (skipSelector && child.matches(skipSelector)) continue;
        if (child.nodeName === 'BR') {
          startContent();
          if (isPlaceholderBreak(child, root)) open = true;
          else {
            lines.push(current);
            current = '';
            open = true;
          }
          continue;
        }
        if (child.nodeName === 'IMG') continue;
        const style = getComputedStyle(child);
        if (style.display === 'none') continue;
        const block = isBlock(child, style);
        if (block) endLine();
        if (block && paragraphGaps && PARAGRAPHS.has(child.nodeName) && lines.length > 0) gap = true;
        walk(child, style.whiteSpace || whiteSpace);
        if (block) {
          endLine();
          if (paragraphGaps && PARAGRAPHS.has(child.nodeName)) gap = true;
        }
      }
    }
  };
  walk(root, getComputedStyle(root).whiteSpace || 'normal');
  endLine();
  return lines.join('\n').replace(/^\n+|\n+$/g, '');
}

function composerText(composer) {
  if (!composer) return '';
  if ('value' in composer && typeof composer.value === 'string') return composer.value;
  return textOf(composer, false);
}

// Composer text and payloads compared the way the page would send them.
const comparable = (value) => String(value).replace(/\r\n?/g, '\n').replace(/\u00a0/g, ' ').replace(/[ \t]+$/gm, '').trim();
// A turn compared with the text it came from, whatever white space the page made of it.
const loose = (value) => String(value).replace(/\s+/g, ' ').trim();

// ---- messages ---------------------------------------------------------------------------

const MESSAGE = '[data-message-id][data-message-author-role]';
const ATTACHMENT = '[data-attachment-id]';
// Not part of a message's content: its attachments (reported apart) and its controls.
const NOT_CONTENT = `${ATTACHMENT}, button, [role="button"], [aria-hidden="true"], script, style, template, noscript, [hidden]`;

// Message elements in page order; one inside another belongs to the outer one.
function messageElements() {
  return all(MESSAGE).filter((element) => !element.parentElement || !element.parentElement.closest(MESSAGE));
}

function outermostMessage(node) {
  let found = null;
  for (let element = node && node.closest ? node.closest(MESSAGE) : null; element; element = element.parentElement && element.parentElement.closest(MESSAGE)) {
    found = element;
  }
  return found;
}

function attachmentsOf(element) {
  return all(ATTACHMENT, element).slice(0, LIMITS.attachments).map((node) => {
    const image = node.matches('img') ? node : node.querySelector('img');
    const link = node.matches('a[href]') ? node : node.querySelector('a[href]');
    const title = (image && image.getAttribute('alt')) || (link && link.getAttribute('download')) || textOf(node, false).trim() || '';
    const attachment = {
      id: bounded(clean(node.getAttribute('data-attachment-id')), LIMITS.id),
      kind: image ? 'image' : 'file',
      title: bounded(clean(title), LIMITS.attachmentTitle),
    };
    const url = safeAddress(image ? image.getAttribute('src') : link ? link.getAttribute('href') : null);
    if (url) attachment.url = url;
    return attachment;
  });
}

// Whether `element` shows anything of the message's own (text or media, not attachments).
function hasContent(element) {
  if (element.matches(NOT_CONTENT)) return false;
  if (element.matches('img, video, audio, picture, canvas, iframe')) return true;
  const walker = document.createTreeWalker(element, NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_TEXT, {
    acceptNode: (node) => (node.nodeType === Node.ELEMENT_NODE && node.matches(NOT_CONTENT) ? NodeFilter.FILTER_REJECT : NodeFilter.FILTER_ACCEPT),
  });
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    if (node.nodeType === Node.TEXT_NODE ? node.data.trim() !== '' : node.matches('img, video, audio, picture, canvas, iframe')) return true;
  }
  return false;
}

// Plain containers, which say nothing of the content they wrap.
const WRAPPERS = new Set(['DIV', 'SECTION', 'ARTICLE', 'MAIN', 'ASIDE', 'HEADER', 'FOOTER']);

// The markup of a message's content: containers that hold its only content are unwrapped, and
// attachments and controls are left out.
function contentHTML(element) {
  let root = element;
  for (;;) {
    const ownText = Array.from(root.childNodes).some((node) => node.nodeType === Node.TEXT_NODE && node.data.trim() !== '');
    const parts = Array.from(root.children).filter(hasContent);
    if (ownText || parts.length !== 1 || !WRAPPERS.has(parts[0].nodeName)) break;
    root = parts[0];
  }
  if (!root.querySelector(NOT_CONTENT)) return root.innerHTML.trim();
  const copy = root.cloneNode(true);
  all(NOT_CONTENT, copy).forEach((node) => node.remove());
  return copy.innerHTML.trim();
}

// One message element read into its JSON form, or null when it cannot be a message.
function readMessage(element) {
  const id = clean(element.getAttribute('data-message-id'));
  if (id === '' || id.length > LIMITS.id) return null;
  const message = {
    id,
    role: bounded(clean(element.getAttribute('data-message-author-role')), LIMITS.role),
    text: bounded(clean(textOf(element, true, ATTACHMENT)), LIMITS.text),
  };
  const html = clean(contentHTML(element));
  if (html !== '' && html.length <= LIMITS.html) message.html = html;
  const attachments = attachmentsOf(element);
  if (attachments.length) message.attachments = attachments;
  return { id, json: JSON.stringify(message) };
}

// Signs that the page shows a conversation, whether or not its messages can be read.
const TURN_SIGNS = 'article, [role="log"] > *, [role="feed"] > *, [data-message-id], [data-message-author-role]';

function hasUnreadTurns(readElements) {
  const read = new Set(readElements);
  return all(TURN_SIGNS).some((sign) => {
    if (!isShown(sign) || sign.closest('form, nav, [role="dialog"], [role="alertdialog"]')) return false;
    if (outermostMessage(sign) && read.has(outermostMessage(sign))) return false;
    if (sign.querySelector(MESSAGE)) return false; // a turn around messages we read
    return sign.textContent.trim() !== '';
  });
}

// ---- page memory ------------------------------------------------------------------------

// What the adapter keeps between calls, in its own world, for the life of the document.
function memory() {
  if (window.__quorvane) return window.__quorvane;
  const m = {
    key: Math.random().toString(36).slice(2) + Date.now().toString(36), // this document's memory
    generation: 0, // of the last snapshot answered
    answered: new Map(), // message key -> JSON, as last answered
    answeredOrder: [],
    answeredVersion: -1,
    readings: new WeakMap(), // message element -> {id, json}, until a mutation inside it
    dirty: true, // something changed since the conversation was last read
    structureChanged: true, // ... outside the messages: their list must be found again
    elements: null, // the message elements as last found
    pageChanged: true, // ... outside the messages' content: the page fields must be read again
    fields: null, // {state, profile, draft, url, at}: the page fields as last read
    history: [], // [{key, id, json}] as last read, including turns virtualised away
    historyVersion: 0,
    unreadable: false,
    conversation: null, // the address the history belongs to
    sendPlace: null, // {label, fromEnd}: where the send control sat and what it said
    actions: null, // the actions of the first call, run by every call (see the dispatch)
  };
  window.__quorvane = m;
  watchPage(m);
  return m;
}

// Forgets the readings of the messages around `node`; true when there were any.
function invalidate(m, node) {
  m.dirty = true;
  let inside = false;
  for (let element = node && node.closest ? node.closest(MESSAGE) : null; element; element = element.parentElement && element.parentElement.closest(MESSAGE)) {
    m.readings.delete(element);
    inside = true;
  }
  return inside;
}

// What the mutations change: the messages they happened in; the list of messages, unless they
// all happened inside messages; and the page fields, unless they were all changes of content
// inside messages (the common case while an answer streams in).
function noteMutations(m, records) {
  for (const record of records) {
    const inside = invalidate(m, record.target.nodeType === Node.ELEMENT_NODE ? record.target : record.target.parentElement);
    const attribute = record.type === 'attributes' ? record.attributeName : null;
    if (!inside || attribute === 'data-message-id' || attribute === 'data-message-author-role') {
      m.structureChanged = true;
      m.pageChanged = true;
    } else if (attribute !== null && SIGNAL_ATTRIBUTES.has(attribute)) {
      m.pageChanged = true; // aria-busy on a message, for one
    }
  }
}

// Turns seen before that left the top of the document stay ahead of those still in it.
function mergedHistory(previous, visible) {
  if (visible.length === 0 || previous.length === 0) return visible;
  const start = previous.findIndex((entry) => entry.key === visible[0].key);
  return start > 0 ? previous.slice(0, start).concat(visible) : visible;
}

// The conversation as far as the page has shown it, newest last, within the bounds.
// One read at a time: a call that arrives while another reads shares its result.
function readConversation(m) {
  if (!m.reading) m.reading = readConversationNow(m).finally(() => { m.reading = null; });
  return m.reading;
}

async function readConversationNow(m) {
  noteMutations(m, m.observer.takeRecords());
  const where = conversationKey(location.href);
  if (m.conversation !== where) {
    m.conversation = where;
    m.history = [];
    m.dirty = true;
    m.structureChanged = true;
  }
  if (!m.dirty) return m.history;
  // What changes while this read runs makes the next one read again.
  m.dirty = false;
  const elements = m.structureChanged || !m.elements ? messageElements() : m.elements;
  m.structureChanged = false;
  m.elements = elements;
  const visible = [];
  const repeats = new Map();
  const read = [];
  let slice = performance.now();
  for (const element of elements) {
    let reading = m.readings.get(element);
    if (reading === undefined) {
      // A long conversation read from scratch takes a while; the page (and Quorvane's check
      // that the page still answers) get their turns in between.
      if (performance.now() - slice > READ_SLICE_MS) {
        await sleep(0);
        slice = performance.now();
      }
      reading = readMessage(element);
      m.readings.set(element, reading);
    }
    if (!reading) continue;
    read.push(element);
    const n = repeats.get(reading.id) || 0;
    repeats.set(reading.id, n + 1);
    visible.push({ key: n ? `${reading.id}\u0000${n}` : reading.id, id: reading.id, json: reading.json });
  }
  m.unreadable = read.length < elements.length || (read.length === 0 && hasUnreadTurns(read));
  let history = mergedHistory(m.history, visible);
  // The newest messages, as many as the bounds allow.
  let start = Math.max(0, history.length - LIMITS.messages);
  let size = PAGE_FIELDS_ROOM;
  for (let i = history.length - 1; i >= start; i -= 1) {
    size += history[i].json.length + 2 * history[i].key.length + 16; // in "changed" and in "order"
    if (size > LIMITS.snapshot) {
      start = i + 1;
      break;
    }
  }
  if (start > 0) history = history.slice(start);
  if (history.length !== m.history.length || history.some((entry, i) => entry.key !== m.history[i].key || entry.json !== m.history[i].json)) {
    m.history = history;
    m.historyVersion += 1;
  }
  return m.history;
}

// ---- page state -------------------------------------------------------------------------

function isBusy(m, composer, send) {
  if (first(STOP_SELECTORS)) return true;
  if (all('[data-message-author-role][aria-busy="true"]').length > 0) return true;
  if (!composer) return false;
  if (send) {
    // A page that holds its send control disabled while text waits is still answering.
    return isDisabled(send) && comparable(composerText(composer)) !== '';
  }
  // The send control is gone; if another control took its place, that one stops the answer.
  const place = m.sendPlace;
  if (!place) return false;
  const controls = controlsNear(composer);
  const other = controls[controls.length - 1 - place.fromEnd];
  return Boolean(other) && labelOf(other) !== place.label;
}

function pageState(m) {
  const composer = findComposer();
  const requiresSignIn = findSignIn(composer);
  const dialog = findDialog();
  const blockedByDialog = Boolean(dialog) || Boolean(composer && composer.closest('[inert]'));
  const send = composer ? findSendControl(composer) : null;
  if (composer && send && !blockedByDialog) {
    const controls = controlsNear(composer);
    const index = controls.indexOf(send);
    if (index >= 0) m.sendPlace = { label: labelOf(send), fromEnd: controls.length - 1 - index };
  }
  const busy = isBusy(m, composer, send);
  const editable = Boolean(composer) && !composer.closest('[inert]') &&
    (composer.isContentEditable || (!composer.disabled && !composer.readOnly));
  return { composer, requiresSignIn, blockedByDialog, busy, editable };
}

// The page fields and the conversation now. The fields are read again when anything but a
// message's content changed, the address moved, a field's value moved or PAGE_REFRESH_MS
// passed (for what changes without a mutation, such as styles); otherwise the last reading
// stands, which keeps an idle page, and one whose answer streams in, cheap to watch.
async function readPage(m) {
  noteMutations(m, m.observer.takeRecords());
  const url = bounded(clean(location.href), LIMITS.url);
  let fields = m.fields;
  if (!fields || m.pageChanged || fields.url !== url || Date.now() - fields.at >= PAGE_REFRESH_MS || fieldValueMoved(fields)) {
    m.pageChanged = false;
    fields = m.fields = { state: pageState(m), profile: findProfile(), url, at: Date.now() };
    fields.draft = bounded(clean(composerText(fields.state.composer)), LIMITS.draft);
  }
  const state = fields.state;
  const history = state.requiresSignIn ? [] : await readConversation(m);
  const unreadable = !state.requiresSignIn && m.unreadable;
  let reason = '';
  if (state.requiresSignIn) reason = 'Sign in to Dot to continue.';
  else if (state.blockedByDialog) reason = 'A step on the Dot page needs your attention.';
  else if (!state.composer) reason = 'The Dot page isn’t ready yet.';
  else if (unreadable) reason = UNREADABLE;
  else if (!state.editable) reason = 'The Dot composer can’t be used right now.';
  const page = {
    url,
    ready: Boolean(state.composer) && state.editable && !state.requiresSignIn && !state.blockedByDialog && !state.busy && !unreadable,
    busy: state.busy,
    reason,
    draft: fields.draft,
  };
  Object.assign(page, fields.profile);
  if (state.requiresSignIn) page.requiresSignIn = true;
  if (state.blockedByDialog) page.blockedByDialog = true;
  return { page, history };
}

// A text field's value set by the page's own script changes neither the document nor fires an
// input event; reading it is cheap, so it is checked on every call.
function fieldValueMoved(fields) {
  const field = fields.state.composer;
  if (!field || !('value' in field) || typeof field.value !== 'string') return false;
  return !field.isConnected || bounded(clean(field.value), LIMITS.draft) !== fields.draft;
}

async function snapshot(m, since) {
  const { page, history } = await readPage(m);
  const relative = since !== '' && since === `${m.key}:${m.generation}`;
  const order = relative && m.answeredVersion === m.historyVersion ? null : history.map((entry) => entry.key);
  const changed = [];
  if (order) {
    for (const entry of history) {
      if (!relative || m.answered.get(entry.key) !== entry.json) {
        changed.push(`{"key":${JSON.stringify(entry.key)},${entry.json.slice(1)}`);
      }
    }
    m.answered = new Map(history.map((entry) => [entry.key, entry.json]));
  }
  const sameOrder = relative && (order === null || sameKeys(order, m.answeredOrder));
  if (order) m.answeredOrder = order;
  m.answeredVersion = m.historyVersion;
  m.generation += 1;
  return `{"base":${JSON.stringify(relative ? since : '')},"generation":${JSON.stringify(`${m.key}:${m.generation}`)},` +
    `"page":${JSON.stringify(page)},${sameOrder ? '' : `"order":${JSON.stringify(order)},`}"changed":[${changed.join(',')}]}`;
}

function sameKeys(a, b) {
  if (a.length !== b.length) return false;
  for (let i = 0; i < a.length; i += 1) if (a[i] !== b[i]) return false;
  return true;
}

// ---- change signal ----------------------------------------------------------------------

const SIGNAL_ATTRIBUTES = new Set(['aria-busy', 'disabled', 'inert', 'aria-hidden', 'hidden', 'data-state', 'data-message-id', 'data-message-author-role', 'contenteditable', 'aria-label']);

function isSignalled(record) {
  if (record.type !== 'attributes' || SIGNAL_ATTRIBUTES.has(record.attributeName)) return true;
  return record.attributeName !== 'style' && !outermostMessage(record.target);
}

function watchPage(m) {
  let timer = null;
  const post = () => {
    timer = null;
    try {
      window.webkit.messageHandlers.dotChanged.postMessage({ mainFrame: window === window.top });
    } catch (error) {
      // The handler is gone (Quorvane shut the browser down); nothing to tell.
    }
  };
  // Coalesced: a streaming answer changes the page many times a second; one message per
  // quiet moment (or per CHANGE_DELAY_MS while it streams) is enough.
  const changed = () => {
    if (timer === null) timer = setTimeout(post, CHANGE_DELAY_MS);
  };
  // Every mutation can change what a message reads as. All but a few are worth a signal:
  // Quorvane does not ask an unchanged page again for a while, so a change must say so. Left
  // out are a message's own presentation attributes (classes and styles that pages animate
  // while an answer streams, whose text changes signal anyway) and inline styles elsewhere;
  // what they change is read again within a couple of seconds.
  m.observer = new MutationObserver((records) => {
    noteMutations(m, records);
    if (records.some(isSignalled)) changed();
  });
  m.observer.observe(document, { subtree: true, childList: true, characterData: true, attributes: true });
  document.addEventListener('input', () => {
    m.pageChanged = true; // a text field's value changes without a mutation
    changed();
  }, true);
  window.addEventListener('popstate', changed);
}

// ---- actions ----------------------------------------------------------------------------

function conversationKey(address) {
  try {
    const url = new URL(address, location.href);
    return (url.host + url.pathname.replace(/\/+$/, '')).toLowerCase();
  } catch (error) {
    return String(address).toLowerCase();
  }
}

// Why the page cannot take an action right now, or null when it can.
function refusal(state, expected, allowBusy) {
  if (expected && conversationKey(expected) !== conversationKey(location.href)) {
    return 'Dot is showing a different conversation. We’ll go back to yours and try again.';
  }
  if (state.requiresSignIn) return 'Sign in to Dot to send your message.';
  if (state.blockedByDialog) return 'Finish the open step in your Dot window to continue.';
  if (!state.composer) return 'Dot is still loading.';
  if (!allowBusy && state.busy) return 'Dot is still answering. We’ll send your message when it’s done.';
  return null;
}

function selectContents(composer) {
  composer.focus();
  if ('value' in composer && typeof composer.value === 'string') {
    composer.select();
    return;
  }
  const range = document.createRange();
  range.selectNodeContents(composer);
  const selection = window.getSelection();
  selection.removeAllRanges();
  selection.addRange(range);
}

function removeContents(composer) {
  if (composerText(composer) === '') return;
  selectContents(composer);
  document.execCommand('delete', false);
}

// Places `value` in one step through the page's own input path, so its model sees it: a paste
// for editors that take pastes themselves, else one insertText (line breaks inside the text,
// never typed as Enter). True when the composer then holds exactly `value`.
async function placeText(composer, value) {
  const wanted = comparable(value);
  const holds = () => comparable(composerText(composer)) === wanted;
  selectContents(composer);
  let handled = false;
  if (!('value' in composer && typeof composer.value === 'string')) {
    const data = new DataTransfer();
    data.setData('text/plain', value);
    const paste = new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true });
    handled = !composer.dispatchEvent(paste);
  }
  if (handled) {
    for (const deadline = Date.now() + PLACE_WAIT_MS; !holds() && Date.now() < deadline;) await sleep(30);
  } else {
    selectContents(composer);
    document.execCommand('insertText', false, value);
    await sleep(0); // let the page's own input handlers run
    if (!holds() && 'value' in composer && typeof composer.value === 'string') {
      // A text field whose page rejected the edit command: set it as the page's own code would.
      const setter = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(composer), 'value').set;
      setter.call(composer, value);
      composer.dispatchEvent(new InputEvent('input', { bubbles: true, inputType: 'insertReplacementText', data: value }));
      await sleep(0);
    }
  }
  return holds();
}

function userTurnIDs() {
  return new Set(messageElements().filter((element) => element.getAttribute('data-message-author-role') === 'user')
    .map((element) => element.getAttribute('data-message-id')));
}

// A user turn that was not there before; with `value`, one that reads as `value`.
function newTurn(before, value) {
  return messageElements().some((element) => {
    if (element.getAttribute('data-message-author-role') !== 'user' || before.has(element.getAttribute('data-message-id'))) return false;
    return value === undefined || loose(textOf(element, false, ATTACHMENT)) === loose(value);
  });
}

// Whether the page sent something within `ms`: a new user turn, or - when the text had gone
// in - the composer letting go of it. (Busy alone says nothing: the page may have been
// answering all along.)
async function pageSent(composer, before, placedText, ms) {
  for (const deadline = Date.now() + ms; ;) {
    if (newTurn(before)) return true;
    if (placedText !== null && comparable(composerText(composer)) !== placedText) return true;
    if (Date.now() >= deadline) return false;
    await sleep(50);
  }
}

async function prepare(m, value, expected) {
  const state = pageState(m);
  const refused = refusal(state, expected, false);
  if (refused) return refuse(refused);
  const current = comparable(composerText(state.composer));
  if (current === comparable(value)) return OK;
  if (current !== '') return refuse(UNFINISHED);
  const before = userTurnIDs();
  const placed = await placeText(state.composer, value);
  if (await pageSent(state.composer, before, placed ? comparable(value) : null, placed ? PLACED_WATCH_MS : TURN_WATCH_MS)) {
    // The page sent while the text went in; what went out is for Quorvane to find out.
    const composer = findComposer();
    if (composer && comparable(value).includes(comparable(composerText(composer)))) removeContents(composer);
    return UNKNOWN;
  }
  if (!placed) {
    removeContents(state.composer);
    return refuse('Your message couldn’t be placed in Dot. We’ll try again.');
  }
  return OK;
}

function alertsShown() {
  return all('[role="alert"]').filter(isShown);
}

async function waitForEnabled(composer) {
  const deadline = Date.now() + CONTROL_WAIT_MS;
  for (;;) {
    const control = findSendControl(composer);
    if (control && !isDisabled(control)) return control;
    if (Date.now() > deadline) return null;
    await sleep(50);
  }
}

async function send(m, value, expected) {
  const state = pageState(m);
  const refused = refusal(state, expected, false);
  if (refused) return refuse(refused);
  const wanted = comparable(value);
  const current = comparable(composerText(state.composer));
  if (current === '') return refuse('Your message wasn’t in the Dot composer any more. We’ll place it again.');
  if (current !== wanted) return refuse(UNFINISHED);
  const control = await waitForEnabled(state.composer);
  if (!control) return refuse('Dot isn’t taking messages right now. We’ll try again.');
  const alertsBefore = new Set(alertsShown());
  const before = userTurnIDs();
  control.click();
  let alert = null; // {text, since, holds}: a new alert, and whether the composer kept the text
  for (const deadline = Date.now() + SEND_SETTLE_MS; Date.now() < deadline;) {
    await sleep(100);
    if (newTurn(before, value)) return OK;
    const composer = findComposer();
    if (!composer || findSignIn(composer)) return UNKNOWN;
    const fresh = alertsShown().find((node) => !alertsBefore.has(node) && textOf(node, false).trim() !== '');
    if (!fresh) {
      alert = null;
      continue;
    }
    const holds = comparable(composerText(composer)) === wanted;
    if (!alert || alert.holds !== holds) alert = { text: textOf(fresh, false).trim(), since: Date.now(), holds };
    if (Date.now() - alert.since >= ALERT_SETTLE_MS) {
      // The page said no and kept the text: refused. It said something and let the text go:
      // nobody can tell from here whether it went out.
      return alert.holds ? refuse(boundedWithEllipsis(clean(alert.text), LIMITS.alert)) : UNKNOWN;
    }
  }
  return UNKNOWN;
}

async function clearDraft(m, value, expected) {
  const state = pageState(m);
  if (expected && conversationKey(expected) !== conversationKey(location.href)) {
    return refuse('Dot is showing a different conversation. We’ll go back to yours and try again.');
  }
  if (!state.composer) return refuse('Dot is still loading.');
  if (state.blockedByDialog) return refuse('Finish the open step in your Dot window to continue.');
  const current = comparable(composerText(state.composer));
  if (current === '') return OK;
  if (current !== comparable(value)) {
    return refuse('Your Dot window holds a different unfinished message, so it was left as it is.');
  }
  removeContents(state.composer);
  await sleep(0);
  if (comparable(composerText(state.composer)) !== '') return refuse('The Dot composer couldn’t be cleared.');
  return OK;
}

function reveal(id) {
  const target = all('[data-message-id]').find((node) => node.getAttribute('data-message-id') === id);
  if (!target) return refuse('That message isn’t on the Dot page any more.');
  target.scrollIntoView({ block: 'center' });
  return OK;
}

// ---- dispatch ---------------------------------------------------------------------------

if (window !== window.top) return refuse('The Dot adapter runs only in the main page.');
if (document.readyState === 'loading') return null;
const m = memory();
// The first call's actions serve every later call in this document. They read nothing but their
// parameters, so any copy would do; but code that runs again and again gets compiled to run
// fast, which a fresh copy per call (twice a second) never would.
const run = m.actions || (m.actions = Object.freeze({ snapshot, prepare, send, clearDraft, reveal }));

switch (action) {
  case 'inspect':
    return await run.snapshot(m, since);
  case 'prepare':
    return await run.prepare(m, text, expectedURL);
  case 'send':
    return await run.send(m, text, expectedURL);
  case 'clearDraft':
    return await run.clearDraft(m, text, expectedURL);
  case 'reveal':
    return run.reveal(text);
  default:
    return refuse('Quorvane asked the Dot page for something it doesn’t know.');
}
