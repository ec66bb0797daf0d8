"""AES-256-GCM in the vault file's combined form (12-byte nonce, ciphertext, 16-byte tag),
done with the `cryptography` package, to check the store against an implementation that
shares nothing with it.

    aesgcm.py decrypt KEYHEX SEALED PLAINTEXT_OUT
    aesgcm.py encrypt KEYHEX JSON_IN SEALED_OUT   (re-serialises the JSON differently first)
"""
import json
import os
import sys

from cryptography.hazmat.primitives.ciphers.aead import AESGCM


def main(mode, key_hex, source, target):
    key = bytes.fromhex(key_hex)
    with open(source, "rb") as f:
        data = f.read()
    if mode == "decrypt":
        result = AESGCM(key).decrypt(data[:12], data[12:], None)
    elif mode == "encrypt":
        # Other key order, ASCII escapes for everything else and white space: a reader must
        # not depend on how its own writer happens to lay the JSON out.
        value = json.loads(data)
        text = json.dumps(value, sort_keys=True, ensure_ascii=True, indent=1).encode("ascii")
        nonce = os.urandom(12)
        result = nonce + AESGCM(key).encrypt(nonce, text, None)
    else:
        raise SystemExit("unknown mode " + mode)
    with open(target, "wb") as f:
        f.write(result)


if __name__ == "__main__":
    main(*sys.argv[1:])
