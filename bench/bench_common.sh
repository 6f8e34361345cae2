# Sourced by the bench scripts: what each of them checks and prepares before it measures.

# Stops with a message unless every named tool is built.
require_built() {
  local tool
  for tool in "$@"; do
    [[ -x $tool ]] || { echo "missing $tool: build the bench targets first" >&2; exit 1; }
  done
}

# The reproducible 40 MB log at $1, generated with make_scan_log from folder $2 when missing.
ensure_scan_log() {
  [[ -f $1 ]] && return
  mkdir -p "$(dirname "$1")"
  "$2/make_scan_log" "$1" 40
}

# With "x11": a virtual X server with a window manager (apt-get install xvfb openbox), on
# which the evaluator's window runs as a user meets it; stop_display stops both. With
# "offscreen": Qt's offscreen platform.
x_server= window_manager=
start_display() {
  case $1 in
    offscreen) export QT_QPA_PLATFORM=offscreen ;;
    x11)
      local display=:$((90 + $$ % 100)) i
      Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp > /dev/null 2>&1 &
      x_server=$!
      for ((i = 0; i < 50; ++i)); do xdpyinfo -display "$display" > /dev/null 2>&1 && break; sleep 0.1; done
      DISPLAY=$display openbox > /dev/null 2>&1 &
      window_manager=$!
      sleep 0.5
      export DISPLAY=$display QT_QPA_PLATFORM=xcb
      ;;
    *) echo "unknown display mode $1 (offscreen or x11)" >&2; exit 2 ;;
  esac
}
stop_display() {
  [[ -n $window_manager ]] && kill "$window_manager" 2> /dev/null || true
  [[ -n $x_server ]] && kill "$x_server" 2> /dev/null || true
}
