// The composer's text per bot. What the user types is saved with "draft" after a pause, at
// once when they switch bots, and by flushDraft before the application quits. A draft that the
// application changes itself (a cancelled message goes back into it) replaces the composer's
// text unless the user has typed something that is not saved yet.

import { send, type CommandResult } from './bridge';

const saveDelay = 600;

type Listener = () => void;

class DraftStore {
  private local = new Map<string, string>();
  private saved = new Map<string, string>();
  private seen = new Map<string, string>();
  private timers = new Map<string, ReturnType<typeof setTimeout>>();
  private inFlight = new Map<string, Promise<CommandResult>>();
  private listeners = new Set<Listener>();
  private onError: (botID: string, error: string) => void = () => {};

  subscribe(listener: Listener): () => void {
    this.listeners.add(listener);
    return () => this.listeners.delete(listener);
  }

  reportErrorsTo(handler: (botID: string, error: string) => void): void {
    this.onError = handler;
  }

  private notify(): void {
    for (const l of this.listeners) l();
  }

  private dirty(botID: string): boolean {
    return this.timers.has(botID) || this.inFlight.has(botID) || (this.local.get(botID) ?? '') !== (this.saved.get(botID) ?? '');
  }

  // Takes in the drafts of a new state.
  adopt(drafts: Record<string, string>): void {
    let changed = false;
    for (const [botID, text] of Object.entries(drafts)) {
      if (this.seen.get(botID) === text) continue;
      this.seen.set(botID, text);
      if (!this.local.has(botID) || !this.dirty(botID)) {
        this.local.set(botID, text);
        this.saved.set(botID, text);
        changed = true;
      }
    }
    if (changed) this.notify();
  }

  text(botID: string): string {
    return this.local.get(botID) ?? '';
  }

  edit(botID: string, text: string): void {
    this.local.set(botID, text);
    const timer = this.timers.get(botID);
    if (timer) clearTimeout(timer);
    this.timers.set(botID, setTimeout(() => void this.save(botID), saveDelay));
    this.notify();
  }

  // Saves the bot's draft now; resolves with the application's answer.
  async save(botID: string): Promise<CommandResult> {
    const timer = this.timers.get(botID);
    if (timer) clearTimeout(timer);
    this.timers.delete(botID);
    const text = this.local.get(botID) ?? '';
    const request = send('draft', { id: botID, text });
    this.inFlight.set(botID, request);
    const error = await request;
    if (this.inFlight.get(botID) === request) this.inFlight.delete(botID);
    if (error === null) this.saved.set(botID, text);
    else this.onError(botID, error);
    this.notify();
    return error;
  }

  // Saves the bot's draft when it has changes not yet saved (the user leaves its conversation).
  saveIfDirty(botID: string): void {
    if (this.timers.has(botID)) void this.save(botID);
  }

  // Saves every draft with unsaved changes, and the selected bot's whenever it holds text. An
  // empty draft that was saved empty is left alone: saving it again keeps nothing, and with the
  // storage down (a locked keyring) it would fail and make quitting ask about a draft that is
  // not there.
  async flush(selected: string): Promise<void> {
    const bots = new Set<string>();
    if (this.text(selected) !== '' || this.dirty(selected)) bots.add(selected);
    for (const botID of this.local.keys()) if (this.dirty(botID)) bots.add(botID);
    const errors = await Promise.all([...bots].map((b) => this.save(b)));
    const failed = errors.find((e) => e !== null);
    if (failed) throw new Error(failed);
  }

  // The message went out: the application emptied the draft, and so does the composer.
  sent(botID: string, text: string): void {
    const timer = this.timers.get(botID);
    if (timer) clearTimeout(timer);
    this.timers.delete(botID);
    if ((this.local.get(botID) ?? '') === text) this.local.set(botID, '');
    this.saved.set(botID, '');
    this.notify();
  }

  // Cancels a pending save without sending it (the text is about to be sent as a message).
  hold(botID: string): void {
    const timer = this.timers.get(botID);
    if (timer) clearTimeout(timer);
    this.timers.delete(botID);
  }
}

export const drafts = new DraftStore();
