// What /proc tells about a process (Linux): its status fields, whether it
// is gone, and the local sockets it has bound.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The text after "<field>:" in /proc/<pid>/status ("VmRSS", "SigCgt"),
// blanks and unit included; "" when there is no such field.
std::string proc_status_field(pid_t pid, const char *field);
// A size field of /proc/<pid>/status ("VmRSS", "VmHWM") in kB, or -1.
long proc_status_kb(pid_t pid, const char *field);
// Whether the process is gone (or a zombie waiting for its parent).
bool process_gone(pid_t pid);
// The paths of the local sockets that process `pid` has bound, as its own
// network namespace lists them.
std::vector<std::string> process_socket_paths(pid_t pid);
// The directory of the first local socket `pid` has bound under /tmp (the
// client end of its control connection), or "".
std::string bound_socket_dir(pid_t pid);
