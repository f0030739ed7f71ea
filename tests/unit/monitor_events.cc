// Event messages the supplicant sends while a request waits for its reply
// reach the event handler all the same, in order, through the loop.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app.h"
#include "notify.h"
#include "state.h"
#include "term.h"
#include "events.h"
#include "refresh.h"
#include "fake_daemon.h"
#include "loop.h"

namespace {

using testing::ElementsAre;

int handled;

// The supplicant's handler, ending the loop after the second message.
int
count_events(void *udata)
{
	handle_wpa_event(udata);
	return ++handled == 2 ? 1 : 0;
}

std::vector<std::string>
notification_texts(void)
{
	std::vector<std::string> out;
	for (notification *n = app.notifications.first; n != nullptr; n = n->next)
		out.emplace_back(n->text);
	return out;
}

TEST(monitor_events, a_message_sent_during_a_refresh_is_handled_next)
{
	fake_daemon daemon;
	ASSERT_TRUE(fake_daemon_start(&daemon));
	daemon.world.status = { "wpa_state=DISCONNECTED" };
	app_reset();
	notification_list_init(&app.notifications);
	app.ctrl = ctrl_open(daemon.path.c_str());
	ASSERT_NE(app.ctrl, nullptr);
	app.monitor_fd = ctrl_fd(app.ctrl);
	app.status = supplicant_status_fetch(app.ctrl);
	app.known = known_networks_fetch(app.ctrl);
	app.scan = scan_results_fetch(app.ctrl);
	ASSERT_TRUE(app.status && app.known && app.scan);
	app.winsize.ws_row = 34;
	app.winsize.ws_col = 80;
	layout_update();
	app.tty_fd = open("/dev/null", O_WRONLY);
	app.kq_fd = evq_open();
	ASSERT_NE(handler_add(static_cast<uintptr_t>(app.monitor_fd), EVQ_READ,
	    count_events, nullptr), nullptr);
	evq_change change = { static_cast<uintptr_t>(app.monitor_fd), EVQ_READ, 0 };
	ASSERT_EQ(evq_register(app.kq_fd, &change, 1), 0);

	// The wrong-key message comes right behind the disconnection, while
	// the status that the first one asks for is being fetched.
	bool sent = false;
	daemon.responder = [&](const std::string &req) {
		std::string reply = fake_world_answer(&daemon.world, req);
		if (req == "STATUS" && !sent) {
			sent = true;
			return fake_reply{ { "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=1 "
			    "ssid=\"HomeNet\" auth_failures=1 duration=10 reason=WRONG_KEY",
			    reply }, 0 };
		}
		return fake_answer(reply);
	};

	ASSERT_TRUE(fake_daemon_send(&daemon, "<3>CTRL-EVENT-DISCONNECTED "
	    "bssid=02:00:00:00:00:00 reason=15"));
	event_loop();

	EXPECT_THAT(notification_texts(), ElementsAre(
	    "<3>CTRL-EVENT-DISCONNECTED bssid=02:00:00:00:00:00 reason=15",
	    "<3>CTRL-EVENT-SSID-TEMP-DISABLED id=1 ssid=\"HomeNet\" "
	    "auth_failures=1 duration=10 reason=WRONG_KEY"));

	cleanup();
	fake_daemon_stop(&daemon);
}

} // namespace
