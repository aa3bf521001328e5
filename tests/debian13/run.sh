#!/usr/bin/env bash
# The source and the package of a Debian 12 build on Debian 13 ("trixie"), in
# a chroot made with debootstrap from the machine's own Debian mirror:
#   1. the README's test command, run there as root with nothing in the
#      environment but PATH (env -i: no locale, no HOME, as a bare root shell
#      or a cron job may have);
#   2. the package built here, installed there with apt; lintian of Debian 13
#      finds nothing in it; velantro-simulado, started by a plain user under
#      Xvfb, shows its window and runs for a few seconds with no report.
#
#   tests/debian13/run.sh [BUILD_DIR]      (as root; BUILD_DIR defaults to build)
#
# The chroot with the tests' packages installed is kept as a tarball in
# ${XDG_CACHE_HOME:-~/.cache}/velantro-debian13, with the packages apt fetched
# beside it, and written again only when tools/preparar.sh installed something
# new: a second run downloads nothing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$source/build}" && pwd)
if [[ $(id -u) -ne 0 ]]; then
    echo "debian13: needs root (chroot and mount): sudo $0 $*" >&2
    exit 2
fi
started=$SECONDS
say() { printf 'debian13: %s (%d s)\n' "$*" $((SECONDS - started)); }

if ! command -v debootstrap >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

cache=${XDG_CACHE_HOME:-$HOME/.cache}/velantro-debian13
tarball=$cache/trixie.tar.zst
mkdir -p "$cache/archives/partial"

work=$(mktemp -d /var/tmp/velantro-debian13.XXXXXX)
root=$work/root
mounted=()
cleanup() {
    local status=$? process left
    # Whatever still runs inside the chroot (a build, an X server, a console)
    # was started here: it ends before its file systems go.
    for _ in $(seq 50); do
        left=0
        for process in /proc/[0-9]*; do
            if [[ $(readlink "$process/root" 2>/dev/null) == "$root" ]]; then
                kill -9 "${process#/proc/}" 2>/dev/null
                left=1
            fi
        done
        ((left)) || break
        sleep 0.1
    done
    local i clean=1
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" || umount -l "${mounted[i]}" || clean=0
    done
    # Never delete through a mount that is still there: /dev is the machine's.
    if ((clean)) && ! grep -q " $work/" /proc/mounts; then
        rm -rf --one-file-system "$work"
    else
        echo "debian13: $work left in place, something is still mounted there" >&2
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mount_in() { # what, where in the chroot, mount options...
    local target=$root$2
    mkdir -p "$target"
    mount "${@:3}" "$1" "$target"
    mounted+=("$target")
}
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }

# The chroot lives in memory when there is room for it: on a busy disk,
# unpacking, building in and deleting its 2 GB take minutes.
mkdir "$root"
if (($(awk '$1 == "MemAvailable:" { print int($2 / 1048576) }' /proc/meminfo) >= 8)); then
    mount_in velantro-debian13 "" -t tmpfs -o size=6g,mode=755
fi
if [[ -s $tarball ]]; then
    say "unpacking the cached chroot $tarball"
    tar -x -C "$root" -I zstd -f "$tarball"
else
    mirror=$("$here/mirror.sh") || { echo "debian13: no Debian mirror in /etc/apt/sources.list*" >&2; exit 1; }
    say "debootstrap trixie from $mirror"
    debootstrap --variant=minbase --cache-dir="$cache/archives" trixie "$root" "$mirror" \
        > "$work/debootstrap.log" 2>&1 || { tail -n 20 "$work/debootstrap.log"; exit 1; }
fi
chmod 755 "$root" # users other than root run programs in it
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount_in proc /proc -t proc
mount_in /sys /sys --bind
mount_in /dev /dev --bind
mount_in /dev/pts /dev/pts --bind
mount_in /dev/shm /dev/shm --bind
mount_in "$cache/archives" /var/cache/apt/archives --bind

# The source as git knows it in this working tree, as CI checked it out.
mkdir -p "$root/root/velantro"
(cd "$source" && git ls-files -z --cached --others --exclude-standard |
    tar -c --null -T - --ignore-failed-read -f -) | tar -x -C "$root/root/velantro"

# shellcheck disable=SC2016 # dpkg-query's own format
installed() { in_root dpkg-query -W -f '${Package}\n' | sort; }
packages_before=$(installed)
say "the README's test command, as root with env -i"
status=0
# In the background, so that a signal to this script ends it at once.
chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c \
    'cd /root/velantro && tools/preparar.sh --pruebas && ctest --test-dir build --output-on-failure' \
    > "$work/readme.log" 2>&1 &
wait $! || status=$?
grep -E '^(Instalando|[0-9]+% tests passed|The following tests FAILED|[[:space:]]+[0-9]+ - )' \
    "$work/readme.log" || true
packages_after=$(installed)
if [[ $packages_after != "$packages_before" ]] && [[ -z $(in_root dpkg --audit) ]]; then
    say "saving the chroot with its packages as $tarball"
    tar -c -C "$root" --one-file-system --exclude=./root/velantro --exclude='./tmp/*' \
        --exclude='./var/cache/apt/archives/*' -f - . | zstd -q -T0 -3 > "$tarball.new"
    mv "$tarball.new" "$tarball"
fi
if ((status != 0)); then
    echo "debian13: the README's test command failed (status $status):"
    tail -n 150 "$work/readme.log"
    exit 1
fi
say "the README's test command passed"

failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FALLO: $what"; failures=$((failures + 1)); fi
}
# The package of this build, made now if CI has not made it yet.
cmake --build "$build" --target package >/dev/null
deb=$(ls "$build"/velantro_*_amd64.deb)
cp "$deb" "$root/tmp/"
package=/tmp/$(basename "$deb")
install_package() {
    DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -q "$package" > "$work/apt.log" 2>&1
}
# The package lists in the cached chroot may be older than the mirror.
if ! install_package; then
    in_root apt-get update -qq
    install_package || { cat "$work/apt.log"; exit 1; }
fi
check "the Debian 12 package installs with apt" in_root dpkg-query -W velantro
lintian_status=0
lintian_output=$(in_root lintian --fail-on error,warning "$package" 2>&1) || lintian_status=$?
check "lintian: no error or warning (status $lintian_status) $(grep -v 'root privileges' <<< "$lintian_output")" \
    test "$lintian_status" -eq 0
quietly() { "$@" > /dev/null 2>&1; }
check "velantro-sonda --version" quietly in_root velantro-sonda --version
check "man velantro" quietly in_root man -P cat velantro

# A plain user on a display of its own, with nothing else in the environment.
in_root useradd -m alumno
chroot "$root" Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$work/display" 2> /dev/null &
server=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
display=:$(head -n 1 "$work/display")
# The session's runtime directory, where its simulated board lives: /dev/shm
# is the machine's, shared with users of the same number outside the chroot.
in_root install -d -m 700 -o alumno -g alumno /tmp/alumno-runtime
chroot "$root" setpriv --reuid=alumno --regid=alumno --init-groups \
    env -i PATH=/usr/bin:/bin HOME=/home/alumno DISPLAY="$display" \
    XDG_RUNTIME_DIR=/tmp/alumno-runtime velantro-simulado \
    > /dev/null 2> "$root/tmp/simulated-errors" &
console=$!
window=
for _ in $(seq 100); do
    window=$(in_root DISPLAY="$display" xdotool search --name '^VELANTRO$' 2>/dev/null | head -n 1) &&
        [[ -n $window ]] && break
    sleep 0.1
done
check "velantro-simulado shows its window as a plain user" test -n "$window"
sleep 3
check "velantro-simulado still runs after 3 s" kill -0 "$console"
reports=$(grep '^velantro:' "$root/tmp/simulated-errors" || true)
check "no report: $reports" test -z "$reports"
kill "$console" "$server" 2>/dev/null || true
wait "$console" "$server" 2>/dev/null || true

say "$failures fallos"
test "$failures" -eq 0
