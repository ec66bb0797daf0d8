// The whole window: sidebar, conversation (header, banners, unfiled replies, messages,
// composer) and the modal dialogs.
import { useCallback, useEffect, useLayoutEffect, useMemo, useReducer, useRef, useState } from 'preact/hooks';
import { send } from '../bridge';
import { readReplies } from '../logic/read';
import { stoppable } from '../logic/status';
import { handoffCounts } from '../logic/timeline';
import { botMessages, conversation, effectiveTheme, jobsByID } from '../model';
import type { Bot, ChatMessage, ClientState, SearchHit } from '../state';
import { store } from '../store';
import { useCommand } from '../useCommand';
import { Avatar } from './Avatar';
import { BotEditor } from './BotEditor';
import { Composer } from './Composer';
import { ExportDialog, type ExportScope } from './ExportDialog';
import { HandoffTimeline } from './HandoffTimeline';
import { Icon } from './Icon';
import { LiveRegions } from './LiveRegions';
import { MessageList } from './MessageList';
import type { MessageContext } from './MessageView';
import { QuickSwitcher } from './QuickSwitcher';
import { SearchPanel, type SearchScope } from './SearchPanel';
import { Shortcuts } from './Shortcuts';
import { Settings } from './Settings';
import { roleOf, Sidebar } from './Sidebar';
import { Unassigned } from './Unassigned';

type Dialog =
  | { kind: 'settings' }
  | { kind: 'editor'; botID?: string }
  | { kind: 'switcher' }
  | { kind: 'shortcuts' }
  | { kind: 'handoffs'; rootID: string }
  | { kind: 'export'; scope: ExportScope }
  | null;

// A file the application offered could not be saved: the sentence stays until dismissed.
function FileIssue({ issue }: { issue: string }) {
  const command = useCommand();
  if (!issue) return null;
  return (
    <div class="banner tone-error" role="alert">
      <Icon name="warning" />
      <p>{issue}</p>
      <button type="button" class="button small" disabled={command.busy} onClick={() => void command.run('dismissFileIssue')}>Dismiss</button>
      {command.error && <p class="inline-error" role="alert">{command.error}</p>}
    </div>
  );
}

function Banner({ state }: { state: ClientState }) {
  const command = useCommand();
  let text: string | undefined;
  let action: { command: string; label: string } | undefined;
  let tone = 'warning';
  if (!state.storageHealthy) {
    text = state.issue || 'Local storage is unavailable.';
    action = { command: 'retryStorage', label: 'Try again' };
    tone = 'error';
  } else if (state.connection === 'signIn') {
    text = 'Sign in to Dot in the Dot window to start talking to your crew.';
    action = { command: 'openDot', label: 'Open Dot to sign in' };
  } else if (state.connection === 'expired') {
    text = 'Your Dot sign-in has expired. Sign in again in the Dot window; your messages wait here.';
    action = { command: 'openDot', label: 'Open Dot to sign in' };
  } else if (state.connection === 'attention') {
    text = state.issue || 'Dot needs your attention in the Dot window.';
    action = { command: 'openDot', label: 'Open Dot window' };
  } else if (state.connection === 'recovering' && state.issue) {
    text = state.issue;
    tone = 'info';
  }
  if (!text) return null;
  return (
    <div class={`banner tone-${tone}`} role={tone === 'error' ? 'alert' : undefined}>
      <Icon name="warning" />
      <p>{text}</p>
      {action && (
        <button type="button" class="button small" disabled={command.busy} onClick={() => void command.run(action!.command)}>{action.label}</button>
      )}
      {command.error && <p class="inline-error" role="alert">{command.error}</p>}
    </div>
  );
}

function EmptyConversation({ state, bot, onNewTeammate }: { state: ClientState; bot: Bot; onNewTeammate: () => void }) {
  const connect = useCommand();
  const crewOfOne = state.account.bots.filter((b) => !b.archived).length === 1;
  return (
    <div class="empty">
      <Avatar bot={bot} size={88} />
      <h2>{state.account.connectedOnce ? `Say hello to ${bot.name}` : 'Welcome to Quorvane'}</h2>
      {!state.account.connectedOnce ? (
        <>
          <p>Quorvane keeps a conversation with each bot of your crew. Connect your Dot to begin.</p>
          {state.connection === 'disconnected' && state.storageHealthy && (
            <button type="button" class="button suggested pill" onClick={() => void connect.run('connect')}>Connect your Dot</button>
          )}
          {connect.error && <p class="inline-error" role="alert">{connect.error}</p>}
        </>
      ) : bot.id === 'dot' ? (
        <p>{crewOfOne ? 'Your crew is just Dot for now. Add teammates with their own personalities and hand work between them.' : 'Your primary Dot. Ask anything, or mention a teammate with @ to hand them a task.'}</p>
      ) : (
        <p class="personality">{bot.personality}</p>
      )}
      {crewOfOne && state.account.connectedOnce && (
        <button type="button" class="button pill" onClick={onNewTeammate}><Icon name="plus" /> Add a teammate</button>
      )}
    </div>
  );
}

// Sends "read" once for each version of an unread bot's replies that the user has in view.
function useReadReceipts(state: ClientState, stored: readonly ChatMessage[], following: boolean) {
  const sent = useRef(new WeakMap<readonly ChatMessage[], string>());
  const bot = state.account.selectedBot;
  const unread = (state.account.unreadBots ?? []).includes(bot);
  useEffect(() => {
    if (!unread || !following || document.visibilityState === 'hidden') return;
    if (sent.current.get(stored) === bot) return;
    sent.current.set(stored, bot);
    void send('read', { accountID: state.account.id, id: bot, replies: readReplies(stored) });
  }, [unread, following, stored, bot, state.account.id]);
}

export function App() {
  const [, bump] = useReducer((n: number) => n + 1, 0);
  const redraw = () => bump(undefined);
  // Subscribed before the first paint, and catching up with a state that came in between:
  // the shell answers "ready" with a state at once.
  const drawn = store.state;
  useLayoutEffect(() => {
    const unsubscribe = store.subscribe(redraw);
    if (store.state !== drawn) redraw();
    return unsubscribe;
  }, []);
  const state = store.state;
  const [dialog, setDialog] = useState<Dialog>(null);
  const [following, setFollowing] = useState(true);
  const [searchScope, setSearchScope] = useState<SearchScope | null>(null);
  const [focus, setFocus] = useState<{ id: string; nonce: number } | undefined>(undefined);
  const settingsSeen = useRef(0);

  // The window's shortcuts (listed by Ctrl+?). None of them is a key that editing text needs:
  // Ctrl+F, Ctrl+K and Ctrl+? do nothing in a text field, Alt+digit types nothing, and Escape
  // only acts when no dialog, search or menu is open.
  useEffect(() => {
    const onKey = (event: KeyboardEvent) => {
      const current = store.state;
      if (!current || dialog || event.defaultPrevented || event.isComposing || event.metaKey) return;
      const key = event.key;
      if (event.ctrlKey && !event.altKey && key.toLowerCase() === 'f') {
        event.preventDefault();
        setSearchScope(event.shiftKey ? 'account' : 'conversation');
      } else if (event.ctrlKey && !event.altKey && !event.shiftKey && key.toLowerCase() === 'k') {
        event.preventDefault();
        setDialog({ kind: 'switcher' });
      } else if (event.ctrlKey && !event.altKey && (key === '?' || (key === '/' && event.shiftKey))) {
        event.preventDefault();
        setDialog({ kind: 'shortcuts' });
      } else if (event.altKey && !event.ctrlKey && !event.shiftKey && /^Digit[1-9]$/.test(event.code)) {
        const bot = current.account.bots.filter((b) => !b.archived)[Number(event.code.slice(5)) - 1];
        event.preventDefault();
        if (bot && bot.id !== current.account.selectedBot) void send('select', { id: bot.id });
      } else if (key === 'Escape' && !event.ctrlKey && !event.altKey && !event.shiftKey && !searchScope) {
        // The newest request of the bot on screen that still waits, as its "Stop waiting" does.
        const jobs = current.account.jobs.filter((j) => j.botID === current.account.selectedBot && stoppable.has(j.phase));
        const job = jobs[jobs.length - 1];
        if (!job) return;
        event.preventDefault();
        void send('stopWaiting', { id: job.id });
      }
    };
    window.addEventListener('keydown', onKey);
    return () => window.removeEventListener('keydown', onKey);
  }, [dialog, searchScope]);

  useEffect(() => {
    if (store.settingsRequests !== settingsSeen.current) {
      settingsSeen.current = store.settingsRequests;
      setDialog({ kind: 'settings' });
    }
  });

  // Until the first state arrives the page follows the window, which starts in the theme of the
  // last run (the application keeps a copy outside the encrypted history for this moment).
  const theme = state ? effectiveTheme(state) : matchMedia('(prefers-color-scheme: dark)').matches ? 'dark' : 'light';
  useEffect(() => {
    document.documentElement.dataset['theme'] = theme;
  }, [theme]);

  const onFollowChange = useCallback((f: boolean) => setFollowing(f), []);
  const openEditor = useCallback((botID?: string) => setDialog(botID ? { kind: 'editor', botID } : { kind: 'editor' }), []);
  const onNewTeammate = useCallback(() => openEditor(), []);
  const onSettings = useCallback(() => setDialog({ kind: 'settings' }), []);
  const onExportAll = useCallback(() => setDialog({ kind: 'export', scope: { kind: 'all' } }), []);
  const account = state?.account;
  const bots = account?.bots;
  const botMap = useMemo(() => new Map((bots ?? []).map((b) => [b.id, b])), [bots]);
  const selectedBot = account ? botMap.get(account.selectedBot) ?? botMap.get('dot') ?? account.bots[0] : undefined;
  const handoffs = account ? handoffCounts(account) : undefined;
  const onShowHandoffs = useCallback((rootID: string) => setDialog({ kind: 'handoffs', rootID }), []);
  const context = useMemo<MessageContext | undefined>(
    () => (account && selectedBot && handoffs
      ? { accountID: account.id, botID: selectedBot.id, bots: botMap, handoffs, onShowHandoffs }
      : undefined),
    [account?.id, selectedBot?.id, botMap, handoffs],
  );
  const stored = state && selectedBot ? botMessages(state, selectedBot.id) : [];
  const live = state?.liveReplies ?? [];
  const shown = useMemo(() => (selectedBot ? conversation(stored, live, selectedBot.id) : stored), [stored, live, selectedBot?.id]);
  const liveIDs = useMemo(() => new Set(live.filter((m) => m.botID === selectedBot?.id).map((m) => m.id)), [live, selectedBot?.id]);
  const emptyState = state ?? ({ account: { unreadBots: [], selectedBot: '', id: '' } } as unknown as ClientState);
  useReadReceipts(emptyState, stored, following);

  if (!state || !account || !selectedBot || !context) {
    return <div class="loading" role="status">Opening Quorvane…</div>;
  }

  const role = roleOf(selectedBot);
  // A result in another conversation switches to it first; the list shows the message once it
  // has arrived.
  const jumpTo = (botID: string, messageID: string) => {
    if (botID !== selectedBot.id) void send('select', { id: botID });
    setFocus({ id: messageID, nonce: (focus?.nonce ?? 0) + 1 });
  };
  const jump = (hit: SearchHit) => jumpTo(hit.botID, hit.messageID);
  const timelineRoot = dialog?.kind === 'handoffs' ? account.messages.find((m) => m.id === dialog.rootID) : undefined;
  const unassigned = account.unassignedReplies ?? [];
  const quote = account.draftReplies?.[selectedBot.id];

  return (
    <div class="window">
      <Sidebar state={state} onNewTeammate={onNewTeammate} onSettings={onSettings} onExportAll={onExportAll} />
      <main class="main" aria-label={`Conversation with ${selectedBot.name}`}>
        <header class="main-header">
          <Avatar bot={selectedBot} size={32} />
          <div class="main-title">
            <h2>{selectedBot.name}</h2>
            {role && <span class="bot-role">{role}</span>}
          </div>
          <button type="button" class="icon-button flat" aria-label={`Export ${selectedBot.name}’s conversation`}
            title="Export conversation…" onClick={() => setDialog({ kind: 'export', scope: { kind: 'bot', bot: selectedBot } })}>
            <Icon name="export" />
          </button>
          {selectedBot.id !== 'dot' && (
            <button type="button" class="icon-button flat" aria-label={`Edit ${selectedBot.name}`} title="Edit teammate"
              onClick={() => openEditor(selectedBot.id)}>
              <Icon name="edit" />
            </button>
          )}
        </header>
        {searchScope && (
          <SearchPanel state={state} scope={searchScope} bot={selectedBot} bots={botMap} onJump={jump}
            onClose={() => setSearchScope(null)} />
        )}
        <FileIssue issue={state.fileIssue ?? ''} />
        <Banner state={state} />
        {unassigned.length > 0 && (
          <Unassigned replies={unassigned} bots={account.bots} accountID={account.id} selectedBot={selectedBot.id} />
        )}
        <MessageList
          key={`${account.id}/${selectedBot.id}`}
          messages={shown}
          liveIDs={liveIDs}
          jobs={jobsByID(account)}
          context={context}
          onFollowChange={onFollowChange}
          focus={focus}
          empty={<EmptyConversation state={state} bot={selectedBot} onNewTeammate={onNewTeammate} />}
        />
        <Composer accountID={account.id} bot={selectedBot} quote={quote} disabledReason={undefined} />
      </main>
      <LiveRegions state={state} />
      {dialog?.kind === 'settings' && (
        <Settings state={state} update={store.update} desktop={store.desktop} onClose={() => setDialog(null)}
          onExportAll={onExportAll} />
      )}
      {dialog?.kind === 'export' && (
        <ExportDialog accountID={account.id} scope={dialog.scope} onClose={() => setDialog(null)} />
      )}
      {dialog?.kind === 'switcher' && <QuickSwitcher state={state} onClose={() => setDialog(null)} />}
      {dialog?.kind === 'shortcuts' && <Shortcuts onClose={() => setDialog(null)} />}
      {timelineRoot && (
        <HandoffTimeline account={account} root={timelineRoot} bots={botMap} onJump={jumpTo} onClose={() => setDialog(null)} />
      )}
      {dialog?.kind === 'editor' && (
        <BotEditor accountID={account.id} bot={dialog.botID ? botMap.get(dialog.botID) : undefined} onClose={() => setDialog(null)} />
      )}
    </div>
  );
}
