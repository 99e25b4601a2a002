# The pieces that the Wine test scripts share, to be sourced after `set -euo pipefail`:
#   wine_script_begin NAME       a scratch directory $work, removed at the end with everything
#                                that stop_at_exit named (stopped by process id) and the Wine prefix
#   start_wine                   an Xvfb display and a fresh Wine prefix of the script's own
#   start_release_server NATIVE_BUILD ROOT PORT
#   fail TEXT                    ends the script, showing the installation's log; a script may
#                                define its own after sourcing this
wine_script_pids=()

wine_script_begin() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-$1.XXXXXX")
  trap wine_script_cleanup EXIT
  trap 'exit 1' TERM INT
}

wine_script_cleanup() {
  if [[ -d "$work/prefix" ]]; then WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; fi
  local pid
  for pid in "${wine_script_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}

stop_at_exit() { wine_script_pids+=("$1"); }

fail() {
  echo "FAIL: $*" >&2
  cat "$work"/install/logs/*.log >&2 2>/dev/null || true
  exit 1
}

# Bounds of 30 s: a start that takes a fraction of a second on a quiet machine may take many
# times that on a busy one.
start_wine() {
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" 2>"$work/xvfb.log" &
  stop_at_exit $!
  for _ in $(seq 300); do [[ -s "$work/display" ]] && break; sleep 0.1; done
  [[ -s "$work/display" ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  # Without winedbg a crash ends the program with its exception code instead of a waiting debugger.
  export DISPLAY=":$(head -n1 "$work/display")" WINEPREFIX="$work/prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
  wineboot -i >/dev/null 2>&1
}

start_release_server() {
  "$1/tools/release_server/kestrun-release-server" --root "$2" --port "$3" >"$work/server.log" 2>&1 &
  stop_at_exit $!
  for _ in $(seq 300); do grep -q 'serving' "$work/server.log" && break; sleep 0.1; done
  grep -q 'serving' "$work/server.log" || fail "the release server did not start: $(cat "$work/server.log")"
}
