// Export: one bot's conversation or every conversation of this Dot connection, as Markdown to
// read or JSON to keep. The application asks where to save it; the file is not encrypted, which
// the dialog says before the user chooses.
import { useState } from 'preact/hooks';
import type { Bot } from '../state';
import { useCommand } from '../useCommand';
import { Modal } from './Modal';

export type ExportScope = { kind: 'bot'; bot: Bot } | { kind: 'all' };

const formats = [
  { value: 'markdown', label: 'Markdown', hint: 'Easy to read' },
  { value: 'json', label: 'JSON', hint: 'Every detail, for other tools' },
] as const;

export function ExportDialog({ accountID, scope, onClose }: { accountID: string; scope: ExportScope; onClose: () => void }) {
  const [format, setFormat] = useState<'markdown' | 'json'>('markdown');
  const command = useCommand();
  const title = scope.kind === 'bot' ? `Export ${scope.bot.name}’s Conversation` : 'Export All Conversations';

  const start = async () => {
    const error = await command.run('export', scope.kind === 'bot' ? { accountID, botID: scope.bot.id, format } : { accountID, format });
    if (error === null) onClose();
  };

  return (
    <Modal title={title} onClose={onClose} describedBy="export-notice">
      <div class="export">
        <div class="segmented" role="radiogroup" aria-label="Format">
          {formats.map((f) => (
            <label key={f.value} class={f.value === format ? 'segment checked' : 'segment'} title={f.hint}>
              <input type="radio" name="export-format" value={f.value} checked={f.value === format}
                data-autofocus={f.value === format ? true : undefined} onChange={() => setFormat(f.value)} />
              {f.label}
            </label>
          ))}
        </div>
        <p class="dim" id="export-notice">The exported file is not encrypted. Anyone who can open it can read it.</p>
        {command.error && <p class="inline-error" role="alert">{command.error}</p>}
        <div class="confirm-buttons">
          <button type="button" class="button small" onClick={onClose}>Cancel</button>
          <button type="button" class="button small suggested" disabled={command.busy} onClick={() => void start()}>Export…</button>
        </div>
      </div>
    </Modal>
  );
}
