#include "base/json_document.h"

#include "base/gbk.h"
#include "base/text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <unordered_map>

#if defined(__linux__)
#include <sys/mman.h>
#endif

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

// U+2400, the stand-in for a backslash in strings stored by setValue's
// text mode; every text result turns it back into a backslash.
constexpr std::string_view kPlaceholder = "\xE2\x90\x80";
constexpr std::string_view kValueSeparator = "[2020年7月20日20时0分0秒]";
constexpr std::string_view kLineBreak = "\r\n";
// Deeper values are refused: parsing, copying and writing recurse per level.
constexpr int kMaxDepth = 512;
// Writing far past the end of an array would fill memory with holes.
constexpr std::uint64_t kMaxHoles = 1u << 20;
// Zero bytes after an in-situ text: the SIMD scanners read whole aligned
// 16-byte blocks and must find the terminator inside the buffer.
constexpr std::size_t kSourcePadding = 32;

enum class Kind : std::uint8_t {
    Undefined,
    Null,
    False,
    True,
    Number,
    String,
    Array,
    Object,
    Function, // only ever produced by a lookup (toJSONString & co.), never stored
};

enum : std::uint8_t {
    kRawNumber = 1, // number kept as its source text in text/size
    kGrowable = 2,  // items/members has room for std::bit_ceil(size) entries
    // A string stored from a caller's text: each U+2400 in it stands for a
    // backslash. Texts that arrive through parse never carry it, so a
    // U+2400 that a reply really holds (in a file name, say) reads back as
    // itself and not as a backslash.
    kPlaceholders = 4,
};

struct Member;

// 16 bytes. Strings and number texts point into the in-situ source or the
// arena; arrays and objects own arena blocks of Node / Member.
struct Node {
    Kind kind = Kind::Undefined;
    std::uint8_t flags = 0;
    std::uint32_t size = 0;
    union {
        const char* text = nullptr;
        Node* items;
        Member* members;
        double number;
    };

    std::string_view str() const { return {text, size}; }
    bool nullish() const { return kind == Kind::Undefined || kind == Kind::Null; }
};

// Laid out as two nodes, the way the builder's stack holds a key and its
// value, so that an object's members are copied off the stack in one go.
struct Member {
    Node key; // a string
    Node value;

    std::string_view name() const { return key.str(); }
};

static_assert(sizeof(Node) == 16);
static_assert(sizeof(Member) == 32);

Node makeKind(Kind kind) {
    Node n;
    n.kind = kind;
    return n;
}

Node makeNumber(double value) {
    Node n;
    n.kind = Kind::Number;
    n.number = value;
    return n;
}

Node makeString(const char* text, std::size_t size) {
    Node n;
    n.kind = Kind::String;
    n.size = static_cast<std::uint32_t>(size);
    n.text = text;
    return n;
}

// Where each key was last found. Objects of one shape (the members of a
// listing) hold their keys at the same places, so looking a key up in the
// next such object usually succeeds at the first try.
class MemberHints {
public:
    std::uint32_t& at(std::string_view key) {
        const std::size_t h =
            key.size() * 7 + static_cast<unsigned char>(key.front()) +
            (static_cast<std::size_t>(static_cast<unsigned char>(key.back())) << 1);
        return hints_[h % hints_.size()];
    }

private:
    std::array<std::uint32_t, 32> hints_{};
};

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using LargeBuffer = std::unique_ptr<std::byte[], FreeDeleter>;

// Big buffers (the in-situ text, the larger arena blocks) ask for huge pages
// where the system offers them: with 4 KiB pages a 90 MB listing spends a
// good part of its decode taking page faults.
LargeBuffer allocateBuffer(std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (bytes >= kHugePage) {
        const std::size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
        if (void* p = std::aligned_alloc(kHugePage, rounded)) {
            ::madvise(p, rounded, MADV_HUGEPAGE);
            return LargeBuffer(static_cast<std::byte*>(p));
        }
    }
#endif
    void* p = std::malloc(bytes);
    if (!p)
        throw std::bad_alloc();
    return LargeBuffer(static_cast<std::byte*>(p));
}

// Bump allocation for one document's nodes and copied texts. Nothing is
// freed singly: parse and clear drop the whole arena, and values replaced by
// writes stay until then.
class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    template <class T> T* allocate(std::size_t count) {
        static_assert(std::is_trivially_copyable_v<T>);
        return static_cast<T*>(raw(count * sizeof(T), alignof(T)));
    }

    const char* copy(std::string_view text) {
        if (text.empty())
            return "";
        auto* p = static_cast<char*>(raw(text.size(), 1));
        std::memcpy(p, text.data(), text.size());
        return p;
    }

    void reset() {
        blocks_.clear();
        cur_ = end_ = 0;
        next_ = kFirstBlock;
    }

private:
    static constexpr std::size_t kFirstBlock = 1024;
    static constexpr std::size_t kLargestBlock = std::size_t{8} << 20;

    void* raw(std::size_t bytes, std::size_t align) {
        std::uintptr_t p = (cur_ + align - 1) & ~(align - 1);
        if (cur_ == 0 || p + bytes > end_) {
            const std::size_t size = std::max(next_, bytes + align);
            blocks_.push_back(allocateBuffer(size));
            cur_ = reinterpret_cast<std::uintptr_t>(blocks_.back().get());
            end_ = cur_ + size;
            next_ = std::min(next_ * 2, kLargestBlock);
            p = (cur_ + align - 1) & ~(align - 1);
        }
        cur_ = p + bytes;
        return reinterpret_cast<void*>(p);
    }

    std::vector<LargeBuffer> blocks_;
    std::uintptr_t cur_ = 0;
    std::uintptr_t end_ = 0;
    std::size_t next_ = kFirstBlock;
};

} // namespace jsondoc_detail

struct JsonDocument::Root {
    jsondoc_detail::Node value = jsondoc_detail::makeKind(jsondoc_detail::Kind::Object);
    jsondoc_detail::LargeBuffer source; // the text of the last parse, strings decoded in place
    jsondoc_detail::Arena arena;
    mutable jsondoc_detail::MemberHints hints; // lookups only; never part of the value

    void reset(jsondoc_detail::Node v) {
        source.reset();
        arena.reset();
        value = v;
    }
};

namespace jsondoc_detail {

// ---------------------------------------------------------------------------
// Characters

// Identifier characters of paths and unquoted keys: ASCII letters, digits,
// "_", "$" and every non-ASCII byte (JavaScript takes Chinese names too).
constexpr std::array<std::uint8_t, 256> kIdentifierClass = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const bool start =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
        table[static_cast<std::size_t>(c)] = start ? 2 : (c >= '0' && c <= '9') ? 1 : 0;
    }
    return table;
}();

bool isIdentifierStart(unsigned char c) {
    return kIdentifierClass[c] == 2;
}

bool isIdentifierPart(unsigned char c) {
    return kIdentifierClass[c] != 0;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the JavaScript white space (or line terminator) at text[pos], 0 if none.
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

// A JavaScript string literal at text[pos] (quote ' or "), decoded into out.
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

// ---------------------------------------------------------------------------
// Numbers

bool isIntegerLexeme(std::string_view lexeme) {
    for (char c : lexeme)
        if (c == '.' || c == 'e' || c == 'E')
            return false;
    return true;
}

double lexemeToDouble(std::string_view lexeme) {
    double value = 0;
    const char* first = lexeme.data();
    const char* last = first + lexeme.size();
    if (first != last && *first == '+')
        ++first;
    const auto res = std::from_chars(first, last, value);
    if (res.ec == std::errc::result_out_of_range) {
        // Too large becomes an infinity, too small a zero, as in JavaScript.
        const bool negative = lexeme.starts_with('-');
        const std::size_t e = lexeme.find_first_of("eE");
        const bool tiny =
            e != std::string_view::npos && e + 1 < lexeme.size() && lexeme[e + 1] == '-';
        const double magnitude = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        return negative ? -magnitude : magnitude;
    }
    return value;
}

// ECMAScript Number::toString: the shortest digits that read back as the
// same double, plain decimal from 1e-6 up to 1e21, exponent form outside.
void appendEcmaNumber(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (value == 0) {
        out += '0'; // also for -0
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-Infinity" : "Infinity";
        return;
    }
    if (value < 0) {
        out += '-';
        value = -value;
    }
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    const std::size_t e = sci.find('e');
    char digits[32];
    std::size_t k = 0;
    for (std::size_t i = 0; i < e; ++i)
        if (sci[i] != '.')
            digits[k++] = sci[i];
    int exponent = 0;
    const char* expFirst = sci.data() + e + 1;
    const bool negativeExp = *expFirst == '-';
    if (*expFirst == '+' || *expFirst == '-')
        ++expFirst;
    std::from_chars(expFirst, sci.data() + sci.size(), exponent);
    if (negativeExp)
        exponent = -exponent;
    const int n = exponent + 1;
    const int kk = static_cast<int>(k);
    const std::string_view d(digits, k);
    if (kk <= n && n <= 21) {
        out += d;
        out.append(static_cast<std::size_t>(n - kk), '0');
    } else if (0 < n && n <= 21) {
        out += d.substr(0, static_cast<std::size_t>(n));
        out += '.';
        out += d.substr(static_cast<std::size_t>(n));
    } else if (-6 < n && n <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-n), '0');
        out += d;
    } else {
        out += d[0];
        if (k > 1) {
            out += '.';
            out += d.substr(1);
        }
        out += 'e';
        out += n - 1 < 0 ? '-' : '+';
        char eb[8];
        const auto er = std::to_chars(eb, eb + sizeof eb, std::abs(n - 1));
        out.append(eb, er.ptr);
    }
}

double numberValue(const Node& n) {
    return (n.flags & kRawNumber) ? lexemeToDouble(n.str()) : n.number;
}

// An integer written in the text keeps its digits, however many: a double
// would round an fs_id past 2^53 to a different item.
void appendNumberText(std::string& out, const Node& n) {
    if (n.flags & kRawNumber) {
        const std::string_view lexeme = n.str();
        if (isIntegerLexeme(lexeme)) {
            out += lexeme == "-0" ? std::string_view("0") : lexeme;
            return;
        }
    }
    appendEcmaNumber(out, numberValue(n));
}

// ECMAScript ToNumber of a string; NaN when it is not a number.
double stringToNumber(std::string_view text) {
    text = trimSpace(text);
    if (text.empty())
        return 0;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        double value = 0;
        for (char c : text.substr(2)) {
            const int h = hexDigitValue(c);
            if (h < 0)
                return nan;
            value = value * 16 + h;
        }
        return value;
    }
    std::string_view body = text;
    bool negative = false;
    if (body[0] == '+' || body[0] == '-') {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    if (body == "Infinity")
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    // StrDecimalLiteral: digits [. digits] | . digits, then an optional exponent.
    std::size_t i = 0;
    std::size_t intDigits = 0, fracDigits = 0;
    while (i < body.size() && isDigit(body[i]))
        ++i, ++intDigits;
    if (i < body.size() && body[i] == '.') {
        ++i;
        while (i < body.size() && isDigit(body[i]))
            ++i, ++fracDigits;
    }
    if (intDigits + fracDigits == 0)
        return nan;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-'))
            ++i;
        std::size_t expDigits = 0;
        while (i < body.size() && isDigit(body[i]))
            ++i, ++expDigits;
        if (expDigits == 0)
            return nan;
    }
    if (i != body.size())
        return nan;
    const double value = lexemeToDouble(body);
    return negative ? -value : value;
}

// ---------------------------------------------------------------------------
// Building values: RapidJSON (or the lenient reader) calls these handlers.

// Keys are short: compare them inline rather than through memcmp.
bool sameKey(const Node& stored, std::string_view key) {
    const std::size_t n = key.size();
    if (stored.size != n)
        return false;
    const char* a = stored.text;
    const char* b = key.data();
    if (n >= 8 && n <= 16) {
        std::uint64_t a0, a1, b0, b1;
        std::memcpy(&a0, a, 8);
        std::memcpy(&b0, b, 8);
        std::memcpy(&a1, a + n - 8, 8);
        std::memcpy(&b1, b + n - 8, 8);
        return a0 == b0 && a1 == b1;
    }
    if (n < 8) {
        for (std::size_t i = 0; i < n; ++i)
            if (a[i] != b[i])
                return false;
        return true;
    }
    return std::memcmp(a, b, n) == 0;
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
            Shape& shape = shapes_[count % shapes_.size()];
            if (shape.count == count && shareKeys(v.members, shape.members, count)) {
                v.size = count; // keys already known to be distinct
            } else {
                v.size = dropRepeatedKeys(v.members, count);
                if (v.size == count)
                    shape = Shape{v.members, count};
            }
            stack_.resize(stack_.size() - nodes);
        }
        return push(v);
    }

    // The single finished value; Undefined when nothing was read.
    Node result() const { return stack_.size() == 1 ? stack_[0] : Node{}; }
    int depth() const { return maxDepth_; }

private:
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

    static std::uint64_t keyHash(std::string_view key) {
        std::uint64_t head = 0;
        std::memcpy(&head, key.data(), std::min<std::size_t>(key.size(), sizeof head));
        return ((head ^ key.size()) * 0x9E3779B97F4A7C15ULL) >> 58;
    }

    // Objects of one shape (every member of a listing) keep the keys of the
    // first such object: lookups then compare against key texts that stay in
    // the cache, and the keys need no check for repeats.
    struct Shape {
        const Member* members = nullptr;
        std::uint32_t count = 0;
    };

    static bool shareKeys(Member* members, const Member* shape, std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i)
            if (!sameKey(shape[i].key, members[i].name()))
                return false;
        for (std::uint32_t i = 0; i < count; ++i)
            members[i].key = shape[i].key;
        return true;
    }

    // JavaScript objects hold a key once: a repeated key keeps the place of
    // its first appearance and takes the value of its last. Returns the
    // number of members left.
    static std::uint32_t dropRepeatedKeys(Member* members, std::uint32_t count) {
        std::uint32_t kept = 0;
        if (count <= 64) {
            std::uint64_t seen = 0; // a 64-bit filter over the keys kept so far
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint64_t bit = std::uint64_t{1} << keyHash(members[i].name());
                if ((seen & bit) && keep(members, kept, members[i]))
                    continue;
                seen |= bit;
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
    std::array<Shape, 8> shapes_{};
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

struct Literal {
    Node value;
    int depth = 0;
    bool ok = false;
};

// Reads a literal into the arena, copying every text. For values handed to
// the writing operations; the document's own parse reads in place.
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

// ---------------------------------------------------------------------------
// Paths

struct Segment {
    bool isIndex = false;
    std::uint64_t index = 0;
    std::string_view name;
};

// Reads a member-access tail segment by segment.
class PathReader {
public:
    enum class Mode {
        Member,   // the path names a member of the root: "list[0].x", "[1]", ""
        AfterRoot // the text after the root name: ".list[0]", "[1]", ""
    };

    PathReader(std::string_view path, Mode mode) : path_(path), first_(mode == Mode::Member) {}

    // False at the end of the path or on a syntax error (see failed()).
    bool next(Segment& seg) {
        if (failed_)
            return false;
        if (first_) {
            first_ = false;
            if (!path_.empty() && path_[0] != '[') {
                skipBlanks();
                return identifier(seg) || fail();
            }
        }
        skipBlanks();
        if (pos_ >= path_.size())
            return false;
        const char c = path_[pos_++];
        if (c == '.') {
            skipBlanks();
            return identifier(seg) || fail();
        }
        if (c == '[')
            return bracket(seg) || fail();
        return fail();
    }

    bool failed() const { return failed_; }

private:
    bool fail() {
        failed_ = true;
        return false;
    }

    void skipBlanks() {
        while (pos_ < path_.size() && (path_[pos_] == ' ' || path_[pos_] == '\t'))
            ++pos_;
    }

    bool identifier(Segment& seg) {
        const std::size_t start = pos_;
        if (pos_ >= path_.size() || !isIdentifierStart(static_cast<unsigned char>(path_[pos_])))
            return false;
        while (pos_ < path_.size() && isIdentifierPart(static_cast<unsigned char>(path_[pos_])))
            ++pos_;
        seg.isIndex = false;
        seg.name = path_.substr(start, pos_ - start);
        return true;
    }

    bool bracket(Segment& seg) {
        skipBlanks();
        if (pos_ >= path_.size())
            return false;
        const char c = path_[pos_];
        if (c == '\'' || c == '"') {
            if (!readJsString(path_, pos_, decoded_))
                return false;
            seg.isIndex = false;
            seg.name = decoded_;
        } else if (isDigit(c) || c == '-') {
            const std::size_t start = pos_;
            if (c == '-')
                ++pos_;
            std::uint64_t value = 0;
            bool big = false;
            const std::size_t digitsStart = pos_;
            while (pos_ < path_.size() && isDigit(path_[pos_])) {
                if (value > (std::uint64_t{1} << 53))
                    big = true;
                else
                    value = value * 10 + static_cast<std::uint64_t>(path_[pos_] - '0');
                ++pos_;
            }
            if (pos_ == digitsStart)
                return false;
            if (c == '-' || big) {
                // Not an array index: a property named by the number's text.
                seg.isIndex = false;
                seg.name = path_.substr(start, pos_ - start);
            } else {
                seg.isIndex = true;
                seg.index = value;
            }
        } else {
            return false; // a variable or an expression: nothing is evaluated
        }
        skipBlanks();
        if (pos_ >= path_.size() || path_[pos_] != ']')
            return false;
        ++pos_;
        return true;
    }

    std::string_view path_;
    std::size_t pos_ = 0;
    bool first_;
    bool failed_ = false;
    std::string decoded_;
};

// "da", "da.x", "da[0]": the path starts with the root's own name.
bool startsWithRootName(std::string_view path) {
    return path.starts_with(JsonDocument::kRootName) &&
           (path.size() == JsonDocument::kRootName.size() ||
            !isIdentifierPart(static_cast<unsigned char>(path[JsonDocument::kRootName.size()])));
}

// A canonical array index spelled as a name: "0", "17", not "01" or "-1".
bool nameAsIndex(std::string_view name, std::uint64_t& index) {
    if (name.empty() || name.size() > 10 || (name.size() > 1 && name[0] == '0'))
        return false;
    std::uint64_t value = 0;
    for (char c : name) {
        if (!isDigit(c))
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value >= 0xFFFFFFFFULL)
        return false;
    index = value;
    return true;
}

struct IndexName {
    char buf[24];
    std::string_view view;
    explicit IndexName(std::uint64_t index) {
        const auto r = std::to_chars(buf, buf + sizeof buf, index);
        view = std::string_view(buf, static_cast<std::size_t>(r.ptr - buf));
    }
};

// Methods every value inherits; a lookup finds them when no own member
// has the name. toJSONString and parseJSON are the ones a listing of
// members would otherwise show.
bool isInheritedMethod(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "toJSONString",   "parseJSON",     "toString",    "toLocaleString",      "valueOf",
        "hasOwnProperty", "isPrototypeOf", "constructor", "propertyIsEnumerable"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

std::uint32_t utf16Length(std::string_view text) {
    std::uint32_t n = 0;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) != 0x80)
            n += c >= 0xF0 ? 2 : 1;
    }
    return n;
}

const Member* findMember(const Node& object, std::string_view key) {
    const Member* m = object.members;
    const Member* end = m + object.size;
    for (; m != end; ++m)
        if (sameKey(m->key, key))
            return m;
    return nullptr;
}

Member* findMember(Node& object, std::string_view key) {
    return const_cast<Member*>(findMember(static_cast<const Node&>(object), key));
}

const Member* lookupMember(const Node& object, std::string_view key, MemberHints& hints) {
    if (key.empty())
        return findMember(object, key);
    std::uint32_t& hint = hints.at(key);
    if (hint < object.size && sameKey(object.members[hint].key, key))
        return &object.members[hint];
    const Member* m = findMember(object, key);
    if (m)
        hint = static_cast<std::uint32_t>(m - object.members);
    return m;
}

Node notFound(std::string_view name) {
    return isInheritedMethod(name) ? makeKind(Kind::Function) : Node{};
}

// One property access, read-only. `from` must not be null or undefined.
Node child(const Node& from, const Segment& seg, MemberHints& hints) {
    switch (from.kind) {
    case Kind::Object: {
        if (seg.isIndex) {
            const IndexName name(seg.index);
            const Member* m = lookupMember(from, name.view, hints);
            return m ? m->value : Node{};
        }
        if (const Member* m = lookupMember(from, seg.name, hints))
            return m->value;
        return notFound(seg.name);
    }
    case Kind::Array: {
        std::uint64_t index = seg.index;
        if (seg.isIndex || nameAsIndex(seg.name, index))
            return index < from.size ? from.items[index] : Node{};
        if (seg.name == "length")
            return makeNumber(from.size);
        return notFound(seg.name);
    }
    case Kind::String:
        if (!seg.isIndex && seg.name == "length")
            return makeNumber(utf16Length(from.str()));
        return seg.isIndex ? Node{} : notFound(seg.name);
    case Kind::Number:
    case Kind::True:
    case Kind::False:
        return seg.isIndex ? Node{} : notFound(seg.name);
    default:
        return Node{};
    }
}

// Walks the remaining segments from `start`. A step from null or undefined
// (a missing intermediate) or a syntax error gives undefined.
Node walk(Node current, PathReader& reader, MemberHints& hints) {
    Segment seg;
    while (reader.next(seg)) {
        if (current.nullish())
            return Node{};
        current = child(current, seg, hints);
    }
    return reader.failed() ? Node{} : current;
}

// The value a path names, with the qualification rule: a path starting with
// the root name means the root when that finds a value, otherwise the path
// is taken as a member path from the root.
Node resolve(const JsonDocument::Root* root, std::string_view path) {
    if (!root)
        return Node{};
    if (startsWithRootName(path)) {
        PathReader reader(path.substr(JsonDocument::kRootName.size()), PathReader::Mode::AfterRoot);
        const Node found = walk(root->value, reader, root->hints);
        if (!found.nullish())
            return found;
    }
    PathReader reader(path, PathReader::Mode::Member);
    return walk(root->value, reader, root->hints);
}

// The member at `index` of an array (or of an object, by the index's text).
Node memberAt(const Node& container, int index) {
    if (container.kind == Kind::Array)
        return index >= 0 && static_cast<std::uint64_t>(index) < container.size
                   ? container.items[index]
                   : Node{};
    if (container.kind == Kind::Object) {
        char buf[16];
        const auto r = std::to_chars(buf, buf + sizeof buf, index);
        if (const Member* m = findMember(container, {buf, static_cast<std::size_t>(r.ptr - buf)}))
            return m->value;
    }
    return Node{};
}

// ---------------------------------------------------------------------------
// Texts

// The text of a string node, its placeholders turned back into backslashes.
void appendStringText(std::string& out, const Node& v) {
    if ((v.flags & kPlaceholders) && v.str().find(kPlaceholder) != std::string_view::npos)
        out += replaceAll(v.str(), kPlaceholder, "\\");
    else
        out.append(v.text, v.size);
}

void appendPlainText(std::string& out, const Node& v) {
    switch (v.kind) {
    case Kind::String:
        appendStringText(out, v);
        break;
    case Kind::Number:
        appendNumberText(out, v);
        break;
    case Kind::True:
        out += "true";
        break;
    case Kind::False:
        out += "false";
        break;
    case Kind::Object:
        out += "[object Object]";
        break;
    case Kind::Array:
        for (std::uint32_t i = 0; i < v.size; ++i) {
            if (i > 0)
                out += ',';
            appendPlainText(out, v.items[i]);
        }
        break;
    default:
        break; // undefined and null read as nothing inside an array
    }
}

// JavaScript's toString of the value; null, undefined and methods give "".
std::string plainText(const Node& v) {
    std::string out;
    appendPlainText(out, v);
    return out;
}

void appendQuoted(std::string& out, std::string_view s) {
    out += '"';
    appendJsonStringContent(out, s);
    out += '"';
}

bool isSkippedInJson(const Node& v) {
    return v.kind == Kind::Undefined || v.kind == Kind::Function;
}

// JSON.stringify without replacer or indent: compact.
void appendJson(std::string& out, const Node& v) {
    switch (v.kind) {
    case Kind::Null:
        out += "null";
        break;
    case Kind::True:
        out += "true";
        break;
    case Kind::False:
        out += "false";
        break;
    case Kind::Number:
        if (std::isfinite(numberValue(v)) || ((v.flags & kRawNumber) && isIntegerLexeme(v.str())))
            appendNumberText(out, v);
        else
            out += "null";
        break;
    case Kind::String:
        if (v.flags & kPlaceholders) {
            // A placeholder comes out as a bare backslash, also here.
            std::string quoted;
            appendQuoted(quoted, v.str());
            out += replaceAll(quoted, kPlaceholder, "\\");
        } else {
            appendQuoted(out, v.str());
        }
        break;
    case Kind::Array:
        out += '[';
        for (std::uint32_t i = 0; i < v.size; ++i) {
            if (i > 0)
                out += ',';
            if (isSkippedInJson(v.items[i]))
                out += "null";
            else
                appendJson(out, v.items[i]);
        }
        out += ']';
        break;
    case Kind::Object: {
        out += '{';
        bool first = true;
        for (std::uint32_t i = 0; i < v.size; ++i) {
            const Member& m = v.members[i];
            if (isSkippedInJson(m.value))
                continue;
            if (!first)
                out += ',';
            first = false;
            appendQuoted(out, m.name());
            out += ':';
            appendJson(out, m.value);
        }
        out += '}';
        break;
    }
    default:
        break;
    }
}

// "" for undefined and methods, which JSON.stringify leaves without text.
std::string jsonText(const Node& v) {
    if (isSkippedInJson(v))
        return {};
    std::string out;
    appendJson(out, v);
    return out;
}

double toNumber(const Node& v) {
    double value = 0;
    switch (v.kind) {
    case Kind::Number:
        value = numberValue(v);
        break;
    case Kind::String:
        value = stringToNumber(v.str());
        break;
    case Kind::True:
        value = 1;
        break;
    case Kind::Array:
        value = stringToNumber(plainText(v));
        break;
    default:
        break;
    }
    return std::isnan(value) ? 0 : value;
}

// A copy of `v` into `arena` as JSON would carry it: methods and undefined
// members are left out, undefined array members become null.
Node copyAsJson(const Node& v, Arena& arena) {
    Node out = v;
    switch (v.kind) {
    case Kind::Function:
        return Node{};
    case Kind::String:
        out.text = arena.copy(v.str());
        break;
    case Kind::Number:
        if (v.flags & kRawNumber)
            out.text = arena.copy(v.str());
        else if (!std::isfinite(v.number))
            out = makeKind(Kind::Null);
        break;
    case Kind::Array:
        if (v.size > 0) {
            out.items = arena.allocate<Node>(v.size);
            for (std::uint32_t i = 0; i < v.size; ++i)
                out.items[i] = isSkippedInJson(v.items[i]) ? makeKind(Kind::Null)
                                                           : copyAsJson(v.items[i], arena);
        }
        out.flags = 0;
        break;
    case Kind::Object: {
        out.flags = 0;
        out.size = 0;
        if (v.size == 0)
            break;
        out.members = arena.allocate<Member>(v.size);
        for (std::uint32_t i = 0; i < v.size; ++i) {
            const Member& m = v.members[i];
            if (isSkippedInJson(m.value))
                continue;
            out.members[out.size++] =
                Member{makeString(arena.copy(m.name()), m.key.size), copyAsJson(m.value, arena)};
        }
        break;
    }
    default:
        break;
    }
    return out;
}

void collectValues(const Node& v, bool recursive, std::string& joined, bool& any) {
    auto visit = [&](const Node& member) {
        switch (member.kind) {
        case Kind::Object:
        case Kind::Array:
            if (recursive)
                collectValues(member, recursive, joined, any);
            break;
        case Kind::String:
        case Kind::Number:
        case Kind::True:
        case Kind::False:
            if (any)
                joined += kValueSeparator;
            any = true;
            appendPlainText(joined, member);
            break;
        default:
            break;
        }
    };
    if (v.kind == Kind::Object) {
        for (std::uint32_t i = 0; i < v.size; ++i)
            visit(v.members[i].value);
    } else if (v.kind == Kind::Array) {
        for (std::uint32_t i = 0; i < v.size; ++i)
            visit(v.items[i]);
    }
}

// ---------------------------------------------------------------------------
// Writing

std::uint32_t capacity(const Node& container) {
    return (container.flags & kGrowable) ? std::bit_ceil(std::max<std::uint32_t>(container.size, 1))
                                         : container.size;
}

template <class T> T* grownStorage(Node& container, T* old, Arena& arena) {
    if (container.size < capacity(container))
        return old;
    const std::uint32_t cap = std::bit_ceil(container.size + 1);
    T* fresh = arena.allocate<T>(cap);
    if (container.size > 0)
        std::memcpy(static_cast<void*>(fresh), old, container.size * sizeof(T));
    container.flags |= kGrowable;
    return fresh;
}

Node& appendMember(Node& object, std::string_view key, Arena& arena) {
    object.members = grownStorage(object, object.members, arena);
    Member& m = object.members[object.size++];
    m = Member{makeString(arena.copy(key), key.size()), Node{}};
    return m.value;
}

void insertItem(Node& array, std::uint32_t at, const Node& value, Arena& arena) {
    array.items = grownStorage(array, array.items, arena);
    std::memmove(static_cast<void*>(array.items + at + 1), array.items + at,
                 (array.size - at) * sizeof(Node));
    array.items[at] = value;
    ++array.size;
}

// The element slot `index` of an array, holes added up to it.
Node* arraySlot(Node& array, std::uint64_t index, Arena& arena) {
    if (index < array.size)
        return &array.items[index];
    if (index - array.size > kMaxHoles || index >= 0xFFFFFFFEULL)
        return nullptr;
    while (array.size <= index)
        insertItem(array, array.size, Node{}, arena);
    return &array.items[index];
}

struct OwnedSegment {
    bool isIndex = false;
    std::uint64_t index = 0;
    std::string name;
};

// Where a write lands: the slot itself, or (for remove) its container and
// the last segment.
struct Target {
    Node* parent = nullptr; // null when the target is the root
    Node* slot = nullptr;
    OwnedSegment last;
    int depth = 0; // levels below the root
    bool ok = false;
};

// Finds the slot a qualified path names. With `create`, a missing member of
// an existing object (or element of an existing array) is made, undefined.
// Intermediates are never made: a step through a missing one fails, as an
// assignment through undefined does.
Target locate(JsonDocument::Root& root, std::string_view path, bool create) {
    Target t;
    std::string_view tail = path;
    PathReader::Mode mode = PathReader::Mode::Member;
    if (startsWithRootName(path)) {
        PathReader probe(path.substr(JsonDocument::kRootName.size()), PathReader::Mode::AfterRoot);
        if (!walk(root.value, probe, root.hints).nullish()) {
            tail = path.substr(JsonDocument::kRootName.size());
            mode = PathReader::Mode::AfterRoot;
        }
    }
    std::vector<OwnedSegment> segments;
    {
        PathReader reader(tail, mode);
        Segment seg;
        while (reader.next(seg))
            segments.push_back(OwnedSegment{seg.isIndex, seg.index, std::string(seg.name)});
        if (reader.failed())
            return t;
    }
    Node* cur = &root.value;
    if (segments.empty()) {
        t.slot = cur;
        t.ok = true;
        return t;
    }
    for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
        const OwnedSegment& s = segments[i];
        Node* next = nullptr;
        std::uint64_t index = s.index;
        if (cur->kind == Kind::Object) {
            const IndexName indexName(s.index);
            if (Member* m = findMember(*cur, s.isIndex ? indexName.view : s.name))
                next = &m->value;
        } else if (cur->kind == Kind::Array && (s.isIndex || nameAsIndex(s.name, index))) {
            if (index < cur->size)
                next = &cur->items[index];
        }
        if (!next)
            return t; // missing, a primitive's property or a method: nothing to write into
        cur = next;
    }
    t.parent = cur;
    t.last = std::move(segments.back());
    t.depth = static_cast<int>(segments.size());
    const OwnedSegment& s = t.last;
    if (cur->kind == Kind::Object) {
        const IndexName indexName(s.index);
        const std::string_view key = s.isIndex ? indexName.view : std::string_view(s.name);
        if (Member* m = findMember(*cur, key))
            t.slot = &m->value;
        else if (create)
            t.slot = &appendMember(*cur, key, root.arena);
    } else if (cur->kind == Kind::Array) {
        std::uint64_t index = s.index;
        if (s.isIndex || nameAsIndex(s.name, index)) {
            if (index < cur->size)
                t.slot = &cur->items[index];
            else if (create)
                t.slot = arraySlot(*cur, index, root.arena);
        }
    }
    t.ok = t.slot != nullptr;
    return t;
}

bool fitsDepth(const Target& t, int valueDepth) {
    return t.depth + valueDepth <= kMaxDepth;
}

// Merges `source` into `target` the way the document's extend step does:
// arrays take the source's members at their end; objects take each source
// key, merging into members that are objects or arrays and replacing the
// rest (including numbers and null); inherited methods are left alone.
void merge(Node& target, const Node& source, Arena& arena) {
    if (target.kind == Kind::Array) {
        if (source.kind == Kind::Array)
            for (std::uint32_t i = 0; i < source.size; ++i)
                insertItem(target, target.size, source.items[i], arena);
        return;
    }
    auto mergeKey = [&](std::string_view key, const Node& value) {
        if (Member* m = findMember(target, key)) {
            if (m->value.kind == Kind::Object || m->value.kind == Kind::Array)
                merge(m->value, value, arena);
            else
                m->value = value;
        } else if (!isInheritedMethod(key)) {
            appendMember(target, key, arena) = value;
        }
    };
    if (source.kind == Kind::Object) {
        for (std::uint32_t i = 0; i < source.size; ++i)
            mergeKey(source.members[i].name(), source.members[i].value);
    } else if (source.kind == Kind::Array) {
        for (std::uint32_t i = 0; i < source.size; ++i) {
            if (source.items[i].kind == Kind::Undefined)
                continue;
            const IndexName name(i);
            mergeKey(name.view, source.items[i]);
        }
    }
}

// A caller's text as a stored string; a placeholder in it reads back as a
// backslash, like every placeholder.
Node storeText(JsonDocument::Root& root, std::string_view text) {
    Node v = makeString(root.arena.copy(text), text.size());
    if (text.find(kPlaceholder) != std::string_view::npos)
        v.flags |= kPlaceholders;
    return v;
}

bool fitsString(std::string_view text) {
    return text.size() <= std::numeric_limits<std::uint32_t>::max() / 3;
}

} // namespace jsondoc_detail

using namespace jsondoc_detail;

// ---------------------------------------------------------------------------

JsonDocument::JsonDocument() {
    initialise();
}

JsonDocument::JsonDocument(std::shared_ptr<Root> root) : root_(std::move(root)) {}

JsonDocument::~JsonDocument() = default;
JsonDocument::JsonDocument(JsonDocument&&) noexcept = default;
JsonDocument& JsonDocument::operator=(JsonDocument&&) noexcept = default;

void JsonDocument::destroy() noexcept {
    root_.reset();
}

JsonDocument JsonDocument::clone() const {
    return JsonDocument(root_);
}

bool JsonDocument::initialise() {
    if (!root_)
        root_ = std::make_shared<Root>();
    return clear();
}

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

bool JsonDocument::clear() {
    if (!root_)
        return false;
    root_->reset(makeKind(Kind::Object));
    return true;
}

std::string JsonDocument::toJsonText() const {
    return root_ ? jsonText(root_->value) : std::string();
}

namespace {

// The caller's value for a writing operation: a string as given in text
// mode, a literal in JSON mode. `emptyIsUndefined`: an empty (or blank)
// literal stands for undefined instead of failing.
Literal valueFor(JsonDocument::Root& root, std::string_view value, bool isJson,
                 bool emptyIsUndefined) {
    if (!isJson) {
        if (!fitsString(value))
            return {};
        return {storeText(root, value), 0, true};
    }
    if (emptyIsUndefined && trimSpace(value).empty())
        return {Node{}, 0, true};
    return readLiteral(value, root.arena, kMaxDepth);
}

bool assign(JsonDocument::Root& root, std::string_view path, const Literal& lit) {
    if (!lit.ok)
        return false;
    const Target t = locate(root, path, true);
    if (!t.ok || !fitsDepth(t, lit.depth))
        return false;
    *t.slot = lit.value;
    return true;
}

} // namespace

bool JsonDocument::setValue(std::string_view path, std::string_view value, bool isJson) {
    if (!root_)
        return false;
    Root& root = *root_;
    if (!isJson) {
        if (!fitsString(value))
            return false;
        const std::string stored = replaceAll(value, "\\", kPlaceholder);
        return assign(root, path, {storeText(root, stored), 0, true});
    }
    if (resolve(root_.get(), path).kind != Kind::Object)
        return assign(root, path, valueFor(root, value, true, true));
    // An object already there takes the value's members instead.
    const Literal lit = valueFor(root, value.empty() ? std::string_view("{}") : value, true, true);
    const Target t = lit.ok ? locate(root, path, false) : Target{};
    if (!t.ok || t.slot->kind != Kind::Object || !fitsDepth(t, lit.depth))
        return false;
    merge(*t.slot, lit.value, root.arena);
    return true;
}

bool JsonDocument::setFromExpression(std::string_view path, std::string_view literal) {
    if (!root_)
        return false;
    return assign(*root_, path, valueFor(*root_, literal, true, true));
}

bool JsonDocument::qualifyPath(std::string& path) const {
    if (root_ && startsWithRootName(path)) {
        PathReader reader(std::string_view(path).substr(kRootName.size()),
                          PathReader::Mode::AfterRoot);
        if (!walk(root_->value, reader, root_->hints).nullish())
            return true;
    }
    if (path.empty())
        path = kRootName;
    else if (path[0] == '[')
        path.insert(0, kRootName);
    else
        path.insert(0, std::string(kRootName) + ".");
    if (!root_)
        return false;
    PathReader reader(std::string_view(path).substr(kRootName.size()), PathReader::Mode::AfterRoot);
    return !walk(root_->value, reader, root_->hints).nullish();
}

bool JsonDocument::exists(std::string_view path) const {
    return !resolve(root_.get(), path).nullish();
}

int JsonDocument::typeOf(std::string_view path) const {
    switch (resolve(root_.get(), path).kind) {
    case Kind::True:
    case Kind::False:
        return kTypeBoolean;
    case Kind::Number:
        return kTypeNumber;
    case Kind::Object:
        return kTypeObject;
    case Kind::Array:
        return kTypeArray;
    case Kind::String:
        return kTypeString;
    case Kind::Function:
        return kTypeOther;
    default:
        return kTypeMissing;
    }
}

std::string JsonDocument::getText(std::string_view path, bool asJson) const {
    if (!root_)
        return {};
    const Node v = resolve(root_.get(), path);
    return asJson ? jsonText(v) : plainText(v);
}

std::vector<std::string> JsonDocument::memberNames(std::string_view path) const {
    const Node v = resolve(root_.get(), path);
    if (v.kind != Kind::Object)
        return {};
    // Joined and split again, so that a key holding a line break splits
    // just as the listing of names always did.
    std::string joined;
    for (std::uint32_t i = 0; i < v.size; ++i) {
        if (i > 0)
            joined += kLineBreak;
        joined += v.members[i].name();
    }
    return splitText(joined, kLineBreak);
}

int JsonDocument::count(std::string_view path) const {
    const Node v = resolve(root_.get(), path);
    if (v.kind != Kind::Array)
        return 0;
    return static_cast<int>(std::min<std::uint32_t>(v.size, std::numeric_limits<int>::max()));
}

JsonDocument JsonDocument::getDocument(std::string_view path) const {
    JsonDocument doc;
    doc.root_->value = copyAsJson(resolve(root_.get(), path), doc.root_->arena);
    return doc;
}

bool JsonDocument::arrayAdd(std::string_view value, std::string_view path, bool isJson,
                            bool atFront) {
    if (!root_)
        return false;
    Root& root = *root_;
    // In text mode the text is stored as given, apostrophes and backslashes
    // included. An empty JSON value adds nothing but still makes the array.
    const bool nothing = isJson && trimSpace(value).empty();
    const Literal lit = nothing ? Literal{Node{}, 0, true} : valueFor(root, value, isJson, false);
    if (!lit.ok)
        return false;
    const Target t = locate(root, path, true);
    if (!t.ok || !fitsDepth(t, lit.depth + 1))
        return false;
    if (t.slot->kind != Kind::Array)
        *t.slot = makeKind(Kind::Array);
    if (!nothing)
        insertItem(*t.slot, atFront ? 0 : t.slot->size, lit.value, root.arena);
    return true;
}

JsonDocument JsonDocument::arrayMemberDocument(int index, std::string_view path) const {
    JsonDocument doc;
    const Node member = memberAt(resolve(root_.get(), path), index);
    doc.root_->value = copyAsJson(member, doc.root_->arena);
    return doc;
}

std::string JsonDocument::arrayMemberText(int index, std::string_view path, bool asJson) const {
    if (!root_)
        return {};
    const Node v = memberAt(resolve(root_.get(), path), index);
    if (asJson)
        return jsonText(v);
    return v.kind == Kind::String ? plainText(v) : std::string();
}

bool JsonDocument::setArrayMember(int index, std::string_view path, std::string_view value,
                                  bool isJson) {
    if (!root_)
        return false;
    Root& root = *root_;
    const Literal lit = valueFor(root, value, isJson, false);
    if (!lit.ok)
        return false;
    const Target t = locate(root, path, false);
    if (!t.ok || !fitsDepth(t, lit.depth + 1))
        return false;
    Node& container = *t.slot;
    Node* slot = nullptr;
    if (container.kind == Kind::Array) {
        if (index >= 0)
            slot = arraySlot(container, static_cast<std::uint64_t>(index), root.arena);
    } else if (container.kind == Kind::Object) {
        char buf[16];
        const auto r = std::to_chars(buf, buf + sizeof buf, index);
        const std::string_view key(buf, static_cast<std::size_t>(r.ptr - buf));
        Member* m = findMember(container, key);
        slot = m ? &m->value : &appendMember(container, key, root.arena);
    }
    if (!slot)
        return false;
    *slot = lit.value;
    return true;
}

bool JsonDocument::removeArrayMember(int index, std::string_view path) {
    if (!root_)
        return false;
    const Target t = locate(*root_, path, false);
    if (!t.ok || t.slot->kind != Kind::Array)
        return false;
    Node& array = *t.slot;
    // As splice(index, 1): a negative start counts back from the end.
    const std::int64_t size = array.size;
    const std::int64_t start = index < 0 ? std::max<std::int64_t>(size + index, 0) : index;
    if (start >= size)
        return false;
    std::memmove(static_cast<void*>(array.items + start), array.items + start + 1,
                 static_cast<std::size_t>(size - start - 1) * sizeof(Node));
    --array.size;
    return true;
}

bool JsonDocument::remove(std::string_view path) {
    if (!root_)
        return false;
    const Target t = locate(*root_, path, false);
    if (!t.ok || !t.parent)
        return false; // missing, or the root itself, which cannot be deleted
    Node& parent = *t.parent;
    if (parent.kind == Kind::Array) {
        *t.slot = Node{}; // as delete does: a hole, the length stays
        return true;
    }
    const IndexName indexName(t.last.index);
    const Member* m =
        findMember(parent, t.last.isIndex ? indexName.view : std::string_view(t.last.name));
    const std::size_t at = static_cast<std::size_t>(m - parent.members);
    std::memmove(static_cast<void*>(parent.members + at), parent.members + at + 1,
                 (parent.size - at - 1) * sizeof(Member));
    --parent.size;
    return true;
}

bool JsonDocument::setNumber(std::string_view path, double number) {
    if (!root_ || !std::isfinite(number))
        return false;
    return assign(*root_, path, {makeNumber(lexemeToDouble(formatG13(number))), 0, true});
}

double JsonDocument::getNumber(std::string_view path) const {
    return toNumber(resolve(root_.get(), path));
}

std::string JsonDocument::getJsonText(std::string_view path) const {
    return root_ ? jsonText(resolve(root_.get(), path)) : std::string();
}

std::shared_ptr<JsonDocument::Root> JsonDocument::engine() const {
    return root_;
}

std::vector<std::string> JsonDocument::allValues(std::string_view path, bool recursive) const {
    if (!root_)
        return {};
    std::string joined;
    bool any = false;
    collectValues(resolve(root_.get(), path), recursive, joined, any);
    return splitText(joined, kValueSeparator);
}

} // namespace vantorel
