// A custom avatar as the application accepts it: a PNG data URL of at most 512 × 512 pixels
// and 600000 bytes. The page scales the chosen picture to fit and re-encodes it; a photo that
// is still too large as PNG at full size is scaled down step by step until it fits.

export const avatarSide = 512;
export const avatarBytes = 600000;
export const pngPrefix = 'data:image/png;base64,';

export interface Size {
  width: number;
  height: number;
}

// The largest size of the same proportions that fits in side × side; pictures already within
// it keep their size.
export function fitWithin(size: Size, side = avatarSide): Size {
  const scale = Math.min(1, side / size.width, side / size.height);
  return {
    width: Math.max(1, Math.round(size.width * scale)),
    height: Math.max(1, Math.round(size.height * scale)),
  };
}

// The UTF-8 size of a data URL (plain ASCII, one byte per character).
export function dataURLBytes(url: string): number {
  return url.length;
}

export class AvatarTooLarge extends Error {}

// Encodes at the fitting size and shrinks by `step` until the PNG data URL fits in the budget.
export async function encodeAvatar(
  source: Size,
  encode: (size: Size) => Promise<string>,
  { side = avatarSide, bytes = avatarBytes, step = 0.8, minSide = 32 } = {},
): Promise<string> {
  let size = fitWithin(source, side);
  for (;;) {
    const url = await encode(size);
    if (!url.startsWith(pngPrefix)) throw new AvatarTooLarge('The picture could not be encoded as PNG.');
    if (dataURLBytes(url) <= bytes) return url;
    if (Math.max(size.width, size.height) <= minSide) throw new AvatarTooLarge('The picture is too large.');
    size = { width: Math.max(1, Math.floor(size.width * step)), height: Math.max(1, Math.floor(size.height * step)) };
  }
}
