// What the page saves before the application quits: drafts with changes, and the selected bot's
// when it holds text; an empty draft that was saved empty asks nothing of the application, whose
// storage may be down.
import assert from 'node:assert/strict';
import { test } from 'node:test';

type Message = { quorvane: { id: string; command: string; data: Record<string, unknown> } };
const posted: Message[] = [];
// The bridge takes window.postMessage at load: a window that records and answers commands.
const fakeWindow = {
  postMessage(message: Message) {
    posted.push(message);
    if (message.quorvane.command === 'draft') {
      queueMicrotask(() => (fakeWindow as unknown as { nativeResult: (id: string, error: string) => void })
        .nativeResult(message.quorvane.id, 'Local storage is unavailable. Reopen Quorvane before continuing.'));
    }
  },
};
(globalThis as unknown as { window: unknown }).window = fakeWindow;
const { startBridge } = await import('../../../web/interface/src/bridge');
const { drafts } = await import('../../../web/interface/src/drafts');
startBridge();

const draftCommands = () => posted.filter((m) => m.quorvane.command === 'draft').map((m) => m.quorvane.data);

test('an empty draft saved empty is not saved again', async () => {
  drafts.adopt({ dot: '', muse: '' });
  await drafts.flush('dot');
  assert.deepEqual(draftCommands(), []);
});

test("the selected bot's text is saved, and a failure comes back as the application's sentence", async () => {
  drafts.adopt({ dot: 'Half a thought' });
  await assert.rejects(drafts.flush('dot'), { message: 'Local storage is unavailable. Reopen Quorvane before continuing.' });
  assert.deepEqual(draftCommands(), [{ id: 'dot', text: 'Half a thought' }]);
});
