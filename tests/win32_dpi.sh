#!/usr/bin/env bash
# tavrimo.exe at 144 DPI under Wine: layout, fonts and logo scale by half again.
#   win32_dpi.sh TAVRIMO_EXE WIN32_PROBE_EXE PREFIX_DIR
set -euo pipefail
exe=$1
probe=$2
export WINEPREFIX=$3   # a prefix of its own: the DPI is a setting of the whole prefix
# Wine 10 gives a program 96 DPI whatever the prefix's LogPixels (or the X
# server's DPI) says, so there is no 144 DPI to test under it.
wine_major=$(wine --version | sed -n 's/^wine-\([0-9]*\).*/\1/p')
if [[ ${wine_major:-0} -ge 10 ]]; then
  echo "SKIPPED: $(wine --version) sets no DPI but 96"
  exit 77
fi
# shellcheck source=wine-test-lib.sh
. "$(dirname "$0")/wine-test-lib.sh"
"$wine_run" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null

"$wine_run" "$exe" &
app=$!
trap 'kill $app 2>/dev/null || true; kill $XVNC_PID 2>/dev/null || true' EXIT
win=$(wait_window '^Tavrimo$')
[[ -n $win ]] || { echo "FAILED: the window did not appear"; exit 1; }
layout=$("$wine_run" "$probe" layout | tr -d '\r')
expected=$("$wine_run" "$probe" expected 144 | tr -d '\r')
check "client area at 144 DPI" "$(grep ^client <<<"$expected")" "$(grep ^client <<<"$layout")"
check "the list's place" "$(grep '^1000 [0-9]' <<<"$expected")" "$(grep ^1000 <<<"$layout")"
check "the button's place" "$(grep '^1001 [0-9]' <<<"$expected")" "$(grep ^1001 <<<"$layout")"
exit $fail
