#!/usr/bin/env bash
# The setup programs under Wine: scripts/windows-installer.sh builds both, signed with a
# throwaway CA, from a release published here; then, in one Wine prefix:
#   web       a silent install, after which the started Kestrun.exe installs the release from
#             the release server; the Start menu shortcut, the installed-apps entry and the
#             URL-scheme registration name the installed files
#   again     a second silent install over the first leaves the application as it is
#   running   a silent uninstall while Vardel.exe runs stops it and leaves only the files the
#             program itself wrote, and no registry value of the installation
#   offline   the offline package installs the release; its first start requests no file
#
#   tests/wine_e2e/installer_rows.sh NATIVE_BUILD WINDOWS_BUILD VARDEL_EXE PORT
#
# WINDOWS_BUILD's Kestrun.exe is built with -DKESTRUN_BASE_URL=http://127.0.0.1:PORT; NATIVE_BUILD
# holds kestrun-publish and the release server.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
usage="usage: installer_rows.sh NATIVE_BUILD WINDOWS_BUILD VARDEL_EXE PORT"
native=${1:?$usage} windows=${2:?$usage} vardel=${3:?$usage} port=${4:?$usage}

source "$root/tests/support/wine_script.sh"
wine_script_begin installer
source "$root/tests/support/throwaway_pki.sh"

wait_until() {  # seconds, what is awaited, command
  local seconds=$1 what=$2; shift 2
  for _ in $(seq $((seconds * 5))); do "$@" && return 0; sleep 0.2; done
  fail "$what: not within $seconds s"
}
launcher_ended() { grep -qs 'Kestrun 本次运行结束' "$install"/logs/kestrun-*.log; }
registry() { wine reg query "$1" 2>/dev/null | tr -d '\r'; }
requests_for_files() { grep -c -E 'GET /gis/update/(file|object)' "$work/server.log" || true; }

echo "installer: signed setup programs of a published release"
make_throwaway_ca
issue_certificate signer codeSigning
issue_certificate timestamps critical,timeStamping
mkdir -p "$work/source/data"
cp "$vardel" "$work/source/Vardel.exe"
printf 'colour = blue\n' >"$work/source/data/config.txt"
printf 'Fennick\n' >"$work/source/data/名字.txt"
"$native/tools/publish/kestrun-publish" --source "$work/source" --site "$work/site" --platform windows >/dev/null
# Copies without debug information: packing them takes seconds instead of a minute.
x86_64-w64-mingw32-strip -o "$work/Kestrun.exe" "$windows/launcher/Kestrun.exe"
x86_64-w64-mingw32-strip -o "$work/KestrunRemove.exe" "$windows/uninstall/KestrunRemove.exe"
sign_with signer "$work/Kestrun.exe" >/dev/null
# shellcheck disable=SC2046 # the options hold no blanks
bash "$root/scripts/windows-installer.sh" --exe "$work/Kestrun.exe" --remover "$work/KestrunRemove.exe" \
  --out "$work/out" --site "$work/site" --sign $(signing_options signer) >/dev/null
verify_signed "$work/out/FennickSetup.exe"
verify_signed "$work/out/FennickOfflineSetup.exe"

start_release_server "$native" "$work/site/current" "$port"
start_wine
home="$WINEPREFIX/drive_c/users/${USER:-$(whoami)}"
install="$home/AppData/Local/Programs/Fennick"
shortcut="$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Fennick.lnk"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Fennick'
folder=$(winepath -w "$install")

installed_as_published() {
  cmp -s "$work/source/Vardel.exe" "$install/Vardel.exe" && cmp -s "$work/source/data/名字.txt" "$install/data/名字.txt" &&
    cmp -s "$work/source/data/config.txt" "$install/data/config.txt"
}
removed_cleanly() {  # what the program itself wrote stays; nothing of the installation does
  [[ "$(ls -A "$install")" == "$1" ]] || fail "left in the folder: $(ls -AR "$install")"
  [[ ! -e "$shortcut" ]] || fail "the Start menu shortcut is left"
  for key in "$uninstall_key" 'HKCU\Software\Classes\oloma' 'HKCU\Software\Classes\vardel'; do
    if wine reg query "$key" >/dev/null 2>&1; then fail "$key is left: $(registry "$key")"; fi
  done
}

echo "installer: web: a silent install, then Kestrun.exe installs the release"
timeout 120 wine "$work/out/FennickSetup.exe" /S || fail "the silent setup ended with $?"
wait_until 180 "the launcher's first installation" launcher_ended
installed_as_published || fail "the release was not installed"
tr -d '\000' <"$shortcut" | grep -a -q -F "$folder\\Kestrun.exe" || fail "the shortcut does not start $folder\\Kestrun.exe"
entry=$(registry "$uninstall_key")
for line in "DisplayName    REG_SZ    Fennick" "Publisher    REG_SZ    Fennick" "DisplayVersion    REG_SZ    1.0.0" \
  "DisplayIcon    REG_SZ    $folder\\Kestrun.exe,0" "UninstallString    REG_SZ    \"$folder\\Uninstall.exe\"" \
  "QuietUninstallString    REG_SZ    \"$folder\\Uninstall.exe\" /S" "InstallLocation    REG_SZ    $folder"; do
  grep -q -x -F "    $line" <<<"$entry" || fail "the installed-apps entry lacks '$line': $entry"
done
grep -q -E '^    EstimatedSize    REG_DWORD    0x[0-9a-f]*[1-9a-f]' <<<"$entry" || fail "no size in the entry: $entry"
registry 'HKCU\Software\Classes\oloma\shell\open\command' | grep -q -F "\"$folder\\Kestrun.exe\" \"%1\"" ||
  fail "the launcher's URL scheme is not registered"

echo "installer: again: a second install over the first"
timeout 120 wine "$work/out/FennickSetup.exe" /S /NORUN || fail "the second setup ended with $?"
installed_as_published || fail "the second install changed the application"
cmp -s "$work/Kestrun.exe" "$install/Kestrun.exe" || fail "Kestrun.exe is not the setup program's"
[[ -f "$install/Uninstall.exe" ]] || fail "no uninstaller"

echo "installer: running: a silent uninstall while Vardel.exe runs"
printf 'stay 120\n' >"$install/vardel-behaviour.txt"
starts=$(wc -l <"$install/vardel-starts.txt")
wine "$install/Vardel.exe" >/dev/null 2>&1 &
vardel_pid=$!
stop_at_exit "$vardel_pid"
started_again() { [[ "$(wc -l <"$install/vardel-starts.txt")" -gt "$starts" ]]; }
wait_until 60 "Vardel.exe's start" started_again
timeout 120 wine "$install/Uninstall.exe" /S || fail "the uninstaller ended with $?"
wait_until 120 "the uninstaller's end" test ! -e "$install/Uninstall.exe"
vardel_ended() { ! kill -0 "$vardel_pid" 2>/dev/null; }
wait_until 30 "Vardel.exe's end" vardel_ended
removed_cleanly "$(printf 'vardel-behaviour.txt\nvardel-starts.txt')"

echo "installer: offline: the first start requests no file"
rm -rf "$install"
before=$(requests_for_files)
timeout 120 wine "$work/out/FennickOfflineSetup.exe" /S || fail "the offline setup ended with $?"
wait_until 120 "the launcher's first start" launcher_ended
installed_as_published || fail "the offline package did not install the release"
grep -q '待更新 0 项' "$install/update.log" || fail "the first check found files to update: $(cat "$install/update.log")"
[[ "$(requests_for_files)" == "$before" ]] || fail "the first start requested files: $(cat "$work/server.log")"
# As a deployment tool runs it, to read its exit code: it then cannot remove itself.
timeout 120 wine "$install/Uninstall.exe" /S "_?=$folder" || fail "the uninstaller ended with $?"
removed_cleanly "$(printf 'Uninstall.exe\nvardel-starts.txt')"
echo "installer: passed"
