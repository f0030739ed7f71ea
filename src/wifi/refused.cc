// The stored networks whose passphrase the daemon refused, as its event
// messages tell.  The messages are untrusted: an SSID in them is printed
// with its quotes escaped, so the fields that matter are read from where
// the daemon puts them (the id first, the reason last).
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <string_view>

#include "records.h"
#include "wifi.h"

using namespace std::literals;

// The message without the daemon's priority prefix ("<3>").
static std::string_view
event_body(std::string_view msg)
{
	if (msg.size() > 2 && msg[0] == '<') {
		size_t end = msg.find('>');
		if (end != msg.npos && end < 4)
			msg.remove_prefix(end + 1);
	}
	return msg;
}

// A network id at the start of `text`, ended by a blank, "]" or the end.
static bool
event_id(std::string_view text, int *id)
{
	long long v = 0;
	size_t i = 0;

	for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && i < 10; i++)
		v = v * 10 + (text[i] - '0');
	if (i == 0 || v > 2147483647 || (i < text.size() && text[i] != ' ' &&
	    text[i] != ']' && text[i] != '\n'))
		return false;
	*id = static_cast<int>(v);
	return true;
}

static void
refused_drop(refused_keys *r, int id)
{
	int *end = std::remove(r->ids, r->ids + r->count, id);
	r->count = static_cast<size_t>(end - r->ids);
}

static void
refused_add(refused_keys *r, int id)
{
	if (refused_keys_has(r, id))
		return;
	if (r->count == REFUSED_MAX) {          // the oldest mark goes
		memmove(r->ids, r->ids + 1, (REFUSED_MAX - 1) * sizeof r->ids[0]);
		r->count--;
	}
	r->ids[r->count++] = id;
}

// The word after the last " reason=": "WRONG_KEY", "CONN_FAILED", ...
static std::string_view
event_reason(std::string_view body)
{
	size_t at = body.rfind(" reason="sv);

	if (at == body.npos)
		return {};
	std::string_view r = body.substr(at + 8);
	return r.substr(0, r.find_first_of(" \n"));
}

void
refused_keys_event(refused_keys *r, const char *msg, size_t len)
{
	std::string_view body = event_body(std::string_view(msg, len));
	int id;

	if (body.starts_with("CTRL-EVENT-SSID-TEMP-DISABLED id="sv)) {
		std::string_view reason = event_reason(body);
		bool sae = r->sae_rejected;
		r->sae_rejected = false;
		if (!event_id(body.substr(33), &id))
			return;
		if (reason == "WRONG_KEY"sv || (sae && reason == "CONN_FAILED"sv))
			refused_add(r, id);
	} else if (body.starts_with("CTRL-EVENT-AUTH-REJECT "sv)) {
		// SAE (auth_type 3) whose confirm the access point rejected:
		// status 1, or 15 (the commit's group or element refused).
		constexpr std::string_view sae =
		    " auth_type=3 auth_transaction=2 status_code="sv;
		size_t at = body.find(sae);
		if (at != body.npos) {
			std::string_view code = body.substr(at + sae.size());
			code = code.substr(0, code.find_first_of(" \n"));
			if (code == "1"sv || code == "15"sv)
				r->sae_rejected = true;
		}
	} else if (body.starts_with("CTRL-EVENT-CONNECTED "sv)) {
		size_t at = body.find(" [id="sv);
		r->sae_rejected = false;
		if (at != body.npos && event_id(body.substr(at + 5), &id))
			refused_drop(r, id);
	} else if (body.starts_with("CTRL-EVENT-NETWORK-REMOVED "sv)) {
		if (event_id(body.substr(27), &id))
			refused_drop(r, id);
	}
}

bool
refused_keys_has(const refused_keys *r, int id)
{
	return std::find(r->ids, r->ids + r->count, id) != r->ids + r->count;
}
