// Runs the page's own script (as the simulator serves it) in Node against a running simulator,
// with just enough of a document for it to render into: its fetch calls and event streams go
// to the simulator over https, so the page's logic is exercised without a browser. Elements
// keep attributes, listeners, children and innerHTML as given; nothing is laid out.

import { webcrypto } from 'node:crypto';
import { createContext, runInContext } from 'node:vm';

import { readEvents } from '../harness.mjs';
import { bootState } from './util.mjs';

class FakeNode {
  constructor(nodeType, nodeName) {
    this.nodeType = nodeType;
    this.nodeName = nodeName;
    this.parentNode = null;
    this.childNodes = [];
  }

  get firstChild() {
    return this.childNodes[0] ?? null;
  }

  get nextSibling() {
    if (!this.parentNode) return null;
    const siblings = this.parentNode.childNodes;
    return siblings[siblings.indexOf(this) + 1] ?? null;
  }

  get isConnected() {
    let node = this;
    while (node.parentNode) node = node.parentNode;
    return node.isDocumentRoot === true;
  }

  remove() {
    if (!this.parentNode) return;
    const siblings = this.parentNode.childNodes;
    siblings.splice(siblings.indexOf(this), 1);
    this.parentNode = null;
  }

  replaceWith(node) {
    const parent = this.parentNode;
    if (!parent) return;
    node.remove();
    parent.childNodes[parent.childNodes.indexOf(this)] = node;
    node.parentNode = parent;
    this.parentNode = null;
  }
}

class FakeText extends FakeNode {
  constructor(data) {
    super(3, '#text');
    this.data = String(data);
  }
}

class FakeElement extends FakeNode {
  constructor(tag) {
    super(1, tag.toUpperCase());
    this.attributes = new Map();
    this.listeners = [];
    this.innerHTML = '';
    this.scrollTop = 0;
    this.scrollHeight = 0;
    this.clientHeight = 0;
    this.value = '';
  }

  get className() {
    return this.getAttribute('class') ?? '';
  }

  set className(value) {
    this.setAttribute('class', value);
  }

  setAttribute(name, value) {
    this.attributes.set(name, String(value));
  }

  getAttribute(name) {
    return this.attributes.has(name) ? this.attributes.get(name) : null;
  }

  removeAttribute(name) {
    this.attributes.delete(name);
  }

  addEventListener(type, listener) {
    this.listeners.push({ type, listener });
  }

  dispatch(type, fields = {}) {
    const event = { type, target: this, defaultPrevented: false, preventDefault() { this.defaultPrevented = true; }, ...fields };
    for (const { listener } of this.listeners.filter((l) => l.type === type)) listener(event);
    return event;
  }

  click() {
    if (this.getAttribute('disabled') === null) this.dispatch('click');
  }

  focus() {}

  appendChild(node) {
    node.remove();
    this.childNodes.push(node);
    node.parentNode = this;
    return node;
  }

  replaceChildren(...nodes) {
    for (const child of [...this.childNodes]) child.remove();
    for (const node of nodes) this.appendChild(node);
  }

  get textContent() {
    return this.childNodes.map((c) => (c.nodeType === 3 ? c.data : c.textContent)).join('') + this.innerHTML.replace(/<[^>]*>/g, '');
  }

  // Every connected element below this one, in document order.
  *descendants() {
    for (const child of this.childNodes) {
      if (child.nodeType !== 1) continue;
      yield child;
      yield* child.descendants();
    }
  }

  findAll(predicate) {
    return [...this.descendants()].filter(predicate);
  }
}

// An EventSource that follows the simulator's real event stream.
function eventSourceClass(sim, cookie, opened) {
  return class FakeEventSource {
    static CONNECTING = 0;
    static OPEN = 1;
    static CLOSED = 2;

    constructor(url) {
      this.url = url;
      this.readyState = 0;
      this.listeners = [];
      this.onerror = null;
      opened.push(this);
      sim.open(url, { headers: { Cookie: cookie } }).then((response) => {
        this.response = response;
        if (this.readyState === 2) return response.destroy();
        this.readyState = 1;
        readEvents(response, (name, data) => {
          if (this.readyState === 2) return;
          for (const l of this.listeners.filter((x) => x.type === name)) l.listener({ data: JSON.stringify(data) });
        });
      }, () => {});
    }

    addEventListener(type, listener) {
      this.listeners.push({ type, listener });
    }

    close() {
      this.readyState = 2;
      this.response?.destroy();
    }
  };
}

// Loads `path` as the signed-in visitor with `cookie` and runs the page's script on it.
export async function openPage(sim, cookie, path) {
  const html = (await sim.request('GET', path, { cookie })).text;
  const boot = bootState(html);
  const script = (await sim.request('GET', `/static/${boot.build}/app.js`, { cookie })).text;

  const documentRoot = new FakeElement('html');
  documentRoot.isDocumentRoot = true;
  const root = documentRoot.appendChild(new FakeElement('div'));
  const streams = [];
  const pushed = [];
  const reloads = [];
  const location = {
    origin: sim.origin,
    pathname: path,
    get href() { return `${sim.origin}${this.pathname}`; },
    reload() { reloads.push(this.pathname); },
  };
  const document = {
    title: '',
    listeners: [],
    getElementById(id) {
      if (id === '__DOT_STATE__') return { textContent: JSON.stringify(boot) };
      return id === '__dot' ? root : null;
    },
    createElement: (tag) => new FakeElement(tag),
    createElementNS: (ns, tag) => new FakeElement(tag),
    createTextNode: (text) => new FakeText(text),
    addEventListener(type, listener) { this.listeners.push({ type, listener }); },
    execCommand: () => false,
  };
  const fetch = async (url, { method = 'GET', headers = {}, body } = {}) => {
    const response = await sim.request(method, url, { headers, body, cookie });
    return { ok: response.status >= 200 && response.status < 300, status: response.status, json: async () => JSON.parse(response.text) };
  };
  const window = {
    document,
    location,
    history: {
      pushState(state, title, url) { pushed.push(url); location.pathname = url; },
      replaceState(state, title, url) { location.pathname = url; },
    },
    navigator: {},
    crypto: webcrypto,
    fetch,
    EventSource: eventSourceClass(sim, cookie, streams),
    setTimeout,
    clearTimeout,
    setInterval,
    clearInterval,
    addEventListener() {},
    open: () => null,
  };
  window.window = window;
  const context = createContext(window);
  runInContext(script, context, { filename: 'app.js' });

  return {
    root,
    boot,
    streams,
    pushed,
    reloads,
    location,
    get title() { return document.title; },
    // Types into the composer as the editor would: new text, then an input event.
    type(text) {
      const editor = this.find((el) => el.getAttribute('data-testid') === 'composer-input');
      editor.appendChild(new FakeText(text));
      editor.dispatch('input');
    },
    find(predicate) {
      return root.findAll(predicate)[0] ?? null;
    },
    findAll(predicate) {
      return root.findAll(predicate);
    },
    close() {
      for (const stream of streams) stream.close();
    },
  };
}
