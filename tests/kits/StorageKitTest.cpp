// The storage kit pieces over the Linux file system: entries, refs, directories, paths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "TempDir.h"
#include "kits/Directory.h"
#include "kits/Entry.h"
#include "kits/Message.h"
#include "kits/Path.h"

namespace {

class StorageKit : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(root.empty());
        std::filesystem::create_directory(root + "/dir");
        std::ofstream(root + "/dir/file") << "x";
        std::filesystem::create_symlink(root + "/dir", root + "/link");
        std::filesystem::create_symlink(root + "/dir/file", root + "/dir/filelink");
    }
    TempDir dir{"tavro-storage"};
    const std::string root = dir.path();
};

}  // namespace

TEST_F(StorageKit, AnEntryNeedsItsDirectoryButNotItself) {
    BEntry entry((root + "/dir/not-yet").c_str());
    ASSERT_EQ(entry.InitCheck(), B_OK);
    EXPECT_FALSE(entry.Exists());
    BPath path;
    ASSERT_EQ(entry.GetPath(&path), B_OK);
    EXPECT_EQ(std::string(path.Path()), root + "/dir/not-yet");

    EXPECT_EQ(BEntry((root + "/missing/leaf").c_str()).InitCheck(), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(BEntry((root + "/dir/file/leaf").c_str()).InitCheck(), B_NOT_A_DIRECTORY);
    EXPECT_EQ(BEntry("").InitCheck(), B_BAD_VALUE);
    EXPECT_EQ(BEntry((root + "/dir/" + std::string(300, 'n')).c_str()).InitCheck(),
              B_NAME_TOO_LONG);
}

TEST_F(StorageKit, TheDirectoryPartIsResolvedTheLeafOnlyWhenTraversing) {
    BEntry throughLink((root + "/link//./file").c_str());
    BPath path(&throughLink);
    EXPECT_EQ(std::string(path.Path()), root + "/dir/file");

    BEntry link((root + "/dir/filelink").c_str(), false);
    BEntry target((root + "/dir/filelink").c_str(), true);
    EXPECT_EQ(std::string(BPath(&link).Path()), root + "/dir/filelink");
    EXPECT_EQ(std::string(BPath(&target).Path()), root + "/dir/file");

    BEntry dotDot((root + "/dir/..").c_str());
    EXPECT_EQ(std::string(BPath(&dotDot).Path()), root);

    // Relative names start from the current directory.
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    ASSERT_EQ(chdir(root.c_str()), 0);
    BEntry relative("dir/file");
    EXPECT_EQ(chdir(cwd), 0);
    EXPECT_EQ(std::string(BPath(&relative).Path()), root + "/dir/file");
}

TEST_F(StorageKit, ParentsEndAtTheRoot) {
    BEntry entry((root + "/dir/file").c_str());
    BEntry parent;
    ASSERT_EQ(entry.GetParent(&parent), B_OK);
    EXPECT_EQ(std::string(BPath(&parent).Path()), root + "/dir");
    BDirectory directory;
    ASSERT_EQ(entry.GetParent(&directory), B_OK);
    EXPECT_EQ(std::string(directory.PathName()), root + "/dir");

    BEntry top("/");
    EXPECT_EQ(top.GetParent(&parent), B_ENTRY_NOT_FOUND);
    BEntry unset;
    EXPECT_EQ(unset.GetParent(&parent), B_NO_INIT);
}

TEST_F(StorageKit, RefsLeadBackToTheirEntryAlsoThroughAMessage) {
    BEntry entry((root + "/dir/file").c_str());
    entry_ref ref;
    ASSERT_EQ(entry.GetRef(&ref), B_OK);
    EXPECT_STREQ(ref.name, "file");
    struct stat info;
    ASSERT_EQ(stat((root + "/dir").c_str(), &info), 0);
    EXPECT_EQ(ref.directory, info.st_ino);
    EXPECT_EQ(ref.device, info.st_dev);
    EXPECT_EQ(BEntry(&ref), entry);

    BMessage message('refs');
    ASSERT_EQ(message.AddRef("directory", &ref), B_OK);
    // As it would arrive through a port.
    std::string flat(message.FlattenedSize(), '\0');
    ASSERT_EQ(message.Flatten(flat.data(), flat.size()), B_OK);
    BMessage arrived;
    ASSERT_EQ(arrived.Unflatten(flat.data(), flat.size()), B_OK);
    entry_ref found;
    ASSERT_EQ(arrived.FindRef("directory", &found), B_OK);
    EXPECT_EQ(found, ref);
    EXPECT_EQ(BEntry(&found), entry);
    EXPECT_EQ(arrived.FindRef("other", &found), B_NAME_NOT_FOUND);

    // A ref field cut short is refused, not read past its end.
    BMessage bad('refs');
    const char shortRef[10] = {};
    ASSERT_EQ(bad.AddData("directory", B_REF_TYPE, shortRef, sizeof(shortRef), false), B_OK);
    EXPECT_EQ(bad.FindRef("directory", &found), B_BAD_DATA);
    char unterminated[20];
    memset(unterminated, 'a', sizeof(unterminated));
    ASSERT_EQ(bad.AddData("directory", B_REF_TYPE, unterminated, sizeof(unterminated), false),
              B_OK);
    EXPECT_EQ(bad.FindRef("directory", 1, &found), B_BAD_DATA);
}

TEST_F(StorageKit, DirectoriesMustBeDirectories) {
    EXPECT_EQ(BDirectory((root + "/dir/file").c_str()).InitCheck(), B_NOT_A_DIRECTORY);
    EXPECT_EQ(BDirectory((root + "/none").c_str()).InitCheck(), B_ENTRY_NOT_FOUND);
    BDirectory directory((root + "/link").c_str());
    ASSERT_EQ(directory.InitCheck(), B_OK);
    EXPECT_EQ(std::string(directory.PathName()), root + "/dir");
    EXPECT_TRUE(directory.Contains("file"));
    EXPECT_FALSE(directory.Contains("none"));

    BEntry inside(&directory, "file");
    EXPECT_EQ(std::string(BPath(&inside).Path()), root + "/dir/file");
    BEntry found;
    EXPECT_EQ(directory.FindEntry("none", &found), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(found.InitCheck(), B_NO_INIT);
}

TEST_F(StorageKit, PathsJoinSplitAndNormaliseOnlyWhenNeeded) {
    BPath path((root + "/dir").c_str(), "file");
    EXPECT_EQ(std::string(path.Path()), root + "/dir/file");
    EXPECT_STREQ(path.Leaf(), "file");
    BPath parent;
    ASSERT_EQ(path.GetParent(&parent), B_OK);
    EXPECT_EQ(std::string(parent.Path()), root + "/dir");

    // A clean absolute path is taken as it stands, whether it exists or not.
    BPath clean("/no/such/place");
    EXPECT_STREQ(clean.Path(), "/no/such/place");
    // A trailing "/" or ".." needs the file system, and so an existing directory.
    EXPECT_EQ(std::string(BPath((root + "/dir/").c_str()).Path()), root + "/dir");
    EXPECT_EQ(BPath("/no/such/place/").InitCheck(), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(std::string(BPath((root + "/dir/../dir/file").c_str()).Path()), root + "/dir/file");

    EXPECT_EQ(BPath(root.c_str(), "/absolute").InitCheck(), B_BAD_VALUE);
    EXPECT_EQ(BPath(static_cast<const char*>(nullptr)).InitCheck(), B_BAD_VALUE);
    EXPECT_EQ(BPath().Path(), nullptr);

    BPath top("/");
    EXPECT_STREQ(top.Leaf(), "");
    EXPECT_EQ(top.GetParent(&parent), B_ENTRY_NOT_FOUND);
    BPath one("/one");
    ASSERT_EQ(one.GetParent(&parent), B_OK);
    EXPECT_STREQ(parent.Path(), "/");
    ASSERT_EQ(parent.Append("two"), B_OK);
    EXPECT_STREQ(parent.Path(), "/two");
}
