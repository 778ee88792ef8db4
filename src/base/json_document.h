#pragma once

// A JSON value read and edited by JavaScript member-access paths such as
// list[3].server_filename, with JavaScript's reading rules: numbers come
// back as ECMAScript writes them, objects as "[object Object]", arrays as
// their members joined by ",". Every failure reads as the empty text, 0,
// false or an empty list; nothing here throws.
//
// Replies are read as data only. parse() takes standard JSON, or a
// JavaScript literal with unquoted keys and single-quoted strings; nothing
// in a text is ever evaluated.
//
// Paths. A path is a member-access tail: identifiers joined by ".", "[n]"
// indexes and ["name"] keys. It is read against the root value, which is
// also reachable under the root name "da": "list[0].path", "[2].fs_id"
// (a leading "[" indexes the root) and "da.list[0].path" all work, and the
// empty path is the root itself. A path that starts with "da" only names
// the root when it resolves to something; otherwise "da" is a root key like
// any other, so "data" and "da.da" keep working (see qualifyPath).
//
// Writing operations return whether the document now holds what was asked;
// a write never creates missing intermediates (like an assignment through
// undefined, it fails). Values replaced by writes keep their memory until
// the next parse() or clear().
//
// Sharing. clone() gives a second document over the same root: a change
// made through one is seen by the other. getDocument() and
// arrayMemberDocument() copy instead. A document and its clones belong to
// one thread.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

class JsonDocument {
public:
    // The value tree a document and its clones share. Opaque to callers.
    struct Root;

    // typeOf() codes.
    static constexpr int kTypeMissing = 0; // missing, undefined or null
    static constexpr int kTypeBoolean = 1;
    static constexpr int kTypeNumber = 2;
    static constexpr int kTypeObject = 4;
    static constexpr int kTypeArray = 5;
    static constexpr int kTypeString = 6;
    static constexpr int kTypeOther = -1; // a method such as "x.toJSONString"

    static constexpr std::string_view kRootName = "da";

    // Ready at once, its root an empty object.
    JsonDocument();
    // A further document over `root` (what engine() hands out); an empty
    // pointer gives a released document that parse() or initialise() revive.
    explicit JsonDocument(std::shared_ptr<Root> root);
    ~JsonDocument();
    JsonDocument(JsonDocument&&) noexcept;
    JsonDocument& operator=(JsonDocument&&) noexcept;
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;

    std::string_view rootName() const noexcept { return kRootName; }

    // Drops this document's share of the root (its memory goes with the last
    // share). Until initialise() or parse(), reads fail and writes do nothing.
    void destroy() noexcept;
    JsonDocument clone() const;
    // Makes the document ready and resets its root to an empty object.
    bool initialise();

    // Replaces the root with the value of `text`; true when that value is
    // neither null nor missing. A text that is not a literal leaves the root
    // null (undefined for an empty text). `direct` is accepted for
    // compatibility: both forms read the text the same way.
    bool parse(std::string_view text, bool direct = false);
    bool clear();
    std::string toJsonText() const;

    // Text mode stores `value` as a string, each backslash kept as the
    // placeholder U+2400 that every text result turns back into a backslash
    // (in JSON text too, where it comes out bare). Only such stored texts
    // are read that way: a U+2400 that arrives through parse() or a literal
    // is a character like any other, so a reply cannot make one of its
    // names read as a different one. JSON mode reads `value`
    // as a literal: merged into an object already at the path, otherwise
    // stored; an empty value leaves nothing at the path.
    bool setValue(std::string_view path, std::string_view value, bool isJson = false);
    // Stores the value of the JSON or JavaScript literal `literal`.
    bool setFromExpression(std::string_view path, std::string_view literal);

    // Rewrites `path` to its form under the root name and says whether it
    // names a value that is neither null nor missing.
    bool qualifyPath(std::string& path) const;
    bool exists(std::string_view path) const;
    int typeOf(std::string_view path) const;
    std::string getText(std::string_view path, bool asJson = false) const;
    // Keys of the object at the path, in insertion order; empty for
    // anything else.
    std::vector<std::string> memberNames(std::string_view path = {}) const;
    // Length of the array at the path, else 0.
    int count(std::string_view path) const;
    // A separate document holding a copy of the value at the path.
    JsonDocument getDocument(std::string_view path) const;

    // Turns the value at the path into an array unless it is one, then
    // appends (or, atFront, prepends) `value`: as a string in text mode, as
    // a literal in JSON mode (an empty literal adds nothing).
    bool arrayAdd(std::string_view value, std::string_view path, bool isJson = false,
                  bool atFront = false);
    JsonDocument arrayMemberDocument(int index, std::string_view path) const;
    // Plain form: the member's text when it is a string, else empty.
    std::string arrayMemberText(int index, std::string_view path, bool asJson = false) const;
    bool setArrayMember(int index, std::string_view path, std::string_view value,
                        bool isJson = false);
    // Removes one member the way Array.prototype.splice(index, 1) does; a
    // negative index counts from the end.
    bool removeArrayMember(int index, std::string_view path);
    // Deletes an object member; an array member becomes a hole (undefined).
    bool remove(std::string_view path);
    // Stores the number as "%.13g" writes it; NaN and infinities are refused.
    bool setNumber(std::string_view path, double number);
    double getNumber(std::string_view path) const;
    std::string getJsonText(std::string_view path) const;
    std::shared_ptr<Root> engine() const;
    // Strings, numbers and booleans under the value at the path, in order,
    // descending into objects and arrays when `recursive`; as texts joined
    // by the separator "[2020年7月20日20时0分0秒]" and split there again,
    // so a value holding the separator splits and an empty last value is
    // dropped.
    std::vector<std::string> allValues(std::string_view path, bool recursive) const;

private:
    std::shared_ptr<Root> root_;
};

} // namespace vantorel
