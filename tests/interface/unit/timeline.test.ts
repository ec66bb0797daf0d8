// The handoff timeline: the tree of tasks one message started and the limit that stopped it.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { handoffCounts, handoffTimeline, refusedHandoffReply, timelineSummary } from '../../../web/interface/src/logic/timeline';
import type { Account, ChatMessage, Handoff, PendingRequest } from '../../../web/interface/src/state';

const handoff = (id: string, from: string, to: string, parent?: string, status = 'complete'): Handoff => ({
  id, rootRequestID: 'R', sourceBotID: from, targetBotID: to, task: `task ${id}`, status,
  ...(parent ? { parentRequestID: parent } : {}),
});
const message = (id: string, botID: string, text = 'An answer.'): ChatMessage => ({
  id, botID, role: id.endsWith('-reply') ? 'assistant' : 'handoff', text, date: '2026-12-10T10:00:00Z', status: 'sent',
});
const account = (handoffs: Handoff[], messages: ChatMessage[] = [], jobs: PendingRequest[] = []) =>
  ({ handoffs, messages, jobs }) as Pick<Account, 'handoffs' | 'messages' | 'jobs'>;

// Dot asked Muse and Sage; Muse asked Sage, who asked Muse (depth 3), whose answer tried again.
const chain = [handoff('h1', 'dot', 'muse'), handoff('h2', 'dot', 'sage'), handoff('h3', 'muse', 'sage', 'h1'),
  handoff('h4', 'sage', 'muse', 'h3')];

test('the tree is read in the order the tasks were made, each under the task it came from', () => {
  const timeline = handoffTimeline(account(chain, [message('h1', 'muse'), message('h4-reply', 'muse')]), 'R');
  assert.deepEqual(timeline?.steps.map((s) => [s.handoff.id, s.depth]), [['h1', 1], ['h3', 2], ['h4', 3], ['h2', 1]]);
  assert.equal(timeline?.steps[0]?.taskMessageID, 'h1');
  assert.equal(timeline?.steps[0]?.answerID, undefined);
  assert.equal(timeline?.steps[2]?.answerID, 'h4-reply');
});

test('the limit that stopped the chain is read from where the refused reply stood', () => {
  const six = [...chain, handoff('h5', 'sage', 'muse', 'h2'), handoff('h6', 'muse', 'sage', 'h5')];
  const cases: [string, Handoff[], string, string | undefined, string][] = [
    ['a task handed on three times', chain, 'h4', 'depth', 'The chain stopped at the deepest hand-on allowed.'],
    ['the sixth handoff of the message', six, 'h5', 'handoffs', 'The chain stopped at the most handoffs one message can start.'],
    ['a refusal within the limits', chain, 'h2', 'refused', 'The chain stopped where a handoff wasn’t accepted.'],
    ['an answer that only quotes the sentence', chain, 'none', undefined, 'all finished.'],
  ];
  for (const [name, handoffs, refusedAt, reason, summary] of cases) {
    const refusal = message(`${refusedAt}-reply`, 'muse', refusedHandoffReply);
    const quoted = message('h1-reply', 'muse', `They wrote “${refusedHandoffReply}”`);
    const timeline = handoffTimeline(account(handoffs, [refusal, quoted]), 'R')!;
    const stopped = timeline.steps.filter((s) => s.stoppedBy).map((s) => [s.handoff.id, s.stoppedBy]);
    assert.deepEqual(stopped, reason ? [[refusedAt, reason]] : [], name);
    assert.ok(timelineSummary(timeline).endsWith(summary), `${name}: ${timelineSummary(timeline)}`);
  }
});

test('a task still in flight shows its request and keeps the chain working', () => {
  const working = [handoff('h1', 'dot', 'muse', undefined, 'working')];
  const timeline = handoffTimeline(account(working, [], [{ id: 'h1', botID: 'muse', phase: 'waiting', note: '' }]), 'R')!;
  assert.equal(timeline.steps[0]?.phase, 'waiting');
  assert.equal(timelineSummary(timeline), '1 handoff, still working.');
});

test('records that do not form a tree are each shown once', () => {
  const broken = [handoff('h1', 'dot', 'muse', 'h1'), handoff('h2', 'muse', 'sage', 'gone'), handoff('h3', 'dot', 'sage')];
  const timeline = handoffTimeline(account(broken), 'R')!;
  assert.deepEqual(timeline.steps.map((s) => [s.handoff.id, s.depth]), [['h3', 1], ['h1', 1], ['h2', 1]]);
});

test('messages without handoffs have no timeline, and counts are kept for the same list', () => {
  assert.equal(handoffTimeline(account(chain), 'other'), undefined);
  const a = account(chain);
  assert.equal(handoffCounts(a).get('R'), 4);
  assert.equal(handoffCounts(a), handoffCounts(a));
  assert.equal(handoffCounts({}), handoffCounts({}));
});
