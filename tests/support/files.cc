#include "files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

std::string
file_read(const std::string &path)
{
	std::string out;
	char buf[4096];
	int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	ssize_t n;

	if (fd == -1)
		return out;
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		out.append(buf, static_cast<size_t>(n));
	close(fd);
	return out;
}

bool
file_write(const std::string &path, const std::string &data)
{
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
	    0600);
	if (fd == -1)
		return false;
	bool ok = write(fd, data.data(), data.size()) ==
	    static_cast<ssize_t>(data.size());
	return close(fd) == 0 && ok;
}

std::vector<std::string>
text_lines(const std::string &text)
{
	std::vector<std::string> lines;
	std::istringstream in(text);
	for (std::string line; std::getline(in, line);)
		lines.push_back(line);
	return lines;
}

std::vector<std::string>
file_lines(const std::string &path)
{
	return text_lines(file_read(path));
}

std::string
text_trim(const std::string &s)
{
	size_t a = s.find_first_not_of(" \t\r");
	if (a == std::string::npos)
		return "";
	return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

std::string
command_find(const std::string &name)
{
	std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";
	path += ":/usr/local/sbin:/usr/sbin:/sbin:/usr/bin:/bin";
	size_t start = 0;

	while (start <= path.size()) {
		size_t colon = path.find(':', start);
		std::string dir = path.substr(start, colon - start);
		std::string full = dir + "/" + name;
		if (!dir.empty() && access(full.c_str(), X_OK) == 0)
			return full;
		if (colon == std::string::npos)
			break;
		start = colon + 1;
	}
	return "";
}
