// Starting the simulator from a Node test. Every simulator started here runs as its own
// process on a system-chosen port and with --exit-with-stdin, so it goes away even when
// the test process dies; stop() ends it properly and waits for it.
//
//   import { startSimulator } from '../harness.mjs';
//   const sim = await startSimulator({ args: ['--signed-in'] });
//   try {
//     await sim.control('next-answer', { parts: 2 });
//     const page = await sim.request('GET', '/dots/home');
//     ...
//   } finally {
//     await sim.stop();
//   }

import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { request as httpsRequest } from 'node:https';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const SERVER = join(dirname(fileURLToPath(import.meta.url)), 'server.mjs');
const READY = /^READY (https:\/\/127\.0\.0\.1:(\d+)) (.+)$/;

export async function startSimulator({ stateDir, args = [], keepStateDir = false } = {}) {
  const ownDir = !stateDir;
  const dir = stateDir ?? mkdtempSync(join(tmpdir(), 'dot-sim-'));
  const configPath = join(dir, 'dot-service.json');
  const child = spawn(process.execPath, [SERVER, '--port', '0', '--state-dir', dir, '--write-config', configPath, '--exit-with-stdin', '--quiet', ...args], {
    stdio: ['pipe', 'pipe', 'pipe'],
  });
  let stderr = '';
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));

  const ready = await new Promise((resolve, reject) => {
    let stdout = '';
    const onData = (chunk) => {
      stdout += chunk;
      const newline = stdout.indexOf('\n');
      if (newline < 0) return;
      child.stdout.off('data', onData);
      const match = READY.exec(stdout.slice(0, newline));
      if (match) resolve({ origin: match[1], port: Number(match[2]), certPath: match[3], line: stdout.slice(0, newline) });
      else reject(new Error(`The simulator printed "${stdout.slice(0, newline)}" instead of its ready line.`));
    };
    child.stdout.on('data', onData);
    exited.then(({ code }) => reject(new Error(`The simulator exited with code ${code} before it was ready: ${stderr.trim()}`)));
  });
  const ca = readFileSync(ready.certPath);

  const sim = {
    ...ready,
    stateDir: dir,
    configPath,
    child,
    exited,
    get stderr() {
      return stderr;
    },
    // One https request to the simulator, trusting only its own certificate.
    request(method, path, { body, headers = {}, cookie } = {}) {
      return fetchText(`${ready.origin}${path}`, { ca, method, body, headers: { ...headers, ...(cookie ? { Cookie: cookie } : {}) } });
    },
    // Opens a raw request and hands back the response as it arrives (event streams, stalls).
    open(path, { headers = {} } = {}) {
      return new Promise((resolve, reject) => {
        const req = httpsRequest(`${ready.origin}${path}`, { ca, headers }, resolve);
        req.on('error', reject);
        req.end();
      });
    },
    async control(name, body = {}) {
      const response = await sim.request('POST', `/__control/${name}`, { body: JSON.stringify(body), headers: { 'Content-Type': 'application/json' } });
      if (response.status !== 200) throw new Error(`Control call ${name} failed with ${response.status}: ${response.text}`);
      return response.json;
    },
    async state() {
      return (await sim.request('GET', '/__control/state')).json;
    },
    async stop() {
      if (child.exitCode === null && child.signalCode === null) {
        child.kill('SIGTERM');
        const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
        await exited;
        clearTimeout(timer);
      }
      child.stdin.destroy();
      if (ownDir && !keepStateDir) rmSync(dir, { recursive: true, force: true });
      return exited;
    },
  };
  return sim;
}

export function fetchText(url, { ca, method = 'GET', body, headers = {} } = {}) {
  return new Promise((resolve, reject) => {
    const req = httpsRequest(url, { ca, method, headers }, (res) => {
      const chunks = [];
      res.on('data', (chunk) => chunks.push(chunk));
      res.on('end', () => {
        const text = Buffer.concat(chunks).toString('utf8');
        let json;
        try {
          json = JSON.parse(text);
        } catch {
          json = undefined;
        }
        resolve({ status: res.statusCode, headers: res.headers, text, json });
      });
      res.on('error', reject);
    });
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

// Follows an event stream and calls onEvent(name, data) for each event.
export function readEvents(response, onEvent) {
  let buffer = '';
  response.setEncoding('utf8');
  response.on('data', (chunk) => {
    buffer += chunk;
    let end;
    while ((end = buffer.indexOf('\n\n')) >= 0) {
      const block = buffer.slice(0, end);
      buffer = buffer.slice(end + 2);
      let name = 'message';
      const data = [];
      for (const line of block.split('\n')) {
        if (line.startsWith('event: ')) name = line.slice(7);
        else if (line.startsWith('data: ')) data.push(line.slice(6));
      }
      if (data.length > 0) onEvent(name, JSON.parse(data.join('\n')));
    }
  });
}
