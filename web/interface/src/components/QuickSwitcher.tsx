// Ctrl+K: a list of the account's bots and the saved Dot connections, narrowed as the user types
// (ignoring case and accents), Up and Down to move, Enter to go there.
import { useMemo, useState } from 'preact/hooks';
import type { ClientState } from '../state';
import { useCommand } from '../useCommand';
import { Avatar } from './Avatar';
import { Icon } from './Icon';
import { Modal } from './Modal';

interface Choice {
  key: string;
  label: string;
  detail: string;
  command: 'select' | 'switch';
  id: string;
  bot?: ClientState['account']['bots'][number];
}

// Lower case without accents, so "cafe" finds "Café".
export function plain(text: string): string {
  return text.normalize('NFD').replace(/\p{Mn}/gu, '').toLocaleLowerCase();
}

export function QuickSwitcher({ state, onClose }: { state: ClientState; onClose: () => void }) {
  const command = useCommand();
  const [filter, setFilter] = useState('');
  const [active, setActive] = useState(0);
  const choices = useMemo<Choice[]>(() => {
    const bots = state.account.bots
      .filter((b) => !b.archived)
      .map((b) => ({ key: `bot:${b.id}`, label: b.name, detail: 'Bot', command: 'select' as const, id: b.id, bot: b }));
    const accounts = state.accounts
      .filter((a) => !a.active)
      .map((a) => ({ key: `account:${a.id}`, label: a.name, detail: 'Dot connection', command: 'switch' as const, id: a.id }));
    return [...bots, ...accounts];
  }, [state.account.bots, state.accounts]);
  const wanted = plain(filter.trim());
  const shown = wanted ? choices.filter((c) => plain(c.label).includes(wanted)) : choices;
  const current = Math.min(active, Math.max(0, shown.length - 1));

  const go = async (choice: Choice | undefined) => {
    if (!choice) return;
    const error = await command.run(choice.command, { id: choice.id });
    if (error === null) onClose();
  };

  const onKeyDown = (event: KeyboardEvent) => {
    if (event.key === 'ArrowDown' && shown.length > 0) {
      event.preventDefault();
      setActive((current + 1) % shown.length);
    } else if (event.key === 'ArrowUp' && shown.length > 0) {
      event.preventDefault();
      setActive((current - 1 + shown.length) % shown.length);
    } else if (event.key === 'Enter') {
      event.preventDefault();
      void go(shown[current]);
    }
  };

  return (
    <Modal title="Go to" onClose={onClose}>
      <div class="dialog-body">
      <div class="search-field">
        <Icon name="search" />
        <input data-autofocus type="search" value={filter} placeholder="Bot or Dot connection" aria-label="Bot or Dot connection"
          role="combobox" aria-expanded={shown.length > 0} aria-controls="switcher-choices"
          aria-activedescendant={shown[current] ? `switcher-${current}` : undefined}
          onInput={(e) => { setFilter((e.target as HTMLInputElement).value); setActive(0); }} onKeyDown={onKeyDown} />
      </div>
      {shown.length === 0 && <p class="search-note" role="status">Nothing by that name.</p>}
      <ul id="switcher-choices" class="search-results" role="listbox" aria-label="Bots and Dot connections">
        {shown.map((choice, index) => (
          <li key={choice.key} id={`switcher-${index}`} role="option" aria-selected={index === current}
            class={index === current ? 'search-hit active' : 'search-hit'}
            onMouseEnter={() => setActive(index)} onClick={() => void go(choice)}>
            {choice.bot ? <Avatar bot={choice.bot} size={24} /> : <Icon name="link" />}
            <div class="search-hit-text">
              <strong>{choice.label}</strong>
              <span class="search-hit-meta">{choice.detail}</span>
            </div>
          </li>
        ))}
      </ul>
      {command.error && <p class="inline-error" role="alert">{command.error}</p>}
      </div>
    </Modal>
  );
}
