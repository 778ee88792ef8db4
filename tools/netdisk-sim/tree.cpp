#include "tree.h"

#include "text_util.h"

#include <algorithm>
#include <array>
#include <functional>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <set>

namespace netdisk_sim {

namespace {

// 2021-05-27 15:17:58 in UTC+8: entries get times before this moment, so
// that lists look the same on every run and machine.
constexpr std::int64_t kBaseTime = 1622099878;
constexpr std::uint64_t kTwoPow53 = 9007199254740992ULL;
constexpr std::uint64_t kMinFsId = 100000000000000ULL;  // 15 digits
constexpr std::uint64_t kMaxFsId = 9999999999999999ULL; // 16 digits

std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t hashText(std::string_view text, std::uint64_t salt) {
    std::uint64_t h = 0xCBF29CE484222325ULL ^ salt;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001B3ULL;
    }
    return splitmix(h);
}

std::string hex128(std::uint64_t a, std::uint64_t b) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 16; ++i) {
        out[static_cast<std::size_t>(i)] = kHex[(a >> (60 - 4 * i)) & 15];
        out[static_cast<std::size_t>(16 + i)] = kHex[(b >> (60 - 4 * i)) & 15];
    }
    return out;
}

std::string lowerExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size()) {
        return {};
    }
    std::string ext(name.substr(dot + 1));
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return ext;
}

std::string joinPath(const std::string& parent, std::string_view name) {
    return parent == "/" ? "/" + std::string(name) : parent + "/" + std::string(name);
}

bool isHex32(std::string_view text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

} // namespace

Tree::Tree() {
    Entry root;
    root.fsId = kRootId;
    root.path = "/";
    root.isDir = true;
    root.mtime = root.ctime = kBaseTime;
    byId_.emplace(kRootId, std::move(root));
    byPath_.emplace("/", kRootId);
}

std::string Tree::normalisePath(std::string_view path) {
    std::string out = "/";
    std::size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') {
            ++i;
        }
        const std::size_t start = i;
        while (i < path.size() && path[i] != '/') {
            ++i;
        }
        if (i > start) {
            if (out.size() > 1) {
                out.push_back('/');
            }
            out.append(path.substr(start, i - start));
        }
    }
    return out;
}

bool Tree::isValidName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255 || !isValidUtf8(name)) {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7F;
    });
}

int Tree::categoryOf(std::string_view name) {
    static const std::array<std::pair<int, std::vector<std::string>>, 6> kTable{{
        {1, {"mp4", "mkv", "avi", "mov", "flv", "rmvb", "wmv", "ts"}},
        {2, {"mp3", "flac", "wav", "aac", "ape", "m4a", "ogg"}},
        {3, {"jpg", "jpeg", "png", "gif", "bmp", "webp", "heic"}},
        {4, {"txt", "doc", "docx", "pdf", "xls", "xlsx", "ppt", "pptx", "md", "epub", "csv"}},
        {5, {"exe", "apk", "dmg", "msi", "ipa"}},
        {7, {"torrent"}},
    }};
    const std::string ext = lowerExtension(name);
    for (const auto& [category, extensions] : kTable) {
        if (std::find(extensions.begin(), extensions.end(), ext) != extensions.end()) {
            return category;
        }
    }
    return 6;
}

Entry& Tree::add(std::uint64_t parent, Entry entry) {
    Entry& dir = byId_.at(parent);
    entry.parent = parent;
    entry.path = joinPath(dir.path, entry.name);
    dir.children.push_back(entry.fsId);
    (entry.isDir ? folders_ : files_) += 1;
    byPath_[entry.path] = entry.fsId;
    const std::uint64_t id = entry.fsId;
    return byId_.emplace(id, std::move(entry)).first->second;
}

const Entry* Tree::findPath(std::string_view path) const {
    const auto it = byPath_.find(normalisePath(path));
    return it == byPath_.end() ? nullptr : &byId_.at(it->second);
}

const Entry* Tree::findId(std::uint64_t fsId) const {
    if (fsId == kRootId) {
        return nullptr;
    }
    const auto it = byId_.find(fsId);
    return it == byId_.end() ? nullptr : &it->second;
}

std::vector<const Entry*> Tree::children(const Entry& dir) const {
    std::vector<const Entry*> out;
    out.reserve(dir.children.size());
    for (const std::uint64_t id : dir.children) {
        out.push_back(&byId_.at(id));
    }
    return out;
}

void Tree::repath(std::uint64_t id, const std::string& parentPath) {
    Entry& entry = byId_.at(id);
    byPath_.erase(entry.path);
    entry.path = joinPath(parentPath, entry.name);
    byPath_[entry.path] = id;
    for (const std::uint64_t child : entry.children) {
        repath(child, entry.path);
    }
}

RenameResult Tree::rename(std::string_view path, std::string_view newName) {
    const Entry* found = findPath(path);
    if (found == nullptr || found->fsId == kRootId) {
        return RenameResult::NotFound;
    }
    if (!isValidName(newName)) {
        return RenameResult::BadName;
    }
    if (found->name == newName) {
        return RenameResult::Ok;
    }
    const Entry& parent = byId_.at(found->parent);
    if (byPath_.count(joinPath(parent.path, newName)) != 0) {
        return RenameResult::Exists;
    }
    Entry& entry = byId_.at(found->fsId);
    entry.name = std::string(newName);
    if (!entry.isDir) {
        entry.category = categoryOf(entry.name);
    }
    repath(entry.fsId, parent.path);
    return RenameResult::Ok;
}

namespace {

struct Planned {
    std::string name;
    bool isDir = false;
    std::uint64_t fsId = 0;
    std::uint64_t size = 0;
    const char* md5 = nullptr;
    std::int64_t age = 0; // seconds before the base time
    std::vector<Planned> children;
};

Planned file(std::string name, std::uint64_t fsId, std::uint64_t size, std::int64_t age,
             const char* md5 = nullptr) {
    Planned s;
    s.name = std::move(name);
    s.fsId = fsId;
    s.size = size;
    s.age = age;
    s.md5 = md5;
    return s;
}

Planned folder(std::string name, std::uint64_t fsId, std::int64_t age,
               std::vector<Planned> children) {
    Planned s;
    s.name = std::move(name);
    s.isDir = true;
    s.fsId = fsId;
    s.age = age;
    s.children = std::move(children);
    return s;
}

} // namespace

Tree Tree::makeDefault() {
    static const char* const kSameContent = "6f1ed002ab5595859014ebf0951522d9";
    const std::vector<Planned> top{
        folder("A", 386517923450918ULL, 600,
               {
                   folder("B", 521736498120347ULL, 700,
                          {file("b1.jpg", 1042889473620145ULL, 245760, 710)}),
                   folder("C", 708144921036518ULL, 800,
                          {file("c1.pdf", 617274830519627ULL, 1610612736, 810)}),
                   file("a1.txt", 893025776410239ULL, 512, 650),
               }),
        folder("我的文档", 274615093827461ULL, 900,
               {
                   file("报告 2021.docx", 330918274650192ULL, 1048576, 910),
                   file("it's mine.txt", 447120938475610ULL, 1048575, 920),
                   file("notes_v2 (final).md", 558203746192038ULL, 0, 930),
                   file("照片_001.jpg", 9123456789012345ULL, 3407872, 940),
                   file("重复副本.txt", 669304857162039ULL, 20480, 950, kSameContent),
                   file("重复副本 (1).txt", 770415968273140ULL, 20480, 960, kSameContent),
               }),
        folder("my docs", 881527079384251ULL, 1000,
               {
                   folder("it's here", 992638180495362ULL, 1100,
                          {file("x_y.txt", 1103749291506473ULL, 2048, 1110)}),
                   file("a b c.txt", 214860392750184ULL, 4096, 1050),
               }),
        folder("空文件夹", 325971403861295ULL, 1200, {}),
        file("大编号_文件.bin", 9007199254740993ULL, 5368709120ULL, 1300),
        file("readme.txt", 437082514972306ULL, 1234, 1400),
    };
    Tree tree;
    std::function<void(std::uint64_t, const std::vector<Planned>&)> addAll =
        [&](std::uint64_t parent, const std::vector<Planned>& planned) {
            for (const Planned& s : planned) {
                Entry e;
                e.fsId = s.fsId;
                e.name = s.name;
                e.isDir = s.isDir;
                e.mtime = e.ctime = kBaseTime - s.age;
                if (!s.isDir) {
                    e.size = s.size;
                    e.md5 =
                        s.md5 != nullptr ? s.md5 : hex128(hashText(s.name, 1), hashText(s.name, 2));
                    e.category = categoryOf(s.name);
                    e.thumbs = e.category == 1 || e.category == 3;
                }
                tree.add(parent, std::move(e));
                if (s.isDir) {
                    addAll(s.fsId, s.children);
                }
            }
        };
    addAll(kRootId, top);
    return tree;
}

Tree Tree::generate(std::size_t files, std::uint64_t seed, int folders) {
    static const std::array<const char*, 12> kFolderNames{
        "文档", "照片 2021", "it's mine", "backup_old",     "视频 合集", "项目_资料",
        "音乐", "my docs",   "下载",      "archive (2020)", "工作 报告", "旅行_photos"};
    Tree tree;
    std::uint64_t rng = seed ^ 0x5EED5EED5EED5EEDULL;
    std::set<std::uint64_t> used;
    const auto newId = [&](bool large) {
        for (;;) {
            const std::uint64_t lo = large ? kTwoPow53 + 1 : kMinFsId;
            const std::uint64_t hi = large ? kMaxFsId : kTwoPow53 - 1;
            const std::uint64_t id = lo + splitmix(rng) % (hi - lo + 1);
            if (used.insert(id).second) {
                return id;
            }
        }
    };

    std::size_t folderCount = 0;
    if (folders < 0) {
        folderCount = files <= 10 ? 2 : std::clamp<std::size_t>(files / 50, 3, 12);
    } else {
        folderCount = static_cast<std::size_t>(folders);
    }
    std::vector<std::uint64_t> folderIds;
    std::vector<int> depth;
    for (std::size_t k = 0; k < folderCount; ++k) {
        std::uint64_t parent = kRootId;
        int d = 1;
        if (k % 3 != 0 && !folderIds.empty()) {
            const std::size_t pick = splitmix(rng) % folderIds.size();
            if (depth[pick] < 3) {
                parent = folderIds[pick];
                d = depth[pick] + 1;
            }
        }
        Entry e;
        e.fsId = newId(false);
        e.isDir = true;
        e.name = kFolderNames[k % kFolderNames.size()];
        if (k >= kFolderNames.size()) {
            e.name += " " + std::to_string(k / kFolderNames.size() + 1);
        }
        e.mtime = e.ctime = kBaseTime - static_cast<std::int64_t>(k) * 17;
        folderIds.push_back(e.fsId);
        depth.push_back(d);
        tree.add(parent, std::move(e));
    }

    const std::size_t width = std::to_string(files).size();
    std::uint64_t lastSize = 0;
    std::string lastMd5;
    for (std::size_t i = 0; i < files; ++i) {
        std::string num = std::to_string(i + 1);
        num.insert(0, width - num.size(), '0');
        std::string name;
        switch (i % 8) {
        case 0:
            name = "照片_" + num + ".jpg";
            break;
        case 1:
            name = "report " + num + ".pdf";
            break;
        case 2:
            name = "it's file " + num + ".txt";
            break;
        case 3:
            name = "视频 " + num + ".mp4";
            break;
        case 4:
            name = "notes_" + num + " (copy).md";
            break;
        case 5:
            name = "数据备份_" + num + ".zip";
            break;
        case 6:
            name = "song " + num + ".mp3";
            break;
        default:
            name = "文件 " + num + "'s draft.docx";
            break;
        }
        Entry e;
        e.fsId = newId(i % 7 == 3);
        e.name = std::move(name);
        e.mtime = e.ctime = kBaseTime - 3600 - static_cast<std::int64_t>(i) * 37;
        if (i % 37 == 36 && !lastMd5.empty()) {
            e.size = lastSize; // the same content stored twice
            e.md5 = lastMd5;
        } else {
            if (i % 29 == 0) {
                e.size = 0;
            } else if (i % 97 == 0) {
                e.size = (5ULL << 30) + splitmix(rng) % (1ULL << 30);
            } else {
                e.size = (1ULL << (splitmix(rng) % 31)) + splitmix(rng) % 1024;
            }
            e.md5 = hex128(splitmix(rng), splitmix(rng));
        }
        lastSize = e.size;
        lastMd5 = e.md5;
        e.category = categoryOf(e.name);
        e.thumbs = e.category == 1 || e.category == 3;
        const std::uint64_t parent = (folderIds.empty() || i % 5 == 0)
                                         ? kRootId
                                         : folderIds[splitmix(rng) % folderIds.size()];
        tree.add(parent, std::move(e));
    }
    return tree;
}

struct TreeLoader {
    Tree& tree;
    std::string& error;
    std::set<std::uint64_t> usedIds;
    std::int64_t order = 0;

    bool fail(const std::string& where, const std::string& message) {
        error = "entry " + where + ": " + message;
        return false;
    }

    // First pass: every explicit fs_id, so that generated ones avoid them.
    bool collectIds(const rapidjson::Value& list, const std::string& parentPath) {
        for (const auto& v : list.GetArray()) {
            if (!v.IsObject() || !v.HasMember("name") || !v["name"].IsString()) {
                return fail(parentPath, "every entry must be an object with a \"name\" string");
            }
            const std::string path =
                (parentPath == "/" ? "/" : parentPath + "/") + v["name"].GetString();
            if (v.HasMember("fs_id")) {
                const auto& id = v["fs_id"];
                std::optional<std::uint64_t> parsed;
                if (id.IsUint64()) {
                    parsed = id.GetUint64();
                } else if (id.IsString()) {
                    parsed = parseUint64(id.GetString());
                }
                if (!parsed || *parsed == 0) {
                    return fail(path, "fs_id must be a positive integer (a number or digits)");
                }
                if (!usedIds.insert(*parsed).second) {
                    return fail(path, "fs_id " + std::to_string(*parsed) + " is used twice");
                }
            }
            if (v.HasMember("children")) {
                if (!v["children"].IsArray()) {
                    return fail(path, "\"children\" must be an array");
                }
                if (!collectIds(v["children"], path)) {
                    return false;
                }
            }
        }
        return true;
    }

    std::uint64_t idFor(const std::string& path) {
        std::uint64_t state = hashText(path, 7);
        for (;;) {
            const std::uint64_t id = kMinFsId + splitmix(state) % (kTwoPow53 - kMinFsId);
            if (usedIds.insert(id).second) {
                return id;
            }
        }
    }

    bool load(const rapidjson::Value& list, std::uint64_t parent) {
        static const std::set<std::string> kKeys{"name",   "children", "fs_id", "size",
                                                 "md5",    "mtime",    "ctime", "category",
                                                 "thumbs", "isdir",    "path"};
        const std::string parentPath = tree.byId_.at(parent).path;
        for (const auto& v : list.GetArray()) {
            const std::string name = v["name"].GetString();
            const std::string path = (parentPath == "/" ? "/" : parentPath + "/") + name;
            for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m) {
                if (kKeys.count(m->name.GetString()) == 0) {
                    return fail(path, std::string("unknown key \"") + m->name.GetString() + "\"");
                }
            }
            if (!Tree::isValidName(name)) {
                return fail(path, "a name must be non-empty UTF-8 without \"/\" or control "
                                  "characters, and not \".\" or \"..\"");
            }
            if (tree.findPath(path) != nullptr) {
                return fail(path, "the name occurs twice in its folder");
            }
            Entry e;
            e.name = name;
            e.isDir = v.HasMember("children") ||
                      (v.HasMember("isdir") && v["isdir"].IsBool() && v["isdir"].GetBool());
            if (v.HasMember("isdir") && !v["isdir"].IsBool()) {
                return fail(path, "\"isdir\" must be true or false");
            }
            if (v.HasMember("fs_id")) {
                const auto& id = v["fs_id"];
                e.fsId = id.IsUint64() ? id.GetUint64() : *parseUint64(id.GetString());
            } else {
                e.fsId = idFor(path);
            }
            const std::int64_t defaultTime = kBaseTime - 60 * ++order;
            e.mtime = defaultTime;
            if (v.HasMember("mtime")) {
                if (!v["mtime"].IsInt64()) {
                    return fail(path, "\"mtime\" must be an integer (seconds)");
                }
                e.mtime = v["mtime"].GetInt64();
            }
            e.ctime = e.mtime;
            if (v.HasMember("ctime")) {
                if (!v["ctime"].IsInt64()) {
                    return fail(path, "\"ctime\" must be an integer (seconds)");
                }
                e.ctime = v["ctime"].GetInt64();
            }
            if (e.isDir) {
                for (const char* key : {"size", "md5", "thumbs", "category"}) {
                    if (v.HasMember(key)) {
                        return fail(path, std::string("a folder has no \"") + key + "\"");
                    }
                }
            } else {
                e.size = hashText(path, 3) % (64ULL << 20);
                if (v.HasMember("size")) {
                    if (!v["size"].IsUint64()) {
                        return fail(path, "\"size\" must be a non-negative integer");
                    }
                    e.size = v["size"].GetUint64();
                }
                e.md5 = hex128(hashText(path, 1), hashText(path, 2));
                if (v.HasMember("md5")) {
                    if (!v["md5"].IsString() || !isHex32(v["md5"].GetString())) {
                        return fail(path, "\"md5\" must be 32 hex digits");
                    }
                    e.md5 = v["md5"].GetString();
                    for (char& c : e.md5) {
                        if (c >= 'A' && c <= 'F') {
                            c = static_cast<char>(c - 'A' + 'a');
                        }
                    }
                }
                e.category = Tree::categoryOf(name);
                if (v.HasMember("category")) {
                    if (!v["category"].IsInt()) {
                        return fail(path, "\"category\" must be an integer");
                    }
                    e.category = v["category"].GetInt();
                }
                e.thumbs = e.category == 1 || e.category == 3;
                if (v.HasMember("thumbs")) {
                    if (!v["thumbs"].IsBool()) {
                        return fail(path, "\"thumbs\" must be true or false");
                    }
                    e.thumbs = v["thumbs"].GetBool();
                }
            }
            const std::uint64_t id = e.fsId;
            tree.add(parent, std::move(e));
            if (v.HasMember("children") && !load(v["children"], id)) {
                return false;
            }
        }
        return true;
    }
};

std::optional<Tree> Tree::fromJson(std::string_view text, std::string& error) {
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseCommentsFlag | rapidjson::kParseTrailingCommasFlag>(text.data(),
                                                                                   text.size());
    if (doc.HasParseError()) {
        error = std::string("not valid JSON at offset ") + std::to_string(doc.GetErrorOffset()) +
                ": " + rapidjson::GetParseError_En(doc.GetParseError());
        return std::nullopt;
    }
    const rapidjson::Value* list = nullptr;
    if (doc.IsArray()) {
        list = &doc;
    } else if (doc.IsObject() && doc.HasMember("entries") && doc["entries"].IsArray()) {
        for (auto m = doc.MemberBegin(); m != doc.MemberEnd(); ++m) {
            if (std::string_view(m->name.GetString()) != "entries") {
                error = std::string("unknown top-level key \"") + m->name.GetString() + "\"";
                return std::nullopt;
            }
        }
        list = &doc["entries"];
    } else {
        error = "the file must hold an array of entries or an object {\"entries\": [...]}";
        return std::nullopt;
    }
    Tree tree;
    TreeLoader loader{tree, error, {}, 0};
    if (!loader.collectIds(*list, "/") || !loader.load(*list, kRootId)) {
        return std::nullopt;
    }
    return tree;
}

std::string Tree::toJson() const {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
    w.SetIndent(' ', 2);
    std::function<void(const Entry&)> writeEntry = [&](const Entry& e) {
        w.StartObject();
        w.Key("name");
        w.String(e.name.c_str(), static_cast<rapidjson::SizeType>(e.name.size()));
        w.Key("path");
        w.String(e.path.c_str(), static_cast<rapidjson::SizeType>(e.path.size()));
        w.Key("fs_id");
        w.Uint64(e.fsId);
        w.Key("mtime");
        w.Int64(e.mtime);
        w.Key("ctime");
        w.Int64(e.ctime);
        if (e.isDir) {
            w.Key("children");
            w.StartArray();
            for (const Entry* child : children(e)) {
                writeEntry(*child);
            }
            w.EndArray();
        } else {
            w.Key("size");
            w.Uint64(e.size);
            w.Key("md5");
            w.String(e.md5.c_str(), static_cast<rapidjson::SizeType>(e.md5.size()));
            w.Key("category");
            w.Int(e.category);
            w.Key("thumbs");
            w.Bool(e.thumbs);
        }
        w.EndObject();
    };
    w.StartObject();
    w.Key("entries");
    w.StartArray();
    for (const Entry* child : children(root())) {
        writeEntry(*child);
    }
    w.EndArray();
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

} // namespace netdisk_sim
