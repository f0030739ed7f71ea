// Core dumps stay off for the run, even with the limit raised again.
#include <sys/resource.h>
#include <sys/wait.h>
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform.h"

namespace {

enum class child_step { none, off, off_then_raise };

struct core_result {
	bool aborted;   // the child ended by SIGABRT
	bool dumped;    // the kernel says it dumped a core, or a file appeared
};

// Files in `dir`, removed as they are counted.
int
empty_dir(const std::string &dir)
{
	int n = 0;
	DIR *d = opendir(dir.c_str());
	if (d == nullptr)
		return 0;
	while (struct dirent *e = readdir(d)) {
		std::string name = e->d_name;
		if (name == "." || name == "..")
			continue;
		unlink((dir + "/" + name).c_str());
		n++;
	}
	closedir(d);
	return n;
}

// A child in an empty directory allows cores of any size ("ulimit -c
// unlimited"), takes `step`, and aborts.
core_result
abort_child(child_step step)
{
	char dir[] = "/tmp/corvid-core.XXXXXX";
	EXPECT_NE(mkdtemp(dir), nullptr);
	pid_t pid = fork();
	if (pid == 0) {
		struct rlimit any = {RLIM_INFINITY, RLIM_INFINITY};
		if (chdir(dir) == -1 || setrlimit(RLIMIT_CORE, &any) == -1)
			_exit(2);
		if (step != child_step::none && core_dumps_off() == -1)
			_exit(3);
		struct rlimit now;
		if (step != child_step::none &&
		    (getrlimit(RLIMIT_CORE, &now) == -1 || now.rlim_cur != 0 ||
		    now.rlim_max != 0))
			_exit(4);
		// With privilege the limit can be raised again; without, it
		// cannot, which is as good.
		if (step == child_step::off_then_raise)
			(void)setrlimit(RLIMIT_CORE, &any);
		signal(SIGABRT, SIG_DFL);
		abort();
	}
	int status = 0;
	EXPECT_EQ(waitpid(pid, &status, 0), pid);
	core_result r{WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT, false};
	if (!r.aborted)
		ADD_FAILURE() << "child status " << status;
	r.dumped = (r.aborted && WCOREDUMP(status)) || empty_dir(dir) > 0;
	rmdir(dir);
	return r;
}

TEST(platform_coredump, no_core_even_with_the_limit_raised)
{
	// Without the switch this process dumps a core here; where the
	// system keeps it from doing so anyway, there is nothing to show.
	if (!abort_child(child_step::none).dumped)
		GTEST_SKIP() << "this system dumps no cores of this process";
	core_result off = abort_child(child_step::off);
	EXPECT_TRUE(off.aborted);
	EXPECT_FALSE(off.dumped);
	core_result raised = abort_child(child_step::off_then_raise);
	EXPECT_TRUE(raised.aborted);
	EXPECT_FALSE(raised.dumped) << "a raised limit brings cores back";
}

} // namespace
