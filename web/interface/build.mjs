// Builds the interface page into one folder (share/quorvane/UI): app.js (the TypeScript +
// Preact sources bundled by esbuild), app.css, index.html and the 32 built-in avatars as SVG
// files. With --tests <folder> it also bundles the plain-function tests for node's test runner.
// Runs offline: everything comes from node_modules, which scripts/setup fills with `npm ci`.
//
//   node build.mjs --out <UI folder> [--tests <folder>]
import { mkdirSync, readFileSync, readdirSync, writeFileSync, copyFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import * as esbuild from 'esbuild';
import { glyphs } from './avatars/glyphs.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const option = (name) => {
  const at = args.indexOf(name);
  return at >= 0 ? args[at + 1] : undefined;
};
const out = option('--out');
const testsOut = option('--tests');
if (!out) {
  console.error('usage: node build.mjs --out <UI folder> [--tests <folder>]');
  process.exit(2);
}

mkdirSync(join(out, 'avatars'), { recursive: true });

await esbuild.build({
  entryPoints: { app: join(here, 'src/main.tsx') },
  outdir: out,
  bundle: true,
  // A classic script: module scripts loaded from file:// URLs are refused as cross-origin.
  format: 'iife',
  target: ['es2022'],
  minify: true,
  legalComments: 'none',
  jsx: 'automatic',
  jsxImportSource: 'preact',
  logLevel: 'warning',
});
await esbuild.build({
  entryPoints: { app: join(here, 'src/styles/app.css') },
  outdir: out,
  bundle: true,
  minify: true,
  logLevel: 'warning',
});
copyFileSync(join(here, 'index.html'), join(out, 'index.html'));

// One disc per avatar: a soft two-stop gradient of its hue under a white symbol.
const avatars = JSON.parse(readFileSync(join(here, 'avatars/avatars.json'), 'utf8'));
for (const { id, hue } of avatars) {
  const glyph = glyphs[id];
  if (!glyph) throw new Error(`avatar ${id} has no symbol in avatars/glyphs.mjs`);
  const svg = `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 64 64" width="64" height="64">` +
    `<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">` +
    `<stop offset="0" stop-color="hsl(${hue} 72% 62%)"/><stop offset="1" stop-color="hsl(${(hue + 12) % 360} 66% 46%)"/>` +
    `</linearGradient></defs><circle cx="32" cy="32" r="32" fill="url(#g)"/>` +
    `<g fill="none" stroke="#fff" stroke-width="3.6" stroke-linecap="round" stroke-linejoin="round">` +
    glyph.replaceAll('class="f"', 'fill="#fff" stroke="none"') + `</g></svg>\n`;
  writeFileSync(join(out, 'avatars', `${id}.svg`), svg);
}

if (testsOut) {
  const unit = join(here, '../../tests/interface/unit');
  const entries = readdirSync(unit).filter((f) => f.endsWith('.test.ts')).map((f) => join(unit, f));
  mkdirSync(testsOut, { recursive: true });
  await esbuild.build({
    entryPoints: entries,
    outdir: testsOut,
    outExtension: { '.js': '.mjs' },
    bundle: true,
    platform: 'node',
    format: 'esm',
    target: ['node18'],
    logLevel: 'warning',
  });
}
