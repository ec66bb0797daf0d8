#!/usr/bin/env bash
# The interface page's build tools (TypeScript, esbuild) and libraries (Preact, DOMPurify,
# axe-core for the accessibility checks), pinned by web/interface/package-lock.json.
# Debian 12's nodejs comes without npm, which is a package of its own; a Node.js that brings
# its own npm must keep it, so Debian's is installed only when the command is missing.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
folder=$top/web/interface

if ! command -v npm >/dev/null 2>&1; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  echo "setup: installing npm"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends npm
fi

# npm ci starts from scratch every time; skip it while node_modules matches the lock file.
stamp=$folder/node_modules/.quorvane-lock
if [ -f "$stamp" ] && cmp -s "$stamp" "$folder/package-lock.json"; then
  echo "setup: interface packages present"
  exit 0
fi
echo "setup: installing the interface packages (npm ci)"
(cd "$folder" && npm ci --no-audit --no-fund --loglevel=error)
cp "$folder/package-lock.json" "$stamp"
