// Every add-on's dynamic symbol table holds its entry points and nothing else: no helper, no
// global, no template code that another image could bind to or clash with.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

// The names `nm -D --defined-only` lists for `path`.
std::set<std::string> Exports(const std::string& path) {
    std::set<std::string> names;
    FILE* out = popen(("nm -D --defined-only '" + path + "' 2>/dev/null").c_str(), "r");
    if (out == nullptr) return names;
    char line[4096];
    while (fgets(line, sizeof(line), out) != nullptr) {
        std::istringstream fields(line);
        std::string address, kind, name;
        if (fields >> address >> kind >> name) names.insert(name);
    }
    pclose(out);
    return names;
}

void ExpectExactly(const std::string& path, const std::set<std::string>& expected) {
    ASSERT_EQ(access(path.c_str(), R_OK), 0) << path << " not built";
    std::set<std::string> got = Exports(path);
    std::string extra, missing;
    for (const std::string& name : got)
        if (!expected.count(name)) extra += " " + name;
    for (const std::string& name : expected)
        if (!got.count(name)) missing += " " + name;
    EXPECT_TRUE(extra.empty()) << path << " also exports:" << extra;
    EXPECT_TRUE(missing.empty()) << path << " lacks:" << missing;
}

TEST(AddOnExports, TheMountClientExportsItsSevenEntryPoints) {
    ExpectExactly(TAVRO_CLIENT_ADDON_DIR "/tavro-mount.so",
                  {"InfoVersion", "InfoLine1", "InfoLine2", "InfoLine3", "ConfigView", "RunClient",
                   "Initialise"});
}

TEST(AddOnExports, TheGatewayExportsItsEntryPoints) {
    ExpectExactly(TAVRO_CLIENT_ADDON_DIR "/linkgate.so", {"InfoVersion", "InfoLine1", "InfoLine2",
                                                          "InfoLine3", "RunClient", "Initialise"});
}

TEST(AddOnExports, TheFileSystemsExportTheirTableAndVersion) {
    ExpectExactly(TAVRO_FS_ADDON_DIR "/tavro3.so", {"fs_entry", "api_version"});
    if (access(TAVRO_FS_ADDON_DIR "/tavro5.so", R_OK) == 0)
        ExpectExactly(TAVRO_FS_ADDON_DIR "/tavro5.so", {"fs_entry", "api_version"});
}

}  // namespace
