// Helpers for the end-to-end tests against the real supplicant.
#include "e2e_real.h"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

// The text between the first "│" of a line and the next one; false when
// the line has no such pair.
static bool
between_borders(const std::string &line, std::string *inner)
{
	static const std::string bar = "│";
	size_t a = line.find(bar);
	if (a == std::string::npos)
		return false;
	size_t b = line.find(bar, a + bar.size());
	if (b == std::string::npos)
		return false;
	*inner = line.substr(a + bar.size(), b - a - bar.size());
	return true;
}

known_table
screen_known(const std::string &screen)
{
	known_table t;
	int separators = 0;
	bool header = false;

	// The block: the WiFi Info title, its rows, then a "├" title bar for
	// each table, each followed by its header row and its rows.
	for (const std::string &line : text_lines(screen)) {
		std::string s = text_trim(line);
		if (s.rfind("├", 0) == 0) {
			// "├─┐" and the title, or "├─/" and the search text,
			// then "┌".
			if (++separators == 1) {
				std::string rest = s.substr(strlen("├─"));
				if (rest.rfind("┐", 0) == 0)
					rest.erase(0, strlen("┐"));
				t.title = rest.substr(0, rest.find("┌"));
				t.found = true;
				header = true;
			}
			continue;
		}
		std::string inner;
		if (separators != 1 || !between_borders(line, &inner))
			continue;
		if (header) {
			header = false;
			continue;
		}
		std::istringstream words(inner);
		std::vector<std::string> w;
		for (std::string word; words >> word;)
			w.push_back(word);
		if (w.empty())
			continue;
		known_row row;
		if (w[0].rfind(">", 0) == 0) {
			row.current = true;
			w[0].erase(0, 1);
			if (w[0].empty())
				w.erase(w.begin());
		}
		// An empty SSID leaves four words.
		if (w.size() == 4)
			w.insert(w.begin(), "");
		if (w.size() != 5) {
			row.ssid = "?" + inner;
		} else {
			row.ssid = w[0];
			row.security = w[1];
			row.hidden = w[2];
			row.priority = atoi(w[3].c_str());
			row.autoconnect = w[4];
		}
		t.rows.push_back(row);
	}
	return t;
}

std::vector<std::string>
known_row_texts(const known_table &t)
{
	std::vector<std::string> rows;
	for (const known_row &r : t.rows)
		rows.push_back(r.ssid + "|" + r.security + "|" + r.hidden + "|" +
		    std::to_string(r.priority) + "|" + r.autoconnect);
	return rows;
}

std::vector<std::string>
screen_known_ssids(const std::string &screen)
{
	std::vector<std::string> ssids;
	for (const known_row &r : screen_known(screen).rows)
		ssids.push_back(r.ssid);
	return ssids;
}

bool
e2e_netns_make(e2e_netns *ns, std::string *why)
{
	std::string ip = command_find("ip");
	if (geteuid() != 0) {
		*why = "network namespaces need root";
		return false;
	}
	if (ip.empty()) {
		*why = "the ip program (iproute2) is not installed";
		return false;
	}
	ns->name = "corvid-e2e-" + std::to_string(getpid());
	// A namespace of this name can only be left over from a killed test
	// that had the same pid.
	command_result r = command_run({ ip, "netns", "add", ns->name });
	if (r.status != 0) {
		command_run({ ip, "netns", "del", ns->name });
		r = command_run({ ip, "netns", "add", ns->name });
	}
	if (r.status != 0) {
		*why = "cannot create a network namespace: " + r.out;
		return false;
	}
	ns->made = true;
	return true;
}

void
e2e_netns_remove(e2e_netns *ns)
{
	if (!ns->made)
		return;
	command_run({ command_find("ip"), "netns", "del", ns->name });
	ns->made = false;
}

int
e2e_netns_ip(const e2e_netns *ns, const std::vector<std::string> &args)
{
	std::vector<std::string> argv = { command_find("ip"), "-n", ns->name };
	argv.insert(argv.end(), args.begin(), args.end());
	return command_run(argv).status;
}

std::string
e2e_netns_exec(const std::string &ns)
{
	return shell_quote(command_find("ip")) + " netns exec " +
	    shell_quote(ns) + " ";
}

std::string
corvid_command(const std::string &socket, const std::string &prefix)
{
	std::string wrapper = test_wrapper();
	return prefix + (wrapper.empty() ? "" : wrapper + " ") +
	    shell_quote(CORVID_BINARY) + " -c " + shell_quote(socket);
}

void
expect_terminal_restored(tmux_session *term)
{
	EXPECT_TRUE(tmux_wait_output_tail(term, "\e[?1049l\e[?25h", patience(2000)))
	    << "the output does not end by leaving the screen";
	EXPECT_FALSE(tmux_stty(term, false).empty());
	EXPECT_EQ(tmux_stty(term, true), tmux_stty(term, false))
	    << "terminal attributes not restored";
}

void
real_e2e::daemon_start(const std::string &networks)
{
	std::string why;
	if (command_find("tmux").empty())
		GTEST_SKIP() << "tmux is not installed";
	if (!real_daemon_start(&daemon, networks, &why)) {
		if (daemon.unsupported)
			GTEST_SKIP() << "real wpa_supplicant not available: " << why;
		FAIL() << why;
	}
	original_text = file_read(daemon.conf_path);
}

void
real_e2e::corvid_start(int width, int height)
{
	std::string why;
	ASSERT_TRUE(tmux_start(&term, corvid_command(daemon.ctrl_path), width,
	    height, &why)) << why;
	ASSERT_TRUE(tmux_wait_for(&term, "Network Scan", patience(10000)))
	    << tmux_capture(&term) << tmux_stderr(&term);
}

bool
real_e2e::wait_known(const std::vector<std::string> &want, int timeout_ms)
{
	auto end = std::chrono::steady_clock::now() +
	    std::chrono::milliseconds(patience(timeout_ms));
	while (screen_known_ssids(tmux_capture(&term)) != want) {
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
	return true;
}

std::string
real_e2e::wait_saved(const wpa_conf &want, int timeout_ms)
{
	auto end = std::chrono::steady_clock::now() +
	    std::chrono::milliseconds(patience(timeout_ms));
	for (;;) {
		std::string diff = wpa_conf_diff(want,
		    wpa_conf_parse(file_read(daemon.conf_path)));
		if (diff.empty() || std::chrono::steady_clock::now() > end)
			return diff;
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
}

std::string
real_e2e::wpa_cli(const std::vector<std::string> &args, int *status)
{
	std::vector<std::string> argv = { command_find("wpa_cli"), "-p",
	    daemon.ctrl_dir, "-i", daemon.ifname };
	argv.insert(argv.end(), args.begin(), args.end());
	command_result r = command_run(argv);
	if (status != nullptr)
		*status = r.status;
	return r.out;
}

void
real_e2e::TearDown()
{
	tmux_stop(&term);
	real_daemon_stop(&daemon);
}

void
fake_e2e::SetUp()
{
	if (command_find("tmux").empty())
		GTEST_SKIP() << "tmux is not installed";
	ASSERT_TRUE(fake_daemon_start(&daemon));
}

void
fake_e2e::TearDown()
{
	tmux_stop(&term);
	e2e_netns_remove(&ns);
	fake_daemon_stop(&daemon);
}

void
fake_e2e::corvid_start(const std::string &prefix)
{
	std::string why;
	ASSERT_TRUE(tmux_start(&term, corvid_command(daemon.path, prefix), 160,
	    40, &why)) << why;
	ASSERT_TRUE(tmux_wait_for(&term, "Network Scan", patience(10000)))
	    << tmux_capture(&term) << tmux_stderr(&term);
}

void
fake_e2e::set_status(const std::vector<std::string> &lines)
{
	std::lock_guard<std::mutex> lock(daemon.mutex);
	daemon.world.status = lines;
}
