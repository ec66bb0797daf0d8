// One message of a conversation: the user's own with its status in words and what that status
// allows; a reply part by part with reply, copy and show-in-Dot; a handoff task or a routing
// notice as a quiet line.
import { memo } from 'preact/compat';
import { messageActions, statusWords } from '../logic/status';
import type { Bot, ChatMessage, PendingRequest, ReplyPart } from '../state';
import { useCommand } from '../useCommand';
import { Avatar } from './Avatar';
import { Icon } from './Icon';
import { RichText } from './RichText';

const timeFormat = new Intl.DateTimeFormat(undefined, { hour: 'numeric', minute: '2-digit' });
const dayFormat = new Intl.DateTimeFormat(undefined, { weekday: 'short', day: 'numeric', month: 'short', hour: 'numeric', minute: '2-digit' });

export function shortTime(iso: string): string {
  const date = new Date(iso);
  if (Number.isNaN(date.getTime())) return '';
  const today = new Date();
  return date.toDateString() === today.toDateString() ? timeFormat.format(date) : dayFormat.format(date);
}

export interface MessageContext {
  accountID: string;
  botID: string; // the conversation's bot
  bots: ReadonlyMap<string, Bot>;
  handoffs: ReadonlyMap<string, number>; // how many handoffs each user message started
  onShowHandoffs: (rootID: string) => void;
}

interface Props {
  message: ChatMessage;
  job: PendingRequest | undefined;
  context: MessageContext;
  live: boolean;
  highlighted?: boolean; // just found by a search
}

// The message's own classes, with "found" while a search has just brought it into view.
function classes(base: string, highlighted: boolean | undefined) {
  return highlighted ? `${base} found` : base;
}

function ReplyTools({ message, part, context }: { message: ChatMessage; part?: ReplyPart; context: MessageContext }) {
  const command = useCommand();
  const text = part ? part.text : message.text;
  return (
    <div class="reply-tools">
      <div class="tool-row" role="group" aria-label="Reply actions">
        <button
          type="button"
          class="tool"
          aria-label={part ? 'Reply to this part' : 'Reply to this'}
          title="Reply to this"
          onClick={() => void command.run('reply', {
            accountID: context.accountID,
            botID: context.botID,
            messageID: message.id,
            ...(part ? { partID: part.id } : {}),
          })}
        >
          <Icon name="reply" />
        </button>
        <button type="button" class="tool" aria-label="Copy" title="Copy" onClick={() => void command.run('copy', { text })}>
          <Icon name="copy" />
        </button>
        {part && (
          <button type="button" class="tool" aria-label="Show in Dot" title="Show in Dot"
            onClick={() => void command.run('openSourceMessage', { id: part.id })}>
            <Icon name="external" />
          </button>
        )}
      </div>
      {command.error && <p class="inline-error" role="alert">{command.error}</p>}
    </div>
  );
}

function UserMessage({ message, job, context, highlighted }: Props) {
  const command = useCommand();
  const status = statusWords(message.status);
  const actions = messageActions(message, job);
  const handoffs = context.handoffs.get(message.id) ?? 0;
  return (
    <article class={classes('message user', highlighted)} data-message-id={message.id} aria-label="You">
      <div class="bubble">
        {message.quotedReply && (
          <blockquote class="quote">
            <span class="quote-author">{message.quotedReply.author}</span>
            <span class="quote-text">{message.quotedReply.text}</span>
          </blockquote>
        )}
        <p class="text">{message.text}</p>
      </div>
      <div class="meta">
        <time dateTime={message.date}>{shortTime(message.date)}</time>
        <span class={`status tone-${status.tone}`} data-status={message.status}>{status.words}</span>
        {job && job.note && <span class="note">{job.note}</span>}
        {actions.map((a) => (
          <button key={a.command} type="button" class="link-button" disabled={command.busy}
            onClick={() => void command.run(a.command, { id: message.id })}>
            {a.label}
          </button>
        ))}
        {handoffs > 0 && (
          <button type="button" class="link-button" onClick={() => context.onShowHandoffs(message.id)}>
            {handoffs === 1 ? '1 handoff' : `${handoffs} handoffs`}
          </button>
        )}
      </div>
      {command.error && <p class="inline-error" role="alert">{command.error}</p>}
    </article>
  );
}

function AssistantMessage({ message, context, live, highlighted }: Props) {
  const author = context.bots.get(message.sourceBotID ?? message.botID);
  const authorName = author?.name ?? 'Dot';
  const copied = message.sourceBotID !== undefined && message.sourceBotID !== message.botID;
  const parts = message.parts && message.parts.length > 0 ? message.parts : undefined;
  const streaming = live || message.status === 'streaming';
  return (
    <article class={classes(streaming ? 'message assistant streaming' : 'message assistant', highlighted)} data-message-id={message.id}
      aria-label={`${authorName}${copied ? ', teammate result' : ''}`} aria-busy={streaming ? 'true' : undefined}>
      <Avatar bot={author} size={32} />
      <div class="body">
        <header class="author">
          <strong>{authorName}</strong>
          {copied && <span class="chip">Teammate result</span>}
          <time dateTime={message.date}>{shortTime(message.date)}</time>
        </header>
        {/* While a reply streams it is drawn as its plain text: each update is a text change, not a
            new sanitising pass over growing HTML, and half-written markup never flickers. The
            formatted reply takes its place once it is filed. */}
        {parts ? (
          parts.map((part) => (
            <section class="part" key={part.id} data-part-id={part.id}>
              <RichText owner={part} html={streaming ? undefined : part.html} text={part.text} />
              {!streaming && <ReplyTools message={message} part={part} context={context} />}
            </section>
          ))
        ) : (
          <section class="part">
            <RichText owner={message} html={streaming ? undefined : message.html} text={message.text} />
            {!streaming && <ReplyTools message={message} context={context} />}
          </section>
        )}
        {streaming && (
          <p class="writing"><span class="pulse" aria-hidden="true" />{authorName} is writing…</p>
        )}
      </div>
    </article>
  );
}

function Notice({ message, context, highlighted }: Props) {
  if (message.role === 'handoff') {
    const target = context.bots.get(message.botID);
    return (
      <article class={classes('message handoff', highlighted)} data-message-id={message.id} aria-label="Task handed over">
        <div class="handoff-card">
          <span class="handoff-label">Task for {target?.name ?? 'a teammate'}</span>
          <p class="text">{message.text}</p>
        </div>
      </article>
    );
  }
  return (
    <div class={classes('message event', highlighted)} data-message-id={message.id} role="note">
      <span>{message.text}</span>
    </div>
  );
}

function MessageViewInner(props: Props) {
  if (props.message.role === 'user') return <UserMessage {...props} />;
  if (props.message.role === 'assistant') return <AssistantMessage {...props} />;
  return <Notice {...props} />;
}

// A message redraws only when its own object, its request or the conversation's context changes.
export const MessageView = memo(MessageViewInner, (a, b) =>
  a.message === b.message && a.job === b.job && a.context === b.context && a.live === b.live && a.highlighted === b.highlighted);
