#!/usr/bin/env bash
# The whole job on one machine: builds the launcher with a loopback update server built in,
# publishes a small sample release with the release server, lets the launcher install the
# application into an empty directory, then changes the release and lets it update.
#
# With DISPLAY set the progress window is seen; without, the launcher runs headless and its
# messages go to standard error.
#
#   KESTRUN_DEMO_PORT   loopback port of the release server (default 47613)
#   KESTRUN_DEMO_BUILD  build directory (default build-demo)
#   KESTRUN_SKIP_SETUP  1: do not run scripts/setup.sh (packages already installed)
set -euo pipefail
cd "$(dirname "$0")/.."

port=${KESTRUN_DEMO_PORT:-47613}
build=${KESTRUN_DEMO_BUILD:-build-demo}
jobs=${KESTRUN_JOBS:-2}

step() { printf '\n=== %s\n' "$*"; }

if [ "${KESTRUN_SKIP_SETUP:-0}" != 1 ] && [ -f scripts/setup.sh ]; then
  step "Installing the packages the build needs"
  bash scripts/setup.sh
fi

step "Building the launcher for http://127.0.0.1:${port}, the release server and the sample program"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKESTRUN_BASE_URL="http://127.0.0.1:${port}" -DKESTRUN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target Kestrun kestrun-release-server kestrun_sample_main_program
launcher=$build/launcher/Kestrun
server=$build/tools/release_server/kestrun-release-server
sample=$build/demo/kestrun_sample_main_program

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-demo.XXXXXX")
release=$work/release/windows   # the launcher always asks for the platform "windows"
install=$work/install

step "Publishing the sample release in $release"
mkdir -p "$release" "$install"
cp -R demo/release/. "$release/"
cp "$sample" "$release/Vardel.exe"
ln -s docs/welcome.txt "$release/welcome.txt"
(cd "$release" && find . -mindepth 1 \( -type f -o -type l \) | sed 's|^\./|  |' | sort)

step "Starting the release server on 127.0.0.1:${port}"
"$server" --root "$work/release" --port "$port" >"$work/server.log" 2>&1 &
server_pid=$!
stop_server() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
}
trap stop_server EXIT
for _ in $(seq 100); do
  grep -q '^kestrun-release-server: serving' "$work/server.log" && break
  if ! kill -0 "$server_pid" 2>/dev/null; then
    cat "$work/server.log" >&2
    exit 1
  fi
  sleep 0.1
done
echo "  pid $server_pid, requests logged to $work/server.log"

# The launcher's installation directory is its own directory.
cp "$launcher" "$install/Kestrun"

# The launcher registers its URL schemes for the current user at every start; the demo gives
# it a home of its own so that the real one keeps pointing wherever it pointed before.
demo_home=$work/home
run_launcher() {
  HOME="$demo_home" XDG_DATA_HOME="$demo_home/data" XDG_CONFIG_HOME="$demo_home/config" "$install/Kestrun" "$@"
}

show_run() {
  echo "  the launcher's log of this run:"
  local log
  log=$(ls "$install"/logs/kestrun-*.log | tail -n 1)
  # Only the lines of the latest run: from its banner on.
  awk '/========== Kestrun 启动 ==========/ { buffer = "" } { buffer = buffer "    " $0 "\n" } END { printf "%s", buffer }' "$log"
  echo "  the main program's starts (vardel-starts.txt):"
  sed 's/^/    /' "$install/vardel-starts.txt" 2>/dev/null || echo "    (none)"
}

step "Run 1: first installation into the empty directory $install"
run_launcher "vardel://open?demo=1"
show_run

step "Changing docs/news.txt in the release"
printf 'Release 2: news.txt changed, so the launcher fetches it again.\n' >"$release/docs/news.txt"
touch -d '+1 minute' "$release/docs/news.txt"

step "Run 2: update of the installed application"
run_launcher "vardel://open?demo=2"
show_run
echo "  docs/news.txt in the installation now reads: $(cat "$install/docs/news.txt")"

step "Requests the release server answered"
sed 's/^/  /' "$work/server.log"

step "Where to look"
echo "  installation:  $install"
echo "  launcher log:  $(ls "$install"/logs/kestrun-*.log | tail -n 1)"
echo "  check report:  $install/update.log"
echo "  URL schemes:   $demo_home/data/applications/kestrun-*.desktop"
echo "  release:       $release"
echo "The release server (pid $server_pid) is stopped now; the sample program ends by itself."
