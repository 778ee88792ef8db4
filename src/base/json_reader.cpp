// Reading texts into values: standard JSON through RapidJSON (in place, in
// the document's own copy of the text), and JavaScript literals beyond
// JSON through the lenient reader. Nothing in a text is ever evaluated.

#include "base/gbk.h"
#include "base/text.h"
#include "json_internal.h"

#include <limits>
#include <unordered_map>

// RapidJSON lives in a namespace of its own in this file: its SSE2 scanners
// are switched on here (the in-situ buffer carries the padding they read),
// and other files of the program that include RapidJSON must not pick up
// these definitions under the same names.
#define RAPIDJSON_NAMESPACE vantorel_rapidjson
#define RAPIDJSON_NAMESPACE_BEGIN namespace vantorel_rapidjson {
#define RAPIDJSON_NAMESPACE_END }
#if defined(__SSE2__) || defined(_M_X64)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

namespace rapidjson = vantorel_rapidjson;

namespace vantorel {
namespace jsondoc_detail {

std::size_t spaceAt(std::string_view text, std::size_t pos) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
        return 1;
    if (c < 0x80)
        return 0;
    static constexpr std::string_view kWide[] = {"\xC2\xA0",     "\xEF\xBB\xBF", "\xE2\x80\xA8",
                                                 "\xE2\x80\xA9", "\xE3\x80\x80", "\xE1\x9A\x80",
                                                 "\xE2\x80\xAF", "\xE2\x81\x9F"};
    const std::string_view rest = text.substr(pos);
    for (std::string_view w : kWide)
        if (rest.starts_with(w))
            return w.size();
    // U+2000..U+200A
    if (rest.size() >= 3 && c == 0xE2 && static_cast<unsigned char>(rest[1]) == 0x80 &&
        static_cast<unsigned char>(rest[2]) >= 0x80 && static_cast<unsigned char>(rest[2]) <= 0x8A)
        return 3;
    return 0;
}

std::string_view trimSpace(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t n = spaceAt(text, pos);
        if (n == 0)
            break;
        pos += n;
    }
    text.remove_prefix(pos);
    // Trailing: all JavaScript spaces end in a byte that cannot start a
    // sequence, so scan backwards by trying each start position.
    for (;;) {
        bool cut = false;
        for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
            const std::size_t at = text.size() - back;
            if (spaceAt(text, at) == back) {
                text.remove_suffix(back);
                cut = true;
                break;
            }
        }
        if (!cut)
            return text;
    }
}

bool readHex(std::string_view text, std::size_t& pos, int digits, std::uint32_t& value) {
    if (pos + static_cast<std::size_t>(digits) > text.size())
        return false;
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int h = hexDigitValue(text[pos + static_cast<std::size_t>(i)]);
        if (h < 0)
            return false;
        value = value * 16 + static_cast<std::uint32_t>(h);
    }
    pos += static_cast<std::size_t>(digits);
    return true;
}

bool readJsString(std::string_view text, std::size_t& pos, std::string& out) {
    const char quote = text[pos++];
    out.clear();
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == quote) {
            ++pos;
            return true;
        }
        if (c == '\n' || c == '\r')
            return false;
        if (c != '\\') {
            // Copy the run up to the next quote, backslash or line break at once.
            std::size_t end = pos + 1;
            while (end < text.size() && text[end] != quote && text[end] != '\\' &&
                   text[end] != '\n' && text[end] != '\r')
                ++end;
            out.append(text.substr(pos, end - pos));
            pos = end;
            continue;
        }
        if (++pos >= text.size())
            return false;
        const char e = text[pos++];
        std::uint32_t cp = 0;
        switch (e) {
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case 'b':
            out.push_back('\b');
            break;
        case 'f':
            out.push_back('\f');
            break;
        case 'v':
            out.push_back('\v');
            break;
        case '0':
            if (pos < text.size() && isDigit(text[pos]))
                return false; // legacy octal escapes are not taken
            out.push_back('\0');
            break;
        case 'x':
            if (!readHex(text, pos, 2, cp))
                return false;
            appendUtf8(out, cp);
            break;
        case 'u':
            if (!readHex(text, pos, 4, cp))
                return false;
            if (cp >= 0xD800 && cp <= 0xDBFF && pos + 6 <= text.size() && text[pos] == '\\' &&
                text[pos + 1] == 'u') {
                std::size_t p2 = pos + 2;
                std::uint32_t low = 0;
                if (readHex(text, p2, 4, low) && low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    pos = p2;
                }
            }
            appendUtf8(out, cp);
            break;
        case '\r':
            if (pos < text.size() && text[pos] == '\n')
                ++pos;
            break; // line continuation
        case '\n':
            break;
        default:
            if (isDigit(e))
                return false;
            out.push_back(e); // identity escape: \' \" \\ \/ and any other character
            break;
        }
    }
    return false;
}

// RapidJSON's UTF-8, except that a lone surrogate written as a \u escape
// becomes U+FFFD instead of bytes that are not UTF-8.
struct JsonUtf8 : rapidjson::UTF8<char> {
    template <typename OutputStream> static void Encode(OutputStream& os, unsigned codepoint) {
        if (codepoint >= 0xD800 && codepoint <= 0xDFFF)
            codepoint = 0xFFFD;
        rapidjson::UTF8<char>::Encode(os, codepoint);
    }
};

class Builder : public rapidjson::BaseReaderHandler<JsonUtf8, Builder> {
public:
    // `depthBudget`: how many levels of nesting the value may have.
    Builder(Arena& arena, int depthBudget) : arena_(arena), budget_(depthBudget) {
        stack_.reserve(64);
    }

    bool Null() { return push(makeKind(Kind::Null)); }
    bool Bool(bool b) { return push(makeKind(b ? Kind::True : Kind::False)); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool copy) {
        Node v = makeString(keep(s, n, copy), n);
        v.kind = Kind::Number;
        v.flags = kRawNumber;
        return push(v);
    }
    // Texts arrive as the reply wrote them: invalid UTF-8 becomes U+FFFD
    // here, once, so that every result is valid UTF-8.
    bool String(const char* s, rapidjson::SizeType n, bool copy) {
        const std::string_view text(s, n);
        if (!asciiOnly(text)) {
            if (!isValidUtf8(text)) {
                const std::string clean = sanitiseUtf8(text);
                if (clean.size() > std::numeric_limits<std::uint32_t>::max())
                    return false;
                return push(makeString(arena_.copy(clean), clean.size()));
            }
        }
        return push(makeString(keep(s, n, copy), n));
    }
    bool Key(const char* s, rapidjson::SizeType n, bool copy) { return String(s, n, copy); }
    bool StartObject() { return enter(); }
    bool StartArray() { return enter(); }

    bool EndArray(rapidjson::SizeType count) {
        --depth_;
        Node v = makeKind(Kind::Array);
        v.size = count;
        if (count > 0) {
            v.items = arena_.allocate<Node>(count);
            std::memcpy(v.items, stack_.data() + stack_.size() - count, count * sizeof(Node));
            stack_.resize(stack_.size() - count);
        }
        return push(v);
    }

    bool EndObject(rapidjson::SizeType count) {
        --depth_;
        Node v = makeKind(Kind::Object);
        if (count > 0) {
            const std::size_t nodes = 2 * std::size_t{count};
            v.members = arena_.allocate<Member>(count);
            std::memcpy(static_cast<void*>(v.members), stack_.data() + stack_.size() - nodes,
                        nodes * sizeof(Node));
            v.size = dropRepeatedKeys(v.members, count);
            stack_.resize(stack_.size() - nodes);
        }
        return push(v);
    }

    // The single finished value; Undefined when nothing was read.
    Node result() const { return stack_.size() == 1 ? stack_[0] : Node{}; }
    int depth() const { return maxDepth_; }

private:
    // Most texts of a reply are ASCII: this inline word-at-a-time test spares
    // them the call to the full UTF-8 check (BM_ListingDecode/1000 is a fifth
    // slower without it).
    static bool asciiOnly(std::string_view text) {
        std::uint64_t seen = 0;
        std::size_t i = 0;
        for (; i + 8 <= text.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + i, sizeof word);
            seen |= word;
        }
        for (; i < text.size(); ++i)
            seen |= static_cast<unsigned char>(text[i]);
        return (seen & 0x8080808080808080ULL) == 0;
    }

    const char* keep(const char* s, std::size_t n, bool copy) {
        return copy ? arena_.copy({s, n}) : s;
    }

    bool push(const Node& v) {
        stack_.push_back(v);
        return true;
    }

    bool enter() {
        if (++depth_ > budget_)
            return false;
        maxDepth_ = std::max(maxDepth_, depth_);
        return true;
    }

    // JavaScript objects hold a key once: a repeated key keeps the place of
    // its first appearance and takes the value of its last. Returns the
    // number of members left.
    static std::uint32_t dropRepeatedKeys(Member* members, std::uint32_t count) {
        std::uint32_t kept = 0;
        // A small object scans the keys kept so far; a large one indexes them.
        if (count <= 64) {
            for (std::uint32_t i = 0; i < count; ++i) {
                if (keep(members, kept, members[i]))
                    continue;
                if (kept != i)
                    members[kept] = members[i];
                ++kept;
            }
            return kept;
        }
        std::unordered_map<std::string_view, std::uint32_t> index;
        index.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            auto [it, inserted] = index.try_emplace(members[i].name(), kept);
            if (!inserted) {
                members[it->second].value = members[i].value;
                continue;
            }
            if (kept != i)
                members[kept] = members[i];
            ++kept;
        }
        return kept;
    }

    // When an earlier member has the same key, gives it the later value.
    static bool keep(Member* members, std::uint32_t count, const Member& later) {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (members[i].name() == later.name()) {
                members[i].value = later.value;
                return true;
            }
        }
        return false;
    }

    Arena& arena_;
    std::vector<Node> stack_;
    int depth_ = 0;
    int maxDepth_ = 0;
    int budget_;
};

// JavaScript literals beyond JSON: unquoted identifier or number keys,
// single-quoted strings with JavaScript escapes, trailing commas. Only
// literals: no names are looked up and nothing is called.
class LenientReader {
public:
    explicit LenientReader(std::string_view text) : text_(text) {}

    bool read(Builder& out) {
        skipSpace();
        if (!value(out))
            return false;
        skipSpace();
        return pos_ == text_.size();
    }

private:
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    void skipSpace() {
        while (!atEnd()) {
            const std::size_t n = spaceAt(text_, pos_);
            if (n == 0)
                return;
            pos_ += n;
        }
    }

    std::string_view identifier() {
        const std::size_t start = pos_;
        if (atEnd() || !isIdentifierStart(static_cast<unsigned char>(peek())))
            return {};
        while (!atEnd() && isIdentifierPart(static_cast<unsigned char>(peek())))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }

    // The JSON number grammar; returns the lexeme or an empty view.
    std::string_view number() {
        const std::size_t start = pos_;
        if (!atEnd() && peek() == '-')
            ++pos_;
        if (atEnd() || !isDigit(peek()))
            return {};
        if (peek() == '0') {
            ++pos_;
        } else {
            while (!atEnd() && isDigit(peek()))
                ++pos_;
        }
        if (!atEnd() && peek() == '.') {
            ++pos_;
            if (atEnd() || !isDigit(peek()))
                return {};
            while (!atEnd() && isDigit(peek()))
                ++pos_;
        }
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++pos_;
            if (!atEnd() && (peek() == '+' || peek() == '-'))
                ++pos_;
            if (atEnd() || !isDigit(peek()))
                return {};
            while (!atEnd() && isDigit(peek()))
                ++pos_;
        }
        // "1x" or "1a" is not a number followed by something.
        if (!atEnd() && isIdentifierPart(static_cast<unsigned char>(peek())))
            return {};
        return text_.substr(start, pos_ - start);
    }

    bool value(Builder& out) {
        if (atEnd())
            return false;
        const char c = peek();
        if (c == '{')
            return object(out);
        if (c == '[')
            return array(out);
        if (c == '"' || c == '\'') {
            if (!readJsString(text_, pos_, scratch_) || scratch_.size() > kMaxSize)
                return false;
            return out.String(scratch_.data(), static_cast<rapidjson::SizeType>(scratch_.size()),
                              true);
        }
        if (c == '-' || isDigit(c)) {
            const std::string_view lexeme = number();
            if (lexeme.empty())
                return false;
            return out.RawNumber(lexeme.data(), static_cast<rapidjson::SizeType>(lexeme.size()),
                                 true);
        }
        const std::string_view word = identifier();
        if (word == "true" || word == "false")
            return out.Bool(word == "true");
        if (word == "null")
            return out.Null();
        return false;
    }

    bool key(Builder& out) {
        if (atEnd())
            return false;
        const char c = peek();
        if (c == '"' || c == '\'') {
            if (!readJsString(text_, pos_, scratch_) || scratch_.size() > kMaxSize)
                return false;
            return out.Key(scratch_.data(), static_cast<rapidjson::SizeType>(scratch_.size()),
                           true);
        }
        if (isDigit(c)) {
            // A number key names the property its number text spells: {1.50: x} is "1.5".
            const std::string_view lexeme = number();
            if (lexeme.empty() || lexeme.starts_with('-'))
                return false;
            Node n = makeString(lexeme.data(), lexeme.size());
            n.kind = Kind::Number;
            n.flags = kRawNumber;
            scratch_.clear();
            appendNumberText(scratch_, n);
            return out.Key(scratch_.data(), static_cast<rapidjson::SizeType>(scratch_.size()),
                           true);
        }
        const std::string_view word = identifier();
        if (word.empty())
            return false;
        return out.Key(word.data(), static_cast<rapidjson::SizeType>(word.size()), true);
    }

    bool object(Builder& out) {
        rapidjson::SizeType count = 0;
        return out.StartObject() && items('}', count, [&] { return member(out); }) &&
               out.EndObject(count);
    }

    bool member(Builder& out) {
        if (!key(out))
            return false;
        skipSpace();
        if (atEnd() || peek() != ':')
            return false;
        ++pos_;
        skipSpace();
        return value(out);
    }

    bool array(Builder& out) {
        rapidjson::SizeType count = 0;
        return out.StartArray() && items(']', count, [&] { return value(out); }) &&
               out.EndArray(count);
    }

    // The comma-separated items from the opening bracket at pos_ to `close`,
    // a trailing comma allowed; `item` reads one.
    template <class ReadItem> bool items(char close, rapidjson::SizeType& count, ReadItem item) {
        ++pos_;
        skipSpace();
        while (!atEnd() && peek() != close) {
            if (!item())
                return false;
            ++count;
            skipSpace();
            if (!atEnd() && peek() == ',') {
                ++pos_;
                skipSpace();
            } else if (atEnd() || peek() != close) {
                return false;
            }
        }
        if (atEnd())
            return false;
        ++pos_;
        return true;
    }

    static constexpr std::size_t kMaxSize = std::numeric_limits<std::uint32_t>::max();

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string scratch_;
};

Literal readLiteral(std::string_view text, Arena& arena, int depthBudget) {
    {
        Builder b(arena, depthBudget);
        rapidjson::MemoryStream ms(text.data(), text.size());
        rapidjson::GenericReader<JsonUtf8, JsonUtf8> reader;
        // A NUL inside the text would end RapidJSON's view of it early.
        if (text.find('\0') == std::string_view::npos &&
            !reader.Parse<rapidjson::kParseNumbersAsStringsFlag>(ms, b).IsError())
            return {b.result(), b.depth(), true};
    }
    Builder b(arena, depthBudget);
    if (LenientReader(text).read(b))
        return {b.result(), b.depth(), true};
    return {};
}

} // namespace jsondoc_detail

using namespace jsondoc_detail;

bool JsonDocument::parse(std::string_view text, bool /*direct*/) {
    if (!root_)
        initialise();
    Root& root = *root_;
    root.reset(makeKind(Kind::Null));

    // A byte-order mark is white space to JavaScript but not to JSON.
    std::string_view body = text;
    if (body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);

    // Standard JSON first, decoded in place in a private copy of the text.
    {
        LargeBuffer buffer = allocateBuffer(body.size() + kSourcePadding);
        char* chars = reinterpret_cast<char*>(buffer.get());
        std::memcpy(chars, body.data(), body.size());
        std::memset(chars + body.size(), 0, kSourcePadding);
        Builder builder(root.arena, kMaxDepth);
        rapidjson::InsituStringStream stream(chars);
        rapidjson::GenericReader<JsonUtf8, JsonUtf8> reader;
        constexpr unsigned kFlags =
            rapidjson::kParseInsituFlag | rapidjson::kParseNumbersAsStringsFlag;
        // RapidJSON takes a NUL for the end of the text: one inside it must
        // not cut the text short.
        if (!reader.Parse<kFlags>(stream, builder).IsError() && stream.Tell() == body.size()) {
            root.value = builder.result();
            root.source = std::move(buffer);
            return !root.value.nullish();
        }
    }
    // Then the JavaScript literal forms.
    root.reset(makeKind(Kind::Null));
    Builder builder(root.arena, kMaxDepth);
    if (LenientReader(text).read(builder)) {
        root.value = builder.result();
        return !root.value.nullish();
    }
    root.reset(makeKind(trimSpace(text).empty() ? Kind::Undefined : Kind::Null));
    return false;
}

} // namespace vantorel
