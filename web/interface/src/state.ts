// The records the shell sends, as the page receives them: JSON objects whose keys are the
// field names, optional fields left out when absent, dates as ISO 8601 strings.

export interface MessageAttachment {
  id: string;
  kind: string;
  title: string;
  url?: string;
}

export interface ReplyPart {
  id: string;
  text: string;
  html?: string;
  date?: string;
  attachments?: MessageAttachment[];
}

export interface QuotedReply {
  messageID: string;
  partID?: string;
  author: string;
  text: string;
}

export type MessageRole = 'user' | 'assistant' | 'handoff' | 'event';

export interface ChatMessage {
  id: string;
  botID: string;
  role: MessageRole | string;
  text: string;
  date: string;
  status: string;
  html?: string;
  parts?: ReplyPart[];
  sourceBotID?: string;
  replyToID?: string;
  handoffID?: string;
  isRouting?: boolean;
  quotedReply?: QuotedReply;
}

export interface Bot {
  id: string;
  name: string;
  kind: string;
  personality: string;
  role?: string;
  generatedRole?: string;
  generatedRoleSource?: string;
  roleAttemptSource?: string;
  image?: string;
  archived: boolean;
}

export type JobPhase = 'queued' | 'preparing' | 'composing' | 'submitting' | 'waiting' | 'delayed' | 'uncertain' | 'failed';

// The page reads only these fields of a request; the rest of the record passes through.
export interface PendingRequest {
  id: string;
  botID: string;
  phase: JobPhase | string;
  note: string;
  roleTargets?: unknown[];
}

export interface DotMessage {
  id: string;
  role: string;
  text: string;
  html?: string;
  attachments?: MessageAttachment[];
}

export interface UnassignedReply {
  id: string;
  message: DotMessage;
  date: string;
}

// A task one bot handed to another on the way to answering a message of the user. Its id is
// also the id of the teammate's request and of the task message in the teammate's conversation.
export interface Handoff {
  id: string;
  rootRequestID: string;
  sourceBotID: string;
  targetBotID: string;
  task: string;
  status: 'working' | 'complete' | 'stopped' | string;
  parentRequestID?: string;
  directMention?: boolean;
}

export interface Account {
  id: string;
  browserProfile: string;
  label: string;
  dotURL: string;
  connectedOnce: boolean;
  bots: Bot[];
  messages: ChatMessage[];
  drafts: Record<string, string>;
  jobs: PendingRequest[];
  selectedBot: string;
  unreadBots?: string[];
  readReplyIDs?: Record<string, string[]>;
  draftReplies?: Record<string, QuotedReply>;
  unassignedReplies?: UnassignedReply[];
  handoffs?: Handoff[];
}

export type Connection = 'disconnected' | 'connecting' | 'recovering' | 'connected' | 'attention' | 'signIn' | 'expired';

export interface SavedAccount {
  id: string;
  name: string;
  active: boolean;
}

export interface ClientState {
  account: Account;
  theme: 'light' | 'dark' | 'system' | string;
  appIconStyle: 'quorvane' | 'dot' | string;
  connection: Connection | string;
  issue: string;
  fileIssue: string; // why the last file offered (an export, a card) was not saved; empty when none
  storageHealthy: boolean;
  accounts: SavedAccount[];
  systemDark: boolean;
  liveReply?: ChatMessage;
  liveReplies: ChatMessage[];
  search?: SearchResults;
}

// The application's answer to the last "search": messages whose visible text holds every word of
// the query, ignoring case and accents, newest first.
export interface SearchHit {
  messageID: string;
  botID: string;
  date: string;
  snippet: string;
}

export interface SearchResults {
  query: string;
  botID?: string; // the conversation searched; absent: every bot
  hits: SearchHit[];
  more: boolean; // further messages match beyond these
}

// The settings the application keeps outside the vault that the page's Settings show.
export interface DesktopSettings {
  replyNotifications: boolean;
}

export interface AppUpdateState {
  configured: boolean;
  status: 'unavailable' | 'idle' | 'checking' | 'available' | 'current' | 'error' | string;
  version: string;
  availableVersion?: string;
  automaticallyChecks: boolean;
  canCheck: boolean;
}
