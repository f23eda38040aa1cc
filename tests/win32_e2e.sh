#!/usr/bin/env bash
# tavrimo.exe under Wine on a private Xvnc: the list against the platform's
# enumeration, then real keys, checked with xrandr and the stored mode.
#   win32_e2e.sh TAVRIMO_EXE WIN32_PROBE_EXE
set -euo pipefail
exe=$1
probe=$2
# shellcheck source=wine-test-lib.sh
. "$(dirname "$0")/wine-test-lib.sh"
wait_current() {  # wait_current "W H": up to 10 s
  for _ in $(seq 100); do [[ $(current) == "$1" ]] && return 0; sleep 0.1; done
  return 1
}

"$wine_run" "$exe" &
app=$!
trap 'kill $app 2>/dev/null || true; kill $XVNC_PID 2>/dev/null || true' EXIT
win=$(wait_window '^Tavrimo$')
[[ -n $win ]] || { echo "FAILED: the window did not appear"; exit 1; }

"$wine_run" "$probe" list || fail=1
lines=$("$wine_run" "$probe" list | tr -d '\r' | sed -n 's/^\([0-9]*\) lines$/\1/p')
modes=$(xrandr | grep -c '^   [0-9]')
check "every RandR mode at 32, 16 and 8 bits per pixel" "$((modes * 3))" "$lines"

layout=$("$wine_run" "$probe" layout | tr -d '\r')
expected=$("$wine_run" "$probe" expected 96 | tr -d '\r')
check "client area at 96 DPI" "$(grep ^client <<<"$expected")" "$(grep ^client <<<"$layout")"
check "the list's place" "$(grep '^1000 [0-9]' <<<"$expected")" "$(grep ^1000 <<<"$layout")"
check "the button's place" "$(grep '^1001 [0-9]' <<<"$expected")" "$(grep ^1001 <<<"$layout")"
check "fixed frame, unsorted whole-line list, no default button" \
  "sizable 0 maximizable 0 sorted 0 integral 1 default 0" "$(grep ^sizable <<<"$layout")"
check "no line selected at start" "selected -1" "$(grep ^selected <<<"$layout")"
check "the focus on the list at start" "focus 1000" "$(grep ^focus <<<"$layout")"

before=$(current)
xdotool windowfocus --sync "$win"
# Enter in the list presses nothing.
xdotool key --delay 60 Down Down Down Down Return
sleep 1.5
check "Enter in the list changes nothing" "$before" "$(current)"

# Line 3 is selected; Alt+O applies it.
read -r w h bpp < <("$wine_run" "$probe" mode 3)
xdotool key alt+o
wait_current "$w $h" || true
check "Alt+O switches to line 3" "$w $h" "$(current)"
check "line 3 is the stored mode" "$w $h $bpp" "$("$wine_run" "$probe" registry)"

# Down to line 7, Tab to the button, Enter presses it.
read -r w h bpp < <("$wine_run" "$probe" mode 7)
xdotool key --delay 60 Down Down Down Down Tab Return
wait_current "$w $h" || true
check "Tab then Enter on the button switches to line 7" "$w $h" "$(current)"
check "line 7 is the stored mode" "$w $h $bpp" "$("$wine_run" "$probe" registry)"

texts=$("$wine_run" "$probe" texts | tr -d '\r')
check "the list's accessible text" "$(grep '^1000 \[' <<<"$expected")" "$(grep ^1000 <<<"$texts")"
check "the button's accessible text" "$(grep '^1001 \[' <<<"$expected")" "$(grep ^1001 <<<"$texts")"
exit $fail
