#!/usr/bin/env bash
# Prepares a private Firebird server beside the tests: its own root folder, security
# database and lock folder, listening on a loopback port. Never the system service.
#   prepare-server-root.sh DIR PORT PASSWORD
# Databases belong in DIR/data, which the server's user can write.
# Start it afterwards with FIREBIRD=DIR/root FIREBIRD_LOCK=DIR/lock /usr/sbin/firebird.
set -euo pipefail
dir="$1"; port="$2"; password="$3"
lib=/usr/lib/x86_64-linux-gnu/firebird/3.0
[ -d "$lib" ] || lib="$(dirname "$(readlink -f /usr/sbin/firebird)")/../lib/firebird/3.0"
mkdir -p "$dir/lock" "$dir/data"
rm -rf "$dir/root"
cp -a "$lib" "$dir/root"
for f in firebird.conf plugins.conf databases.conf fbtrace.conf intl/fbintl.conf; do
    if [ -L "$dir/root/$f" ]; then
        target="$(readlink -f "$dir/root/$f")"
        rm "$dir/root/$f"
        cp "$target" "$dir/root/$f"
    fi
done
# A normal user cannot read the system's security database: an empty one of our own serves
# as well (the user manager makes its tables when the first user is made).
system_security=/var/lib/firebird/3.0/system/security3.fdb
rm -f "$dir/security3.fdb"
if [ -r "$system_security" ]; then
    cp "$system_security" "$dir/security3.fdb"
    chmod 0660 "$dir/security3.fdb"
else
    echo "create database '$dir/security3.fdb';" \
        | FIREBIRD="$dir/root" FIREBIRD_LOCK="$dir/lock" isql-fb -q -user SYSDBA
fi
cat > "$dir/root/databases.conf" <<CONF
security.db = $dir/security3.fdb
{
    RemoteAccess = false
}
CONF
# The security database is named outright: the default would be the system server's.
cat >> "$dir/root/firebird.conf" <<CONF
RemoteServicePort = $port
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $dir/security3.fdb
CONF
echo "create or alter user SYSDBA password '$password'; commit;" \
    | FIREBIRD="$dir/root" FIREBIRD_LOCK="$dir/lock" isql-fb -q -user SYSDBA "$dir/security3.fdb"
# Started by root, the server runs as the package's user "firebird": it must reach its files.
if [ "$(id -u)" -eq 0 ] && id firebird >/dev/null 2>&1; then
    chown -R firebird:firebird "$dir"
fi
