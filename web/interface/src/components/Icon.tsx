// Symbolic icons in the GNOME manner: 16-pixel strokes in the current text colour.
const paths = {
  send: 'M8 13V3M3.5 7.5L8 3l4.5 4.5',
  attach: 'M11.5 7.5l-4.6 4.6a2.6 2.6 0 0 1-3.7-3.7l5.3-5.3a1.7 1.7 0 0 1 2.4 2.4L5.8 10.6a.8.8 0 0 1-1.1-1.1L9.2 5',
  plus: 'M8 3v10M3 8h10',
  menu: 'M2.5 4h11M2.5 8h11M2.5 12h11',
  edit: 'M10.5 2.5l3 3L6 13H3v-3z',
  reply: 'M6.5 3.5L2.5 7.5l4 4M2.5 7.5H9a4.5 4.5 0 0 1 4.5 4.5v1',
  copy: 'M5.5 5.5h7v8h-7zM3.5 10.5v-8h7',
  external: 'M9 2.5h4.5V7M13.5 2.5L7 9M11.5 9.5v4h-9v-9h4',
  close: 'M4 4l8 8M12 4l-8 8',
  archive: 'M2.5 3.5h11v3h-11zM3.5 6.5v7h9v-7M6.5 9h3',
  restore: 'M3 8a5 5 0 1 0 1.5-3.6M3 2.5v3h3',
  chevron: 'M4 6l4 4 4-4',
  down: 'M8 3v10M3.5 8.5L8 13l4.5-4.5',
  export: 'M8 2.5v7.5M4.5 6.5L8 10l3.5-3.5M2.5 11v2.5h11V11',
  warning: 'M8 2l6.5 11.5h-13zM8 6.5v3M8 11.5v.5',
  stop: 'M4.5 4.5h7v7h-7z',
  check: 'M3 8.5l3 3 7-7',
  person: 'M8 8a3 3 0 1 0 0-6 3 3 0 0 0 0 6zM2.5 14c.5-3 2.8-4.5 5.5-4.5s5 1.5 5.5 4.5',
  search: 'M7 12a5 5 0 1 0 0-10 5 5 0 0 0 0 10zM10.5 10.5L14 14',
  link: 'M7 9a3 3 0 0 0 4.2 0l2-2a3 3 0 0 0-4.2-4.2l-1 1M9 7a3 3 0 0 0-4.2 0l-2 2A3 3 0 0 0 7 13.2l1-1',
} as const;

export type IconName = keyof typeof paths;

export function Icon({ name, size = 16 }: { name: IconName; size?: number }) {
  return (
    <svg class="icon" width={size} height={size} viewBox="0 0 16 16" aria-hidden="true" focusable="false">
      <path d={paths[name]} fill="none" stroke="currentColor" stroke-width="1.5" stroke-linecap="round" stroke-linejoin="round" />
    </svg>
  );
}
