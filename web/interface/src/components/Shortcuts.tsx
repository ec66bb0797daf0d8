// Ctrl+?: every keyboard shortcut of the window.
import { Modal } from './Modal';

export const shortcuts: readonly (readonly [string, string])[] = [
  ['Enter', 'Send the message'],
  ['Shift+Enter', 'New line in the message'],
  ['Up', 'In an empty message field: take back the last message that has not been sent yet, to edit it'],
  ['Escape', 'Stop waiting for the reply of the bot on screen'],
  ['Ctrl+F', 'Search this conversation'],
  ['Ctrl+Shift+F', 'Search every conversation'],
  ['Ctrl+K', 'Go to a bot or a Dot connection'],
  ['Alt+1 to Alt+9', 'Go to the first nine bots'],
  ['Ctrl+,', 'Settings'],
  ['Ctrl+?', 'This list'],
];

export function Shortcuts({ onClose }: { onClose: () => void }) {
  return (
    <Modal title="Keyboard shortcuts" onClose={onClose} wide>
      <div class="dialog-body">
      <dl class="shortcuts">
        {shortcuts.map(([keys, what]) => (
          <div key={keys} class="shortcut">
            <dt>{keys.split(' to ').map((combo, n) => (
              <>{n > 0 && ' to '}{combo.split('+').map((k, i) => <>{i > 0 && '+'}<kbd>{k}</kbd></>)}</>
            ))}</dt>
            <dd>{what}</dd>
          </div>
        ))}
      </dl>
      <footer class="modal-footer">
        <span class="spacer" />
        <button type="button" class="button suggested" data-autofocus onClick={onClose}>Close</button>
      </footer>
      </div>
    </Modal>
  );
}
