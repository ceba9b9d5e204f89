#!/usr/bin/env bash
# Makes the Debian package from the build, checks what it holds and what it depends on, unpacks it into a
# throw-away root and starts the installed program on the signed demo catalogue served on loopback.
set -euo pipefail
build=$1
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen

(cd "$build" && cpack -G DEB -B "$work/cpack" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/cpack/*.deb)
[ "$(basename "$deb")" = "kovvazuv_0.1.0_amd64.deb" ]

# The libraries from dpkg-shlibdeps, and what the program loads at run time.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt5widgets5 libqt5network5 libqt5sql5 libssl3 libsimdjson14 libsodium23 zlib1g \
              libqt5sql5-sqlite p7zip-full qttranslations5-l10n; do
    grep -q "$needed" <<< "$depends" || { echo "Depends lacks $needed: $depends"; exit 1; }
done
contents=$(dpkg-deb -c "$deb")
for path in usr/bin/KovVazuv usr/bin/kov-catalogue usr/share/applications/kovvazuv.desktop \
            usr/share/metainfo/org.tarrowmere.kovvazuv.metainfo.xml usr/share/icons/hicolor/256x256/apps/kovvazuv.png \
            usr/share/kovvazuv/translations/qt_de.qm usr/share/doc/kovvazuv/copyright \
            usr/share/doc/kovvazuv/changelog.gz usr/share/man/man1/KovVazuv.1.gz; do
    grep -q " \./$path\$" <<< "$contents" || { echo "the package lacks /$path"; exit 1; }
done
# No demo key, ever.
! grep -q 'kovvazuv-demo' <<< "$contents"

root=$work/root
dpkg -x "$deb" "$root"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.tarrowmere.kovvazuv.metainfo.xml" > /dev/null
desktop-file-validate "$root/usr/share/applications/kovvazuv.desktop"
"$root/usr/bin/kov-catalogue" --help > /dev/null

# The demo, signed; its key where the installed program looks for keys.
"$build/bin/kov-make-demo" --out "$work/demo" --keys "$root/usr/share/kovvazuv/keys" > /dev/null 2>&1
"$root/usr/bin/kov-catalogue" verify "$work/demo/served/packages.json" \
    --key "$root/usr/share/kovvazuv/keys/kovvazuv-demo.pub" > /dev/null
"$build/bin/kov-serve" --root "$work/demo/served" --port 8787 > "$work/serve.log" 2>&1 &
server=$!
for _ in $(seq 50); do grep -q listening "$work/serve.log" && break; sleep 0.1; done
grep -q listening "$work/serve.log" || { echo "port 8787 is taken"; exit 1; }

export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
mkdir -p "$XDG_CONFIG_HOME/Tarrowmere"
printf '[General]\nInstallation=%s/\nLanguage=de\n' "$work/demo/X-Plane 12" > "$XDG_CONFIG_HOME/Tarrowmere/KOV Vazuv.ini"
status=0
timeout 8 "$root/usr/bin/KovVazuv" > "$work/out.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$work/out.log"; exit 1; }
data="$XDG_DATA_HOME/Tarrowmere/KOV Vazuv"
# It fetched the catalogue, checked it with the installed key and kept it as the newest accepted one.
test -s "$data/trust/packages.json.minisig"
! grep -q -e 'Catalogue refused' -e 'not verified' "$data/log.txt"
echo "Debian package check passed"
