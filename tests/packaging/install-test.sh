#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the files a desktop and a software centre
# need, then starts the installed program as a user who cannot write its folder and (when run
# as root) as root, who can: each ends it as a session does (SIGTERM), and its files must be in
# that user's XDG places and nothing in the prefix.
set -euo pipefail
build="$1"
prefix="$(mktemp -d /tmp/cement-lab-install-XXXXXX)"
trap 'rm -rf "$prefix"' EXIT
chmod 755 "$prefix"
cmake --install "$build" --prefix "$prefix/usr" >/dev/null

metainfo=usr/share/metainfo/org.example.cement_lab.CementLab.metainfo.xml
for file in usr/bin/cement-lab usr/bin/cement-lab-demo usr/bin/cement-lab-cli \
    usr/share/applications/cement-lab.desktop "$metainfo" \
    usr/share/icons/hicolor/16x16/apps/cement-lab.png usr/share/icons/hicolor/48x48/apps/cement-lab.png \
    usr/share/icons/hicolor/256x256/apps/cement-lab.png usr/share/icons/hicolor/scalable/apps/cement-lab.svg \
    usr/share/man/man1/cement-lab.1 usr/share/man/man1/cement-lab-demo.1 usr/share/man/man1/cement-lab-cli.1 \
    usr/share/man/ru/man1/cement-lab.1 usr/share/man/ru/man1/cement-lab-demo.1 \
    usr/share/man/ru/man1/cement-lab-cli.1 usr/lib/udev/rules.d/60-cement-lab.rules; do
    [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/usr/share/applications/cement-lab.desktop"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/$metainfo" >/dev/null \
        || { appstreamcli validate --no-net "$prefix/$metainfo"; exit 1; }
fi
qm="$(find /usr/share/qt6/translations -name 'qtbase_ru.qm' | head -1)"
[ -n "$qm" ] || { echo "Qt's Russian translation is not installed"; exit 1; }

# Starts the installed program as USER (empty: this user) with a home of its own, ends it,
# and checks where its files went.
check_run() {
    local user="$1" home="$2" runtime="$2-runtime"
    mkdir -p "$home" "$runtime"
    chmod 700 "$runtime"
    touch "$prefix/marker"
    local run=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/.config"
        XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen "$prefix/usr/bin/cement-lab")
    if [ -n "$user" ]; then
        chown "$user:" "$home" "$runtime"
        run=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups "${run[@]}")
    fi
    "${run[@]}" &
    local pid=$!
    sleep 4
    kill -TERM "$pid"
    local status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || { echo "the program ended with status $status"; exit 1; }

    local settings="$home/.config/cement-lab/cement-lab.ini"
    [ -f "$settings" ] || { echo "no settings file at $settings"; exit 1; }
    grep -q '^BackgroundColor=16777215' "$settings" || { echo "settings file without its keys"; exit 1; }
    [ -d "$home/cement-lab-projects" ] || { echo "no projects folder in the home folder $home"; exit 1; }
    local written
    written="$(find "$prefix/usr" -newer "$prefix/marker" | head -5)"
    [ -z "$written" ] || { echo "written into the installed tree: $written"; exit 1; }
}

if [ "$(id -u)" -eq 0 ]; then
    check_run nobody "$prefix/home-nobody"
    # root may write the prefix, and still the program keeps out of it
    check_run "" "$prefix/home-root"
else
    chmod 555 "$prefix/usr/bin"
    check_run "" "$prefix/home"
    chmod 755 "$prefix/usr/bin"
fi
echo "installed program keeps its files in the user's places"
