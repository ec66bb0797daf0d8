// Quorvane's page adapter for Dot: the only code that reads or changes the Dot page.
//
// This file is the BODY of an async function. Quorvane runs it in the page's main frame, in the
// isolated script world "local.quorvane.adapter" (page scripts cannot see it), with three string
// arguments: `action`, `text` and `expectedURL`. What it returns is the call's result:
//   "inspect"    -> a snapshot {url, ready, busy, reason, draft, messages, avatarURL?,
//                   profileName?, requiresSignIn?, blockedByDialog?}
//   "prepare"    -> {ok} after placing `text` in the composer without sending it
//   "send"       -> {ok} after submitting the composer, which holds `text`
//   "clearDraft" -> {ok} after removing `text` from the composer
//   "reveal"     -> {ok} after scrolling the message whose id is `text` into view
// A false "ok" comes with a "reason" sentence that Quorvane shows unchanged. An outcome that
// cannot be known (a send whose result never showed) comes back without "ok" on purpose.
//
// The page is found by roles, ARIA labels, test ids and data attributes, never by class names,
// which such pages generate per build. Text goes into the composer through the editor's own
// input path (execCommand, which fires beforeinput/input), so the page's model sees it.
//
// Every run also makes sure that one MutationObserver per page posts "dotChanged" (coalesced)
// whenever the conversation, the composer or the page state changes. Each message says whether
// it comes from the top frame; Quorvane ignores the others.

'use strict';

const CHANGE_DELAY_MS = 250;
const SEND_SETTLE_MS = 10000;
const CONTROL_WAIT_MS = 2000;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ---- finding things ---------------------------------------------------------------------

const all = (selector, root) => Array.from((root || document).querySelectorAll(selector));
const first = (selectors, root) => {
  for (const selector of selectors) {
    const found = all(selector, root).find(isShown);
    if (found) return found;
  }
  return null;
};

function isShown(element) {
  if (!element || !element.isConnected) return false;
  if (element.closest('[hidden], template')) return false;
  const style = getComputedStyle(element);
  return style.display !== 'none' && style.visibility !== 'hidden';
}

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

function findComposer() {
  return first(COMPOSER_SELECTORS);
}

function composerScope(composer) {
  return (composer && (composer.closest('form') || composer.closest('[data-type*="composer" i]'))) || document;
}

function findSendControl(composer) {
  const selectors = [
    '[data-testid="send-button"]',
    'button[aria-label*="send" i]',
    'button[type="submit"]',
  ];
  return first(selectors, composerScope(composer)) || first(selectors.slice(0, 2));
}

function findStopControl() {
  return first(['[data-testid="stop-button"]', 'button[aria-label*="stop generating" i]', 'button[aria-label*="stop" i][aria-label*="respon" i]']);
}

function findDialog() {
  return first(['[role="alertdialog"]', '[role="dialog"][aria-modal="true"]', 'dialog[open]']);
}

function findSignIn() {
  if (all('input[type="password"]').some(isShown)) return true;
  if (first(['[data-testid="login-button"]', '[data-testid*="sign-in" i]', '[data-testid*="signin" i]'])) return true;
  const path = location.pathname.toLowerCase();
  if (/\/(auth|login|log-in|signin|sign-in)(\/|$)/.test(path)) return true;
  // A bare wall with a "Sign in" / "Log in" button and no composer.
  if (findComposer()) return false;
  return all('button, a[href]').some((el) => isShown(el) && /^\s*(sign|log)\s*in\s*$/i.test(el.textContent || ''));
}

function findProfile() {
  const button = first(['[data-testid="profile-button"]', 'button[aria-label*="profile" i]', '[data-testid*="profile" i]', 'button[aria-label*="account" i]']);
  if (!button) return {};
  const result = {};
  const image = button.querySelector('img[src]');
  if (image && /^(https?:|data:image\/)/i.test(image.src)) result.avatarURL = image.src;
  const name = textOf(button, false).trim();
  if (name) result.profileName = name;
  return result;
}

// ---- reading text -----------------------------------------------------------------------

const SKIPPED = new Set(['BUTTON', 'SCRIPT', 'STYLE', 'TEMPLATE', 'NOSCRIPT', 'SVG', 'svg', 'INPUT', 'SELECT', 'TEXTAREA']);
const PARAGRAPHS = new Set(['P', 'PRE', 'BLOCKQUOTE', 'UL', 'OL', 'TABLE', 'H1', 'H2', 'H3', 'H4', 'H5', 'H6', 'HR', 'FIGURE']);
const BLOCK_TAGS = new Set(['DIV', 'LI', 'DT', 'DD', 'TR', 'SECTION', 'ARTICLE', 'HEADER', 'FOOTER', 'MAIN', 'NAV', 'ASIDE', 'FIGCAPTION', 'ADDRESS', 'DETAILS', 'SUMMARY', 'FORM', 'FIELDSET']);

function isBlock(element) {
  if (PARAGRAPHS.has(element.nodeName) || BLOCK_TAGS.has(element.nodeName)) return true;
  const display = getComputedStyle(element).display;
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
        const style = getComputedStyle(child);
        if (style.display === 'none') continue;
        if (child.nodeName === 'IMG') continue;
        const block = isBlock(child);
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

// ---- messages ---------------------------------------------------------------------------

function absoluteURL(value) {
  try {
    return new URL(value, location.href).href;
  } catch (error) {
    return null;
  }
}

function attachmentsOf(element) {
  return all('[data-attachment-id]', element).map((node) => {
    const image = node.matches('img') ? node : node.querySelector('img');
    const link = node.matches('a[href]') ? node : node.querySelector('a[href]');
    const title = (image && image.getAttribute('alt')) || (link && link.getAttribute('download')) || textOf(node, false).trim() || '';
    const attachment = {
      id: node.getAttribute('data-attachment-id'),
      kind: image ? 'image' : link ? 'file' : 'file',
      title,
    };
    const url = image ? image.getAttribute('src') : link ? link.getAttribute('href') : null;
    const resolved = url && absoluteURL(url);
    if (resolved) attachment.url = resolved;
    return attachment;
  });
}

function messageContent(element) {
  return element.querySelector('.markdown, .prose, [class*="markdown" i], [data-message-content]') || element;
}

function readMessages() {
  return all('[data-message-id][data-message-author-role]').map((element) => {
    const content = messageContent(element);
    // Attachments are reported on their own; their captions are not the message's words.
    const message = {
      id: element.getAttribute('data-message-id'),
      role: element.getAttribute('data-message-author-role'),
      text: textOf(content, true, '[data-attachment-id]'),
    };
    let html = content.innerHTML;
    if (content === element) {
      const copy = content.cloneNode(true);
      all('[data-attachment-id]', copy).forEach((node) => node.remove());
      html = copy.innerHTML;
    }
    html = html.trim();
    if (html) message.html = html;
    const attachments = attachmentsOf(element);
    if (attachments.length) message.attachments = attachments;
    return message;
  });
}

// ---- page state -------------------------------------------------------------------------

function pageState() {
  const composer = findComposer();
  const requiresSignIn = findSignIn();
  const dialog = findDialog();
  const blockedByDialog = Boolean(dialog) || Boolean(composer && composer.closest('[inert]'));
  const busy = Boolean(findStopControl()) || all('[data-message-author-role][aria-busy="true"]').length > 0;
  const editable = Boolean(composer) && !composer.closest('[inert]') &&
    (composer.isContentEditable || (!composer.disabled && !composer.readOnly));
  let reason = '';
  if (requiresSignIn) reason = 'Sign in to Dot to continue.';
  else if (blockedByDialog) reason = 'A step on the Dot page needs your attention.';
  else if (!composer) reason = 'The Dot page isn’t ready yet.';
  else if (!editable) reason = 'The Dot composer can’t be used right now.';
  return {
    composer,
    requiresSignIn,
    blockedByDialog,
    busy,
    ready: Boolean(composer) && editable && !requiresSignIn && !blockedByDialog && !busy,
    reason,
  };
}

function snapshot() {
  const state = pageState();
  const result = {
    url: location.href,
    ready: state.ready,
    busy: state.busy,
    reason: state.reason,
    draft: composerText(state.composer),
    messages: state.requiresSignIn ? [] : readMessages(),
  };
  Object.assign(result, findProfile());
  if (state.requiresSignIn) result.requiresSignIn = true;
  if (state.blockedByDialog) result.blockedByDialog = true;
  return result;
}

// ---- change signal ----------------------------------------------------------------------

function watchPage() {
  if (window.__quorvaneDotWatcher) return;
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
  const observer = new MutationObserver(changed);
  observer.observe(document, {
    subtree: true,
    childList: true,
    characterData: true,
    attributes: true,
    attributeFilter: ['aria-busy', 'disabled', 'inert', 'aria-hidden', 'hidden', 'data-state', 'data-message-id', 'contenteditable', 'aria-label'],
  });
  document.addEventListener('input', changed, true);
  window.addEventListener('popstate', changed);
  window.__quorvaneDotWatcher = { observer, changed };
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
function refusal(state, allowBusy) {
  if (expectedURL && conversationKey(expectedURL) !== conversationKey(location.href)) {
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

// Types `value` the way the editor's own input path would: lines as text insertions, line
// breaks as new paragraphs, each one a real beforeinput/input event.
function typeText(composer, value) {
  selectContents(composer);
  if ('value' in composer && typeof composer.value === 'string') {
    if (!document.execCommand('insertText', false, value) || composer.value !== value) {
      const setter = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(composer), 'value').set;
      setter.call(composer, value);
      composer.dispatchEvent(new InputEvent('input', { bubbles: true, inputType: 'insertReplacementText', data: value }));
    }
    return;
  }
  const lines = value.split('\n');
  lines.forEach((line, index) => {
    if (index > 0) document.execCommand('insertParagraph', false);
    if (line !== '') document.execCommand('insertText', false, line);
  });
}

// A paste carries the text in one event; editors that handle paste themselves take it whole.
function pasteText(composer, value) {
  selectContents(composer);
  const data = new DataTransfer();
  data.setData('text/plain', value);
  composer.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
}

async function placeText(composer, value) {
  const wanted = comparable(value);
  for (const method of [typeText, pasteText]) {
    removeContents(composer);
    try {
      method(composer, value);
    } catch (error) {
      continue;
    }
    await sleep(0); // let the page's own input handlers run
    if (comparable(composerText(composer)) === wanted) return true;
  }
  removeContents(composer);
  return false;
}

async function prepare() {
  const state = pageState();
  const refused = refusal(state, false);
  if (refused) return { ok: false, reason: refused };
  const current = comparable(composerText(state.composer));
  if (current === comparable(text)) return { ok: true };
  if (current !== '') {
    return { ok: false, reason: 'You have an unfinished message in your Dot window. Finish it there, then we’ll continue here.' };
  }
  if (!(await placeText(state.composer, text))) {
    return { ok: false, reason: 'Your message couldn’t be placed in Dot. We’ll try again.' };
  }
  return { ok: true };
}

function alertTexts() {
  return all('[role="alert"]').filter(isShown).map((node) => textOf(node, false).trim()).filter(Boolean);
}

async function waitForEnabled(composer) {
  const deadline = Date.now() + CONTROL_WAIT_MS;
  for (;;) {
    const control = findSendControl(composer);
    if (control && !control.disabled && control.getAttribute('aria-disabled') !== 'true') return control;
    if (Date.now() > deadline) return null;
    await sleep(50);
  }
}

async function send() {
  const state = pageState();
  const refused = refusal(state, false);
  if (refused) return { ok: false, reason: refused };
  const wanted = comparable(text);
  const current = comparable(composerText(state.composer));
  if (current === '') return { ok: false, reason: 'Your message wasn’t in the Dot composer any more. We’ll place it again.' };
  if (current !== wanted) {
    return { ok: false, reason: 'You have an unfinished message in your Dot window. Finish it there, then we’ll continue here.' };
  }
  const control = await waitForEnabled(state.composer);
  if (!control) return { ok: false, reason: 'Dot isn’t taking messages right now. We’ll try again.' };
  const alertsBefore = new Set(alertTexts());
  const idsBefore = new Set(readMessages().map((m) => m.id));
  control.click();
  const deadline = Date.now() + SEND_SETTLE_MS;
  while (Date.now() < deadline) {
    await sleep(100);
    const alert = alertTexts().find((message) => !alertsBefore.has(message));
    if (alert) return { ok: false, reason: alert };
    const composer = findComposer();
    const fresh = readMessages().some((m) => m.role === 'user' && !idsBefore.has(m.id));
    if (fresh || (composer && comparable(composerText(composer)) === '')) return { ok: true };
    if (findSignIn()) return { ok: false, reason: 'Sign in to Dot to send your message.' };
  }
  // Neither taken nor refused as far as the page shows: the caller has to find out.
  return { sent: 'unknown' };
}

async function clearDraft() {
  const state = pageState();
  if (!state.composer) return { ok: false, reason: 'Dot is still loading.' };
  if (state.blockedByDialog) return { ok: false, reason: 'Finish the open step in your Dot window to continue.' };
  const current = comparable(composerText(state.composer));
  if (current === '') return { ok: true };
  if (current !== comparable(text)) {
    return { ok: false, reason: 'Your Dot window holds a different unfinished message, so it was left as it is.' };
  }
  removeContents(state.composer);
  await sleep(0);
  if (comparable(composerText(state.composer)) !== '') return { ok: false, reason: 'The Dot composer couldn’t be cleared.' };
  return { ok: true };
}

function reveal() {
  const target = all('[data-message-id]').find((node) => node.getAttribute('data-message-id') === text);
  if (!target) return { ok: false, reason: 'That message isn’t on the Dot page any more.' };
  target.scrollIntoView({ block: 'center' });
  return { ok: true };
}

// ---- dispatch ---------------------------------------------------------------------------

if (window !== window.top) return { ok: false, reason: 'The Dot adapter runs only in the main page.' };
if (document.readyState === 'loading') return null;
watchPage();

switch (action) {
  case 'inspect':
    return snapshot();
  case 'prepare':
    return await prepare();
  case 'send':
    return await send();
  case 'clearDraft':
    return await clearDraft();
  case 'reveal':
    return reveal();
  default:
    return { ok: false, reason: 'Quorvane asked the Dot page for something it doesn’t know.' };
}
