import { avatarURL } from '../avatars';
import type { Bot } from '../state';

// A bot's picture: its custom PNG or its built-in avatar. Decorative: the bot's name is
// always written beside it.
export function Avatar({ bot, size = 32 }: { bot: Pick<Bot, 'kind' | 'image'> | undefined; size?: number }) {
  return (
    <img class="avatar" src={avatarURL(bot?.kind ?? 'dot', bot?.image)} width={size} height={size} alt="" draggable={false} />
  );
}
