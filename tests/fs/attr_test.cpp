// The attribute store and MIME typing.
#include "WireFixture.h"

namespace {

class Attr : public WireTest {
protected:
    status_t Write(vnode* node, const char* name, uint32 type, const std::string& value,
                   off_t pos = 0) {
        size_t length = value.size();
        return tavro_write_attr(vol, node, name, static_cast<int>(type), value.data(), &length,
                                pos);
    }
    std::string Read(vnode* node, const char* name, off_t pos = 0, size_t length = 4096) {
        std::string buffer(length, '\0');
        EXPECT_EQ(tavro_read_attr(vol, node, name, 0, buffer.data(), &length, pos), B_OK);
        buffer.resize(length);
        return buffer;
    }
    std::vector<std::string> List(vnode* node) {
        void* cookie = nullptr;
        std::vector<std::string> names;
        if (tavro_open_attrdir(vol, node, &cookie) != B_OK) return names;
        for (;;) {
            be_dirent entry;
            long count = 0;
            EXPECT_EQ(tavro_read_attrdir(vol, node, cookie, &count, &entry, sizeof entry), B_OK);
            if (count == 0) break;
            EXPECT_EQ(entry.d_ino, node->vnid);
            names.push_back(entry.d_name);
        }
        EXPECT_EQ(tavro_close_attrdir(vol, node, cookie), B_OK);
        EXPECT_EQ(tavro_free_attrdircookie(vol, node, cookie), B_OK);
        return names;
    }
    vnode* File(const char* name) {
        ExpectFinfo(std::string("M:\\") + name, Entry(0, 1, 0));
        return Walk(root, name);
    }
};

TEST_F(Attr, WritesCutAtTheirEndAndKeepTheFirstType) {
    vnode* node = File("A.TXT");
    EXPECT_EQ(Write(node, "note", B_STRING_TYPE, "0123456789"), B_OK);
    EXPECT_EQ(Write(node, "note", B_RAW_TYPE, "ab"), B_OK);
    EXPECT_EQ(Read(node, "note"), "ab");
    attr_info info;
    ASSERT_EQ(tavro_stat_attr(vol, node, "note", &info), B_OK);
    EXPECT_EQ(info.type, B_STRING_TYPE);
    EXPECT_EQ(info.size, 2);

    EXPECT_EQ(Write(node, "grow", B_RAW_TYPE, "wxyz"), B_OK);
    EXPECT_EQ(Write(node, "grow", B_RAW_TYPE, "123", 2), B_OK);
    EXPECT_EQ(Read(node, "grow"), "wx123");
    EXPECT_EQ(Read(node, "grow", 5), "");
    EXPECT_EQ(Read(node, "grow", 9), "");
    EXPECT_EQ(Read(node, "grow", 1, 2), "x1");
    // Bytes skipped by a write past the end read as zero.
    EXPECT_EQ(Write(node, "gap", B_RAW_TYPE, "z", 3), B_OK);
    EXPECT_EQ(Read(node, "gap"), std::string("\0\0\0z", 4));
    Put(node);
}

TEST_F(Attr, NamesAreExactAndListedNewestFirst) {
    vnode* node = File("B.WRD");
    EXPECT_EQ(List(node), (std::vector<std::string>{"BEOS:TYPE"}));
    EXPECT_EQ(Read(node, "BEOS:TYPE"), std::string("text/x-vnd.zk.psion-wrd\0", 24));
    size_t length = 4;
    char buffer[4];
    EXPECT_EQ(tavro_read_attr(vol, node, "beos:type", 0, buffer, &length, 0), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(length, 0u);
    fake_kernel::ClearNotices();
    EXPECT_EQ(Write(node, "one", B_RAW_TYPE, "1"), B_OK);
    EXPECT_EQ(Write(node, "two", B_RAW_TYPE, "2"), B_OK);
    EXPECT_EQ(List(node), (std::vector<std::string>{"two", "one", "BEOS:TYPE"}));
    auto notices = fake_kernel::Notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1].op, B_ATTR_CHANGED);
    EXPECT_EQ(notices[1].c, node->vnid);
    EXPECT_EQ(notices[1].name, "two");

    EXPECT_EQ(tavro_rename_attr(vol, node, "one", "uno"), B_OK);
    EXPECT_EQ(Read(node, "uno"), "1");
    EXPECT_EQ(tavro_rename_attr(vol, node, "one", "x"), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(tavro_remove_attr(vol, node, "two"), B_OK);
    EXPECT_EQ(tavro_remove_attr(vol, node, "two"), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(List(node), (std::vector<std::string>{"uno", "BEOS:TYPE"}));
    EXPECT_EQ(fake_kernel::Notices().size(), 2u);  // removing and renaming announce nothing
    attr_info info;
    EXPECT_EQ(tavro_stat_attr(vol, node, "two", &info), B_ENTRY_NOT_FOUND);
    Put(node);
}

TEST_F(Attr, DirectoriesStartWithoutAttributes) {
    ExpectFinfo("M:\\DIR.TXT", Entry(0x10, 0, 0));
    vnode* dir = Walk(root, "DIR.TXT");
    void* cookie;
    EXPECT_EQ(tavro_open_attrdir(vol, dir, &cookie), B_BAD_VALUE);
    EXPECT_EQ(tavro_rewind_attrdir(vol, dir, nullptr), B_BAD_VALUE);
    EXPECT_EQ(tavro_free_attrdircookie(vol, dir, nullptr), B_BAD_VALUE);
    Put(dir);
}

TEST_F(Attr, AttributeEndsPast2GiBAreRefused) {
    vnode* node = File("C");
    size_t length = 1;
    EXPECT_EQ(tavro_write_attr(vol, node, "far", B_RAW_TYPE, "x", &length, off_t{1} << 31),
              B_BAD_VALUE);
    EXPECT_EQ(tavro_write_attr(vol, node, "far", B_RAW_TYPE, "x", &length, -1), B_BAD_VALUE);
    Put(node);
}

TEST_F(Attr, TheRootCarriesTheVolumeTypeAndIcons) {
    EXPECT_EQ(List(root),
              (std::vector<std::string>{"BEOS:TYPE", "BEOS:M:STD_ICON", "BEOS:L:STD_ICON"}));
    EXPECT_EQ(Read(root, "BEOS:TYPE"), std::string("application/x-vnd.zk.psion-volume\0", 34));
    attr_info info;
    ASSERT_EQ(tavro_stat_attr(vol, root, "BEOS:L:STD_ICON", &info), B_OK);
    EXPECT_EQ(info.type, 0x49434F4Eu);
    EXPECT_EQ(info.size, 1024);
    ASSERT_EQ(tavro_stat_attr(vol, root, "BEOS:M:STD_ICON", &info), B_OK);
    EXPECT_EQ(info.type, 0x4D49434Eu);
    EXPECT_EQ(info.size, 256);
    std::string large = Read(root, "BEOS:L:STD_ICON");
    EXPECT_EQ(large, std::string(reinterpret_cast<const char*>(kLargePsionIconBits.data()), 1024));
    // A drawing: transparent corners, and an opaque body of more than one colour.
    EXPECT_EQ(kLargePsionIconBits[0], 255);
    EXPECT_EQ(kSmallPsionIconBits[0], 255);
    EXPECT_NE(kLargePsionIconBits[16 * 32 + 16], 255);
    EXPECT_NE(kLargePsionIconBits[10 * 32 + 10], kLargePsionIconBits[22 * 32 + 5]);
}

TEST(MimeTypes, ExtensionsDecideIgnoringCase) {
    EXPECT_STREQ(mime_type_for("LETTER.WRD"), "text/x-vnd.zk.psion-wrd");
    EXPECT_STREQ(mime_type_for("notes.Txt"), "text/x-vnd.zk.psion-txt");
    EXPECT_STREQ(mime_type_for("S.AGN"), "application/x-vnd.zk.psion-agn");
    EXPECT_STREQ(mime_type_for("x.wve"), "audio/x-vnd.zk.psion-wve");
    EXPECT_STREQ(mime_type_for("DATA.DBF.BAK"), "application/x-vnd.zk.psion");
    EXPECT_STREQ(mime_type_for(".opl"), "application/x-vnd.zk.psion");  // no longer than it
    EXPECT_STREQ(mime_type_for("README"), "application/x-vnd.zk.psion");
    EXPECT_EQ(mime_type_for(""), nullptr);
}

TEST_F(Attr, ARenameKeepsTheTypeTheNodeWasMadeWith) {
    vnode* node = File("MEMO.TXT");
    device->Expect(Packet(RENAME, Concat({PathBytes("M:\\MEMO.TXT"), PathBytes("M:\\MEMO.WRD")})),
                   Reply(0));
    ASSERT_EQ(fs_rename(vol, root, "MEMO.TXT", root, "MEMO.WRD"), B_OK);
    EXPECT_EQ(Read(node, "BEOS:TYPE"), std::string("text/x-vnd.zk.psion-txt\0", 24));
    Put(node);
}

}  // namespace
