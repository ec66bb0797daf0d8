// Dot's HTML is hostile: every piece of it passes through DOMPurify with one fixed
// configuration before it reaches the document, and comes out as nodes (never as a string fed
// to innerHTML). What survives is text formatting, lists, tables, code and links:
//  - no SVG or MathML (HTML profile only), no forms, no styles, no frames, no meta or base;
//  - ids and names are prefixed, so markup cannot clobber the page's own globals;
//  - a link keeps its address only when it is http(s); it loses any target and opens through
//    the shell, which cancels the navigation and hands the address to the default browser;
//  - an image stays only as an inline data: picture (the page loads nothing from the network).
// The result is cached per HTML string's owner by the caller; sanitising is the costly step.

import DOMPurify, { type Config } from 'dompurify';

const purify = DOMPurify(window);

purify.addHook('afterSanitizeAttributes', (node) => {
  if (node.nodeName === 'A') {
    const anchor = node as HTMLAnchorElement;
    const href = anchor.getAttribute('href') ?? '';
    anchor.removeAttribute('target');
    if (/^https?:\/\//i.test(href)) {
      anchor.setAttribute('rel', 'noopener noreferrer');
      anchor.setAttribute('title', href);
    } else {
      anchor.removeAttribute('href');
    }
  } else if (node.nodeName === 'IMG') {
    const src = node.getAttribute('src') ?? '';
    if (!/^data:image\/(png|jpeg|gif|webp);/i.test(src)) node.removeAttribute('src');
  }
});

const config: Config & { RETURN_DOM_FRAGMENT: true } = {
  USE_PROFILES: { html: true },
  FORBID_TAGS: ['style', 'form', 'input', 'button', 'textarea', 'select', 'option', 'iframe', 'frame', 'frameset',
    'object', 'embed', 'meta', 'link', 'base', 'template', 'dialog', 'video', 'audio', 'source', 'track', 'noscript'],
  FORBID_ATTR: ['style', 'srcset', 'action', 'formaction', 'autofocus', 'tabindex', 'accesskey', 'contenteditable'],
  ALLOW_DATA_ATTR: false,
  ALLOW_ARIA_ATTR: false,
  SANITIZE_DOM: true,
  SANITIZE_NAMED_PROPS: true,
  KEEP_CONTENT: true,
  RETURN_DOM_FRAGMENT: true,
};

export function sanitize(html: string): DocumentFragment {
  return purify.sanitize(html, config) ?? document.createDocumentFragment();
}
