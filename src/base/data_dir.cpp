#include "base/data_dir.h"

#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <cstdio>
#include <windows.h>
#else
#include <unistd.h>
#endif
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif
#if defined(__FreeBSD__)
#include <sys/sysctl.h>
#include <sys/types.h>
#endif

namespace vantorel {
namespace fs = std::filesystem;

namespace {

std::string utf8Of(const fs::path& p) {
    const std::u8string u = p.u8string();
    return std::string(u.begin(), u.end());
}

// Environment values are UTF-8 here (see processEnvironment); on POSIX the
// bytes are the file name as they are.
fs::path pathOfUtf8(const std::string& text) {
#if defined(_WIN32)
    return fs::path(std::u8string(text.begin(), text.end()));
#else
    return fs::path(text);
#endif
}

std::optional<std::string> nonEmpty(const EnvLookup& env, std::string_view name) {
    if (!env)
        return std::nullopt;
    std::optional<std::string> value = env(name);
    if (!value || value->empty())
        return std::nullopt;
    return value;
}

// Makes `dir` absolute and creates it when missing; `what` names where the
// choice came from, so that the user knows which setting to correct.
Expected<fs::path> prepare(const fs::path& dir, std::string_view what) {
    std::error_code ec;
    fs::path absolute = fs::absolute(dir, ec);
    if (ec)
        return Error{std::string(what) + " '" + utf8Of(dir) + "' cannot be used: " + ec.message(),
                     ec.value()};
    absolute = absolute.lexically_normal();
    fs::create_directories(absolute, ec);
    if (ec && !fs::is_directory(absolute))
        return Error{std::string(what) + " '" + utf8Of(absolute) +
                         "' cannot be created: " + ec.message(),
                     ec.value()};
    if (!fs::is_directory(absolute, ec))
        return Error{std::string(what) + " '" + utf8Of(absolute) + "' is not a directory",
                     ec.value()};
    return absolute;
}

// A copy installed with the system's programs is never the portable layout,
// whoever runs it.
bool isSystemLocation(const fs::path& dir) {
#if defined(_WIN32)
    (void)dir;
    return false;
#else
    const fs::path normal = dir.lexically_normal();
    auto it = normal.begin();
    if (it == normal.end() || *it != "/")
        return false;
    ++it;
    if (it == normal.end())
        return true; // the root directory itself
    return *it == "usr" || *it == "bin" || *it == "sbin";
#endif
}

bool isWritableDirectory(const fs::path& dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return false;
#if defined(_WIN32)
    // Access rights on Windows are ACLs; trying is the only reliable test.
    const fs::path probe = dir / L".vantorel-write-probe";
    FILE* f = _wfopen(probe.c_str(), L"wb");
    if (!f)
        return false;
    std::fclose(f);
    fs::remove(probe, ec);
    return true;
#else
    // access() also answers for read-only mounts, which permission bits do not.
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
#endif
}

Expected<fs::path> userDataDir(const EnvLookup& env) {
#if defined(_WIN32)
    if (auto local = nonEmpty(env, "LOCALAPPDATA"))
        return prepare(pathOfUtf8(*local) / "Vantorel", "the user data folder");
    return Error{"cannot find the user data folder: LOCALAPPDATA is not set"};
#else
    // The XDG rules say a relative XDG_DATA_HOME is invalid and to be ignored.
    if (auto xdg = nonEmpty(env, "XDG_DATA_HOME")) {
        const fs::path base = pathOfUtf8(*xdg);
        if (base.is_absolute())
            return prepare(base / "vantorel", "the user data folder");
    }
    if (auto home = nonEmpty(env, "HOME"))
        return prepare(pathOfUtf8(*home) / ".local" / "share" / "vantorel", "the user data folder");
    return Error{"cannot find the user data folder: neither XDG_DATA_HOME nor HOME is set"};
#endif
}

#if !defined(_WIN32)
std::optional<fs::path> searchPath(const std::string& name) {
    const char* pathList = std::getenv("PATH");
    if (!pathList)
        return std::nullopt;
    std::string_view rest(pathList);
    while (true) {
        const std::size_t colon = rest.find(':');
        const std::string_view entry = rest.substr(0, colon);
        const fs::path candidate = (entry.empty() ? fs::path(".") : fs::path(entry)) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos)
            return std::nullopt;
        rest.remove_prefix(colon + 1);
    }
}
#endif

std::optional<fs::path> programFileFromArgv0(const char* argv0) {
    if (!argv0 || !*argv0)
        return std::nullopt;
    const std::string name(argv0);
#if !defined(_WIN32)
    if (name.find('/') == std::string::npos)
        return searchPath(name);
#endif
    return fs::path(name);
}

std::optional<fs::path> programFileFromPlatform() {
#if defined(__linux__)
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return exe;
    return std::nullopt;
#elif defined(_WIN32)
    std::vector<wchar_t> buffer(MAX_PATH);
    while (true) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::nullopt;
        if (n < buffer.size())
            return fs::path(std::wstring(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
#elif defined(__APPLE__)
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::vector<char> buffer(size + 1, '\0');
    if (_NSGetExecutablePath(buffer.data(), &size) != 0)
        return std::nullopt;
    return fs::path(buffer.data());
#elif defined(__FreeBSD__)
    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PATHNAME, -1};
    std::vector<char> buffer(4096, '\0');
    std::size_t size = buffer.size();
    if (sysctl(mib, 4, buffer.data(), &size, nullptr, 0) != 0)
        return std::nullopt;
    return fs::path(buffer.data());
#else
    return std::nullopt;
#endif
}

} // namespace

EnvLookup processEnvironment() {
    return [](std::string_view name) -> std::optional<std::string> {
        const std::string key(name);
#if defined(_WIN32)
        const std::wstring wideKey(key.begin(), key.end()); // variable names are ASCII
        const wchar_t* value = _wgetenv(wideKey.c_str());
        if (!value)
            return std::nullopt;
        const std::u8string utf8 = fs::path(value).u8string();
        return std::string(utf8.begin(), utf8.end());
#else
        const char* value = std::getenv(key.c_str());
        if (!value)
            return std::nullopt;
        return std::string(value);
#endif
    };
}

Expected<fs::path> programDirectory(const char* argv0) {
    std::optional<fs::path> file = programFileFromPlatform();
    if (!file)
        file = programFileFromArgv0(argv0);
    if (!file)
        return Error{"cannot tell where the running program lives"};
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(fs::absolute(*file, ec), ec);
    if (ec)
        return Error{"cannot resolve the program's path '" + utf8Of(*file) + "': " + ec.message(),
                     ec.value()};
    return resolved.parent_path();
}

Expected<fs::path> resolveDataDir(const std::optional<fs::path>& option, const EnvLookup& env,
                                  const std::optional<fs::path>& programDir) {
    if (option) {
        if (option->empty())
            return Error{"the --data-dir option is empty"};
        return prepare(*option, "the --data-dir folder");
    }
    if (auto fromEnv = nonEmpty(env, "VANTOREL_DATA_DIR"))
        return prepare(pathOfUtf8(*fromEnv), "the VANTOREL_DATA_DIR folder");
    if (programDir && !programDir->empty() && !isSystemLocation(*programDir) &&
        isWritableDirectory(*programDir))
        return prepare(*programDir, "the program's folder");
    return userDataDir(env);
}

Expected<fs::path> resolveDataDir(const std::optional<fs::path>& option, const char* argv0) {
    std::optional<fs::path> programDir;
    if (auto dir = programDirectory(argv0))
        programDir = *dir;
    return resolveDataDir(option, processEnvironment(), programDir);
}

} // namespace vantorel
