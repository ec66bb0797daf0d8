// The page side of the application's state transport.
//
// The page's receiveState(state) always receives the complete ClientState. Sending all of it on
// every change would not do: a long history is tens of megabytes of JSON, and a streaming reply
// publishes twice a second. So the application sends the complete state once per document and
// then only what changed, and this script rebuilds the complete state before it hands it on.
// Whatever did not change keeps its identity: the same message objects, the same bot list, the
// same account when nothing in it changed. The page can therefore memoise on object identity.
//
// A publication is one JSON text, or several for a complete state with a long history:
//   { seq, base: 0, more, state }                 the complete state; when `more`, its messages
//                                                 follow in parts and state.account.messages is
//                                                 a placeholder
//   { seq, part, messages, more }                 part 1, 2, … of those messages, in order
//   { seq, base, keys, set, account? }            a change against publication `base`
// where `keys` lists the state's keys in order, `set` holds the values that changed, and
// `account` (present when the account changed) is { keys, set, messages? }; `messages` lists
// the new message list as runs of the previous one ([start, count]) and new message objects.
//
// A change whose base is not the publication this document holds (a reload, a lost call) is
// refused without calling receiveState, and so is a part that does not continue the state being
// put together; the application then sends the complete state. receiveState sees a complete
// state only once its last part is in.
//
// Injected by the shell at document start into the page's own world, top frame only.
(() => {
  'use strict';
  const parse = JSON.parse;
  const has = Object.prototype.hasOwnProperty;
  const isArray = Array.isArray;
  // Only when the application runs its test driver (QUORVANE_TEST_DRIVER=1): the driver's
  // harness reads what the page received from here.
  const driver = window.quorvaneTestDriver || null;
  let current = null;
  let sequence = 0;
  let assembling = null; // { seq, state, messages, part } while the parts of a state arrive

  function rebuild(previous, change) {
    const out = {};
    for (const key of change.keys) out[key] = has.call(change.set, key) ? change.set[key] : previous[key];
    return out;
  }

  function messages(previous, runs) {
    const out = [];
    for (const run of runs) {
      if (isArray(run)) {
        for (let i = run[0], end = run[0] + run[1]; i < end; i += 1) out.push(previous[i]);
      } else {
        out.push(run);
      }
    }
    return out;
  }

  function apply(text) {
    const publication = parse(text);
    let state;
    if (has.call(publication, 'part')) {
      const whole = assembling;
      if (whole === null || publication.seq !== whole.seq || publication.part !== whole.part + 1) {
        assembling = null;
        return { accepted: false };
      }
      whole.part = publication.part;
      for (const message of publication.messages) whole.messages.push(message);
      if (publication.more) return { accepted: true, partial: true };
      assembling = null;
      state = whole.state;
      state.account.messages = whole.messages;
    } else if (publication.base === 0) {
      assembling = null;
      if (publication.more) {
        assembling = { seq: publication.seq, state: publication.state, messages: [], part: 0 };
        return { accepted: true, partial: true };
      }
      state = publication.state;
    } else {
      if (current === null || assembling !== null || publication.base !== sequence) return { accepted: false };
      state = rebuild(current, publication);
      const account = publication.account;
      if (account) {
        state.account = rebuild(current.account, account);
        if (account.messages) state.account.messages = messages(current.account.messages, account.messages);
      }
    }
    current = state;
    sequence = publication.seq;
    if (driver) driver.state = state;
    try {
      window.receiveState(state);
    } catch (error) {
      return { accepted: true, error: String(error) };
    }
    return { accepted: true };
  }

  Object.defineProperty(window, 'quorvaneStateTransport', {
    value: Object.freeze({ apply }),
    writable: false,
    configurable: false,
    enumerable: false,
  });
})();
