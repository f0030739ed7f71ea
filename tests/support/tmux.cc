#include "tmux.h"

#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "files.h"
#include "proc.h"

std::string
shell_quote(const std::string &word)
{
	std::string out = "'";
	for (char c : word) {
		if (c == '\'')
			out += "'\\''";
		else
			out += c;
	}
	return out + "'";
}

std::string
shell(const std::string &command, int *status)
{
	std::string out;
	FILE *p = popen(command.c_str(), "r");
	if (p == nullptr) {
		if (status)
			*status = -1;
		return out;
	}
	char buf[4096];
	size_t n;
	while ((n = fread(buf, 1, sizeof buf, p)) > 0)
		out.append(buf, n);
	int rc = pclose(p);
	if (status)
		*status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
	return out;
}

std::string
tmux_command(tmux_session *s, const std::string &args, int *status)
{
	return shell("tmux -u -f /dev/null -S " + shell_quote(s->server) + " " +
	    args + " 2>&1", status);
}

bool
tmux_start(tmux_session *s, const std::string &command, int width, int height,
    std::string *why)
{
	char tmpl[] = "/tmp/corvid-tmux.XXXXXX";

	if (mkdtemp(tmpl) == nullptr) {
		*why = "mkdtemp failed";
		return false;
	}
	s->dir = tmpl;
	// The server's socket lives in the scratch directory, so that it goes
	// with it.
	s->server = s->dir + "/tmux.sock";
	s->width = width;
	s->height = height;

	// The program waits for "go", so that the pipe of its output is in
	// place before it writes its first byte.  The terminal's attributes
	// are recorded around it; the exit status is written last, so that
	// everything else is there once it is.
	std::string script = s->dir + "/run.sh";
	{
		std::ofstream f(script);
		f << "while [ ! -e " << shell_quote(s->dir + "/go") << " ]; do sleep 0.02; done\n"
		  << "echo $$ > " << shell_quote(s->dir + "/pid") << "\n"
		  << "stty -g > " << shell_quote(s->dir + "/stty.before") << " 2>/dev/null\n"
		  << "exec 2> " << shell_quote(s->dir + "/stderr") << "\n"
		  << "sh -c " << shell_quote("exec " + command) << "\n"
		  << "rc=$?\n"
		  << "stty -g > " << shell_quote(s->dir + "/stty.after") << " 2>/dev/null\n"
		  << "echo $rc > " << shell_quote(s->dir + "/rc") << "\n"
		  << "sleep 600\n";
	}
	int status;
	std::string out = tmux_command(s, "new-session -d -x " + std::to_string(width) +
	    " -y " + std::to_string(height) + " -e LC_ALL=C.UTF-8 -e TERM=tmux-256color " +
	    "sh " + shell_quote(script), &status);
	if (status != 0) {
		*why = "tmux new-session failed: " + out;
		shell("rm -rf " + shell_quote(s->dir));
		return false;
	}
	s->started = true;
	tmux_command(s, "set-option -g status off");
	tmux_command(s, "resize-window -x " + std::to_string(width) + " -y " + std::to_string(height));
	tmux_command(s, "pipe-pane -o " + shell_quote("cat > " + shell_quote(s->dir + "/output")));
	std::ofstream(s->dir + "/go").put('\n');
	return true;
}

void
tmux_stop(tmux_session *s)
{
	if (!s->started)
		return;
	// The wrapper shell and its children (the program, or the sleep
	// after it), taken before the hang-up scatters them.
	std::vector<int> pids;
	if (int wrapper = atoi(file_read(s->dir + "/pid").c_str()); wrapper > 0) {
		pids.push_back(wrapper);
		std::istringstream children(shell("pgrep -P " + std::to_string(wrapper)));
		for (int pid; children >> pid;)
			pids.push_back(pid);
	}
	tmux_command(s, "kill-server");
	auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
	for (int pid : pids) {
		while (!process_gone(pid) && std::chrono::steady_clock::now() < end)
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
		if (!process_gone(pid))
			kill(pid, SIGKILL);
	}
	shell("rm -rf " + shell_quote(s->dir));
	s->started = false;
}

std::string
tmux_capture_with(tmux_session *s, const std::string &options)
{
	// A frame comes in more than one read when it is large: a capture
	// between two shows half of it.  The rest is already on its way, so
	// two captures in a row that agree show the whole (a screen that
	// never holds still: the last one).
	std::string args = "capture-pane -p " + options;
	std::string last = tmux_command(s, args);
	for (int i = 0; i < 20; i++) {
		std::string now = tmux_command(s, args);
		if (now == last)
			break;
		last = std::move(now);
	}
	return last;
}

std::string
tmux_capture(tmux_session *s)
{
	return tmux_capture_with(s, "-N");
}

static bool
poll_screen(tmux_session *s, const std::string &needle, bool want, int timeout_ms)
{
	auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	for (;;) {
		bool shown = tmux_capture(s).find(needle) != std::string::npos;
		if (shown == want)
			return true;
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
}

bool
tmux_wait_for(tmux_session *s, const std::string &needle, int timeout_ms)
{
	return poll_screen(s, needle, true, timeout_ms);
}

bool
tmux_wait_gone(tmux_session *s, const std::string &needle, int timeout_ms)
{
	return poll_screen(s, needle, false, timeout_ms);
}

void
tmux_keys(tmux_session *s, const std::vector<std::string> &keys)
{
	std::string args = "send-keys -t 0";
	for (const std::string &k : keys)
		args += " " + shell_quote(k);
	tmux_command(s, args);
}

void
tmux_type(tmux_session *s, const std::string &text)
{
	tmux_command(s, "send-keys -t 0 -l " + shell_quote(text));
}

void
tmux_resize(tmux_session *s, int width, int height)
{
	s->width = width;
	s->height = height;
	tmux_command(s, "resize-window -x " + std::to_string(width) + " -y " + std::to_string(height));
}

int
tmux_wait_exit(tmux_session *s, int timeout_ms)
{
	auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	for (;;) {
		std::string rc = file_read(s->dir + "/rc");
		if (!rc.empty() && rc.back() == '\n')
			return atoi(rc.c_str());
		if (std::chrono::steady_clock::now() > end)
			return -1;
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
}

bool
tmux_running(tmux_session *s)
{
	return file_read(s->dir + "/rc").empty();
}

std::string
tmux_output(tmux_session *s)
{
	return file_read(s->dir + "/output");
}

std::string
tmux_stderr(tmux_session *s)
{
	return file_read(s->dir + "/stderr");
}

bool
tmux_wait_output_tail(tmux_session *s, const std::string &tail, int timeout_ms)
{
	auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	for (;;) {
		std::string out = tmux_output(s);
		if (out.size() >= tail.size() &&
		    out.compare(out.size() - tail.size(), tail.size(), tail) == 0)
			return true;
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
}

std::string
tmux_stty(tmux_session *s, bool after)
{
	return file_read(s->dir + (after ? "/stty.after" : "/stty.before"));
}

int
tmux_pid(tmux_session *s)
{
	// The wrapper shell's child is the program.
	std::string pid = file_read(s->dir + "/pid");
	if (pid.empty())
		return -1;
	std::string child = shell("pgrep -P " + std::to_string(atoi(pid.c_str())) + " | head -n 1");
	return child.empty() ? -1 : atoi(child.c_str());
}
