#!/usr/bin/env bash
# Builds the program and every test (installing what they need) and runs them all: unit and
# integration tests on the offscreen platform, end-to-end tests under a real X server and a
# real sound server that the tests start and stop themselves.
set -euo pipefail
cd "$(dirname "$0")/.."
export TARROWIN_TEST_TOOLS=1
scripts/setup.sh
cd "${TARROWIN_BUILD_DIR:-build}"
ctest --output-on-failure -j1 --timeout 900
