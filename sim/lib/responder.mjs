// The stand-in for the service's model. It follows the instructions that Quorvane puts in
// its request text the way a well-behaved model would: it speaks as the bot named for the
// turn, prefixes its answer with the reply tag once the crew rules have been delivered to
// the conversation, and writes a handoff block when the user asks for a teammate by name.
// Everything here is a pure function of the text and the conversation's remembered crew,
// so the answers are predictable in tests.
//
// `handoffs` makes it a model that will not stop delegating, to show that the crew's limits
// hold against one:
// - "asked" (the default): a handoff block only when the user names a teammate and the turn
//   allows handoffs;
// - "always": every answer to a Quorvane request hands the work on to every other teammate,
//   whether or not the turn allows handoffs;
// - "self": every answer hands the work to the bot that is speaking;
// - "unclosed": every answer ends in a block whose JSON never closes.

import { parseRequest, instructionText } from './request-text.mjs';

const MAX_HANDOFFS = 6;
const MAX_TASK = 4000;
export const HANDOFF_MODES = ['asked', 'always', 'self', 'unclosed'];

const CLOSINGS = [
  'My suggestion: start with the smallest step that shows progress, then build on it.',
  'Here is a first answer; tell me what to change and I will refine it.',
  'In short: it can be done, and the simplest version is the one to try first.',
  'I would keep this plain and concrete, and check it against a real example.',
  'That is a good question. The honest answer depends on what matters most to you.',
];

// Answers one user message. `crew` is what the conversation remembers from earlier setups
// ({revision, members} or null); the result says what to remember from this one.
export function respond(typed, { crew = null, profileName = 'Dot', handoffs: handoffMode = 'asked' } = {}) {
  const request = parseRequest(typed);
  if (!request) {
    return {
      request: null,
      crew,
      speaker: profileName,
      replyToken: null,
      handoffs: [],
      text: directAnswer(profileName, { userText: String(typed).trim() }),
      attachments: attachmentsFor(String(typed)),
    };
  }

  let known = crew;
  if (request.crewSetup) {
    known = {
      revision: request.crewSetup.revision,
      members: request.crewSetup.crewValid ? request.crewSetup.crew : crew?.members ?? [],
    };
  }
  const speaker = request.identity?.name || request.conversationName || profileName;
  // The tag rules arrive with the crew setup; a conversation that never got one does not
  // know it should tag.
  const replyToken = request.replyToken && known ? request.replyToken : null;

  const instructions = instructionText(request);
  const handoffs = handoffMode === 'asked'
    ? (request.handoffsAllowed ? findHandoffs(instructions, known?.members ?? [], speaker) : [])
    : runawayHandoffs(handoffMode, instructions, known?.members ?? [], speaker);
  let text;
  if (handoffs.length > 0) {
    text = handoffAnswer(request.requestId, handoffs, { unclosed: handoffMode === 'unclosed' });
  } else {
    text = directAnswer(speaker, {
      userText: (request.assignment ?? request.userMessage).trim(),
      isAssignment: request.assignment !== null,
      teammates: teammateNames(request.teammateResults),
    });
  }
  return {
    request,
    crew: known,
    speaker,
    replyToken,
    handoffs,
    text,
    attachments: handoffs.length > 0 ? [] : attachmentsFor(instructions),
  };
}

// Teammates named in the text as "ask <Name>" or "@<Name>", in the order they are first
// mentioned, each with the words that follow as the task.
export function findHandoffs(text, members, speaker) {
  const speakerName = String(speaker ?? '').toLocaleLowerCase();
  const mentions = [];
  for (const member of members) {
    if (member.id === 'dot' || member.name.toLocaleLowerCase() === speakerName) continue;
    const name = escapeRegExp(member.name);
    const pattern = new RegExp(`(?<![\\p{L}\\p{N}_])(?:@${name}|ask\\s+${name})(?![\\p{L}\\p{N}_])`, 'giu');
    const found = pattern.exec(text);
    if (found) mentions.push({ member, start: found.index, end: found.index + found[0].length });
  }
  mentions.sort((a, b) => a.start - b.start);
  const seen = new Set();
  const unique = mentions.filter((m) => !seen.has(m.member.id) && seen.add(m.member.id)).slice(0, MAX_HANDOFFS);
  return unique.map((mention, index) => {
    const next = index + 1 < unique.length ? unique[index + 1].start : text.length;
    let task = text.slice(mention.end, next);
    const sentenceEnd = task.search(/[.!?\n]/);
    if (sentenceEnd >= 0) task = task.slice(0, sentenceEnd);
    task = task
      .replace(/^[\s,:;\u2014-]*(?:(?:to|for|about)\s+)?/iu, '')
      .replace(/[\s,;:]*(?:\b(?:and|then|also)\b[\s,;:]*)*$/iu, '')
      .trim();
    if (!task) task = text.trim();
    return { to: mention.member.id, name: mention.member.name, task: [...task].slice(0, MAX_TASK).join('') };
  });
}

export function handoffAnswer(requestId, handoffs, { unclosed = false } = {}) {
  const names = joinNames(handoffs.map((h) => h.name));
  const block = JSON.stringify({ request_id: requestId, handoffs: handoffs.map(({ to, task }) => ({ to, task })) });
  if (unclosed) {
    // The model stops writing before the directive's last brackets, and never comes back.
    return `I\u2019ll ask ${names} to help with this.\n\n\`\`\`quorvane-handoff\n${block.slice(0, -2)}`;
  }
  return `I\u2019ll ask ${names} to help with this.\n\n\`\`\`quorvane-handoff\n${block}\n\`\`\``;
}

// The handoffs of a model that delegates whatever it is asked (see the modes above). Nothing
// is handed on before the conversation knows its crew: there is nobody to name.
function runawayHandoffs(mode, text, members, speaker) {
  if (members.length === 0) return [];
  const speakerName = String(speaker ?? '').toLocaleLowerCase();
  const isSpeaker = (member) => member.name.toLocaleLowerCase() === speakerName;
  const task = `Carry this on: ${oneLine(text, 200)}`;
  if (mode === 'self') {
    // The crew list names the teammates; the bot the conversation belongs to is "dot".
    const self = members.find(isSpeaker) ?? { id: 'dot', name: speaker };
    return [{ to: self.id, name: self.name, task }];
  }
  return members
    .filter((member) => member.id !== 'dot' && !isSpeaker(member))
    .slice(0, MAX_HANDOFFS)
    .map((member) => ({ to: member.id, name: member.name, task }));
}

export function directAnswer(speaker, { userText, isAssignment = false, teammates = [] }) {
  const paragraphs = [`**${speaker}** here.`];
  if (teammates.length > 0) paragraphs.push(`I read what ${joinNames(teammates)} found so far.`);
  if (userText) {
    const excerpt = oneLine(userText, 160);
    paragraphs.push(isAssignment ? `You asked me to: \u201c${excerpt}\u201d` : `You wrote: \u201c${excerpt}\u201d`);
    paragraphs.push(CLOSINGS[hash(userText) % CLOSINGS.length]);
  } else {
    paragraphs.push('How can I help?');
  }
  return paragraphs.join('\n\n');
}

// Files and pictures the answer comes with, when the user asks for them.
export function attachmentsFor(text) {
  const attachments = [];
  if (/\b(?:draw|sketch|picture|image)\b/i.test(text)) attachments.push({ kind: 'image', title: 'sketch.png' });
  if (/\battach\w*\b|\bas a file\b/i.test(text)) attachments.push({ kind: 'file', title: 'notes.txt' });
  return attachments;
}

function teammateNames(results) {
  if (!results) return [];
  const names = [];
  for (const line of results.split('\n')) {
    const found = /^([^:\n]{1,64}): /.exec(line);
    if (found && !names.includes(found[1])) names.push(found[1]);
  }
  return names;
}

function joinNames(names) {
  if (names.length <= 1) return names.join('');
  return `${names.slice(0, -1).join(', ')} and ${names[names.length - 1]}`;
}

function oneLine(text, limit) {
  // Backticks are dropped so that quoting the user never opens a code fence of its own.
  const flat = text.replace(/`/g, "'").replace(/\s+/g, ' ').trim();
  const chars = [...flat];
  return chars.length > limit ? `${chars.slice(0, limit - 1).join('')}\u2026` : flat;
}

function hash(text) {
  let h = 0;
  for (const ch of text) h = (h * 31 + ch.codePointAt(0)) >>> 0;
  return h;
}

function escapeRegExp(text) {
  return text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
}
