// The card file goes to the application as strict Base64 of its exact bytes, whatever its size.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { base64OfBytes } from '../../../web/interface/src/logic/card';

test('bytes become the strict Base64 the application reads', () => {
  const cases: [number[], string][] = [
    [[], ''],
    [[0x89], 'iQ=='],
    [[0x89, 0x50], 'iVA='],
    [[0x89, 0x50, 0x4e], 'iVBO'],
    [[0xff, 0xfe, 0x00, 0x80], '//4AgA=='],
  ];
  for (const [bytes, text] of cases) assert.equal(base64OfBytes(Uint8Array.from(bytes)), text);
});

test('files larger than one slice keep every byte in order', () => {
  const bytes = new Uint8Array(0x8000 * 3 + 7);
  for (let i = 0; i < bytes.length; i += 1) bytes[i] = (i * 31 + (i >> 8)) & 0xff;
  assert.equal(base64OfBytes(bytes), Buffer.from(bytes).toString('base64'));
});
