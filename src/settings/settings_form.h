#pragma once

// What the settings window's controls hold, as a plain value: the settings
// file loads into it and saves from it, the window binds its controls to it,
// and the command line edits it directly. collectShareOptions turns it into
// the ShareOptions of a run.

#include "base/expected.h"
#include "settings/ini_file.h"
#include "settings/share_options.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantorel {

inline constexpr std::string_view kSettingsFileName = "set.ini";
inline constexpr std::string_view kSettingsSection = "set";

// The keys of section "set", in the order a save writes them.
inline constexpr std::array<std::string_view, 15> kSettingsKeys = {
    "time",          "password",   "type",      "ShareType", "ShareTimeLong",
    "BeforWord",     "AfterWord",  "BeforZhui", "AfterZhui", "ShareNumber",
    "AfterContents", "isPassWord", "KeyWord",   "befor",     "after",
};

struct SettingsForm {
    // Edit boxes, as typed.
    std::string intervalText;     // "time": seconds between shares
    std::string password;         // "password": fixed extraction code
    std::string keywordBefore;    // "BeforWord"
    std::string keywordAfter;     // "AfterWord"
    std::string namePrefix;       // "BeforZhui"
    std::string nameSuffix;       // "AfterZhui"
    std::string dailyLimitText;   // "ShareNumber"
    std::string customSuffixText; // "AfterContents": custom suffix list of share by type

    // Drop-down lists, as item positions from 0.
    int shareTypeIndex = 0; // "ShareType": 0..4, see kShareTypeItems
    int periodIndex = 0;    // "ShareTimeLong": 0..3, see kPeriodItems

    // Rename check boxes.
    bool encryptName = false;    // "isPassWord"
    bool replaceKeyword = false; // "KeyWord"
    bool addPrefix = false;      // "befor"
    bool addSuffix = false;      // "after"

    // "type": the share-by-type radio button is checked. The depth-and-type
    // radio button stays checked either way.
    bool shareByType = false;

    bool operator==(const SettingsForm&) const = default;
};

// set.ini inside the given data directory.
std::filesystem::path settingsFilePath(const std::filesystem::path& dataDir);

// The key as spelled in kSettingsKeys, found without regard to ASCII case.
std::optional<std::string_view> canonicalSettingsKey(std::string_view key);

// Reads section "set". A missing file or key leaves the control at its
// default (the pause at "3", other texts empty, unchecked box, first item,
// depth-and-type radio); only
// the exact text "1" checks a box or the share-by-type radio; a list position
// other than one of its items' numbers leaves the first item chosen. A file
// that exists but cannot be read is an error; callers that must go on use
// SettingsForm{}.
Expected<SettingsForm> loadSettingsForm(const std::filesystem::path& file);

// The same reading over a document already in memory.
SettingsForm settingsFormFromIni(const IniDocument& doc);

// Writes all fifteen keys to section "set" in kSettingsKeys order (keys
// already in the file are rewritten where they stand), keeping every other
// line. The file is written as UTF-8. Nothing is written when a text holds a
// line break.
Status saveSettingsForm(const std::filesystem::path& file, const SettingsForm& form);

// The fifteen keys with the texts a save writes, in kSettingsKeys order.
std::vector<std::pair<std::string_view, std::string>> settingsEntries(const SettingsForm& form);

// Sets one control from a key and its text. The key is matched without
// regard to ASCII case; unknown keys, list positions outside the list, check
// values other than "0" and "1" and texts with line breaks are errors, so a
// mistyped value is reported instead of silently falling back to a default.
Status setFormValue(SettingsForm& form, std::string_view key, std::string_view value);

// "KEY=VALUE", split at the first '='; blanks around the key are ignored,
// the value is taken as written. Then as setFormValue.
Status applySettingOverride(SettingsForm& form, std::string_view assignment);

// Writes one key to section "set" of the file, checked as setFormValue checks
// it and under its canonical spelling; every other line stays.
Status setSettingsKey(const std::filesystem::path& file, std::string_view key,
                      std::string_view value);

// Whether the service would take `code` as a fixed extraction code: empty (a
// random code per share) or exactly four ASCII letters or digits. A longer
// one fails with kCodeTooLongMessage, any other with kCodeFormMessage.
Status checkExtractionCode(std::string_view code);

// The options of a run from the form. Fails as checkExtractionCode does. Integers are read as
// leading decimal integers after full-width folding; an interval of 0 becomes 3 seconds. Rename
// mode: encrypt (1), else keyword replacement (2), else none (0); then prefix (3), suffix (4),
// prefix and suffix (5) override it. The texts of a mode are taken only when
// that mode was chosen; the others stay empty. A list position outside its
// list counts as the first item.
Expected<ShareOptions> collectShareOptions(const SettingsForm& form);

} // namespace vantorel
