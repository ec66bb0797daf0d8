// Settings: appearance, app icon, notifications, updates, the Dot window, exporting and clearing
// the history.
import { useState } from 'preact/hooks';
import type { AppUpdateState, ClientState, DesktopSettings } from '../state';
import { useCommand } from '../useCommand';
import { Modal } from './Modal';

const updateWords: Record<string, string> = {
  unavailable: 'Updates aren’t set up for this installation.',
  idle: 'Ready to check for updates.',
  checking: 'Checking for updates…',
  available: 'An update is available.',
  current: 'Quorvane is up to date.',
  error: 'The last check for updates failed.',
};

function Choice<T extends string>({ legend, name, value, options, onChange, error }: {
  legend: string;
  name: string;
  value: T;
  options: { value: T; label: string }[];
  onChange: (value: T) => void;
  error: string | null;
}) {
  const labelID = `choice-${name}`;
  return (
    <div class="settings-row">
      <span id={labelID}>{legend}</span>
      <div class="segmented" role="radiogroup" aria-labelledby={labelID}>
        {options.map((o) => (
          <label key={o.value} class={o.value === value ? 'segment checked' : 'segment'}>
            <input type="radio" name={name} value={o.value} checked={o.value === value} onChange={() => onChange(o.value)} />
            {o.label}
          </label>
        ))}
      </div>
      {error && <p class="inline-error" role="alert">{error}</p>}
    </div>
  );
}

export function Settings({ state, update, desktop, onExportAll, onClose }: {
  state: ClientState;
  update: AppUpdateState | undefined;
  desktop: DesktopSettings | undefined;
  onExportAll: () => void;
  onClose: () => void;
}) {
  const notifications = useCommand();
  const theme = useCommand();
  const icon = useCommand();
  const updates = useCommand();
  const dot = useCommand();
  const clear = useCommand();
  const [confirming, setConfirming] = useState(false);
  const pending = state.account.jobs.length > 0;
  const u = update ?? { configured: false, status: 'unavailable', version: '', automaticallyChecks: false, canCheck: false };

  return (
    <Modal title="Settings" onClose={onClose} wide>
      <div class="settings">
        <section class="settings-group" aria-labelledby="settings-appearance">
          <h3 id="settings-appearance">Appearance</h3>
          <Choice legend="Style" name="theme" value={state.theme} error={theme.error}
            options={[{ value: 'system', label: 'Follow system' }, { value: 'light', label: 'Light' }, { value: 'dark', label: 'Dark' }]}
            onChange={(v) => void theme.run('theme', { theme: v })} />
          <Choice legend="App icon" name="appIcon" value={state.appIconStyle} error={icon.error}
            options={[{ value: 'quorvane', label: 'Quorvane' }, { value: 'dot', label: 'Your Dot’s picture' }]}
            onChange={(v) => void icon.run('appIcon', { style: v })} />
        </section>

        <section class="settings-group" aria-labelledby="settings-notifications">
          <h3 id="settings-notifications">Notifications</h3>
          <label class="settings-row switch-row">
            <span class="settings-text">
              <span>Notify me about replies</span>
              <span class="dim">When a reply arrives while Quorvane isn’t the window you’re using.</span>
            </span>
            <input type="checkbox" role="switch" class="switch" checked={desktop?.replyNotifications ?? true} disabled={!desktop}
              onChange={(e) => void notifications.run('replyNotifications', { enabled: (e.currentTarget as HTMLInputElement).checked })} />
          </label>
          {notifications.error && <p class="inline-error" role="alert">{notifications.error}</p>}
        </section>

        <section class="settings-group" aria-labelledby="settings-updates">
          <h3 id="settings-updates">Updates</h3>
          <div class="settings-row">
            <div class="settings-text">
              <span>{u.status === 'available' && u.availableVersion ? `Version ${u.availableVersion} is available.` : updateWords[u.status] ?? u.status}</span>
              {u.version && <span class="dim">Quorvane {u.version}</span>}
            </div>
            <button type="button" class="button small" disabled={!u.configured || !u.canCheck || u.status === 'checking'}
              onClick={() => void updates.run('checkUpdates')}>
              Check now
            </button>
          </div>
          <label class="settings-row switch-row">
            <span>Check for updates automatically</span>
            <input type="checkbox" role="switch" class="switch" checked={u.automaticallyChecks} disabled={!u.configured}
              onChange={(e) => void updates.run('automaticUpdates', { enabled: (e.currentTarget as HTMLInputElement).checked })} />
          </label>
          {updates.error && <p class="inline-error" role="alert">{updates.error}</p>}
        </section>

        <section class="settings-group" aria-labelledby="settings-dot">
          <h3 id="settings-dot">Dot</h3>
          <div class="settings-row">
            <div class="settings-text">
              <span>The Dot window</span>
              <span class="dim">Sign in, finish a step Dot asks for, or use attachments there.</span>
            </div>
            <button type="button" class="button small" onClick={() => void dot.run('openDot')}>Open Dot window</button>
          </div>
          {dot.error && <p class="inline-error" role="alert">{dot.error}</p>}
        </section>

        <section class="settings-group" aria-labelledby="settings-history">
          <h3 id="settings-history">History</h3>
          <div class="settings-row">
            <div class="settings-text">
              <span>Export conversations</span>
              <span class="dim">Every conversation of this Dot connection, as Markdown or JSON.</span>
            </div>
            <button type="button" class="button small" onClick={onExportAll}>Export…</button>
          </div>
          <div class="settings-row">
            <div class="settings-text">
              <span>Clear history</span>
              <span class="dim">{pending ? 'Available once no messages are pending.' : 'Removes every conversation of this Dot connection. Your crew stays.'}</span>
            </div>
            {!pending && !confirming && (
              <button type="button" class="button small destructive" onClick={() => setConfirming(true)}>Clear history…</button>
            )}
          </div>
          {confirming && !pending && (
            <div class="confirm" role="group" aria-label="Confirm clearing the history">
              <p>Clear every conversation? This can’t be undone.</p>
              <div class="confirm-buttons">
                <button type="button" class="button small" data-autofocus onClick={() => setConfirming(false)}>Keep history</button>
                <button type="button" class="button small destructive solid" disabled={clear.busy}
                  onClick={() => void clear.run('clear').then((e) => e === null && setConfirming(false))}>
                  Clear history
                </button>
              </div>
            </div>
          )}
          {clear.error && <p class="inline-error" role="alert">{clear.error}</p>}
        </section>
      </div>
    </Modal>
  );
}
