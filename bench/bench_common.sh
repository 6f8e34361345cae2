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
