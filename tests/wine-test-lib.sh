# Sourced by the Wine tests: a private Xvnc, and small checks.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../scripts/wine-run
# shellcheck source=../scripts/xvnc-lib.sh
. "$here/../scripts/xvnc-lib.sh"
start_xvnc -rfbport -1 -nolisten tcp

fail=0
check() {  # check WHAT EXPECTED ACTUAL
  if [[ $2 == "$3" ]]; then echo "ok: $1"; else echo "FAILED: $1: expected [$2], got [$3]"; fail=1; fi
}
current() { xrandr | sed -n 's/^Screen 0: .* current \([0-9]*\) x \([0-9]*\),.*/\1 \2/p'; }
