// The control interface: plain JSON calls under /__control/ on the simulator's own server,
// for tests and demos to read the service's state and to make it misbehave on purpose.

import { randomUUID } from 'node:crypto';

import { HttpError, readJSON, sendJSON, writeEvent } from './http.mjs';
import { escapeHTML, renderMarkdown } from './markdown.mjs';
import { HANDOFF_MODES } from './responder.mjs';
import { newMessage } from './store.mjs';

const DEFAULT_REFUSAL = 'Something went wrong while sending your message. Please try again.';
const ANSWER_OPTIONS = new Set([
  'count', 'persist', 'durationMs', 'firstDelayMs', 'parts', 'lateMs', 'untagged', 'wrongTag', 'duplicateIds', 'echo',
  'text', 'attachments', 'slow', 'pauseMs',
]);
// How the page draws itself and behaves: see PAGE_VARIANT_DEFAULTS in simulator.mjs.
const SEED_LIMIT = 20000;

export async function handleControl(sim, req, res, url) {
  const name = url.pathname.slice('/__control/'.length);
  if (req.method === 'GET' && name === 'state') return sendJSON(res, 200, controlState(sim));
  const one = /^conversations\/([^/]+)$/.exec(name);
  if (req.method === 'GET' && one) {
    const conversation = sim.store.conversation(one[1]);
    if (!conversation) throw new HttpError(404, 'No such conversation.');
    return sendJSON(res, 200, conversationState(sim, conversation));
  }
  if (req.method !== 'POST') throw new HttpError(404, `Unknown control call ${req.method} ${url.pathname}.`);
  const body = await readJSON(req, 'The control call body is not JSON.');
  if (body === null || typeof body !== 'object' || Array.isArray(body)) throw new HttpError(400, 'The control call body must be a JSON object.');
  const handler = controlCalls(sim)[name];
  if (!handler) throw new HttpError(404, `Unknown control call ${url.pathname}.`);
  const result = handler(body);
  sendJSON(res, 200, { ok: true, ...result });
  if (name === 'stop') setImmediate(() => sim.onStopRequest?.());
}

function controlCalls(sim) {
  return {
    reset: () => {
      for (const conversation of sim.store.conversations.values()) sim.cancelAnswer(conversation, false);
      for (const timer of sim.timers) clearTimeout(timer);
      sim.timers.clear();
      for (const res of sim.heldSends) res.destroy();
      sim.heldSends.clear();
      const sessions = sim.store.sessions;
      sim.store.clear();
      if (sim.initial.profileName) sim.store.profile.name = sim.initial.profileName;
      sim.resetBehaviour();
      // The browser's cookie stays valid: a reset clears conversations, not the sign-in.
      sim.store.sessions = sessions;
      sim.store.changed();
      for (const client of sim.clients) writeEvent(client.res, 'reload', {});
      return {};
    },
    'sign-in': () => {
      sim.autoSignIn = true;
      sim.sessionExpired = false;
      return {};
    },
    'sign-out': () => {
      sim.endSessions('signedOut');
      return {};
    },
    'expire-sign-in': () => {
      sim.endSessions('expired');
      return {};
    },
    profile: (body) => {
      if (body.name !== undefined) {
        if (typeof body.name !== 'string' || !body.name.trim()) throw new HttpError(400, 'The profile name must be a non-empty string.');
        sim.store.profile.name = body.name;
      }
      if (body.color !== undefined) {
        if (!/^#[0-9a-fA-F]{6}$/.test(body.color)) throw new HttpError(400, 'The colour must look like #6d5efc.');
        sim.store.profile.color = body.color;
      }
      sim.store.changed();
      sim.broadcast();
      return { profile: sim.profileView() };
    },
    'next-answer': (body) => {
      for (const key of Object.keys(body)) if (!ANSWER_OPTIONS.has(key)) throw new HttpError(400, `Unknown answer option "${key}".`);
      const count = body.count === undefined ? 1 : Number(body.count);
      if (!Number.isInteger(count) || count < 1) throw new HttpError(400, 'The count must be a positive whole number.');
      const { count: _, persist, ...options } = body;
      sim.answerFaults.push({ remaining: count, persist: Boolean(persist), options });
      return { queued: sim.answerFaults.length };
    },
    'clear-answers': () => {
      sim.answerFaults = [];
      return {};
    },
    'refuse-send': (body) => {
      const count = body.count === undefined ? 1 : Number(body.count);
      if (!Number.isInteger(count) || count < 0) throw new HttpError(400, 'The count must be a whole number.');
      sim.refusals = count === 0 ? null : { remaining: count, reason: typeof body.reason === 'string' ? body.reason : DEFAULT_REFUSAL };
      return {};
    },
    dialog: (body) => {
      if (body.open === false) sim.dialog = null;
      else {
        sim.dialog = {
          id: randomUUID(),
          title: typeof body.title === 'string' ? body.title : 'We\u2019ve updated our terms',
          body: typeof body.body === 'string' ? body.body : 'Please review and accept the updated terms to keep chatting.',
          button: typeof body.button === 'string' ? body.button : 'Accept and continue',
        };
      }
      sim.broadcast();
      return { dialog: sim.dialog };
    },
    'stall-send': (body) => {
      const count = body.count === undefined ? 1 : Number(body.count);
      if (!Number.isInteger(count) || count < 0) throw new HttpError(400, 'The count must be a whole number.');
      sim.stallSends = count;
      return {};
    },
    page: (body) => {
      sim.setVariant(body);
      for (const client of sim.clients) writeEvent(client.res, 'reload', {});
      return { variant: sim.variant };
    },
    hang: (body) => {
      const ms = body.ms === undefined ? 120000 : Number(body.ms);
      if (!Number.isInteger(ms) || ms < 0) throw new HttpError(400, 'ms must be a whole number of milliseconds.');
      let pages = 0;
      for (const client of sim.clients) {
        writeEvent(client.res, 'hang', { ms });
        pages += 1;
      }
      return { pages };
    },
    seed: (body) => {
      const count = Number(body.messages);
      if (!Number.isInteger(count) || count < 1 || count > SEED_LIMIT) throw new HttpError(400, `messages must be a whole number from 1 to ${SEED_LIMIT}.`);
      const bytes = body.bytes === undefined ? 2000 : Number(body.bytes);
      if (!Number.isInteger(bytes) || bytes < 1 || bytes > 4000000) throw new HttpError(400, 'bytes must be a whole number from 1 to 4000000.');
      const padding = body.padding === undefined ? 0 : Number(body.padding);
      if (!Number.isInteger(padding) || padding < 0 || padding > 4000000) throw new HttpError(400, 'padding must be a whole number from 0 to 4000000.');
      const conversation = sim.store.createConversation(sim.uuidCase);
      conversation.title = typeof body.title === 'string' ? body.title : 'A long conversation';
      for (let i = 0; i < count; i += 1) {
        const role = body.role === 'assistant' || (body.role !== 'user' && i % 2 === 1) ? 'assistant' : 'user';
        const text = body.plain ? plainText(i, bytes) : seedText(i, bytes);
        let html = role === 'user' ? escapeHTML(text) : renderMarkdown(text);
        // Markup far larger than its text: the page itself pads the paragraph with an attribute
        // nobody reads, so the size costs the page's markup, not every transfer to the page.
        if (padding > 0 && role === 'assistant') html = html.replace('<p>', `<p data-padding-length="${padding}">`);
        conversation.messages.push(newMessage(role, { text, html }));
      }
      sim.store.changed();
      return { conversation: conversation.id, url: `${sim.origin}/dots/${conversation.id}` };
    },
    'stall-load': (body) => {
      const count = body.count === undefined ? 1 : Number(body.count);
      if (!Number.isInteger(count) || count < 0) throw new HttpError(400, 'The count must be a whole number.');
      sim.stallLoads = count;
      return {};
    },
    reload: (body) => {
      let pages = 0;
      for (const client of sim.clients) {
        if (body.conversation && client.conversationId?.toLowerCase() !== String(body.conversation).toLowerCase()) continue;
        writeEvent(client.res, 'reload', {});
        pages += 1;
      }
      return { pages };
    },
    inject: (body) => {
      const conversation = sim.store.conversation(body.conversation ?? '');
      if (!conversation) throw new HttpError(404, 'No such conversation.');
      const role = body.role === 'user' ? 'user' : 'assistant';
      if (typeof body.text !== 'string') throw new HttpError(400, 'The text must be a string.');
      const message = newMessage(role, {
        text: body.text,
        html: role === 'user' ? escapeHTML(body.text) : renderMarkdown(body.text),
        attachments: (body.attachments ?? []).map((a) => sim.makeAttachment(a)),
        shownTwice: Boolean(body.duplicateIds),
      });
      sim.appendMessage(conversation, message);
      sim.store.changed();
      return { message: messageState(message) };
    },
    options: (body) => {
      if (body.uuidCase !== undefined) {
        if (body.uuidCase !== 'lower' && body.uuidCase !== 'upper') throw new HttpError(400, 'uuidCase is "lower" or "upper".');
        sim.uuidCase = body.uuidCase;
      }
      if (body.homeIsConversation !== undefined) {
        if (typeof body.homeIsConversation !== 'boolean') throw new HttpError(400, 'homeIsConversation is true or false.');
        sim.homeIsConversation = body.homeIsConversation;
      }
      if (body.handoffs !== undefined) {
        if (!HANDOFF_MODES.includes(body.handoffs)) throw new HttpError(400, `handoffs is one of ${HANDOFF_MODES.map((m) => `"${m}"`).join(', ')}.`);
        sim.handoffs = body.handoffs;
      }
      return { uuidCase: sim.uuidCase, homeIsConversation: sim.homeIsConversation, handoffs: sim.handoffs };
    },
    stop: () => ({}),
  };
}

const WORDS = ('the page shows every answer as it grows and keeps the older ones above it while a new question '
  + 'waits below for its turn so that each reply can be read again later in the same order').split(' ');

// Markdown of about `bytes` bytes of HTML: paragraphs of prose with some emphasis and code.
function seedText(index, bytes) {
  const paragraphs = [];
  let size = 0;
  let word = index;
  while (size < bytes * 0.85) {
    const words = [];
    for (let i = 0; i < 40; i += 1) {
      const w = WORDS[word++ % WORDS.length];
      words.push(i === 7 ? `**${w}**` : i === 19 ? `\`${w}\`` : w);
    }
    const paragraph = `${index}: ${words.join(' ')}.`;
    paragraphs.push(paragraph);
    size += paragraph.length + 30;
  }
  return paragraphs.join('\n\n');
}

// One paragraph of exactly `bytes` characters, for page-size limits.
function plainText(index, bytes) {
  const head = `${index} `;
  let text = head;
  let word = 0;
  while (text.length < bytes) text += `${WORDS[word++ % WORDS.length]} `;
  return `${text.slice(0, bytes - 1)}.`;
}

export function messageState(message) {
  return {
    id: message.id,
    role: message.role,
    text: message.text,
    ...(message.typed !== undefined ? { typed: message.typed } : {}),
    html: message.html,
    attachments: message.attachments,
    status: message.status,
    ...(message.shownTwice ? { shownTwice: true } : {}),
  };
}

export function conversationState(sim, conversation) {
  return {
    id: conversation.id,
    url: `${sim.origin}/dots/${conversation.id}`,
    title: conversation.title,
    busy: conversation.busy,
    crew: conversation.crew,
    messages: conversation.messages.map((message) => messageState(message)),
  };
}

export function controlState(sim) {
  return {
    origin: sim.origin,
    autoSignIn: sim.autoSignIn,
    sessions: sim.store.sessions.size,
    sessionExpired: sim.sessionExpired,
    profile: sim.profileView(),
    dialog: sim.dialog,
    uuidCase: sim.uuidCase,
    homeIsConversation: sim.homeIsConversation,
    pending: {
      answers: sim.answerFaults.map(({ remaining, persist, options }) => ({ remaining, persist, options })),
      refusals: sim.refusals?.remaining ?? 0,
      stalledLoads: sim.stallLoads,
      stalledSends: sim.stallSends,
    },
    variant: sim.variant,
    pages: sim.clients.size,
    conversations: [...sim.store.conversations.values()].map((c) => conversationState(sim, c)),
  };
}
