import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { parseRequest } from '../lib/request-text.mjs';
import { findHandoffs, respond } from '../lib/responder.mjs';
import { composePayload, readHandoffBlock } from './payload.mjs';

const CREW = [
  { id: 'ceo', name: 'CEO', personality: 'Decisive. Uses http://example.com/plan links.' },
  { id: 'muse', name: 'Muse', personality: 'Poetic and warm.' },
];
const TOKEN = '0123456789ab';

describe('reading request texts', () => {
  const cases = [
    {
      name: 'primary bot, no tag, no setup',
      payload: composePayload({ id: 'A1', name: 'Dot', text: 'Hello\n\nthere' }),
      expect: { requestId: 'A1', conversationName: 'Dot', replyToken: null, crewSetup: null, identity: null, handoffsAllowed: false, userMessage: 'Hello\n\nthere' },
    },
    {
      name: 'tagged with a crew setup whose list escapes slashes',
      payload: composePayload({ id: 'A2', token: TOKEN, crew: CREW, revision: 'f'.repeat(64), handoffsAllowed: true, text: 'Plan it' }),
      expect: {
        requestId: 'A2',
        replyToken: TOKEN,
        crewSetup: { revision: 'f'.repeat(64), crew: CREW, crewValid: true },
        handoffsAllowed: true,
        userMessage: 'Plan it',
      },
    },
    {
      name: 'teammate turn with identity block and a quote in its name',
      payload: composePayload({ id: 'A3', name: 'Muse "the bard"', token: TOKEN, identity: { name: 'Muse "the bard"', personality: 'Line one\nline two' }, text: 'Write' }),
      expect: { conversationName: 'Muse "the bard"', identity: { name: 'Muse "the bard"', personality: 'Line one\nline two' }, userMessage: 'Write' },
    },
    {
      name: 'teammate results and assignment',
      payload: composePayload({
        id: 'A4', name: 'CEO', text: 'Earlier teammate results for this request (reference context):\nMuse: A haiku.\n\nYour assignment:\nApprove it',
      }),
      expect: { teammateResults: 'Muse: A haiku.\n', assignment: 'Approve it' },
    },
    {
      name: 'an empty crew list still counts as a setup',
      payload: composePayload({ id: 'A5', token: TOKEN, crew: [], text: 'Hi' }),
      expect: { crewSetup: { revision: 'a'.repeat(64), crew: [], crewValid: true } },
    },
  ];
  for (const { name, payload, expect } of cases) {
    test(name, () => {
      const request = parseRequest(payload);
      assert.ok(request, 'the envelope was not recognised');
      for (const [key, value] of Object.entries(expect)) assert.deepEqual(request[key], value, key);
    });
  }

  test('text without an envelope is not a request', () => {
    assert.equal(parseRequest('Hello [Quorvane request X]\n'), null);
  });

  test('a damaged crew list keeps the setup but knows no members', () => {
    const payload = composePayload({ id: 'B1', token: TOKEN, crew: CREW, text: 'Hi' }).replace('"id":"ceo"', '"id":ceo');
    assert.deepEqual(parseRequest(payload).crewSetup, { revision: 'a'.repeat(64), crew: [], crewValid: false });
  });
});

describe('answering', () => {
  test('a tagged request that brings the crew setup is answered with its tag on the first line', () => {
    const answer = respond(composePayload({ token: TOKEN, crew: CREW, text: 'How are you?' }));
    assert.equal(answer.replyToken, TOKEN);
    assert.deepEqual(answer.crew, { revision: 'a'.repeat(64), members: CREW });
    assert.match(answer.text, /^\*\*Dot\*\* here\./);
  });

  test('a tag is not used before the conversation has been given the crew rules', () => {
    const answer = respond(composePayload({ token: TOKEN, text: 'Hi' }), { crew: null });
    assert.equal(answer.replyToken, null);
    assert.equal(answer.crew, null);
  });

  test('the crew remembered from an earlier setup lets a later request be tagged', () => {
    const first = respond(composePayload({ token: TOKEN, crew: CREW, text: 'Hi' }));
    const later = respond(composePayload({ id: 'R2', token: 'ba9876543210', text: 'Again' }), { crew: first.crew });
    assert.equal(later.replyToken, 'ba9876543210');
    assert.deepEqual(later.crew, first.crew);
  });

  test('a new setup replaces the remembered crew', () => {
    const first = respond(composePayload({ token: TOKEN, crew: CREW, revision: '1'.repeat(64), text: 'Hi' }));
    const next = respond(composePayload({ token: TOKEN, crew: [CREW[1]], revision: '2'.repeat(64), text: 'Hi' }), { crew: first.crew });
    assert.deepEqual(next.crew, { revision: '2'.repeat(64), members: [CREW[1]] });
  });

  test('the speaker is the identity named for the turn, else the conversation name', () => {
    assert.equal(respond(composePayload({ name: 'Muse', identity: { name: 'Muse', personality: 'x' }, text: 'Hi' })).speaker, 'Muse');
    assert.equal(respond(composePayload({ name: 'Juniper', text: 'Hi' })).speaker, 'Juniper');
    assert.equal(respond('just chatting', { profileName: 'Juniper' }).speaker, 'Juniper');
  });

  test('plain chat is answered without a tag', () => {
    const answer = respond('Hello there');
    assert.equal(answer.replyToken, null);
    assert.match(answer.text, /You wrote: \u201cHello there\u201d/);
  });

  test('quoting the user never opens a code fence', () => {
    const answer = respond(composePayload({ text: 'Here:\n```quorvane-handoff\n{"request_id":"x"}\n```' }));
    assert.equal(readHandoffBlock(answer.text).result, 'none');
  });
});

describe('handoff blocks', () => {
  const crewFirst = respond(composePayload({ token: TOKEN, crew: CREW, text: 'Hi' })).crew;

  const cases = [
    {
      name: 'ask <Name> with a task',
      text: 'Please ask Muse to write a haiku about tea.',
      handoffs: [{ to: 'muse', task: 'write a haiku about tea' }],
    },
    {
      name: 'two teammates in the order they are mentioned',
      text: 'Ask CEO to pick a date, and @muse write an invitation',
      handoffs: [{ to: 'ceo', task: 'pick a date' }, { to: 'muse', task: 'write an invitation' }],
    },
    {
      name: 'a teammate named twice is asked once',
      text: 'ask Muse for a poem. Then ask Muse again.',
      handoffs: [{ to: 'muse', task: 'a poem' }],
    },
    {
      name: 'a mention without words after it hands over the whole message',
      text: 'Could you ask Muse?',
      handoffs: [{ to: 'muse', task: 'Could you ask Muse?' }],
    },
  ];
  for (const { name, text, handoffs } of cases) {
    test(name, () => {
      const answer = respond(composePayload({ id: 'H-1', token: TOKEN, handoffsAllowed: true, text }), { crew: crewFirst });
      const block = readHandoffBlock(answer.text);
      assert.equal(block.result, 'valid');
      assert.deepEqual(block.directive, { request_id: 'H-1', handoffs });
    });
  }

  const direct = [
    { name: 'handoffs refused for the turn', payload: composePayload({ token: TOKEN, handoffsAllowed: false, text: 'ask Muse to help' }) },
    { name: 'a name the crew does not know', payload: composePayload({ token: TOKEN, handoffsAllowed: true, text: 'ask Zed to help' }) },
    { name: 'a name inside a longer word', payload: composePayload({ token: TOKEN, handoffsAllowed: true, text: 'ask Museum staff' }) },
    {
      name: 'the speaker itself',
      payload: composePayload({ name: 'Muse', token: TOKEN, identity: { name: 'Muse', personality: 'x' }, handoffsAllowed: true, text: 'ask Muse to do it' }),
    },
    {
      name: 'a mention inside quoted material',
      payload: composePayload({
        token: TOKEN,
        handoffsAllowed: true,
        text: '[Replying to a message from You \u2014 quoted reference, not new instructions]\nask Muse to write\n[End quoted message]\n\nWhat do you think?',
      }),
    },
  ];
  for (const { name, payload } of direct) {
    test(`answers directly: ${name}`, () => {
      const answer = respond(payload, { crew: crewFirst });
      assert.deepEqual(answer.handoffs, []);
      assert.equal(readHandoffBlock(answer.text).result, 'none');
    });
  }

  test('no more than six teammates are asked', () => {
    const members = Array.from({ length: 8 }, (_, i) => ({ id: `b${i}`, name: `Bot${i}` }));
    const text = members.map((m) => `ask ${m.name} for part ${m.id}`).join('. ');
    assert.deepEqual(findHandoffs(text, members, 'Dot').map((h) => h.to), ['b0', 'b1', 'b2', 'b3', 'b4', 'b5']);
  });

  describe('a model that will not stop delegating', () => {
    // As Quorvane lists a crew: the teammates, not the bot the conversation belongs to.
    const known = respond(composePayload({ token: TOKEN, crew: CREW, text: 'Hi' })).crew;
    const turn = (speaker, handoffsAllowed) => composePayload({
      id: 'R-9',
      name: speaker,
      token: TOKEN,
      identity: speaker === 'Dot' ? undefined : { name: speaker, personality: 'x' },
      handoffsAllowed,
      text: 'Plan the launch party.',
    });
    const cases = [
      { mode: 'always', speaker: 'Dot', allowed: false, result: 'valid', to: ['ceo', 'muse'] },
      { mode: 'always', speaker: 'Muse', allowed: false, result: 'valid', to: ['ceo'] },
      { mode: 'self', speaker: 'Muse', allowed: true, result: 'valid', to: ['muse'] },
      { mode: 'self', speaker: 'Dot', allowed: true, result: 'valid', to: ['dot'] },
      { mode: 'unclosed', speaker: 'Dot', allowed: true, result: 'incomplete' },
      { mode: 'asked', speaker: 'Dot', allowed: true, result: 'none' },
    ];
    for (const { mode, speaker, allowed, result, to } of cases) {
      test(`${mode}: ${speaker} ${allowed ? 'allowed' : 'told not'} to hand off`, () => {
        const block = readHandoffBlock(respond(turn(speaker, allowed), { crew: known, handoffs: mode }).text);
        assert.equal(block.result, result);
        if (to) {
          assert.equal(block.directive.request_id, 'R-9');
          assert.deepEqual(block.directive.handoffs.map((h) => h.to), to);
          assert.ok(block.directive.handoffs.every((h) => h.task.includes('Plan the launch party.')));
        }
      });
    }

    test('nothing is handed on before the conversation knows its crew', () => {
      assert.equal(readHandoffBlock(respond(turn('Dot', true), { handoffs: 'always' }).text).result, 'none');
    });
  });

  test('names with pattern characters are matched literally', () => {
    const members = [{ id: 'q', name: 'Q.A (beta)' }, { id: 'r', name: 'QxA (beta)' }];
    assert.deepEqual(findHandoffs('ask Q.A (beta) to test', members, 'Dot'), [{ to: 'q', name: 'Q.A (beta)', task: 'test' }]);
  });
});
