// A command issued from one place of the page, with its answer kept there: the failure
// sentence is shown beside the control that caused it, never dropped.
import { useCallback, useRef, useState } from 'preact/hooks';
import { send, type CommandResult } from './bridge';

export interface CommandState {
  run: (command: string, data?: Record<string, unknown>) => Promise<CommandResult>;
  error: string | null;
  busy: boolean;
  clear: () => void;
}

export function useCommand(): CommandState {
  const [error, setError] = useState<string | null>(null);
  const [busy, setBusy] = useState(false);
  const live = useRef(true);
  const run = useCallback(async (command: string, data: Record<string, unknown> = {}) => {
    setBusy(true);
    setError(null);
    const result = await send(command, data);
    if (live.current) {
      setBusy(false);
      setError(result);
    }
    return result;
  }, []);
  const clear = useCallback(() => setError(null), []);
  return { run, error, busy, clear };
}
