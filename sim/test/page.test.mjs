// The page's script, run without a browser against a live simulator: what it shows after the
// first message from home, as a client-side route change.

import assert from 'node:assert/strict';
import { setTimeout as sleep } from 'node:timers/promises';
import { after, before, describe, test } from 'node:test';

import { startSimulator } from '../harness.mjs';
import { openPage } from './page-runner.mjs';
import { sessionCookie } from './util.mjs';

const LIMIT = { timeout: 60000 };

const byTestId = (id) => (el) => el.getAttribute('data-testid') === id;
const byRole = (role) => (el) => el.getAttribute('data-message-author-role') === role;
const heroShown = (page) => page.findAll((el) => el.nodeName === 'H1').some((el) => el.textContent === 'What can I help with?');

// Waits (bounded) until check() returns something truthy, and returns it.
async function until(check, what) {
  for (let i = 0; i < 300; i += 1) {
    const found = check();
    if (found) return found;
    await sleep(20);
  }
  throw new Error(`Gave up waiting for ${what}.`);
}

function streamConversation(stream) {
  return new URL(stream.url, 'https://x').searchParams.get('conversation');
}

describe('page script', () => {
  let sim;
  let cookie;
  const pages = [];
  before(async () => {
    sim = await startSimulator({ args: ['--signed-in'] });
    cookie = await sessionCookie(sim);
  });
  after(async () => {
    for (const page of pages) page.close();
    await sim?.stop();
  });

  async function open(path) {
    const page = await openPage(sim, cookie, path);
    pages.push(page);
    return page;
  }

  test('the first message from home shows the new conversation and follows its answer without a reload', LIMIT, async () => {
    const page = await open('/dots/home');
    assert.equal(heroShown(page), true);
    assert.deepEqual(page.streams.map(streamConversation), ['home']);

    page.type('Hello from home');
    page.find(byTestId('send-button')).click();
    const id = await until(() => page.pushed.length > 0 && page.pushed[0].slice('/dots/'.length), 'the address to change');

    // The address moved within the same document, and the conversation replaced the welcome screen.
    assert.deepEqual(page.pushed, [`/dots/${id}`]);
    assert.deepEqual(page.reloads, []);
    assert.equal(heroShown(page), false);
    const log = page.find((el) => el.getAttribute('role') === 'log');
    assert.ok(log, 'the conversation thread is on the page');
    const user = page.findAll(byRole('user'));
    assert.equal(user.length, 1);
    assert.equal(user[0].textContent, 'Hello from home');
    assert.equal(log.findAll(byRole('user'))[0], user[0], 'the message is inside the thread');
    const current = page.find((el) => el.getAttribute('aria-current') === 'page');
    assert.equal(current?.getAttribute('href'), `/dots/${id}`);
    assert.equal(page.title, 'Hello from home \u2013 Dot');

    // It now follows the new conversation's stream, not home's.
    assert.deepEqual(page.streams.map(streamConversation), ['home', id]);
    assert.equal(page.streams[0].readyState, 2);

    // The answer streams in while the stop control shows, then settles.
    const streaming = await until(() => page.findAll(byRole('assistant')).find((el) => el.getAttribute('aria-busy') === 'true'), 'the answer to start streaming');
    assert.equal(streaming.getAttribute('data-message-id').length, 36);
    await until(() => page.find(byTestId('stop-button')), 'the stop control');
    const done = await until(() => {
      const answer = page.findAll(byRole('assistant'))[0];
      return answer && answer.getAttribute('aria-busy') === null && page.find(byTestId('send-button')) && answer;
    }, 'the answer to finish');
    assert.match(done.textContent, /^Dot here\.\n*You wrote: \u201cHello from home\u201d/);
    const stored = (await sim.request('GET', `/__control/conversations/${id}`)).json;
    assert.deepEqual(page.findAll((el) => el.getAttribute('data-message-id') !== null).map((el) => el.getAttribute('data-message-id')),
      stored.messages.map((m) => m.id));
    assert.deepEqual(page.reloads, []);
  });

  test('bloatLast and nestLast change only the newest message: filler paragraphs at its end, its content deep inside', LIMIT, async () => {
    const { conversation } = await sim.control('seed', { messages: 3, bytes: 40, plain: true, role: 'assistant' });
    await sim.control('page', { bloatLast: 2500, nestLast: 50 });
    try {
      const page = await open(`/dots/${conversation}`);
      const messages = page.findAll(byRole('assistant'));
      assert.equal(messages.length, 3);
      const [first, , newest] = messages;
      const depth = (element) => {
        let levels = 0;
        for (let node = element; node.childNodes.length === 1 && node.childNodes[0].nodeType === 1; node = node.childNodes[0]) levels += 1;
        return levels;
      };
      assert.ok(depth(newest) >= 50, `the content is ${depth(newest)} elements deep`);
      assert.ok(depth(first) < 5);
      const filler = newest.findAll((el) => el.nodeName === 'P').slice(-3).map((p) => p.textContent);
      assert.deepEqual(filler.map((text) => text.length), [1000, 1000, 500]);
      for (const text of filler) assert.match(text, /^the page wrote this paragraph itself the page/);
      assert.equal(first.textContent.length, 40, 'older messages stay as stored');
    } finally {
      await sim.control('page', { reset: true });
    }
  });

  test('with home as a standing conversation, the page stays at home and shows its messages there', LIMIT, async () => {
    await sim.control('options', { homeIsConversation: true });
    try {
      const page = await open('/dots/home');
      assert.equal(heroShown(page), false);
      page.type('Stay at home');
      page.find(byTestId('send-button')).click();
      const user = await until(() => page.findAll(byRole('user')).find((el) => el.textContent === 'Stay at home'), 'the message to show');
      assert.ok(user.isConnected);
      await until(() => page.findAll(byRole('assistant')).length > 0, 'the answer to show');
      assert.deepEqual(page.pushed, []);
      assert.equal(page.location.pathname, '/dots/home');
      assert.deepEqual(page.streams.map(streamConversation), ['home']);
      assert.equal(page.streams[0].readyState, 1);
    } finally {
      await sim.control('options', { homeIsConversation: false });
    }
  });
});
