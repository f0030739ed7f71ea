// Files, text and programs for the tests and benchmarks: a whole file
// read or written at once, lines split or trimmed, and a program found.
#pragma once

#include <string>
#include <vector>

// The bytes of a file, "" when it cannot be read.
std::string file_read(const std::string &path);
// Writes `data` to a new file of mode 0600 (replacing one there); false
// when it could not be written whole.
bool file_write(const std::string &path, const std::string &data);
// The lines of a text (a last line without its newline included) and of
// a file.
std::vector<std::string> text_lines(const std::string &text);
std::vector<std::string> file_lines(const std::string &path);
// `s` without the blanks (space, tab, carriage return) at either end.
std::string text_trim(const std::string &s);
// The path of a program in PATH or in the system directories (which a
// root shell has but a test environment may lack), or "".
std::string command_find(const std::string &name);
