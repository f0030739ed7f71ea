#!/bin/sh
# The second journey: the networks people meet today, on real radios.  Runs
# inside the guest after the first (cwd /host, busybox sh); brings up the
# access points of aps.sh, restarts the station's daemon from
# networks-initial.conf (no stored networks, scans limited to those four
# channels, and what the kernel still holds from the first journey's scans
# ignored) and drives corvid in tmux at 80x34:
#
#   a WPA3-only network with a wrong passphrase, then 'c' again: the dialog
#   opens, the right one connects (key_mgmt=SAE), nothing forgotten;
#   a transition network (connected with SAE); an OWE network (no dialog);
#   a hidden network: the name dialog, a wrong passphrase, 'c' again, the
#   right one (Hidden "Yes").  The configuration the daemon saved at the end
#   must equal networks-expected.conf.
#
# Output as the first journey's, closing with "networks journey: N passed,
# N failed"; screens in /host/screens-networks/, the pane's bytes in
# /host/pane-networks.raw, the daemon's debug log (every request it got)
# in /host/logs/wpa_supplicant-2.log.

PANE=networks RAW=/tmp/pane-networks.raw SHOTS=/host/screens-networks
. /host/lib.sh
. /host/aps.sh

finish() {
	tmux kill-server 2>/dev/null
	cp "$RAW" /host/pane-networks.raw 2>/dev/null
	say ""
	say "networks journey: $passed passed, $failed failed"
	[ "$failed" = 0 ]
	exit
}
[ -x "$CORVID" ] || { fail "no corvid binary at $CORVID"; finish; }
stop_first_aps
if ! start_networks_aps; then fail "the access points did not all come up"; finish; fi
if ! restart_station /host/networks-initial.conf; then fail "the station's daemon did not restart"; finish; fi
(sleep 100000 | wpa_cli -p "$CTRL_DIR" -i "$IF" 2>&1 | while IFS= read -r l; do
	printf '%s %s\n' "$(up)" "$l"; done > /host/events-networks.log) &
cli disconnect > /dev/null

: > "$RAW"
tmux new-session -d -s "$PANE" -x 80 -y 34 \
	"$CORVID 2> /tmp/corvid-networks.err; echo corvid-exit=\$?; exec sleep 100000"
tmux pipe-pane -t "$PANE" -o "cat >> $RAW"

# Whether the daemon is connected to SSID, with KEY_MGMT ("SAE", "WPA2-PSK",
# "OWE") when given, in one reading of its status.
connected_to() { # ssid [key_mgmt]
	cli status > /tmp/sta-status
	grep -qx "ssid=$1" /tmp/sta-status && grep -qx 'wpa_state=COMPLETED' /tmp/sta-status &&
		{ [ -z "${2:-}" ] || grep -qx "key_mgmt=$2" /tmp/sta-status; }
}
# The daemon's events since mark_events, one per line.
EVENTS=/host/events-networks.log
mark_events() { EVMARK=$(wc -l < "$EVENTS"); }
events_since_mark() { tail -n +$((EVMARK + 1)) "$EVENTS"; }
# Whether the daemon, since mark_events, completed a connection to the
# access point its status names, for SSID and with KEY_MGMT.
completed_since_mark() { # ssid key_mgmt
	cli status > /tmp/sta-status
	grep -qx "ssid=$1" /tmp/sta-status && grep -qx "key_mgmt=$2" /tmp/sta-status || return 1
	bssid=$(sed -n 's/^bssid=//p' /tmp/sta-status)
	[ -n "$bssid" ] && events_since_mark | grep -qF "CTRL-EVENT-CONNECTED - Connection to $bssid completed"
}
# Connected with KEY_MGMT: one status reading says COMPLETED, or the daemon
# announced the completed connection since mark_events.  Under software
# emulation an OWE access point needs longer for its association response
# than the station's kernel waits: the access point then answers the
# resent requests too and starts its handshake again with keys the station
# never sees, and, with protected management frames, the two may stay
# apart for good.  The station did connect with the right key management;
# what the emulated access point does afterwards is not under test.
connected_with() { connected_to "$1" "$2" || completed_since_mark "$1" "$2"; }
expect_akm() { # ssid key_mgmt
	if poll 30 0 connected_with "$1" "$2"; then
		pass "the daemon is connected to $1 with key_mgmt=$2 ($(sed -n 's/^wpa_state=//p' /tmp/sta-status) now)"
	else
		fail "the daemon is not connected to $1 with key_mgmt=$2 ($(cli status | tr '\n' ' '))"
	fi
}
# Types a passphrase into the dialog that must open now, and Enter.
password() { # passphrase
	expect "dialog \"Enter the password\" opens" 10 0 on_screen "Enter the password"
	type_text "$1"
	mark_raw
	mark_events
	keys Enter
}
HIDDEN=' {20,}PSK'

if step scan "'s' lists the four access points, as the daemon's results call for"; then
	expect "Known Networks is empty" 20 1 table_is known ""
	keys s
	expect_scan_rows "Wpa3Only SAE $(bars -30) 2417 MHz
Both PSK $(bars -30) 2422 MHz
Enhanced OWE $(bars -30) 2427 MHz
PSK $(bars -30) 2432 MHz" "SAE, PSK, OWE and the hidden row listed"
	expect "rows match the daemon's scan results" 10 1 table_set scan "$(scan_expected)"
fi

if step sae-wrong "WPA3-only network, wrong passphrase"; then
	keys Tab
	expect_select Wpa3Only
	keys c
	password wrong-secret-9
	expect_shown "\"Connecting to Wpa3Only [freq=2417]\" is shown" 10 "Connecting to Wpa3Only [freq=2417]"
	expect_shown "the daemon rejects the SAE confirm" 30 "auth_transaction=2 status_code=1"
	expect_shown "the daemon gives up on it (CONN_FAILED)" 30 "reason=CONN_FAILED"
	if connected_to Wpa3Only; then fail "connected with a wrong passphrase"; else pass "not connected"; fi
fi

if step sae-again "'c' on it again: the dialog opens, the right passphrase connects"; then
	expect_select Wpa3Only
	keys c
	password "$SAE_PASS"
	expect_shown "\"Connecting to Wpa3Only [freq=2417]\" is shown" 10 "Connecting to Wpa3Only [freq=2417]"
	expect_akm Wpa3Only SAE
	expect "Known Networks: Wpa3Only SAE, current" 10 1 table_is known ">Wpa3Only SAE No 0 Current"
fi

if step transition "transition network: the passphrase, connected with SAE"; then
	expect_select Both
	keys c
	password "$BOTH_PASS"
	expect_akm Both SAE
	expect "Known Networks: Both PSK, current" 10 1 table_set known \
"Wpa3Only SAE No 0 No
>Both PSK No 0 Current"
fi

if step owe "OWE network: no dialog"; then
	expect_select Enhanced
	mark_raw
	mark_events
	keys c
	expect_akm Enhanced OWE
	if drawn_since_mark "Enter the"; then fail "a dialog opened for the OWE network"; else pass "no dialog"; fi
	expect "Known Networks: Enhanced OWE, current" 10 1 table_set known \
"Wpa3Only SAE No 0 No
Both PSK No 0 No
>Enhanced OWE No 0 Current"
fi

if step hidden-wrong "hidden network: its name, then a wrong passphrase"; then
	expect_select "$HIDDEN"
	keys c
	expect "dialog \"Enter the network name\" opens" 10 0 on_screen "Enter the network name"
	type_text Quiet
	expect "the name shows as typed" 5 0 on_screen_re '│ Quiet +│'
	keys Enter
	password wrong-pass-1
	expect_shown "\"Connecting to Quiet [freq=2432]\" is shown" 10 "Connecting to Quiet [freq=2432]"
	expect_shown "the daemon's WRONG_KEY message is shown" 30 "reason=WRONG_KEY"
	if connected_to Quiet; then fail "connected with a wrong passphrase"; else pass "not connected"; fi
fi

if step hidden-again "'c' on the hidden row again: name, the dialog opens, connected"; then
	expect_select "$HIDDEN"
	keys c
	expect "dialog \"Enter the network name\" opens" 10 0 on_screen "Enter the network name"
	type_text Quiet
	keys Enter
	password "$QUIET_PASS"
	expect_akm Quiet WPA2-PSK
	expect "Known Networks: Quiet hidden, current" 10 1 table_set known \
"Wpa3Only SAE No 0 No
Both PSK No 0 No
Enhanced OWE No 0 No
>Quiet PSK Yes 0 Current"
fi

stepname=quit
say ""
say "=== [$(up)s] quit"
keys q
expect "corvid exits with status 0" 10 0 on_screen "corvid-exit=0"
shot
if [ -s /tmp/corvid-networks.err ]; then say "corvid's standard error:"; sed 's/^/  /' /tmp/corvid-networks.err; fi

# Exactly these networks and settings, nothing else (mesh_fwding=1 is the
# daemon's own addition to every block).
if [ "$failed" = 0 ] || [ "${JOURNEY_KEEP_GOING:-0}" = 1 ]; then
	grep -v '^[[:space:]]*mesh_fwding=1$' "$CONF" > /tmp/saved-networks.conf
	if cmp -s /tmp/saved-networks.conf /host/networks-expected.conf; then
		pass "saved configuration matches what was done"
	else
		fail "saved configuration differs from the expected one"
		diff -u /host/networks-expected.conf /tmp/saved-networks.conf | sed 's/^/  /'
	fi
fi
finish
