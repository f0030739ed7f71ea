#!/bin/sh
# The manual page: mandoc finds nothing to say about it, and its KEYS
# section documents every key of the help overlay (and the keys that the
# overlay does not list: paging, the dialogs and the search).
set -u
cd "$(dirname "$0")/../.." || exit 1
page=docs/corvid.8

if ! command -v mandoc >/dev/null 2>&1; then
	echo "SKIP: mandoc is not installed; the manual page is not checked"
	exit 77
fi
if [ ! -f "$page" ]; then
	echo "FAIL: $page is missing"
	exit 1
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/corvid-manpage.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
fail=0

# 1. Lint at every level.  Two messages depend on the host, not on the
# page: whether the pages named under SEE ALSO are installed ("referenced
# manual not found", a style message) and whether the host's mandoc.db is
# up to date.  A third is a convention of one system's own pages: the
# footer of a page of ours names the program and its version (".Os corvid
# 0.1.0"), which NetBSD's style leaves to the system.  Everything else fails.
mandoc -Tlint -Wall "$page" >"$tmp/lint" 2>&1
rc=$?
grep -v -e 'STYLE: referenced manual not found: Xr ' \
    -e 'outdated mandoc\.db lacks ' \
    -e 'STYLE: operating system explicitly specified: Os corvid (NetBSD)$' \
    "$tmp/lint" >"$tmp/lint.left"
if [ -s "$tmp/lint.left" ] || [ "$rc" -gt 1 ]; then
	echo "FAIL: mandoc -Tlint -Wall $page (exit $rc):"
	cat "$tmp/lint"
	fail=1
fi

# 2. The keys.  The page is rendered as markdown, where the tag of a list
# item is the paragraph before its "> " quoted body.  Every tag of the KEYS
# section is split at commas into key names, which are written one a line,
# lower case, without markup, escapes or angle brackets.
if ! mandoc -Tmarkdown "$page" >"$tmp/md" 2>/dev/null; then
	echo "FAIL: mandoc -Tmarkdown $page failed"
	exit 1
fi
awk '
function emit(t,   n, i, a, alts) {
	gsub(/&lt;|&gt;|[<>*\\]/, "", t)
	n = split(t, alts, ",")
	for (i = 1; i <= n; i++) {
		a = alts[i]
		gsub(/^[ \t]+|[ \t]+$/, "", a)
		gsub(/[ \t]+/, " ", a)
		if (a != "")
			print tolower(a)
	}
}
/^# / { inkeys = ($0 == "# KEYS"); para = ""; prev = ""; next }
!inkeys { next }
/^[ \t]*$/ { if (para != "") prev = para; para = ""; next }
{
	if (para == "") {
		if ($0 ~ /^>/ && prev != "" && prev !~ /^(>|#)/)
			emit(prev)
		prev = ""
		para = $0
	} else
		para = para " " $0
}' "$tmp/md" >"$tmp/keys"

if [ ! -s "$tmp/keys" ]; then
	echo "FAIL: no KEYS section with a list of keys in $page"
	exit 1
fi

# has_key WHAT ERE: some key name of the KEYS section matches ERE whole.
has_key() {
	if ! grep -Eqx -- "$2" "$tmp/keys"; then
		echo "FAIL: $1 is not documented in the KEYS section of $page"
		fail=1
	fi
}

# The ERE that a key name of the page must match for one key of the help
# overlay, as the overlay writes it ("q", "Tab", "<Left>", "<C-l>", ...).
key_ere() {
	case $1 in
	'[') echo '[[]' ;;
	']') echo '[]]' ;;
	/) echo '/' ;;
	Tab) echo 'tab' ;;
	'<Left>' | '<Right>' | '<Up>' | '<Down>')
		name=$(printf '%s' "$1" | tr -d '<>' | tr '[:upper:]' '[:lower:]')
		echo "$name( arrow)?" ;;
	'<C-'?'>')
		c=$(printf '%s' "$1" | cut -c4 | tr '[:upper:]' '[:lower:]')
		echo "(ctrl|control|c)-$c|\\^$c" ;;
	[a-z]) echo "$1" ;;
	*) return 1 ;;
	esac
}

# The labels of the help overlay.  Each one's key text is taken from the
# overlay's table in the sources, so that a key changed there without the
# page fails here.
for label in "Disconnect current AP" "Toggle help" "Scroll left" \
    "Scroll right" "Move down" "Move up" "Quit" "Reconnect to known AP" \
    "Trigger Scan" "Switch between sections" "Search by SSID" \
    "Clear notifications" "Toggle auto connect" "Forget network" \
    "Increase priority" "Decrease priority" "Connect to network"; do
	keytext=$(sed -n "s/^.*{\"\\([^\"]*\\)\", \"$label\"}.*\$/\\1/p" \
	    src/corvid/*.cc | head -n 1)
	if [ -z "$keytext" ]; then
		echo "FAIL: help label \"$label\" not found in the overlay's table under src/corvid/"
		fail=1
		continue
	fi
	# "[/<Left>" names two keys; "/" alone is the search key.
	if [ "$keytext" = / ]; then
		keys=/
	else
		keys=$(printf '%s\n' "$keytext" | tr / '\n')
	fi
	for key in $keys; do
		if ! ere=$(key_ere "$key"); then
			echo "FAIL: help key \"$key\" of \"$label\" is of an unknown form"
			fail=1
			continue
		fi
		has_key "the key \"$key\" of \"$label\"" "$ere"
	done
done

# Keys without a label in the overlay.
has_key "Home" 'home'
has_key "End" 'end'
has_key "Page Up" 'page ?up|pgup'
has_key "Page Down" 'page ?down|pgdn'
has_key "Enter" 'enter|return'
has_key "Escape" 'esc(ape)?'
has_key "Backspace" 'backspace'
has_key "Ctrl-U" '(ctrl|control|c)-u|\^u'

# The dialogs' titles, as the program shows them.
for prompt in "Enter the password" "Enter the EAP username"; do
	if ! grep -q "^\\.Dq $prompt\$" "$page"; then
		echo "FAIL: the dialog \"$prompt\" is not named in $page"
		fail=1
	fi
done

exit "$fail"
