#include "share/rename_rules.h"

#include "base/text.h"

#include <cerrno>
#include <cstdint>
#include <random>

#if defined(__linux__)
#include <sys/random.h>
#endif

namespace vantorel {
namespace {

// 32 bits from the system's random source. getrandom blocks only until the
// kernel's pool is first seeded, which on a running desktop has happened
// long before.
std::uint32_t systemRandom32() {
    std::uint32_t value = 0;
#if defined(__linux__)
    auto* bytes = reinterpret_cast<unsigned char*>(&value);
    std::size_t got = 0;
    while (got < sizeof value) {
        const ssize_t n = ::getrandom(bytes + got, sizeof value - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (errno != EINTR) {
            break; // a kernel without getrandom: the library's device below
        }
    }
    if (got == sizeof value)
        return value;
#endif
    static thread_local std::random_device device;
    return device();
}

} // namespace

unsigned randomInRange(unsigned lo, unsigned hi) {
    const std::uint64_t span = static_cast<std::uint64_t>(hi) - lo + 1;
    // Draws above the largest multiple of the span are drawn again, so that
    // every value is equally likely.
    const std::uint64_t limit = (std::uint64_t{1} << 32) / span * span;
    std::uint64_t draw = 0;
    do {
        draw = systemRandom32();
    } while (draw >= limit);
    return lo + static_cast<unsigned>(draw % span);
}

std::string randomLowercase(int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out.push_back(static_cast<char>(randomInRange('a', 'z')));
    return out;
}

std::string randomDigits(int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out.push_back(static_cast<char>('0' + randomInRange(0, 9)));
    return out;
}

std::string makeExtractionCode(std::string_view password) {
    if (!password.empty())
        return std::string(password);
    return randomLowercase(2) + randomDigits(2);
}

std::string pathExtension(std::string_view path) {
    if (const std::size_t slash = path.rfind('/'); slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    // UTF-8 continuation bytes never equal '.', '\\' or ' ', so a byte walk
    // sees the same separators as a character walk.
    std::size_t dot = std::string_view::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '.')
            dot = i;
        else if (path[i] == '\\' || path[i] == ' ')
            dot = std::string_view::npos;
    }
    return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

std::string newNameFor(const ListEntry& entry, const ShareOptions& rule) {
    switch (rule.renameMode) {
    case RenameMode::RandomName:
        return randomDigits(8) + randomLowercase(8) + pathExtension(entry.server_filename);
    case RenameMode::ReplaceKeyword:
        return replaceAll(entry.server_filename, rule.keywordBefore, rule.keywordAfter);
    case RenameMode::AddPrefix:
        return rule.namePrefix + entry.server_filename;
    case RenameMode::AddSuffix:
        return entry.server_filename + rule.nameSuffix;
    case RenameMode::AddPrefixAndSuffix:
        return rule.namePrefix + entry.server_filename + rule.nameSuffix;
    default:
        break;
    }
    return {};
}

std::string renamedPath(std::string_view path, std::string_view newName) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return std::string(newName);
    return std::string(path.substr(0, slash + 1)) + std::string(newName);
}

} // namespace vantorel
