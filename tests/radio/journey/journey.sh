#!/bin/sh
# The user's journey through corvid on simulated radios.  Runs inside the
# guest (cwd /host, busybox sh) with the access points "HomeNet" (WPA2-PSK,
# 2437 MHz) and "CafeGuest" (open, 5180 MHz) up and the station's
# wpa_supplicant started from initial.conf.  corvid runs in tmux at 80x34
# with its default socket path; every step is checked on the captured
# screen, and at the end the configuration that the daemon saved is compared
# with expected.conf.
#
# Output: one "PASS:"/"FAIL:" line per check and a closing
# "journey: N passed, N failed"; the screen after each step in
# /host/screens/, everything the pane received in /host/pane.raw.
# JOURNEY_KEEP_GOING=1 carries on after a failed step.

. /host/lib.sh

# ---------------------------------------------------------------------------
# Start from a quiet station: no association, no auto-connect scans, and no
# scan results yet, so that the scan key has something to show.
[ -x "$CORVID" ] || { say "FAIL: no corvid binary at $CORVID"; say "journey: 0 passed, 1 failed"; exit 1; }
# The daemon's events as a second client sees them, with the guest's
# uptime, for the record (interactive wpa_cli prints "<level>TEXT" lines).
(sleep 100000 | wpa_cli -p "$CTRL_DIR" -i "$IF" 2>&1 | while IFS= read -r l; do
	printf '%s %s\n' "$(up)" "$l"; done > /host/events.log) &
cli disconnect > /dev/null
cli bss_flush 0 > /dev/null
sleep 0.5
cli bss_flush 0 > /dev/null

: > "$RAW"
tmux new-session -d -s "$PANE" -x 80 -y 34 \
	"stty -g > /tmp/stty.before; $CORVID 2> /tmp/corvid.err; echo corvid-exit=\$?; stty -g > /tmp/stty.after; exec sleep 100000"
tmux pipe-pane -t "$PANE" -o "cat >> $RAW"
mark_raw

if step start "WiFi Info and the stored networks"; then
	expect "Known Networks lists the stored networks, highest priority first" 20 1 table_is known \
"OfficeNet PSK Yes 3 Yes
CorpSecure EAP No 2 Yes
Library Free WiFi Open No 1 No"
	expect "WiFi Info shows wpa_state DISCONNECTED, no SSID, no address" 10 1 info_is 'N/A\|0 MHz\|DISCONNECTED\|N/A'
	expect "Network Scan is empty" 5 1 table_is scan ""
fi

if step scan "'s' scans, both access points appear"; then
	mark_raw
	keys s
	expect_shown "\"Starting scan...\" is shown" 10 "Starting scan..."
	expect_scan_rows "HomeNet PSK $(bars -30) 2437 MHz
CafeGuest Open $(bars -30) 5180 MHz" "both access points listed"
	expect "rows match the daemon's scan results (signal bars, frequency, security)" 10 1 \
		table_set scan "$(scan_expected)"
fi

if step cafe "connect to CafeGuest (open): no dialog"; then
	keys Tab
	expect_select CafeGuest
	mark_raw
	keys c
	expect_shown "\"Connecting to CafeGuest [freq=5180]\" is shown" 10 "Connecting to CafeGuest [freq=5180]"
	expect "WiFi Info: CafeGuest, 5180 MHz, COMPLETED" 30 1 info_is 'CafeGuest\|5180 MHz\|COMPLETED\|.*'
	expect "WiFi Info: the address leased by DHCP" 30 1 info_is 'CafeGuest\|5180 MHz\|COMPLETED\|192\.168\.60\.[0-9]+'
	if drawn_since_mark "Enter the password"; then fail "a dialog opened for the open network"; else pass "no dialog"; fi
	expect "Known Networks: CafeGuest added and current" 10 1 table_is known \
"OfficeNet PSK Yes 3 Yes
CorpSecure EAP No 2 Yes
Library Free WiFi Open No 1 No
>CafeGuest Open No 0 Current"
	ip=$(sta_ip)
	if [ -n "$ip" ] && info | grep -qF "|$ip"; then pass "address on screen is the daemon's ($ip)"; else fail "address on screen ($(info)) is not the daemon's ($ip)"; fi
fi

if step rtnl "address changes reach the screen through the routing socket"; then
	# No daemon event comes with these: only the routing socket tells.
	ip addr del "$ip/24" dev "$IF"
	expect "address removed: \"Acquiring...\"" 15 1 info_is 'CafeGuest\|5180 MHz\|COMPLETED\|Acquiring\.\.\.'
	ip addr add "$ip/24" dev "$IF"
	expect "address added back: shown again" 15 1 info_is "CafeGuest\\|5180 MHz\\|COMPLETED\\|$ip"
fi

if step wrongkey "connect to HomeNet with a wrong passphrase"; then
	expect_select HomeNet
	keys c
	expect "dialog \"Enter the password\" opens" 10 0 on_screen "Enter the password"
	type_text wrongpass1
	expect "passphrase masked: 10 asterisks" 5 0 on_screen_re '│ \*{10} +│'
	mark_raw
	keys Enter
	expect_shown "\"Connecting to HomeNet [freq=2437]\" is shown" 10 "Connecting to HomeNet [freq=2437]"
	expect_shown "the daemon's WRONG_KEY message is shown" 25 "reason=WRONG_KEY"
	if cli status | grep -q '^wpa_state=COMPLETED'; then fail "the daemon connected with a wrong passphrase"; else pass "the daemon is not connected"; fi
	expect "WiFi Info: not connected, no address" 10 1 not_connected
	# While the daemon holds HomeNet back after the failure its flags say
	# TEMP-DISABLED, a pause, not a disabled network.
	expect "Known Networks: HomeNet stored, CafeGuest no longer auto-connects" 10 1 table_like known \
'OfficeNet PSK Yes 3 Yes
CorpSecure EAP No 2 Yes
Library Free WiFi Open No 1 No
(CafeGuest Open No 0 No|HomeNet PSK No 0 (Yes|No))
(CafeGuest Open No 0 No|HomeNet PSK No 0 (Yes|No))'
fi

if step forget-wrong "forget the HomeNet entry with the wrong passphrase"; then
	keys Tab
	expect_select HomeNet
	keys f
	expect "Known Networks: HomeNet gone" 10 1 table_is known \
"OfficeNet PSK Yes 3 Yes
CorpSecure EAP No 2 Yes
Library Free WiFi Open No 1 No
CafeGuest Open No 0 No"
	if cli list_networks | grep -q 'HomeNet'; then fail "the daemon still has HomeNet"; else pass "the daemon forgot HomeNet"; fi
fi

if step homenet "connect to HomeNet with password123"; then
	keys Tab
	expect_select HomeNet
	keys c
	expect "dialog \"Enter the password\" opens" 10 0 on_screen "Enter the password"
	type_text password123
	expect "passphrase masked: 11 asterisks" 5 0 on_screen_re '│ \*{11} +│'
	mark_raw
	keys Enter
	expect_shown "\"Connecting to HomeNet [freq=2437]\" is shown" 10 "Connecting to HomeNet [freq=2437]"
	expect "WiFi Info: HomeNet, 2437 MHz, COMPLETED" 40 1 info_is 'HomeNet\|2437 MHz\|COMPLETED\|.*'
	expect "WiFi Info: the address leased by DHCP" 30 1 info_is 'HomeNet\|2437 MHz\|COMPLETED\|192\.168\.50\.[0-9]+'
	expect "Known Networks: HomeNet current" 10 1 table_set known \
"OfficeNet PSK Yes 3 Yes
CorpSecure EAP No 2 Yes
Library Free WiFi Open No 1 No
CafeGuest Open No 0 No
>HomeNet PSK No 0 Current"
fi

if step disconnect "'d' disconnects"; then
	keys d
	expect "WiFi Info: DISCONNECTED, no SSID, no address" 20 1 info_is 'N/A\|0 MHz\|DISCONNECTED\|N/A'
	expect "Known Networks: HomeNet no longer current" 10 1 table_like known \
'OfficeNet PSK Yes 3 Yes
CorpSecure EAP No 2 Yes
Library Free WiFi Open No 1 No
(CafeGuest Open No 0 No|HomeNet PSK No 0 Yes)
(CafeGuest Open No 0 No|HomeNet PSK No 0 Yes)'
fi

if step reconnect "'r' reconnects"; then
	keys r
	expect "WiFi Info: HomeNet again, with its address" 40 1 info_is 'HomeNet\|2437 MHz\|COMPLETED\|192\.168\.50\.[0-9]+'
	expect "Known Networks: HomeNet current again" 10 1 table_set known \
"OfficeNet PSK Yes 3 Yes
CorpSecure EAP No 2 Yes
Library Free WiFi Open No 1 No
CafeGuest Open No 0 No
>HomeNet PSK No 0 Current"
fi

if step priority "C-a raises HomeNet's priority"; then
	keys Tab
	expect_select HomeNet
	keys C-a
	expect "Known Networks: HomeNet at priority 1, resorted" 10 1 table_like known \
'OfficeNet PSK Yes 3 Yes
CorpSecure EAP No 2 Yes
(Library Free WiFi Open No 1 No|>HomeNet PSK No 1 Current)
(Library Free WiFi Open No 1 No|>HomeNet PSK No 1 Current)
CafeGuest Open No 0 No'
fi

if step autoconnect "'a' turns auto-connect off for OfficeNet"; then
	expect_select OfficeNet
	keys a
	expect "Known Networks: OfficeNet no longer auto-connects" 10 1 table_like known \
'OfficeNet PSK Yes 3 No
CorpSecure EAP No 2 Yes
(Library Free WiFi Open No 1 No|>HomeNet PSK No 1 Current)
(Library Free WiFi Open No 1 No|>HomeNet PSK No 1 Current)
CafeGuest Open No 0 No'
fi

if step forget "'f' forgets CafeGuest"; then
	expect_select CafeGuest
	keys f
	expect "Known Networks: CafeGuest gone" 10 1 table_like known \
'OfficeNet PSK Yes 3 No
CorpSecure EAP No 2 Yes
(Library Free WiFi Open No 1 No|>HomeNet PSK No 1 Current)
(Library Free WiFi Open No 1 No|>HomeNet PSK No 1 Current)'
	expect "still connected to HomeNet" 10 1 info_is 'HomeNet\|2437 MHz\|COMPLETED\|192\.168\.50\.[0-9]+'
fi

# Quitting restores the terminal whatever happened before.
stepname=quit
say ""
say "=== [$(up)s] quit: 'q' restores the terminal"
mark_raw
keys q
expect "corvid exits with status 0" 10 0 on_screen "corvid-exit=0"
# The pane's copy of what it received is written a moment later.
poll 5 0 drawn_since_mark "corvid-exit=" || true
# The last bytes before the shell's line: leave the alternate screen, show the cursor.
if tail -c +$((MARK + 1)) "$RAW" | grep -qF "${ESC}[?1049l${ESC}[?25hcorvid-exit="; then
	pass "output ends with \"\\e[?1049l\\e[?25h\""
else
	fail "output does not end with \"\\e[?1049l\\e[?25h\""
fi
modes=$(tmux display-message -p -t "$PANE" '#{alternate_on} #{cursor_flag}')
if [ "$modes" = "0 1" ]; then pass "normal screen, cursor visible"; else fail "alternate screen/cursor flags: $modes"; fi
if [ -s /tmp/stty.before ] && cmp -s /tmp/stty.before /tmp/stty.after; then
	pass "terminal modes as before"
else
	fail "terminal modes differ: $(cat /tmp/stty.before) / $(cat /tmp/stty.after)"
fi
shot
if [ -s /tmp/corvid.err ]; then say "corvid's standard error:"; sed 's/^/  /' /tmp/corvid.err; fi
cp /tmp/corvid.err /host/corvid.err 2>/dev/null

# The saved configuration: what the steps above did, nothing else.  The
# daemon writes mesh_fwding=1 into every block; that is its default and
# is left out of the comparison.
if [ "$failed" = 0 ] || [ "${JOURNEY_KEEP_GOING:-0}" = 1 ]; then
	grep -v '^[[:space:]]*mesh_fwding=1$' "$CONF" > /tmp/saved.conf
	if cmp -s /tmp/saved.conf /host/expected.conf; then
		pass "saved configuration matches what was done"
	else
		fail "saved configuration differs from the expected one"
		diff -u /host/expected.conf /tmp/saved.conf | sed 's/^/  /'
	fi
fi

tmux kill-server 2>/dev/null
cp "$RAW" /host/pane.raw 2>/dev/null
say ""
say "journey: $passed passed, $failed failed"
[ "$failed" = 0 ]
