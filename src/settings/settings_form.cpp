#include "settings/settings_form.h"

#include "base/gbk.h"
#include "base/text.h"
#include "settings/ini_file.h"

#include <algorithm>
#include <string>

namespace vantorel {

namespace {

enum class Control { Text, List, Check };

struct KeyBinding {
    Control control;
    std::string SettingsForm::*text = nullptr;
    int SettingsForm::*position = nullptr;
    bool SettingsForm::*checked = nullptr;
    int items = 0; // lists only
};

// One entry per key of kSettingsKeys, in the same order.
KeyBinding bindingOf(std::size_t index) {
    using F = SettingsForm;
    static const std::array<KeyBinding, kSettingsKeys.size()> bindings = {{
        {Control::Text, &F::intervalText},
        {Control::Text, &F::password},
        {Control::Check, nullptr, nullptr, &F::shareByType},
        {Control::List, nullptr, &F::shareTypeIndex, nullptr,
         static_cast<int>(kShareTypeItems.size())},
        {Control::List, nullptr, &F::periodIndex, nullptr, static_cast<int>(kPeriodItems.size())},
        {Control::Text, &F::keywordBefore},
        {Control::Text, &F::keywordAfter},
        {Control::Text, &F::namePrefix},
        {Control::Text, &F::nameSuffix},
        {Control::Text, &F::dailyLimitText},
        {Control::Text, &F::customSuffixText},
        {Control::Check, nullptr, nullptr, &F::encryptName},
        {Control::Check, nullptr, nullptr, &F::replaceKeyword},
        {Control::Check, nullptr, nullptr, &F::addPrefix},
        {Control::Check, nullptr, nullptr, &F::addSuffix},
    }};
    return bindings[index];
}

std::optional<std::size_t> keyIndex(std::string_view key) {
    for (std::size_t i = 0; i < kSettingsKeys.size(); ++i) {
        if (equalsIgnoreCase(kSettingsKeys[i], key))
            return i;
    }
    return std::nullopt;
}

// The list position a value names: exactly one of "0".."items-1".
std::optional<int> listPosition(std::string_view value, int items) {
    if (value.size() != 1 || value[0] < '0' || value[0] >= '0' + items)
        return std::nullopt;
    return value[0] - '0';
}

// The load rules: anything unexpected leaves the control at its default.
void loadValue(SettingsForm& form, std::size_t index, std::string_view value) {
    const KeyBinding binding = bindingOf(index);
    switch (binding.control) {
    case Control::Text:
        form.*binding.text = std::string(value);
        break;
    case Control::List:
        form.*binding.position = listPosition(value, binding.items).value_or(0);
        break;
    case Control::Check:
        form.*binding.checked = value == "1";
        break;
    }
}

std::string savedValue(const SettingsForm& form, std::size_t index) {
    const KeyBinding binding = bindingOf(index);
    switch (binding.control) {
    case Control::Text:
        return form.*binding.text;
    case Control::List:
        return std::to_string(form.*binding.position);
    case Control::Check:
        return form.*binding.checked ? "1" : "0";
    }
    return {};
}

// The stricter rules for values a user types as a command-line assignment.
Status checkValue(std::size_t index, std::string_view value) {
    const KeyBinding binding = bindingOf(index);
    const std::string key(kSettingsKeys[index]);
    if (value.find_first_of("\r\n") != std::string_view::npos ||
        value.find('\0') != std::string_view::npos)
        return Error{"the value of " + key + " cannot hold a line break"};
    switch (binding.control) {
    case Control::Text:
        return {};
    case Control::List:
        if (!listPosition(value, binding.items))
            return Error{key + " must be a number from 0 to " + std::to_string(binding.items - 1) +
                         ", not \"" + std::string(value) + "\""};
        return {};
    case Control::Check:
        if (value != "0" && value != "1")
            return Error{key + " must be 0 or 1, not \"" + std::string(value) + "\""};
        return {};
    }
    return {};
}

Error unknownKey(std::string_view key) {
    std::string known;
    for (std::string_view k : kSettingsKeys) {
        if (!known.empty())
            known += ", ";
        known += k;
    }
    return Error{"unknown settings key \"" + std::string(key) + "\" (known keys: " + known + ")"};
}

template <std::size_t N>
std::string_view itemOrFirst(const std::array<std::string_view, N>& items, int position) {
    return position >= 0 && static_cast<std::size_t>(position) < N ? items[position] : items[0];
}

} // namespace

std::filesystem::path settingsFilePath(const std::filesystem::path& dataDir) {
    return dataDir / std::string(kSettingsFileName);
}

std::optional<std::string_view> canonicalSettingsKey(std::string_view key) {
    const auto index = keyIndex(key);
    if (!index)
        return std::nullopt;
    return kSettingsKeys[*index];
}

Expected<SettingsForm> loadSettingsForm(const std::filesystem::path& file) {
    auto doc = IniDocument::load(file);
    if (!doc)
        return doc.error();
    return settingsFormFromIni(*doc);
}

SettingsForm settingsFormFromIni(const IniDocument& doc) {
    SettingsForm form;
    // The pause is the one key whose default is not an empty box: a file
    // without it shows the 3 seconds a run would wait.
    form.intervalText = std::to_string(kDefaultIntervalSeconds);
    for (std::size_t i = 0; i < kSettingsKeys.size(); ++i) {
        if (const auto value = doc.get(kSettingsSection, kSettingsKeys[i]))
            loadValue(form, i, *value);
    }
    return form;
}

std::vector<std::pair<std::string_view, std::string>> settingsEntries(const SettingsForm& form) {
    std::vector<std::pair<std::string_view, std::string>> entries;
    entries.reserve(kSettingsKeys.size());
    for (std::size_t i = 0; i < kSettingsKeys.size(); ++i)
        entries.emplace_back(kSettingsKeys[i], savedValue(form, i));
    return entries;
}

Status saveSettingsForm(const std::filesystem::path& file, const SettingsForm& form) {
    auto doc = IniDocument::load(file);
    if (!doc)
        return doc.error();
    for (const auto& [key, value] : settingsEntries(form)) {
        if (Status set = doc->set(kSettingsSection, key, value); !set)
            return set;
    }
    return doc->save(file);
}

Status setFormValue(SettingsForm& form, std::string_view key, std::string_view value) {
    const auto index = keyIndex(key);
    if (!index)
        return unknownKey(key);
    if (Status checked = checkValue(*index, value); !checked)
        return checked;
    loadValue(form, *index, value);
    return {};
}

Status applySettingOverride(SettingsForm& form, std::string_view assignment) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string_view::npos)
        return Error{"expected KEY=VALUE, not \"" + std::string(assignment) + "\""};
    std::string_view key = assignment.substr(0, equals);
    while (!key.empty() && (key.front() == ' ' || key.front() == '\t'))
        key.remove_prefix(1);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
        key.remove_suffix(1);
    return setFormValue(form, key, assignment.substr(equals + 1));
}

Status setSettingsKey(const std::filesystem::path& file, std::string_view key,
                      std::string_view value) {
    const auto index = keyIndex(key);
    if (!index)
        return unknownKey(key);
    if (Status checked = checkValue(*index, value); !checked)
        return checked;
    auto doc = IniDocument::load(file);
    if (!doc)
        return doc.error();
    if (Status set = doc->set(kSettingsSection, kSettingsKeys[*index], value); !set)
        return set;
    return doc->save(file);
}

Status checkExtractionCode(std::string_view code) {
    if (code.empty())
        return {};
    // The service refuses anything else (errno 2), and a code every share
    // would refuse only shows itself as a run of failures.
    if (utf8ToGbk(code).size() > kMaxCodeBytes)
        return Error{std::string(kCodeTooLongMessage)};
    const bool letterOrDigit = std::all_of(code.begin(), code.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
    if (code.size() != kMaxCodeBytes || !letterOrDigit)
        return Error{std::string(kCodeFormMessage)};
    return {};
}

Expected<ShareOptions> collectShareOptions(const SettingsForm& form) {
    if (Status code = checkExtractionCode(form.password); !code)
        return code.error();

    ShareOptions options;
    const bool shareTypeKnown =
        form.shareTypeIndex >= 0 &&
        static_cast<std::size_t>(form.shareTypeIndex) < kShareTypeItems.size();
    options.shareType = shareTypeKnown ? static_cast<ShareType>(form.shareTypeIndex + 1)
                                       : ShareType::FilesAndFolders;
    options.dailyLimit = textToInt(form.dailyLimitText);
    options.password = form.password;
    options.intervalSeconds = textToInt(form.intervalText);
    if (options.intervalSeconds == 0)
        options.intervalSeconds = kDefaultIntervalSeconds;
    options.period = std::string(itemOrFirst(kPeriodValues, form.periodIndex));

    if (form.encryptName) {
        options.renameMode = RenameMode::RandomName;
    } else if (form.replaceKeyword) {
        options.renameMode = RenameMode::ReplaceKeyword;
        options.keywordBefore = form.keywordBefore;
        options.keywordAfter = form.keywordAfter;
    } else {
        options.renameMode = RenameMode::None;
    }
    if (form.addPrefix) {
        options.renameMode = RenameMode::AddPrefix;
        options.namePrefix = form.namePrefix;
    }
    if (form.addSuffix) {
        options.renameMode = RenameMode::AddSuffix;
        options.nameSuffix = form.nameSuffix;
    }
    if (form.addPrefix && form.addSuffix)
        options.renameMode = RenameMode::AddPrefixAndSuffix;
    return options;
}

} // namespace vantorel
