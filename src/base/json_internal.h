#pragma once

// What the parts of JsonDocument share (json_reader.cpp, json_path.cpp,
// json_writer.cpp, json_edit.cpp, json_document.cpp): the value nodes, the
// arena they live in, the document's root, and the functions one part
// offers another. Private to src/base: nothing outside includes it.

#include "base/json_document.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vantorel {
namespace jsondoc_detail {

// U+2400, the stand-in for a backslash in strings stored by setValue's
// text mode; every text result turns it back into a backslash.
inline constexpr std::string_view kPlaceholder = "\xE2\x90\x80";
inline constexpr std::string_view kValueSeparator = "[2020年7月20日20时0分0秒]";
inline constexpr std::string_view kLineBreak = "\r\n";
// Deeper values are refused: parsing, copying and writing recurse per level.
inline constexpr int kMaxDepth = 512;
// Writing far past the end of an array would fill memory with holes.
inline constexpr std::uint64_t kMaxHoles = 1u << 20;
// Zero bytes after an in-situ text: the SIMD scanners read whole aligned
// 16-byte blocks and must find the terminator inside the buffer.
inline constexpr std::size_t kSourcePadding = 32;

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

inline Node makeKind(Kind kind) {
    Node n;
    n.kind = kind;
    return n;
}

inline Node makeNumber(double value) {
    Node n;
    n.kind = Kind::Number;
    n.number = value;
    return n;
}

inline Node makeString(const char* text, std::size_t size) {
    Node n;
    n.kind = Kind::String;
    n.size = static_cast<std::uint32_t>(size);
    n.text = text;
    return n;
}

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using LargeBuffer = std::unique_ptr<std::byte[], FreeDeleter>;

// Big buffers (the in-situ text, the larger arena blocks) ask for huge pages
// where the system offers them: with 4 KiB pages a 90 MB listing spends a
// good part of its decode taking page faults (BM_ListingDecode/100000 takes
// half as long again without them). A page of 1,000 entries stays below the
// 2 MiB where they start, so paged listings never use them.
LargeBuffer allocateBuffer(std::size_t bytes);

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

    void reset(jsondoc_detail::Node v) {
        source.reset();
        arena.reset();
        value = v;
    }
};

namespace jsondoc_detail {

// ---------------------------------------------------------------------------
// Characters (json_reader.cpp)

// Identifier characters of paths and unquoted keys: ASCII letters, digits,
// "_", "$" and every non-ASCII byte (JavaScript takes Chinese names too).
inline constexpr std::array<std::uint8_t, 256> kIdentifierClass = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const bool start =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
        table[static_cast<std::size_t>(c)] = start ? 2 : (c >= '0' && c <= '9') ? 1 : 0;
    }
    return table;
}();

inline bool isIdentifierStart(unsigned char c) {
    return kIdentifierClass[c] == 2;
}

inline bool isIdentifierPart(unsigned char c) {
    return kIdentifierClass[c] != 0;
}

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the JavaScript white space (or line terminator) at text[pos], 0 if none.
std::size_t spaceAt(std::string_view text, std::size_t pos);
std::string_view trimSpace(std::string_view text);
// A JavaScript string literal at text[pos] (quote ' or "), decoded into out.
bool readJsString(std::string_view text, std::size_t& pos, std::string& out);

// ---------------------------------------------------------------------------
// Reading literals (json_reader.cpp)

struct Literal {
    Node value;
    int depth = 0;
    bool ok = false;
};

// Reads a literal into the arena, copying every text. For values handed to
// the writing operations; the document's own parse reads in place.
Literal readLiteral(std::string_view text, Arena& arena, int depthBudget);

// ---------------------------------------------------------------------------
// Paths (json_path.cpp)

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

struct IndexName {
    char buf[24];
    std::string_view view;
    explicit IndexName(std::uint64_t index) {
        const auto r = std::to_chars(buf, buf + sizeof buf, index);
        view = std::string_view(buf, static_cast<std::size_t>(r.ptr - buf));
    }
};

// "da", "da.x", "da[0]": the path starts with the root's own name.
bool startsWithRootName(std::string_view path);
// A canonical array index spelled as a name: "0", "17", not "01" or "-1".
bool nameAsIndex(std::string_view name, std::uint64_t& index);
// Methods every value inherits (toJSONString, parseJSON, ...).
bool isInheritedMethod(std::string_view name);
const Member* findMember(const Node& object, std::string_view key);
Member* findMember(Node& object, std::string_view key);
// Walks the remaining segments from `start`. A step from null or undefined
// (a missing intermediate) or a syntax error gives undefined.
Node walk(Node current, PathReader& reader);
// The value a path names, with the qualification rule of qualifyPath.
Node resolve(const JsonDocument::Root* root, std::string_view path);
// The member at `index` of an array (or of an object, by the index's text).
Node memberAt(const Node& container, int index);

// ---------------------------------------------------------------------------
// Numbers and texts (json_writer.cpp)

bool isIntegerLexeme(std::string_view lexeme);
double lexemeToDouble(std::string_view lexeme);
double numberValue(const Node& n);
// An integer written in the text keeps its digits, however many.
void appendNumberText(std::string& out, const Node& n);
// JavaScript's toString of the value; null, undefined and methods give "".
std::string plainText(const Node& v);
// JSON.stringify; "" for undefined and methods.
std::string jsonText(const Node& v);
bool isSkippedInJson(const Node& v);
double toNumber(const Node& v);
// A copy of `v` into `arena` as JSON would carry it.
Node copyAsJson(const Node& v, Arena& arena);
void collectValues(const Node& v, bool recursive, std::string& joined, bool& any);

} // namespace jsondoc_detail
} // namespace vantorel
