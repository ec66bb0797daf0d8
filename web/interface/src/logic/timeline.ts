// The chain of handoffs that one message of the user started: who asked whom, in what order,
// how deep, how far each task got, and where the crew's limits stopped the chain.

import type { Account, ChatMessage, Handoff } from '../state';

// The crew's limits, as the application applies them when a reply hands work on: at most this
// many handoffs under one message of the user, and a task handed on this many times cannot be
// handed on again.
export const handoffsPerMessage = 6;
export const deepestHandOn = 3;
// What the application files in place of a reply whose handoff it refused.
export const refusedHandoffReply = 'I couldn\u2019t complete that handoff. Please try asking again.';

export type StopReason = 'depth' | 'handoffs' | 'refused';

export const stopWords: Record<StopReason, string> = {
  depth: `Stopped here: a task handed on ${deepestHandOn} times can\u2019t be handed on again.`,
  handoffs: `Stopped here: one message can start at most ${handoffsPerMessage} handoffs.`,
  refused: 'Stopped here: the handoff this reply asked for wasn\u2019t accepted.',
};

export interface TimelineStep {
  handoff: Handoff;
  depth: number; // 1 for a task that the bot the user asked handed on
  phase?: string; // the teammate's request while it is queued or in flight
  taskMessageID?: string; // the task in the teammate's conversation
  answerID?: string; // the teammate's filed answer
  stoppedBy?: StopReason; // the teammate's answer tried to hand on and was refused
}

export interface Timeline {
  rootID: string;
  steps: TimelineStep[]; // parents before their children, siblings in the order they were made
}

const noHandoffs: readonly Handoff[] = Object.freeze([]);
let lastHandoffs: readonly Handoff[] | undefined;
let lastCounts = new Map<string, number>();

// How many handoffs each message of the user started, by the message's id.
export function handoffCounts(account: Pick<Account, 'handoffs'>): ReadonlyMap<string, number> {
  // The same map for the same list, so that the messages it reaches redraw only when it changes.
  const handoffs = account.handoffs ?? noHandoffs;
  if (handoffs === lastHandoffs) return lastCounts;
  const counts = new Map<string, number>();
  for (const h of handoffs) counts.set(h.rootRequestID, (counts.get(h.rootRequestID) ?? 0) + 1);
  lastHandoffs = handoffs;
  lastCounts = counts;
  return counts;
}

// The acceptance rules are fixed and the records keep what they looked at, so the reason a
// refused reply stopped the chain can be read back: how deep its request was, and how many
// handoffs the message had started. Anything else (a bot that cannot take tasks, a full queue,
// a block that was not valid) is a plain refusal.
function stopReason(depth: number, handoffsOfRoot: number): StopReason {
  if (depth >= deepestHandOn) return 'depth';
  if (handoffsOfRoot >= handoffsPerMessage) return 'handoffs';
  return 'refused';
}

export function handoffTimeline(account: Pick<Account, 'handoffs' | 'messages' | 'jobs'>, rootID: string): Timeline | undefined {
  const ofRoot = (account.handoffs ?? []).filter((h) => h.rootRequestID === rootID);
  if (ofRoot.length === 0) return undefined;
  const wanted = new Set<string>();
  for (const h of ofRoot) {
    wanted.add(h.id);
    wanted.add(`${h.id}-reply`);
  }
  const messages = new Map<string, ChatMessage>();
  for (const m of account.messages) if (wanted.has(m.id)) messages.set(m.id, m);
  const phases = new Map(account.jobs.map((j) => [j.id, j.phase]));
  const refused = (requestID: string) => messages.get(`${requestID}-reply`)?.text === refusedHandoffReply;

  const children = new Map<string, Handoff[]>();
  for (const h of ofRoot) {
    const parent = h.parentRequestID ?? rootID;
    const list = children.get(parent);
    if (list) list.push(h);
    else children.set(parent, [h]);
  }
  const steps: TimelineStep[] = [];
  const placed = new Set<string>();
  const walk = (parent: string, depth: number) => {
    for (const handoff of children.get(parent) ?? []) {
      if (placed.has(handoff.id)) continue; // records that loop are shown once
      placed.add(handoff.id);
      const step: TimelineStep = { handoff, depth };
      const phase = phases.get(handoff.id);
      if (phase !== undefined) step.phase = phase;
      if (messages.has(handoff.id)) step.taskMessageID = handoff.id;
      const answer = messages.get(`${handoff.id}-reply`);
      if (answer) step.answerID = answer.id;
      if (refused(handoff.id)) step.stoppedBy = stopReason(depth, ofRoot.length);
      steps.push(step);
      walk(handoff.id, depth + 1);
    }
  };
  walk(rootID, 1);
  // A handoff whose parent is not in the chain still belongs to the message: shown last.
  for (const h of ofRoot) if (!placed.has(h.id)) steps.push({ handoff: h, depth: 1 });

  return { rootID, steps };
}

// Where the chain stands, in a sentence.
export function timelineSummary(timeline: Timeline): string {
  const count = timeline.steps.length;
  const handoffs = count === 1 ? '1 handoff' : `${count} handoffs`;
  const stop = timeline.steps.find((s) => s.stoppedBy)?.stoppedBy;
  if (timeline.steps.some((s) => s.handoff.status === 'working')) return `${handoffs}, still working.`;
  if (stop === 'depth') return `${handoffs}. The chain stopped at the deepest hand-on allowed.`;
  if (stop === 'handoffs') return `${handoffs}. The chain stopped at the most handoffs one message can start.`;
  if (stop === 'refused') return `${handoffs}. The chain stopped where a handoff wasn\u2019t accepted.`;
  return `${handoffs}, all finished.`;
}
