#!/usr/bin/env bash
# Installs the build into a scratch root and builds the .deb, then checks the
# layout, the links, the desktop entry, and that the installed programs find
# their library and pictures beside their real files when started through the
# links.
#   install_test.sh BUILD_DIR RECORDING_LIBRARY
set -euo pipefail
build=$1
recording=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FALLO: $what"; failures=$((failures + 1)); fi
}

DESTDIR="$root/dest" cmake --install "$build" --prefix /usr >/dev/null
dest="$root/dest/usr"
for file in velantro velantro-sonda libportio.so verde.jpg amarillo.jpg rojo.jpg velantro.gif; do
    check "lib/velantro/$file installed" test -f "$dest/lib/velantro/$file"
done
for program in velantro velantro-sonda; do
    check "bin/$program links to the program directory" \
        test "$(readlink "$dest/bin/$program")" = "../lib/velantro/$program"
done
check "desktop entry is valid" desktop-file-validate "$dest/share/applications/velantro.desktop"
for size in 16 32; do
    check "icon ${size}x${size}" test -f "$dest/share/icons/hicolor/${size}x${size}/apps/velantro.png"
done

# The real-port library on a machine without a parallel port: one clear
# Spanish report, and the probe ends with status 1.
set +e
output=$(cd / && "$dest/bin/velantro-sonda" 8 2>&1)
status=$?
set -e
check "the probe reports the missing port (status $status)" test "$status" -eq 1
check "the report names the device and says what to do" \
    grep -q 'puerto paralelo /dev/parport.*modprobe' <<< "$output"

# With the recording library in place of the real one, the console started
# through its link writes 0 first and keeps showing rojo.jpg tick after tick:
# a missing library or picture would have ended the ticks with a report.
cp "$recording" "$dest/lib/velantro/libportio.so"
export PORTIO_TRACE="$root/trace" PORTIO_SCRIPT="$root/script"
echo 0x70 > "$PORTIO_SCRIPT"
(cd / && QT_QPA_PLATFORM=offscreen exec "$dest/bin/velantro" 2> "$root/errors") &
console=$!
for _ in $(seq 100); do
    [[ $(grep -c '^PortIn' "$PORTIO_TRACE" 2>/dev/null) -ge 60 ]] && break
    sleep 0.1
done
kill "$console"
wait "$console" || true
check "start-up wrote 0 through the library beside the real file" \
    test "$(head -n 2 "$PORTIO_TRACE" | tr '\n' ' ')" = "PortOut 890 7 PortOut 888 0 "
check "ticks went on reading the board" test "$(grep -c '^PortIn' "$PORTIO_TRACE")" -ge 60
check "no report: $(cat "$root/errors")" test -z "$(grep -v QStandardPaths "$root/errors")"
unset PORTIO_TRACE PORTIO_SCRIPT

# The package holds the same files.
(cd "$build" && cpack -B "$root/package" >/dev/null)
deb=$(ls "$root"/package/velantro_1.0.0_*.deb)
contents=$(dpkg-deb --contents "$deb")
for file in ./usr/lib/velantro/velantro ./usr/lib/velantro/libportio.so ./usr/lib/velantro/velantro-sonda \
    ./usr/lib/velantro/rojo.jpg ./usr/share/applications/velantro.desktop \
    ./usr/share/icons/hicolor/32x32/apps/velantro.png; do
    check "package has $file" grep -q " $file\$" <<< "$contents"
done
check "package links bin/velantro" grep -q ' ./usr/bin/velantro -> ../lib/velantro/velantro$' <<< "$contents"
check "package version 1.0.0" test "$(dpkg-deb -f "$deb" Version)" = 1.0.0
check "package depends on Qt" grep -q libqt6widgets6 <<< "$(dpkg-deb -f "$deb" Depends)"

echo "$failures fallos"
test "$failures" -eq 0
