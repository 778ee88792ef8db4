#include "share/rename_rules.h"

#include "base/text.h"

#include <atomic>
#include <chrono>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define VANTOREL_HAVE_TSC 1
#elif defined(_M_X64) || defined(_M_IX86)
#include <intrin.h>
#define VANTOREL_HAVE_TSC 1
#endif

namespace vantorel {
namespace {

std::uint32_t counterLowBits() {
#ifdef VANTOREL_HAVE_TSC
    return static_cast<std::uint32_t>(__rdtsc());
#else
    // Two draws in quick succession may see the same clock tick; the sequence
    // number makes sure the counter still moves between them.
    static std::atomic<std::uint32_t> sequence{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<std::uint32_t>(ticks) + sequence.fetch_add(7919, std::memory_order_relaxed);
#endif
}

} // namespace

unsigned randomInRange(unsigned lo, unsigned hi) {
    const std::uint32_t t = counterLowBits();
    const std::uint32_t r = ((t * 214013u + 2531011u) >> 16) & 0x7FFFu;
    return lo + (r % (hi - lo + 1u));
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
    case kRenameEncrypt:
        return randomDigits(8) + randomLowercase(8) + pathExtension(entry.path);
    case kRenameKeyword:
        return replaceAll(entry.server_filename, rule.keywordBefore, rule.keywordAfter);
    case kRenamePrefix:
        return rule.namePrefix + entry.server_filename;
    case kRenameSuffix:
        return entry.server_filename + rule.nameSuffix;
    case kRenameAffixBoth:
        return rule.namePrefix + entry.server_filename + rule.nameSuffix;
    default:
        break;
    }
    return {};
}

std::string renamedPath(std::string_view path, std::string_view oldName, std::string_view newName) {
    return replaceAll(path, oldName, newName);
}

} // namespace vantorel
