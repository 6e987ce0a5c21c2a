# Sourced by the scripts that show wine's windows: starts Xvfb on the first
# free display number and exports DISPLAY; stop_virtual_display ends it.
# A display that another Xvfb takes at the same moment makes this one end,
# and the next number is tried.
#
#   start_virtual_display <log file>
#   stop_virtual_display

virtual_display_pid=""

start_virtual_display() {
  local log="$1" n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$log" 2>&1 &
    virtual_display_pid=$!
    for _ in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] || ! kill -0 "$virtual_display_pid" 2>/dev/null && break
      sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$virtual_display_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      return 0
    fi
    kill "$virtual_display_pid" 2>/dev/null || true
    virtual_display_pid=""
  done
  echo "Xvfb does not start: $(cat "$log")" >&2
  return 1
}

stop_virtual_display() {
  if [ -n "$virtual_display_pid" ]; then
    kill "$virtual_display_pid" 2>/dev/null || true
    wait "$virtual_display_pid" 2>/dev/null || true
    virtual_display_pid=""
  fi
}
