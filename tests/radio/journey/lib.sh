# What the journeys share: the screen and pane readers, the checks, the
# step bookkeeping.  Sourced (busybox sh) after the journey has set, if it
# wants others, PANE, RAW (everything the pane received) and SHOTS (the
# screen after each step).
[ -f /host/env.sh ] && . /host/env.sh
IF=${HWSIM_STA_IF:-wlan2}
CTRL_DIR=${WPA_CTRL_DIR:-/var/run/wpa_supplicant}
CONF=${HWSIM_WPA_CONF:-/etc/wpa_supplicant/wpa_supplicant.conf}
CORVID=/host/corvid
PANE=${PANE:-corvid}
SCR=/tmp/screen.txt
RAW=${RAW:-/tmp/pane.raw}
SHOTS=${SHOTS:-/host/screens}
ESC=$(printf '\033')
passed=0 failed=0 nstep=0 stepname=00-launch

export TERM=xterm-256color

up() { cut -d' ' -f1 /proc/uptime; }
say() { printf '%s\n' "$*"; }
pass() { passed=$((passed + 1)); say "PASS: $*"; }
fail() {
	failed=$((failed + 1))
	say "FAIL: [$(up)s] $*"
	say "--- screen (step $stepname):"
	tmux capture-pane -p -t "$PANE" 2>/dev/null | sed 's/^/  | /'
}
cli() { wpa_cli -p "$CTRL_DIR" -i "$IF" "$@"; }
keys() { tmux send-keys -t "$PANE" "$@"; }
type_text() { tmux send-keys -t "$PANE" -l "$1"; }

# A new step runs only while nothing has failed (unless told to go on).
step() {
	shot
	if [ "$failed" != 0 ] && [ "${JOURNEY_KEEP_GOING:-0}" != 1 ]; then
		return 1
	fi
	nstep=$((nstep + 1)); stepname=$(printf '%02d-%s' "$nstep" "$1"); shift
	say ""
	say "=== [$(up)s] $stepname: $*"
	return 0
}
# Keep the screen as it is at the end of a step, for the record.
shot() { mkdir -p "$SHOTS"; tmux capture-pane -p -t "$PANE" > "$SHOTS/$stepname.txt" 2>/dev/null; }

# A capture taken while tmux is still taking in a frame shows half of it:
# capture until two captures in a row agree (or give up after a while and
# keep the last).  $1: the file, then capture-pane's options.
settled() {
	out=$1; shift
	tmux capture-pane -p "$@" -t "$PANE" > "$out.new"
	n=0
	while [ $n -lt 50 ]; do
		mv "$out.new" "$out"
		tmux capture-pane -p "$@" -t "$PANE" > "$out.new"
		cmp -s "$out" "$out.new" && break
		n=$((n + 1))
	done
	mv "$out.new" "$out"
}
grab() { settled "$SCR"; }
# Dismisses the notifications (C-l) and waits for the frame that asks for:
# the pane has received more, and the screen holds still.
clear_notes() {
	before=$(wc -c < "$RAW"); limit=$(( $(secs) + 5 ))
	keys C-l
	while [ "$(wc -c < "$RAW")" -le "$before" ] && [ "$(secs)" -lt "$limit" ]; do
		sleep 0.05
	done
}
on_screen() { grep -qF -- "$1" "$SCR"; }
on_screen_re() { grep -qE -- "$1" "$SCR"; }

# poll SECS CLEAR command...: capture the pane until the command succeeds.
# With CLEAR=1 the notifications are dismissed (C-l) before each capture,
# since their boxes cover the right half of the upper screen.
secs() { read -r t _ < /proc/uptime; echo "${t%.*}"; }
poll() {
	deadline=$(( $(secs) + $1 )); clear=$2; shift 2
	while :; do
		[ "$clear" = 1 ] && clear_notes
		grab
		"$@" && return 0
		[ "$(secs)" -lt "$deadline" ] || return 1
		sleep 0.2
	done
}
# expect DESCRIPTION SECS CLEAR command...
expect() {
	d=$1; shift
	if poll "$@"; then pass "$d"; else fail "$d"; fi
}

# Everything the pane has received since the last mark: a notification may
# be retired by the 5-second timer before a capture sees it, but the frame
# that showed it went through the pane all the same.
mark_raw() { MARK=$(wc -c < "$RAW"); }
drawn_since_mark() { tail -c +$((MARK + 1)) "$RAW" | grep -qF -- "$1"; }
shown() { on_screen "$1" || drawn_since_mark "$1"; }
# expect_shown DESCRIPTION SECS TEXT
expect_shown() {
	if poll "$2" 0 shown "$3"; then pass "$1"; else fail "$1"; fi
}

# The rows of a table, borders and runs of blanks squeezed, empty rows left
# out: "OfficeNet PSK Yes 3 Yes".  $1: known or scan.
table() {
	awk -v want="$1" '
		/Known Networks┌/ { sec = "known"; hdr = 1; next }
		/Network Scan┌/ { sec = "scan"; hdr = 1; next }
		/^╰/ { sec = "" }
		sec != want { next }
		hdr { hdr = 0; next }
		{
			sub(/^│/, ""); sub(/│$/, "")
			gsub(/ +/, " "); sub(/^ /, ""); sub(/ $/, "")
			if ($0 != "") print
		}' "$SCR"
}
# table_is known|scan EXPECTED-LINES (in order); table_set: in any order.
table_is() { [ "$(table "$1")" = "$2" ]; }
table_set() { [ "$(table "$1" | sort)" = "$(printf '%s\n' "$2" | sort)" ]; }
# table_like known|scan REGEXES: one extended regular expression a row, in order.
table_like() {
	table "$1" > /tmp/rows.txt
	printf '%s\n' "$2" > /tmp/res.txt
	awk 'NR == FNR { re[++n] = $0; next }
		{ if (++i > n || $0 !~ ("^(" re[i] ")$")) bad = 1 }
		END { exit (bad || i != n) }' /tmp/res.txt /tmp/rows.txt
}

# The WiFi Info box as "ssid|freq|state|address".
info() {
	awk '
		/│ +SSID +: / { s = $0; sub(/.*SSID +: /, "", s); f = s
			sub(/ +Frequency.*/, "", s); sub(/.*Frequency *: /, "", f); sub(/ *│$/, "", f) }
		/│ +WPA State: / { w = $0; sub(/.*WPA State: /, "", w); a = w
			sub(/ +IP Address.*/, "", w); sub(/.*IP Address: /, "", a); sub(/ *│$/, "", a) }
		END { printf "%s|%s|%s|%s\n", s, f, w, a }' "$SCR"
}
info_is() { info | grep -qxE -- "$1"; }
not_connected() { ! info_is '.*\|.*\|COMPLETED\|.*' && ! info | grep -q '|192\.168\.'; }

# Move the selection of the active table to the row of SSID: the selected
# row is the one in reverse video.
select_row() {
	i=0
	while [ $i -lt 12 ]; do
		settled /tmp/screen-e.txt -e
		grep -F "${ESC}[7m" /tmp/screen-e.txt > /tmp/selected.txt
		grep -qE "${ESC}\[7m[ >]$1  " /tmp/selected.txt && return 0
		# One row down: until the selection has moved (a second key
		# sent too early would skip a row).
		keys j; i=$((i + 1)); limit=$(( $(secs) + 5 ))
		while [ "$(secs)" -lt "$limit" ]; do
			settled /tmp/screen-e.txt -e
			grep -F "${ESC}[7m" /tmp/screen-e.txt > /tmp/selected-now.txt
			cmp -s /tmp/selected-now.txt /tmp/selected.txt || break
			sleep 0.05
		done
	done
	return 1
}
expect_select() {
	if select_row "$1"; then pass "selected $1"; else fail "cannot select $1"; fi
}

# After a press of 's': up to two more, until the Network Scan table holds
# ROWS (a passive scan may miss a beacon; a user would press 's' again).
expect_scan_rows() { # rows what
	presses=1
	until poll 10 1 table_set scan "$1" || [ $presses = 3 ]; do
		say "(not all yet: pressing 's' again)"
		keys s; presses=$((presses + 1))
	done
	if table_set scan "$1"; then pass "$2 ($presses scan(s))"; else fail "$2"; fi
}

# The station's address as the daemon reports it.
sta_ip() { cli status | sed -n 's/^ip_address=//p'; }

# Expected signal bars for a level in dBm, as the Network Scan table draws them.
bars() {
	if [ "$1" -gt -51 ]; then echo '▂▄▆█'
	elif [ "$1" -ge -60 ]; then echo '▂▄▆▁'
	elif [ "$1" -ge -70 ]; then echo '▂▄▁▁'
	elif [ "$1" -ge -80 ]; then echo '▂▁▁▁'
	else echo '▁▁▁▁'; fi
}
# The Network Scan rows that the daemon's current scan results call for.
scan_expected() {
	cli scan_results | tail -n +2 | while IFS="$(printf '\t')" read -r _ freq level flags ssid; do
		case $flags in
		*PSK*) sec=PSK ;; *EAP*) sec=EAP ;; *SAE*) sec=SAE ;; *OWE*) sec=OWE ;;
		*'[WEP]'*) sec=WEP ;; *) sec=Open ;;
		esac
		echo "$ssid $sec $(bars "$level") $freq MHz" | sed 's/^ //'
	done
}
