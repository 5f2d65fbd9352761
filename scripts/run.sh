#!/usr/bin/env bash
# Builds the program (installing what it needs) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
exec build/tarrowin
