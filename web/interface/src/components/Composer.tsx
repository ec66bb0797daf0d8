// The composer of the selected bot: its own draft, the quoted reply above it, Enter to send and
// Shift+Enter for a new line, the length limit shown before it is reached, and the attachments
// button that says where attachments work.
import { memo } from 'preact/compat';
import { useEffect, useLayoutEffect, useReducer, useRef, useState } from 'preact/hooks';
import { send } from '../bridge';
import { drafts } from '../drafts';
import { draftMeter } from '../logic/text';
import { newClientID } from '../model';
import type { Bot, QuotedReply } from '../state';
import { store } from '../store';
import { useCommand } from '../useCommand';
import { Icon } from './Icon';

interface Props {
  accountID: string;
  bot: Bot;
  quote: QuotedReply | undefined;
  disabledReason: string | undefined;
}

// One client id per message being sent: a second click on the same text reuses it, so the
// application queues the message once.
const clientIDs = new Map<string, string>();

function ComposerView({ accountID, bot, quote, disabledReason }: Props) {
  const [, bump] = useReducer((n: number) => n + 1, 0);
  const redraw = () => bump(undefined);
  const field = useRef<HTMLTextAreaElement>(null);
  const [sending, setSending] = useState(false);
  const inFlight = useRef(false);
  const [error, setError] = useState<string | null>(null);
  const quoteCommand = useCommand();

  useLayoutEffect(() => drafts.subscribe(redraw), []);
  useEffect(() => {
    setError(null);
    field.current?.focus();
  }, [bot.id]);
  // A draft failure found by a background save is shown here, where the text is.
  useEffect(() => {
    drafts.reportErrorsTo((botID, message) => {
      if (botID === bot.id) setError(message);
    });
  }, [bot.id]);

  const text = drafts.text(bot.id);
  const meter = draftMeter(text);

  useLayoutEffect(() => {
    const element = field.current;
    if (!element) return;
    element.style.height = 'auto';
    element.style.height = `${Math.min(element.scrollHeight, 240)}px`;
  }, [text, bot.id]);

  const submit = async () => {
    if (inFlight.current || disabledReason) return;
    // The store's text, not this render's: an Enter right after typing must send what was typed.
    const text = drafts.text(bot.id);
    const trimmed = text.trim();
    if (trimmed === '') return;
    let clientID = clientIDs.get(bot.id);
    if (!clientID) clientIDs.set(bot.id, (clientID = newClientID()));
    drafts.hold(bot.id);
    inFlight.current = true;
    setSending(true);
    setError(null);
    const data: Record<string, unknown> = { accountID, text, clientID, botID: bot.id };
    if (quote) {
      data['replyTo'] = quote.messageID;
      if (quote.partID !== undefined) data['replyPart'] = quote.partID;
    }
    const result = await send('send', data);
    inFlight.current = false;
    setSending(false);
    if (result === null) {
      clientIDs.delete(bot.id);
      drafts.sent(bot.id, text);
    } else {
      setError(result);
    }
  };

  // Up in an empty field takes back the bot's last message that is still only queued: it is
  // cancelled, and once the application has agreed, its text comes back here to be edited.
  const recallQueued = async () => {
    const account = store.state?.account;
    if (!account || inFlight.current) return false;
    const queued = account.jobs.filter((j) => j.botID === bot.id && j.phase === 'queued');
    const job = queued[queued.length - 1];
    const message = job && account.messages.find((m) => m.id === job.id);
    if (!job || !message) return false;
    inFlight.current = true;
    const result = await send('cancel', { id: job.id });
    inFlight.current = false;
    if (result === null) {
      if (drafts.text(bot.id) === '') drafts.edit(bot.id, message.text);
    } else {
      setError(result);
    }
    return true;
  };

  const onKeyDown = (event: KeyboardEvent) => {
    if (event.key === 'Enter' && !event.shiftKey && !event.isComposing) {
      event.preventDefault();
      void submit();
    } else if (event.key === 'ArrowUp' && !event.shiftKey && !event.ctrlKey && !event.altKey && !event.metaKey
      && !event.isComposing && drafts.text(bot.id) === '') {
      const account = store.state?.account;
      if (account?.jobs.some((j) => j.botID === bot.id && j.phase === 'queued')) {
        event.preventDefault();
        void recallQueued();
      }
    }
  };

  const counterID = `composer-counter`;
  return (
    <form class="composer" onSubmit={(e) => { e.preventDefault(); void submit(); }} aria-label={`Message ${bot.name}`}>
      {quote && (
        <div class="composer-quote">
          <Icon name="reply" />
          <div class="composer-quote-body">
            <span class="quote-author">Replying to {quote.author}</span>
            <span class="quote-text">{quote.text}</span>
          </div>
          <button type="button" class="icon-button flat" aria-label="Remove quote"
            onClick={() => void quoteCommand.run('reply', { accountID, botID: bot.id })}>
            <Icon name="close" />
          </button>
        </div>
      )}
      {quoteCommand.error && <p class="inline-error" role="alert">{quoteCommand.error}</p>}
      <div class={meter.over ? 'composer-box over' : 'composer-box'}>
        <button type="button" class="icon-button flat" aria-label="Add attachment" title="Add attachment"
          onClick={() => void send('advanced').then(setError)}>
          <Icon name="attach" />
        </button>
        <textarea
          ref={field}
          rows={1}
          value={text}
          placeholder={`Message ${bot.name}`}
          aria-label={`Message ${bot.name}`}
          aria-describedby={meter.visible ? counterID : undefined}
          aria-invalid={meter.over ? 'true' : undefined}
          onInput={(e) => {
            setError(null);
            drafts.edit(bot.id, (e.currentTarget as HTMLTextAreaElement).value);
          }}
          onKeyDown={onKeyDown}
        />
        <button type="submit" class="send-button" aria-label="Send" title={disabledReason ?? 'Send (Enter)'}
          disabled={sending || text.trim() === '' || meter.over || disabledReason !== undefined}>
          <Icon name="send" />
        </button>
      </div>
      <div class="composer-foot">
        {meter.visible && (
          <span id={counterID} class={meter.over ? 'counter over' : 'counter'} aria-live="polite">{meter.label}</span>
        )}
        {disabledReason && !error && <span class="hint">{disabledReason}</span>}
        {!meter.visible && !disabledReason && <span class="hint">Enter to send · Shift+Enter for a new line</span>}
      </div>
      {error && <p class="inline-error" role="alert">{error}</p>}
    </form>
  );
}

export const Composer = memo(ComposerView);
