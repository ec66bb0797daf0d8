// The documents the service serves: the conversation application shell, the sign-in page
// and the small pages around them. Class names are generated from a per-start salt, the way
// CSS-in-JS builds make them, so nothing outside the page can rely on them.

import { createHash } from 'node:crypto';
import { escapeHTML } from './markdown.mjs';

const CLASS_NAMES = [
  'app', 'sidebar', 'newChat', 'sideHeading', 'history', 'historyItem', 'historyActive', 'profileArea', 'profile',
  'avatar', 'profileName', 'menu', 'menuItem', 'main', 'header', 'headerTitle', 'thread', 'threadInner', 'turn',
  'srOnly', 'message', 'userMessage', 'bubble', 'userText', 'markdown', 'streaming', 'cursor', 'attachments',
  'figure', 'fileCard', 'fileIcon', 'actions', 'iconButton', 'composerArea', 'composer', 'editor', 'composerRow',
  'sendButton', 'stopButton', 'attachButton', 'chips', 'chip', 'alert', 'alertClose', 'hero', 'heroTitle', 'wall',
  'wallCard', 'primaryButton', 'backdrop', 'dialog', 'dialogTitle', 'dialogBody', 'dialogActions', 'footnote',
  'spinner', 'skeleton',
];

export function classNames(salt) {
  const map = {};
  for (const name of CLASS_NAMES) {
    const digest = createHash('sha256').update(`${salt}:${name}`).digest();
    map[name] = `css-${digest.readUInt32BE(0).toString(36).slice(0, 6)}`;
  }
  return map;
}

const CSS = `
:root { color-scheme: light; --bg: #ffffff; --side: #f6f6f8; --ink: #1d1d22; --muted: #6b6b76; --line: #e5e5ea; --accent: #6d5efc; --user: #f1f0ff; }
* { box-sizing: border-box; }
html, body { margin: 0; height: 100%; font: 15px/1.55 system-ui, -apple-system, "Segoe UI", Cantarell, sans-serif; color: var(--ink); background: var(--bg); }
.$app { display: flex; height: 100vh; }
.$sidebar { width: 260px; flex: none; background: var(--side); border-right: 1px solid var(--line); display: flex; flex-direction: column; padding: 12px; gap: 8px; }
.$newChat { display: flex; align-items: center; gap: 8px; padding: 8px 10px; border-radius: 10px; color: var(--ink); text-decoration: none; font-weight: 600; }
.$newChat:hover, .$historyItem:hover { background: #ebebf0; }
.$sideHeading { font-size: 12px; font-weight: 600; color: var(--muted); margin: 12px 10px 4px; }
.$history { list-style: none; margin: 0; padding: 0; overflow-y: auto; flex: 1; }
.$historyItem { display: block; padding: 7px 10px; border-radius: 8px; color: var(--ink); text-decoration: none; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; font-size: 14px; }
.$historyActive { background: #e4e2ff; }
.$profileArea { position: relative; border-top: 1px solid var(--line); padding-top: 8px; }
.$profile { display: flex; align-items: center; gap: 10px; width: 100%; padding: 8px; border: 0; border-radius: 10px; background: transparent; font: inherit; color: inherit; cursor: pointer; text-align: left; }
.$profile:hover { background: #ebebf0; }
.$avatar { width: 32px; height: 32px; border-radius: 50%; flex: none; }
.$profileName { font-weight: 600; overflow: hidden; text-overflow: ellipsis; white-space: nowrap; }
.$menu { position: absolute; bottom: 56px; left: 0; right: 0; background: #fff; border: 1px solid var(--line); border-radius: 12px; box-shadow: 0 8px 24px rgba(0,0,0,.12); padding: 6px; }
.$menuItem { display: block; width: 100%; text-align: left; padding: 8px 10px; border: 0; background: transparent; border-radius: 8px; font: inherit; cursor: pointer; }
.$menuItem:hover { background: var(--side); }
.$main { flex: 1; display: flex; flex-direction: column; min-width: 0; position: relative; }
.$header { height: 52px; flex: none; display: flex; align-items: center; padding: 0 20px; border-bottom: 1px solid var(--line); font-weight: 600; }
.$headerTitle { overflow: hidden; white-space: nowrap; text-overflow: ellipsis; }
.$thread { flex: 1; overflow-y: auto; }
.$threadInner { max-width: 760px; margin: 0 auto; padding: 24px 20px 32px; display: flex; flex-direction: column; gap: 22px; }
.$turn { display: flex; flex-direction: column; }
.$srOnly { position: absolute; width: 1px; height: 1px; padding: 0; margin: -1px; overflow: hidden; clip: rect(0,0,0,0); white-space: nowrap; border: 0; }
.$userMessage { align-self: flex-end; max-width: 80%; }
.$bubble { background: var(--user); border-radius: 18px; padding: 10px 16px; }
.$userText { white-space: pre-wrap; word-wrap: break-word; }
.$markdown p { margin: 0 0 .8em; }
.$markdown p:last-child { margin-bottom: 0; }
.$markdown pre { background: #16161c; color: #f3f3f7; border-radius: 10px; padding: 0 0 12px; overflow-x: auto; }
.$markdown pre .code-header { display: flex; justify-content: space-between; align-items: center; padding: 6px 12px; font-size: 12px; color: #b8b8c4; background: #24242c; border-radius: 10px 10px 0 0; margin-bottom: 10px; }
.$markdown pre .code-header button { background: transparent; border: 0; color: inherit; cursor: pointer; }
.$markdown pre code { display: block; padding: 0 12px; white-space: pre-wrap; font: 13px/1.5 ui-monospace, "DejaVu Sans Mono", monospace; }
.$markdown code { font-family: ui-monospace, "DejaVu Sans Mono", monospace; font-size: .92em; }
.$cursor { display: inline-block; width: 8px; height: 16px; margin-left: 2px; vertical-align: text-bottom; background: var(--ink); animation: blink 1s steps(2) infinite; }
@keyframes blink { to { visibility: hidden; } }
.$attachments { display: flex; flex-wrap: wrap; gap: 10px; margin-top: 10px; }
.$figure { margin: 0; }
.$figure img { max-width: 260px; border-radius: 12px; display: block; border: 1px solid var(--line); }
.$figure figcaption { font-size: 12px; color: var(--muted); margin-top: 4px; }
.$fileCard { display: inline-flex; align-items: center; gap: 8px; border: 1px solid var(--line); border-radius: 12px; padding: 8px 12px; color: var(--ink); text-decoration: none; }
.$fileIcon { width: 22px; height: 26px; border-radius: 4px; background: var(--accent); flex: none; }
.$actions { display: flex; gap: 4px; margin-top: 6px; opacity: .6; }
.$iconButton { border: 0; background: transparent; border-radius: 8px; padding: 4px; cursor: pointer; color: var(--muted); }
.$iconButton:hover { background: var(--side); }
.$composerArea { flex: none; padding: 8px 20px 16px; }
.$composer { max-width: 760px; margin: 0 auto; border: 1px solid var(--line); border-radius: 24px; padding: 10px 12px 8px 18px; box-shadow: 0 2px 10px rgba(0,0,0,.05); background: #fff; }
.$editor { min-height: 24px; max-height: 240px; overflow-y: auto; outline: none; white-space: pre-wrap; word-wrap: break-word; }
.$editor[data-empty="true"]::before { content: attr(data-placeholder); color: var(--muted); pointer-events: none; position: absolute; }
.$composerRow { display: flex; align-items: center; justify-content: space-between; margin-top: 6px; }
.$sendButton, .$stopButton, .$attachButton { width: 34px; height: 34px; border-radius: 50%; border: 0; display: inline-flex; align-items: center; justify-content: center; cursor: pointer; }
.$sendButton { background: var(--ink); color: #fff; }
.$sendButton:disabled { background: #d6d6dc; cursor: default; }
.$stopButton { background: var(--ink); color: #fff; }
.$attachButton { background: transparent; color: var(--muted); border: 1px solid var(--line); }
.$chips { display: flex; flex-wrap: wrap; gap: 6px; margin-bottom: 6px; }
.$chip { font-size: 13px; background: var(--side); border-radius: 8px; padding: 3px 8px; }
.$alert { max-width: 760px; margin: 0 auto 8px; background: #fdecec; color: #8a1c1c; border: 1px solid #f3c2c2; border-radius: 12px; padding: 8px 12px; display: flex; justify-content: space-between; gap: 10px; }
.$alertClose { border: 0; background: transparent; color: inherit; cursor: pointer; }
.$hero { flex: 1; display: flex; flex-direction: column; align-items: center; justify-content: center; text-align: center; padding: 20px; }
.$heroTitle { font-size: 28px; font-weight: 600; margin: 0 0 8px; }
.$footnote { font-size: 12px; color: var(--muted); text-align: center; margin-top: 8px; }
.$wall { height: 100vh; display: flex; align-items: center; justify-content: center; background: var(--side); }
.$wallCard { background: #fff; border: 1px solid var(--line); border-radius: 20px; padding: 36px 40px; width: 380px; text-align: center; box-shadow: 0 10px 30px rgba(0,0,0,.06); }
.$primaryButton { background: var(--accent); color: #fff; border: 0; border-radius: 999px; padding: 10px 22px; font: inherit; font-weight: 600; cursor: pointer; }
.$backdrop { position: fixed; inset: 0; background: rgba(20,20,30,.45); display: flex; align-items: center; justify-content: center; z-index: 10; }
.$dialog { background: #fff; border-radius: 18px; padding: 24px 28px; width: 440px; max-width: 90vw; box-shadow: 0 20px 50px rgba(0,0,0,.25); }
.$dialogTitle { margin: 0 0 8px; font-size: 19px; }
.$dialogBody { margin: 0 0 18px; color: var(--muted); }
.$dialogActions { display: flex; justify-content: flex-end; }
.$spinner { width: 14px; height: 14px; border: 2px solid #fff; border-right-color: transparent; border-radius: 50%; animation: spin .8s linear infinite; }
@keyframes spin { to { transform: rotate(360deg); } }
.$skeleton { height: 14px; background: #eee; border-radius: 6px; margin: 10px 0; }
`;

export function stylesheet(classes) {
  return CSS.replace(/\.\$([A-Za-z]+)/g, (_, name) => {
    if (!classes[name]) throw new Error(`Unknown class name ${name}`);
    return `.${classes[name]}`;
  });
}

// JSON inside a script element: "<" is escaped so that no text can close the element.
function scriptJSON(value) {
  return JSON.stringify(value).replace(/</g, '\\u003c').replace(/\u2028/g, '\\u2028').replace(/\u2029/g, '\\u2029');
}

export function documentHead(build, title) {
  return `<!DOCTYPE html>
<html lang="en" data-build="${escapeHTML(build)}">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>${escapeHTML(title)}</title>
<link rel="icon" href="data:,">
<link rel="stylesheet" href="/static/${escapeHTML(build)}/app.css">
</head>
<body>
<div id="__dot">`;
}

// The application shell: the page renders itself from the embedded state.
export function appDocument({ build, title, boot }) {
  return `${documentHead(build, title)}</div>
<script id="__DOT_STATE__" type="application/json">${scriptJSON(boot)}</script>
<script src="/static/${escapeHTML(build)}/app.js" defer></script>
</body>
</html>
`;
}

// The beginning of a document whose rest never comes: what a stalled load looks like.
export function stalledDocumentStart({ build, classes }) {
  return `${documentHead(build, 'Dot')}<div class="${classes.wall}"><div class="${classes.wallCard}"><div class="${classes.skeleton}"></div><div class="${classes.skeleton}"></div>`;
}

export function signInDocument({ build, classes, popup, next, expired }) {
  return `<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Sign in \u2013 Dot</title>
<link rel="icon" href="data:,">
<link rel="stylesheet" href="/static/${escapeHTML(build)}/app.css">
</head>
<body>
<main class="${classes.wall}">
<form class="${classes.wallCard}" method="post" action="/auth/signin">
<h1 class="${classes.heroTitle}">Sign in to Dot</h1>
<p class="${classes.footnote}">${expired ? 'Your session has expired. Sign in again to continue.' : 'Use your Dot account to continue.'}</p>
<p><label>Email<br><input type="email" name="email" autocomplete="username" value="you@dot.example" required></label></p>
<p><label>Password<br><input type="password" name="password" autocomplete="current-password" value="dot-simulator" required></label></p>
<input type="hidden" name="popup" value="${popup ? '1' : '0'}">
<input type="hidden" name="next" value="${escapeHTML(next)}">
<button type="submit" class="${classes.primaryButton}" data-testid="sign-in-submit">Continue</button>
</form>
</main>
</body>
</html>
`;
}

// Shown inside the sign-in popup once the cookie is set: tell the opener, then close.
export function signedInPopupDocument({ build, classes }) {
  return `<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Signed in \u2013 Dot</title>
<link rel="icon" href="data:,">
<link rel="stylesheet" href="/static/${escapeHTML(build)}/app.css">
</head>
<body>
<main class="${classes.wall}"><div class="${classes.wallCard}"><h1 class="${classes.heroTitle}">You\u2019re signed in</h1><p>You can close this window.</p></div></main>
<script>
  try { if (window.opener) window.opener.postMessage({ type: 'dot:signed-in' }, location.origin); } catch (e) {}
  setTimeout(function () { window.close(); }, 50);
</script>
</body>
</html>
`;
}

export function plainDocument(title, message) {
  return `<!DOCTYPE html><html lang="en"><head><meta charset="utf-8"><title>${escapeHTML(title)}</title></head><body><h1>${escapeHTML(title)}</h1><p>${escapeHTML(message)}</p></body></html>\n`;
}
