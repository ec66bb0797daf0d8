// Character cards on the page: the file the user picks goes to the application whole, as Base64
// of its bytes, and the application reads it. The page only keeps a file that could never be a
// card (over the application's cap) from crossing the bridge at all.

export const cardFileByteLimit = 8_000_000;
export const cardTooLarge = 'Choose a character card of 8 MB or less.';

// Standard Base64 with padding, as the application reads it strictly. Built in slices so that a
// large file never becomes one huge argument list.
export function base64OfBytes(bytes: Uint8Array): string {
  let binary = '';
  const slice = 0x8000;
  for (let at = 0; at < bytes.length; at += slice) {
    binary += String.fromCharCode(...bytes.subarray(at, at + slice));
  }
  return btoa(binary);
}
