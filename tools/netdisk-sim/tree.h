#pragma once

// The simulated account's folder tree: what /api/list shows, what /share/set
// and the rename request act on.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace netdisk_sim {

struct Entry {
    std::uint64_t fsId = 0;
    std::string name;
    std::string path; // "/" for the root, otherwise "/a/b"
    bool isDir = false;
    std::uint64_t size = 0;
    std::string md5; // 32 lower-case hex digits; empty for folders
    std::int64_t ctime = 0;
    std::int64_t mtime = 0;
    int category = 6;
    bool thumbs = false; // the listing carries thumbnail addresses
    std::uint64_t parent = 0;
    std::vector<std::uint64_t> children;
};

// What a rename answers per item, in the service's errno terms.
enum class RenameResult { Ok = 0, NotFound = -9, BadName = -7, Exists = -8 };

class Tree {
public:
    static constexpr std::uint64_t kRootId = 0;

    Tree();

    // Folder A (a1.txt, B with b1.jpg, C with c1.pdf) and a few more entries
    // whose names hold Chinese characters, blanks, apostrophes and underscores.
    static Tree makeDefault();

    // `files` files over `folders` nested folders (-1 picks a number from the
    // count, 0 puts every file in the root); the same seed gives the same tree.
    static Tree generate(std::size_t files, std::uint64_t seed, int folders);

    // The tree file format of the README. On failure returns nothing and sets
    // `error` to a message naming the offending entry.
    static std::optional<Tree> fromJson(std::string_view text, std::string& error);

    // The same format, every field filled in (a dump loads again as it is).
    std::string toJson() const;

    const Entry& root() const { return byId_.at(kRootId); }
    const Entry* findPath(std::string_view path) const;
    const Entry* findId(std::uint64_t fsId) const;
    std::vector<const Entry*> children(const Entry& dir) const;

    // Renames in place; the paths of everything below a renamed folder move
    // with it. Renaming to the current name succeeds without a change.
    RenameResult rename(std::string_view path, std::string_view newName);

    std::size_t fileCount() const { return files_; }
    std::size_t folderCount() const { return folders_; }

    // "/" stays "/"; otherwise a leading "/" is ensured and repeated or
    // trailing slashes are dropped.
    static std::string normalisePath(std::string_view path);
    static bool isValidName(std::string_view name);
    static int categoryOf(std::string_view name);

private:
    friend struct TreeLoader;

    Entry& add(std::uint64_t parent, Entry entry);
    void repath(std::uint64_t id, const std::string& parentPath);

    std::unordered_map<std::uint64_t, Entry> byId_;
    std::unordered_map<std::string, std::uint64_t> byPath_;
    std::size_t files_ = 0;
    std::size_t folders_ = 0;
};

} // namespace netdisk_sim
