#!/bin/bash
# Build a kernel + initramfs that boots a small Linux guest with a simulated
# Wi-Fi medium (mac80211_hwsim), hostapd, wpa_supplicant, iw and tmux.
#
# Everything is written outside the source tree (which may be read-only):
#   $RADIO_BUILD  vmlinuz, initramfs.cpio.gz, kernel-release, inputs.sha256
#                 and the staged rootfs
#   $RADIO_CACHE  debs/ (downloaded .debs), kernel-<release>/ (vmlinuz and
#                 the module subset), busybox/, regdb/
# Both default to ${CORVID_RADIO_CACHE:-/var/tmp/corvid-radio}/{build,cache}.
#
# Idempotent: downloads and the kernel extraction happen once; the initramfs
# is rebuilt on every run (a few seconds).  Nothing is installed into the
# host's /boot or /lib/modules.
#
# Environment:
#   KERNEL_PKG         Debian kernel package (default: what linux-image-amd64
#                      depends on, or the one already in the cache)
#   RADIO_EXTRA_BINS   extra host binaries to copy into the guest, with their
#                      shared libraries (space separated absolute paths)
#   RADIO_NO_APT=1     never call apt-get; fail if something is missing
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=${CORVID_RADIO_CACHE:-/var/tmp/corvid-radio}
CACHE=${RADIO_CACHE:-$ROOT/cache}
BUILD=${RADIO_BUILD:-$ROOT/build}
DEBS=$CACHE/debs
STAGE=$BUILD/rootfs

# Modules the guest needs; their dependencies are added from modules.dep.
ROOT_MODULES="mac80211_hwsim virtio_pci 9pnet_virtio 9p virtio-rng
  ccm gcm ctr cmac seqiv ghash-generic michael_mic"

# Host binaries copied into the guest (with every shared library ldd lists).
GUEST_BINS="/usr/sbin/hostapd /usr/sbin/hostapd_cli /usr/sbin/wpa_supplicant
  /usr/sbin/wpa_cli /usr/sbin/iw /usr/bin/tmux"
# Libraries a C++ program dropped into /host typically needs.
GUEST_LIBS="libstdc++.so.6 libgcc_s.so.1 libm.so.6"

log() { printf '[radio-build] %s\n' "$*" >&2; }
die() { printf '[radio-build] error: %s\n' "$*" >&2; exit 1; }

APT_UPDATED=0
apt_update_once() {
	[ "$APT_UPDATED" = 1 ] && return 0
	[ "${RADIO_NO_APT:-0}" = 1 ] && die "apt-get needed but RADIO_NO_APT=1"
	log "apt-get update"
	apt-get update -qq >/dev/null
	APT_UPDATED=1
}

# Host packages: qemu runs the VM; the rest provide the guest binaries, which
# are copied from the host together with the libraries ldd resolves.
ensure_host_packages() {
	local missing=() p
	command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
	command -v cpio >/dev/null || missing+=(cpio)
	[ -x /usr/sbin/hostapd ] || missing+=(hostapd)
	[ -x /usr/sbin/wpa_supplicant ] || missing+=(wpasupplicant)
	[ -x /usr/sbin/iw ] || missing+=(iw)
	[ -x /usr/bin/tmux ] || missing+=(tmux)
	[ -d /usr/lib/locale/C.utf8 ] || missing+=(libc-bin)
	[ -e /lib/terminfo/x/xterm ] || [ -e /usr/share/terminfo/x/xterm ] || missing+=(ncurses-base)
	[ ${#missing[@]} = 0 ] && return 0
	[ "$(id -u)" = 0 ] || die "missing host packages (${missing[*]}); install them as root"
	apt_update_once
	log "apt-get install ${missing[*]}"
	DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
		"${missing[@]}" >/dev/null
	for p in "${missing[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || die "could not install $p"; done
}

# Download one package's .deb into cache/debs unless a matching one is there.
fetch_deb() {
	local pkg=$1 f
	f=$(ls "$DEBS"/"${pkg}"_*.deb 2>/dev/null | head -n1 || true)
	if [ -n "$f" ]; then echo "$f"; return 0; fi
	mkdir -p "$DEBS"
	if ! (cd "$DEBS" && apt-get download -q -o APT::Sandbox::User=root "$pkg" >/dev/null 2>&1); then
		apt_update_once
		(cd "$DEBS" && apt-get download -q -o APT::Sandbox::User=root "$pkg" >/dev/null) \
			|| die "apt-get download $pkg failed"
	fi
	f=$(ls "$DEBS"/"${pkg}"_*.deb 2>/dev/null | head -n1 || true)
	[ -n "$f" ] || die "download of $pkg left no .deb"
	log "downloaded $(basename "$f")"
	echo "$f"
}

kernel_package() {
	if [ -n "${KERNEL_PKG:-}" ]; then echo "$KERNEL_PKG"; return; fi
	local f
	f=$(ls "$DEBS"/linux-image-[0-9]*-amd64_*.deb 2>/dev/null | head -n1 || true)
	if [ -n "$f" ]; then basename "$f" | cut -d_ -f1; return; fi
	local pkg
	pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ && !p {p = $2} END {print p}')
	if [ -z "$pkg" ]; then
		apt_update_once
		pkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ && !p {p = $2} END {print p}')
	fi
	[ -n "$pkg" ] || die "cannot resolve linux-image-amd64"
	echo "$pkg"
}

# Transitive closure of module dependencies, printed dependencies first.
# $1: modules.dep, rest: module names (dash or underscore).
module_closure() {
	local dep=$1; shift
	awk -v roots="$*" '
	function norm(p,   n) { n = p; sub(/.*\//, "", n); sub(/\.ko(\.[a-z]+)?$/, "", n); gsub(/-/, "_", n); return n }
	function visit(m,   i, n, parts) {
		if (m in seen) return
		seen[m] = 1
		if (!(m in path)) { missing = missing " " m; return }
		n = split(deps[m], parts, " ")
		for (i = 1; i <= n; i++) visit(norm(parts[i]))
		print path[m]
	}
	{ k = $1; sub(/:$/, "", k); m = norm(k); path[m] = k; d = $0; sub(/^[^:]*:[ ]*/, "", d); deps[m] = d }
	END {
		n = split(roots, r, " ")
		for (i = 1; i <= n; i++) { x = r[i]; gsub(/-/, "_", x); visit(x) }
		if (missing != "") { print "missing modules:" missing > "/dev/stderr"; exit 1 }
	}' "$dep"
}

# Kernel image plus the needed module subset, extracted once per release.
prepare_kernel() {
	local pkg deb kdir tmp rel stamp want
	pkg=$(kernel_package)
	deb=$(fetch_deb "$pkg")
	rel=${pkg#linux-image-}
	kdir=$CACHE/kernel-$rel
	want="$ROOT_MODULES"
	stamp=$kdir/.modules
	if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
		echo "$kdir"; return 0
	fi
	log "extracting $(basename "$deb")"
	tmp=$CACHE/tmp-kernel
	rm -rf "$tmp" "$kdir"
	mkdir -p "$tmp" "$kdir"
	dpkg-deb -x "$deb" "$tmp"
	local mdir=$tmp/lib/modules/$rel
	[ -d "$mdir" ] || die "no lib/modules/$rel in $deb"
	cp "$tmp/boot/vmlinuz-$rel" "$kdir/vmlinuz"
	cp "$tmp/boot/config-$rel" "$kdir/config"
	# Newer Debian kernels ship compressed modules; busybox depmod/modprobe
	# and finit_module are happiest with plain .ko files.
	if [ -n "$(find "$mdir" -name '*.ko.xz' -print -quit)" ]; then
		log "decompressing .ko.xz modules"
		find "$mdir" -name '*.ko.xz' -print0 | xargs -0 -r -P"$(nproc)" -n64 xz -d
	fi
	if [ -n "$(find "$mdir" -name '*.ko.zst' -print -quit)" ]; then
		command -v zstd >/dev/null || die "modules are .ko.zst but zstd is not installed"
		log "decompressing .ko.zst modules"
		find "$mdir" -name '*.ko.zst' -print0 | xargs -0 -r -n64 zstd -q -d --rm
	fi
	if [ -n "$(find "$mdir" -name '*.ko.gz' -print -quit)" ]; then
		find "$mdir" -name '*.ko.gz' -print0 | xargs -0 -r -n64 gzip -d
	fi
	log "depmod over the full module tree"
	"$BUSYBOX" depmod -b "$tmp" "$rel"
	# shellcheck disable=SC2086
	module_closure "$mdir/modules.dep" $ROOT_MODULES > "$kdir/modules.list"
	mkdir -p "$kdir/modules"
	while read -r m; do
		mkdir -p "$kdir/modules/$(dirname "$m")"
		cp "$mdir/$m" "$kdir/modules/$m"
	done < "$kdir/modules.list"
	cp "$mdir/modules.builtin" "$mdir/modules.order" "$kdir/modules/" 2>/dev/null || true
	[ -f "$mdir/modules.builtin.modinfo" ] && cp "$mdir/modules.builtin.modinfo" "$kdir/modules/"
	echo "$rel" > "$kdir/release"
	rm -rf "$tmp"
	echo "$want" > "$stamp"
	log "kernel $rel: $(wc -l < "$kdir/modules.list") modules kept"
	echo "$kdir"
}

prepare_busybox() {
	local deb dir=$CACHE/busybox
	if [ ! -x "$dir/bin/busybox" ]; then
		deb=$(fetch_deb busybox-static)
		rm -rf "$dir"; mkdir -p "$dir"
		dpkg-deb -x "$deb" "$dir.tmp" && mv "$dir.tmp/bin" "$dir/bin" && rm -rf "$dir.tmp"
	fi
	BUSYBOX=$dir/bin/busybox
	"$BUSYBOX" true || die "busybox from cache does not run"
}

prepare_regdb() {
	local deb dir=$CACHE/regdb
	if [ ! -f "$dir/regulatory.db" ]; then
		deb=$(fetch_deb wireless-regdb)
		rm -rf "$dir" "$dir.tmp"; mkdir -p "$dir"
		dpkg-deb -x "$deb" "$dir.tmp"
		# The upstream database is signed with the key built into Debian's kernel.
		cp "$dir.tmp/lib/firmware/regulatory.db-upstream" "$dir/regulatory.db"
		cp "$dir.tmp/lib/firmware/regulatory.db.p7s-upstream" "$dir/regulatory.db.p7s"
		rm -rf "$dir.tmp"
	fi
}

# Copy a file to the same absolute path under the staging root, following
# symlinks so that the copy is a regular file.
stage_file() {
	local src=$1 dst=$STAGE$1
	mkdir -p "$(dirname "$dst")"
	cp -L --preserve=mode "$src" "$dst"
}

# Copy binaries (or libraries) and everything ldd says they load.
stage_with_libs() {
	local f lib
	for f in "$@"; do
		[ -e "$f" ] || die "missing host file $f"
		stage_file "$f"
		ldd "$f" >/dev/null 2>&1 || continue	# static binary or plain data
		if ldd "$f" | grep 'not found' >/dev/null; then
			ldd "$f" >&2; die "unresolved libraries for $f"
		fi
		for lib in $(ldd "$f" | awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}'); do
			[ -e "$STAGE$lib" ] || stage_file "$lib"
		done
	done
}

# newc cpio entry for a directory or device node (no file data), so that
# /dev/console exists before init runs even when building as non-root.
cpio_node() { # name mode(octal) rdevmajor rdevminor ino
	local name=$1 mode=$2 maj=$3 min=$4 ino=$5 nsz pad
	nsz=$(( ${#name} + 1 ))
	printf '070701%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X' \
		"$ino" "$((8#$mode))" 0 0 1 0 0 0 0 "$maj" "$min" "$nsz" 0
	printf '%s\0' "$name"
	pad=$(( (4 - (110 + nsz) % 4) % 4 ))
	[ "$pad" = 0 ] || head -c "$pad" /dev/zero
}

build_initramfs() {
	local kdir=$1 rel applet
	rel=$(cat "$kdir/release")
	log "staging rootfs"
	rm -rf "$STAGE"
	mkdir -p "$STAGE"/{usr/bin,usr/sbin,usr/lib,usr/lib64,proc,sys,dev,run,tmp,host,root,etc,var/lib,var/log}
	ln -s usr/bin "$STAGE/bin"; ln -s usr/sbin "$STAGE/sbin"
	ln -s usr/lib "$STAGE/lib"; ln -s usr/lib64 "$STAGE/lib64"
	ln -s ../run "$STAGE/var/run"
	chmod 1777 "$STAGE/tmp"

	cp "$BUSYBOX" "$STAGE/usr/bin/busybox"
	stage_with_libs $GUEST_BINS ${RADIO_EXTRA_BINS:-}
	local l p
	for l in $GUEST_LIBS; do
		p=$(/sbin/ldconfig -p | awk -v l="$l" '$1 == l && /x86-64/ && !p {p = $NF} END {print p}')
		[ -n "$p" ] && stage_with_libs "$p"
	done
	# busybox applets for everything not provided by a real binary
	for applet in $("$BUSYBOX" --list-full); do
		applet=${applet#/}
		case $applet in bin/*|sbin/*) applet=usr/$applet ;; esac
		[ -e "$STAGE/$applet" ] || [ -L "$STAGE/$applet" ] || ln -s /usr/bin/busybox "$STAGE/$applet"
	done

	# locale (tmux insists on UTF-8) and terminal descriptions
	mkdir -p "$STAGE/usr/lib/locale"
	cp -a /usr/lib/locale/C.utf8 "$STAGE/usr/lib/locale/"
	if [ -d /lib/terminfo ]; then cp -aL /lib/terminfo "$STAGE/usr/lib/"; fi
	if [ -d /usr/share/terminfo ]; then mkdir -p "$STAGE/usr/share"; cp -aL /usr/share/terminfo "$STAGE/usr/share/"; fi

	# kernel modules + busybox depmod for modprobe (also used by the kernel's
	# on-demand module requests through /sbin/modprobe)
	mkdir -p "$STAGE/usr/lib/modules/$rel"
	cp -a "$kdir/modules/." "$STAGE/usr/lib/modules/$rel/"
	"$BUSYBOX" depmod -b "$STAGE" "$rel"
	mkdir -p "$STAGE/usr/lib/firmware"
	cp "$CACHE/regdb/regulatory.db" "$CACHE/regdb/regulatory.db.p7s" "$STAGE/usr/lib/firmware/"

	# configuration and scripts
	printf 'root:x:0:0:root:/root:/bin/sh\n' > "$STAGE/etc/passwd"
	printf 'root:x:0:\ntty:x:5:\n' > "$STAGE/etc/group"
	printf '127.0.0.1 localhost\n::1 localhost\n' > "$STAGE/etc/hosts"
	printf 'passwd: files\ngroup: files\nhosts: files\n' > "$STAGE/etc/nsswitch.conf"
	echo hwsim > "$STAGE/etc/hostname"
	mkdir -p "$STAGE/etc/hwsim"
	install -m 0755 "$HERE/guest/init" "$STAGE/init"
	install -m 0755 "$HERE/guest/smoke.sh" "$HERE/guest/wpa-action.sh" \
		"$HERE/guest/udhcpc.script" "$STAGE/etc/hwsim/"

	log "packing initramfs"
	mkdir -p "$BUILD"
	{
		cpio_node dev 040755 0 0 1
		cpio_node dev/console 020600 5 1 2
		cpio_node TRAILER!!! 0 0 0 0
		(cd "$STAGE" && find . -mindepth 1 ! -path ./dev | LC_ALL=C sort \
			| cpio -o -H newc -R 0:0 --quiet)
	} | gzip -6 -n > "$BUILD/initramfs.cpio.gz.tmp"
	mv "$BUILD/initramfs.cpio.gz.tmp" "$BUILD/initramfs.cpio.gz"
	cp "$kdir/vmlinuz" "$BUILD/vmlinuz"
	echo "$rel" > "$BUILD/kernel-release"
	log "initramfs $(du -h "$BUILD/initramfs.cpio.gz" | cut -f1) (unpacked $(du -sh "$STAGE" | cut -f1)), kernel $rel"
}

# Fingerprint of everything that goes into the image: run.sh rebuilds when
# it differs from the one stored beside the outputs.
inputs_hash() {
	(cd "$HERE" && cat build.sh guest/init guest/smoke.sh guest/wpa-action.sh guest/udhcpc.script
		echo "extra: ${RADIO_EXTRA_BINS:-}") | sha256sum | cut -d' ' -f1
}

main() {
	if [ "${1:-}" = --inputs-hash ]; then inputs_hash; return 0; fi
	ensure_host_packages
	prepare_busybox
	prepare_regdb
	local kdir
	kdir=$(prepare_kernel)
	build_initramfs "$kdir"
	inputs_hash > "$BUILD/inputs.sha256"
	log "done: $BUILD/vmlinuz $BUILD/initramfs.cpio.gz"
}

main "$@"
