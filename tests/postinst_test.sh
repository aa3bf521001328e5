#!/usr/bin/env bash
# The package's postinst against stand-ins for the commands it asks: whether
# this is a chroot or a container, and modprobe. It loads the port's modules
# only on configure, on a machine of its own; it never fails nor speaks.
#   postinst_test.sh POSTINST
set -euo pipefail
postinst=$1
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
failures=0

# stub NAME EXIT_STATUS: a command that logs its arguments and says something.
# ischroot's status "?" is its own when it cannot tell: 0 with --default-true,
# else 2.
stub() {
    local status=$2
    [[ $status != "?" ]] || status='$(if [ "$1" = --default-true ]; then echo 0; else echo 2; fi)'
    cat > "$bin/$1" <<END
#!/bin/sh
echo "$1 \$*" >> "$bin/calls"
echo "$1: algo" >&2
exit $status
END
    chmod +x "$bin/$1"
}

# case: ischroot's status, systemd-detect-virt's status, modprobe's status
# (- for no modprobe), the postinst's argument, modprobe's expected arguments.
while IFS='|' read -r name chroot container modprobe_status argument expected; do
    rm -f "$bin"/*
    stub ischroot "$chroot"
    stub systemd-detect-virt "$container"
    [[ $modprobe_status == - ]] || stub modprobe "$modprobe_status"
    status=0
    output=$(PATH=$bin /bin/sh "$postinst" "$argument" 2>&1) || status=$?
    calls=$(sed -n 's/^modprobe //p' "$bin/calls" 2>/dev/null || true)
    if [[ $status -eq 0 && -z $output && $calls == "$expected" ]]; then
        echo "ok: $name"
    else
        echo "FALLO: $name: status $status, output «$output», modprobe «$calls», not «$expected»"
        failures=$((failures + 1))
    fi
done <<'CASES'
a PC: both modules loaded at once|1|1|0|configure|-a -q parport_pc ppdev
modules missing or refused: quiet, status 0|1|1|1|configure|-a -q parport_pc ppdev
a chroot: nothing|0|1|0|configure|
a chroot that cannot tell: nothing|?|1|0|configure|
a container: nothing|1|0|0|configure|
no modprobe: nothing|1|1|-|configure|
not a configure (abort-upgrade): nothing|1|1|0|abort-upgrade|
CASES
echo "$failures fallos"
test "$failures" -eq 0
