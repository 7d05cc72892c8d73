// Directory listings: the seed entries, FDIRREAD replies, nodes made from entries, and
// replies that lie about their own contents.
#include <random>

#include "WireFixture.h"

namespace {

class Listing : public WireTest {
protected:
    void* Open(vnode* dir, const std::string& path) {
        device->Expect(Packet(FOPEN, Concat({{0x30, 0x00}, PathBytes(path + "*.*")})),
                       Reply(0, {4, 0}));
        void* cookie = nullptr;
        EXPECT_EQ(tavro_opendir(vol, dir, &cookie), B_OK);
        return cookie;
    }
    // Reads the listing to its end; the names in order.
    std::vector<std::string> ReadAll(vnode* dir, void* cookie,
                                     std::vector<vnode_id>* ids = nullptr) {
        std::vector<std::string> names;
        for (int i = 0; i < 100000; i++) {
            be_dirent entry{};
            long count = -1;
            EXPECT_EQ(tavro_readdir(vol, dir, cookie, &count, &entry, sizeof entry), B_OK);
            if (count == 0) break;
            EXPECT_EQ(entry.d_reclen, strlen(entry.d_name));
            EXPECT_EQ(entry.d_dev, kTestNsid);
            EXPECT_EQ(entry.d_pino, dir->vnid);
            names.push_back(entry.d_name);
            if (ids) ids->push_back(entry.d_ino);
        }
        return names;
    }
    void Close(void* cookie) {
        device->Expect(Packet(FCLOSE, {4, 0}), Reply(0));
        EXPECT_EQ(tavro_closedir(vol, root, cookie), B_OK);
        EXPECT_EQ(tavro_free_dircookie(vol, root, cookie), B_OK);
    }
    static Bytes DirRead() { return Packet(FDIRREAD, {4, 0}); }
    static Bytes Entries(std::initializer_list<Bytes> entries) {
        Bytes out = Reply(0, {0, 0});
        for (const Bytes& entry : entries) out.insert(out.end(), entry.begin(), entry.end());
        return Sealed(out);
    }
};

TEST_F(Listing, AnEmptyDirectoryListsDotAndDotDot) {
    void* cookie = Open(root, "M:\\");
    device->Expect(DirRead(), Reply(-36));
    std::vector<vnode_id> ids;
    EXPECT_EQ(ReadAll(root, cookie, &ids), (std::vector<std::string>{".", ".."}));
    EXPECT_EQ(ids[0], rootId);
    EXPECT_EQ(ids[1], kTestNsid);  // the root's ".."
    // At the end it stays at the end, asking again each time.
    device->Expect(DirRead(), Reply(-36));
    EXPECT_TRUE(ReadAll(root, cookie).empty());
    Close(cookie);
}

TEST_F(Listing, TwentyEntriesInOneReplyAndNoLookupsAfterwards) {
    Bytes reply = Reply(0, {0, 0});
    std::vector<std::string> expected = {".", ".."};
    for (int i = 0; i < 20; i++) {
        std::string name = "File" + std::to_string(i) + ".Txt";
        Bytes entry = Entry(i % 2 ? 0x0001 : 0, 100 + i, 1000 + i, name.c_str());
        reply.insert(reply.end(), entry.begin(), entry.end());
        expected.push_back(name);
    }
    void* cookie = Open(root, "M:\\");
    device->Expect(DirRead(), Sealed(reply));
    device->Expect(DirRead(), Reply(-36));
    EXPECT_EQ(ReadAll(root, cookie), expected);
    Close(cookie);
    size_t sent = device->RequestCount();
    vnode* node = Walk(root, "FILE7.TXT");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->size, 107u);
    EXPECT_EQ(node->mtime, 1007u);
    EXPECT_EQ(node->mode, 0x81B6u);
    EXPECT_EQ(device->RequestCount(), sent);
    Put(node);
}

TEST_F(Listing, EntriesFollowEachOtherAcrossReplies) {
    void* cookie = Open(root, "M:\\");
    device->Expect(DirRead(), Entries({Entry(0, 1, 2, "A"), Entry(0x10, 3, 4, "BC")}));
    device->Expect(DirRead(), Entries({Entry(0, 5, 6, "D")}));
    device->Expect(DirRead(), Reply(-36));
    EXPECT_EQ(ReadAll(root, cookie), (std::vector<std::string>{".", "..", "A", "BC", "D"}));
    Close(cookie);
    vnode* bc = Walk(root, "bc");
    EXPECT_EQ(bc->mode, 0x4049u);
    Put(bc);
}

TEST_F(Listing, AListingRefreshesCachedNodes) {
    ExpectFinfo("M:\\A", Entry(0, 1, 1));
    vnode* a = Walk(root, "A");
    void* cookie = Open(root, "M:\\");
    device->Expect(DirRead(), Entries({Entry(0x0001, 999, 77, "a")}));
    device->Expect(DirRead(), Reply(-36));
    ReadAll(root, cookie);
    Close(cookie);
    EXPECT_EQ(a->size, 999u);
    EXPECT_EQ(a->mtime, 77u);
    EXPECT_STREQ(a->name, "A");  // the name as first met
    Put(a);
}

// Reads entries until the listing ends or fails; the names and the status that stopped it.
std::vector<std::string> ReadUntilStopped(volume* vol, vnode* dir, void* cookie,
                                          status_t* stopped) {
    std::vector<std::string> names;
    for (int i = 0; i < 1000; i++) {
        be_dirent entry{};
        long count = 0;
        *stopped = tavro_readdir(vol, dir, cookie, &count, &entry, sizeof entry);
        if (*stopped != B_OK || count == 0) break;
        names.push_back(entry.d_name);
    }
    return names;
}

TEST_F(Listing, MalformedRepliesBreakTheListingOff) {
    void* cookie = Open(root, "M:\\");
    Bytes lying = Entries({Entry(0, 1, 1, "OK"), Entry(0, 1, 1, "RUNSOFF")});
    lying.pop_back();  // the last name loses its NUL and runs past the end
    device->Expect(DirRead(), Sealed(lying));
    status_t stopped;
    EXPECT_EQ(ReadUntilStopped(vol, root, cookie, &stopped),
              (std::vector<std::string>{".", "..", "OK"}));
    EXPECT_EQ(stopped, B_IO_ERROR);
    // And stays broken without asking again: what follows is not the rest of the folder.
    EXPECT_TRUE(ReadUntilStopped(vol, root, cookie, &stopped).empty());
    EXPECT_EQ(stopped, B_IO_ERROR);
    Close(cookie);

    // A reply cut short on the way (its length word claims more than came), one without
    // entries, one with a status other than the end, and one that never comes.
    Bytes cut = Entries({Entry(0, 1, 1, "A"), Entry(0, 1, 1, "B")});
    cut.resize(cut.size() - 18);
    for (const Bytes& reply : {cut, Bytes{0x2A, 0, 3, 0, 0, 0, 0}, Reply(-1)}) {
        cookie = Open(root, "M:\\");
        device->Expect(DirRead(), reply);
        EXPECT_EQ(ReadUntilStopped(vol, root, cookie, &stopped),
                  (std::vector<std::string>{".", ".."}));
        EXPECT_EQ(stopped, B_IO_ERROR);
        Close(cookie);
    }
    cookie = Open(root, "M:\\");
    device->ExpectSilence(DirRead());
    ReadUntilStopped(vol, root, cookie, &stopped);
    EXPECT_EQ(stopped, B_TIMED_OUT);
    Close(cookie);

    // Names the device cannot have made are passed over.
    cookie = Open(root, "M:\\");
    device->Expect(DirRead(),
                   Entries({Entry(0, 1, 1, ""), Entry(0, 1, 1, "A*B"), Entry(0, 1, 1, "FINE")}));
    device->Expect(DirRead(), Reply(-36));
    EXPECT_EQ(ReadAll(root, cookie), (std::vector<std::string>{".", "..", "FINE"}));
    Close(cookie);
}

TEST_F(Listing, AGoneLinkEndsTheListingAtOnce) {
    void* cookie = Open(root, "M:\\");
    device->Expect(DirRead(), Entries({Entry(0, 1, 1, "A"), Entry(0, 1, 1, "B")}));
    be_dirent entry;
    long count;
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(tavro_readdir(vol, root, cookie, &count, &entry, sizeof entry), B_OK);
    EXPECT_STREQ(entry.d_name, "A");
    device->CutLink();
    vol->connected = 0;
    // B was never read: the listing fails rather than end without it.
    ASSERT_EQ(tavro_readdir(vol, root, cookie, &count, &entry, sizeof entry), B_IO_ERROR);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(tavro_free_dircookie(vol, root, cookie), B_OK);
}

TEST_F(Listing, RewindClosesTheOldHandleAndStartsAgain) {
    void* cookie = Open(root, "M:\\");
    device->Expect(DirRead(), Entries({Entry(0, 1, 1, "A")}));
    device->Expect(DirRead(), Reply(-36));
    ReadAll(root, cookie);
    device->Expect(Packet(FCLOSE, {4, 0}), Reply(0));
    device->Expect(Packet(FOPEN, Concat({{0x30, 0x00}, PathBytes("M:\\*.*")})), Reply(0, {4, 0}));
    EXPECT_EQ(tavro_rewinddir(vol, root, cookie), B_OK);
    device->Expect(DirRead(), Entries({Entry(0, 1, 1, "A")}));
    device->Expect(DirRead(), Reply(-36));
    EXPECT_EQ(ReadAll(root, cookie), (std::vector<std::string>{".", "..", "A"}));
    Close(cookie);
}

TEST_F(Listing, AFailedOpenIsTheOpensError) {
    device->Expect(Packet(FOPEN, Concat({{0x30, 0x00}, PathBytes("M:\\*.*")})), Reply(-42));
    void* cookie = reinterpret_cast<void*>(1);
    EXPECT_EQ(tavro_opendir(vol, root, &cookie), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(cookie, nullptr);
}

TEST_F(Listing, RandomRepliesAreReadSafely) {
    std::mt19937 random(5);
    constexpr int kReplies = 3000;
    device->SetResponder([&](const Bytes& request) -> std::optional<Bytes> {
        if (request[0] == FOPEN) return Reply(0, {4, 0});
        if (request[0] == FCLOSE) return Reply(0);
        Bytes reply = Reply(0, {0, 0});
        size_t extra = random() % 120;
        for (size_t i = 0; i < extra; i++) {
            uint8 b = static_cast<uint8>(random());
            reply.push_back(b % 5 == 0 ? 0 : (b % 3 == 0 ? 'A' + b % 26 : b));
        }
        reply = Sealed(reply);
        if (random() % 4 == 0) reply[2] = static_cast<uint8>(random());  // a lying length
        return reply;
    });
    for (int i = 0; i < kReplies; i++) {
        void* cookie = nullptr;
        ASSERT_EQ(tavro_opendir(vol, root, &cookie), B_OK);
        for (int j = 0; j < 50; j++) {
            be_dirent entry;
            long count = 0;
            // A reply that does not hold together breaks the listing off with an error.
            status_t status = tavro_readdir(vol, root, cookie, &count, &entry, sizeof entry);
            ASSERT_TRUE(status == B_OK || status == B_IO_ERROR) << status;
            if (status != B_OK || count == 0) break;
            ASSERT_EQ(strlen(entry.d_name), entry.d_reclen);
        }
        ASSERT_EQ(tavro_free_dircookie(vol, root, cookie), B_OK);
    }
    RecordProperty("replies", kReplies);
}

}  // namespace
