#!/bin/bash
# Boot the radio guest (kernel + initramfs from build.sh) under qemu and run a
# script in it with a simulated Wi-Fi stack up.  See README.md.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=${CORVID_RADIO_CACHE:-/var/tmp/corvid-radio}
BUILD=${RADIO_BUILD:-$ROOT/build}

usage() {
	cat <<EOF
Usage: $(basename "$0") [-s SHARE_DIR] [-t SECS] [--shell] [GUEST_SCRIPT]

Boots the guest, waits until both access points and wpa_supplicant are up,
runs GUEST_SCRIPT inside it (cwd /host) and powers off.  Without
GUEST_SCRIPT it runs SHARE_DIR/guest.sh if that exists, else the built-in
smoke test.  SHARE_DIR is mounted at /host in the guest; afterwards it holds
guest.log (script output), guest.rc (its exit status), console.log and logs/
(wpa_supplicant/hostapd/udhcpc logs, dmesg, final wpa_supplicant.conf).

  -s DIR     host directory to share (default: a new /tmp/radio-share.XXXXXX)
  -t SECS    guest-side timeout; the host kills qemu 120 s later (default 300)
  --shell    interactive root shell on the console instead of a script

Environment: RADIO_ACCEL=auto|kvm|tcg (default auto), RADIO_MEM (MiB, 384),
RADIO_SMP (1), RADIO_SHARE, RADIO_TIMEOUT, RADIO_FULL_SCAN=1 (scan all
channels, about 10 s a scan under TCG, instead of the channels in use),
CORVID_RADIO_CACHE or RADIO_BUILD/RADIO_CACHE (see build.sh).
A SHARE_DIR/wpa_supplicant.conf, if present, replaces the initial config.
Exit status: the guest script's status; 124 on timeout; 125 if the guest
ended without reporting one.
EOF
}

SHARE=${RADIO_SHARE:-}
TIMEOUT=${RADIO_TIMEOUT:-300}
MODE=script
SCRIPT=
while [ $# -gt 0 ]; do
	case $1 in
	-s) SHARE=$2; shift 2 ;;
	-t) TIMEOUT=$2; shift 2 ;;
	--shell) MODE=shell; shift ;;
	-h|--help) usage; exit 0 ;;
	-*) usage >&2; exit 2 ;;
	*) SCRIPT=$1; shift; [ $# = 0 ] || { usage >&2; exit 2; } ;;
	esac
done
case $TIMEOUT in ''|*[!0-9]*) echo "run.sh: bad timeout '$TIMEOUT'" >&2; exit 2 ;; esac

# (Re)build when the outputs are missing or were made from other inputs.
# The lock keeps two runs from building into the same folder at once.
mkdir -p "$BUILD"
(
	flock 9
	need_build=0
	for f in "$BUILD/vmlinuz" "$BUILD/initramfs.cpio.gz" "$BUILD/inputs.sha256"; do
		[ -f "$f" ] || need_build=1
	done
	if [ $need_build = 0 ] && [ "$(cat "$BUILD/inputs.sha256")" != "$("$HERE/build.sh" --inputs-hash)" ]; then
		need_build=1
	fi
	[ $need_build = 0 ] || "$HERE/build.sh"
) 9> "$BUILD/.lock"

if [ -z "$SHARE" ]; then
	SHARE=$(mktemp -d /tmp/radio-share.XXXXXX)
fi
mkdir -p "$SHARE"
SHARE=$(cd "$SHARE" && pwd)
if [ -n "$SCRIPT" ]; then
	[ -f "$SCRIPT" ] || { echo "run.sh: no such script: $SCRIPT" >&2; exit 2; }
	if [ "$(realpath "$SCRIPT")" != "$SHARE/guest.sh" ]; then
		cp "$SCRIPT" "$SHARE/guest.sh"
	fi
fi
rm -rf "$SHARE/guest.rc" "$SHARE/guest.log" "$SHARE/console.log" "$SHARE/logs"

# KVM only helps with hardware virtualisation (vmx/svm); some hosts expose
# /dev/kvm without it (e.g. a paravirtual KVM that needs a special guest
# kernel), where a stock kernel hangs, so "auto" falls back to TCG there.
ACCEL=${RADIO_ACCEL:-auto}
if [ "$ACCEL" = auto ]; then
	if [ -r /dev/kvm ] && [ -w /dev/kvm ] && grep -qwE 'vmx|svm' /proc/cpuinfo; then
		ACCEL=kvm
	else
		ACCEL=tcg
	fi
fi
SMP=${RADIO_SMP:-1}
case $ACCEL in
kvm) accel_args=(-enable-kvm -cpu host) ;;
tcg) accel_args=(-accel "tcg,thread=$([ "$SMP" -gt 1 ] && echo multi || echo single)") ;;
*) echo "run.sh: RADIO_ACCEL must be auto, kvm or tcg" >&2; exit 2 ;;
esac

append="console=ttyS0 panic=-1 quiet hwsim_timeout=$TIMEOUT hwsim_mode=$MODE hwsim_term=${TERM:-linux}"
[ "${RADIO_FULL_SCAN:-0}" = 1 ] && append="$append hwsim_scan=full"
if [ $MODE = shell ] && size=$(stty size 2>/dev/null); then
	append="$append hwsim_size=${size% *}x${size#* }"
fi
# shellcheck disable=SC2054  # the commas belong to qemu option values
qemu=(qemu-system-x86_64 "${accel_args[@]}" -m "${RADIO_MEM:-384}" -smp "$SMP"
	-nographic -nodefaults -no-user-config -no-reboot
	-kernel "$BUILD/vmlinuz" -initrd "$BUILD/initramfs.cpio.gz" -append "$append"
	-device virtio-rng-pci
	-fw_cfg name=etc/sercon-port,string=0
	-virtfs "local,path=$SHARE,mount_tag=host,security_model=none,id=host")

echo "radio: accel=$ACCEL share=$SHARE timeout=${TIMEOUT}s" >&2
# etc/sercon-port=0 keeps the firmware off the serial console (it would send
# terminal resets); qemu warns about the name, which is expected.
quiet_qemu() { grep -v 'externally provided fw_cfg item names' >&2 || true; }
start=$(date +%s.%N)
rc=0
if [ $MODE = shell ]; then
	saved_tty=$(stty -g 2>/dev/null || true)
	# --foreground: qemu must stay in the terminal's foreground process group
	# to read the keyboard (it would be stopped by SIGTTIN otherwise).
	timeout --foreground -k 10 $((TIMEOUT + 120)) "${qemu[@]}" \
		-chardev "stdio,id=con,mux=on,signal=off,logfile=$SHARE/console.log" \
		-serial chardev:con -mon chardev=con 2> >(quiet_qemu) || rc=$?
	[ -z "$saved_tty" ] || stty "$saved_tty" 2>/dev/null || true
else
	timeout -k 10 $((TIMEOUT + 120)) "${qemu[@]}" \
		-chardev "stdio,id=con,signal=on,logfile=$SHARE/console.log" \
		-serial chardev:con </dev/null 2> >(quiet_qemu) &
	qpid=$!
	trap 'kill -TERM $qpid 2>/dev/null' INT TERM HUP
	wait $qpid || rc=$?
	trap - INT TERM HUP
fi
end=$(date +%s.%N)

if [ -f "$SHARE/guest.rc" ]; then
	status=$(cat "$SHARE/guest.rc")
elif [ $rc = 124 ] || [ $rc = 137 ]; then
	status=124
else
	status=125
fi
printf 'radio: qemu exit %s, guest status %s, %.1f s wall; results in %s\n' \
	"$rc" "$status" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" "$SHARE" >&2
exit "$status"
