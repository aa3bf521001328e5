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
# The simulated board is one per session: a runtime directory of the test's
# own keeps the user's board, and other runs of this test, apart.
export XDG_RUNTIME_DIR="$root/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
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
pictures="verde.jpg amarillo.jpg rojo.jpg velantro.gif"
for board in real simulado puente; do
    for file in velantro velantro-sonda libportio.so; do
        check "lib/velantro/$board/$file installed" test -f "$dest/lib/velantro/$board/$file"
    done
    # The pictures once, in /etc/velantro, for every program directory.
    for file in $pictures; do
        check "lib/velantro/$board/$file links to /etc/velantro/$file" \
            test "$(readlink "$dest/lib/velantro/$board/$file")" = "/etc/velantro/$file"
        check "/etc/velantro/$file installed" test -f "$root/dest/etc/velantro/$file"
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
    icon=$(sed -n 's/^Icon=//p' "$dest/share/applications/$entry.desktop")
    for size in 16 32 48 64 128 256; do
        check "$entry's icon ${size}x${size}" test -f "$dest/share/icons/hicolor/${size}x${size}/apps/$icon.png"
    done
    check "$entry's scalable icon" test -f "$dest/share/icons/hicolor/scalable/apps/$icon.svg"
done
check "the simulated console has an icon of its own" \
    test "$(grep -h '^Icon=' "$dest"/share/applications/velantro{,-simulado}.desktop | sort -u | wc -l)" = 2
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
output=$(cd / && "$dest/lib/velantro/simulado/velantro-sonda" 2>&1)
check "the next program of the session sees the same board: $output" \
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
# Built as C99 with every warning an error, and once as C11.
for board in velantro-portio-simulado velantro-portio velantro-placa; do
    # shellcheck disable=SC2046 # pkg-config's flags are separate words
    check "semaforo.c builds with $board under -std=c99 -pedantic" cc -std=c99 -pedantic \
        -Wall -Wextra -Werror -o "$root/$board" "$examples/semaforo.c" $(pkg-config --cflags --libs "$board")
done
# shellcheck disable=SC2046
check "semaforo.c builds under -std=c11 -pedantic" cc -std=c11 -pedantic -Wall -Wextra -Werror \
    -o "$root/c11" "$examples/semaforo.c" $(pkg-config --cflags --libs velantro-placa)
# In a sanitizer build the libraries need the sanitizer's runtime loaded first,
# which a program built without it (the example, python3) does not do.
run=(env)
if readelf -d "$kit/lib/velantro/simulado/libportio.so" | grep -q 'NEEDED.*libasan'; then
    run+=("LD_PRELOAD=$(cc -print-file-name=libasan.so)" "ASAN_OPTIONS=detect_leaks=0")
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
export PYTHONPATH="$kit/lib/python3/dist-packages" PYTHONDONTWRITEBYTECODE=1
example python3 "$examples/semaforo.py"
check "semaforo.py runs the cycle on the simulated board (status $status): $(lamps "$output")" \
    test "$status-$(lamps "$output")" = "0-$cycle"
example "$root/velantro-portio"
check "semaforo.c on the real port says there is none (status $status): $output" \
    grep -q 'No se encuentra el puerto paralelo' <<< "$output"
check "semaforo.c ends with status 1 then" test "$status" -eq 1

# One build for both boards: the simulated one unless VELANTRO_PLACA=real,
# said once on stderr.
example "$root/velantro-placa"
check "velantro-placa runs the cycle on the simulated board (status $status): $(lamps "$output")" \
    test "$status-$(lamps "$output")" = "0-$cycle"
check "velantro-placa says once that it uses the simulated board" \
    test "$(grep -c '^portio: se usa la placa simulada' <<< "$output")" -eq 1
example env VELANTRO_PLACA=real "$root/velantro-placa"
check "velantro-placa with VELANTRO_PLACA=real says there is no port (status $status): $output" \
    test "$status-$(grep -c 'No se encuentra el puerto paralelo\|^portio: se usa el puerto paralelo' \
        <<< "$output")" = "1-2"
example env VELANTRO_PLACA=simulado "$root/velantro-placa"
check "velantro-placa names the two boards for another VELANTRO_PLACA (status $status): $output" \
    test "$status-$(grep -c '«simulada».*«real»' <<< "$output")" = "1-1"

# A SEMAFORO_ESCALA that is not a number from 0 to 100: a Spanish report and
# status 2, in both examples.
for scale in abc 1e300 inf nan -1 '' 5s; do
    for program in "$root/velantro-portio-simulado" "python3 $examples/semaforo.py"; do
        set +e
        # shellcheck disable=SC2086 # the Python program is two words
        output=$(cd / && SEMAFORO_ESCALA=$scale "${run[@]}" $program 2>&1)
        status=$?
        set -e
        check "${program##*/} refuses SEMAFORO_ESCALA='$scale' (status $status): $output" \
            test "$status-$output" = "2-semaforo: SEMAFORO_ESCALA tiene que ser un número de 0 a 100 (por ejemplo 0.5), no «$scale»"
    done
done

# The Python module on the simulated board: the lamps by name, read back
# through the board's inputs, the modes, blinking that stops when told, and
# Spanish errors for what a student may get wrong.
example python3 - <<'PYTHON'
import threading, time
from velantro import ErrorDePlaca, Semaforo
fallos = []
def espera(que, obtenido, esperado):
    if obtenido != esperado:
        fallos.append(f"{que}: {obtenido!r}, no {esperado!r}")
s = Semaforo()
s.manual()
espera("manual", (s.modo(), s.lampara()), ("manual", "ninguna"))
for vuelta in range(2):
    for nombre, informe in (("verde", "verde"), ("ambar", "ámbar"), ("rojo", "rojo")):
        lampara = getattr(s, nombre)
        lampara.encender()
        espera(f"{nombre} encendido", (s.lampara(), lampara.encendida), (informe, True))
        lampara.apagar()
        espera(f"{nombre} apagado", (s.lampara(), lampara.encendida), ("ninguna", False))
s.parar()
s.rojo.encender()
espera("rojo tras parar", (s.modo(), s.lampara()), ("manual", "rojo"))
s.ambar.parpadear(0.02, 0.02)
vistos = set()
for _ in range(40):
    vistos.add(s.lampara())
    time.sleep(0.005)
espera("rojo y ámbar parpadeando", vistos, {"rojo", "verde"})  # rojo y ámbar: 3, como la consola
s.apagar()
espera("parpadeo parado", [h.name for h in threading.enumerate() if h.name.startswith("parpadeo")], [])
espera("apagado", {s.lampara() for _ in range(20) if not time.sleep(0.01)}, {"ninguna"})
s.verde.parpadear(0.01, 0.01, veces=3, fondo=False)
espera("parpadeo de 3 veces", s.lampara(), "ninguna")
s.autonomo()
espera("autónomo", (s.modo(), s.lampara()), ("autónomo", "verde"))
s.parar()
espera("parada", (s.modo(), s.lampara()), ("parada", "ninguna"))
for llamada, error in ((lambda: Semaforo(placa="otra"), ValueError),
                       (lambda: s.ambar.parpadear(veces="dos"), TypeError),
                       (lambda: s.ambar.parpadear(encendida=-1), ValueError),
                       (lambda: Semaforo(placa="real").rojo.encender(), ErrorDePlaca)):
    try:
        llamada()
        fallos.append(f"sin {error.__name__}")
    except error as e:
        if error is ErrorDePlaca and "No se encuentra el puerto paralelo" not in str(e):
            fallos.append(f"el puerto real: {e}")
s.cerrar()
print("\n".join(fallos) or "bien")
PYTHON
check "the Python module drives and reads the simulated board (status $status): $output" \
    test "$status-$output" = "0-bien"
set +e
output=$(cd / && "${run[@]}" python3 -m velantro 2>&1)
status=$?
set -e
check "python3 -m velantro runs its demonstration (status $status): $output" \
    grep -q 'parar(): la placa informa: ninguna (modo parada)' <<< "$output"
unset PYTHONPATH
unset PKG_CONFIG_PATH
for page in portio velantro; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$dest/share/man/man3/$page.3.gz" 2>&1 >/dev/null) || warnings="man failed: $warnings"
    check "man page $page(3) without warnings: $warnings" test -z "$warnings"
done

# With the recording library in place of the real one, the console started
# through its link writes 0 first and keeps showing rojo.jpg tick after tick:
# a missing library or picture would have ended the ticks with a report.
# Started from the install under its own prefix, whose links lead to its own
# etc/velantro: the scratch root's /etc/velantro is not this machine's.
cp "$recording" "$kit/lib/velantro/real/libportio.so"
export PORTIO_TRACE="$root/trace" PORTIO_SCRIPT="$root/script"
echo 0x70 > "$PORTIO_SCRIPT"
(cd / && QT_QPA_PLATFORM=offscreen exec "$kit/bin/velantro" 2> "$root/errors") &
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

# The Python module's register traffic, through the recording library: control
# 7 right before every data write, a group right before every status read; a
# failure, also in a blink in the background, is an ErrorDePlaca with the
# library's reason.
set +e
output=$(cd / && "${run[@]}" PORTIO_TRACE="$root/python-trace" PORTIO_FAIL="$root/python-fail" \
    PYTHONPATH="$kit/lib/python3/dist-packages" PYTHONDONTWRITEBYTECODE=1 python3 - 2>&1 <<PYTHON
import time
from velantro import ErrorDePlaca, Semaforo
s = Semaforo(placa="real")
s.rojo.encender(); s.lampara(); s.modo(); s.autonomo()
s.ambar.parpadear(0.01, 0.01, veces=2, fondo=False)
open("$root/python-fail", "w").write("PortOut 888 * 3")
s.verde.parpadear(0.01, 0.01)
time.sleep(0.3)
try:
    s.lampara()
except ErrorDePlaca as error:
    print(error)
PYTHON
)
status=$?
set -e
check "a failed blink is reported with the library's reason (status $status): $output" \
    grep -qx "el parpadeo se ha parado: no se puede escribir [0-9]* en el registro 888 (el puerto \
paralelo de verdad): fallo simulado por la biblioteca de pruebas en PortOut(888, [0-9]*)" <<< "$output"
sequences=$(awk '$1 == "PortOut" && $2 == 888 && previous != "PortOut 890 7" { print "data after " previous }
    $1 == "PortIn" && $2 == 889 && previous !~ /^PortOut 890 [13]$/ { print "status after " previous }
    { previous = $1 " " $2 " " $3 }' "$root/python-trace")
check "the Python module writes whole register sequences: $sequences" \
    test -z "$sequences" -a "$(grep -c '^PortOut 888' "$root/python-trace")" -ge 9

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
    runtime="$root/runtime-$user"
    mkdir -m 700 "$runtime"
    chown "$user" "$runtime"
    (cd / && exec "${as_user[@]}" env HOME=/tmp XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb \
        "$kit/bin/velantro-simulado" \
        2> "$root/simulated-errors") &
    console=$!
    window=
    for _ in $(seq 100); do
        window=$(xdotool search --name '^VELANTRO$' 2>/dev/null | head -n 1) && [[ -n "$window" ]] && break
        sleep 0.1
    done
    check "the simulated console shows its window as $user" test -n "$window"
    if [[ -n "$window" ]]; then
        # Told apart from the real console by docks and task switchers: its
        # own window class, which its menu entry names and the other's not.
        wm_class=$(xprop -id "$window" WM_CLASS)
        instance=$(sed 's/.* = "\([^"]*\)", .*/\1/' <<< "$wm_class")
        class=$(sed 's/.*, "\(.*\)"$/\1/' <<< "$wm_class")
        check "velantro-simulado.desktop names the window's instance: $wm_class" \
            grep -qx "StartupWMClass=$instance" "$dest/share/applications/velantro-simulado.desktop"
        check "velantro.desktop names neither the instance nor the class: $wm_class" \
            test -z "$(grep -ixE "StartupWMClass=($instance|$class)" "$dest/share/applications/velantro.desktop")"
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
    ./usr/lib/velantro/real/velantro-sonda ./etc/velantro/rojo.jpg \
    ./usr/lib/velantro/simulado/velantro ./usr/lib/velantro/simulado/libportio.so \
    ./usr/lib/velantro/simulado/velantro-sonda ./usr/share/doc/velantro/aula.md \
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
check "package links the simulated rojo.jpg to /etc/velantro" \
    grep -q ' ./usr/lib/velantro/simulado/rojo.jpg -> /etc/velantro/rojo.jpg$' <<< "$contents"
check "the pictures are the package's configuration files" \
    test "$(dpkg-deb --info "$deb" conffiles | sort | xargs)" = \
    "$(printf '/etc/velantro/%s\n' $pictures | sort | xargs)"
check "package version 1.0.0" test "$(dpkg-deb -f "$deb" Version)" = 1.0.0
depends=$(dpkg-deb -f "$deb" Depends)
check "package depends on Qt" grep -q libqt6widgets6 <<< "$depends"
check "package does not depend on qt6-qpa-plugins" test -z "$(grep qt6-qpa-plugins <<< "$depends")"
check "package's only maintainer script is its postinst" \
    test "$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'post|pre' | xargs)" = ./postinst
for file in ./usr/include/velantro/portio.h ./usr/share/man/man3/portio.3.gz \
    ./usr/share/doc/velantro/ejemplos/semaforo.c ./usr/share/doc/velantro/ejemplos/semaforo.py \
    ./usr/share/man/man3/velantro.3.gz ./usr/lib/python3/dist-packages/velantro/__init__.py \
    ./usr/lib/python3/dist-packages/velantro/__main__.py \
    ./usr/lib/python3/dist-packages/velantro/_puerto.py ./usr/lib/velantro/placa/libportio.so \
    ./usr/share/doc/velantro/ficha-semaforo.pdf; do
    check "package has the student kit's $file" grep -q " $file\$" <<< "$contents"
done
for board in velantro-portio velantro-portio-simulado velantro-placa velantro-portio-puente; do
    check "package has $board.pc" grep -q "/pkgconfig/$board.pc\$" <<< "$contents"
done
check "the probe gives the package's version" \
    test "$("$dest/lib/velantro/simulado/velantro-sonda" --version)" = \
    "velantro-sonda $(dpkg-deb -f "$deb" Version)"
lintian_output=$(lintian --fail-on error,warning "$deb" 2>&1) && lintian_status=0 || lintian_status=$?
check "lintian: no error or warning (status $lintian_status) $lintian_output" test "$lintian_status" -eq 0

# The same package from a builder whose umask lets the group write (Debian's
# user-private groups): every file and directory with the same mode.
modes() { dpkg-deb --contents "$1" | awk '{print $1, $6}'; dpkg-deb --ctrl-tarfile "$1" | tar -tv | awk '{print $1, $6}'; }
(umask 0002 && cd "$build" && cpack -B "$root/package-0002" >/dev/null)
differences=$(diff <(modes "$deb") <(modes "$(ls "$root"/package-0002/velantro_*.deb)") || true)
check "the package built under umask 0002 has the same modes: $differences" test -z "$differences"

# A lab's own picture in /etc/velantro is kept when the package is installed
# again, by dpkg itself in a scratch root of its own (as root only: dpkg
# installs files as their owners).
if [[ $(id -u) -eq 0 ]]; then
    system="$root/system"
    mkdir -p "$system"/var/lib/dpkg/{info,updates,triggers}
    touch "$system"/var/lib/dpkg/{status,available}
    install_package() {
        dpkg --root="$system" --log=/dev/null --force-depends --force-script-chrootless -i "$deb" >/dev/null 2>&1
    }
    install_package
    echo 'el rojo del aula' > "$system/etc/velantro/rojo.jpg"
    install_package
    check "a replaced /etc/velantro/rojo.jpg survives a reinstall" \
        test "$(cat "$system/etc/velantro/rojo.jpg")" = 'el rojo del aula'
else
    echo "skipped: a replaced picture through a reinstall (dpkg needs root)"
fi

echo "$failures fallos"
test "$failures" -eq 0
