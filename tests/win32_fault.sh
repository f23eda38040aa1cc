#!/usr/bin/env bash
# tavrimo.exe under Wine when the platform refuses: a mode removed from the
# server after the list was filled, and a list of thousands of lines.
#   win32_fault.sh TAVRIMO_EXE WIN32_PROBE_EXE
set -euo pipefail
exe=$1
probe=$2
# shellcheck source=wine-test-lib.sh
. "$(dirname "$0")/wine-test-lib.sh"

# A thousand extra modes, and a small one to be taken away again.
xrandr --newmode gone 5.00 320 328 336 344 240 241 242 243
xrandr --addmode VNC-0 gone
for i in $(seq 0 998); do
  w=$((700 + i % 100)) h=$((500 + i / 100))
  xrandr --newmode "extra$i" 30.00 $w $((w + 8)) $((w + 16)) $((w + 24)) $h $((h + 1)) $((h + 2)) $((h + 3))
  xrandr --addmode VNC-0 "extra$i"
done

"$wine_run" "$exe" &
app=$!
trap 'kill $app 2>/dev/null || true; kill $XVNC_PID 2>/dev/null || true' EXIT
win=$(wait_window '^Tavrimo$')
[[ -n $win ]] || { echo "FAILED: the window did not appear"; exit 1; }

"$wine_run" "$probe" list | tr -d '\r' | tail -n 3 || fail=1
lines=$("$wine_run" "$probe" list | tr -d '\r' | sed -n 's/^\([0-9]*\) lines$/\1/p')
check "every one of 1013 modes at three depths" "3039" "$lines"

# The platform's own order puts the mode to remove at some line; find it.
target=$("$wine_run" "$probe" find 320 240 32 | tr -d '\r')
[[ $target -ge 0 ]] || { echo "FAILED: no line for the mode to remove"; exit 1; }
xrandr --delmode VNC-0 gone
before=$(current)
xdotool windowfocus --sync "$win"
xdotool key --delay 10 --repeat $((target + 1)) Down
xdotool key alt+o
sleep 2
check "a mode the platform refuses changes nothing" "$before" "$(current)"
"$wine_run" "$probe" alive && ok=yes || ok=no
check "the window stays and answers" "yes" "$ok"
exit $fail
