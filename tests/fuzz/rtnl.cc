// Fuzzes the routing socket's batch handling: rtnl_take over arbitrary
// bytes from an arbitrary offset, and handle_rtnl consuming the same batch
// one message per call, refreshing the status (from an in-process
// supplicant) for each address message.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app.h"
#include "notify.h"
#include "state.h"
#include "term.h"
#include "events.h"
#include "responder.h"

struct step {
	int type;
	size_t off;     // offset after the message
};

// The batch as rtnl_take walks it.
static std::vector<step>
walk(const uint8_t *bytes, size_t len, size_t off)
{
	std::vector<step> steps;
	char *buf = static_cast<char *>(malloc(len > 0 ? len : 1));
	if (buf == nullptr)
		abort();
	if (len > 0)
		memcpy(buf, bytes, len);
	rtnl_state r{-1, false, buf, len, off, len};

	for (;;) {
		size_t before = r.off;
		int type = rtnl_take(&r);
		if (r.off > r.len || (r.off < before && before <= r.len))
			abort();
		if (type == -1) {
			// The end of the batch: nothing more to take.
			if (r.off != r.len || rtnl_take(&r) != -1)
				abort();
			break;
		}
		// A message is at least its header, and lies inside the bytes.
		if (r.off - before < 16 || type > 0xffff)
			abort();
		steps.push_back({type, r.off});
	}
	free(buf);
	return steps;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	size_t off = data[0];
	const uint8_t *bytes = data + 1;
	size_t len = size - 1;

	std::vector<step> steps = walk(bytes, len, off);
	if (off >= len)
		return 0;

	// The handler, one message per readiness event.  The buffer is the
	// exact size of the batch, so that a read past it is caught.
	char *buf = static_cast<char *>(malloc(len));
	if (buf == nullptr)
		abort();
	memcpy(buf, bytes, len);
	rtnl_state r{-1, false, buf, len, off, len};
	responder resp;
	app.rtnl = &r;
	app.ctrl = responder_start(&resp, "");
	if (app.ctrl == nullptr)
		abort();
	size_t calls = 0, addresses = 0;
	while (r.off < r.len) {
		if (handle_rtnl(nullptr) != 0)
			abort();
		if (calls < steps.size()) {
			if (r.off != steps[calls].off)
				abort();
			int type = steps[calls].type;
			addresses += type == RTNL_NEWADDR || type == RTNL_DELADDR;
		}
		calls++;
	}
	responder_stop(&resp, app.ctrl);
	supplicant_status_free(app.status);
	app.status = nullptr;
	app.ctrl = nullptr;
	app.rtnl = nullptr;
	free(buf);

	// One call per message, and the one that ends the batch; only address
	// messages ask for the status.
	if (calls != steps.size() + (steps.empty() || steps.back().off < len))
		abort();
	if (resp.requests.size() != addresses)
		abort();
	for (const std::string &req : resp.requests)
		if (req != "STATUS")
			abort();
	return 0;
}
