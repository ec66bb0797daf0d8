// What a message's status means to the person who sent it, and what they can do about it.
// Words come from the message's status; actions from the request behind it (its phase), since
// the phase decides what the application will accept.

import type { ChatMessage, PendingRequest } from '../state';

export type Tone = 'neutral' | 'progress' | 'success' | 'warning' | 'error';

export interface StatusWords {
  words: string;
  tone: Tone;
}

const words: Record<string, StatusWords> = {
  queued: { words: 'Queued', tone: 'neutral' },
  sending: { words: 'Sending to Dot…', tone: 'progress' },
  composing: { words: 'Waiting for you to send it in the Dot window', tone: 'warning' },
  waiting: { words: 'Waiting for a reply', tone: 'progress' },
  delayed: { words: 'The reply is taking longer than usual', tone: 'warning' },
  uncertain: { words: 'Not sure Dot received this', tone: 'warning' },
  replyPending: { words: 'Delivered; the reply may be in Dot', tone: 'neutral' },
  deliveryObserved: { words: 'Delivered to Dot', tone: 'neutral' },
  deliveryMissing: { words: 'Dot didn’t receive this', tone: 'error' },
  deliveryUnknown: { words: 'Delivery couldn’t be confirmed', tone: 'warning' },
  streaming: { words: 'Reply arriving…', tone: 'progress' },
  delegated: { words: 'Handed to teammates', tone: 'progress' },
  sent: { words: 'Answered', tone: 'success' },
  unconfirmed: { words: 'Stopped waiting', tone: 'neutral' },
  failed: { words: 'Not sent', tone: 'error' },
};

export function statusWords(status: string): StatusWords {
  return words[status] ?? { words: status, tone: 'neutral' };
}

export interface MessageAction {
  command: 'cancel' | 'stopWaiting' | 'resend' | 'retry' | 'checkDelivery';
  label: string;
}

// Phases in which the user may stop waiting for a request.
export const stoppable: ReadonlySet<string> = new Set(['waiting', 'delayed', 'uncertain', 'composing']);

// The actions the application accepts for a user message, given the request that carries it
// (absent once it has left the queue).
export function messageActions(message: ChatMessage, job: PendingRequest | undefined): MessageAction[] {
  if (message.role !== 'user') return [];
  const actions: MessageAction[] = [];
  if (job) {
    if (job.phase === 'failed') actions.push({ command: 'retry', label: 'Try again' });
    if (job.phase === 'uncertain') actions.push({ command: 'checkDelivery', label: 'Check delivery' });
    if (stoppable.has(job.phase)) actions.push({ command: 'stopWaiting', label: 'Stop waiting' });
    if (job.phase === 'queued' || job.phase === 'failed') actions.push({ command: 'cancel', label: 'Cancel' });
  } else if (message.status === 'deliveryMissing' || message.status === 'deliveryUnknown') {
    actions.push({ command: 'resend', label: 'Send again' });
  }
  return actions;
}

const connectionWords: Record<string, string> = {
  disconnected: 'Not connected',
  connecting: 'Connecting…',
  recovering: 'Reconnecting…',
  connected: 'Connected',
  attention: 'Needs your attention',
  signIn: 'Sign in to Dot',
  expired: 'Your Dot sign-in expired',
};

export function connectionWordsFor(connection: string): string {
  return connectionWords[connection] ?? connection;
}

export interface ConnectionFix {
  command: 'connect' | 'openDot' | 'retryStorage';
  label: string;
}

// The one action that moves the connection forward from where it stands.
export function connectionFix(connection: string, storageHealthy: boolean): ConnectionFix | undefined {
  if (!storageHealthy) return { command: 'retryStorage', label: 'Try storage again' };
  switch (connection) {
    case 'disconnected':
      return { command: 'connect', label: 'Connect' };
    case 'signIn':
    case 'expired':
      return { command: 'openDot', label: 'Sign in…' };
    case 'attention':
      return { command: 'openDot', label: 'Open Dot window' };
    default:
      return undefined;
  }
}

export type ConnectionTone = 'ok' | 'busy' | 'warning' | 'error';

export function connectionTone(connection: string, storageHealthy: boolean): ConnectionTone {
  if (!storageHealthy) return 'error';
  if (connection === 'connected') return 'ok';
  if (connection === 'connecting' || connection === 'recovering') return 'busy';
  if (connection === 'disconnected') return 'warning';
  return 'error';
}
