#!/usr/bin/env bash
# Installs the build into a scratch root and builds the .deb, then checks the
# layout, the links, the desktop integration, the manual pages, that the
# installed programs find their library and pictures beside their real files
# when started through the links, that the simulated console runs for a user
# outside group lp, and that lintian finds nothing wrong with the package.
#   install_test.sh BUILD_DIR RECORDING_LIBRARY
set -euo pipefail
build=$1
recording=$2
root=$(mktemp -d)
server=
cleanup() {
    [[ -n "$server" ]] && kill "$server" 2>/dev/null
    rm -rf "$root"
}
trap cleanup EXIT
failures=0
# The console's own reports in a file of its stderr: what Qt prints itself (a
# warning about the locale, for one) is not the console's.
reports() { grep '^velantro: ' "$1" || true; }
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FALLO: $what"; failures=$((failures + 1)); fi
}

DESTDIR="$root/dest" cmake --install "$build" --prefix /usr >/dev/null
dest="$root/dest/usr"
for board in real simulado puente; do
    for file in velantro velantro-sonda libportio.so verde.jpg amarillo.jpg rojo.jpg velantro.gif; do
        check "lib/velantro/$board/$file installed" test -f "$dest/lib/velantro/$board/$file"
    done
done
# Each command, where its link points, and the install manifest knows it.
while read -r link target; do
    check "bin/$link links to $target" test "$(readlink "$dest/bin/$link")" = "$target"
    check "bin/$link in the install manifest" grep -qx "/usr/bin/$link" "$build/install_manifest.txt"
done <<'LINKS'
velantro ../lib/velantro/real/velantro
velantro-sonda ../lib/velantro/real/velantro-sonda
velantro-simulado ../lib/velantro/simulado/velantro
velantro-puente ../lib/velantro/puente/velantro
LINKS
for entry in velantro velantro-simulado velantro-puente; do
    check "desktop entry $entry is valid" \
        desktop-file-validate "$dest/share/applications/$entry.desktop"
done
for size in 16 32 48 64 128 256; do
    check "icon ${size}x${size}" test -f "$dest/share/icons/hicolor/${size}x${size}/apps/velantro.png"
done
check "scalable icon" test -f "$dest/share/icons/hicolor/scalable/apps/velantro.svg"
check "AppStream metadata is valid" \
    appstreamcli validate --no-net "$dest/share/metainfo/es.velantro.Velantro.metainfo.xml"
# The pages as lintian reads them: any warning of man or groff fails.
for page in man1/velantro.1 man1/velantro-simulado.1 man1/velantro-puente.1 man1/velantro-sonda.1 \
    man7/velantro-puente.7; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$dest/share/man/$page.gz" 2>&1 >/dev/null) || warnings="man failed: $warnings"
    check "man page $page without warnings: $warnings" test -z "$warnings"
done
# The USB bridge: the firmware avrdude loads, an Intel HEX file ending in its
# end-of-file record, and the rule for FTDI chips, as udev reads it.
hex="$dest/share/velantro/firmware/velantro-puente.hex"
check "the bridge's firmware ends as an Intel HEX file does" test "$(tail -n 1 "$hex" | tr -d '\r')" = ":00000001FF"
rule="$dest/lib/udev/rules.d/60-velantro-puente.rules"
check "the FTDI rule sets latency_timer to 1" grep -q 'DRIVERS=="ftdi_sio", ATTR{latency_timer}="1"' "$rule"
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
    check "udevadm verify accepts the FTDI rule" udevadm verify --no-style "$rule"
fi
check "modules loaded at boot" \
    test "$(grep -v '^#' "$dest/lib/modules-load.d/velantro.conf" | xargs)" = "parport_pc ppdev"

# Which board each program directory drives: the simulated probe lights the
# red lamp; the real one finds no parallel port here.
set +e
output=$(cd / && "$dest/lib/velantro/simulado/velantro-sonda" 9 2>&1)
status=$?
set -e
check "the simulated probe drives the simulated board (status $status)" \
    grep -q 'lámpara roja encendida' <<< "$output"

# The real-port library on a machine without a parallel port: one clear
# Spanish report, and the probe ends with status 1.
set +e
output=$(cd / && "$dest/bin/velantro-sonda" 8 2>&1)
status=$?
set -e
check "the probe reports the missing port (status $status)" test "$status" -eq 1
check "the report names the device and says what to do" \
    grep -q 'puerto paralelo /dev/parport.*modprobe' <<< "$output"

# The bridge's probe with no bridge plugged in: the same, for the USB bridge.
set +e
output=$(cd / && env -u PORTIO_DEVICE "$dest/lib/velantro/puente/velantro-sonda" 8 2>&1)
status=$?
set -e
check "the bridge's probe reports the missing bridge (status $status)" test "$status" -eq 1
check "the report says to plug it in: $output" grep -q 'No se encuentra el puente USB.*cable USB' <<< "$output"

# The student kit as a student uses it: the C example built with the installed
# header and pkg-config file, and the Python one, on the simulated board, each
# printing the lamp the board reports after every step of the cycle; built for
# the real port, the example says in Spanish that there is no port here.
# Installed under a prefix of its own, which the pkg-config files must follow.
# SEMAFORO_ESCALA shortens the examples' waits (3+1+3+5 s) for the test.
kit="$root/kit"
cmake --install "$build" --prefix "$kit" >/dev/null
check "the package's pkg-config files name /usr" \
    grep -qx 'prefix=/usr' "$(find "$dest" -name velantro-portio-simulado.pc)"
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$(find "$kit" -name velantro-portio-simulado.pc)")
check "pkg-config names the installed simulated directory" test \
    "$(pkg-config --variable=programdir velantro-portio-simulado)" = "$kit/lib/velantro/simulado"
examples="$kit/share/doc/velantro/ejemplos"
cycle='verde ámbar rojo ámbar ninguna ámbar ninguna ámbar ninguna ámbar ninguna ámbar ninguna ninguna'
lamps() { sed -n 's/.*la placa informa: \([^ ]*\).*/\1/p' <<< "$1" | xargs; }
for board in velantro-portio-simulado velantro-portio; do
    # shellcheck disable=SC2046 # pkg-config's flags are separate words
    check "semaforo.c builds with $board" cc -o "$root/$board" "$examples/semaforo.c" \
        $(pkg-config --cflags --libs "$board")
done
# In a sanitizer build the libraries need the sanitizer's runtime loaded first,
# which a program built without it (the example, python3) does not do.
run=(env)
if readelf -d "$kit/lib/velantro/simulado/libportio.so" | grep -q 'NEEDED.*libasan'; then
    run=(env "LD_PRELOAD=$(cc -print-file-name=libasan.so)" "ASAN_OPTIONS=detect_leaks=0")
fi
# Runs an example from /: its output in $output, its exit status in $status.
example() {
    set +e
    output=$(cd / && SEMAFORO_ESCALA=0.01 "${run[@]}" "$@" 2>&1)
    status=$?
    set -e
}
example "$root/velantro-portio-simulado"
check "semaforo.c runs the cycle on the simulated board (status $status): $(lamps "$output")" \
    test "$status-$(lamps "$output")" = "0-$cycle"
example python3 "$examples/semaforo.py"
check "semaforo.py runs the cycle on the simulated board (status $status): $(lamps "$output")" \
    test "$status-$(lamps "$output")" = "0-$cycle"
example "$root/velantro-portio"
check "semaforo.c on the real port says there is none (status $status): $output" \
    grep -q 'No se encuentra el puerto paralelo' <<< "$output"
check "semaforo.c ends with status 1 then" test "$status" -eq 1
unset PKG_CONFIG_PATH
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$dest/share/man/man3/portio.3.gz" 2>&1 >/dev/null) || warnings="man failed: $warnings"
check "man page portio(3) without warnings: $warnings" test -z "$warnings"

# With the recording library in place of the real one, the console started
# through its link writes 0 first and keeps showing rojo.jpg tick after tick:
# a missing library or picture would have ended the ticks with a report.
cp "$recording" "$dest/lib/velantro/real/libportio.so"
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
check "no report: $(reports "$root/errors")" test -z "$(reports "$root/errors")"
unset PORTIO_TRACE PORTIO_SCRIPT

# The simulated console through its command, as a user outside group lp, on
# a display of its own: its window shows, ticks run for a while with no
# report, and SALIR (clicked in the middle of the button) ends it with 0.
user=$(id -un)
if [[ $(id -u) -eq 0 ]]; then
    user=nobody
    chmod 755 "$root"
fi
if id -nG "$user" | grep -qw lp; then
    echo "skipped: the simulated console for a user outside group lp ($user is in it; root uses nobody)"
else
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3> "$root/display" 2>/dev/null &
    server=$!
    for _ in $(seq 100); do [[ -s "$root/display" ]] && break; sleep 0.1; done
    export DISPLAY=":$(head -n 1 "$root/display")"
    as_user=()
    [[ "$user" != "$(id -un)" ]] && as_user=(runuser -u "$user" --)
    (cd / && exec "${as_user[@]}" env HOME=/tmp QT_QPA_PLATFORM=xcb "$dest/bin/velantro-simulado" \
        2> "$root/simulated-errors") &
    console=$!
    window=
    for _ in $(seq 100); do
        window=$(xdotool search --name '^VELANTRO$' 2>/dev/null | head -n 1) && [[ -n "$window" ]] && break
        sleep 0.1
    done
    check "the simulated console shows its window as $user" test -n "$window"
    if [[ -n "$window" ]]; then
        class=$(xprop -id "$window" WM_CLASS | sed 's/.*, "\(.*\)"$/\1/')
        for entry in velantro velantro-simulado; do
            check "$entry.desktop names the window's class $class" \
                grep -qx "StartupWMClass=$class" "$dest/share/applications/$entry.desktop"
        done
        sleep 1.5
        # SALIR: 5760, 7440, 2655 x 615 twips, at 15 twips to the pixel.
        xdotool mousemove --window "$window" 472 516 click 1
    fi
    status=timeout
    for _ in $(seq 50); do
        if ! kill -0 "$console" 2>/dev/null; then
            status=0
            wait "$console" || status=$?
            break
        fi
        sleep 0.1
    done
    [[ "$status" == timeout ]] && kill "$console"
    check "SALIR ended the simulated console with status 0 (status $status)" test "$status" = 0
    check "no report: $(reports "$root/simulated-errors")" test -z "$(reports "$root/simulated-errors")"
    kill "$server"
    server=
fi

# The package holds the same files, and lintian finds no error or warning.
(cd "$build" && cpack -B "$root/package" >/dev/null)
deb=$(ls "$root"/package/velantro_1.0.0_*.deb)
contents=$(dpkg-deb --contents "$deb")
for file in ./usr/lib/velantro/real/velantro ./usr/lib/velantro/real/libportio.so \
    ./usr/lib/velantro/real/velantro-sonda ./usr/lib/velantro/real/rojo.jpg \
    ./usr/lib/velantro/simulado/velantro ./usr/lib/velantro/simulado/libportio.so \
    ./usr/lib/velantro/simulado/velantro-sonda ./usr/lib/velantro/simulado/rojo.jpg \
    ./usr/share/applications/velantro.desktop ./usr/share/applications/velantro-simulado.desktop \
    ./usr/share/icons/hicolor/256x256/apps/velantro.png ./usr/share/icons/hicolor/16x16/apps/velantro.png \
    ./usr/share/metainfo/es.velantro.Velantro.metainfo.xml \
    ./usr/share/man/man1/velantro.1.gz ./usr/share/man/man1/velantro-sonda.1.gz \
    ./usr/share/doc/velantro/copyright ./usr/share/doc/velantro/changelog.gz \
    ./usr/lib/modules-load.d/velantro.conf ./usr/lib/velantro/puente/libportio.so \
    ./usr/share/applications/velantro-puente.desktop ./usr/share/man/man7/velantro-puente.7.gz \
    ./usr/share/velantro/firmware/velantro-puente.hex ./usr/lib/udev/rules.d/60-velantro-puente.rules; do
    check "package has $file" grep -q " $file\$" <<< "$contents"
done
check "package links bin/velantro-simulado" \
    grep -q ' ./usr/bin/velantro-simulado -> ../lib/velantro/simulado/velantro$' <<< "$contents"
check "package version 1.0.0" test "$(dpkg-deb -f "$deb" Version)" = 1.0.0
depends=$(dpkg-deb -f "$deb" Depends)
check "package depends on Qt" grep -q libqt6widgets6 <<< "$depends"
check "package does not depend on qt6-qpa-plugins" test -z "$(grep qt6-qpa-plugins <<< "$depends")"
check "package has no maintainer scripts" \
    test -z "$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'post|pre')"
for file in ./usr/include/velantro/portio.h ./usr/share/man/man3/portio.3.gz \
    ./usr/share/doc/velantro/ejemplos/semaforo.c ./usr/share/doc/velantro/ejemplos/semaforo.py; do
    check "package has the student kit's $file" grep -q " $file\$" <<< "$contents"
done
for board in velantro-portio velantro-portio-simulado velantro-portio-puente; do
    check "package has $board.pc" grep -q "/pkgconfig/$board.pc\$" <<< "$contents"
done
check "the probe gives the package's version" \
    test "$("$dest/lib/velantro/simulado/velantro-sonda" --version)" = \
    "velantro-sonda $(dpkg-deb -f "$deb" Version)"
lintian_output=$(lintian --fail-on error,warning "$deb" 2>&1) && lintian_status=0 || lintian_status=$?
check "lintian: no error or warning (status $lintian_status) $lintian_output" test "$lintian_status" -eq 0

echo "$failures fallos"
test "$failures" -eq 0
