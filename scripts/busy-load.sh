#!/usr/bin/env bash
# One processor's worth of load, for rehearsing the tests on a busy machine: hashing keeps the
# processor busy, and a file written and synced now and then keeps the disk busy, until the
# process is stopped (by its process id, from scripts/test.sh).
set -u
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
trap 'exit 0' TERM INT
while :; do
  head -c 512M /dev/zero | sha256sum >/dev/null
  head -c 16M /dev/urandom >"$scratch/written" && sync "$scratch/written"
done
