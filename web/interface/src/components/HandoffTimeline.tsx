// The handoffs one message of the user started, as a tree in the order they were made: who
// asked whom, how deep, where each task stands, and where the crew's limits stopped the chain;
// each task and answer is a link into its conversation.
import { handoffTimeline, stopWords, timelineSummary, type TimelineStep } from '../logic/timeline';
import { statusWords, type Tone } from '../logic/status';
import type { Account, Bot, ChatMessage } from '../state';
import { Avatar } from './Avatar';
import { Modal } from './Modal';

// A teammate request's phase in the words of the message status it stands for.
const phaseStatus: Record<string, string> = {
  queued: 'queued',
  preparing: 'sending',
  submitting: 'sending',
  composing: 'composing',
  waiting: 'waiting',
  delayed: 'delayed',
  uncertain: 'uncertain',
  failed: 'failed',
};

function stepStatus(step: TimelineStep): { words: string; tone: Tone } {
  if (step.phase !== undefined) return statusWords(phaseStatus[step.phase] ?? step.phase);
  if (step.handoff.status === 'complete') return { words: 'Done', tone: 'success' };
  if (step.handoff.status === 'stopped') return { words: 'Stopped', tone: 'neutral' };
  return { words: 'Working', tone: 'progress' };
}

function BotName({ bot }: { bot: Bot | undefined }) {
  return (
    <span class="timeline-bot">
      {bot && <Avatar bot={bot} size={20} />}
      <strong>{bot?.name ?? 'A removed bot'}</strong>
    </span>
  );
}

export function HandoffTimeline({ account, root, bots, onJump, onClose }: {
  account: Account;
  root: ChatMessage;
  bots: ReadonlyMap<string, Bot>;
  onJump: (botID: string, messageID: string) => void;
  onClose: () => void;
}) {
  const timeline = handoffTimeline(account, root.id);
  const rootBot = bots.get(root.botID);
  const go = (botID: string, messageID: string) => {
    onJump(botID, messageID);
    onClose();
  };
  return (
    <Modal title="Handoffs" onClose={onClose} wide describedBy="timeline-summary">
      <div class="dialog-body">
        <p class="timeline-root">
          Your message to {rootBot?.name ?? 'Dot'}: <q>{root.text.length > 160 ? `${root.text.slice(0, 159)}…` : root.text}</q>
        </p>
        {timeline ? (
          <ol class="timeline" aria-label="Handoffs in the order they were made">
            {timeline.steps.map((step) => {
              const status = stepStatus(step);
              const target = step.handoff.targetBotID;
              return (
                <li key={step.handoff.id} class="timeline-step" style={{ '--depth': String(step.depth - 1) }}
                  data-handoff-id={step.handoff.id}>
                  <div class="timeline-head">
                    <BotName bot={bots.get(step.handoff.sourceBotID)} />
                    <span class="timeline-arrow" aria-label="asked">→</span>
                    <BotName bot={bots.get(target)} />
                    <span class="chip" title="How many times the task was handed on">Depth {step.depth}</span>
                    <span class={`status tone-${status.tone}`}>{status.words}</span>
                  </div>
                  <p class="timeline-task">{step.handoff.task}</p>
                  {(step.taskMessageID || step.answerID) && (
                    <div class="timeline-links">
                      {step.taskMessageID && (
                        <button type="button" class="link-button" onClick={() => go(target, step.taskMessageID!)}>Show the task</button>
                      )}
                      {step.answerID && (
                        <button type="button" class="link-button" onClick={() => go(target, step.answerID!)}>Show the answer</button>
                      )}
                    </div>
                  )}
                  {step.stoppedBy && <p class="timeline-stop" role="note">{stopWords[step.stoppedBy]}</p>}
                </li>
              );
            })}
          </ol>
        ) : (
          <p>This message started no handoffs.</p>
        )}
        <footer class="modal-footer">
          <p id="timeline-summary" class="timeline-summary">{timeline ? timelineSummary(timeline) : ''}</p>
          <span class="spacer" />
          <button type="button" class="button suggested" data-autofocus onClick={onClose}>Close</button>
        </footer>
      </div>
    </Modal>
  );
}
