// Entry point: defines the functions the shell calls, draws the page, then says "ready".
import { render } from 'preact';
import { startBridge } from './bridge';
import { App } from './components/App';
import { drafts } from './drafts';
import type { AppUpdateState, ClientState, DesktopSettings } from './state';
import { store } from './store';

function define(name: string, value: unknown): void {
  // Fixed properties: nothing the page later renders can replace them.
  Object.defineProperty(window, name, { value, writable: false, configurable: false, enumerable: false });
}

define('receiveState', (state: ClientState) => store.receiveState(state));
define('receiveUpdateState', (update: AppUpdateState) => store.receiveUpdateState(update));
define('receiveDesktopSettings', (settings: DesktopSettings) => store.receiveDesktopSettings(settings));
define('showSettings', () => store.showSettings());
// Before quitting: saves the composer's drafts; resolves once the application has acknowledged
// them, rejects with its sentence when it could not.
define('flushDraft', async () => {
  const state = store.state;
  if (!state) return true;
  await drafts.flush(state.account.selectedBot);
  return true;
});

if ((window as { quorvaneNativeMaterial?: boolean }).quorvaneNativeMaterial === true) {
  document.documentElement.classList.add('native-material');
}

render(<App />, document.getElementById('app')!);
startBridge();
