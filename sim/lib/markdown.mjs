// A small Markdown renderer for answers, producing the kind of markup chat services show:
// paragraphs, line breaks, emphasis, inline code, lists and fenced code blocks with a
// language class. Unfinished constructs (a fence still being streamed) render as far as
// they go, as they do on a real page while an answer grows.

export function escapeHTML(text) {
  return String(text).replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c]);
}

function inline(text) {
  return escapeHTML(text)
    .replace(/`([^`\n]+)`/g, '<code>$1</code>')
    .replace(/\*\*([^*\n]+)\*\*/g, '<strong>$1</strong>')
    .replace(/(^|[^*])\*([^*\n]+)\*(?!\*)/g, '$1<em>$2</em>');
}

export function renderMarkdown(source) {
  const lines = String(source).replace(/\r\n/g, '\n').split('\n');
  const out = [];
  let paragraph = [];
  let list = null;
  const flushParagraph = () => {
    if (paragraph.length > 0) out.push(`<p>${paragraph.map(inline).join('<br>')}</p>`);
    paragraph = [];
  };
  const flushList = () => {
    if (list) out.push(`<ul>${list.map((item) => `<li>${inline(item)}</li>`).join('')}</ul>`);
    list = null;
  };
  for (let i = 0; i < lines.length; i += 1) {
    const line = lines[i];
    const fence = /^```([\w-]*)\s*$/.exec(line);
    if (fence) {
      flushParagraph();
      flushList();
      const code = [];
      let j = i + 1;
      while (j < lines.length && !/^```\s*$/.test(lines[j])) code.push(lines[j++]);
      const language = fence[1] ? ` class="language-${escapeHTML(fence[1])}"` : '';
      // The header names the language and carries an icon-only copy button, like the
      // services it imitates; it is part of the message's visible text.
      const label = fence[1]
        ? `<div class="code-header"><span>${escapeHTML(fence[1])}</span><button type="button" aria-label="Copy code"><svg width="14" height="14" viewBox="0 0 14 14" aria-hidden="true"><rect x="3" y="3" width="8" height="9" rx="1.5" fill="none" stroke="currentColor"/></svg></button></div>`
        : '';
      out.push(`<pre>${label}<code${language}>${escapeHTML(code.join('\n'))}</code></pre>`);
      i = j;
      continue;
    }
    const item = /^[-*] (.*)$/.exec(line);
    if (item) {
      flushParagraph();
      (list ??= []).push(item[1]);
      continue;
    }
    if (line.trim() === '') {
      flushParagraph();
      flushList();
      continue;
    }
    flushList();
    paragraph.push(line);
  }
  flushParagraph();
  flushList();
  return out.join('');
}
