// Text rules the composer and the bot editor share with the application: lengths are counted
// in user-perceived characters (grapheme clusters), as the application counts them.

const segmenter = new Intl.Segmenter(undefined, { granularity: 'grapheme' });

export function characterCount(text: string): number {
  // Plain ASCII has one character per code unit: skip the segmenter for the common case.
  let ascii = true;
  for (let i = 0; i < text.length; i++) {
    const c = text.charCodeAt(i);
    if (c > 0x7e || (c < 0x20 && c !== 0x0a && c !== 0x09)) {
      ascii = false;
      break;
    }
  }
  if (ascii) return text.length;
  let count = 0;
  for (const _ of segmenter.segment(text)) count += 1;
  return count;
}

export const draftLimit = 22000;
// The counter appears this many characters before the limit, so the limit is seen before it bites.
export const draftWarningMargin = 2000;

export interface DraftMeter {
  count: number;
  visible: boolean;
  over: boolean;
  label: string;
}

export function draftMeter(text: string, limit = draftLimit): DraftMeter {
  const count = characterCount(text);
  const visible = count >= limit - draftWarningMargin;
  const over = count > limit;
  const label = over
    ? `${(count - limit).toLocaleString('en-US')} characters over the limit`
    : `${(limit - count).toLocaleString('en-US')} characters left`;
  return { count, visible, over, label };
}

export const nameLimit = 64;
export const roleLimit = 48;
export const personalityLimit = 1800;
