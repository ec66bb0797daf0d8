// A chosen picture becomes a PNG of at most 512 × 512 pixels and 600000 bytes.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { AvatarTooLarge, encodeAvatar, fitWithin, pngPrefix, type Size } from '../../../web/interface/src/logic/avatar';

test('pictures are scaled to fit 512 × 512, keeping their proportions; small ones keep their size', () => {
  const cases: [Size, Size][] = [
    [{ width: 4000, height: 3000 }, { width: 512, height: 384 }],
    [{ width: 600, height: 2400 }, { width: 128, height: 512 }],
    [{ width: 512, height: 512 }, { width: 512, height: 512 }],
    [{ width: 513, height: 100 }, { width: 512, height: 100 }],
    [{ width: 64, height: 48 }, { width: 64, height: 48 }],
    [{ width: 10000, height: 1 }, { width: 512, height: 1 }],
  ];
  for (const [source, expected] of cases) assert.deepEqual(fitWithin(source), expected, JSON.stringify(source));
});

// A stand-in encoder whose PNG grows with the pixel count, as a photo's does.
const fakePNG = (bytesPerPixel: number) => async (size: Size) =>
  pngPrefix + 'A'.repeat(Math.ceil(size.width * size.height * bytesPerPixel) - pngPrefix.length);

test('an encoding over 600000 bytes is shrunk until it fits', async () => {
  const sizes: Size[] = [];
  const encode = async (size: Size) => {
    sizes.push(size);
    return fakePNG(3)(size);
  };
  const url = await encodeAvatar({ width: 3000, height: 3000 }, encode);
  assert.ok(url.length <= 600000, `${url.length} bytes`);
  assert.deepEqual(sizes[0], { width: 512, height: 512 });
  assert.ok(sizes.length > 1);
  const last = sizes[sizes.length - 1]!;
  assert.ok(last.width * last.height * 3 <= 600000);
});

test('a picture that fits at full size is encoded once', async () => {
  let calls = 0;
  const url = await encodeAvatar({ width: 300, height: 200 }, async (size) => {
    calls += 1;
    return fakePNG(1)(size);
  });
  assert.equal(calls, 1);
  assert.equal(url.length, 300 * 200);
});

test('an encoder that does not give PNG is refused', async () => {
  await assert.rejects(encodeAvatar({ width: 10, height: 10 }, async () => 'data:image/jpeg;base64,AAAA'), AvatarTooLarge);
});
