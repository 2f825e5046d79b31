#!/usr/bin/env bash
# Builds Quorvel and starts it on the bundled sample region, in its own folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/build.sh"
cd "$root/build/app"
exec ./Quorvel
