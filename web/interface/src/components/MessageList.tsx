// The conversation's scroller. Only a window of the history is in the document (at most
// `maxWindow` messages), so a history of thousands of long replies costs no more than a short
// one: scrolling near the top brings older messages in and lets the newest go, scrolling back
// down does the reverse. While the user is at the bottom the view follows new messages and the
// growing reply; once they scroll up it stays where they are and offers "Jump to latest".
import { useEffect, useLayoutEffect, useRef, useState } from 'preact/hooks';
import type { ChatMessage, PendingRequest } from '../state';
import { Icon } from './Icon';
import { MessageView, type MessageContext } from './MessageView';

// A message is often longer than the view, so a few fill it several times over; the window grows
// as the user scrolls up.
export const firstWindow = 8;
export const maxWindow = 60;
const step = 10;
const edge = 600; // pixels from an end at which the window moves
const followSlack = 48; // pixels from the bottom that still count as "at the bottom"

interface Props {
  messages: readonly ChatMessage[];
  liveIDs: ReadonlySet<string>;
  jobs: ReadonlyMap<string, PendingRequest>;
  context: MessageContext;
  onFollowChange: (following: boolean) => void;
  empty: preact.ComponentChildren;
  // A message to bring into view and mark for a moment (a search result); a new nonce asks again.
  focus?: { id: string; nonce: number } | undefined;
}

const highlightTime = 2500; // ms a found message stays marked

interface Range {
  start: number;
  end: number; // exclusive; Infinity follows the end of the history
}

export function MessageList({ messages, liveIDs, jobs, context, onFollowChange, empty, focus }: Props) {
  const scroller = useRef<HTMLDivElement>(null);
  const [range, setRange] = useState<Range>({ start: Math.max(0, messages.length - firstWindow), end: Infinity });
  const [following, setFollowing] = useState(true);
  const anchor = useRef<{ id: string; top: number } | null>(null);
  const [highlighted, setHighlighted] = useState<string | null>(null);
  const focusDone = useRef<number | null>(null); // the nonce of the last focus carried out
  const reveal = useRef<string | null>(null); // a found message to scroll to once it is drawn

  const total = messages.length;
  const end = Math.min(range.end, total);
  // Following: the window slides along with new messages, keeping its size.
  const start = range.end === Infinity ? Math.max(0, Math.min(range.start, total - 1), end - maxWindow) : Math.max(0, range.start);
  const shown = messages.slice(start, end);

  useEffect(() => onFollowChange(following), [following]);

  // A focus request waits until its message is in the history (after switching to its bot, the
  // conversation arrives with the next state), then moves the window around it.
  useEffect(() => {
    if (!focus || focusDone.current === focus.nonce) return;
    const index = messages.findIndex((m) => m.id === focus.id);
    if (index < 0) return;
    focusDone.current = focus.nonce;
    const newStart = Math.max(0, index - 2);
    const newEnd = Math.min(total, newStart + firstWindow + 2);
    setRange({ start: newStart, end: newEnd >= total ? Infinity : newEnd });
    setFollowing(false);
    anchor.current = null;
    reveal.current = focus.id;
    setHighlighted(focus.id);
  }, [focus?.nonce, messages]);

  useEffect(() => {
    if (!highlighted) return;
    const timer = setTimeout(() => setHighlighted(null), highlightTime);
    return () => clearTimeout(timer);
  }, [highlighted]);

  // Keep the message the user was looking at where it was when the window moves above it.
  useLayoutEffect(() => {
    const box = scroller.current;
    const held = anchor.current;
    if (!box) return;
    if (reveal.current) {
      const element = box.querySelector<HTMLElement>(`[data-message-id="${CSS.escape(reveal.current)}"]`);
      reveal.current = null;
      if (element) box.scrollTop = Math.max(0, element.offsetTop - 24);
    } else if (held) {
      anchor.current = null;
      const element = box.querySelector<HTMLElement>(`[data-message-id="${CSS.escape(held.id)}"]`);
      if (element) box.scrollTop += element.offsetTop - held.top;
    } else if (following) {
      box.scrollTop = box.scrollHeight;
    }
  });

  const holdAnchor = () => {
    const box = scroller.current;
    if (!box) return;
    const items = box.querySelectorAll<HTMLElement>('[data-message-id]');
    for (const item of items) {
      if (item.offsetTop + item.offsetHeight >= box.scrollTop) {
        anchor.current = { id: item.dataset['messageId'] ?? '', top: item.offsetTop };
        return;
      }
    }
  };

  const onScroll = () => {
    const box = scroller.current;
    if (!box) return;
    const fromBottom = box.scrollHeight - box.scrollTop - box.clientHeight;
    const atEnd = end >= total;
    const follow = atEnd && fromBottom <= followSlack;
    if (follow !== following) setFollowing(follow);
    if (box.scrollTop < edge && start > 0) {
      holdAnchor();
      const newStart = Math.max(0, start - step);
      setRange({ start: newStart, end: Math.min(end, newStart + maxWindow) });
      if (following) setFollowing(false);
    } else if (fromBottom < edge && end < total) {
      holdAnchor();
      const newEnd = Math.min(total, end + step);
      setRange({ start: Math.max(start, newEnd - maxWindow), end: newEnd >= total ? Infinity : newEnd });
    } else if (range.end !== Infinity && end >= total && follow) {
      setRange({ start, end: Infinity });
    }
  };

  const jumpToLatest = () => {
    setRange({ start: Math.max(0, total - firstWindow), end: Infinity });
    setFollowing(true);
    anchor.current = null;
    requestAnimationFrame(() => {
      const box = scroller.current;
      if (box) box.scrollTop = box.scrollHeight;
    });
  };

  return (
    <div class="message-list-frame">
      <div ref={scroller} class="message-list" onScroll={onScroll} tabIndex={0} role="region" aria-label="Conversation">
        {total === 0 ? (
          empty
        ) : (
          <div class="message-column">
            {start > 0 && <p class="history-note">Scroll up for earlier messages</p>}
            {shown.map((m) => (
              <MessageView key={m.id} message={m} job={m.role === 'user' ? jobs.get(m.id) : undefined} context={context} live={liveIDs.has(m.id)}
                highlighted={m.id === highlighted} />
            ))}
          </div>
        )}
      </div>
      {!following && total > 0 && (
        <button type="button" class="jump pill" onClick={jumpToLatest}>
          <Icon name="down" /> Jump to latest
        </button>
      )}
    </div>
  );
}
