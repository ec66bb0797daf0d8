// The Dot simulator: an https server that serves the chat pages, the page's own backend
// (JSON calls and an event stream), the answering machinery and the control interface
// that tests use to make it misbehave. One instance per process; everything runs on the
// event loop, so no state needs locking.

import { createHash, randomBytes } from 'node:crypto';
import { readFileSync } from 'node:fs';
import { createServer } from 'node:https';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

import { handleControl } from './control.mjs';
import { HttpError, cookies, readBody, readJSON, redirect, send, sendJSON, writeEvent } from './http.mjs';
import { renderMarkdown, escapeHTML } from './markdown.mjs';
import {
  appDocument, classNames, plainDocument, signInDocument, signedInPopupDocument, stalledDocumentStart, stylesheet,
} from './page.mjs';
import { avatarPNG, picturePNG } from './png.mjs';
import { respond } from './responder.mjs';
import { Store, newMessage } from './store.mjs';

const HERE = dirname(fileURLToPath(import.meta.url));
const CLIENT_SCRIPT = join(HERE, '..', 'public', 'app.js');
const SESSION_COOKIE = '__dot_session';
const SESSION_MAX_AGE = 60 * 60 * 24 * 30;
const CONVERSATION_PATH = /^\/dots\/(home|[0-9a-fA-F]{8}(?:-[0-9a-fA-F]{4}){3}-[0-9a-fA-F]{12})\/?$/;
const MAX_MESSAGE = 100000;

// How the page draws itself and behaves (the `page` control call). The defaults are the page
// as it always was; each other value is a way in which a real chat page differs from it.
export const PAGE_VARIANT_DEFAULTS = Object.freeze({
  testIds: true, // data-testid attributes on the controls and turns
  locale: 'en', // "en" or "fr": the labels of the controls and the turn headings
  ariaBusy: true, // aria-busy="true" on an answer being written
  contentClasses: true, // the literal "markdown prose" classes on an answer's content
  submitButton: false, // the send control is the form's submit button
  busyStyle: 'stop', // "stop": a stop button replaces send while busy; "disabledSend": send stays, disabled
  answerBlocks: 1, // an answer's content is split over this many sibling blocks
  nestedMessages: false, // each message element also wraps an inner one with an id of its own
  messageAttributes: 'standard', // "renamed": data-turn-id / data-turn-role instead of data-message-*
  keepLast: 0, // when > 0, only the last keepLast messages stay in the document (virtualised history)
  enterSends: '', // "beforeinput": a paragraph break (Enter) sends the composer, as its beforeinput
  //                 arrives; "input": as its input event arrives (after the break went in)
  toastOnSend: '', // a role="alert" notice that appears together with every accepted send
  optimisticClear: false, // the composer is emptied when a send starts, before the service answers
  restoreOnRefusal: false, // with optimisticClear: a refused send puts the draft back
  profileSubtitle: '', // a second line under the profile name (a plan, an address)
  forgeChangeSignal: false, // the page's own script keeps posting to guessed message handler names
  // Pages whose own script turns on whoever hosts them:
  navigateAway: '', // an address the page's script keeps sending the top frame to
  navigateBy: 'location', // how: "location" (assigning location.href), "link" (a clicked link), "refresh" (a meta refresh)
  redefineDOM: '', // "early" (right after the first render) or "late" (3 s later): DOM and built-in methods lie
  mutationFlood: '', // "frame" (every animation frame) or "timeout" (setTimeout 0): the page mutates itself nonstop
  bloatLast: 0, // the newest message ends with this many characters of filler (paragraphs of 1,000), written by the page
  nestLast: 0, // the newest message's content sits inside this many nested elements, built by the page
});
export class Simulator {
  constructor({
    stateDir = null, persist = true, signedIn = false, uuidCase = 'lower', homeIsConversation = false, profileName, tls, log = () => {},
  } = {}) {
    this.store = new Store({ stateDir, persist });
    if (profileName) this.store.profile.name = profileName;
    this.initial = { signedIn, uuidCase, homeIsConversation, profileName };
    this.tls = tls;
    this.log = log;
    this.build = randomBytes(4).toString('hex');
    this.classes = classNames(this.build);
    this.css = stylesheet(this.classes);
    // Class names are compiled into the script, as a bundler would.
    this.clientScript = readFileSync(CLIENT_SCRIPT, 'utf8').replace('__CLASS_NAMES__', JSON.stringify(this.classes));
    this.clients = new Set(); // open event streams: {res, conversationId, session}
    this.stalled = new Set();
    this.heldSends = new Set(); // message posts never answered (stall-send)
    this.timers = new Set();
    this.onStopRequest = null;
    this.resetBehaviour();
  }

  resetBehaviour() {
    this.autoSignIn = this.initial.signedIn;
    this.sessionExpired = false;
    this.uuidCase = this.initial.uuidCase;
    this.homeIsConversation = this.initial.homeIsConversation;
    this.handoffs = 'asked';
    this.answerFaults = [];
    this.refusals = null;
    this.stallLoads = 0;
    this.stallSends = 0;
    this.dialog = null;
    this.variant = { ...PAGE_VARIANT_DEFAULTS };
  }

  // Applies a `page` control call: named fields change, the rest stay; `reset: true` first
  // returns to the defaults.
  setVariant(body) {
    const next = body.reset ? { ...PAGE_VARIANT_DEFAULTS } : { ...this.variant };
    for (const [key, value] of Object.entries(body)) {
      if (key === 'reset') continue;
      if (!(key in PAGE_VARIANT_DEFAULTS)) throw new HttpError(400, `Unknown page option "${key}".`);
      const expected = typeof PAGE_VARIANT_DEFAULTS[key];
      if (typeof value !== expected) throw new HttpError(400, `The page option "${key}" must be a ${expected}.`);
      next[key] = value;
    }
    if (!['en', 'fr'].includes(next.locale)) throw new HttpError(400, 'locale is "en" or "fr".');
    if (!['stop', 'disabledSend'].includes(next.busyStyle)) throw new HttpError(400, 'busyStyle is "stop" or "disabledSend".');
    if (!['', 'beforeinput', 'input'].includes(next.enterSends)) throw new HttpError(400, 'enterSends is "", "beforeinput" or "input".');
    if (!['standard', 'renamed'].includes(next.messageAttributes)) throw new HttpError(400, 'messageAttributes is "standard" or "renamed".');
    if (!Number.isInteger(next.answerBlocks) || next.answerBlocks < 1 || next.answerBlocks > 10) throw new HttpError(400, 'answerBlocks is 1 to 10.');
    if (!Number.isInteger(next.keepLast) || next.keepLast < 0) throw new HttpError(400, 'keepLast is a whole number.');
    if (!['location', 'link', 'refresh'].includes(next.navigateBy)) throw new HttpError(400, 'navigateBy is "location", "link" or "refresh".');
    if (!['', 'early', 'late'].includes(next.redefineDOM)) throw new HttpError(400, 'redefineDOM is "", "early" or "late".');
    if (!['', 'frame', 'timeout'].includes(next.mutationFlood)) throw new HttpError(400, 'mutationFlood is "", "frame" or "timeout".');
    for (const key of ['bloatLast', 'nestLast']) {
      if (!Number.isInteger(next[key]) || next[key] < 0 || next[key] > 100000000) throw new HttpError(400, `${key} is a whole number up to 100,000,000.`);
    }
    this.variant = next;
  }

  // ---- lifecycle -------------------------------------------------------------------

  listen(port = 0) {
    this.server = createServer({ cert: this.tls.cert, key: this.tls.key }, (req, res) => this.dispatch(req, res));
    this.server.keepAliveTimeout = 5000;
    return new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(port, '127.0.0.1', () => {
        this.server.off('error', reject);
        this.port = this.server.address().port;
        resolve(this.port);
      });
    });
  }

  get origin() {
    return `https://127.0.0.1:${this.port}`;
  }

  async close() {
    for (const timer of this.timers) clearTimeout(timer);
    this.timers.clear();
    for (const conversation of this.store.conversations.values()) this.cancelAnswer(conversation, false);
    for (const client of this.clients) client.res.end();
    this.clients.clear();
    for (const res of this.stalled) res.destroy();
    for (const res of this.heldSends) res.destroy();
    this.heldSends.clear();
    this.stalled.clear();
    this.store.saveNow();
    if (!this.server) return;
    await new Promise((resolve) => {
      this.server.close(() => resolve());
      this.server.closeAllConnections();
    });
  }

  later(ms, fn) {
    const timer = setTimeout(() => {
      this.timers.delete(timer);
      fn();
    }, ms);
    this.timers.add(timer);
    return timer;
  }

  sleep(ms) {
    return new Promise((resolve) => this.later(ms, resolve));
  }

  // ---- routing ---------------------------------------------------------------------

  async dispatch(req, res) {
    const url = new URL(req.url, this.origin);
    try {
      if (url.pathname.startsWith('/__control/')) return await handleControl(this, req, res, url);
      if (url.pathname.startsWith('/backend/')) return await this.backend(req, res, url);
      if (url.pathname.startsWith('/auth/')) return await this.auth(req, res, url);
      if (url.pathname.startsWith('/static/')) return this.staticFile(req, res, url);
      if (url.pathname.startsWith('/content/')) return this.content(req, res, url);
      if (req.method !== 'GET' && req.method !== 'HEAD') throw new HttpError(405, 'Method not allowed.');
      if (url.pathname === '/') return redirect(res, '/dots');
      if (url.pathname === '/dots' || url.pathname === '/dots/') return redirect(res, '/dots/home');
      const page = CONVERSATION_PATH.exec(url.pathname);
      if (page) return this.conversationPage(req, res, page[1]);
      send(res, 404, 'text/html; charset=utf-8', plainDocument('Not found', 'There is nothing at this address.'));
    } catch (error) {
      const status = error instanceof HttpError ? error.status : 500;
      if (status === 500) this.log(`error: ${error.stack ?? error}`);
      if (!res.headersSent) sendJSON(res, status, { error: { message: error.message } });
      else res.end();
    }
  }

  // ---- sessions --------------------------------------------------------------------

  session(req, res) {
    const token = cookies(req)[SESSION_COOKIE];
    if (token && this.store.sessions.has(token)) return token;
    if (this.autoSignIn && res) {
      const fresh = this.store.newSession();
      this.store.changed();
      res.setHeader('Set-Cookie', sessionCookie(fresh));
      return fresh;
    }
    return null;
  }

  endSessions(reason) {
    this.store.sessions.clear();
    this.autoSignIn = false;
    this.sessionExpired = reason === 'expired';
    this.store.changed();
    for (const client of this.clients) {
      writeEvent(client.res, 'session', { signed_in: false, reason });
      client.res.end();
    }
    this.clients.clear();
  }

  // ---- pages -----------------------------------------------------------------------

  conversationPage(req, res, name) {
    if (this.stallLoads > 0) {
      this.stallLoads -= 1;
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' });
      res.write(stalledDocumentStart({ build: this.build, classes: this.classes }));
      this.stalled.add(res);
      res.on('close', () => this.stalled.delete(res));
      return;
    }
    const session = this.session(req, res);
    let conversation = this.store.conversation(name);
    if (name === 'home' && !conversation && this.homeIsConversation && session) {
      // Some services keep one standing conversation at home instead of starting a new one.
      conversation = this.store.createConversation(this.uuidCase, 'home');
      this.store.changed();
    }
    let route;
    if (!session) route = { kind: 'signIn', expired: this.sessionExpired };
    else if (conversation) route = { kind: 'conversation', id: conversation.id };
    else if (name === 'home') route = { kind: 'home' };
    else route = { kind: 'missing' };
    const boot = {
      build: this.build,
      variant: this.variant,
      route,
      view: session ? this.view(conversation) : null,
    };
    const title = conversation && session ? `${conversation.title} \u2013 Dot` : 'Dot';
    send(res, route.kind === 'missing' ? 404 : 200, 'text/html; charset=utf-8', appDocument({ build: this.build, title, boot }), {
      'Cache-Control': 'no-store',
    });
  }

  staticFile(req, res, url) {
    const match = /^\/static\/([0-9a-f]+)\/(app\.js|app\.css)$/.exec(url.pathname);
    if (!match) throw new HttpError(404, 'Not found.');
    const [type, body] = match[2] === 'app.js' ? ['text/javascript; charset=utf-8', this.clientScript] : ['text/css; charset=utf-8', this.css];
    send(res, 200, type, body, { 'Cache-Control': 'no-cache' });
  }

  content(req, res, url) {
    const avatar = /^\/content\/avatars\/([0-9a-f]{16})\.png$/.exec(url.pathname);
    if (avatar) {
      if (avatar[1] !== this.avatarKey()) throw new HttpError(404, 'Not found.');
      return send(res, 200, 'image/png', avatarPNG(this.store.profile.color), { 'Cache-Control': 'public, max-age=3600' });
    }
    const file = /^\/content\/files\/(file-[0-9a-f-]{36})\/[^/]+$/.exec(url.pathname);
    const stored = file && this.store.files.get(file[1]);
    if (!stored) throw new HttpError(404, 'Not found.');
    send(res, 200, stored.type || 'application/octet-stream', stored.data, {
      'Content-Disposition': `inline; filename="${stored.name.replace(/[^\w. -]/g, '_')}"`,
    });
  }

  avatarKey() {
    const { name, color } = this.store.profile;
    return createHash('sha256').update(`${name}\n${color}`).digest('hex').slice(0, 16);
  }

  profileView() {
    return { name: this.store.profile.name, avatar_url: `${this.origin}/content/avatars/${this.avatarKey()}.png` };
  }

  // ---- sign-in ---------------------------------------------------------------------

  async auth(req, res, url) {
    if (url.pathname === '/auth/signin' && req.method === 'GET') {
      const next = safeNext(url.searchParams.get('next'));
      return send(res, 200, 'text/html; charset=utf-8', signInDocument({
        build: this.build, classes: this.classes, popup: url.searchParams.get('popup') === '1', next, expired: this.sessionExpired,
      }));
    }
    if (url.pathname === '/auth/signin' && req.method === 'POST') {
      const form = new URLSearchParams((await readBody(req)).toString('utf8'));
      const token = this.store.newSession();
      this.sessionExpired = false;
      this.store.changed();
      res.setHeader('Set-Cookie', sessionCookie(token));
      if (form.get('popup') === '1') {
        return send(res, 200, 'text/html; charset=utf-8', signedInPopupDocument({ build: this.build, classes: this.classes }));
      }
      return redirect(res, safeNext(form.get('next')), 303);
    }
    if (url.pathname === '/auth/signout' && req.method === 'POST') {
      const token = cookies(req)[SESSION_COOKIE];
      if (token) this.store.sessions.delete(token);
      this.store.changed();
      res.setHeader('Set-Cookie', `${SESSION_COOKIE}=; Path=/; Max-Age=0; Secure; HttpOnly; SameSite=Lax`);
      return sendJSON(res, 200, { ok: true });
    }
    throw new HttpError(404, 'Not found.');
  }

  // ---- the page's backend ----------------------------------------------------------

  async backend(req, res, url) {
    const session = this.session(req, res);
    if (url.pathname === '/backend/session') return sendJSON(res, 200, { signed_in: Boolean(session), expired: this.sessionExpired });
    if (!session) throw new HttpError(401, 'Your session has expired. Please sign in again.');

    if (url.pathname === '/backend/events' && req.method === 'GET') return this.openEvents(req, res, url, session);
    if (url.pathname === '/backend/files' && req.method === 'POST') {
      const body = await readJSON(req, 'The upload could not be read.');
      if (typeof body.name !== 'string' || typeof body.data !== 'string') throw new HttpError(400, 'The upload is incomplete.');
      const file = this.store.addFile({ name: body.name, type: String(body.type ?? ''), data: Buffer.from(body.data, 'base64') });
      this.store.changed();
      return sendJSON(res, 200, { file: this.attachmentFor(file) });
    }
    if (url.pathname === '/backend/dialog/dismiss' && req.method === 'POST') {
      this.dialog = null;
      this.broadcast();
      return sendJSON(res, 200, { ok: true });
    }
    const conversationCall = /^\/backend\/conversations\/([^/]+)(?:\/(messages|stop))?$/.exec(url.pathname);
    if (conversationCall) {
      const [, id, action] = conversationCall;
      if (!action && req.method === 'GET') {
        const conversation = this.store.conversation(id);
        if (!conversation) throw new HttpError(404, 'Conversation not found.');
        return sendJSON(res, 200, this.view(conversation));
      }
      if (action === 'messages' && req.method === 'POST') return this.postMessage(req, res, id);
      if (action === 'stop' && req.method === 'POST') {
        const conversation = this.store.conversation(id);
        if (conversation) this.cancelAnswer(conversation, true);
        return sendJSON(res, 200, { ok: true });
      }
    }
    throw new HttpError(404, 'Not found.');
  }

  openEvents(req, res, url, session) {
    const requested = url.searchParams.get('conversation') ?? 'home';
    const conversation = this.store.conversation(requested);
    res.writeHead(200, { 'Content-Type': 'text/event-stream; charset=utf-8', 'Cache-Control': 'no-store', Connection: 'keep-alive' });
    res.write('retry: 1000\n\n');
    const client = { res, conversationId: conversation?.id ?? null, session };
    this.clients.add(client);
    res.on('close', () => this.clients.delete(client));
    writeEvent(res, 'state', this.view(conversation));
  }

  async postMessage(req, res, id) {
    const body = await readJSON(req, 'The message could not be read.');
    const text = typeof body.text === 'string' ? body.text : '';
    const fileIds = Array.isArray(body.attachments) ? body.attachments : [];
    const files = fileIds.map((fileId) => this.store.files.get(fileId)).filter(Boolean);
    let conversation = null;
    if (id !== 'new') {
      conversation = this.store.conversation(id);
      if (!conversation) throw new HttpError(404, 'Conversation not found.');
    }
    if (this.dialog) throw new HttpError(409, 'Finish the open step first.');
    if (this.refusals && this.refusals.remaining > 0) {
      this.refusals.remaining -= 1;
      const reason = this.refusals.reason;
      if (this.refusals.remaining === 0) this.refusals = null;
      throw new HttpError(503, reason);
    }
    if (!text.trim() && files.length === 0) throw new HttpError(400, 'Type a message first.');
    if ([...text].length > MAX_MESSAGE) throw new HttpError(413, 'Your message is too long. Shorten it and try again.');
    if (conversation?.busy) throw new HttpError(409, 'Wait for the current answer to finish, or stop it.');
    if (this.stallSends > 0) {
      // The service takes the message and never answers: the page waits with its spinner.
      this.stallSends -= 1;
      this.heldSends.add(res);
      res.on('close', () => this.heldSends.delete(res));
      return;
    }

    if (!conversation) conversation = this.store.createConversation(this.uuidCase);
    const shown = text.trim();
    const message = newMessage('user', {
      text: shown,
      html: escapeHTML(shown),
      typed: text,
      attachments: files.map((file) => this.attachmentFor(file)),
    });
    conversation.messages.push(message);
    if (conversation.title === 'New chat') conversation.title = titleFrom(shown || files[0]?.name || 'New chat');
    conversation.updatedAt = Date.now();
    this.store.changed();
    this.startAnswer(conversation, message);
    this.broadcast();
    sendJSON(res, 200, { conversation_id: conversation.id, message_id: message.id, ...this.view(conversation) });
  }

  attachmentFor(file) {
    const kind = file.type?.startsWith('image/') ? 'image' : 'file';
    return { id: file.id, kind, title: file.name, url: `${this.origin}/content/files/${file.id}/${encodeURIComponent(file.name)}` };
  }

  // The page's view of one conversation (snake_case, as services' backends send it).
  view(conversation) {
    return {
      conversation: conversation
        ? {
            id: conversation.id,
            title: conversation.title,
            busy: conversation.busy,
            messages: conversation.messages.map((message) => ({
              id: message.id,
              author: { role: message.role },
              content: { text: message.role === 'user' ? message.text : undefined, html: message.html },
              attachments: message.attachments,
              status: message.status,
              metadata: message.shownTwice ? { duplicate_in_view: true } : {},
            })),
          }
        : null,
      conversations: [...this.store.conversations.values()]
        .sort((a, b) => b.updatedAt - a.updatedAt)
        .map((c) => ({ id: c.id, title: c.title })),
      dialog: this.dialog,
      profile: this.profileView(),
    };
  }

  broadcast() {
    for (const client of this.clients) {
      const conversation = client.conversationId ? this.store.conversation(client.conversationId) : null;
      writeEvent(client.res, 'state', this.view(conversation));
    }
  }

  // ---- answers ---------------------------------------------------------------------

  takeAnswerFault() {
    const fault = this.answerFaults[0];
    if (!fault) return {};
    if (!fault.persist) {
      fault.remaining -= 1;
      if (fault.remaining <= 0) this.answerFaults.shift();
    }
    return fault.options;
  }

  startAnswer(conversation, userMessage) {
    const fault = this.takeAnswerFault();
    const job = { cancelled: false, message: null };
    conversation.job = job;
    conversation.busy = true;
    this.streamAnswer(conversation, userMessage, fault, job).catch((error) => {
      // A broken answer must not leave the page busy for ever.
      this.log(`answer failed: ${error.stack ?? error}`);
      if (conversation.job === job) this.cancelAnswer(conversation, true);
    });
  }

  async streamAnswer(conversation, userMessage, fault, job) {
    const answer = respond(userMessage.typed, {
      crew: conversation.crew,
      profileName: this.store.profile.name,
      handoffs: this.handoffs,
    });
    conversation.crew = answer.crew;

    let tag = answer.replyToken ? `[qv:${answer.replyToken}]` : null;
    if (fault.untagged) tag = null;
    if (fault.wrongTag) tag = `[qv:${otherToken(answer.replyToken)}]`;
    const body = typeof fault.text === 'string' ? fault.text : answer.text;
    const attachments = (Array.isArray(fault.attachments) ? fault.attachments : answer.attachments).map((a) => this.makeAttachment(a));
    const parts = splitParts(body, Math.max(1, Math.min(10, Number(fault.parts) || 1)));
    const duration = Number(fault.durationMs ?? (fault.slow ? 8000 : 1000));
    const firstDelay = Number(fault.firstDelayMs ?? (fault.slow ? 2000 : 150));
    let pause = Number(fault.pauseMs ?? 0);

    if (fault.echo) {
      // Some pages briefly render the user's own turn again in the answer's place.
      this.appendMessage(conversation, newMessage('assistant', {
        text: userMessage.typed,
        html: renderMarkdown(userMessage.typed),
        shownTwice: Boolean(fault.duplicateIds),
      }));
    }
    await this.sleep(firstDelay);
    for (let index = 0; index < parts.length && !job.cancelled; index += 1) {
      const full = (tag ? `${tag}\n\n` : '') + parts[index];
      const message = newMessage('assistant', { status: 'streaming', shownTwice: Boolean(fault.duplicateIds) });
      job.message = message;
      this.appendMessage(conversation, message);
      const pieces = piecesOf(full, 10);
      for (const [at, piece] of pieces.entries()) {
        if (pause > 0 && at === Math.floor(pieces.length / 2)) {
          // The model stops to think half-way through its first part, the page still busy.
          await this.sleep(pause);
          pause = 0;
        }
        await this.sleep(duration / parts.length / pieces.length);
        if (job.cancelled) break;
        message.text += piece;
        message.html = renderMarkdown(message.text);
        this.broadcast();
      }
      if (job.cancelled) break;
      if (index === parts.length - 1) message.attachments = attachments;
      message.status = 'done';
      job.message = null;
      this.broadcast();
    }
    if (conversation.job !== job) return;
    conversation.job = null;
    conversation.busy = false;
    conversation.updatedAt = Date.now();
    this.store.changed();
    this.broadcast();

    if (fault.lateMs !== undefined && !job.cancelled) {
      this.later(Number(fault.lateMs), () => {
        if (!this.store.conversation(conversation.id)) return;
        const text = `${tag ? `${tag}\n\n` : ''}One more thing from ${answer.speaker}: I double-checked this, and it still holds.`;
        this.appendMessage(conversation, newMessage('assistant', { text, html: renderMarkdown(text) }));
        this.store.changed();
      });
    }
  }

  appendMessage(conversation, message) {
    conversation.messages.push(message);
    conversation.updatedAt = Date.now();
    this.broadcast();
  }

  cancelAnswer(conversation, announce) {
    const job = conversation.job;
    if (!job) return;
    job.cancelled = true;
    if (job.message) job.message.status = 'stopped';
    conversation.job = null;
    conversation.busy = false;
    this.store.changed();
    if (announce) this.broadcast();
  }

  makeAttachment(wanted) {
    const kind = wanted.kind === 'image' ? 'image' : 'file';
    const name = typeof wanted.title === 'string' && wanted.title ? wanted.title : kind === 'image' ? 'picture.png' : 'notes.txt';
    const data = kind === 'image'
      ? picturePNG()
      : Buffer.from(typeof wanted.content === 'string' ? wanted.content : 'Notes from Dot.\n', 'utf8');
    const file = this.store.addFile({ name, type: kind === 'image' ? 'image/png' : 'text/plain', data });
    const attachment = this.attachmentFor(file);
    // Pages link attachments in all sorts of ways; `url` shows one as given (any scheme, any length).
    if (typeof wanted.url === 'string') attachment.url = wanted.url;
    return attachment;
  }
}

// ---- helpers ---------------------------------------------------------------------------

function sessionCookie(token) {
  return `${SESSION_COOKIE}=${token}; Path=/; Max-Age=${SESSION_MAX_AGE}; Secure; HttpOnly; SameSite=Lax`;
}

// Only local conversation pages are followed after sign-in.
function safeNext(next) {
  return typeof next === 'string' && CONVERSATION_PATH.test(next) ? next : '/dots/home';
}

function titleFrom(text) {
  const line = text.split('\n')[0].trim();
  const chars = [...line];
  return chars.length > 48 ? `${chars.slice(0, 47).join('')}\u2026` : line || 'New chat';
}

function otherToken(token) {
  let other;
  do other = randomBytes(6).toString('hex');
  while (other === token);
  return other;
}

// Splits an answer into several messages: paragraphs spread over the parts, and progress
// notes first when there are fewer paragraphs than parts.
export function splitParts(text, count) {
  if (count <= 1) return [text];
  const paragraphs = text.split(/\n{2,}/);
  const parts = [];
  const notes = Math.max(0, count - paragraphs.length);
  for (let i = 0; i < notes; i += 1) parts.push(`Working on it (step ${i + 1})\u2026`);
  const groups = count - notes;
  for (let g = 0; g < groups; g += 1) {
    const start = Math.floor((g * paragraphs.length) / groups);
    const end = Math.floor(((g + 1) * paragraphs.length) / groups);
    parts.push(paragraphs.slice(start, end).join('\n\n'));
  }
  return parts;
}

// Streamed pieces: about `count` runs of whole characters, cut anywhere, as tokens arrive.
export function piecesOf(text, count) {
  const chars = [...text];
  const size = Math.max(1, Math.ceil(chars.length / count));
  const pieces = [];
  for (let i = 0; i < chars.length; i += size) pieces.push(chars.slice(i, i + size).join(''));
  return pieces.length > 0 ? pieces : [''];
}
