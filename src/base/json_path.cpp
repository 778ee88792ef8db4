// Reading a document by JavaScript member-access paths: the path reader,
// one property access at a time with JavaScript's lookup rules, and the
// operations that only read.

#include "base/text.h"
#include "json_internal.h"

#include <charconv>
#include <limits>

namespace vantorel {
namespace jsondoc_detail {

bool startsWithRootName(std::string_view path) {
    return path.starts_with(JsonDocument::kRootName) &&
           (path.size() == JsonDocument::kRootName.size() ||
            !isIdentifierPart(static_cast<unsigned char>(path[JsonDocument::kRootName.size()])));
}

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
        if (m->name() == key)
            return m;
    return nullptr;
}

Member* findMember(Node& object, std::string_view key) {
    return const_cast<Member*>(findMember(static_cast<const Node&>(object), key));
}

Node notFound(std::string_view name) {
    return isInheritedMethod(name) ? makeKind(Kind::Function) : Node{};
}

// One property access, read-only. `from` must not be null or undefined.
Node child(const Node& from, const Segment& seg) {
    switch (from.kind) {
    case Kind::Object: {
        if (seg.isIndex) {
            const IndexName name(seg.index);
            const Member* m = findMember(from, name.view);
            return m ? m->value : Node{};
        }
        if (const Member* m = findMember(from, seg.name))
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

Node walk(Node current, PathReader& reader) {
    Segment seg;
    while (reader.next(seg)) {
        if (current.nullish())
            return Node{};
        current = child(current, seg);
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
        const Node found = walk(root->value, reader);
        if (!found.nullish())
            return found;
    }
    PathReader reader(path, PathReader::Mode::Member);
    return walk(root->value, reader);
}

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

} // namespace jsondoc_detail

using namespace jsondoc_detail;

bool JsonDocument::qualifyPath(std::string& path) const {
    if (root_ && startsWithRootName(path)) {
        PathReader reader(std::string_view(path).substr(kRootName.size()),
                          PathReader::Mode::AfterRoot);
        if (!walk(root_->value, reader).nullish())
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
    return !walk(root_->value, reader).nullish();
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

std::string JsonDocument::arrayMemberText(int index, std::string_view path, bool asJson) const {
    if (!root_)
        return {};
    const Node v = memberAt(resolve(root_.get(), path), index);
    if (asJson)
        return jsonText(v);
    return v.kind == Kind::String ? plainText(v) : std::string();
}

double JsonDocument::getNumber(std::string_view path) const {
    return toNumber(resolve(root_.get(), path));
}

std::string JsonDocument::getJsonText(std::string_view path) const {
    return root_ ? jsonText(resolve(root_.get(), path)) : std::string();
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
