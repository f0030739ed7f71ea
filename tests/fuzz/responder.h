// An in-process supplicant for the fuzz targets: a datagram socket pair
// whose far end answers every request with the next chunk of the fuzz
// input, so that the client's real transport and parsers see the bytes.
#pragma once

#include <csignal>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "wifi.h"

// Chunks of the input are separated by this line; a chunk that the client
// drops (an event message, a stray "PONG") is followed by the next one, so
// that every request gets a reply and no request waits for its time-out.
inline constexpr std::string_view RESPONDER_SEPARATOR = "====\n";

struct responder {
	int fd;                             // the daemon's end
	std::thread thread;
	std::vector<std::string> chunks;
	size_t next;                        // next chunk to send
	std::vector<std::string> requests;  // read only after responder_stop
	sigset_t saved_mask;                // signals blocked before the start
};

// Splits `data` into chunks and returns a connection whose requests the
// thread answers; "FAIL\n" once the chunks are used up.  nullptr when the
// socket pair could not be made.
wpa_ctrl *responder_start(responder *r, std::string_view data);
// Closes the connection and ends the thread.
void responder_stop(responder *r, wpa_ctrl *ctrl);

// Milliseconds on the monotonic clock.
int64_t responder_clock_ms(void);
// Whether a fetch that took `ms` may have given up waiting for a reply:
// a machine loaded enough to delay the thread that long can make any
// request time out, which is then no finding.
inline bool
responder_slow(int64_t ms)
{
	return ms >= CTRL_REPLY_TIMEOUT_MS;
}

// The input as text, for the targets that take it whole.
inline std::string_view
fuzz_text(const uint8_t *data, size_t size)
{
	return std::string_view(reinterpret_cast<const char *>(data), size);
}

// Runs one fetch against a responder that answers from `data`.  True with
// the record (possibly none) in *out and the requests in r->requests; false,
// with the record released, when the fetch took so long that the machine
// may have made a request give up: nothing is to be judged then.
template <typename T>
bool
responder_fetch(responder *r, const uint8_t *data, size_t size,
    T *(*fetch)(wpa_ctrl *), void (*release)(T *), T **out)
{
	wpa_ctrl *ctrl = responder_start(r, fuzz_text(data, size));

	if (ctrl == nullptr)
		abort();
	int64_t start = responder_clock_ms();
	*out = fetch(ctrl);
	int64_t took = responder_clock_ms() - start;
	responder_stop(r, ctrl);
	if (responder_slow(took)) {
		release(*out);
		*out = nullptr;
		return false;
	}
	return true;
}
