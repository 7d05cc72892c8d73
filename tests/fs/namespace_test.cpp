// mkdir, rmdir, unlink and rename: their packets, their notices, and when DELETE goes out.
#include "WireFixture.h"

namespace {

using Namespace = WireTest;

TEST_F(Namespace, MkdirSendsTheFullPathAndAnnouncesTheName) {
    device->Expect(Packet(MKDIR, PathBytes("M:\\NEWDIR")), Reply(0));
    EXPECT_EQ(tavro_mkdir(vol, root, "NEWDIR", 0755), B_OK);
    auto notices = fake_kernel::Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].op, B_ENTRY_CREATED);
    EXPECT_EQ(notices[0].a, rootId);
    EXPECT_EQ(notices[0].b, 0);
    EXPECT_EQ(notices[0].c, 0);
    EXPECT_EQ(notices[0].name, "NEWDIR");
    fake_kernel::ClearNotices();

    device->Expect(Packet(MKDIR, PathBytes("M:\\NEWDIR")), Reply(-32));
    EXPECT_EQ(tavro_mkdir(vol, root, "NEWDIR", 0755), B_FILE_EXISTS);
    device->Expect(Packet(MKDIR, PathBytes("M:\\RO")), Reply(-65));
    EXPECT_EQ(tavro_mkdir(vol, root, "RO", 0755), B_READ_ONLY_DEVICE);
    EXPECT_TRUE(fake_kernel::Notices().empty());
}

TEST_F(Namespace, MkdirPathsUpTo128BytesAreSentAndLongerOnesRefused) {
    std::string fits(124, 'd');  // "M:\" + 124 + NUL = 128 bytes
    device->Expect(Packet(MKDIR, PathBytes("M:\\" + fits)), Reply(0));
    EXPECT_EQ(tavro_mkdir(vol, root, fits.c_str(), 0), B_OK);
    EXPECT_EQ(tavro_mkdir(vol, root, (fits + "d").c_str(), 0), B_NAME_TOO_LONG);
    EXPECT_EQ(tavro_mkdir(vol, root, "a\\b", 0), B_BAD_VALUE);
    EXPECT_EQ(tavro_mkdir(vol, root, "a?", 0), B_BAD_VALUE);
    EXPECT_TRUE(device->WaitUntilDone());
    EXPECT_EQ(device->RequestCount(), 1u);
}

TEST_F(Namespace, UnlinkDeletesAtOnceUnlessTheFileIsOpen) {
    ExpectFinfo("M:\\DOC.WRD", Entry(0x0001, 10, 0));
    vnode* node = Walk(root, "DOC.WRD");  // held, but not open
    fake_kernel::ClearNotices();
    device->Expect(Packet(DELETE, PathBytes("M:\\DOC.WRD")), Reply(0));
    EXPECT_EQ(tavro_unlink(vol, root, "DOC.WRD"), B_OK);
    auto notices = fake_kernel::Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].op, B_ENTRY_REMOVED);
    EXPECT_EQ(notices[0].a, rootId);
    EXPECT_EQ(notices[0].c, node->vnid);
    Walk(root, "doc.wrd", B_ENTRY_NOT_FOUND);
    // Nothing more goes out when the last reference goes.
    Put(node);
    EXPECT_TRUE(device->WaitUntilDone());
    EXPECT_EQ(device->RequestCount(), 2u);
    device->Expect(Packet(FINFO, PathBytes("M:\\DOC.WRD")), Reply(-33));
    Walk(root, "DOC.WRD", B_ENTRY_NOT_FOUND);

    // An open file leaves for a hidden name at once and is deleted at its last reference.
    ExpectFinfo("M:\\OPEN.WRD", Entry(0x0001, 10, 0));
    node = Walk(root, "OPEN.WRD");
    device->Expect(Packet(FOPEN, Concat({{0x00, 0x02}, PathBytes("M:\\OPEN.WRD")})),
                   Reply(0, {6, 0}));
    void* cookie = nullptr;
    ASSERT_EQ(fs_open(vol, node, B_O_RDONLY, &cookie), B_OK);
    device->Expect(
        Packet(RENAME, Concat({PathBytes("M:\\OPEN.WRD"), PathBytes("M:\\~T000000.DEL")})),
        Reply(0));
    EXPECT_EQ(tavro_unlink(vol, root, "OPEN.WRD"), B_OK);
    device->Expect(Packet(FINFO, PathBytes("M:\\OPEN.WRD")), Reply(-33));
    Walk(root, "OPEN.WRD", B_ENTRY_NOT_FOUND);
    Walk(root, "~T000000.DEL", B_ENTRY_NOT_FOUND);
    device->Expect(Packet(FCLOSE, {6, 0}), Reply(0));
    EXPECT_EQ(tavro_free_cookie(vol, node, cookie), B_OK);
    device->Expect(Packet(DELETE, PathBytes("M:\\~T000000.DEL")), Reply(0));
    Put(node);
    EXPECT_TRUE(device->WaitUntilDone());
}

TEST_F(Namespace, TypeTestsLeaveEverythingAsItWas) {
    ExpectFinfo("M:\\F", Entry(0, 1, 0));
    EXPECT_EQ(tavro_rmdir(vol, root, "F"), B_NOT_A_DIRECTORY);
    vnode* f = Walk(root, "F");
    EXPECT_EQ(fake_kernel::Refs(f->vnid), 1);
    ExpectFinfo("M:\\D", Entry(0x10, 0, 0));
    EXPECT_EQ(tavro_unlink(vol, root, "D"), B_IS_A_DIRECTORY);
    EXPECT_EQ(tavro_unlink(vol, root, "."), B_BAD_VALUE);
    EXPECT_EQ(tavro_unlink(vol, root, "NOPE*"), B_ENTRY_NOT_FOUND);
    EXPECT_FALSE(f->removed);
    Put(f);
    for (const auto& notice : fake_kernel::Notices()) EXPECT_NE(notice.op, B_ENTRY_REMOVED);
}

TEST_F(Namespace, RmdirOfAFullDirectoryIsRefusedAndAnEmptyOneDeletedLater) {
    ExpectFinfo("M:\\FULL", Entry(0x10, 0, 0));
    device->Expect(Packet(FOPEN, Concat({{0x30, 0}, PathBytes("M:\\FULL\\*.*")})),
                   Reply(0, {2, 0}));
    device->Expect(Packet(FDIRREAD, {2, 0}),
                   Sealed(Concat({Reply(0, {0, 0}), Entry(0, 1, 1, "X")})));
    device->Expect(Packet(FCLOSE, {2, 0}), Reply(0));
    EXPECT_EQ(tavro_rmdir(vol, root, "FULL"), B_DIRECTORY_NOT_EMPTY);

    ExpectFinfo("M:\\EMPTY", Entry(0x10, 0, 0));
    device->Expect(Packet(FOPEN, Concat({{0x30, 0}, PathBytes("M:\\EMPTY\\*.*")})),
                   Reply(0, {2, 0}));
    device->Expect(Packet(FDIRREAD, {2, 0}), Reply(-36));
    device->Expect(Packet(FCLOSE, {2, 0}), Reply(0));
    device->Expect(Packet(DELETE, PathBytes("M:\\EMPTY\\")), Reply(0));
    EXPECT_EQ(tavro_rmdir(vol, root, "EMPTY"), B_OK);
    EXPECT_TRUE(device->WaitUntilDone());
    auto notices = fake_kernel::Notices();
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back().op, B_ENTRY_REMOVED);
}

TEST_F(Namespace, RenameWithinADirectoryChangesOnlyTheName) {
    ExpectFinfo("M:\\B", Entry(0, 1, 0));
    ExpectFinfo("M:\\A", Entry(0, 1, 0));
    vnode* b = Walk(root, "B");
    vnode* a = Walk(root, "A");  // the head of the list now
    device->Expect(Packet(RENAME, Concat({PathBytes("M:\\B"), PathBytes("M:\\C")})), Reply(0));
    fake_kernel::ClearNotices();
    ASSERT_EQ(fs_rename(vol, root, "B", root, "C"), B_OK);
    EXPECT_STREQ(b->name, "C");
    EXPECT_EQ(root->children, a);
    EXPECT_EQ(a->next, b);
    auto notices = fake_kernel::Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].op, B_ENTRY_MOVED);
    EXPECT_EQ(notices[0].a, rootId);
    EXPECT_EQ(notices[0].b, rootId);
    EXPECT_EQ(notices[0].c, b->vnid);
    EXPECT_EQ(notices[0].name, "C");
    EXPECT_EQ(Walk(root, "c"), b);
    Put(b);
    Put(b);
    Put(a);
    // A refused rename changes nothing.
    device->Expect(Packet(RENAME, Concat({PathBytes("M:\\A"), PathBytes("M:\\D")})), Reply(-32));
    EXPECT_EQ(fs_rename(vol, root, "A", root, "D"), B_FILE_EXISTS);
    EXPECT_STREQ(a->name, "A");
}

TEST_F(Namespace, ARenameWithoutAnAnswerIsSettledByAskingForBothNames) {
    ExpectFinfo("M:\\A", Entry(0, 1, 0));
    vnode* a = Walk(root, "A");
    // No answer, and the device did not do it: both names are as they were, and the rename
    // fails.
    device->ExpectSilence(Packet(RENAME, Concat({PathBytes("M:\\A"), PathBytes("M:\\B")})));
    ExpectFinfo("M:\\A", Entry(0, 1, 0));
    EXPECT_EQ(fs_rename(vol, root, "A", root, "B"), B_TIMED_OUT);
    // No answer, and the device did it: the rename is done. (The name forgotten after the
    // first is looked up again first.)
    ExpectFinfo("M:\\A", Entry(0, 1, 0));
    device->ExpectSilence(Packet(RENAME, Concat({PathBytes("M:\\A"), PathBytes("M:\\C")})));
    device->Expect(Packet(FINFO, PathBytes("M:\\A")), Reply(-33));
    ExpectFinfo("M:\\C", Entry(0, 1, 0));
    EXPECT_EQ(fs_rename(vol, root, "A", root, "C"), B_OK);
    EXPECT_STREQ(a->name, "C");
    Put(a);
}

TEST_F(Namespace, MovingADirectoryTakesTheNodesBelowItAlong) {
    ExpectFinfo("M:\\SRC", Entry(0x10, 0, 0));
    ExpectFinfo("M:\\DST", Entry(0x10, 0, 0));
    ExpectFinfo("M:\\SRC\\FILE", Entry(0, 5, 0));
    vnode* src = Walk(root, "SRC");
    vnode* dst = Walk(root, "DST");
    vnode* file = Walk(src, "FILE");
    // The longer place is checked for room: what lies below is listed first.
    device->Expect(Packet(FOPEN, Concat({{0x30, 0}, PathBytes("M:\\SRC\\*.*")})), Reply(0, {2, 0}));
    device->Expect(Packet(FDIRREAD, {2, 0}),
                   Sealed(Concat({Reply(0, {0, 0}), Entry(0, 5, 0, "FILE")})));
    device->Expect(Packet(FDIRREAD, {2, 0}), Reply(-36));
    device->Expect(Packet(FCLOSE, {2, 0}), Reply(0));
    device->Expect(Packet(RENAME, Concat({PathBytes("M:\\SRC"), PathBytes("M:\\DST\\MOVED")})),
                   Reply(0));
    ASSERT_EQ(fs_rename(vol, root, "SRC", dst, "MOVED"), B_OK);
    EXPECT_EQ(dst->children, src);
    EXPECT_EQ(src->prev, dst);
    EXPECT_EQ(src->parent, dst->vnid);
    char path[kPathBufferSize];
    ASSERT_EQ(find_path(vol, file, path), B_OK);
    EXPECT_STREQ(path, "M:\\DST\\MOVED\\FILE");
    // Nor can a directory move into itself.
    EXPECT_EQ(fs_rename(vol, dst, "MOVED", src, "X"), B_BAD_VALUE);
    // The old name is gone from the root.
    device->Expect(Packet(FINFO, PathBytes("M:\\SRC")), Reply(-33));
    Walk(root, "SRC", B_ENTRY_NOT_FOUND);
    Put(file);
    Put(src);
    Put(dst);
}

TEST_F(Namespace, RenamePathsMustFitAndNamesMustBeTheDevicesOwn) {
    ExpectFinfo("M:\\A", Entry(0, 1, 0));
    EXPECT_EQ(fs_rename(vol, root, "A", root, std::string(125, 'r').c_str()), B_NAME_TOO_LONG);
    EXPECT_EQ(fs_rename(vol, root, "A", root, "*.*"), B_BAD_VALUE);
    EXPECT_EQ(fs_rename(vol, root, "A\\..", root, "B"), B_ENTRY_NOT_FOUND);
    EXPECT_TRUE(device->WaitUntilDone());
    device->CutLink();
    EXPECT_EQ(fs_rename(vol, root, "A", root, "B"), B_IO_ERROR);
}

TEST_F(Namespace, NothingIsDeletedOnADeviceThatIsGone) {
    ExpectFinfo("M:\\A", Entry(0, 1, 0));
    vnode* a = Walk(root, "A");
    device->CutLink();
    vol->connected = 0;
    // Nothing can be deleted, and nothing is said to be.
    EXPECT_EQ(tavro_unlink(vol, root, "A"), B_IO_ERROR);
    EXPECT_FALSE(a->removed);
    Put(a);
    EXPECT_EQ(tavro_mkdir(vol, root, "M", 0), B_IO_ERROR);
}

}  // namespace
