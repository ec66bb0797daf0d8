// The read list the page sends must match the application's own fingerprint element by element.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { readReceipt, readReplies } from '../../../web/interface/src/logic/read';
import type { ChatMessage } from '../../../web/interface/src/state';

const base = { botID: 'ceo', date: '2026-01-01T00:00:00Z', status: 'sent' };

test('a reply without parts reads as id, text and html (empty when absent)', () => {
  assert.deepEqual(readReceipt({ ...base, id: 'R-reply', role: 'assistant', text: 'Hello' }), ['R-reply', 'Hello', '']);
});

test('parts follow in order with their attachments, absent values as empty text', () => {
  const message: ChatMessage = {
    ...base, id: 'R-reply', role: 'assistant', text: 'a\n\nb', html: '<p>a</p><p>b</p>',
    parts: [
      { id: 'p1', text: 'a', html: '<p>a</p>', attachments: [{ id: 'f1', kind: 'file', title: 'Plan.pdf' }] },
      { id: 'p2', text: 'b' },
    ],
  };
  assert.deepEqual(readReceipt(message), [
    'R-reply', 'a\n\nb', '<p>a</p><p>b</p>',
    'p1', 'a', '<p>a</p>', 'f1', 'file', 'Plan.pdf', '',
    'p2', 'b', '',
  ]);
});

test('only the bot’s replies count, in stored order', () => {
  const messages: ChatMessage[] = [
    { ...base, id: 'A', role: 'user', text: 'q' },
    { ...base, id: 'A-reply', role: 'assistant', text: 'one' },
    { ...base, id: 'B-handoff', role: 'handoff', text: 'task' },
    { ...base, id: 'B-reply', role: 'assistant', text: 'two' },
  ];
  assert.deepEqual(readReplies(messages), [['A-reply', 'one', ''], ['B-reply', 'two', '']]);
});
