// PNG pictures made on the fly (the profile avatar and picture attachments), so the
// simulator ships no binary files.

import { deflateSync } from 'node:zlib';

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k += 1) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(buffer) {
  let c = 0xffffffff;
  for (const byte of buffer) c = CRC_TABLE[(c ^ byte) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const length = Buffer.alloc(4);
  length.writeUInt32BE(data.length);
  const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([length, body, crc]);
}

// pixel(x, y) returns [r, g, b, a].
export function encodePNG(width, height, pixel) {
  const raw = Buffer.alloc((width * 4 + 1) * height);
  let offset = 0;
  for (let y = 0; y < height; y += 1) {
    raw[offset++] = 0;
    for (let x = 0; x < width; x += 1) {
      const [r, g, b, a] = pixel(x, y);
      raw[offset++] = r;
      raw[offset++] = g;
      raw[offset++] = b;
      raw[offset++] = a;
    }
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8; // bit depth
  header[9] = 6; // RGBA
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header),
    chunk('IDAT', deflateSync(raw)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

function parseColor(hex) {
  const value = /^#?([0-9a-f]{6})$/i.exec(hex)?.[1] ?? '6d5efc';
  return [0, 2, 4].map((i) => parseInt(value.slice(i, i + 2), 16));
}

// A round-faced avatar on a two-tone gradient in the given colour.
export function avatarPNG(color, size = 128) {
  const [r, g, b] = parseColor(color);
  const c = size / 2;
  return encodePNG(size, size, (x, y) => {
    const t = (x + y) / (2 * size);
    const base = [r * (1 - t * 0.4), g * (1 - t * 0.4), b * (1 - t * 0.4)].map(Math.round);
    const face = Math.hypot(x - c, y - c * 0.9) < size * 0.28;
    const eye = Math.hypot(x - c * 0.8, y - c * 0.82) < size * 0.035 || Math.hypot(x - c * 1.2, y - c * 0.82) < size * 0.035;
    if (eye) return [40, 40, 60, 255];
    if (face) return [255, 255, 255, 255];
    return [...base, 255];
  });
}

// A small striped picture for answers that come with an image.
export function picturePNG(width = 240, height = 160) {
  return encodePNG(width, height, (x, y) => {
    const band = Math.floor((x + y) / 20) % 3;
    return band === 0 ? [240, 180, 60, 255] : band === 1 ? [80, 160, 220, 255] : [250, 250, 245, 255];
  });
}
