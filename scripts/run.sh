#!/usr/bin/env bash
# Sets up, builds (optimised) and starts Orvik on the user's library.
# Arguments are passed on to orvik, e.g. scripts/run.sh --library ~/Texte groups
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/orvik "$@"
