#!/usr/bin/env bash
# The whole job on one machine: builds the launcher with a loopback update server and a demo
# signing key built in, publishes a small signed sample release with kestrun-publish, serves it
# with the release server, lets the launcher install the application into an empty directory,
# then publishes a change and lets it update (a large file as a patch of a few kilobytes). Last, a file of a third release is changed on the
# server after publishing: the launcher refuses it and never installs it.
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

step "Building the signing-key tool, the publish tool, the release server and the sample program"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKESTRUN_BASE_URL="http://127.0.0.1:${port}" -DKESTRUN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target kestrun-keygen kestrun-publish kestrun-release-server kestrun_sample_main_program
keygen=$build/tools/keygen/kestrun-keygen
publish=$build/tools/publish/kestrun-publish
server=$build/tools/release_server/kestrun-release-server
sample=$build/demo/kestrun_sample_main_program

# A demo key, kept in the build directory so that a second demo run builds nothing again.
# A real signing key lives offline (docs/security.md).
key=$build/demo-signing.key
step "The demo signing key $key"
if [ ! -f "$key" ]; then "$keygen" "$key" | sed 's/^/  /'; fi
public_key=$("$keygen" --public "$key" | sed -n 's/^ *-DKESTRUN_MANIFEST_PUBLIC_KEY=//p')
echo "  public key built into the launcher: $public_key"

step "Building the launcher for http://127.0.0.1:${port}, accepting only manifests signed by that key"
cmake -S . -B "$build" -DKESTRUN_MANIFEST_PUBLIC_KEY="$public_key" >/dev/null
cmake --build "$build" -j "$jobs" --target Kestrun
launcher=$build/launcher/Kestrun

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-demo.XXXXXX")
source_dir=$work/source   # the release as the build team hands it over
site=$work/site           # what the server serves: site/current -> releases/<id>
install=$work/install

publish_release() {
  # --copy: the demo changes its source files in place, which must not reach a published release.
  "$publish" --source "$source_dir" --site "$site" --platform windows --copy --sign-key "$key" | sed 's/^/  /'
  echo "  signature beside the manifest (current/windows.json.sig):"
  sed 's/^/    /' "$site/current/windows.json.sig"
}

step "Publishing the signed sample release into $site"
mkdir -p "$source_dir" "$install"
cp -R demo/release/. "$source_dir/"
cp "$sample" "$source_dir/Vardel.exe"
ln -s docs/welcome.txt "$source_dir/welcome.txt"
# A data file of some size, so that release 2 can show what a patch saves.
seq 1 120000 | awk '{ printf "%08d,sensor-%04d,%d.%03d,ok\n", $1, ($1 * 7919) % 5000, ($1 * 31) % 1000, ($1 * 17) % 1000 }' \
  >"$source_dir/data/records.csv"
(cd "$source_dir" && find . -mindepth 1 \( -type f -o -type l \) | sed 's|^\./|  |' | sort)
publish_release

step "Starting the release server for $site/current on 127.0.0.1:${port}"
"$server" --root "$site/current" --port "$port" >"$work/server.log" 2>&1 &
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

step "Publishing release 2: docs/news.txt changed, and three records of data/records.csv"
printf 'Release 2: news.txt changed, so the launcher fetches it again.\n' >"$source_dir/docs/news.txt"
touch -d '+1 minute' "$source_dir/docs/news.txt"
sed -i -e '100s/,ok$/,check/' -e '60000s/,ok$/,fail/' -e '119000s/,ok$/,late/' "$source_dir/data/records.csv"
touch -d '+1 minute' "$source_dir/data/records.csv"
publish_release

step "Run 2: update of the installed application"
requests_before=$(wc -l <"$work/server.log")
run_launcher "vardel://open?demo=2"
show_run
echo "  data/records.csv came as a patch against the installed file (the line 以补丁下载 above):"
echo "    $(stat -c %s "$source_dir/data/records.csv") bytes whole; the requests of this run:"
tail -n +"$((requests_before + 1))" "$work/server.log" | sed 's/^/    /'
echo "  docs/news.txt in the installation now reads: $(cat "$install/docs/news.txt")"
echo "  serial this installation has accepted (update_serial.txt): $(cat "$install/update_serial.txt")"

step "Publishing release 3, then changing its docs/news.txt on the server (same size and time)"
printf 'Release 3: the text that was signed for this release.\n' >"$source_dir/docs/news.txt"
touch -d '+2 minutes' "$source_dir/docs/news.txt"
publish_release
served=$site/current/windows/docs/news.txt
printf 'Release 3: the text an attacker has put in its place.\n' >"$work/tampered.txt"
touch -r "$served" "$work/tampered.txt"
mv "$work/tampered.txt" "$served"
echo "  the server now holds: $(cat "$served")"

step "Run 3: the changed file is refused (three retries, then the update is given up)"
run_launcher "vardel://open?demo=3"
show_run
echo "  docs/news.txt in the installation still reads: $(cat "$install/docs/news.txt")"
if [ -e "$install/update_staging/docs/news.txt" ]; then
  echo "  ERROR: the refused file waits in update_staging" >&2
  exit 1
fi
echo "  the refused file was removed from update_staging and never installed"

step "Requests the release server answered"
sed 's/^/  /' "$work/server.log"

step "Where to look"
echo "  installation:  $install"
echo "  launcher log:  $(ls "$install"/logs/kestrun-*.log | tail -n 1)"
echo "  check report:  $install/update.log"
echo "  URL schemes:   $demo_home/data/applications/kestrun-*.desktop"
echo "  site:          $site (current -> $(readlink "$site/current"))"
echo "  signing key:   $key (a demo key; see docs/security.md)"
echo "The release server (pid $server_pid) is stopped now; the sample program ends by itself."
