#!/usr/bin/env node
// Starts the Dot simulator. See README.md beside this file for the options, the page and
// the control interface. Prints one line "READY <origin> <certificate path>" once it
// accepts connections; stops on SIGTERM, SIGINT or POST /__control/stop.

import { mkdirSync, renameSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

import { ensureCertificate } from './lib/cert.mjs';
import { Simulator } from './lib/simulator.mjs';

const USAGE = `Usage: node sim/server.mjs [options]
  --port N              port on 127.0.0.1 (0, the default, lets the system choose)
  --state-dir DIR       certificate and saved conversations (default: sim/.state)
  --write-config FILE   write a dot-service.json for Quorvane pointing at this simulator
  --signed-in           every visitor is signed in (no sign-in step)
  --profile-name NAME   the profile's display name (default: Dot)
  --uuid-case CASE      "lower" (default) or "upper" for new conversation ids
  --home-is-conversation  /dots/home is one standing conversation instead of a new-chat page
  --no-persist          keep conversations in memory only
  --exit-with-stdin     stop when standard input closes (so a crashed test leaves nothing running)
  --quiet               no request log on standard error
  --help`;

function fail(message) {
  process.stderr.write(`dot-sim: ${message}\n${USAGE}\n`);
  process.exit(2);
}

let args;
try {
  args = parseArgs({
    options: {
      port: { type: 'string', default: '0' },
      'state-dir': { type: 'string' },
      'write-config': { type: 'string' },
      'signed-in': { type: 'boolean', default: false },
      'profile-name': { type: 'string' },
      'uuid-case': { type: 'string', default: 'lower' },
      'home-is-conversation': { type: 'boolean', default: false },
      'no-persist': { type: 'boolean', default: false },
      'exit-with-stdin': { type: 'boolean', default: false },
      quiet: { type: 'boolean', default: false },
      help: { type: 'boolean', default: false },
    },
    strict: true,
  }).values;
} catch (error) {
  fail(error.message);
}
if (args.help) {
  process.stdout.write(`${USAGE}\n`);
  process.exit(0);
}
const port = Number(args.port);
if (!/^\d+$/.test(args.port) || port > 65535) fail(`--port must be a number from 0 to 65535, not "${args.port}".`);
if (args['uuid-case'] !== 'lower' && args['uuid-case'] !== 'upper') fail('--uuid-case must be "lower" or "upper".');

const here = dirname(fileURLToPath(import.meta.url));
const stateDir = resolve(args['state-dir'] ?? join(here, '.state'));
mkdirSync(stateDir, { recursive: true, mode: 0o700 });

const log = args.quiet ? () => {} : (line) => process.stderr.write(`dot-sim: ${line}\n`);
let simulator;
try {
  const tls = ensureCertificate(stateDir);
  simulator = new Simulator({
    stateDir,
    persist: !args['no-persist'],
    signedIn: args['signed-in'],
    uuidCase: args['uuid-case'],
    homeIsConversation: args['home-is-conversation'],
    profileName: args['profile-name'],
    tls,
    log,
  });
  await simulator.listen(port);
  if (args['write-config']) writeConfig(resolve(args['write-config']), simulator.port, tls.certPath);
  process.stdout.write(`READY ${simulator.origin} ${tls.certPath}\n`);
} catch (error) {
  process.stderr.write(`dot-sim: ${error.message}\n`);
  process.exit(1);
}

let stopping = false;
async function stop(reason) {
  if (stopping) return;
  stopping = true;
  log(`stopping (${reason})`);
  await simulator.close();
  process.exit(0);
}
simulator.onStopRequest = () => stop('control call');
process.on('SIGTERM', () => stop('SIGTERM'));
process.on('SIGINT', () => stop('SIGINT'));
if (args['exit-with-stdin']) {
  process.stdin.on('end', () => stop('standard input closed'));
  process.stdin.on('error', () => stop('standard input closed'));
  process.stdin.resume();
}

function writeConfig(file, boundPort, certPath) {
  const host = `127.0.0.1:${boundPort}`;
  const config = {
    mainHost: host,
    staticHost: host,
    userContentHost: host,
    companyHost: host,
    homePath: '/dots',
    trustedCertificate: certPath,
  };
  mkdirSync(dirname(file), { recursive: true });
  const temporary = `${file}.${process.pid}.tmp`;
  writeFileSync(temporary, `${JSON.stringify(config, null, 2)}\n`);
  renameSync(temporary, file);
}
