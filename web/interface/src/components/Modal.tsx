// A modal dialog: reports itself to the shell through "windowModal" (the window's drag strip
// steps aside), keeps the keyboard focus inside while open, closes on Escape and gives the focus
// back to where it was.
import type { ComponentChildren } from 'preact';
import { useEffect, useRef } from 'preact/hooks';
import { send } from '../bridge';
import { Icon } from './Icon';

const focusable =
  'a[href], button:not([disabled]), input:not([disabled]), select:not([disabled]), textarea:not([disabled]), [tabindex]:not([tabindex="-1"])';

let openCount = 0;

export function Modal({ title, onClose, children, wide = false, describedBy }: {
  title: string;
  onClose: () => void;
  children: ComponentChildren;
  wide?: boolean;
  describedBy?: string;
}) {
  const dialog = useRef<HTMLDivElement>(null);
  const titleID = useRef(`modal-title-${Math.random().toString(36).slice(2)}`).current;

  useEffect(() => {
    const before = document.activeElement as HTMLElement | null;
    openCount += 1;
    if (openCount === 1) void send('windowModal', { open: true });
    const first = dialog.current?.querySelector<HTMLElement>('[data-autofocus]') ?? dialog.current?.querySelector<HTMLElement>(focusable);
    first?.focus();
    return () => {
      openCount -= 1;
      if (openCount === 0) void send('windowModal', { open: false });
      if (before && document.contains(before)) before.focus();
    };
  }, []);

  const onKeyDown = (event: KeyboardEvent) => {
    if (event.key === 'Escape') {
      event.stopPropagation();
      onClose();
      return;
    }
    if (event.key !== 'Tab' || !dialog.current) return;
    const items = Array.from(dialog.current.querySelectorAll<HTMLElement>(focusable)).filter((e) => e.offsetParent !== null);
    if (items.length === 0) return;
    const first = items[0]!;
    const last = items[items.length - 1]!;
    if (event.shiftKey && document.activeElement === first) {
      event.preventDefault();
      last.focus();
    } else if (!event.shiftKey && document.activeElement === last) {
      event.preventDefault();
      first.focus();
    }
  };

  return (
    <div class="modal-backdrop" onMouseDown={(e) => e.target === e.currentTarget && onClose()}>
      <div
        ref={dialog}
        class={wide ? 'modal wide' : 'modal'}
        role="dialog"
        aria-modal="true"
        aria-labelledby={titleID}
        aria-describedby={describedBy}
        onKeyDown={onKeyDown}
      >
        <header class="modal-header">
          <h2 id={titleID}>{title}</h2>
          <button type="button" class="icon-button flat" aria-label="Close" onClick={onClose}>
            <Icon name="close" />
          </button>
        </header>
        {children}
      </div>
    </div>
  );
}
