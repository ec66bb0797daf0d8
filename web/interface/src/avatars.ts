// The 32 built-in avatars, in the order the application lists their ids; each ships as
// avatars/<id>.svg beside the page.
import list from '../avatars/avatars.json';

export interface AvatarInfo {
  id: string;
  label: string;
}

export const builtInAvatars: readonly AvatarInfo[] = list.map(({ id, label }) => ({ id, label }));

export function avatarURL(kind: string, image?: string): string {
  if (image && image.startsWith('data:image/png;base64,')) return image;
  const known = builtInAvatars.some((a) => a.id === kind);
  return `avatars/${known ? kind : 'dot'}.svg`;
}
