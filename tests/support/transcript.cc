#include "transcript.h"

#include <unistd.h>

#include <cstdlib>

#include "files.h"

std::string
transcript_unescape(const std::string &s)
{
	std::string out;
	for (size_t i = 0; i < s.size(); i++) {
		if (s[i] != '\\' || i + 1 == s.size()) {
			out += s[i];
			continue;
		}
		char c = s[++i];
		if (c == 'n')
			out += '\n';
		else if (c == 't')
			out += '\t';
		else if (c == 'x' && i + 2 < s.size()) {
			out += static_cast<char>(strtol(s.substr(i + 1, 2).c_str(),
			    nullptr, 16));
			i += 2;
		} else
			out += c;
	}
	return out;
}

bool
transcript_read(const std::string &path, transcript *out)
{
	std::string req;

	out->clear();
	if (access(path.c_str(), R_OK) != 0)
		return false;
	for (const std::string &line : file_lines(path)) {
		if (line.starts_with("> "))
			req = line.substr(2);
		else if (line.starts_with("< ") || line == "<")
			out->emplace_back(req, transcript_unescape(line.size() > 2 ?
			    line.substr(2) : ""));
	}
	return true;
}
