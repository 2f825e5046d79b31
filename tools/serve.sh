#!/usr/bin/env bash
# Builds Quorvel and starts quorvel-server on the bundled sample region, on
# the loopback address only. QUORVEL_LISTEN picks another address and port.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/build.sh"
listen="${QUORVEL_LISTEN:-127.0.0.1:8080}"
echo "quorvel-server: open http://$listen/ (Ctrl+C stops it)"
exec "$root/build/app/quorvel-server" --folder "$root/build/app" --listen "$listen"
