#pragma once

// The values that steer one share run. A run takes a copy of them when it
// starts, so a save in the settings window never changes a run in progress.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vantorel {

// What a share of the open folder takes from it: the item of the share-type
// list, counted from 1.
enum class ShareType : int {
    FilesAndFolders = 1,       // its files, then its folders (not what they hold)
    Files = 2,                 // its files
    Folders = 3,               // its folders
    FilesWithSubfolders = 4,   // every file, those in sub-folders too
    FoldersWithSubfolders = 5, // every folder, sub-folders too
};

// Whether the walk lists the sub-folders' contents too.
constexpr bool descendsIntoSubfolders(ShareType type) {
    return type == ShareType::FilesWithSubfolders || type == ShareType::FoldersWithSubfolders;
}
// Whether a run over the folder shares its files, and its folders. A type
// outside the list shares neither.
constexpr bool sharesFiles(ShareType type) {
    return type == ShareType::FilesAndFolders || type == ShareType::Files ||
           type == ShareType::FilesWithSubfolders;
}
constexpr bool sharesFolders(ShareType type) {
    return type == ShareType::FilesAndFolders || type == ShareType::Folders ||
           type == ShareType::FoldersWithSubfolders;
}

// How items are renamed once their link exists.
enum class RenameMode : int {
    None = 0,
    RandomName = 1,         // eight digits, eight letters, the extension kept
    ReplaceKeyword = 2,     // keywordBefore replaced by keywordAfter
    AddPrefix = 3,          // namePrefix + name
    AddSuffix = 4,          // name + nameSuffix
    AddPrefixAndSuffix = 5, // namePrefix + name + nameSuffix
};

inline constexpr int kDefaultIntervalSeconds = 3;

// The defaults are what a missing settings file gives.
struct ShareOptions {
    ShareType shareType = ShareType::FilesAndFolders; // item of kShareTypeItems, from 1
    int dailyLimit = 0;   // successful shares after which the run ends; <= 0: no limit
    std::string password; // fixed extraction code, 4 ASCII letters or digits; empty: random
    int intervalSeconds = kDefaultIntervalSeconds; // pause after each item
    std::string period = "0"; // validity sent with each share: "0", "30", " 7" or "1"
    RenameMode renameMode = RenameMode::None;
    std::string keywordBefore;
    std::string keywordAfter;
    std::string namePrefix;
    std::string nameSuffix;

    bool operator==(const ShareOptions&) const = default;
};

// Items of the share-type list, in order; shareType is the position plus one.
inline constexpr std::array<std::string_view, 5> kShareTypeItems = {
    "当前 目录下 所有文件和文件夹 (不分享 文件夹内的文件)",
    "当前 目录下 所有文件 (不分享 文件夹)",
    "当前 目录下 所有文件夹 (不分享 文件)",
    "当前 目录下 所有文件 (包含 子文件夹内的文件)",
    "当前 目录下 所有文件夹 (包含 子文件夹内的文件夹)",
};

// Items of the validity list and the period each one sends. The seven-day
// value is " 7" with a leading blank, and is sent that way.
inline constexpr std::array<std::string_view, 4> kPeriodItems = {
    "永久 有效",
    "三十天 有效",
    "七天 有效",
    "一天 有效",
};
inline constexpr std::array<std::string_view, 4> kPeriodValues = {"0", "30", " 7", "1"};

// The messages for a fixed extraction code the service would refuse: one
// longer than four bytes (in GBK, as the code was always measured), and one
// that is not four ASCII letters or digits.
inline constexpr std::string_view kCodeTooLongMessage = "提取密码,不能大于4位";
inline constexpr std::string_view kCodeFormMessage = "提取密码必须是4位数字和字母组合";
inline constexpr std::size_t kMaxCodeBytes = 4;

} // namespace vantorel
