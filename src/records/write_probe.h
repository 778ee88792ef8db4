#pragma once

// Why a file cannot be written, asked of the system itself. SQLite reports a
// read-only folder as "unable to open database file", which sends the user
// looking in the wrong place; the folder, the file and the free space say
// what is really wrong.

#include <filesystem>
#include <string>

namespace vantorel {

// The first of these that holds, in the user's terms with the system's own
// text in brackets: the folder of `file` cannot be written, the file cannot
// be written, the disk is full. Otherwise the system's text for
// `systemError`, or empty when that is 0 too.
std::string whyNotWritable(const std::filesystem::path& file, int systemError);

} // namespace vantorel
