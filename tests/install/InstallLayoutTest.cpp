// Where vantrel looks for its add-ons and puts its drives when the command line does not say.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/InstallLayout.h"

namespace fs = std::filesystem;

namespace {

class TempTree : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = fs::temp_directory_path() / "tavro-layout-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        fs::create_directories(root / "bin");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(root, fs::perms::owner_all, ignored);
        fs::remove_all(root, ignored);
    }
    fs::path root;
};

using AddOnFolders = TempTree;

TEST_F(AddOnFolders, InstalledLayoutComesFirstThenTheBuildTreeThenNothing) {
    std::string bin = root / "bin";
    EXPECT_EQ(vantrel::DefaultAddOnFolder(bin, "clients"), "");

    fs::create_directories(root / "add-ons/clients");
    EXPECT_EQ(fs::path(vantrel::DefaultAddOnFolder(bin, "clients")).lexically_normal(),
              root / "add-ons/clients");

    fs::create_directories(root / "lib/tavro/add-ons/clients");
    EXPECT_EQ(fs::path(vantrel::DefaultAddOnFolder(bin, "clients")).lexically_normal(),
              root / "lib/tavro/add-ons/clients");
    // Each kind on its own: no file-system folder was made.
    EXPECT_EQ(vantrel::DefaultAddOnFolder(bin, "file_systems"), "");
    // A file where the folder should be is no folder.
    std::ofstream(root / "add-ons/file_systems") << "x";
    EXPECT_EQ(vantrel::DefaultAddOnFolder(bin, "file_systems"), "");
    EXPECT_EQ(vantrel::DefaultAddOnFolder("", "clients"), "");
}

TEST(BuildTree, VantrelBesideTheTestsFindsTheBuildTreesAddOns) {
    // This test runs from the build tree's bin/, beside vantrel.
    std::string found = vantrel::DefaultAddOnFolder(TAVRO_BIN_DIR, "clients");
    ASSERT_FALSE(found.empty());
    EXPECT_TRUE(fs::equivalent(found, TAVRO_CLIENT_ADDON_DIR));
    EXPECT_EQ(fs::path(vantrel::ExecutableFolder()), fs::canonical("/proc/self/exe").parent_path());
}

using MountRoot = TempTree;

TEST_F(MountRoot, RootKeepsTheMountClientsOwnDefault) {
    EXPECT_EQ(vantrel::DefaultMountRoot(true, root.c_str(), "/data", "/home/x"), "");
}

TEST_F(MountRoot, UserGetsTheRuntimeFolderWhenUsableElseDataHomeElseHome) {
    std::string runtime = root;
    EXPECT_EQ(vantrel::DefaultMountRoot(false, runtime.c_str(), "/data", "/home/x"),
              runtime + "/psion");
    // Relative or missing runtime folders are not used.
    EXPECT_EQ(vantrel::DefaultMountRoot(false, "run/user/1", "/data", "/home/x"), "/data/psion");
    EXPECT_EQ(vantrel::DefaultMountRoot(false, (runtime + "/gone").c_str(), "/data", "/home/x"),
              "/data/psion");
    EXPECT_EQ(vantrel::DefaultMountRoot(false, nullptr, nullptr, "/home/x"),
              "/home/x/.local/share/psion");
    EXPECT_EQ(vantrel::DefaultMountRoot(false, nullptr, "data", "/home/x"),
              "/home/x/.local/share/psion");
    EXPECT_EQ(vantrel::DefaultMountRoot(false, nullptr, nullptr, nullptr), "");
    EXPECT_EQ(vantrel::DefaultMountRoot(false, nullptr, nullptr, ""), "");
}

TEST_F(MountRoot, RuntimePathThatIsNoFolderIsPassedOver) {
    std::ofstream(root / "file") << "x";
    EXPECT_EQ(vantrel::DefaultMountRoot(false, (root / "file").c_str(), "/data", "/home/x"),
              "/data/psion");
}

TEST_F(MountRoot, UnwritableRuntimeFolderIsPassedOver) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
    fs::permissions(root, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(vantrel::DefaultMountRoot(false, root.c_str(), "/data", "/home/x"), "/data/psion");
}

TEST_F(MountRoot, ASavedMountRootIsSeenOnlyWhenTheFileNamesOne) {
    EXPECT_FALSE(vantrel::SavedMountRoot(""));
    EXPECT_FALSE(vantrel::SavedMountRoot(root));
    std::ofstream(root / "tavro-mount.conf") << "# mount-root=/commented\ndebug=on\n";
    EXPECT_FALSE(vantrel::SavedMountRoot(root));
    std::ofstream(root / "tavro-mount.conf", std::ios::app) << "mount-root=/srv/psion\n";
    EXPECT_TRUE(vantrel::SavedMountRoot(root));
}

}  // namespace
