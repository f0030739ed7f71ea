// Transcripts of the real daemon (tests/data/*.transcript, made by
// tests/data/capture.py): "> request" lines, each followed by a "< reply"
// line with \n, \t, \\ and \xHH escapes.
#pragma once

#include <string>
#include <utility>
#include <vector>

using transcript = std::vector<std::pair<std::string, std::string>>;

// The request and decoded reply pairs of the transcript at `path`, in file
// order; false when the file cannot be read.
bool transcript_read(const std::string &path, transcript *out);
// One reply line's text decoded.
std::string transcript_unescape(const std::string &s);
