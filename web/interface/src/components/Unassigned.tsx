// Replies that Dot shows but that belong to no request: the user files each under a bot or
// dismisses it.
import { useState } from 'preact/hooks';
import type { Bot, UnassignedReply } from '../state';
import { useCommand } from '../useCommand';
import { RichText } from './RichText';

function Entry({ reply, bots, accountID, selectedBot }: { reply: UnassignedReply; bots: Bot[]; accountID: string; selectedBot: string }) {
  const [target, setTarget] = useState(bots.some((b) => b.id === selectedBot) ? selectedBot : bots[0]?.id ?? 'dot');
  const command = useCommand();
  const selectID = `file-under-${reply.id}`;
  return (
    <li class="unassigned-entry" data-unassigned-id={reply.id}>
      <div class="unassigned-text">
        <RichText owner={reply} html={reply.message.html} text={reply.message.text} />
      </div>
      <div class="unassigned-actions">
        <label for={selectID}>File under</label>
        <select id={selectID} value={target} onChange={(e) => setTarget((e.currentTarget as HTMLSelectElement).value)}>
          {bots.map((b) => <option key={b.id} value={b.id}>{b.name}</option>)}
        </select>
        <button type="button" class="button small suggested" disabled={command.busy}
          onClick={() => void command.run('assignReply', { accountID, id: reply.id, botID: target })}>File</button>
        <button type="button" class="button small flat" disabled={command.busy}
          onClick={() => void command.run('openSourceMessage', { id: reply.id })}>Show in Dot</button>
        <button type="button" class="button small flat" disabled={command.busy}
          onClick={() => void command.run('dismissReply', { accountID, id: reply.id })}>Dismiss</button>
      </div>
      {command.error && <p class="inline-error" role="alert">{command.error}</p>}
    </li>
  );
}

export function Unassigned({ replies, bots, accountID, selectedBot }: {
  replies: UnassignedReply[];
  bots: Bot[];
  accountID: string;
  selectedBot: string;
}) {
  const active = bots.filter((b) => !b.archived);
  return (
    <details class="unassigned">
      <summary>{replies.length === 1 ? '1 reply isn’t filed yet' : `${replies.length} replies aren’t filed yet`}</summary>
      <ul>
        {replies.map((r) => <Entry key={r.id} reply={r} bots={active} accountID={accountID} selectedBot={selectedBot} />)}
      </ul>
    </details>
  );
}
