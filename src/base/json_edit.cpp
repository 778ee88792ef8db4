// The writing operations: where a path lands, storing, merging, adding to
// and removing from arrays and objects. A write never creates missing
// intermediates.

#include "base/text.h"
#include "json_internal.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

namespace vantorel {
namespace jsondoc_detail {

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
        if (!walk(root.value, probe).nullish()) {
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

} // namespace vantorel
