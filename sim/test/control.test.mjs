import assert from 'node:assert/strict';
import { setTimeout as sleep } from 'node:timers/promises';
import { after, before, beforeEach, describe, test } from 'node:test';

import { readEvents, startSimulator } from '../harness.mjs';
import { TAG_PATTERN, composePayload } from './payload.mjs';
import { bootState, idleConversation, post, sendMessage, sessionCookie, waitFor } from './util.mjs';

// A test that hangs fails on its own and lets the hooks stop the simulators.
const LIMIT = { timeout: 60000 };
const TOKEN = 'c0ffee123456';
const CREW = [{ id: 'muse', name: 'Muse', personality: 'Poetic' }];
const tagged = (text = 'Hello') => composePayload({ id: 'REQ-7', token: TOKEN, crew: CREW, text });
const tagOf = (text) => TAG_PATTERN.exec(text)?.[1] ?? null;

let sim;
let cookie;
before(async () => {
  sim = await startSimulator({ args: ['--signed-in'] });
});
after(async () => {
  await sim?.stop();
});
beforeEach(async () => {
  await sim.control('reset');
  await sim.control('sign-in');
  cookie = await sessionCookie(sim);
});

async function answered(options, text = tagged()) {
  if (options) await sim.control('next-answer', options);
  const id = (await sendMessage(sim, cookie, 'new', text)).json.conversation_id;
  return idleConversation(sim, id);
}

// Waits for an event of the given name on a page's event stream.
function nextEvent(stream, name) {
  return new Promise((resolve) => readEvents(stream, (event, data) => { if (event === name) resolve(data); }));
}

describe('answer faults', () => {
  const cases = [
    {
      name: 'several assistant messages for one answer, each tagged',
      options: { parts: 3 },
      check: (messages) => {
        assert.equal(messages.length, 4);
        assert.deepEqual(messages.slice(1).map((m) => [m.role, tagOf(m.text)]), Array(3).fill(['assistant', TOKEN]));
        assert.equal(new Set(messages.map((m) => m.id)).size, 4);
      },
    },
    {
      name: 'an untagged answer',
      options: { untagged: true },
      check: (messages) => {
        assert.equal(tagOf(messages[1].text), null);
        assert.match(messages[1].text, /^\*\*Dot\*\* here\./);
      },
    },
    {
      name: 'an answer with some other request\u2019s tag',
      options: { wrongTag: true },
      check: (messages) => {
        assert.match(tagOf(messages[1].text) ?? '', /^[0-9a-f]{12}$/);
        assert.notEqual(tagOf(messages[1].text), TOKEN);
      },
    },
    {
      name: 'the page shows the answer\u2019s message id twice',
      options: { duplicateIds: true },
      check: (messages, view) => {
        assert.equal(messages[1].shownTwice, true);
        assert.deepEqual(view.conversation.messages[1].metadata, { duplicate_in_view: true });
      },
    },
    {
      name: 'the request echoed as an assistant message before the answer',
      options: { echo: true },
      check: (messages) => {
        assert.deepEqual(messages.map((m) => m.role), ['user', 'assistant', 'assistant']);
        assert.equal(messages[1].text, messages[0].typed);
        assert.equal(tagOf(messages[2].text), TOKEN);
      },
    },
    {
      name: 'a scripted text, still tagged',
      options: { text: 'Exactly this.' },
      check: (messages) => assert.equal(messages[1].text, `[qv:${TOKEN}]\n\nExactly this.`),
    },
    {
      name: 'scripted attachments',
      options: { attachments: [{ kind: 'file', title: 'report.txt' }] },
      check: (messages) => assert.deepEqual(messages[1].attachments.map((a) => [a.kind, a.title]), [['file', 'report.txt']]),
    },
  ];
  for (const { name, options, check } of cases) {
    test(name, LIMIT, async () => {
      const conversation = await answered(options);
      const view = (await sim.request('GET', `/backend/conversations/${conversation.id}`, { cookie })).json;
      check(conversation.messages, view);
    });
  }

  test('a late part arrives after the page stopped being busy', LIMIT, async () => {
    const conversation = await answered({ lateMs: 300 });
    assert.equal(conversation.messages.length, 2);
    const late = await waitFor(sim, (state) => state.conversations[0].messages[2], 'the late part');
    assert.equal(tagOf(late.text), TOKEN);
    assert.match(late.text, /One more thing from Dot/);
  });

  test('a paused answer stays busy, half-written, for the pause', LIMIT, async () => {
    await sim.control('next-answer', { pauseMs: 1500, durationMs: 200, firstDelayMs: 0 });
    const id = (await sendMessage(sim, cookie, 'new', tagged())).json.conversation_id;
    await sleep(700);
    const during = (await sim.state()).conversations.find((c) => c.id === id);
    assert.equal(during.busy, true);
    assert.ok(during.messages[1].text.length > 0, 'some of the answer is there');
    const done = await idleConversation(sim, id);
    assert.ok(done.messages[1].text.length > during.messages[1].text.length, 'the rest came after the pause');
  });

  test('a fault applies to as many answers as counted, or to all until cleared', LIMIT, async () => {
    await sim.control('next-answer', { untagged: true, count: 2 });
    const tags = [];
    for (let i = 0; i < 3; i += 1) tags.push(tagOf((await answered(null)).messages[1].text));
    assert.deepEqual(tags, [null, null, TOKEN]);

    await sim.control('next-answer', { untagged: true, persist: true });
    assert.equal(tagOf((await answered(null)).messages[1].text), null);
    assert.equal(tagOf((await answered(null)).messages[1].text), null);
    await sim.control('clear-answers');
    assert.equal(tagOf((await answered(null)).messages[1].text), TOKEN);
  });
});

describe('page faults', () => {
  test('a refused send shows the reason and keeps nothing; the next send goes through', LIMIT, async () => {
    await sim.control('refuse-send', { reason: 'You are sending messages too fast.' });
    const refused = await sendMessage(sim, cookie, 'new', 'first try');
    assert.equal(refused.status, 503);
    assert.equal(refused.json.error.message, 'You are sending messages too fast.');
    assert.deepEqual((await sim.state()).conversations, []);
    assert.equal((await sendMessage(sim, cookie, 'new', 'second try')).status, 200);
  });

  test('a dialog blocks sending until it is dismissed', LIMIT, async () => {
    const stream = await sim.open('/backend/events?conversation=home', { headers: { Cookie: cookie } });
    const shown = nextEvent(stream, 'state');
    await shown;
    const opened = new Promise((resolve) => readEvents(stream, (event, data) => { if (data.dialog) resolve(data.dialog); }));
    await sim.control('dialog', { title: 'New terms', body: 'Read them.', button: 'Accept' });
    assert.deepEqual({ ...(await opened), id: undefined }, { id: undefined, title: 'New terms', body: 'Read them.', button: 'Accept' });
    stream.destroy();

    const blocked = await sendMessage(sim, cookie, 'new', 'hello');
    assert.equal(blocked.status, 409);
    assert.equal(blocked.json.error.message, 'Finish the open step first.');
    assert.equal(bootState((await sim.request('GET', '/dots/home', { cookie })).text).view.dialog.title, 'New terms');
    await post(sim, '/backend/dialog/dismiss', {}, cookie);
    assert.equal((await sim.state()).dialog, null);
    assert.equal((await sendMessage(sim, cookie, 'new', 'hello')).status, 200);
  });

  for (const [call, reason, expired] of [['expire-sign-in', 'expired', true], ['sign-out', 'signedOut', false]]) {
    test(`${call} ends open pages' sessions and brings back the sign-in step`, LIMIT, async () => {
      const stream = await sim.open('/backend/events?conversation=home', { headers: { Cookie: cookie } });
      const ended = nextEvent(stream, 'session');
      await sim.control(call);
      assert.deepEqual(await ended, { signed_in: false, reason });
      assert.equal((await sendMessage(sim, cookie, 'new', 'hi')).status, 401);
      assert.deepEqual(bootState((await sim.request('GET', '/dots/home', { cookie })).text).route, { kind: 'signIn', expired });
      await sim.control('sign-in');
      assert.deepEqual(bootState((await sim.request('GET', '/dots/home', { cookie })).text).route, { kind: 'home' });
    });
  }

  test('a stalled load never finishes its document; the next load is whole', LIMIT, async () => {
    await sim.control('stall-load', { count: 1 });
    const stalled = await sim.open('/dots/home', { headers: { Cookie: cookie } });
    let ended = false;
    stalled.on('end', () => { ended = true; });
    const firstChunk = await new Promise((resolve) => stalled.once('data', (chunk) => resolve(String(chunk))));
    assert.equal(stalled.statusCode, 200);
    assert.match(firstChunk, /^<!DOCTYPE html>/);
    assert.doesNotMatch(firstChunk, /<\/html>/);
    const next = await sim.request('GET', '/dots/home', { cookie });
    assert.match(next.text, /<\/html>\n$/);
    assert.equal(ended, false);
    assert.equal((await sim.state()).pending.stalledLoads, 0);
    stalled.destroy();
  });

  test('a stalled send is taken and never answered; the next one is', LIMIT, async () => {
    await sim.control('stall-send', { count: 1 });
    const held = sendMessage(sim, cookie, 'new', 'held');
    const outcome = await Promise.race([held.then(() => 'answered'), sleep(400).then(() => 'waiting')]);
    assert.equal(outcome, 'waiting');
    assert.equal((await sendMessage(sim, cookie, 'new', 'next')).status, 200);
    await sim.control('reset');
    await held.catch(() => {}); // the reset drops the held request
  });

  test('the page variant reaches the pages, which reload to show it', LIMIT, async () => {
    const stream = await sim.open('/backend/events?conversation=home', { headers: { Cookie: cookie } });
    const reloaded = nextEvent(stream, 'reload');
    const { variant } = await sim.control('page', { testIds: false, locale: 'fr', answerBlocks: 3 });
    assert.equal(variant.testIds, false);
    assert.equal(variant.ariaBusy, true, 'what the call does not name stays');
    await reloaded;
    stream.destroy();
    assert.deepEqual(bootState((await sim.request('GET', '/dots/home', { cookie })).text).variant, variant);
    assert.equal((await sim.control('page', { reset: true })).variant.locale, 'en');
    for (const [body, message] of [
      [{ colour: 'red' }, 'Unknown page option "colour".'],
      [{ locale: 'de' }, 'locale is "en" or "fr".'],
      [{ keepLast: '3' }, 'The page option "keepLast" must be a number.'],
      [{ navigateBy: 'window' }, 'navigateBy is "location", "link" or "refresh".'],
      [{ redefineDOM: 'always' }, 'redefineDOM is "", "early" or "late".'],
      [{ mutationFlood: 'interval' }, 'mutationFlood is "", "frame" or "timeout".'],
      [{ bloatLast: -1 }, 'bloatLast is a whole number up to 100,000,000.'],
      [{ nestLast: 1.5 }, 'nestLast is a whole number up to 100,000,000.'],
    ]) {
      const answer = await post(sim, '/__control/page', body);
      assert.equal(answer.status, 400);
      assert.equal(answer.json.error.message, message);
    }
  });

  test('seed makes one long conversation of messages of about the asked size', LIMIT, async () => {
    const { conversation } = await sim.control('seed', { messages: 6, bytes: 2000 });
    const seeded = (await sim.state()).conversations.find((c) => c.id === conversation);
    assert.deepEqual(seeded.messages.map((m) => m.role), ['user', 'assistant', 'user', 'assistant', 'user', 'assistant']);
    for (const message of seeded.messages) assert.ok(message.html.length > 1600 && message.html.length < 2600, message.html.length);
    const plain = await sim.control('seed', { messages: 1, bytes: 5000, plain: true, role: 'assistant' });
    const [long] = (await sim.state()).conversations.find((c) => c.id === plain.conversation).messages;
    assert.equal(long.text.length, 5000);
  });

  test('a reload call makes the open pages of a conversation reload', LIMIT, async () => {
    const id = (await sendMessage(sim, cookie, 'new', 'hi')).json.conversation_id;
    const stream = await sim.open(`/backend/events?conversation=${id}`, { headers: { Cookie: cookie } });
    const reloaded = nextEvent(stream, 'reload');
    await waitFor(sim, (state) => state.pages === 1, 'the page to connect');
    assert.equal((await sim.control('reload', { conversation: id.toUpperCase() })).pages, 1);
    await reloaded;
    stream.destroy();
  });
});

describe('state and settings', () => {
  test('reset forgets conversations and faults but keeps the browser signed in', LIMIT, async () => {
    await sendMessage(sim, cookie, 'new', 'hi');
    await sim.control('next-answer', { untagged: true });
    await sim.control('refuse-send', { count: 2 });
    await sim.control('stall-send', { count: 1 });
    await sim.control('page', { locale: 'fr', keepLast: 3 });
    await sim.control('reset');
    const state = await sim.state();
    assert.deepEqual(state.conversations, []);
    assert.deepEqual(state.pending, { answers: [], refusals: 0, stalledLoads: 0, stalledSends: 0 });
    assert.equal(state.variant.locale, 'en');
    assert.equal(state.variant.keepLast, 0);
    assert.deepEqual(bootState((await sim.request('GET', '/dots/home', { cookie })).text).route, { kind: 'home' });
  });

  test('new conversations can get upper-case ids, found in either case', LIMIT, async () => {
    await sim.control('options', { uuidCase: 'upper' });
    const id = (await sendMessage(sim, cookie, 'new', 'hi')).json.conversation_id;
    assert.match(id, /^[0-9A-F]{8}(?:-[0-9A-F]{4}){3}-[0-9A-F]{12}$/);
    for (const path of [`/dots/${id}`, `/dots/${id.toLowerCase()}/`]) {
      assert.deepEqual(bootState((await sim.request('GET', path, { cookie })).text).route, { kind: 'conversation', id }, path);
    }
  });

  test('home can be one standing conversation that keeps its address', LIMIT, async () => {
    assert.deepEqual(await sim.control('options', { homeIsConversation: true }), { ok: true, uuidCase: 'lower', homeIsConversation: true, handoffs: 'asked' });
    assert.deepEqual(bootState((await sim.request('GET', '/dots/home', { cookie })).text).route, { kind: 'conversation', id: 'home' });
    for (const text of ['first', 'second']) {
      assert.equal((await sendMessage(sim, cookie, 'home', text)).json.conversation_id, 'home');
      await idleConversation(sim, 'home');
    }
    const state = await sim.state();
    assert.deepEqual(state.conversations.map((c) => [c.id, c.url, c.messages.length]), [['home', `${sim.origin}/dots/home`, 4]]);
  });

  test('answers can hand off without being asked, until a reset', LIMIT, async () => {
    await sim.control('options', { handoffs: 'always' });
    const delegating = await answered(null, composePayload({ id: 'R-1', token: TOKEN, crew: CREW, text: 'Plan it.' }));
    assert.match(delegating.messages[1].text, /quorvane-handoff[\s\S]*"request_id":"R-1","handoffs":\[\{"to":"muse"/);
    await sim.control('reset');
    const plain = await answered(null, composePayload({ id: 'R-2', token: TOKEN, crew: CREW, text: 'Plan it.' }));
    assert.doesNotMatch(plain.messages[1].text, /quorvane-handoff/);
  });

  test('the profile name and picture can change', LIMIT, async () => {
    const before = (await sim.state()).profile;
    const { profile } = await sim.control('profile', { name: 'Juniper', color: '#ff8800' });
    assert.equal(profile.name, 'Juniper');
    assert.notEqual(profile.avatar_url, before.avatar_url);
    assert.equal((await sim.request('GET', new URL(before.avatar_url).pathname)).status, 404);
    assert.equal((await sim.request('GET', new URL(profile.avatar_url).pathname)).status, 200);
    const conversation = await answered(null, composePayload({ name: 'Juniper', text: 'hi' }));
    assert.match(conversation.messages[1].text, /^\*\*Juniper\*\* here\./);
  });

  test('a message can be placed in a conversation as if the service wrote it', LIMIT, async () => {
    const id = (await sendMessage(sim, cookie, 'new', 'hi')).json.conversation_id;
    await idleConversation(sim, id);
    const { message } = await sim.control('inject', { conversation: id, text: '[qv:000000000000]\n\nOut of the blue' });
    const conversation = await idleConversation(sim, id);
    assert.deepEqual(conversation.messages.at(-1), message);
    assert.equal(message.role, 'assistant');
  });

  test('one conversation can be read by its id in either case', LIMIT, async () => {
    const id = (await sendMessage(sim, cookie, 'new', 'hi')).json.conversation_id;
    const conversation = await idleConversation(sim, id);
    const read = await sim.request('GET', `/__control/conversations/${id.toUpperCase()}`);
    assert.deepEqual(read.json, conversation);
    const missing = await sim.request('GET', '/__control/conversations/0b0b0b0b-1111-2222-3333-444455556666');
    assert.equal(missing.status, 404);
    assert.equal(missing.json.error.message, 'No such conversation.');
  });

  const refusals = [
    ['unknown call', 'launch', {}, 404, 'Unknown control call /__control/launch.'],
    ['unknown answer option', 'next-answer', { sparkle: true }, 400, 'Unknown answer option "sparkle".'],
    ['bad count', 'next-answer', { count: 0 }, 400, 'The count must be a positive whole number.'],
    ['bad colour', 'profile', { color: 'red' }, 400, 'The colour must look like #6d5efc.'],
    ['bad uuid case', 'options', { uuidCase: 'mixed' }, 400, 'uuidCase is "lower" or "upper".'],
    ['bad home setting', 'options', { homeIsConversation: 'yes' }, 400, 'homeIsConversation is true or false.'],
    ['bad handoff mode', 'options', { handoffs: 'sometimes' }, 400, 'handoffs is one of "asked", "always", "self", "unclosed".'],
    ['missing conversation', 'inject', { conversation: 'nope', text: 'x' }, 404, 'No such conversation.'],
  ];
  for (const [name, call, body, status, message] of refusals) {
    test(`refuses a bad control call: ${name}`, LIMIT, async () => {
      const response = await post(sim, `/__control/${call}`, body);
      assert.equal(response.status, status);
      assert.equal(response.json.error.message, message);
    });
  }

  test('refuses a control body that is not JSON', LIMIT, async () => {
    const response = await sim.request('POST', '/__control/reset', { body: '{oops' });
    assert.equal(response.status, 400);
    assert.equal(response.json.error.message, 'The control call body is not JSON.');
  });
});
