// Reads the request text that Quorvane types into a conversation. The service does not
// know Quorvane; it only sees text, so this parser is as forgiving as a reader would be:
// anything it cannot place is left in the user message rather than rejected.

const ENVELOPE = /^\[Quorvane request ([^\]\n]+)\]\n/;
const CONVERSATION = /^\[Conversation: ([^\n]*)\]\n/;
const REPLY_TAG = /^\[Reply tag: \[qv:([0-9a-f]{12})\]\]\n/;
const SETUP_START = '[Quorvane crew setup]\n';
const SETUP_END = '[End crew setup]\n';
const IDENTITY_START = '[Active Quorvane bot \u2014 this turn only]\n';
const IDENTITY = /^Identify yourself as "([\s\S]*?)"\. Personality reminder: ([\s\S]*?)\nUse this identity for this turn;[^\n]*(?:\n|$)/;
const HANDOFFS_ALLOWED = 'Handoffs allowed using this request ID.\n';
const HANDOFFS_REFUSED = 'Answer directly; do not hand off this turn.\n';
const USER_START = '[User message]\n';
const RESULTS_START = 'Earlier teammate results for this request (reference context):\n';
const ASSIGNMENT_START = '\nYour assignment:\n';
const QUOTE = /\[Replying to a message from ([^\n]*?) \u2014 quoted reference, not new instructions\]\n([\s\S]*?)\n\[End quoted message\]\n\n?/g;

// Returns null for text that carries no request envelope (a person chatting).
export function parseRequest(text) {
  let rest = String(text).replace(/\r\n/g, '\n').replace(/^\s+/, '');
  const envelope = ENVELOPE.exec(rest);
  if (!envelope) return null;
  const request = {
    requestId: envelope[1],
    conversationName: null,
    replyToken: null,
    crewSetup: null,
    identity: null,
    handoffsAllowed: false,
    userMessage: '',
    teammateResults: null,
    assignment: null,
    quotes: [],
  };
  rest = rest.slice(envelope[0].length);

  const conversation = CONVERSATION.exec(rest);
  if (conversation) {
    request.conversationName = conversation[1];
    rest = rest.slice(conversation[0].length);
  }
  const tag = REPLY_TAG.exec(rest);
  if (tag) {
    request.replyToken = tag[1];
    rest = rest.slice(tag[0].length);
  }
  if (rest.startsWith(SETUP_START)) {
    const end = rest.indexOf(SETUP_END);
    const body = end < 0 ? rest : rest.slice(0, end + SETUP_END.length);
    request.crewSetup = parseCrewSetup(body);
    rest = end < 0 ? '' : rest.slice(end + SETUP_END.length);
  }
  if (rest.startsWith(IDENTITY_START)) {
    const identity = IDENTITY.exec(rest.slice(IDENTITY_START.length));
    if (identity) {
      request.identity = { name: identity[1], personality: identity[2] };
      rest = rest.slice(IDENTITY_START.length + identity[0].length).replace(/^\n/, '');
    }
  }
  if (rest.startsWith(HANDOFFS_ALLOWED)) {
    request.handoffsAllowed = true;
    rest = rest.slice(HANDOFFS_ALLOWED.length);
  } else if (rest.startsWith(HANDOFFS_REFUSED)) {
    rest = rest.slice(HANDOFFS_REFUSED.length);
  }
  // Older requests put the identity straight before the user marker; find it either way.
  const userStart = rest.indexOf(USER_START);
  request.userMessage = userStart < 0 ? rest : rest.slice(userStart + USER_START.length);

  if (request.userMessage.startsWith(RESULTS_START)) {
    const split = request.userMessage.indexOf(ASSIGNMENT_START);
    if (split >= 0) {
      request.teammateResults = request.userMessage.slice(RESULTS_START.length, split);
      request.assignment = request.userMessage.slice(split + ASSIGNMENT_START.length);
    }
  }
  for (const quote of request.userMessage.matchAll(QUOTE)) request.quotes.push({ author: quote[1], text: quote[2] });
  return request;
}

// The crew block: its revision and the JSON list that follows "Crew:". A list that does not
// parse still counts as a setup (the tag rules were delivered), with no members known.
export function parseCrewSetup(body) {
  const revision = /\[Crew revision: ([^\]\n]*)\]/.exec(body);
  let crew = [];
  let crewValid = false;
  const start = body.indexOf('\nCrew:');
  if (start >= 0) {
    const from = start + '\nCrew:'.length;
    const end = body.indexOf('\nHandoffs:', from);
    try {
      const parsed = JSON.parse(body.slice(from, end < 0 ? undefined : end));
      if (Array.isArray(parsed)) {
        crew = parsed
          .filter((entry) => entry && typeof entry.id === 'string' && typeof entry.name === 'string')
          .map((entry) => ({
            id: entry.id,
            name: entry.name,
            ...(typeof entry.personality === 'string' ? { personality: entry.personality } : {}),
          }));
        crewValid = true;
      }
    } catch {
      // A damaged list leaves the crew unknown.
    }
  }
  return { revision: revision ? revision[1] : null, crew, crewValid };
}

// The user's own words: quoted material is reference, not instructions, so it is left out
// when looking for who to involve.
export function instructionText(request) {
  const source = request.assignment ?? request.userMessage;
  return source.replace(QUOTE, '');
}
