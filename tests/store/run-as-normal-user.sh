#!/usr/bin/env bash
# Runs a program as a normal user: as "nobody" when started by root, as is otherwise.
set -euo pipefail
program="$1"
if [ "$(id -u)" -ne 0 ]; then
    exec env -u FIREBIRD_LOCK "$program"
fi
# The build folder may not be reachable for another user: run a copy.
dir="$(mktemp -d /tmp/cement-lab-nonroot-bin-XXXXXX)"
trap 'rm -rf "$dir"' EXIT
cp "$program" "$dir/check"
chmod 755 "$dir" "$dir/check"
setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -u FIREBIRD_LOCK -u XDG_RUNTIME_DIR HOME=/nonexistent "$dir/check"
