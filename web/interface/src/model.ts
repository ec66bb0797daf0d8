// Views of the ClientState that the page derives, memoised so that a new state whose message
// objects are mostly the same objects as before (the shell rebuilds states that way) costs
// little: per-bot lists keep their identity while their contents are the same objects.

import type { Account, ChatMessage, ClientState, PendingRequest } from './state';

const emptyList: readonly ChatMessage[] = Object.freeze([]);

let lastMessages: readonly ChatMessage[] | undefined;
let lastByBot = new Map<string, readonly ChatMessage[]>();

function sameElements(a: readonly ChatMessage[], b: readonly ChatMessage[]): boolean {
  if (a.length !== b.length) return false;
  for (let i = a.length - 1; i >= 0; i--) if (a[i] !== b[i]) return false;
  return true;
}

// Every bot's messages in stored order.
export function messagesByBot(messages: readonly ChatMessage[]): Map<string, readonly ChatMessage[]> {
  if (messages === lastMessages) return lastByBot;
  const groups = new Map<string, ChatMessage[]>();
  for (const message of messages) {
    let list = groups.get(message.botID);
    if (!list) groups.set(message.botID, (list = []));
    list.push(message);
  }
  const result = new Map<string, readonly ChatMessage[]>();
  for (const [bot, list] of groups) {
    const previous = lastByBot.get(bot);
    result.set(bot, previous && sameElements(previous, list) ? previous : list);
  }
  lastMessages = messages;
  lastByBot = result;
  return result;
}

export function botMessages(state: ClientState, botID: string): readonly ChatMessage[] {
  return messagesByBot(state.account.messages).get(botID) ?? emptyList;
}

// The selected bot's conversation as shown: stored messages, with each live reply taking the
// place of a stored message of the same id, or following the request it answers (id R-reply
// after R), or else the history.
export function conversation(stored: readonly ChatMessage[], live: readonly ChatMessage[], botID: string): readonly ChatMessage[] {
  const mine = live.filter((m) => m.botID === botID);
  if (mine.length === 0) return stored;
  const pending = new Map(mine.map((m) => [m.id, m]));
  const out: ChatMessage[] = [];
  const take = (id: string) => {
    const m = pending.get(id);
    if (m) {
      pending.delete(id);
      out.push(m);
    }
    return m !== undefined;
  };
  for (const m of stored) {
    if (!take(m.id)) out.push(m);
    take(`${m.id}-reply`);
  }
  for (const m of pending.values()) out.push(m);
  return out;
}

let lastJobs: readonly PendingRequest[] | undefined;
let lastJobsByID = new Map<string, PendingRequest>();

export function jobsByID(account: Account): Map<string, PendingRequest> {
  if (account.jobs === lastJobs) return lastJobsByID;
  lastJobs = account.jobs;
  lastJobsByID = new Map(account.jobs.map((j) => [j.id, j]));
  return lastJobsByID;
}

export function effectiveTheme(state: Pick<ClientState, 'theme' | 'systemDark'>): 'light' | 'dark' {
  if (state.theme === 'dark') return 'dark';
  if (state.theme === 'light') return 'light';
  return state.systemDark ? 'dark' : 'light';
}

export function botName(account: Account, id: string | undefined): string {
  if (!id) return 'Dot';
  return account.bots.find((b) => b.id === id)?.name ?? 'Dot';
}

export function newClientID(): string {
  if (typeof crypto.randomUUID === 'function') return crypto.randomUUID().toUpperCase();
  const b = crypto.getRandomValues(new Uint8Array(16));
  b[6] = (b[6]! & 0x0f) | 0x40;
  b[8] = (b[8]! & 0x3f) | 0x80;
  const h = Array.from(b, (x) => x.toString(16).padStart(2, '0')).join('');
  return `${h.slice(0, 8)}-${h.slice(8, 12)}-${h.slice(12, 16)}-${h.slice(16, 20)}-${h.slice(20)}`.toUpperCase();
}
