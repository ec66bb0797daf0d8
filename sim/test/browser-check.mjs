// Drives the simulator's page in a real Chromium the way a person (and a page adapter) would.
// Not part of the CTest suite, because it needs playwright-core from npm:
//
//   (cd /tmp/pw && npm install playwright-core)
//   node sim/test/browser-check.mjs --playwright /tmp/pw/node_modules/playwright-core [--screenshots DIR]
//
// It uses Debian's /usr/bin/chromium and exits non-zero on the first failed check.

import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';
import { parseArgs } from 'node:util';

import { startSimulator } from '../harness.mjs';
import { composePayload } from './payload.mjs';

const { values } = parseArgs({ options: { playwright: { type: 'string' }, screenshots: { type: 'string' } } });
if (!values.playwright) throw new Error('Give --playwright <path of the playwright-core package>.');
const { chromium } = createRequire(import.meta.url)(resolve(values.playwright));

const sim = await startSimulator();
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--headless', '--no-sandbox', '--disable-gpu'] });
const shot = async (page, name) => {
  if (values.screenshots) await page.screenshot({ path: join(values.screenshots, `${name}.png`) });
};
const composer = '[contenteditable="true"][role="textbox"]';
const lastConversation = async () => (await sim.state()).conversations[0];
const step = (name) => process.stdout.write(`check: ${name}\n`);

try {
  const context = await browser.newContext({ ignoreHTTPSErrors: true, viewport: { width: 1100, height: 760 } });
  const page = await context.newPage();

  step('signing in through the popup');
  await page.goto(`${sim.origin}/dots`);
  assert.equal(new URL(page.url()).pathname, '/dots/home');
  await page.getByRole('heading', { name: 'Welcome to Dot' }).waitFor();
  await shot(page, '1-sign-in');
  const [popup] = await Promise.all([page.waitForEvent('popup'), page.getByTestId('login-button').click()]);
  const closed = popup.waitForEvent('close');
  await popup.getByRole('button', { name: 'Continue' }).click();
  await closed;
  await page.locator(composer).waitFor();
  assert.equal(await page.getByTestId('profile-button').innerText(), 'Dot');

  step('typing enables the send button; Enter sends and moves to the new conversation');
  assert.equal(await page.getByTestId('send-button').isDisabled(), true);
  await page.locator(composer).click();
  await page.keyboard.type('Hello');
  await page.keyboard.press('Shift+Enter');
  await page.keyboard.type('world');
  assert.equal(await page.getByTestId('send-button').isDisabled(), false);
  // A marker on the document shows that the page moved to the conversation without a new load.
  await page.evaluate(() => { window.__sameDocument = true; });
  await page.keyboard.press('Enter');
  await page.waitForURL(/\/dots\/[0-9a-f-]{36}$/, { waitUntil: 'commit' });

  step('the new conversation replaces the home screen at once and its answer streams in');
  await page.getByRole('log', { name: 'Conversation' }).locator('[data-message-author-role="user"]').waitFor();
  assert.equal(await page.getByRole('heading', { name: 'What can I help with?' }).count(), 0);
  await page.locator('[data-message-author-role="assistant"][aria-busy="true"]').waitFor();
  await page.getByTestId('stop-button').waitFor();
  assert.equal(await page.evaluate(() => window.__sameDocument), true);
  const newId = new URL(page.url()).pathname.split('/').pop();
  assert.equal(await page.locator('nav[aria-label="Chat history"] a[aria-current="page"]').getAttribute('href'), `/dots/${newId}`);
  await page.getByTestId('send-button').waitFor({ timeout: 15000 });
  assert.equal(await page.evaluate(() => window.__sameDocument), true);
  let conversation = await lastConversation();
  assert.equal(conversation.id, newId);
  assert.equal(conversation.messages[0].typed, 'Hello\nworld');
  assert.equal(await page.locator('[data-message-author-role="user"]').first().innerText(), 'Hello\nworld');
  assert.match(await page.locator('[data-message-author-role="assistant"]').first().innerText(), /^Dot here\./);

  step('text inserted as an editor command keeps every line break');
  const payload = composePayload({ id: 'B-1', token: 'abcdefabcdef', crew: [{ id: 'muse', name: 'Muse', personality: 'Poet' }], handoffsAllowed: true, text: 'First\n\n\nafter two blank lines\nask Muse to write a poem' });
  await page.locator(composer).focus();
  await page.evaluate((text) => document.execCommand('insertText', false, text), payload);
  assert.equal(await page.getByTestId('send-button').isDisabled(), false);
  await page.getByTestId('send-button').click();
  await page.getByTestId('stop-button').waitFor();
  await page.getByTestId('send-button').waitFor({ timeout: 15000 });
  conversation = await lastConversation();
  assert.equal(conversation.messages[2].typed, payload);
  const answer = page.locator('[data-message-author-role="assistant"]').last();
  const answerText = await answer.innerText();
  assert.match(answerText, /^\[qv:abcdefabcdef\]\n/);
  assert.match(answerText, /\nquorvane-handoff\n\{"request_id":"B-1","handoffs":\[\{"to":"muse","task":"write a poem"\}\]\}/);
  await shot(page, '2-conversation');

  step('text placed without input events is not taken');
  await page.locator(composer).evaluate((el) => { el.textContent = 'silent'; });
  assert.equal(await page.getByTestId('send-button').isDisabled(), true);
  await page.locator(composer).evaluate((el) => el.replaceChildren());

  step('a reload shows the same messages with the same ids');
  const idsBefore = await page.locator('[data-message-id]').evaluateAll((els) => els.map((e) => e.dataset.messageId));
  await page.reload();
  await page.locator('[data-message-id]').first().waitFor();
  assert.deepEqual(await page.locator('[data-message-id]').evaluateAll((els) => els.map((e) => e.dataset.messageId)), idsBefore);

  step('a refused send shows the reason and keeps the draft');
  await sim.control('refuse-send', { reason: 'Too many messages. Try again later.' });
  await page.locator(composer).click();
  await page.keyboard.type('refuse me');
  await page.keyboard.press('Enter');
  assert.equal(await page.getByRole('alert').innerText(), 'Too many messages. Try again later.\n\u00d7');
  assert.equal(await page.locator(composer).innerText(), 'refuse me');

  step('a dialog blocks the page until dismissed');
  await sim.control('dialog', { title: 'Updated terms', body: 'Please accept.', button: 'Accept' });
  await page.getByRole('dialog').waitFor();
  assert.equal(await page.getByTestId('send-button').isDisabled(), true);
  await shot(page, '3-dialog');
  await page.getByRole('button', { name: 'Accept' }).click();
  await page.getByRole('dialog').waitFor({ state: 'detached' });

  step('duplicated ids and multi-part answers render as asked');
  await sim.control('next-answer', { parts: 2, duplicateIds: true });
  await page.locator(composer).click();
  await page.keyboard.press('Enter');
  await page.getByTestId('stop-button').waitFor();
  await page.getByTestId('send-button').waitFor({ timeout: 15000 });
  conversation = await lastConversation();
  const [first, second] = conversation.messages.slice(-2).map((m) => m.id);
  assert.equal(await page.locator(`[data-message-id="${first}"]`).count(), 2);
  assert.equal(await page.locator(`[data-message-id="${second}"]`).count(), 2);

  step('the page reloads itself on request and keeps its content');
  const reloaded = page.waitForEvent('load');
  await sim.control('reload');
  await reloaded;
  await page.locator('[data-message-id]').first().waitFor();

  step('with home as a standing conversation, messages sent at home stay there and show at once');
  await sim.control('options', { homeIsConversation: true });
  await page.goto(`${sim.origin}/dots/home`);
  await page.locator(composer).click();
  await page.keyboard.type('Stay at home');
  await page.evaluate(() => { window.__sameDocument = true; });
  await page.keyboard.press('Enter');
  await page.locator('[data-message-author-role="user"]', { hasText: 'Stay at home' }).waitFor();
  await page.locator('[data-message-author-role="assistant"]').first().waitFor();
  await page.getByTestId('send-button').waitFor({ timeout: 15000 });
  assert.equal(new URL(page.url()).pathname, '/dots/home');
  assert.equal(await page.evaluate(() => window.__sameDocument), true);
  await sim.control('options', { homeIsConversation: false });

  step('an expired sign-in shows the sign-in step in place');
  await sim.control('expire-sign-in');
  await page.getByRole('heading', { name: 'Your session has expired' }).waitFor();
  assert.equal(await page.locator(composer).count(), 0);
  await sim.control('sign-in');
  await page.locator(composer).waitFor({ timeout: 10000 });
  process.stdout.write('browser check passed\n');
} finally {
  await browser.close();
  await sim.stop();
}
