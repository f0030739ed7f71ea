// Faults on the daemon's side, end to end: the real corvid in a terminal
// against the simulated supplicant (or, where one reply must come late and
// no other, an in-test daemon).  The daemon dies or hangs, its replies come
// late, its events come in a flood; after each, the saved configuration is
// what it was.
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_sim.h"
#include "fake_daemon.h"

using namespace std::chrono_literals;

static std::vector<std::string>
log_from(sim_run *r, size_t from)
{
	std::vector<std::string> log = file_lines(r->daemon.log);
	if (from > log.size())
		from = log.size();
	return std::vector<std::string>(log.begin() + static_cast<long>(from),
	    log.end());
}

// Opens the password dialog for Home-5G (a PSK network the demo has not
// stored) and types a passphrase without sending it.
static void
open_password_dialog(tmux_session *t)
{
	tmux_keys(t, {"Tab"});
	ASSERT_TRUE(select_row(t, "Home-5G"));
	tmux_keys(t, {"c"});
	ASSERT_TRUE(tmux_wait_for(t, "Enter the password", patience(3000)));
	tmux_type(t, "correct horse");
	ASSERT_TRUE(tmux_wait_for(t, "*************", patience(3000)));
}

// The daemon goes away, or stops answering, under a running corvid: corvid
// finds out at its next request and ends with that request's message, the
// terminal restored and nothing left behind.  The scan timer is that next
// request when nobody is at the keys.
struct death_case {
	const char *name;
	int sig;              // SIGKILL or SIGTERM ends it, SIGUSR1 hangs it
	bool in_dialog;       // the password dialog is open meanwhile
	const char *key;      // the key that sends a request; none: the timer
	const char *message;
};

static const death_case death_cases[] = {
	{"killed_then_reconnect", SIGKILL, false, "r", "failed to reconnect"},
	{"stopped_then_disconnect", SIGTERM, false, "d",
	    "failed to disconnect"},
	{"killed_under_password_dialog", SIGKILL, true, "Enter",
	    "failed configuring network: Home-5G"},
	{"hanging_then_disconnect", SIGUSR1, false, "d",
	    "failed to disconnect"},
	{"killed_nobody_at_the_keys", SIGKILL, false, nullptr,
	    "failed to retrieve wpa_supplicant status"},
};

static void
PrintTo(const death_case &c, std::ostream *os)
{
	*os << c.name;
}

struct sim_daemon_faults_death : testing::TestWithParam<death_case> {};

TEST_P(sim_daemon_faults_death, corvid_ends_cleanly)
{
	const death_case &c = GetParam();
	sim_run r;
	sim_run_guard guard{&r};

	ASSERT_TRUE(sim_daemon_start(&r, demo_config()));
	ASSERT_TRUE(sim_corvid_start(&r));
	corvid_seen seen = sim_corvid_seen(&r);
	if (c.in_dialog) {
		ASSERT_NO_FATAL_FAILURE(open_password_dialog(&r.term));
	}

	if (c.sig == SIGUSR1)
		ASSERT_TRUE(simsupp_toggle_answers(&r.daemon, patience(5000)));
	else
		ASSERT_TRUE(sim_daemon_kill(&r, c.sig));
	// Nobody tells corvid: it still runs a moment later.  (This pause only
	// proves that nothing happens meanwhile; a slow machine makes the
	// check weaker, never false.)
	std::this_thread::sleep_for(100ms);
	ASSERT_TRUE(tmux_running(&r.term));
	int within = patience(4000);
	if (c.key != nullptr)
		tmux_keys(&r.term, {c.key});
	else
		within = 40000 + patience(4000);   // the 30-second scan timer
	expect_ended(&r, seen, 1, {c.message}, within);
	expect_config_kept(&r);
}

INSTANTIATE_TEST_SUITE_P(cases, sim_daemon_faults_death,
    testing::ValuesIn(death_cases),
    [](const testing::TestParamInfo<death_case> &i) {
	return std::string(i.param.name);
});

// A daemon that stops answering: each request gives up after its 1000 ms,
// and the scan key, which ignores its failures, leaves corvid running; the
// screen keeps being redrawn (a resize, an expiring notification).  Once
// the daemon answers again, so does corvid's next request, after a PING
// has cleared whatever the daemon still owed.
TEST(sim_daemon_faults_hang, corvid_stays_alive_and_recovers)
{
	sim_run r;
	sim_run_guard guard{&r};
	tmux_session *t = &r.term;

	ASSERT_TRUE(sim_daemon_start(&r, demo_config()));
	ASSERT_TRUE(sim_corvid_start(&r));
	ASSERT_TRUE(simsupp_toggle_answers(&r.daemon, patience(5000)));
	size_t mark = file_lines(r.daemon.log).size();

	auto start = std::chrono::steady_clock::now();
	tmux_keys(t, {"s"});
	ASSERT_TRUE(tmux_wait_for(t, "Starting scan...", patience(10000)));
	auto waited = std::chrono::steady_clock::now() - start;
	// Three requests, each given up after 1000 ms: the first on its own,
	// the other two on the PING that has to come back before them.  The
	// PING after the first is not waited for: it only asks whether the
	// daemon's socket is still there.
	EXPECT_GE(waited, 2900ms);
	EXPECT_EQ(log_from(&r, mark), (std::vector<std::string>{
	    "SET passive_scan 1", "PING", "PING", "PING"}));
	EXPECT_TRUE(tmux_running(t));

	tmux_resize(t, 60, 30);
	EXPECT_TRUE(wait_until([&] { return status_box_width(t) == 60; },
	    patience(3000))) << tmux_capture(t);
	EXPECT_TRUE(tmux_wait_gone(t, "Starting scan...", patience(12000)));

	ASSERT_TRUE(simsupp_toggle_answers(&r.daemon, patience(5000)));
	mark = file_lines(r.daemon.log).size();
	tmux_keys(t, {"s"});
	EXPECT_TRUE(tmux_wait_for(t, "CTRL-EVENT-SCAN-RESULTS", patience(5000)));
	std::vector<std::string> after = log_from(&r, mark);
	ASSERT_GE(after.size(), 4u);
	EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + 4),
	    (std::vector<std::string>{"PING", "SET passive_scan 1", "SCAN",
	    "SET passive_scan 0"}));

	tmux_resize(t, 80, 34);
	corvid_seen seen = sim_corvid_seen(&r);
	tmux_keys(t, {"q"});
	// The warnings of the scan requests that gave up.
	expect_ended(&r, seen, 0, {"failed to initiate scan"}, patience(5000));
	expect_config_kept(&r);
}

// Replies that all come 200 ms late, within the time-out: corvid starts,
// scans and quits as usual; the events that overtake replies are dropped
// on the way, and no request gives up.
TEST(sim_daemon_faults_slow, replies_late_within_the_time_out)
{
	sim_run r;
	sim_run_guard guard{&r};
	tmux_session *t = &r.term;

	ASSERT_TRUE(sim_daemon_start(&r, demo_config(),
	    {"--late-replies", "200"}));
	ASSERT_TRUE(sim_corvid_start(&r));
	corvid_seen seen = sim_corvid_seen(&r);
	EXPECT_TRUE(tmux_wait_for(t, "SSID     : Home", patience(3000)));
	tmux_keys(t, {"s"});
	EXPECT_TRUE(tmux_wait_for(t, "CTRL-EVENT-SCAN-RESULTS", patience(8000)));
	tmux_keys(t, {"q"});
	expect_ended(&r, seen, 0, {}, patience(5000));
	expect_config_kept(&r);
}

// One reply comes 1500 ms late, after its request gave up (an in-test
// daemon, which answers in order like the real one, holds it back).  The
// reply must not be taken for a later request's: the stored network keeps
// its own fields, and connecting configures the id that ADD_NETWORK gave.
struct late_case {
	const char *name;
	const char *late;          // the request whose reply is late
	const char *keys;          // pressed once the screen is up ("" none)
	const char *fatal;         // corvid's message when it gives up, or null
	const char *warning;       // or the warning of a request given up
};

static const late_case late_cases[] = {
	{"priority_at_start", "GET_NETWORK 0 priority", "", nullptr, nullptr},
	{"scan_of_the_scan_key", "SCAN", "s", nullptr,
	    "failed to initiate scan"},
	{"add_network", "ADD_NETWORK", "", "failed to create new network",
	    nullptr},
};

static void
PrintTo(const late_case &c, std::ostream *os)
{
	*os << c.name;
}

struct fake_daemon_guard {
	fake_daemon *d;
	~fake_daemon_guard() { fake_daemon_stop(d); }
};

static size_t
find_from(const std::vector<std::string> &v, const std::string &s,
    size_t from)
{
	for (size_t i = from; i < v.size(); i++)
		if (v[i] == s)
			return i;
	return v.size();
}

struct sim_daemon_faults_late_reply : testing::TestWithParam<late_case> {};

TEST_P(sim_daemon_faults_late_reply, is_never_taken_for_another)
{
	const late_case &c = GetParam();
	fake_daemon d;
	fake_daemon_guard dg{&d};
	sim_run r;
	sim_run_guard guard{&r};
	tmux_session *t = &r.term;

	d.world.status = {"wpa_state=DISCONNECTED", "address=02:00:00:00:00:10"};
	d.world.networks = {"0\tOffice\tany\t"};
	d.world.scan = {"02:00:00:00:01:01\t2437\t-42\t[WPA2-PSK-CCMP][ESS]\tHome"};
	// A hidden open network: a shifted reply would show otherwise.
	d.world.replies["GET_NETWORK 0 priority"] = "7";
	d.world.replies["GET_NETWORK 0 scan_ssid"] = "1";
	d.world.replies["GET_NETWORK 0 key_mgmt"] = "NONE";
	d.world.next_id = 1;
	bool held = false;
	d.responder = [&d, &held, late = std::string(c.late)](
	    const std::string &req) {
		fake_reply reply = fake_answer(fake_world_answer(&d.world, req));
		if (!held && req == late) {
			held = true;
			reply.delay_ms = 1500;
		}
		return reply;
	};
	ASSERT_TRUE(fake_daemon_start(&d));
	r.daemon.sock = d.path;
	ASSERT_TRUE(sim_corvid_start(&r));
	corvid_seen seen = sim_corvid_seen(&r);

	if (*c.keys != '\0') {
		tmux_keys(t, {c.keys});
		// Until the request after the late one has been answered.
		ASSERT_TRUE(wait_until([&] {
			auto reqs = fake_daemon_requests(&d);
			size_t at = find_from(reqs, c.late, 0);
			return at + 2 < reqs.size();
		}, patience(5000)));
	}
	std::string office;
	ASSERT_TRUE(wait_until([&] {
		std::string screen = tmux_capture(t);
		size_t at = screen.find("Office");
		office = at == std::string::npos ? "" :
		    screen.substr(at, screen.find('\n', at) - at);
		return !office.empty();
	}, patience(3000)));
	// Open, hidden, and the priority (3 when its query failed).
	std::istringstream words(office);
	std::vector<std::string> w{std::istream_iterator<std::string>(words),
	    std::istream_iterator<std::string>()};
	ASSERT_GE(w.size(), 4u) << office;
	EXPECT_EQ(w[1], "Open") << office;
	EXPECT_EQ(w[2], "Yes") << office;
	EXPECT_EQ(w[3], *c.late == 'G' ? "3" : "7") << office;

	tmux_keys(t, {"Tab", "c"});
	if (c.fatal != nullptr) {
		expect_ended(&r, seen, 1, {c.fatal}, patience(5000));
		auto reqs = fake_daemon_requests(&d);
		size_t add = find_from(reqs, "ADD_NETWORK", 0);
		ASSERT_LT(add, reqs.size());
		for (size_t i = add; i < reqs.size(); i++)
			EXPECT_NE(reqs[i].rfind("SET_NETWORK", 0), 0u) << reqs[i];
		return;
	}
	ASSERT_TRUE(tmux_wait_for(t, "Enter the password", patience(5000))) <<
	    tmux_capture(t);
	tmux_type(t, "passphrase1");
	tmux_keys(t, {"Enter"});

	ASSERT_TRUE(wait_until([&] {
		auto reqs = fake_daemon_requests(&d);
		return find_from(reqs, "SAVE_CONFIG", 0) < reqs.size();
	}, patience(5000)));
	EXPECT_TRUE(tmux_wait_for(t, "Connecting to Home [freq=2437]",
	    patience(3000)));
	auto reqs = fake_daemon_requests(&d);
	size_t at = find_from(reqs, "ADD_NETWORK", 0);
	ASSERT_LT(at, reqs.size());
	for (const char *want : {"SET_NETWORK 1 ssid \"Home\"",
	    "SET_NETWORK 1 psk \"passphrase1\"", "SELECT_NETWORK 1 freq=2437",
	    "ENABLE_NETWORK 0", "SET update_config 1", "SAVE_CONFIG"}) {
		at = find_from(reqs, want, at);
		EXPECT_LT(at, reqs.size()) << want << " not in order";
	}
	for (const auto &req : reqs) {
		EXPECT_NE(req.rfind("REMOVE_NETWORK", 0), 0u) << req;
		if (req.rfind("SET_NETWORK ", 0) == 0 ||
		    req.rfind("SELECT_NETWORK ", 0) == 0) {
			EXPECT_NE(req.find("NETWORK 1 "), std::string::npos) << req;
		}
	}
	tmux_keys(t, {"q"});
	if (c.warning != nullptr)
		expect_ended(&r, seen, 0, {c.warning}, patience(5000));
	else
		expect_ended(&r, seen, 0, {}, patience(5000));
}

INSTANTIATE_TEST_SUITE_P(cases, sim_daemon_faults_late_reply, testing::ValuesIn(late_cases),
    [](const testing::TestParamInfo<late_case> &i) {
	return std::string(i.param.name);
});

// 10,000 event messages in 10 seconds: corvid keeps serving the keys and
// redrawing while they come, its memory stays bounded (the notification
// list is capped), and afterwards it still hears the daemon.
TEST(sim_daemon_faults_flood, ten_thousand_in_ten_seconds)
{
	sim_run r;
	sim_run_guard guard{&r};
	tmux_session *t = &r.term;

	ASSERT_TRUE(sim_daemon_start(&r, demo_config(),
	    {"--burst", "10000", "--burst-ms", "10000"}));
	ASSERT_TRUE(sim_corvid_start(&r));
	corvid_seen seen = sim_corvid_seen(&r);
	// Start-up done: the screen shows what it fetched.
	ASSERT_TRUE(tmux_wait_for(t, "SSID     : Home", patience(3000)));
	long rss0 = proc_status_kb(seen.pid, "VmRSS");
	long hwm0 = proc_status_kb(seen.pid, "VmHWM");
	size_t mark = file_lines(r.daemon.log).size();

	ASSERT_EQ(kill(r.daemon.pid, SIGUSR2), 0);
	EXPECT_TRUE(tmux_wait_for(t, "SIGNAL-CHANGE", patience(3000)));
	// Keys are served during the flood: help opens and closes.
	tmux_keys(t, {"h"});
	EXPECT_TRUE(tmux_wait_for(t, "Trigger Scan", patience(3000)));
	tmux_keys(t, {"h"});
	EXPECT_TRUE(tmux_wait_gone(t, "Trigger Scan", patience(3000)));
	// And frames keep coming: the newest signal level changes.
	std::string before = tmux_capture(t);
	EXPECT_TRUE(wait_until([&] { return tmux_capture(t) != before; },
	    patience(3000)));
	// The daemon keeps the burst's pace by its clock, however little time
	// it gets.
	EXPECT_TRUE(simsupp_wait_note(&r.daemon, "burst sent",
	    10000 + patience(10000)));

	long rss1 = proc_status_kb(seen.pid, "VmRSS");
	long hwm1 = proc_status_kb(seen.pid, "VmHWM");
	size_t handled = count_prefix(log_from(&r, mark), "STATUS");
	RecordProperty("rss_kb_before", std::to_string(rss0));
	RecordProperty("rss_kb_after", std::to_string(rss1));
	RecordProperty("hwm_kb_before", std::to_string(hwm0));
	RecordProperty("hwm_kb_after", std::to_string(hwm1));
	RecordProperty("events_handled", std::to_string(handled));
	ASSERT_TRUE(tmux_running(t));
	EXPECT_GT(handled, 10u);
	if (memory_measurable()) {
		EXPECT_LT(hwm1 - hwm0, 8 * 1024) << "VmHWM " << hwm0 << " -> " <<
		    hwm1 << " kB";
	}

	// Caught up: a scan's results arrive once the backlog (what the
	// socket held) is read.
	tmux_keys(t, {"C-l", "s"});
	EXPECT_TRUE(tmux_wait_for(t, "CTRL-EVENT-SCAN-RESULTS", patience(10000)));
	tmux_keys(t, {"q"});
	expect_ended(&r, seen, 0, {}, patience(5000));
	expect_config_kept(&r);
}
