#include "listing_generator.h"

#include <array>
#include <charconv>
#include <string_view>

namespace vantorel::bench {
namespace {

// SplitMix64: small, fast and good enough to vary the content.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }

private:
    std::uint64_t state_;
};

constexpr std::array<std::string_view, 16> kWords = {
    "旅行",      "视频", "Tom's", "第一季",   "资料",      "高清", "备份", "O'Brien",
    "家庭 相册", "课程", "notes", "会议记录", "it's mine", "音乐", "合集", "2020 夏天"};
constexpr std::array<std::string_view, 6> kExtensions = {".mp4", ".jpg", ".pdf",
                                                         ".zip", ".txt", ".mkv"};
constexpr std::array<std::string_view, 4> kFolders = {
    "\\/我的资源", "\\/我的资源\\/分享 合集", "\\/apps\\/album's 备份", "\\/学习\\/课程 2020"};

void appendInt(std::string& out, std::uint64_t value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

void appendHex(std::string& out, Random& rnd, int digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::uint64_t bits = 0;
    for (int i = 0; i < digits; ++i) {
        if (i % 16 == 0)
            bits = rnd.next();
        out.push_back(kHex[bits & 15]);
        bits >>= 4;
    }
}

void appendName(std::string& out, Random& rnd, std::size_t index, bool folder) {
    const std::size_t words = 2 + rnd.below(3);
    for (std::size_t w = 0; w < words; ++w) {
        if (w > 0)
            out.push_back(' ');
        out.append(kWords[rnd.below(kWords.size())]);
    }
    out.push_back(' ');
    appendInt(out, index);
    if (!folder)
        out.append(kExtensions[rnd.below(kExtensions.size())]);
}

void appendThumb(std::string& out, Random& rnd, std::string_view key, std::uint64_t fsId,
                 std::string_view size) {
    out.append("\"").append(key).append("\":\"https:\\/\\/thumbnail");
    appendInt(out, rnd.below(10));
    out.append(".pcs.example\\/thumbnail\\/");
    appendHex(out, rnd, 32);
    out.append("?fid=");
    appendInt(out, fsId);
    out.append("&time=1595232000&size=").append(size).append("&quality=100\"");
}

} // namespace

std::string makeListingReply(std::size_t members, std::uint64_t seed) {
    Random rnd(seed);
    std::string out;
    out.reserve(members * 960 + 256);
    out.append(R"({"errno":0,"guid_info":"","list":[)");
    std::string name;
    for (std::size_t i = 0; i < members; ++i) {
        const bool folder = i % 10 == 0;
        const std::uint64_t fsId = 100000000000000ULL + rnd.below(8999999999999999ULL);
        const std::uint64_t ctime = 1500000000 + rnd.below(100000000);
        name.clear();
        appendName(name, rnd, i, folder);

        if (i > 0)
            out.push_back(',');
        out.append(R"({"category":)");
        appendInt(out, folder ? 6 : 1 + rnd.below(7));
        out.append(R"(,"fs_id":)");
        appendInt(out, fsId);
        out.append(R"(,"isdir":)").append(folder ? "1" : "0");
        out.append(R"(,"local_ctime":)");
        appendInt(out, ctime);
        out.append(R"(,"local_mtime":)");
        appendInt(out, ctime + rnd.below(1000));
        if (!folder) {
            out.append(R"(,"md5":")");
            appendHex(out, rnd, 32);
            out.push_back('"');
        }
        out.append(R"(,"oper_id":)");
        appendInt(out, 1000000000 + rnd.below(3000000000));
        out.append(R"(,"path":")").append(kFolders[rnd.below(kFolders.size())]);
        out.append("\\/").append(name).push_back('"');
        out.append(R"(,"server_ctime":)");
        appendInt(out, ctime + 60);
        out.append(R"(,"server_filename":")").append(name).push_back('"');
        out.append(R"(,"server_mtime":)");
        appendInt(out, ctime + 120);
        out.append(R"(,"share":0,"size":)");
        appendInt(out, folder ? 0 : rnd.below(8000000000ULL));
        if (folder) {
            out.append(R"(,"dir_empty":0,"empty":0)");
        } else {
            out.append(R"(,"thumbs":{)");
            appendThumb(out, rnd, "url1", fsId, "c140_u90");
            out.push_back(',');
            appendThumb(out, rnd, "url2", fsId, "c360_u270");
            out.push_back(',');
            appendThumb(out, rnd, "url3", fsId, "c850_u580");
            out.push_back(',');
            appendThumb(out, rnd, "icon", fsId, "c60_u60");
            out.push_back('}');
        }
        out.append(R"(,"unlist":0,"wpfile":0})");
    }
    out.append(R"(],"request_id":)");
    appendInt(out, 8000000000000000000ULL + rnd.below(999999999999999999ULL));
    out.append(R"(,"guid":0})");
    return out;
}

} // namespace vantorel::bench
