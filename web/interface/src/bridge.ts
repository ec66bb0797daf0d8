// The page's one way to the application: every command goes out here and every answer comes
// back here. The shell registers its message handler in a world of its own and relays only the
// top frame's own window messages to it, so a command is a window message carrying
// { quorvane: { id, command, data } } posted to this very window. The shell answers each one with
// window.nativeResult(id, error): null when it succeeded, else the sentence to show the user.
//
// "ready" is always the first message: commands issued before it wait in order behind it.

export type CommandResult = string | null;

interface Pending {
  resolve: (error: CommandResult) => void;
}

// Taken once, at load, so that nothing the page later renders (a clobbered global, a property
// defined by hostile markup) can change where commands go.
const post = window.postMessage.bind(window);
const pending = new Map<string, Pending>();
const waiting: Array<() => void> = [];
let started = false;
let counter = 0;

function nextID(): string {
  counter += 1;
  return `q${counter}`;
}

function deliver(id: string, command: string, data: Record<string, unknown>): void {
  post({ quorvane: { id, command, data } }, '*');
}

// Sends `command` and resolves with the shell's answer: null, or the user-facing sentence.
export function send(command: string, data: Record<string, unknown> = {}): Promise<CommandResult> {
  const id = nextID();
  const answer = new Promise<CommandResult>((resolve) => pending.set(id, { resolve }));
  if (started) deliver(id, command, data);
  else waiting.push(() => deliver(id, command, data));
  return answer;
}

function nativeResult(id: unknown, error: unknown): void {
  if (typeof id !== 'string') return;
  const entry = pending.get(id);
  if (!entry) return;
  pending.delete(id);
  entry.resolve(typeof error === 'string' && error !== '' ? error : null);
}

// Defines window.nativeResult and sends "ready"; the page calls it once its own functions
// (receiveState and the rest) are in place, so the first state has somewhere to go.
export function startBridge(): void {
  if (started) return;
  Object.defineProperty(window, 'nativeResult', { value: nativeResult, writable: false, configurable: false });
  started = true;
  deliver(nextID(), 'ready', {});
  for (const flush of waiting.splice(0)) flush();
}
