// Finding a message: Ctrl+F searches the conversation on screen, Ctrl+Shift+F every bot of the
// account. The application searches its own history (the page holds only a window of it) and
// sends the results with the state; this panel asks, lists them and jumps to the one chosen.
// Up and Down move through the results, Enter jumps, Escape closes.
import { useEffect, useRef, useState } from 'preact/hooks';
import type { Bot, ClientState, SearchHit } from '../state';
import { useCommand } from '../useCommand';
import { Avatar } from './Avatar';
import { Icon } from './Icon';

export type SearchScope = 'conversation' | 'account';

const searchDelay = 150; // ms after the last key before the query is sent
const queryLimit = 500; // characters, as the application accepts
const dateFormat = new Intl.DateTimeFormat(undefined, { day: 'numeric', month: 'short', year: 'numeric', hour: 'numeric', minute: '2-digit' });

interface Props {
  state: ClientState;
  scope: SearchScope;
  bot: Bot; // the conversation on screen
  bots: ReadonlyMap<string, Bot>;
  onJump: (hit: SearchHit) => void;
  onClose: () => void;
}

export function SearchPanel({ state, scope, bot, bots, onJump, onClose }: Props) {
  const command = useCommand();
  const [query, setQuery] = useState(state.search?.query ?? '');
  const [active, setActive] = useState(0);
  const input = useRef<HTMLInputElement>(null);
  const botID = scope === 'conversation' ? bot.id : undefined;

  useEffect(() => input.current?.focus(), [scope]);

  const shownQuery = state.search?.query;
  useEffect(() => {
    // An empty field asks nothing, unless there are results to take away.
    if (query.trim() === '' && shownQuery === undefined) return;
    const timer = setTimeout(() => {
      const data: Record<string, unknown> = { accountID: state.account.id, query };
      if (botID) data['botID'] = botID;
      void command.run('search', data);
    }, searchDelay);
    return () => clearTimeout(timer);
  }, [query, botID, state.account.id]);

  // Only results for what the field holds now, in this scope, are shown.
  const results = state.search;
  const current = results && results.query === query && (results.botID ?? undefined) === botID ? results : undefined;
  const hits = current?.hits ?? [];
  useEffect(() => setActive(0), [current]);

  const close = () => {
    void command.run('clearSearch');
    onClose();
  };

  const onKeyDown = (event: KeyboardEvent) => {
    if (event.key === 'Escape') {
      event.preventDefault();
      close();
    } else if (event.key === 'ArrowDown' && hits.length > 0) {
      event.preventDefault();
      setActive((active + 1) % hits.length);
    } else if (event.key === 'ArrowUp' && hits.length > 0) {
      event.preventDefault();
      setActive((active - 1 + hits.length) % hits.length);
    } else if (event.key === 'Enter' && hits[active]) {
      event.preventDefault();
      onJump(hits[active]!);
    }
  };

  const label = scope === 'conversation' ? `Search the conversation with ${bot.name}` : 'Search every conversation';
  const hasWords = query.trim() !== '';
  return (
    <section class="search-panel" role="search" aria-label={label}>
      <div class="search-field">
        <Icon name="search" />
        <input ref={input} type="search" value={query} maxLength={queryLimit} placeholder={label} aria-label={label}
          role="combobox" aria-expanded={hits.length > 0} aria-controls="search-results"
          aria-activedescendant={hits[active] ? `search-hit-${active}` : undefined}
          onInput={(e) => setQuery((e.target as HTMLInputElement).value)} onKeyDown={onKeyDown} />
        <button type="button" class="icon-button flat" aria-label="Close search" title="Close search (Escape)" onClick={close}>
          <Icon name="close" />
        </button>
      </div>
      {command.error && <p class="inline-error" role="alert">{command.error}</p>}
      {hasWords && current && hits.length === 0 && <p class="search-note" role="status">No messages found.</p>}
      {hits.length > 0 && (
        <ul id="search-results" class="search-results" role="listbox" aria-label="Search results">
          {hits.map((hit, index) => {
            const author = bots.get(hit.botID);
            return (
              <li key={hit.messageID} id={`search-hit-${index}`} role="option" aria-selected={index === active}
                class={index === active ? 'search-hit active' : 'search-hit'}
                onMouseEnter={() => setActive(index)} onClick={() => onJump(hit)}>
                {author && <Avatar bot={author} size={24} />}
                <div class="search-hit-text">
                  <span class="search-hit-meta">
                    <strong>{author?.name ?? 'A removed bot'}</strong> · <time dateTime={hit.date}>{dateFormat.format(new Date(hit.date))}</time>
                  </span>
                  <span class="search-hit-snippet">{hit.snippet}</span>
                </div>
              </li>
            );
          })}
        </ul>
      )}
      {current?.more && <p class="search-note">Showing the newest {hits.length} results. Add a word to narrow them.</p>}
    </section>
  );
}
