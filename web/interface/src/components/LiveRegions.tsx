// Two live regions for screen readers: a polite status line for the connection and for the
// status of the user's latest message, and a log that announces each reply once it is filed
// (finished), never chunk by chunk while it streams.
import { useEffect, useRef, useState } from 'preact/hooks';
import { connectionWordsFor, statusWords } from '../logic/status';
import type { ClientState } from '../state';

export function LiveRegions({ state }: { state: ClientState }) {
  const [status, setStatus] = useState('');
  const [log, setLog] = useState<{ key: number; text: string }[]>([]);
  const seenReplies = useRef<Set<string> | null>(null);
  const lastConnection = useRef<string | null>(null);
  const lastMessageStatus = useRef<string | null>(null);
  const counter = useRef(0);

  useEffect(() => {
    const connection = state.storageHealthy ? connectionWordsFor(state.connection) : 'Storage unavailable';
    const connectionLine = state.issue ? `${connection}. ${state.issue}` : connection;
    let line: string | null = null;
    if (lastConnection.current !== null && lastConnection.current !== connectionLine) line = connectionLine;
    lastConnection.current = connectionLine;

    const messages = state.account.messages;
    let latest: (typeof messages)[number] | undefined;
    for (let i = messages.length - 1; i >= 0; i--) {
      const m = messages[i]!;
      if (m.role === 'user' && m.botID === state.account.selectedBot) {
        latest = m;
        break;
      }
    }
    const messageKey = latest ? `${latest.id}:${latest.status}` : '';
    if (lastMessageStatus.current !== null && latest && lastMessageStatus.current !== messageKey) {
      line = `Your message: ${statusWords(latest.status).words}`;
    }
    lastMessageStatus.current = messageKey;
    if (line) setStatus(line);

    // Replies: announce those that appear after the page started, once each.
    const names = new Map(state.account.bots.map((b) => [b.id, b.name]));
    if (seenReplies.current === null) {
      seenReplies.current = new Set(messages.filter((m) => m.role === 'assistant').map((m) => m.id));
      return;
    }
    const fresh: string[] = [];
    // New replies are filed at the end: stop after a run of messages already known.
    let known = 0;
    for (let i = messages.length - 1; i >= 0 && fresh.length < 3 && known < 20; i--) {
      const m = messages[i]!;
      if (m.role !== 'assistant') continue;
      if (seenReplies.current.has(m.id)) {
        known += 1;
        continue;
      }
      seenReplies.current.add(m.id);
      const text = m.text.length > 160 ? `${m.text.slice(0, 160)}…` : m.text;
      fresh.unshift(`Reply from ${names.get(m.sourceBotID ?? m.botID) ?? 'Dot'}: ${text}`);
    }
    if (fresh.length > 0) {
      setLog((entries) => [...entries, ...fresh.map((text) => ({ key: ++counter.current, text }))].slice(-5));
    }
  }, [state]);

  return (
    <>
      <div class="visually-hidden" role="status" aria-live="polite" data-live="status">{status}</div>
      <div class="visually-hidden" role="log" aria-live="polite" data-live="log">
        {log.map((e) => <p key={e.key}>{e.text}</p>)}
      </div>
    </>
  );
}
