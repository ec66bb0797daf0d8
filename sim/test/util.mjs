// Small steps the simulator's tests share: acting as the page's own scripts would.

import { setTimeout as sleep } from 'node:timers/promises';

// A session cookie, taken the way a browser gets one on a simulator started --signed-in.
export async function sessionCookie(sim) {
  const page = await sim.request('GET', '/dots/home');
  const cookie = [page.headers['set-cookie'] ?? []].flat().find((c) => c.startsWith('__dot_session='));
  if (!cookie) throw new Error('The simulator set no session cookie.');
  return cookie.split(';')[0];
}

export async function post(sim, path, body, cookie) {
  return sim.request('POST', path, { body: JSON.stringify(body), headers: { 'Content-Type': 'application/json' }, cookie });
}

export async function sendMessage(sim, cookie, conversation, text, extra = {}) {
  return post(sim, `/backend/conversations/${conversation}/messages`, { text, ...extra }, cookie);
}

// Waits (bounded) until check(state) returns something truthy, and returns it.
export async function waitFor(sim, check, what = 'the simulator state') {
  for (let i = 0; i < 300; i += 1) {
    const found = check(await sim.state());
    if (found) return found;
    await sleep(50);
  }
  throw new Error(`Gave up waiting for ${what}.`);
}

export async function idleConversation(sim, id) {
  return waitFor(sim, (state) => state.conversations.find((c) => c.id === id && !c.busy), `conversation ${id} to finish answering`);
}

// The state a page document was rendered with.
export function bootState(html) {
  const found = /<script id="__DOT_STATE__" type="application\/json">([\s\S]*?)<\/script>/.exec(html);
  if (!found) throw new Error('The page carries no embedded state.');
  return JSON.parse(found[1]);
}
