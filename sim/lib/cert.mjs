// The simulator's own TLS certificate, made once per state folder with the openssl command
// line tool and reused afterwards, so a browser profile that trusted it keeps trusting it.

import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, renameSync, rmSync } from 'node:fs';
import { join } from 'node:path';

export function ensureCertificate(stateDir) {
  const dir = join(stateDir, 'tls');
  const certPath = join(dir, 'cert.pem');
  const keyPath = join(dir, 'key.pem');
  if (!existsSync(certPath) || !existsSync(keyPath)) {
    mkdirSync(dir, { recursive: true, mode: 0o700 });
    // Written under temporary names and renamed, so two simulators started on one fresh
    // folder never read a half-written pair.
    const suffix = `.${process.pid}.tmp`;
    try {
      execFileSync(
        'openssl',
        [
          'req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes',
          '-keyout', keyPath + suffix, '-out', certPath + suffix, '-days', '3650',
          '-subj', '/CN=127.0.0.1/O=Dot simulator',
          '-addext', 'subjectAltName=IP:127.0.0.1,DNS:localhost',
          '-addext', 'basicConstraints=critical,CA:FALSE',
          '-addext', 'extendedKeyUsage=serverAuth',
        ],
        { stdio: ['ignore', 'ignore', 'pipe'] },
      );
    } catch (error) {
      rmSync(keyPath + suffix, { force: true });
      rmSync(certPath + suffix, { force: true });
      const detail = error.stderr ? String(error.stderr).trim() : error.message;
      throw new Error(`Could not make the TLS certificate with openssl: ${detail}`);
    }
    renameSync(keyPath + suffix, keyPath);
    renameSync(certPath + suffix, certPath);
  }
  return { certPath, keyPath, cert: readFileSync(certPath), key: readFileSync(keyPath) };
}
