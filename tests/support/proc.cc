#include "proc.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "files.h"

static std::string
proc_path(pid_t pid, const char *file)
{
	return "/proc/" + std::to_string(pid) + "/" + file;
}

std::string
proc_status_field(pid_t pid, const char *field)
{
	std::string prefix = std::string(field) + ":";

	for (const std::string &line : file_lines(proc_path(pid, "status")))
		if (line.starts_with(prefix))
			return line.substr(prefix.size());
	return "";
}

long
proc_status_kb(pid_t pid, const char *field)
{
	std::string value = proc_status_field(pid, field);
	return value.empty() ? -1 : atol(value.c_str());
}

bool
process_gone(pid_t pid)
{
	std::string stat = file_read(proc_path(pid, "stat"));
	if (stat.empty())
		return true;
	size_t paren = stat.rfind(')');
	return paren != std::string::npos && paren + 2 < stat.size() &&
	    stat[paren + 2] == 'Z';
}

std::vector<std::string>
process_socket_paths(pid_t pid)
{
	std::string fd_dir = proc_path(pid, "fd");
	std::vector<std::string> inodes, paths;

	if (DIR *d = opendir(fd_dir.c_str()); d != nullptr) {
		while (struct dirent *de = readdir(d)) {
			char target[64];
			std::string link = fd_dir + "/" + de->d_name;
			ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
			if (n <= 0)
				continue;
			target[n] = '\0';
			if (strncmp(target, "socket:[", 8) == 0)
				inodes.emplace_back(target + 8,
				    strcspn(target + 8, "]"));
		}
		closedir(d);
	}
	// Num RefCount Protocol Flags Type St Inode Path
	for (const std::string &line : file_lines(proc_path(pid, "net/unix"))) {
		std::istringstream f(line);
		std::string w[8];
		for (std::string &x : w)
			f >> x;
		if (w[7].empty())
			continue;
		for (const std::string &inode : inodes)
			if (w[6] == inode)
				paths.push_back(w[7]);
	}
	return paths;
}

std::string
bound_socket_dir(pid_t pid)
{
	for (const std::string &path : process_socket_paths(pid))
		if (path.starts_with("/tmp/"))
			return path.substr(0, path.rfind('/'));
	return "";
}
