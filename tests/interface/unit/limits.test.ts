// Lengths count user-perceived characters, as the application does, and the draft limit shows
// before it is reached.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { characterCount, draftLimit, draftMeter } from '../../../web/interface/src/logic/text';

test('characters are grapheme clusters', () => {
  const cases: [string, number][] = [
    ['', 0],
    ['hello', 5],
    ['line\nbreak', 10],
    ['café', 4],
    ['cafe\u0301', 4],
    ['👍🏽', 1],
    ['👩‍👩‍👧', 1],
    ['🇪🇺!', 2],
  ];
  for (const [text, count] of cases) assert.equal(characterCount(text), count, JSON.stringify(text));
});

test('the meter appears 2000 characters before the limit and marks the excess', () => {
  assert.equal(draftMeter('a'.repeat(draftLimit - 2001)).visible, false);
  const near = draftMeter('a'.repeat(draftLimit - 2000));
  assert.equal(near.visible, true);
  assert.equal(near.over, false);
  assert.equal(near.label, '2,000 characters left');
  const at = draftMeter('a'.repeat(draftLimit));
  assert.equal(at.over, false);
  assert.equal(at.label, '0 characters left');
  const over = draftMeter('👍'.repeat(draftLimit + 1));
  assert.equal(over.over, true);
  assert.equal(over.label, '1 characters over the limit');
});
