#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop needs of it:
# the program with its translation beside it, a valid .desktop file, the icon,
# and that the installed program starts.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
home=$(mktemp -d)
trap 'rm -rf "$prefix" "$home"' EXIT

cmake --install "$build" --prefix "$prefix" > /dev/null
test -x "$prefix/bin/KovVazuv"
test -x "$prefix/bin/kov-catalogue"
test -s "$prefix/share/kovvazuv/translations/qt_de.qm"
test -s "$prefix/share/doc/kovvazuv/copyright"
test -s "$prefix/share/man/man1/kov-catalogue.1.gz"
test -s "$prefix/share/icons/hicolor/256x256/apps/kovvazuv.png"
desktop-file-validate "$prefix/share/applications/kovvazuv.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.tarrowmere.kovvazuv.metainfo.xml" > /dev/null

mkdir -p "$home/config/Tarrowmere" "$home/xp"
touch "$home/xp/X-Plane-x86_64"
printf '[General]\nInstallation=%s/\nLanguage=de\n' "$home/xp" > "$home/config/Tarrowmere/KOV Vazuv.ini"
status=0
XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=offscreen \
    ASAN_OPTIONS=detect_leaks=0 timeout 5 "$prefix/bin/KovVazuv" > /dev/null 2>&1 || status=$?
# Still running after five seconds is what a started program does.
[ "$status" -eq 124 ]
grep -q 'Loading settings from' "$home/data/Tarrowmere/KOV Vazuv/log.txt"
echo "install check passed"
