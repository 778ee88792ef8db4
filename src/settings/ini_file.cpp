#include "settings/ini_file.h"

#include "base/gbk.h"
#include "base/text.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace vantorel {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trimSpaces(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isQuoted(std::string_view value) {
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front();
}

std::string_view unquote(std::string_view value) {
    return isQuoted(value) ? value.substr(1, value.size() - 2) : value;
}

// Reading drops surrounding blanks and one pair of quotes; a value that
// would lose either is wrapped in double quotes so it reads back unchanged.
std::string quoteIfNeeded(std::string_view value) {
    const bool needsQuotes =
        !value.empty() && (isSpace(value.front()) || isSpace(value.back()) || isQuoted(value));
    if (!needsQuotes)
        return std::string(value);
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted += '"';
    quoted += value;
    quoted += '"';
    return quoted;
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos ||
           text.find('\0') != std::string_view::npos;
}

std::string describeErrno(int error) {
    return std::generic_category().message(error);
}

} // namespace

IniDocument::Line IniDocument::parseLine(std::string text) {
    Line line;
    line.text = std::move(text);
    const std::string_view content = trimSpaces(line.text);
    if (content.empty() || content.front() == ';' || content.front() == '#')
        return line;
    if (content.front() == '[') {
        // A header without its closing bracket still opens a section, as the
        // platform's profile reader has it.
        std::string_view name = content.substr(1);
        name = name.substr(0, name.find(']'));
        line.isSection = true;
        line.name = std::string(trimSpaces(name));
        return line;
    }
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos)
        return line; // kept, but holds no key
    const std::string_view key = trimSpaces(content.substr(0, equals));
    if (key.empty())
        return line;
    line.isEntry = true;
    line.name = std::string(key);
    // A value ends at a NUL or a stray CR, as the C strings of the profile
    // reader always did: whatever is read can be written back by set().
    std::string_view value = content.substr(equals + 1);
    value = value.substr(0, value.find_first_of(std::string_view("\r\0", 2)));
    line.value = std::string(unquote(trimSpaces(value)));
    return line;
}

IniDocument IniDocument::fromBytes(std::string_view bytes) {
    IniDocument doc;
    std::string text;
    if (startsWith(bytes, kByteOrderMark)) {
        doc.byteOrderMark_ = true;
        text = sanitiseUtf8(bytes.substr(kByteOrderMark.size()));
    } else if (isValidUtf8(bytes)) {
        text = std::string(bytes);
    } else {
        text = gbkToUtf8(bytes);
    }

    const std::size_t firstBreak = text.find('\n');
    doc.crlf_ = firstBreak != std::string::npos && firstBreak > 0 && text[firstBreak - 1] == '\r';

    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        doc.lines_.push_back(parseLine(text.substr(start, end - start)));
        start = end + 1;
    }
    // A last line without its line break gets the file's own one on saving.
    if (!text.empty() && text.back() != '\n' && doc.crlf_ && !doc.lines_.empty() &&
        !endsWith(doc.lines_.back().text, "\r"))
        doc.lines_.back().text += '\r';
    return doc;
}

Expected<IniDocument> IniDocument::load(const std::filesystem::path& file) {
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (status.type() == std::filesystem::file_type::not_found)
        return IniDocument{};
    if (ec)
        return Error{"cannot read " + file.string() + ": " + ec.message(), ec.value()};
    if (std::filesystem::is_directory(status))
        return Error{"cannot read " + file.string() + ": it is a directory", EISDIR};

    std::ifstream in(file, std::ios::binary);
    if (!in) {
        const int error = errno;
        return Error{"cannot read " + file.string() + ": " + describeErrno(error), error};
    }
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        const int error = errno;
        return Error{"cannot read " + file.string() + ": " + describeErrno(error), error};
    }
    return fromBytes(bytes);
}

std::optional<std::pair<std::size_t, std::size_t>>
IniDocument::findSection(std::string_view name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (!lines_[i].isSection || !equalsIgnoreCase(lines_[i].name, name))
            continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && !lines_[end].isSection)
            ++end;
        return std::pair{i, end};
    }
    return std::nullopt;
}

std::optional<std::string> IniDocument::get(std::string_view section, std::string_view key) const {
    const auto range = findSection(section);
    if (!range)
        return std::nullopt;
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
        if (lines_[i].isEntry && equalsIgnoreCase(lines_[i].name, key))
            return lines_[i].value;
    }
    return std::nullopt;
}

Status IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    if (key.empty() || trimSpaces(key) != key || key.find('=') != std::string_view::npos ||
        hasLineBreak(key) || key.front() == '[' || key.front() == ';' || key.front() == '#')
        return Error{"invalid settings key \"" + std::string(key) + "\""};
    if (section.empty() || trimSpaces(section) != section ||
        section.find(']') != std::string_view::npos || hasLineBreak(section))
        return Error{"invalid settings section \"" + std::string(section) + "\""};
    if (hasLineBreak(value))
        return Error{"the value of " + std::string(key) + " cannot hold a line break"};
    // The file is read as GBK when it is not valid UTF-8, so one stray byte
    // written here would change how every other value of the file reads.
    if (!isValidUtf8(section) || !isValidUtf8(key) || !isValidUtf8(value))
        return Error{"settings texts must be UTF-8"};

    const std::string lineEnd = crlf_ ? "\r" : "";
    std::string text = std::string(key) + "=" + quoteIfNeeded(value);

    auto range = findSection(section);
    if (!range) {
        lines_.push_back(parseLine("[" + std::string(section) + "]" + lineEnd));
        lines_.push_back(parseLine(text + lineEnd));
        return {};
    }
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
        Line& line = lines_[i];
        if (line.isEntry && equalsIgnoreCase(line.name, key)) {
            const bool hadCr = endsWith(line.text, "\r");
            line = parseLine(text + (hadCr ? "\r" : ""));
            return {};
        }
    }
    // After the section's last non-blank line, so that blank lines that
    // separate it from the next section stay in front of that section.
    std::size_t insertAt = range->first + 1;
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
        if (!trimSpaces(lines_[i].text).empty())
            insertAt = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt),
                  parseLine(text + lineEnd));
    return {};
}

std::string IniDocument::toBytes() const {
    std::string bytes;
    if (byteOrderMark_)
        bytes += kByteOrderMark;
    for (const Line& line : lines_) {
        bytes += line.text;
        bytes += '\n';
    }
    return bytes;
}

Status IniDocument::save(const std::filesystem::path& file) const {
    std::error_code ec;
    std::filesystem::path target = file;
    // Replace what a link points to, not the link.
    if (std::filesystem::is_symlink(file, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(file, ec);
        if (!ec)
            target = resolved;
    }
    const auto existing = std::filesystem::status(target, ec);

    std::random_device random;
    std::filesystem::path temporary = target;
    temporary += ".tmp" + std::to_string(random() % 1000000u);

    const std::string bytes = toBytes();
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            const int error = errno;
            return Error{"cannot write " + target.string() + ": " + describeErrno(error), error};
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            const int error = errno;
            std::filesystem::remove(temporary, ec);
            return Error{"cannot write " + target.string() + ": " + describeErrno(error), error};
        }
    }
    if (std::filesystem::exists(existing))
        std::filesystem::permissions(temporary, existing.permissions(), ec);
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        const std::error_code renameError = ec;
        std::filesystem::remove(temporary, ec);
        return Error{"cannot write " + target.string() + ": " + renameError.message(),
                     renameError.value()};
    }
    return {};
}

} // namespace vantorel
