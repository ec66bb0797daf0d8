// The page's copy of what the shell sent last: the ClientState, the update state, the desktop
// settings and requests to show settings. Components subscribe; the shell's calls only store and notify, so a state
// push costs little until the page draws it.
import { drafts } from './drafts';
import type { AppUpdateState, ClientState, DesktopSettings } from './state';

type Listener = () => void;

class Store {
  state: ClientState | undefined;
  update: AppUpdateState | undefined;
  desktop: DesktopSettings | undefined;
  settingsRequests = 0;
  private listeners = new Set<Listener>();

  subscribe(listener: Listener): () => void {
    this.listeners.add(listener);
    return () => this.listeners.delete(listener);
  }

  private notify(): void {
    for (const l of this.listeners) l();
  }

  receiveState(state: ClientState): void {
    if (!state || typeof state !== 'object' || !state.account) return;
    drafts.adopt(state.account.drafts ?? {});
    this.state = state;
    this.notify();
  }

  receiveUpdateState(update: AppUpdateState): void {
    if (!update || typeof update !== 'object') return;
    this.update = update;
    this.notify();
  }

  receiveDesktopSettings(settings: DesktopSettings): void {
    if (!settings || typeof settings !== 'object' || typeof settings.replyNotifications !== 'boolean') return;
    this.desktop = settings;
    this.notify();
  }

  showSettings(): void {
    this.settingsRequests += 1;
    this.notify();
  }
}

export const store = new Store();
