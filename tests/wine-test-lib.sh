# Sourced by the Wine tests: a private Xvnc, and small checks.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../scripts/wine-run
# shellcheck source=../scripts/xvnc-lib.sh
. "$here/../scripts/xvnc-lib.sh"
# A VNC socket and no port, which TigerVNC 1.12 to 1.16 all take; no VNC client
# connects, so the socket's folder goes once the server is up.
vnc_dir=$(mktemp -d)
start_xvnc -rfbunixpath "$vnc_dir/vnc" -rfbport -1 -nolisten tcp
rm -rf "$vnc_dir"

fail=0
check() {  # check WHAT EXPECTED ACTUAL
  if [[ $2 == "$3" ]]; then echo "ok: $1"; else echo "FAILED: $1: expected [$2], got [$3]"; fail=1; fi
}
current() { xrandr | sed -n 's/^Screen 0: .* current \([0-9]*\) x \([0-9]*\),.*/\1 \2/p'; }
