#!/usr/bin/env bash
# Boots Debian 12's own kernel under QEMU (TCG, no KVM needed) on an emulated PC
# with two parallel ports, and runs the real-port program directory against
# the kernel's parport_pc and ppdev drivers: the cases are in tests/kernel/init.
#
#   tests/kernel/run.sh [BUILD_DIR]        (BUILD_DIR defaults to build)
#
# The kernel image package is fetched with apt-get download the first time and
# only the few files used are kept, in ${XDG_CACHE_HOME:-~/.cache}/velantro-kernel.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
programs=$build/real
for file in velantro velantro-sonda libportio.so verde.jpg; do
    [[ -e $programs/$file ]] || { echo "kernel test: $programs/$file is missing; build first" >&2; exit 2; }
done

as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

missing=()
for package in qemu-system-x86 busybox-static; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The image package linux-image-amd64 depends on, e.g. linux-image-6.1.0-57-amd64.
image_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }'
}
package=$(image_package)
if [[ -z $package ]]; then
    as_root apt-get update -qq
    package=$(image_package)
fi
cache=${XDG_CACHE_HOME:-$HOME/.cache}/velantro-kernel
kernel=$cache/$package
if [[ ! -e $kernel/ready ]]; then
    echo "kernel test: fetching $package into $cache"
    rm -rf "$kernel" && mkdir -p "$kernel"
    download=$(mktemp -d)
    # As root, apt hands the download to user _apt, who cannot write here.
    sandbox=()
    [[ $(id -u) -ne 0 ]] || sandbox=(-o APT::Sandbox::User=root)
    (cd "$download" && apt-get download -qq "${sandbox[@]}" "$package")
    dpkg-deb --fsys-tarfile "$download"/*.deb |
        tar -x -C "$kernel" --wildcards './boot/vmlinuz-*' '*/drivers/parport/*.ko' \
            '*/drivers/char/ppdev.ko' '*/drivers/char/lp.ko'
    dpkg-deb -f "$download"/*.deb Version > "$kernel/version"
    rm -rf "$download"
    touch "$kernel/ready"
    # Only the current kernel is kept.
    find "$cache" -mindepth 1 -maxdepth 1 ! -name "$package" -exec rm -rf {} +
fi
echo "kernel test: $package $(cat "$kernel/version")"

# The initramfs: busybox, the modules, the program directory at /velantro with
# every library it loads, Qt's offscreen platform and image plugins, a font.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -m 755 "$root" # users other than root run programs in it
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,modules,usr/lib,usr/lib64}
ln -s usr/lib "$root/lib"
ln -s usr/lib64 "$root/lib64"
cp /bin/busybox "$root/bin/"
for applet in $("$root/bin/busybox" --list); do
    [[ $applet == busybox ]] || ln -s busybox "$root/bin/$applet"
done
find "$kernel/lib/modules" -name '*.ko' -exec cp {} "$root/modules/" \;
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
ldd "$programs/velantro" "$programs/velantro-sonda" "$programs/libportio.so" "${extra[@]:0:3}" |
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
timeout 100 qemu-system-x86_64 -machine accel=tcg -m 1024 -nographic -no-reboot -nic none \
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
