// Keeping the program's memory (typed passphrases among it) out of core
// files and away from debuggers of the same user.
#include <sys/resource.h>
#ifdef HAVE_SYS_PRCTL_H
#include <sys/prctl.h>
#endif
#ifdef HAVE_SYS_PROCCTL_H
#include <sys/procctl.h>
#endif

#include "platform.h"

int
core_dumps_off(void)
{
	// The hard limit too, so that nothing later in the process raises it
	// again without privilege.
	struct rlimit none = {0, 0};
	if (setrlimit(RLIMIT_CORE, &none) == -1)
		return -1;
#if defined(HAVE_SYS_PRCTL_H)
	// Not dumpable: no core even where the limit is raised again or a
	// core handler ignores it, and no tracing by other processes.
	if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == -1)
		return -1;
#elif defined(HAVE_SYS_PROCCTL_H)
	int mode = PROC_TRACE_CTL_DISABLE;
	if (procctl(P_PID, 0, PROC_TRACE_CTL, &mode) == -1)
		return -1;
#endif
	return 0;
}
