// What the page sends with "read": for every reply of the bot, in stored order, the fingerprint
// of what the user has seen of it. The application compares it element by element with its own,
// so a reply that grew since the page drew it keeps the bot unread.

import type { ChatMessage } from '../state';

export function readReceipt(message: ChatMessage): string[] {
  const out = [message.id, message.text, message.html ?? ''];
  for (const part of message.parts ?? []) {
    out.push(part.id, part.text, part.html ?? '');
    for (const attachment of part.attachments ?? []) {
      out.push(attachment.id, attachment.kind, attachment.title, attachment.url ?? '');
    }
  }
  return out;
}

// The replies of one bot: its messages whose role is "assistant", in stored order.
export function readReplies(botMessages: readonly ChatMessage[]): string[][] {
  const out: string[][] = [];
  for (const message of botMessages) if (message.role === 'assistant') out.push(readReceipt(message));
  return out;
}
