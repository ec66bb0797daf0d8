// Dot's HTML, sanitised once per message (or part) object and drawn as nodes. Text without
// HTML goes in as a text node, never as markup.
import { useLayoutEffect, useRef } from 'preact/hooks';
import { sanitize } from '../sanitize';

const cache = new WeakMap<object, { html: string; fragment: DocumentFragment }>();

function fragmentFor(owner: object, html: string): DocumentFragment {
  const hit = cache.get(owner);
  if (hit && hit.html === html) return hit.fragment;
  const fragment = sanitize(html);
  cache.set(owner, { html, fragment });
  return fragment;
}

export function RichText({ owner, html, text }: { owner: object; html?: string | undefined; text: string }) {
  const box = useRef<HTMLDivElement>(null);
  useLayoutEffect(() => {
    const element = box.current;
    if (!element) return;
    if (html && html.trim() !== '') element.replaceChildren(fragmentFor(owner, html).cloneNode(true));
    else element.replaceChildren(document.createTextNode(text));
  }, [owner, html, text]);
  return <div ref={box} class={html ? 'rich' : 'rich plain'} />;
}
