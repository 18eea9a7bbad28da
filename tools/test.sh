#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELORAN_BUILD:-$root/build}
"$root/tools/testenv.sh" install
"$root/tools/build.sh"
export VELORAN_ENV=$build/testenv
trap '"$root/tools/testenv.sh" stop "$VELORAN_ENV"' EXIT
"$root/tools/testenv.sh" start "$VELORAN_ENV"
ctest --test-dir "$build" --timeout 300 --output-on-failure "$@"
