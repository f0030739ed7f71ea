# Access points of the second journey, each on a radio of its own and on a
# channel outside the first journey's freq_list, so that the first never
# hears them.  Sourced by the guest scripts: start_networks_aps brings them
# up, or says which did not come up and returns 1.
#
#   wlan3  "Wpa3Only"  WPA3 Personal (SAE only, protection required)  2417 MHz
#   wlan4  "Both"      WPA2/WPA3 transition (PSK and SAE)             2422 MHz
#   wlan5  "Enhanced"  OWE                                            2427 MHz
#   wlan6  "Quiet"     WPA2-PSK, hidden (empty SSID in its beacons)   2432 MHz
NETWORKS_FREQS="2417 2422 2427 2432"
SAE_PASS=wpa3-secret-1
BOTH_PASS=both-ways-22
QUIET_PASS=quiet-please

networks_ap_conf() { # iface ssid channel [lines]
	printf 'interface=%s\ndriver=nl80211\nctrl_interface=/var/run/hostapd\nssid=%s\ncountry_code=US\nhw_mode=g\nchannel=%s\nbeacon_int=25\n' \
		"$1" "$2" "$3"
	shift 3
	for l in "$@"; do echo "$l"; done
}
networks_ap_start() { # iface ssid channel [lines]
	conf=/etc/hostapd/$1.conf
	networks_ap_conf "$@" > "$conf"
	hostapd -B -t -P "/run/hostapd-$1.pid" -f "/tmp/hostapd-$1.log" "$conf" || return 1
	i=0
	while [ $i -lt 50 ]; do
		hostapd_cli -p /var/run/hostapd -i "$1" status 2>/dev/null | grep -q '^state=ENABLED' && return 0
		sleep 0.1; i=$((i + 1))
	done
	return 1
}
start_networks_aps() {
	ok=0
	networks_ap_start wlan3 Wpa3Only 2 wpa=2 wpa_key_mgmt=SAE rsn_pairwise=CCMP \
		ieee80211w=2 "sae_password=$SAE_PASS" || { echo "AP Wpa3Only failed"; ok=1; }
	networks_ap_start wlan4 Both 3 wpa=2 "wpa_key_mgmt=WPA-PSK SAE" rsn_pairwise=CCMP \
		ieee80211w=1 "wpa_passphrase=$BOTH_PASS" || { echo "AP Both failed"; ok=1; }
	networks_ap_start wlan5 Enhanced 4 wpa=2 wpa_key_mgmt=OWE rsn_pairwise=CCMP \
		ieee80211w=2 || { echo "AP Enhanced failed"; ok=1; }
	networks_ap_start wlan6 Quiet 5 wpa=2 wpa_key_mgmt=WPA-PSK rsn_pairwise=CCMP \
		ignore_broadcast_ssid=1 "wpa_passphrase=$QUIET_PASS" || { echo "AP Quiet failed"; ok=1; }
	return $ok
}

# The first journey's access points go first.  The station's kernel may
# still hear one of them (its last channel) after the daemon restarts, and
# an entry heard then counts as new to a scan on any channels: the daemon
# lists it and keeps it for minutes, as no scan of its channel drops it.
stop_first_aps() {
	for ap in wlan0 wlan1; do
		pid=$(cat "/run/hostapd-$ap.pid" 2>/dev/null) || continue
		kill "$pid" 2>/dev/null
		i=0
		while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
	done
}

# Restarts the station's daemon from another configuration (and the action
# script that leases addresses), as a fresh start of the service would.
restart_station() { # conf-file
	kill "$(cat /run/wpa_cli-action.pid)" 2>/dev/null
	kill "$(cat /run/wpa_supplicant.pid)" 2>/dev/null
	i=0
	while [ -S /var/run/wpa_supplicant/wlan2 ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
	cp "$1" /etc/wpa_supplicant/wpa_supplicant.conf
	# -d: the debug log names every request the daemon receives.
	wpa_supplicant -B -t -d -i wlan2 -D nl80211 -c /etc/wpa_supplicant/wpa_supplicant.conf \
		-P /run/wpa_supplicant.pid -f /tmp/wpa_supplicant-2.log || return 1
	i=0
	while [ ! -S /var/run/wpa_supplicant/wlan2 ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
	wpa_cli -p /var/run/wpa_supplicant -i wlan2 -a /etc/hwsim/wpa-action.sh -B -P /run/wpa_cli-action.pid
	[ -S /var/run/wpa_supplicant/wlan2 ]
}
