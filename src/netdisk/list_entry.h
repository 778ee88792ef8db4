#pragma once

#include <cstdint>
#include <string>

namespace vantorel {

// One file or folder as the service lists it. Folder entries carry only the
// first four fields; whether an entry is a folder is told by the list that
// holds it, not by the entry.
struct ListEntry {
    std::string server_filename;
    std::string path;
    std::string local_ctime;
    std::string fs_id;
    std::string md5;
    std::string size; // already formatted by formatSizeText
    std::string thumbs_url3;

    friend bool operator==(const ListEntry&, const ListEntry&) = default;
};

// The size text every file entry carries: one decimal and a unit letter
// (K, M or G), e.g. 0.5K, 1024.0M, 1.5G.
std::string formatSizeText(std::int64_t bytes);

} // namespace vantorel
