#!/usr/bin/env bash
# Runs a GoogleTest program under Wine with a private X server, for tests
# that make windows.   wine-gtest.sh TEST_EXE [gtest options...]
set -euo pipefail
# shellcheck source=wine-test-lib.sh
. "$(dirname "$0")/wine-test-lib.sh"
"$wine_run" "$@"
