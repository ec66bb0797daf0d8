import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { connect } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';

import { readEvents, startSimulator } from '../harness.mjs';
import { TAG_PATTERN, composePayload } from './payload.mjs';
import { bootState, idleConversation, post, sendMessage, sessionCookie, waitFor } from './util.mjs';

// A test that hangs fails on its own and lets the hooks stop the simulators.
const LIMIT = { timeout: 60000 };
const UUID = /^[0-9a-f]{8}(?:-[0-9a-f]{4}){3}-[0-9a-f]{12}$/;
const CREW = [{ id: 'muse', name: 'Muse', personality: 'Poetic' }];

function portIsClosed(port) {
  return new Promise((resolve) => {
    const socket = connect(port, '127.0.0.1');
    socket.on('connect', () => { socket.destroy(); resolve(false); });
    socket.on('error', () => resolve(true));
  });
}

describe('process', () => {
  test('starts on a system-chosen port, prints its ready line and writes the configuration', LIMIT, async () => {
    const sim = await startSimulator();
    try {
      assert.match(sim.line, /^READY https:\/\/127\.0\.0\.1:\d+ \/.+\/tls\/cert\.pem$/);
      assert.notEqual(sim.port, 0);
      const host = `127.0.0.1:${sim.port}`;
      assert.deepEqual(JSON.parse(readFileSync(sim.configPath, 'utf8')), {
        mainHost: host, staticHost: host, userContentHost: host, companyHost: host, homePath: '/dots', trustedCertificate: sim.certPath,
      });
      assert.match(readFileSync(sim.certPath, 'utf8'), /^-----BEGIN CERTIFICATE-----\n/);
      // The request trusts only that certificate, so it succeeding proves the server presents it.
      assert.equal((await sim.request('GET', '/dots')).status, 302);
    } finally {
      await sim.stop();
    }
  });

  for (const [name, stopIt] of [
    ['SIGTERM', (sim) => sim.child.kill('SIGTERM')],
    ['SIGINT', (sim) => sim.child.kill('SIGINT')],
    ['the stop control call', (sim) => sim.control('stop')],
    ['standard input closing', (sim) => sim.child.stdin.end()],
  ]) {
    test(`stops cleanly on ${name}, even with an event stream open`, LIMIT, async () => {
      const sim = await startSimulator({ args: ['--signed-in'] });
      try {
        const cookie = await sessionCookie(sim);
        const stream = await sim.open('/backend/events?conversation=home', { headers: { Cookie: cookie } });
        assert.equal(stream.statusCode, 200);
        await stopIt(sim);
        assert.deepEqual(await sim.exited, { code: 0, signal: null });
        assert.ok(await portIsClosed(sim.port), 'the port still accepts connections');
      } finally {
        await sim.stop();
      }
    });
  }

  test('keeps its certificate and conversations in the state folder across restarts', LIMIT, async () => {
    const dir = mkdtempSync(join(tmpdir(), 'dot-sim-restart-'));
    try {
      const first = await startSimulator({ stateDir: dir, args: ['--signed-in'] });
      let id;
      const certificate = readFileSync(first.certPath, 'utf8');
      let cookie;
      try {
        cookie = await sessionCookie(first);
        id = (await sendMessage(first, cookie, 'new', 'Remember me')).json.conversation_id;
        await idleConversation(first, id);
      } finally {
        await first.stop();
      }
      const second = await startSimulator({ stateDir: dir });
      try {
        assert.equal(readFileSync(second.certPath, 'utf8'), certificate);
        // The browser's cookie is still good, although this start does not sign everyone in.
        const page = bootState((await second.request('GET', `/dots/${id}`, { cookie })).text);
        assert.deepEqual(page.route, { kind: 'conversation', id });
        assert.deepEqual(page.view.conversation.messages.map((m) => m.author.role), ['user', 'assistant']);
        assert.equal(page.view.conversation.messages[0].content.text, 'Remember me');
      } finally {
        await second.stop();
      }
    } finally {
      rmSync(dir, { recursive: true, force: true });
    }
  });

  test('refuses a bad port with a usage message', LIMIT, async () => {
    const child = spawn(process.execPath, [join(import.meta.dirname ?? new URL('.', import.meta.url).pathname, '..', 'server.mjs'), '--port', 'abc'], { stdio: ['ignore', 'pipe', 'pipe'] });
    let stderr = '';
    child.stderr.on('data', (c) => { stderr += c; });
    const code = await new Promise((resolve) => child.on('exit', resolve));
    assert.equal(code, 2);
    assert.match(stderr, /^dot-sim: --port must be a number from 0 to 65535, not "abc"\.\n/);
  });
});

describe('pages and sign-in', () => {
  let sim;
  before(async () => { sim = await startSimulator(); });
  after(async () => { await sim?.stop(); });

  test('the bare addresses lead to the home conversation page', LIMIT, async () => {
    assert.equal((await sim.request('GET', '/')).headers.location, '/dots');
    assert.equal((await sim.request('GET', '/dots')).headers.location, '/dots/home');
    assert.equal((await sim.request('GET', '/dots/')).headers.location, '/dots/home');
    assert.equal((await sim.request('GET', '/dots/not-a-uuid')).status, 404);
  });

  test('a visitor without a session sees the sign-in step and the backend refuses it', LIMIT, async () => {
    const page = await sim.request('GET', '/dots/home');
    assert.equal(page.status, 200);
    assert.deepEqual(bootState(page.text).route, { kind: 'signIn', expired: false });
    const refused = await sendMessage(sim, undefined, 'new', 'Hi');
    assert.equal(refused.status, 401);
    assert.equal(refused.json.error.message, 'Your session has expired. Please sign in again.');
  });

  test('signing in through the popup sets a lasting cookie and tells the opener', LIMIT, async () => {
    const form = await sim.request('GET', '/auth/signin?popup=1');
    assert.match(form.text, /<form[^>]+method="post" action="\/auth\/signin">/);
    const done = await sim.request('POST', '/auth/signin', { body: 'email=a%40b.c&password=x&popup=1&next=', headers: { 'Content-Type': 'application/x-www-form-urlencoded' } });
    assert.equal(done.status, 200);
    assert.match(done.text, /window\.opener\.postMessage\(\{ type: 'dot:signed-in' \}, location\.origin\)/);
    assert.match(done.text, /window\.close\(\)/);
    const cookie = done.headers['set-cookie'][0];
    assert.match(cookie, /^__dot_session=[\w-]+; Path=\/; Max-Age=\d+; Secure; HttpOnly; SameSite=Lax$/);
    const page = await sim.request('GET', '/dots/home', { cookie: cookie.split(';')[0] });
    assert.deepEqual(bootState(page.text).route, { kind: 'home' });
  });

  test('signing in without a popup returns to the page it came from, never elsewhere', LIMIT, async () => {
    const form = { 'Content-Type': 'application/x-www-form-urlencoded' };
    const id = '0b0b0b0b-1111-2222-3333-444455556666';
    assert.equal((await sim.request('POST', '/auth/signin', { body: `next=%2Fdots%2F${id}`, headers: form })).headers.location, `/dots/${id}`);
    assert.equal((await sim.request('POST', '/auth/signin', { body: 'next=https%3A%2F%2Fevil.example%2F', headers: form })).headers.location, '/dots/home');
  });

  test('an unknown conversation is a not-found page', LIMIT, async () => {
    const cookie = await signIn(sim);
    const page = await sim.request('GET', '/dots/0b0b0b0b-1111-2222-3333-444455556666', { cookie });
    assert.equal(page.status, 404);
    assert.deepEqual(bootState(page.text).route, { kind: 'missing' });
  });

  test('the profile avatar is a PNG at the address the page shows', LIMIT, async () => {
    const cookie = await signIn(sim);
    const view = bootState((await sim.request('GET', '/dots/home', { cookie })).text).view;
    assert.equal(view.profile.name, 'Dot');
    const avatar = await sim.request('GET', new URL(view.profile.avatar_url).pathname);
    assert.equal(avatar.headers['content-type'], 'image/png');
  });
});

async function signIn(sim) {
  const done = await sim.request('POST', '/auth/signin', { body: 'popup=1', headers: { 'Content-Type': 'application/x-www-form-urlencoded' } });
  return done.headers['set-cookie'][0].split(';')[0];
}

describe('conversations', () => {
  let sim;
  let cookie;
  before(async () => {
    sim = await startSimulator({ args: ['--signed-in'] });
    cookie = await sessionCookie(sim);
  });
  after(async () => { await sim?.stop(); });

  test('the first message from home creates a conversation and keeps exactly what was typed', LIMIT, async () => {
    const typed = '  Line one\n\nLine three with trailing spaces   \n';
    const sent = await sendMessage(sim, cookie, 'new', typed);
    assert.equal(sent.status, 200);
    assert.match(sent.json.conversation_id, UUID);
    const conversation = await idleConversation(sim, sent.json.conversation_id);
    assert.equal(conversation.messages[0].typed, typed);
    assert.equal(conversation.messages[0].text, 'Line one\n\nLine three with trailing spaces');
    assert.equal(conversation.messages[0].id, sent.json.message_id);
    assert.equal(conversation.url, `${sim.origin}/dots/${sent.json.conversation_id}`);
  });

  test('an answer streams in growing pieces while the page is busy, then settles', LIMIT, async () => {
    const stream = await sim.open('/backend/events?conversation=home', { headers: { Cookie: cookie } });
    const payload = composePayload({ id: 'S-1', token: 'abcdef012345', crew: CREW, text: 'Tell me a story' });
    const first = await sendMessage(sim, cookie, 'new', payload);
    const id = first.json.conversation_id;
    stream.destroy();

    const readings = [];
    const events = await sim.open(`/backend/events?conversation=${id}`, { headers: { Cookie: cookie } });
    await new Promise((resolve) => {
      readEvents(events, (name, data) => {
        if (name !== 'state') return;
        const answer = data.conversation.messages.find((m) => m.author.role === 'assistant');
        readings.push({ busy: data.conversation.busy, html: answer?.content.html ?? '', status: answer?.status });
        if (!data.conversation.busy) resolve();
      });
    });
    events.destroy();
    const growing = readings.filter((r) => r.status === 'streaming' && r.html);
    assert.ok(growing.length >= 3, `only ${growing.length} readings while streaming`);
    assert.ok(growing.every((r, i) => r.busy && (i === 0 || r.html.length > growing[i - 1].html.length)), 'the answer did not grow');
    assert.deepEqual(readings.at(-1), { ...readings.at(-1), busy: false, status: 'done' });

    const conversation = await idleConversation(sim, id);
    const answer = conversation.messages[1];
    assert.equal(TAG_PATTERN.exec(answer.text)?.[1], 'abcdef012345');
    assert.match(answer.html, /^<p>\[qv:abcdef012345\]<\/p><p><strong>Dot<\/strong> here\.<\/p>/);
    assert.deepEqual(conversation.crew, { revision: 'a'.repeat(64), members: CREW });
  });

  test('the conversation remembers its crew, so a later request without a setup is tagged', LIMIT, async () => {
    const id = (await sendMessage(sim, cookie, 'new', composePayload({ id: 'C-1', token: '111111111111', crew: CREW, text: 'one' }))).json.conversation_id;
    await idleConversation(sim, id);
    await sendMessage(sim, cookie, id, composePayload({ id: 'C-2', token: '222222222222', text: 'two' }));
    const conversation = await idleConversation(sim, id);
    assert.equal(TAG_PATTERN.exec(conversation.messages[3].text)?.[1], '222222222222');
  });

  test('a tagged request in a conversation that never got the crew rules is answered untagged', LIMIT, async () => {
    const id = (await sendMessage(sim, cookie, 'new', composePayload({ id: 'U-1', token: '333333333333', text: 'hello' }))).json.conversation_id;
    const conversation = await idleConversation(sim, id);
    assert.equal(TAG_PATTERN.test(conversation.messages[1].text), false);
    assert.equal(conversation.crew, null);
  });

  test('sending while an answer streams is refused; the stop control ends the answer where it is', LIMIT, async () => {
    await sim.control('next-answer', { durationMs: 20000 });
    const id = (await sendMessage(sim, cookie, 'new', 'slowly please')).json.conversation_id;
    await waitFor(sim, (state) => state.conversations.find((c) => c.id === id)?.messages[1], 'the answer to begin');
    const busy = await sendMessage(sim, cookie, id, 'and another');
    assert.equal(busy.status, 409);
    assert.equal(busy.json.error.message, 'Wait for the current answer to finish, or stop it.');
    assert.equal((await post(sim, `/backend/conversations/${id}/stop`, {}, cookie)).status, 200);
    const conversation = await idleConversation(sim, id);
    assert.equal(conversation.messages.length, 2);
    assert.equal(conversation.messages[1].status, 'stopped');
  });

  for (const [name, path, body, message] of [
    ['an empty message', '/backend/conversations/new/messages', JSON.stringify({ text: ' \n ' }), 'Type a message first.'],
    ['a message that is not JSON', '/backend/conversations/new/messages', '{"text":', 'The message could not be read.'],
    ['an upload that is not JSON', '/backend/files', 'name=x', 'The upload could not be read.'],
    ['an upload without data', '/backend/files', JSON.stringify({ name: 'x' }), 'The upload is incomplete.'],
  ]) {
    test(`refuses ${name}`, LIMIT, async () => {
      const before = (await sim.state()).conversations.length;
      const refused = await sim.request('POST', path, { body, cookie, headers: { 'Content-Type': 'application/json' } });
      assert.equal(refused.status, 400);
      assert.equal(refused.json.error.message, message);
      assert.equal((await sim.state()).conversations.length, before);
    });
  }

  test('uploaded files travel with the message and answers can bring pictures', LIMIT, async () => {
    const upload = await post(sim, '/backend/files', { name: 'plan.txt', type: 'text/plain', data: Buffer.from('the plan').toString('base64') }, cookie);
    const file = upload.json.file;
    assert.deepEqual({ kind: file.kind, title: file.title }, { kind: 'file', title: 'plan.txt' });
    const id = (await sendMessage(sim, cookie, 'new', 'Please draw this', { attachments: [file.id] })).json.conversation_id;
    const conversation = await idleConversation(sim, id);
    assert.deepEqual(conversation.messages[0].attachments, [file]);
    assert.equal((await sim.request('GET', new URL(file.url).pathname)).text, 'the plan');
    const picture = conversation.messages[1].attachments[0];
    assert.equal(picture.kind, 'image');
    assert.equal((await sim.request('GET', new URL(picture.url).pathname)).headers['content-type'], 'image/png');
  });

  test('a reload shows the same conversation', LIMIT, async () => {
    const id = (await sendMessage(sim, cookie, 'new', 'Keep this')).json.conversation_id;
    const conversation = await idleConversation(sim, id);
    const page = bootState((await sim.request('GET', `/dots/${id}`, { cookie })).text);
    assert.deepEqual(page.view.conversation.messages.map((m) => m.id), conversation.messages.map((m) => m.id));
    assert.ok(page.view.conversations.some((c) => c.id === id && c.title === 'Keep this'));
  });
});
