// The sidebar: the crew (primary bot first, then teammates) with roles and unread marks,
// archived bots in their own section, the connection with the action that fixes it, and the
// saved Dot connections.
import { memo } from 'preact/compat';
import { useRef, useState } from 'preact/hooks';
import { send } from '../bridge';
import { drafts } from '../drafts';
import { base64OfBytes, cardFileByteLimit, cardTooLarge } from '../logic/card';
import { connectionFix, connectionTone, connectionWordsFor } from '../logic/status';
import type { Bot, ClientState } from '../state';
import { useCommand } from '../useCommand';
import { Avatar } from './Avatar';
import { Icon } from './Icon';

export function roleOf(bot: Bot): string | undefined {
  if (bot.id === 'dot') return 'Your primary Dot';
  return bot.role && bot.role.trim() !== '' ? bot.role : bot.generatedRole;
}

function BotRow({ bot, selected, unread, onSelect, error }: {
  bot: Bot;
  selected: boolean;
  unread: boolean;
  onSelect: (bot: Bot) => void;
  error: string | null;
}) {
  const role = roleOf(bot);
  return (
    <li>
      <button
        type="button"
        class={selected ? 'bot-row selected' : 'bot-row'}
        aria-current={selected ? 'page' : undefined}
        data-bot-id={bot.id}
        onClick={() => onSelect(bot)}
      >
        <Avatar bot={bot} size={36} />
        <span class="bot-row-text">
          <span class="bot-name">{bot.name}</span>
          {role && <span class="bot-role">{role}</span>}
        </span>
        {unread && <span class="unread-dot"><span class="visually-hidden">Unread replies</span></span>}
      </button>
      {error && <p class="inline-error" role="alert">{error}</p>}
    </li>
  );
}

function Connection({ state }: { state: ClientState }) {
  const command = useCommand();
  const fix = connectionFix(state.connection, state.storageHealthy);
  const tone = connectionTone(state.connection, state.storageHealthy);
  const words = state.storageHealthy ? connectionWordsFor(state.connection) : 'Storage unavailable';
  return (
    <section class={`connection tone-${tone}`} aria-label="Connection">
      <div class="connection-line">
        <span class="connection-light" aria-hidden="true" />
        <span class="connection-words">{words}</span>
      </div>
      {state.issue && <p class="connection-issue">{state.issue}</p>}
      {fix && (
        <button type="button" class={tone === 'error' ? 'button suggested small' : 'button small'} disabled={command.busy}
          onClick={() => void command.run(fix.command)}>
          {fix.label}
        </button>
      )}
      {command.error && <p class="inline-error" role="alert">{command.error}</p>}
    </section>
  );
}

function Accounts({ state, onExportAll }: { state: ClientState; onExportAll: () => void }) {
  const [open, setOpen] = useState(false);
  const command = useCommand();
  const active = state.accounts.find((a) => a.active) ?? state.accounts[0];
  return (
    <section class="accounts" aria-label="Dot connections">
      <button type="button" class="account-button" aria-expanded={open ? 'true' : 'false'} aria-controls="account-list"
        onClick={() => setOpen(!open)}>
        <Icon name="link" />
        <span>{active?.name ?? 'Dot connection'}</span>
        <Icon name="chevron" />
      </button>
      {open && (
        <ul id="account-list" class="account-list">
          {state.accounts.map((a) => (
            <li key={a.id}>
              <button type="button" class="account-choice" aria-pressed={a.active ? 'true' : 'false'} disabled={command.busy}
                onClick={() => void (a.active ? setOpen(false) : command.run('switch', { id: a.id }))}>
                <span>{a.name}</span>
                {a.active && <Icon name="check" />}
              </button>
            </li>
          ))}
          <li>
            <button type="button" class="account-choice" disabled={command.busy} onClick={() => void command.run('switch')}>
              <Icon name="plus" /> <span>New connection</span>
            </button>
          </li>
          <li>
            <button type="button" class="account-choice" onClick={() => { setOpen(false); onExportAll(); }}>
              <Icon name="export" /> <span>Export all conversations…</span>
            </button>
          </li>
        </ul>
      )}
      {command.error && <p class="inline-error" role="alert">{command.error}</p>}
    </section>
  );
}

// "Import Character Card…": the chosen PNG goes to the application, which adds the teammate it
// describes (and selects it) or answers with the sentence that says why not.
function ImportCard({ accountID }: { accountID: string }) {
  const command = useCommand();
  const picker = useRef<HTMLInputElement>(null);
  const [tooLarge, setTooLarge] = useState(false);

  const choose = async (event: Event) => {
    const input = event.currentTarget as HTMLInputElement;
    const file = input.files?.[0];
    input.value = '';
    if (!file) return;
    command.clear();
    setTooLarge(file.size > cardFileByteLimit);
    if (file.size > cardFileByteLimit) return;
    const png = base64OfBytes(new Uint8Array(await file.arrayBuffer()));
    await command.run('importCard', { accountID, png });
  };

  const error = tooLarge ? cardTooLarge : command.error;
  return (
    <div class="import-card">
      <button type="button" class="new-teammate" disabled={command.busy} onClick={() => picker.current?.click()}>
        <Icon name="plus" /> Import Character Card…
      </button>
      <input ref={picker} id="import-card-file" class="visually-hidden" type="file" accept="image/png" tabIndex={-1}
        aria-label="Choose a character card" onChange={(e) => void choose(e)} />
      {error && <p id="import-card-error" class="inline-error" role="alert">{error}</p>}
    </div>
  );
}

function SidebarView({ state, onNewTeammate, onSettings, onExportAll }: {
  state: ClientState;
  onNewTeammate: () => void;
  onSettings: () => void;
  onExportAll: () => void;
}) {
  const account = state.account;
  const unread = new Set(account.unreadBots ?? []);
  const active = account.bots.filter((b) => !b.archived);
  const archived = account.bots.filter((b) => b.archived);
  const [selectError, setSelectError] = useState<{ id: string; error: string } | null>(null);
  const restore = useCommand();

  const select = async (bot: Bot) => {
    if (bot.id === account.selectedBot) return;
    drafts.saveIfDirty(account.selectedBot);
    setSelectError(null);
    const error = await send('select', { id: bot.id });
    if (error) setSelectError({ id: bot.id, error });
  };

  const onKeyDown = (event: KeyboardEvent) => {
    if (event.key !== 'ArrowDown' && event.key !== 'ArrowUp') return;
    const rows = Array.from((event.currentTarget as HTMLElement).querySelectorAll<HTMLElement>('.bot-row'));
    const at = rows.indexOf(document.activeElement as HTMLElement);
    if (at < 0) return;
    event.preventDefault();
    rows[Math.max(0, Math.min(rows.length - 1, at + (event.key === 'ArrowDown' ? 1 : -1)))]?.focus();
  };

  return (
    <nav class="sidebar" aria-label="Crew">
      <header class="sidebar-header">
        <h1 class="app-title">Quorvane</h1>
        <button type="button" class="icon-button flat" aria-label="Settings" title="Settings" onClick={onSettings}>
          <Icon name="menu" />
        </button>
      </header>
      <div class="sidebar-scroll">
        <ul class="bot-list" onKeyDown={onKeyDown}>
          {active.map((bot) => (
            <BotRow key={bot.id} bot={bot} selected={bot.id === account.selectedBot} unread={unread.has(bot.id)} onSelect={select}
              error={selectError?.id === bot.id ? selectError.error : null} />
          ))}
        </ul>
        <button type="button" class="new-teammate" onClick={onNewTeammate}>
          <Icon name="plus" /> New teammate
        </button>
        <ImportCard key={account.id} accountID={account.id} />
        {archived.length > 0 && (
          <details class="archived">
            <summary>Archived ({archived.length})</summary>
            <ul class="bot-list">
              {archived.map((bot) => (
                <li key={bot.id} class="archived-row">
                  <Avatar bot={bot} size={28} />
                  <span class="bot-name">{bot.name}</span>
                  <button type="button" class="button small" aria-label={`Restore ${bot.name}`} disabled={restore.busy}
                    onClick={() => void restore.run('restore', { id: bot.id })}>
                    Restore
                  </button>
                </li>
              ))}
            </ul>
            {restore.error && <p class="inline-error" role="alert">{restore.error}</p>}
          </details>
        )}
      </div>
      <footer class="sidebar-footer">
        <Connection state={state} />
        <Accounts state={state} onExportAll={onExportAll} />
      </footer>
    </nav>
  );
}

// Redrawn only when what it shows changed: a streaming reply leaves the sidebar alone.
export const Sidebar = memo(SidebarView, (a, b) => {
  const x = a.state;
  const y = b.state;
  return x.account.bots === y.account.bots && x.account.unreadBots === y.account.unreadBots &&
    x.account.selectedBot === y.account.selectedBot && x.account.id === y.account.id && x.connection === y.connection &&
    x.issue === y.issue && x.storageHealthy === y.storageHealthy && x.accounts === y.accounts &&
    a.onNewTeammate === b.onNewTeammate && a.onSettings === b.onSettings && a.onExportAll === b.onExportAll;
});
