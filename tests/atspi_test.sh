#!/usr/bin/env bash
# What a screen reader sees of the window, through AT-SPI on a private X
# server and session bus: the list with its lines, the button and one caption.
#   atspi_test.sh TAVRIMO_BINARY
set -euo pipefail
app=$1
# shellcheck source=../scripts/xvnc-lib.sh
. "$(dirname "$0")/../scripts/xvnc-lib.sh"
scratch=$(mktemp -d)
# A VNC socket and no port: what TigerVNC 1.12 and 1.15 both take.
start_xvnc -rfbunixpath "$scratch/vnc" -rfbport -1 -nolisten tcp
exec 9>"$scratch/bus"
dbus-daemon --session --nofork --nopidfile --print-address=9 >/dev/null 2>&1 &
bus=$!
trap 'kill $pid $launcher $bus $XVNC_PID 2>/dev/null || true; rm -rf "$scratch"' EXIT
pid= launcher=
for _ in $(seq 50); do [[ -s $scratch/bus ]] && break; sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$scratch/bus") XDG_CONFIG_HOME=$scratch
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
launcher=$!
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$app" 2>/dev/null &
pid=$!
[[ -n $(wait_window '^Tavrimo$') ]] || { echo "FAILED: the window did not appear"; exit 1; }
lines=$(xrandr | grep -c '^   [0-9]')
/usr/bin/python3 - "$lines" <<'PY'
import sys, time, pyatspi
want = int(sys.argv[1])
for _ in range(50):
    apps = [a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "Tavrimo"]
    if apps and apps[0].childCount: break
    time.sleep(0.1)
frame = apps[0][0]
# By role, not by the role's name: at-spi2-core 2.46 says "push button", 2.56 "button".
seen = [(c.getRole(), c.name) for c in frame]
print("announced:", [(c.getRoleName(), c.name) for c in frame])
ok = seen == [(pyatspi.ROLE_LIST, "顯示模式清單"), (pyatspi.ROLE_PUSH_BUTTON, "確定"),
              (pyatspi.ROLE_LABEL, "Tavrimo")]
lst = frame[0]
print("lines:", lst.childCount, "of", want)
ok &= lst.childCount == want
sys.exit(0 if ok else 1)
PY
