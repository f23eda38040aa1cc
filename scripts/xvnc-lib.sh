# Sourced by scripts that need a private X server.
# start_xvnc [Xvnc options...]: starts TigerVNC's Xvnc on a free display,
# without a password and reachable from this machine only; sets DISPLAY,
# XVNC_PID and XVNC_NUMBER, and stops the server when the script exits.
start_xvnc() {
  local fifo number
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  exec 8<>"$fifo"
  rm -f "$fifo"
  Xvnc -displayfd 8 -SecurityTypes None -localhost -geometry 1024x768 -depth 24 "$@" \
    >/dev/null 2>&1 &
  XVNC_PID=$!
  trap 'kill $XVNC_PID 2>/dev/null || true' EXIT
  trap 'exit 143' INT TERM HUP
  if ! read -r -t 15 number <&8; then
    echo "Xvnc did not start" >&2
    return 1
  fi
  exec 8<&-
  XVNC_NUMBER=$number
  export DISPLAY=:$number
}

# wait_window TITLE-REGEX: prints the id of the first visible window so named.
wait_window() {
  timeout 60 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1
}
