#include "sim_tree_json.h"

#include <cstdio>

namespace vantorel::test {

std::string uniqueFilesJson(int count, int firstId) {
    std::string json;
    for (int i = 0; i < count; ++i) {
        char md5[33];
        std::snprintf(md5, sizeof md5, "%032x", firstId + i);
        char name[16];
        std::snprintf(name, sizeof name, "f%05d.bin", i);
        json += std::string(i ? "," : "") + R"({"name":")" + name + R"(","fs_id":)" +
                std::to_string(700000000000000LL + firstId + i) + R"(,"md5":")" + md5 +
                R"(","size":)" + std::to_string(1024 * (i + 1)) + R"(,"mtime":)" +
                std::to_string(1700000000 - i) + "}";
    }
    return json;
}

std::string bigFolderTree(const std::string& name, int count, int subFolderFiles) {
    std::string json =
        R"({"entries":[{"name":")" + name + R"(","children":[)" + uniqueFilesJson(count, 0);
    if (subFolderFiles > 0)
        json += std::string(count > 0 ? "," : "") +
                R"({"name":"sub","mtime":1500000000,"children":[)" +
                uniqueFilesJson(subFolderFiles, count + 100) + "]}";
    return json + "]}]}";
}

} // namespace vantorel::test
