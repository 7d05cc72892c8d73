// Replies that are lost after the device carried the request out, late, cut short or
// mangled: no wrong data, no success for what did not happen, and the drive works on.
#include <algorithm>
#include <random>

#include "MemoryDevice.h"
#include "WireFixture.h"

namespace {

using Fault = ScriptedDevice::Fault;

Bytes RandomBytes(size_t size, uint32 seed) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (uint8& byte : out) byte = static_cast<uint8>(random());
    return out;
}

class Faults : public WireTest, public ::testing::WithParamInterface<Fault> {
protected:
    void SetUp() override {
        WireTest::SetUp();
        device->SetResponder([this](const Bytes& request) { return memory.Answer(request); });
    }

    // A late reply comes after the volume stopped waiting for it; a cut one keeps `keep`
    // bytes.
    void Arm(uint16 opcode, int nth, Fault fault, size_t keep = 5) {
        device->FaultReply(opcode, nth, fault, 300000, keep);
    }
    static bool Unknown(status_t status) { return status == B_IO_ERROR || status == B_TIMED_OUT; }

    filecookie* Open(vnode* node, int omode) {
        void* cookie = nullptr;
        EXPECT_EQ(fs_open(vol, node, omode, &cookie), B_OK);
        return static_cast<filecookie*>(cookie);
    }
    // Makes the file `name` holding `old` on the device and opens it with `omode`; its `nth`
    // FWRITE from then on meets the test's fault.
    filecookie* OpenForFaultedWrite(const char* name, const Bytes& old, int omode, int nth,
                                    vnode** node) {
        memory.AddFile(std::string("M:\\") + name, old);
        *node = Walk(root, name);
        filecookie* cookie = Open(*node, omode);
        Arm(FWRITE, nth, GetParam());
        return cookie;
    }
    void Close(vnode* node, filecookie* cookie) {
        EXPECT_EQ(tavro_close(vol, node, cookie), B_OK);
        EXPECT_EQ(tavro_free_cookie(vol, node, cookie), B_OK);
    }
    // Reads the whole file in calls of `step` bytes, as cat does.
    Bytes ReadAll(vnode* node, filecookie* cookie, size_t step) {
        Bytes out;
        for (;;) {
            Bytes buffer(step);
            size_t length = step;
            status_t status = tavro_read(vol, node, cookie, static_cast<off_t>(out.size()),
                                         buffer.data(), &length);
            EXPECT_EQ(status, B_OK);
            if (status != B_OK || length == 0) break;
            out.insert(out.end(), buffer.begin(), buffer.begin() + length);
        }
        return out;
    }
    std::vector<std::string> List(vnode* dir, status_t* result) {
        std::vector<std::string> names;
        void* cookie = nullptr;
        *result = tavro_opendir(vol, dir, &cookie);
        if (*result != B_OK) return names;
        for (int i = 0; i < 1000; i++) {
            be_dirent entry{};
            long count = 0;
            *result = tavro_readdir(vol, dir, cookie, &count, &entry, sizeof entry);
            if (*result != B_OK || count == 0) break;
            names.push_back(entry.d_name);
        }
        EXPECT_EQ(tavro_free_dircookie(vol, dir, cookie), B_OK);
        return names;
    }

    MemoryDevice memory;
};

INSTANTIATE_TEST_SUITE_P(EachFault, Faults,
                         ::testing::Values(Fault::Lost, Fault::Late, Fault::Truncated,
                                           Fault::Garbage));

TEST_P(Faults, AReadThatMissedAReplyFailsAndTheNextReadSeeksFirst) {
    Bytes content = RandomBytes(3000, 1);
    memory.AddFile("M:\\BIG.BIN", content);
    vnode* node = Walk(root, "BIG.BIN");
    filecookie* cookie = Open(node, B_O_RDONLY);
    // A cut reply keeps part of its data: never taken for a short read or the end.
    Arm(FREAD, 2, GetParam(), 100);
    Bytes buffer(3000);
    size_t length = buffer.size();
    status_t status = tavro_read(vol, node, cookie, 0, buffer.data(), &length);
    EXPECT_TRUE(Unknown(status)) << status;
    EXPECT_EQ(length, 0u);
    // Read as cat would: every byte as the device holds it, and the end only at the end.
    EXPECT_EQ(ReadAll(node, cookie, 1000), content);
    EXPECT_EQ(ReadAll(node, cookie, 4096), content);
    Close(node, cookie);
    Put(node);
    EXPECT_EQ(memory.OpenHandles(), 0u);
}

TEST_P(Faults, AWriteCountsOnlyWhatTheDeviceStoredAndARetryLandsInPlace) {
    Bytes content = RandomBytes(3000, 2);
    vnode* node = nullptr;
    filecookie* cookie = OpenForFaultedWrite("COPY.BIN", {}, B_O_WRONLY, 3, &node);
    // Only the two chunks the device said it stored are counted.
    size_t length = content.size();
    ASSERT_EQ(tavro_write(vol, node, cookie, 0, content.data(), &length), B_OK);
    EXPECT_EQ(length, 2 * 503u);
    // Written again from where the count ended, as cp does, the rest lands in place.
    size_t done = length;
    length = content.size() - done;
    ASSERT_EQ(tavro_write(vol, node, cookie, static_cast<off_t>(done), &content[done], &length),
              B_OK);
    EXPECT_EQ(done + length, content.size());
    Close(node, cookie);
    EXPECT_EQ(memory.File("M:\\COPY.BIN"), content);
    be_stat st;
    ASSERT_EQ(tavro_rstat(vol, node, &st), B_OK);
    EXPECT_EQ(st.st_size, 3000);
    Put(node);
}

TEST_P(Faults, AfterAWriteThatMissedAReplyTheSizeIsAskedOfTheDevice) {
    Bytes content = RandomBytes(1200, 8);
    vnode* node = nullptr;
    filecookie* cookie = OpenForFaultedWrite("PART.BIN", {}, B_O_WRONLY, 2, &node);
    size_t length = content.size();
    ASSERT_EQ(tavro_write(vol, node, cookie, 0, content.data(), &length), B_OK);
    EXPECT_EQ(length, 503u);
    // The device stored the second chunk too: the size shown is the device's, not the count.
    be_stat st;
    ASSERT_EQ(tavro_rstat(vol, node, &st), B_OK);
    EXPECT_EQ(st.st_size, 2 * 503);
    Close(node, cookie);
    Put(node);
}

TEST_P(Faults, AnAppendThatMissedAReplyIsStoredOnce) {
    Bytes old = RandomBytes(300, 9);
    Bytes content = RandomBytes(1200, 10);
    vnode* node = nullptr;
    filecookie* cookie = OpenForFaultedWrite("LOG.TXT", old, B_O_WRONLY | B_O_APPEND, 2, &node);
    // Written on until every byte is counted, as a program does after a short write; the
    // position given is the caller's own and means nothing to an append.
    size_t done = 0;
    for (int call = 0; call < 4 && done < content.size(); call++) {
        size_t length = content.size() - done;
        status_t status =
            tavro_write(vol, node, cookie, static_cast<off_t>(done), &content[done], &length);
        ASSERT_EQ(status, B_OK);
        done += length;
    }
    EXPECT_EQ(done, content.size());
    Bytes want = old;
    want.insert(want.end(), content.begin(), content.end());
    EXPECT_EQ(memory.File("M:\\LOG.TXT"), want);
    be_stat st;
    ASSERT_EQ(tavro_rstat(vol, node, &st), B_OK);
    EXPECT_EQ(st.st_size, static_cast<off_t>(want.size()));
    Close(node, cookie);
    Put(node);
}

TEST_P(Faults, EmptyingAFileWithoutAnAnswerLeavesNoStaleSize) {
    memory.AddFile("M:\\A.TXT", RandomBytes(700, 11));
    memory.AddFile("M:\\B.TXT", RandomBytes(700, 12));
    vnode* a = Walk(root, "A.TXT");
    vnode* b = Walk(root, "B.TXT");
    // By setting the size, and by opening with O_TRUNC: the device emptied both files.
    Arm(FOPEN, 1, GetParam());
    be_stat change{};
    change.st_size = 0;
    EXPECT_TRUE(Unknown(tavro_wstat(vol, a, &change, WSTAT_SIZE)));
    Arm(FOPEN, 1, GetParam());
    void* cookie = nullptr;
    EXPECT_TRUE(Unknown(fs_open(vol, b, B_O_WRONLY | B_O_TRUNC, &cookie)));
    for (vnode* node : {a, b}) {
        be_stat st;
        ASSERT_EQ(tavro_rstat(vol, node, &st), B_OK);
        EXPECT_EQ(st.st_size, 0);
        Put(node);
    }
    EXPECT_EQ(memory.File("M:\\A.TXT"), Bytes{});
}

TEST_P(Faults, ACreateAfterALookupThatFailedNeverEmptiesTheFile) {
    Bytes content = RandomBytes(700, 3);
    memory.AddFile("M:\\KEEP.TXT", content);
    for (int omode : {B_O_WRONLY | B_O_CREAT, B_O_WRONLY | B_O_CREAT | B_O_EXCL}) {
        Arm(FINFO, 1, GetParam());
        vnode_id id = 0;
        void* cookie = nullptr;
        status_t status = tavro_create(vol, root, "KEEP.TXT", omode, 0644, &id, &cookie);
        EXPECT_TRUE(Unknown(status)) << status;
        EXPECT_EQ(cookie, nullptr);
        EXPECT_EQ(memory.File("M:\\KEEP.TXT"), content);
    }
    // With the faults gone, an exclusive create is refused and a plain one keeps the data.
    vnode_id id = 0;
    void* cookie = nullptr;
    EXPECT_EQ(
        tavro_create(vol, root, "KEEP.TXT", B_O_WRONLY | B_O_CREAT | B_O_EXCL, 0644, &id, &cookie),
        B_FILE_EXISTS);
    ASSERT_EQ(tavro_create(vol, root, "KEEP.TXT", B_O_RDWR | B_O_CREAT, 0644, &id, &cookie), B_OK);
    EXPECT_EQ(memory.File("M:\\KEEP.TXT"), content);
    Close(node_of(id), static_cast<filecookie*>(cookie));
    EXPECT_EQ(put_vnode(kTestNsid, id), B_OK);
}

TEST_P(Faults, AListingThatBreaksOffFailsInsteadOfEndingEarly) {
    memory.AddFolder("M:\\MANY");
    for (int i = 0; i < 10; i++) memory.AddFile("M:\\MANY\\F" + std::to_string(i), {1});
    vnode* dir = Walk(root, "MANY");
    Arm(FDIRREAD, 2, GetParam());
    status_t status;
    std::vector<std::string> names = List(dir, &status);
    EXPECT_TRUE(Unknown(status)) << status;
    names = List(dir, &status);
    EXPECT_EQ(status, B_OK);
    EXPECT_EQ(names.size(), 12u);
    Put(dir);
    EXPECT_EQ(memory.OpenHandles(), 0u);
}

TEST_P(Faults, HandlesThatFailedOpensLeftOnTheDeviceAreClosed) {
    memory.AddFile("M:\\A.TXT", {1, 2, 3});
    vnode* node = Walk(root, "A.TXT");
    // A burst of bad replies, then quiet.
    for (int i = 0; i < 5; i++) {
        Arm(FOPEN, 1, GetParam());
        void* cookie = nullptr;
        EXPECT_NE(fs_open(vol, node, B_O_RDONLY, &cookie), B_OK);
    }
    Arm(FCLOSE, 1, GetParam());
    filecookie* cookie = Open(node, B_O_RDONLY);
    Close(node, cookie);
    // The next open tidies up whatever is left, and the file can be deleted.
    cookie = Open(node, B_O_RDONLY);
    Close(node, cookie);
    EXPECT_EQ(memory.OpenHandles(), 0u);
    EXPECT_EQ(handles_held(vol), 0u);
    Put(node);
    EXPECT_EQ(tavro_unlink(vol, root, "A.TXT"), B_OK);
    EXPECT_FALSE(memory.Exists("M:\\A.TXT"));
}

TEST_P(Faults, AFileThatALostOpenOrCloseLeftOpenCanBeDeletedAtOnce) {
    memory.AddFile("M:\\A.TXT", {1, 2, 3});
    memory.AddFile("M:\\B.TXT", {4});
    // A handle whose close went wrong, then the delete with no open in between.
    vnode* node = Walk(root, "B.TXT");
    filecookie* open = Open(node, B_O_RDONLY);
    Arm(FCLOSE, 1, GetParam());
    Close(node, open);
    Put(node);
    EXPECT_EQ(tavro_unlink(vol, root, "B.TXT"), B_OK);
    EXPECT_FALSE(memory.Exists("M:\\B.TXT"));
    // A handle the device gave to an open whose answer went wrong: nobody here knows it.
    node = Walk(root, "A.TXT");
    Arm(FOPEN, 1, GetParam());
    void* cookie = nullptr;
    EXPECT_NE(fs_open(vol, node, B_O_RDONLY, &cookie), B_OK);
    Put(node);
    EXPECT_EQ(tavro_unlink(vol, root, "A.TXT"), B_OK);
    EXPECT_FALSE(memory.Exists("M:\\A.TXT"));
    EXPECT_EQ(memory.OpenHandles(), 0u);
}

TEST_P(Faults, ARenameWithoutAnAnswerLeavesNoGhost) {
    memory.AddFolder("M:\\OLD");
    vnode* dir = Walk(root, "OLD");
    Put(dir);
    Arm(RENAME, 1, GetParam());
    // The device carried it out; asked what became of both names, it says so.
    EXPECT_EQ(fs_rename(vol, root, "OLD", root, "NEW"), B_OK);
    // Every question gets the device's answer.
    Walk(root, "OLD", B_ENTRY_NOT_FOUND);
    vnode* moved = Walk(root, "NEW");
    EXPECT_TRUE(moved->mode & B_S_IFDIR);
    Put(moved);
    EXPECT_EQ(tavro_mkdir(vol, root, "NEW", 0755), B_FILE_EXISTS);
    EXPECT_EQ(tavro_rmdir(vol, root, "OLD"), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(tavro_rmdir(vol, root, "NEW"), B_OK);
    EXPECT_FALSE(memory.Exists("M:\\NEW"));
}

TEST_P(Faults, ADeleteWithoutAnAnswerIsReportedDoneOnlyWhenTheNameIsGone) {
    memory.AddFile("M:\\GONE.TXT", {1});
    Arm(DELETE, 1, GetParam());
    // Carried out: the device no longer has the name.
    EXPECT_EQ(tavro_unlink(vol, root, "GONE.TXT"), B_OK);
    EXPECT_FALSE(memory.Exists("M:\\GONE.TXT"));
    // The question that settles it can go wrong too: then nothing is reported done.
    memory.AddFile("M:\\GONE.TXT", {1});
    Arm(DELETE, 1, GetParam());
    Arm(FINFO, 2, GetParam());  // the first looks the name up
    status_t status = tavro_unlink(vol, root, "GONE.TXT");
    EXPECT_TRUE(Unknown(status)) << status;
    // It was deleted: asking again says so.
    Walk(root, "GONE.TXT", B_ENTRY_NOT_FOUND);
    EXPECT_EQ(tavro_unlink(vol, root, "GONE.TXT"), B_ENTRY_NOT_FOUND);
}

// --- refusals -------------------------------------------------------------------------------

using Refusals = Faults;

TEST_F(Refusals, DeletesTheDeviceRefusesAreReported) {
    memory.AddFile("M:\\BUSY.TXT", {1});
    memory.AddFolder("M:\\FULL");
    memory.AddFile("M:\\FULL\\IN.TXT", {1});
    memory.HoldOpen("M:\\BUSY.TXT");
    EXPECT_EQ(tavro_unlink(vol, root, "BUSY.TXT"), B_BUSY);
    EXPECT_TRUE(memory.Exists("M:\\BUSY.TXT"));
    Put(Walk(root, "BUSY.TXT"));
    EXPECT_EQ(tavro_rmdir(vol, root, "FULL"), B_DIRECTORY_NOT_EMPTY);
    // The check of a folder's emptiness that gets no answer stops the rmdir.
    memory.AddFolder("M:\\EMPTY");
    device->FaultReply(FDIRREAD, 1, Fault::Lost);
    EXPECT_TRUE(Unknown(tavro_rmdir(vol, root, "EMPTY")));
    EXPECT_TRUE(memory.Exists("M:\\EMPTY"));

    memory.MakeReadOnly();
    EXPECT_EQ(tavro_unlink(vol, root, "FULL\\IN.TXT"), B_ENTRY_NOT_FOUND);
    vnode* full = Walk(root, "FULL");
    EXPECT_EQ(tavro_unlink(vol, full, "IN.TXT"), B_READ_ONLY_DEVICE);
    Put(full);
    EXPECT_EQ(tavro_rmdir(vol, root, "EMPTY"), B_READ_ONLY_DEVICE);
    EXPECT_TRUE(memory.Exists("M:\\FULL\\IN.TXT"));
    EXPECT_TRUE(memory.Exists("M:\\EMPTY"));
    Put(Walk(root, "EMPTY"));
}

TEST_F(Refusals, ReplacingAFileOpenElsewhereKeepsBothNames) {
    Bytes target = RandomBytes(100, 4);
    Bytes source = RandomBytes(200, 5);
    memory.AddFile("M:\\T.TXT", target);
    memory.AddFile("M:\\S.TXT", source);
    // Open on the handheld itself: the device refuses to delete it, and the move stops there.
    memory.HoldOpen("M:\\T.TXT");
    EXPECT_EQ(tavro_unlink(vol, root, "T.TXT"), B_BUSY);
    EXPECT_EQ(memory.File("M:\\T.TXT"), target);
    EXPECT_EQ(memory.File("M:\\S.TXT"), source);
}

TEST_F(Refusals, ReplacingAFileOpenHereWorksAndTheOpenFileKeepsItsData) {
    Bytes target = RandomBytes(100, 6);
    Bytes source = RandomBytes(200, 7);
    memory.AddFile("M:\\T.TXT", target);
    memory.AddFile("M:\\S.TXT", source);
    vnode* old = Walk(root, "T.TXT");
    filecookie* cookie = Open(old, B_O_RDONLY);
    // What a replacing rename does: the target goes, then the source takes its name.
    ASSERT_EQ(tavro_unlink(vol, root, "T.TXT"), B_OK);
    ASSERT_EQ(fs_rename(vol, root, "S.TXT", root, "T.TXT"), B_OK);
    EXPECT_EQ(memory.File("M:\\T.TXT"), source);
    EXPECT_FALSE(memory.Exists("M:\\S.TXT"));
    // The open file still reads its own data, and stat works on it.
    EXPECT_EQ(ReadAll(old, cookie, 64), target);
    be_stat st;
    EXPECT_EQ(tavro_rstat(vol, old, &st), B_OK);
    EXPECT_EQ(st.st_size, 100);
    status_t status;
    std::vector<std::string> names = List(root, &status);
    EXPECT_EQ(status, B_OK);
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "T.TXT"}));
    Close(old, cookie);
    Put(old);
    // Its last user gone, the old data leave the device.
    EXPECT_EQ(memory.OpenHandles(), 0u);
    EXPECT_FALSE(memory.Exists("M:\\~T000000.DEL"));
}

TEST_F(Refusals, ReadOnlyMediaRefuseEveryChange) {
    memory.AddFile("M:\\A.TXT", {1, 2});
    memory.AddFolder("M:\\D");
    memory.MakeReadOnly();
    vnode* file = Walk(root, "A.TXT");
    vnode_id id;
    void* cookie = nullptr;
    EXPECT_EQ(tavro_create(vol, root, "NEW.TXT", B_O_WRONLY | B_O_CREAT, 0644, &id, &cookie),
              B_READ_ONLY_DEVICE);
    EXPECT_EQ(tavro_mkdir(vol, root, "NEWDIR", 0755), B_READ_ONLY_DEVICE);
    EXPECT_EQ(tavro_unlink(vol, root, "A.TXT"), B_READ_ONLY_DEVICE);
    EXPECT_EQ(tavro_rmdir(vol, root, "D"), B_READ_ONLY_DEVICE);
    EXPECT_EQ(fs_rename(vol, root, "A.TXT", root, "B.TXT"), B_READ_ONLY_DEVICE);
    filecookie* open = Open(file, B_O_RDWR);
    size_t length = 1;
    EXPECT_EQ(tavro_write(vol, file, open, 0, "x", &length), B_READ_ONLY_DEVICE);
    Close(file, open);
    be_stat st{};
    EXPECT_EQ(tavro_wstat(vol, file, &st, WSTAT_SIZE), B_READ_ONLY_DEVICE);
    st.st_mode = 0600;
    EXPECT_EQ(tavro_wstat(vol, file, &st, WSTAT_MODE), B_READ_ONLY_DEVICE);
    st.st_mtime = 5;
    EXPECT_EQ(tavro_wstat(vol, file, &st, WSTAT_MTIME), B_READ_ONLY_DEVICE);
    // Attributes live here, not on the device, and are refused all the same.
    length = 1;
    EXPECT_EQ(fs_entry.write_attr(vol, file, "user.note", B_RAW_TYPE, "x", &length, 0),
              B_READ_ONLY_DEVICE);
    EXPECT_EQ(fs_entry.remove_attr(vol, file, "BEOS:TYPE"), B_READ_ONLY_DEVICE);
    EXPECT_EQ(fs_entry.rename_attr(vol, file, "BEOS:TYPE", "X"), B_READ_ONLY_DEVICE);
    // And the volume says so, for a read-only mount.
    fs_info info;
    ASSERT_EQ(fs_rfsstat(vol, &info), B_OK);
    EXPECT_NE(info.flags & B_FS_IS_READONLY, 0u);
    EXPECT_EQ(memory.File("M:\\A.TXT"), (Bytes{1, 2}));
    Put(file);
}

TEST_F(Refusals, FreeSpaceFollowsWritesAndDeletes) {
    memory.AddFile("M:\\A.TXT", Bytes(1000, 1));
    fs_info info;
    ASSERT_EQ(fs_rfsstat(vol, &info), B_OK);
    EXPECT_EQ(info.free_blocks, MemoryDevice::kCapacity - 1000);
    EXPECT_EQ(info.flags & B_FS_IS_READONLY, 0u);
    EXPECT_EQ(tavro_unlink(vol, root, "A.TXT"), B_OK);
    ASSERT_EQ(fs_rfsstat(vol, &info), B_OK);
    EXPECT_EQ(info.free_blocks, MemoryDevice::kCapacity);
}

TEST_F(Refusals, NamesAreSpelledInTheDevicesCharacterSet) {
    // "£1.TXT" as the device stores it: 0x9C is the pound sign of code page 850.
    memory.AddFile(
        "M:\\\x9C"
        "1.TXT",
        {7});
    vnode_id id;
    void* cookie = nullptr;
    ASSERT_EQ(
        tavro_create(vol, root, "CAF\xC3\x89.TXT", B_O_WRONLY | B_O_CREAT, 0644, &id, &cookie),
        B_OK);
    Close(node_of(id), static_cast<filecookie*>(cookie));
    EXPECT_EQ(put_vnode(kTestNsid, id), B_OK);
    EXPECT_TRUE(memory.Exists("M:\\CAF\x90.TXT"));  // É is 0x90 on the device
    status_t status;
    std::vector<std::string> names = List(root, &status);
    EXPECT_EQ(status, B_OK);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "CAF\xC3\x89.TXT",
                                               "\xC2\xA3"
                                               "1.TXT"}));
    vnode* pound = Walk(root,
                        "\xC2\xA3"
                        "1.TXT");
    EXPECT_EQ(pound->size, 1u);
    Put(pound);
    // A character the device's set lacks (the euro sign) is a name it cannot store.
    EXPECT_EQ(
        tavro_create(vol, root, "\xE2\x82\xAC.TXT", B_O_WRONLY | B_O_CREAT, 0644, &id, &cookie),
        B_BAD_VALUE);
    EXPECT_EQ(tavro_mkdir(vol, root, "\xE2\x82\xAC", 0755), B_BAD_VALUE);
    EXPECT_EQ(fs_rename(vol, root, "CAF\xC3\x89.TXT", root, "\xE2\x82\xAC"), B_BAD_VALUE);
    // Nor is text that is not UTF-8 at all.
    EXPECT_EQ(tavro_mkdir(vol, root, "\x90", 0755), B_BAD_VALUE);
}

TEST_F(Refusals, AFolderMovesOnlyWhereEveryPathBelowItStillFits) {
    // M:\AAAAAAAA\BBBBBBBB\ and a 99-character name: a path of 120 characters.
    std::string deep = "M:\\AAAAAAAA\\BBBBBBBB\\" + std::string(99, 'F');
    memory.AddFolder("M:\\AAAAAAAA");
    memory.AddFolder("M:\\AAAAAAAA\\BBBBBBBB");
    memory.AddFile(deep, {1});
    memory.AddFolder("M:\\CCCCCCCC");
    memory.AddFolder("M:\\D");
    vnode* far = Walk(root, "CCCCCCCC");
    vnode* near = Walk(root, "D");
    // Nine more characters would put the file at 129: refused, and nothing moves.
    EXPECT_EQ(fs_rename(vol, root, "AAAAAAAA", far, "AAAAAAAA"), B_NAME_TOO_LONG);
    EXPECT_TRUE(memory.Exists(deep));
    EXPECT_EQ(fs_rename(vol, root, "AAAAAAAA", root, ("AAAAAAAA" + std::string(8, 'X')).c_str()),
              B_NAME_TOO_LONG);
    // Two more fit, and a shorter name needs no look below.
    ASSERT_EQ(fs_rename(vol, root, "AAAAAAAA", near, "AAAAAAAA"), B_OK);
    EXPECT_TRUE(memory.Exists("M:\\D\\AAAAAAAA\\BBBBBBBB\\" + std::string(99, 'F')));
    size_t before = device->RequestCount();
    ASSERT_EQ(fs_rename(vol, near, "AAAAAAAA", near, "A"), B_OK);
    EXPECT_EQ(device->RequestCount(), before + 1);  // the RENAME alone
    EXPECT_EQ(memory.OpenHandles(), 0u);
    Put(far);
    Put(near);
}

TEST_F(Refusals, NodeNumbersStayWithTheirFilesAndAreNeverGivenAgain) {
    // A kernel that lets every unused record go at once.
    Unmount();
    Mount(true);
    device->SetResponder([this](const Bytes& request) { return memory.Answer(request); });
    memory.AddFile("M:\\A.TXT", {1});
    memory.AddFolder("M:\\D");
    memory.AddFile("M:\\D\\C.TXT", {2});
    auto number = [&](vnode* dir, const char* name) {
        vnode* node = Walk(dir, name);
        vnode_id id = node != nullptr ? node->vnid : 0;
        if (node != nullptr) Put(node);
        return id;
    };
    vnode_id a = number(root, "A.TXT");
    EXPECT_EQ(number(root, "a.txt"), a);  // looked up again after its record went
    vnode* d = Walk(root, "D");
    vnode_id c = number(d, "C.TXT");
    Put(d);
    // Renames take the numbers along, for the entries below a folder too.
    ASSERT_EQ(fs_rename(vol, root, "D", root, "E"), B_OK);
    ASSERT_EQ(fs_rename(vol, root, "A.TXT", root, "Z.TXT"), B_OK);
    EXPECT_EQ(number(root, "Z.TXT"), a);
    vnode* e = Walk(root, "E");
    EXPECT_EQ(number(e, "C.TXT"), c);
    Put(e);
    // A new file where an old one was deleted is another file, with a number of its own.
    ASSERT_EQ(tavro_unlink(vol, root, "Z.TXT"), B_OK);
    vnode_id id;
    void* cookie = nullptr;
    ASSERT_EQ(tavro_create(vol, root, "Z.TXT", B_O_WRONLY | B_O_CREAT, 0644, &id, &cookie), B_OK);
    EXPECT_NE(id, a);
    EXPECT_NE(id, c);
    Close(node_of(id), static_cast<filecookie*>(cookie));
    EXPECT_EQ(put_vnode(kTestNsid, id), B_OK);
    EXPECT_EQ(number(root, "Z.TXT"), id);
}

}  // namespace
