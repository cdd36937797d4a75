#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the files a desktop needs, then starts
# the installed program as a user who cannot write its folder, ends it as a session does
# (SIGTERM), and checks that its files went to that user's XDG places and nothing to the prefix.
set -euo pipefail
build="$1"
prefix="$(mktemp -d /tmp/cement-lab-install-XXXXXX)"
trap 'rm -rf "$prefix"' EXIT
chmod 755 "$prefix"
cmake --install "$build" --prefix "$prefix/usr" >/dev/null

for file in usr/bin/cement-lab usr/bin/cement-lab-demo usr/bin/cement-lab-cli \
    usr/share/applications/cement-lab.desktop \
    usr/share/icons/hicolor/16x16/apps/cement-lab.png usr/share/icons/hicolor/48x48/apps/cement-lab.png \
    usr/share/icons/hicolor/256x256/apps/cement-lab.png usr/share/icons/hicolor/scalable/apps/cement-lab.svg \
    usr/lib/udev/rules.d/60-cement-lab.rules; do
    [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/usr/share/applications/cement-lab.desktop"
fi
qm="$(find /usr/share/qt6/translations -name 'qtbase_ru.qm' | head -1)"
[ -n "$qm" ] || { echo "Qt's Russian translation is not installed"; exit 1; }

home="$prefix/home"
runtime="$prefix/runtime"
mkdir -p "$home" "$runtime"
touch "$prefix/marker"
run=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$runtime"
    QT_QPA_PLATFORM=offscreen "$prefix/usr/bin/cement-lab")
if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$home" "$runtime"
    chmod 700 "$runtime"
    run=(setpriv --reuid=nobody --regid=nogroup --clear-groups "${run[@]}")
else
    chmod 700 "$runtime"
    chmod 555 "$prefix/usr/bin"
fi
"${run[@]}" &
pid=$!
sleep 4
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$(id -u)" -eq 0 ] || chmod 755 "$prefix/usr/bin"
[ "$status" -eq 0 ] || { echo "the program ended with status $status"; exit 1; }

settings="$home/.config/cement-lab/cement-lab.ini"
[ -f "$settings" ] || { echo "no settings file at $settings"; exit 1; }
grep -q '^BackgroundColor=16777215' "$settings" || { echo "settings file without its keys"; exit 1; }
[ -d "$home/cement-lab/projects" ] || { echo "no projects folder in the home folder"; exit 1; }
written="$(find "$prefix/usr" -newer "$prefix/marker" | head -5)"
[ -z "$written" ] || { echo "written into the installed tree: $written"; exit 1; }
echo "installed program keeps its files in the user's places"
