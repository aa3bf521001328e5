#!/usr/bin/env bash
# Boots Debian's own kernel under QEMU (TCG, no KVM needed) on an emulated PC
# with two parallel ports, and runs the real-port program directory against
# the kernel's parport_pc and ppdev drivers: the cases are in tests/kernel/init.
# The guest loads modules with Debian's own modprobe (kmod) and adds users to
# groups with Debian's own adduser (from this machine), so that the commands
# the messages print run there as they would on a PC.
#
#   tests/kernel/run.sh [BUILD_DIR [RELEASE]]
#
# BUILD_DIR defaults to build; RELEASE is 12 (bookworm, the default: the
# machine's own apt) or 13 (trixie: a private apt state fed from the machine's
# Debian mirror). The kernel image package is fetched with apt-get download the
# first time and only the few files used are kept, in
# ${XDG_CACHE_HOME:-~/.cache}/velantro-kernel/RELEASE.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
release=${2:-12}
case $release in
12) ;;
13) codename=trixie ;;
*) echo "kernel test: release $release unknown: 12 or 13" >&2; exit 2 ;;
esac
programs=$build/real
for file in velantro velantro-sonda libportio.so verde.jpg; do
    [[ -e $programs/$file ]] || { echo "kernel test: $programs/$file is missing; build first" >&2; exit 2; }
done

as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

missing=()
for package in qemu-system-x86 busybox-static kmod adduser passwd; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cache=${XDG_CACHE_HOME:-$HOME/.cache}/velantro-kernel
# Each release's kernels in a directory of its own; anything else is from an
# older layout of this cache.
mkdir -p "$cache/$release"
find "$cache" -mindepth 1 -maxdepth 1 ! -name 12 ! -name 13 -exec rm -rf {} +
# As root, apt hands the download to user _apt, who cannot write the cache.
apt_options=()
[[ $(id -u) -ne 0 ]] || apt_options=(-o APT::Sandbox::User=root)
update=(as_root apt-get update -qq)
if [[ -n ${codename:-} ]]; then
    # Another release's package lists, kept apart from the machine's own.
    state=$cache/$release/apt
    mirror=$("$here/../debian13/mirror.sh") ||
        { echo "kernel test: no Debian mirror in /etc/apt/sources.list*" >&2; exit 1; }
    mkdir -p "$state/lists/partial" "$state/cache" "$state/sources.list.d"
    echo "deb $mirror $codename main" > "$state/sources.list"
    apt_options+=(-o "Dir::Etc::SourceList=$state/sources.list" -o "Dir::Etc::SourceParts=$state/sources.list.d"
                  -o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache"
                  -o Dir::State::Status=/dev/null)
    update=(apt-get update -qq "${apt_options[@]}")
fi

# The image package linux-image-amd64 depends on, e.g. linux-image-6.1.0-57-amd64.
image_package() {
    { apt-cache "${apt_options[@]}" depends linux-image-amd64 2>/dev/null || true; } |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }'
}
package=$(image_package)
if [[ -z $package ]]; then
    "${update[@]}"
    package=$(image_package)
fi
kernel=$cache/$release/$package
if [[ ! -e $kernel/ready ]]; then
    echo "kernel test: fetching $package into $cache/$release"
    rm -rf "$kernel" && mkdir -p "$kernel"
    download=$(mktemp -d)
    (cd "$download" && apt-get download -qq "${apt_options[@]}" "$package")
    # Debian 13 keeps the modules under usr/lib and compresses them; busybox's
    # insmod wants them plain.
    dpkg-deb --fsys-tarfile "$download"/*.deb |
        tar -x -C "$kernel" --wildcards './boot/vmlinuz-*' '*/drivers/parport/*.ko*' \
            '*/drivers/char/ppdev.ko*' '*/drivers/char/lp.ko*'
    find "$kernel" -name '*.ko.xz' -exec xz -d {} +
    dpkg-deb -f "$download"/*.deb Version > "$kernel/version"
    rm -rf "$download"
    touch "$kernel/ready"
    # Only the release's current kernel is kept.
    find "$cache/$release" -mindepth 1 -maxdepth 1 ! -name "$package" ! -name apt -exec rm -rf {} +
fi
echo "kernel test: $package $(cat "$kernel/version")"

# The initramfs: busybox, kmod's modprobe, rmmod and the modules where they
# look for them, adduser (perl, its module, usermod), the program directory at
# /velantro with every library it loads, Qt's offscreen platform and image
# plugins, a font.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -m 755 "$root" # users other than root run programs in it
mkdir -p "$root"/{bin,dev,proc,sys,tmp,run,etc,usr/lib,usr/lib64}
ln -s usr/lib "$root/lib"
ln -s usr/lib64 "$root/lib64"
cp /bin/busybox "$root/bin/"
for applet in $("$root/bin/busybox" --list); do
    [[ $applet == busybox ]] || ln -s busybox "$root/bin/$applet"
done
# kmod reads where the modules are from modules.dep, which depmod writes here as
# the kernel package's postinst would; the lists it also reads (the modules'
# build order, the built-in ones) are not in the cache and stay empty.
tree=$(find "$kernel" -type d -path '*/modules/*/kernel' -prune | head -n 1)
version=$(basename "$(dirname "$tree")")
modules=$root/usr/lib/modules/$version
mkdir -p "$modules"
cp -r "$tree" "$modules/"
touch "$modules"/modules.{order,builtin,builtin.modinfo}
"$(PATH=$PATH:/usr/sbin:/sbin command -v depmod)" -b "$root" "$version"
kmod=$(readlink -f "$(PATH=$PATH:/usr/sbin:/sbin command -v kmod)")
cp "$kmod" "$root/bin/kmod"
ln -sf kmod "$root/bin/modprobe"
ln -sf kmod "$root/bin/rmmod"
mkdir -p "$root/usr/bin" "$root/usr/sbin" "$root/usr/lib/x86_64-linux-gnu" "$root/usr/share/perl5/Debian"
cp /usr/bin/perl "$root/usr/bin/"
cp /usr/sbin/adduser /usr/sbin/usermod "$root/usr/sbin/"
cp /etc/adduser.conf "$root/etc/"
cp -r /usr/lib/x86_64-linux-gnu/perl-base "$root/usr/lib/x86_64-linux-gnu/"
cp /usr/share/perl5/Debian/AdduserCommon.pm "$root/usr/share/perl5/Debian/"
cp -r "$programs" "$root/velantro"
install -m 755 "$here/init" "$root/init"
plugins=$(qtpaths6 --query QT_INSTALL_PLUGINS)
font=$(fc-match -f '%{file}' sans)
extra=("$plugins/platforms/libqoffscreen.so" "$plugins/imageformats/libqjpeg.so"
       "$plugins/imageformats/libqgif.so" "$font")
for file in "${extra[@]}"; do
    mkdir -p "$root$(dirname "$file")" && cp "$file" "$root$file"
done
cp -rL /etc/fonts "$root/etc/"
# Each library at its real directory under the same name, as ld.so looks for it.
ldd "$programs/velantro" "$programs/velantro-sonda" "$programs/libportio.so" "$kmod" /usr/bin/perl \
    /usr/sbin/usermod "${extra[@]:0:3}" |
    awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// && $2 ~ /^\(/ { print $1 }' |
    sort -u | while read -r library; do
        target=$root$(readlink -f "$(dirname "$library")")/$(basename "$library")
        mkdir -p "$(dirname "$target")" && cp -L "$library" "$target"
    done
(cd "$root" && find . | "$root/bin/busybox" cpio -o -H newc 2>/dev/null | gzip -1) > "$work/initramfs.gz"

# Two ISA parallel ports: 0x378 (index 0) and 0x278 (index 1); the init makes
# the kernel number them parport0 at 0x278, parport1 at 0x378. The serial
# console is the test's output; the init powers off at the end.
echo "kernel test: booting ($(du -m "$work/initramfs.gz" | cut -f1) MB initramfs)"
started=$SECONDS
status=0
timeout 300 qemu-system-x86_64 -machine accel=tcg -m 1024 -nographic -no-reboot -nic none \
    -kernel "$kernel"/boot/vmlinuz-* -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1" -parallel none \
    -chardev null,id=port378 -device isa-parallel,chardev=port378,index=0 \
    -chardev null,id=port278 -device isa-parallel,chardev=port278,index=1 \
    > "$work/serial.log" 2>&1 || status=$?
tr -d '\r' < "$work/serial.log" > "$work/output"
grep -E '^(PASS|FAIL) ' "$work/output" || true
expected=$(sed -n 's/^cases: \([0-9]*\)$/\1/p' "$work/output")
passed=$(grep -c '^PASS ' "$work/output" || true)
if ((status != 0)) || [[ -z $expected ]] || ((passed != expected)); then
    echo "kernel test: FAILED (qemu status $status, $passed of ${expected:-?} cases passed); serial console:"
    cat "$work/output"
    exit 1
fi
echo "kernel test: all $expected cases passed ($((SECONDS - started)) s in QEMU)"
