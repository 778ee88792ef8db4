// set.ini as the user may have left it: read into the settings, the run's
// options drawn from them, one key written and the file read back.

#include "settings/ini_file.h"
#include "settings/settings_form.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

using namespace vantorel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(16);
    const std::string key = input.ConsumeRandomLengthString(16);
    const std::string value = input.ConsumeRandomLengthString(64);
    const std::string bytes = input.ConsumeRemainingBytesAsString();

    IniDocument doc = IniDocument::fromBytes(bytes);
    SettingsForm form = settingsFormFromIni(doc);
    (void)collectShareOptions(form);
    (void)settingsEntries(form);
    (void)doc.get(section, key);

    // A value that was written reads back as written.
    if (doc.set(section, key, value)) {
        const IniDocument again = IniDocument::fromBytes(doc.toBytes());
        const auto read = again.get(section, key);
        if (!read || *read != value) {
            std::fprintf(stderr, "[%s] %s=%s read back as %s\n", section.c_str(), key.c_str(),
                         value.c_str(), read ? read->c_str() : "(nothing)");
            std::abort();
        }
    }
    // So do the settings a save writes.
    for (const auto& [name, text] : settingsEntries(form)) {
        if (Status written = doc.set(kSettingsSection, name, text); !written)
            std::fprintf(stderr, "%s\n", written.error().message.c_str());
    }
    const SettingsForm reread = settingsFormFromIni(IniDocument::fromBytes(doc.toBytes()));
    if (!(reread == form)) {
        std::fprintf(stderr, "the saved settings read back differently:\n");
        const auto before = settingsEntries(form);
        const auto after = settingsEntries(reread);
        for (std::size_t i = 0; i < before.size(); ++i)
            if (before[i].second != after[i].second)
                std::fprintf(stderr, "  %.*s: [%s] became [%s]\n",
                             static_cast<int>(before[i].first.size()), before[i].first.data(),
                             before[i].second.c_str(), after[i].second.c_str());
        const std::string written = doc.toBytes();
        std::fwrite(written.data(), 1, written.size(), stderr);
        std::abort();
    }
    (void)setFormValue(form, key, value);
    return 0;
}
