#pragma once

// Trees in the simulator's file format, for tests that need many items.

#include <string>

namespace vantorel::test {

// `count` file entries (JSON objects joined by ",", no brackets) named
// f00000.bin, f00001.bin, ..., each with an MD5 and an fs_id of its own
// (counted from `firstId`), newest first.
std::string uniqueFilesJson(int count, int firstId = 0);

// A tree of one folder `name` holding `count` such files and, when
// `subFolderFiles` is above 0, a sub-folder "sub" (listed after the files)
// holding that many more.
std::string bigFolderTree(const std::string& name, int count, int subFolderFiles = 0);

} // namespace vantorel::test
