#!/bin/sh
# Runs a private nginx that serves a Kestrun site on a loopback port, in the foreground:
# its configuration, pid file, logs and temporary files all live under PREFIX, and the
# system's nginx service is never touched. Stop it with Ctrl+C or by its process id (exec
# keeps the id of this script).
#
#   run-local.sh --site SITE --listen 127.0.0.1:PORT --prefix DIR [--workers N] [--access-log FILE] [--tls CERT KEY]
#   run-local.sh --check     says why nginx cannot run here, exit status 3, or nothing
#
# Without --workers nginx runs as one process (master_process off), so that killing that one
# process stops it. With --tls it serves HTTPS with that certificate (PEM, its chain after it)
# and key. Paths may not contain white space, quotes, "$", ";", "{", "}", "|", "&", "#" or "\".
set -eu

here=$(cd "$(dirname "$0")" && pwd)
nginx=${KESTRUN_NGINX:-/usr/sbin/nginx}
modules=${KESTRUN_NGINX_MODULES:-/usr/lib/nginx/modules}

check() {
    if [ ! -x "$nginx" ]; then
        echo "nginx is not installed ($nginx; Debian: apt-get install nginx)"
        return 3
    fi
    for module in ndk_http_module.so ngx_http_set_misc_module.so; do
        if [ ! -f "$modules/$module" ]; then
            echo "the nginx set-misc module is missing ($modules/$module; Debian: apt-get install libnginx-mod-http-set-misc)"
            return 3
        fi
    done
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
        *[\"\'\$\;\{\}\|\&\#\\]* | *" "* | *"$(printf '\t')"* | *"
"*) echo "run-local.sh: unusable characters in $1" >&2; exit 2 ;;
    esac
}

site= listen= prefix= workers= access_log=off cert= key=
while [ $# -gt 0 ]; do
    case "$1" in
        --check) check; exit $? ;;
        --site) site=${2:?}; shift 2 ;;
        --listen) listen=${2:?}; shift 2 ;;
        --prefix) prefix=${2:?}; shift 2 ;;
        --workers) workers=${2:?}; shift 2 ;;
        --access-log) access_log=${2:?}; shift 2 ;;
        --tls) cert=${2:?}; key=${3:?}; shift 3 ;;
        *) usage ;;
    esac
done
[ -n "$site" ] && [ -n "$listen" ] && [ -n "$prefix" ] || usage
plain_path "$site"
plain_path "$prefix"
[ "$access_log" = off ] || plain_path "$access_log"
case "$listen" in
    127.0.0.1:[0-9]*) ;;
    *) echo "run-local.sh: only 127.0.0.1:PORT is served by a local run: $listen" >&2; exit 2 ;;
esac
case "$workers" in
    "") master=off; workers=1 ;;
    *[!0-9]* | 0) echo "run-local.sh: bad worker count: $workers" >&2; exit 2 ;;
    *) master=on ;;
esac
reason=$(check) || { echo "run-local.sh: $reason" >&2; exit 3; }

mkdir -p "$prefix/tmp" "$prefix/conf.d"
rm -f "$prefix/conf.d/tls.conf"
if [ -n "$cert" ]; then
    plain_path "$cert"
    plain_path "$key"
    listen="$listen ssl"
    printf 'ssl_certificate %s;\nssl_certificate_key %s;\n' "$cert" "$key" > "$prefix/conf.d/tls.conf"
fi
sed -e "s|@KESTRUN_SITE@|$site|g" -e "s|@KESTRUN_LISTEN@|$listen|g" \
    "$here/kestrun.conf" > "$prefix/kestrun.conf"
sed -e "s|@KESTRUN_PREFIX@|$prefix|g" -e "s|@KESTRUN_MODULES@|$modules|g" \
    -e "s|@KESTRUN_MASTER@|$master|g" -e "s|@KESTRUN_WORKERS@|$workers|g" \
    -e "s|@KESTRUN_USER@|$(id -un) $(id -gn)|g" -e "s|@KESTRUN_ACCESS_LOG@|$access_log|g" \
    "$here/nginx-local.conf" > "$prefix/nginx.conf"

exec "$nginx" -p "$prefix/" -e "$prefix/error.log" -c "$prefix/nginx.conf"
