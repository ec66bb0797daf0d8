// Status words and the actions each request phase allows, as the user sees them.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { connectionFix, messageActions, statusWords } from '../../../web/interface/src/logic/status';
import type { ChatMessage, PendingRequest } from '../../../web/interface/src/state';

const message = (status: string, role = 'user'): ChatMessage => ({ id: 'M', botID: 'dot', role, text: 'hi', date: '2026-01-01T00:00:00Z', status });
const job = (phase: string): PendingRequest => ({ id: 'M', botID: 'dot', phase, note: '' });

test('every status the engine writes has words of its own', () => {
  const statuses = ['queued', 'sending', 'composing', 'waiting', 'delayed', 'uncertain', 'replyPending', 'deliveryObserved',
    'deliveryMissing', 'deliveryUnknown', 'streaming', 'delegated', 'sent', 'unconfirmed', 'failed'];
  const seen = new Set<string>();
  for (const status of statuses) {
    const words = statusWords(status).words;
    assert.notEqual(words, status, `${status} is shown as its raw value`);
    assert.ok(!seen.has(words), `${status} shares its words with another status`);
    seen.add(words);
  }
});

test('actions follow the request phase, and a confirmed-missing delivery can be sent again', () => {
  const cases: [string, string | undefined, string[]][] = [
    ['queued', 'queued', ['cancel']],
    ['sending', 'preparing', []],
    ['sending', 'submitting', []],
    ['composing', 'composing', ['stopWaiting']],
    ['waiting', 'waiting', ['stopWaiting']],
    ['delayed', 'delayed', ['stopWaiting']],
    ['uncertain', 'uncertain', ['checkDelivery', 'stopWaiting']],
    ['failed', 'failed', ['retry', 'cancel']],
    ['deliveryMissing', undefined, ['resend']],
    ['deliveryUnknown', undefined, ['resend']],
    ['unconfirmed', undefined, []],
    ['sent', undefined, []],
  ];
  for (const [status, phase, expected] of cases) {
    const actions = messageActions(message(status), phase ? job(phase) : undefined).map((a) => a.command);
    assert.deepEqual(actions, expected, `status ${status}, phase ${phase}`);
  }
  assert.deepEqual(messageActions(message('failed', 'assistant'), job('failed')), []);
});

test('the connection offers the action that fixes it; broken storage comes first', () => {
  assert.equal(connectionFix('disconnected', true)?.command, 'connect');
  assert.equal(connectionFix('signIn', true)?.command, 'openDot');
  assert.equal(connectionFix('expired', true)?.command, 'openDot');
  assert.equal(connectionFix('attention', true)?.command, 'openDot');
  assert.equal(connectionFix('connected', true), undefined);
  assert.equal(connectionFix('connecting', true), undefined);
  assert.equal(connectionFix('connected', false)?.command, 'retryStorage');
});
