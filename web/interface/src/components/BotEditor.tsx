// Creating or editing a teammate: name, short role, personality, one of the 32 avatars or a
// picture of the user's own, and archiving. The application checks everything again; its
// sentence is shown beside the field it concerns.
import { useRef, useState } from 'preact/hooks';
import { builtInAvatars, avatarURL } from '../avatars';
import { send } from '../bridge';
import { encodeAvatar } from '../logic/avatar';
import { characterCount, nameLimit, personalityLimit, roleLimit } from '../logic/text';
import type { Bot } from '../state';
import { Icon } from './Icon';
import { Modal } from './Modal';

type Field = 'name' | 'role' | 'avatar' | 'form';

export function fieldOf(error: string): Field {
  if (error.startsWith('Add a name')) return 'name';
  if (error.startsWith('Keep the short role')) return 'role';
  if (error === 'Choose an avatar.' || error === 'Choose a smaller PNG avatar.') return 'avatar';
  return 'form';
}

// Reads the chosen file, scales it to fit 512 × 512 and re-encodes it as a PNG data URL.
async function pictureFrom(file: File): Promise<string> {
  const bitmap = await createImageBitmap(file);
  try {
    return await encodeAvatar({ width: bitmap.width, height: bitmap.height }, async (size) => {
      const canvas = document.createElement('canvas');
      canvas.width = size.width;
      canvas.height = size.height;
      const context = canvas.getContext('2d');
      if (!context) throw new Error('no canvas');
      context.imageSmoothingQuality = 'high';
      context.drawImage(bitmap, 0, 0, size.width, size.height);
      return canvas.toDataURL('image/png');
    });
  } finally {
    bitmap.close();
  }
}

function Counter({ text, limit }: { text: string; limit: number }) {
  const count = characterCount(text.trim());
  return <span class={count > limit ? 'counter over' : 'counter'}>{count}/{limit}</span>;
}

export function BotEditor({ accountID, bot, onClose }: { accountID: string; bot: Bot | undefined; onClose: () => void }) {
  const [name, setName] = useState(bot?.name ?? '');
  const [role, setRole] = useState(bot?.role ?? '');
  const [personality, setPersonality] = useState(bot?.personality ?? '');
  const [kind, setKind] = useState(bot?.kind ?? 'coach');
  const [image, setImage] = useState<string | undefined>(bot?.image);
  const [error, setError] = useState<{ field: Field; text: string } | null>(null);
  const [busy, setBusy] = useState(false);
  const picker = useRef<HTMLInputElement>(null);

  const fail = (text: string | null) => {
    setError(text ? { field: fieldOf(text), text } : null);
  };

  const save = async (event: Event) => {
    event.preventDefault();
    if (busy) return;
    setBusy(true);
    const data: Record<string, unknown> = { name, personality, role, kind };
    if (bot) data['id'] = bot.id;
    if (image !== undefined) data['image'] = image;
    const result = await send('saveBot', data);
    setBusy(false);
    if (result === null) onClose();
    else fail(result);
  };

  const archive = async () => {
    if (!bot || busy) return;
    setBusy(true);
    const result = await send('archive', { id: bot.id });
    setBusy(false);
    if (result === null) onClose();
    else fail(result);
  };

  // The application offers the card in the desktop's save dialog; the saved bot is exported, so
  // unsaved edits here are not part of it.
  const exportCard = async () => {
    if (!bot || busy) return;
    setBusy(true);
    const result = await send('exportCard', { accountID, id: bot.id });
    setBusy(false);
    fail(result);
  };

  const choosePicture = async (event: Event) => {
    const input = event.currentTarget as HTMLInputElement;
    const file = input.files?.[0];
    input.value = '';
    if (!file) return;
    try {
      setImage(await pictureFrom(file));
      setError(null);
    } catch {
      setError({ field: 'avatar', text: 'Choose a smaller PNG avatar.' });
    }
  };

  const errorFor = (field: Field) =>
    error?.field === field ? <p id={`editor-error-${field}`} class="field-error" role="alert">{error.text}</p> : null;
  const invalid = (field: Field) => (error?.field === field ? 'true' : undefined);
  const describedBy = (field: Field) => (error?.field === field ? `editor-error-${field}` : undefined);

  return (
    <Modal title={bot ? `Edit ${bot.name}` : 'New teammate'} onClose={onClose} wide>
      <form class="editor" onSubmit={save}>
        <div class="editor-preview">
          <img class="avatar large" src={avatarURL(kind, image)} width={72} height={72} alt="" />
          <div>
            <strong>{name.trim() || 'Unnamed teammate'}</strong>
            <span class="bot-role">{role.trim() || 'No short role'}</span>
          </div>
        </div>
        <label class="field">
          <span class="field-label">Name <Counter text={name} limit={nameLimit} /></span>
          <input type="text" value={name} data-autofocus autocomplete="off" aria-invalid={invalid('name')}
            aria-describedby={describedBy('name')} onInput={(e) => setName((e.currentTarget as HTMLInputElement).value)} />
          {errorFor('name')}
        </label>
        <label class="field">
          <span class="field-label">Short role <Counter text={role} limit={roleLimit} /></span>
          <input type="text" value={role} placeholder="For example: Product strategist" autocomplete="off" aria-invalid={invalid('role')}
            aria-describedby={describedBy('role')} onInput={(e) => setRole((e.currentTarget as HTMLInputElement).value)} />
          {errorFor('role')}
        </label>
        <label class="field">
          <span class="field-label">Personality <Counter text={personality} limit={personalityLimit} /></span>
          <textarea rows={4} value={personality} aria-invalid={invalid('name')}
            placeholder="How this teammate thinks, speaks and helps"
            onInput={(e) => setPersonality((e.currentTarget as HTMLTextAreaElement).value)} />
        </label>
        <fieldset class="field avatar-field" aria-describedby={describedBy('avatar')}>
          <legend class="field-label">Avatar</legend>
          <div class="avatar-grid" role="radiogroup" aria-label="Built-in avatars">
            {builtInAvatars.map((a) => (
              <button key={a.id} type="button" role="radio" class="avatar-choice" aria-label={a.label}
                aria-checked={!image && kind === a.id ? 'true' : 'false'} title={a.label}
                onClick={() => { setKind(a.id); setImage(undefined); }}>
                <img src={`avatars/${a.id}.svg`} width={40} height={40} alt="" />
              </button>
            ))}
          </div>
          <div class="avatar-actions">
            <button type="button" class="button small" onClick={() => picker.current?.click()}>Use a picture…</button>
            {image && <button type="button" class="button small flat" onClick={() => setImage(undefined)}>Remove picture</button>}
            <input ref={picker} class="visually-hidden" type="file" accept="image/png,image/jpeg,image/webp" tabIndex={-1}
              aria-label="Choose a picture" onChange={(e) => void choosePicture(e)} />
          </div>
          {errorFor('avatar')}
        </fieldset>
        {errorFor('form')}
        <footer class="modal-footer">
          {bot && bot.id !== 'dot' && (
            <button type="button" class="button destructive flat" onClick={() => void archive()} disabled={busy}>
              <Icon name="archive" /> Archive
            </button>
          )}
          {bot && bot.id !== 'dot' && (
            <button type="button" id="export-card" class="button flat" onClick={() => void exportCard()} disabled={busy}>
              Export as Character Card…
            </button>
          )}
          <span class="spacer" />
          <button type="button" class="button" onClick={onClose}>Cancel</button>
          <button type="submit" class="button suggested" disabled={busy}>{bot ? 'Save' : 'Add teammate'}</button>
        </footer>
      </form>
    </Modal>
  );
}
