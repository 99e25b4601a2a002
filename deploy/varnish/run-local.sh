#!/bin/sh
# Runs a private Varnish cache in front of a Kestrun origin on loopback, in the foreground: its
# work folder (-n), its filled-in configuration and its shared log live under WORKDIR, and the
# system's varnish service is never touched. Stop it with Ctrl+C or by its process id (exec
# keeps the id of this script).
#
#   run-local.sh --origin 127.0.0.1:PORT --listen 127.0.0.1:PORT --workdir DIR [--vcl FILE] [--memory SIZE]
#   run-local.sh --check     says why varnishd cannot run here, exit status 3, or nothing
#
# --vcl takes another template with the same placeholders (default: kestrun.vcl beside this
# script); --memory sizes the cache (default 256m). Paths may not contain white space, quotes,
# "$", ";", "|", "&", "#" or "\".
set -eu

here=$(cd "$(dirname "$0")" && pwd)
varnishd=${KESTRUN_VARNISHD:-/usr/sbin/varnishd}

check() {
    if [ ! -x "$varnishd" ]; then
        echo "varnishd is not installed ($varnishd; Debian: apt-get install varnish)"
        return 3
    fi
}

usage() {
    sed -n 's/^#   //p' "$0" >&2
    exit 2
}

plain_path() {
    case "$1" in
        /*) ;;
        *) echo "run-local.sh: not an absolute path: $1" >&2; exit 2 ;;
    esac
    case "$1" in
        *[\"\'\$\;\|\&\#\\]* | *" "* | *"$(printf '\t')"* | *"
"*) echo "run-local.sh: unusable characters in $1" >&2; exit 2 ;;
    esac
}

loopback() {
    case "$2" in
        127.0.0.1:[0-9]*) ;;
        *) echo "run-local.sh: only 127.0.0.1:PORT is used by a local run: $1 $2" >&2; exit 2 ;;
    esac
}

origin= listen= workdir= vcl=$here/kestrun.vcl memory=256m
while [ $# -gt 0 ]; do
    case "$1" in
        --check) check; exit $? ;;
        --origin) origin=${2:?}; shift 2 ;;
        --listen) listen=${2:?}; shift 2 ;;
        --workdir) workdir=${2:?}; shift 2 ;;
        --vcl) vcl=${2:?}; shift 2 ;;
        --memory) memory=${2:?}; shift 2 ;;
        *) usage ;;
    esac
done
[ -n "$origin" ] && [ -n "$listen" ] && [ -n "$workdir" ] || usage
loopback --origin "$origin"
loopback --listen "$listen"
plain_path "$workdir"
plain_path "$vcl"
case "$memory" in
    *[!0-9kmgKMG]* | "") echo "run-local.sh: bad cache size: $memory" >&2; exit 2 ;;
esac
reason=$(check) || { echo "run-local.sh: $reason" >&2; exit 3; }

mkdir -p "$workdir"
sed -e "s|@KESTRUN_ORIGIN_HOST@|${origin%:*}|g" -e "s|@KESTRUN_ORIGIN_PORT@|${origin##*:}|g" \
    "$vcl" > "$workdir/kestrun.vcl"
# -j none: no separate user for the cache process, so that any user can run it in its own
# folder; -F: in the foreground, this process's id.
exec "$varnishd" -F -j none -n "$workdir/varnish" -a "$listen" -T none -f "$workdir/kestrun.vcl" \
    -s "malloc,$memory" -p default_grace=0s
