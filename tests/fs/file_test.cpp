// File I/O: chunking, positioning, open modes, create, and the faults of the device's answers.
#include <cstring>
#include <map>

#include "WireFixture.h"
#include "platform/ByteOrder.h"

namespace {

class File : public WireTest {
protected:
    // Looks up and opens M:\F (size `size`) with handle 3.
    vnode* OpenFile(int omode, uint16 mode, filecookie** cookie, uint32 size = 1200,
                    bool cached = false) {
        if (!cached) ExpectFinfo("M:\\F", Entry(0x0001, size, 0));
        vnode* node = Walk(root, "F");
        device->Expect(
            Packet(FOPEN, Concat({{static_cast<uint8>(mode), static_cast<uint8>(mode >> 8)},
                                  PathBytes("M:\\F")})),
            Reply(0, {3, 0}));
        void* out = nullptr;
        EXPECT_EQ(fs_open(vol, node, omode, &out), B_OK);
        *cookie = static_cast<filecookie*>(out);
        return node;
    }
    void Close(vnode* node, filecookie* cookie) {
        EXPECT_EQ(tavro_close(vol, node, cookie), B_OK);
        device->Expect(Packet(FCLOSE, {3, 0}), Reply(0));
        EXPECT_EQ(tavro_free_cookie(vol, node, cookie), B_OK);
        Put(node);
    }
    static Bytes Read(uint16 count) {
        return Packet(FREAD, {3, 0, static_cast<uint8>(count), static_cast<uint8>(count >> 8)});
    }
    static Bytes Seek(int32 offset, uint16 mode = 1) {
        Bytes payload = {3, 0, 0, 0, 0, 0, static_cast<uint8>(mode), 0};
        LongToBytes(static_cast<uint32>(offset), &payload[2]);
        return Packet(FSEEK, payload);
    }
    static Bytes SeekReply(uint32 position) {
        Bytes data(4);
        LongToBytes(position, data.data());
        return Reply(0, data);
    }
    static Bytes Data(size_t n, uint8 seed) {
        Bytes out(n);
        for (size_t i = 0; i < n; i++) out[i] = static_cast<uint8>(seed + i * 7);
        return out;
    }
};

TEST_F(File, ReadsComeIn511ByteChunksUntilTheEnd) {
    filecookie* cookie;
    vnode* node = OpenFile(B_O_RDONLY, 0x0200, &cookie);
    Bytes content = Data(1200, 1);
    device->Expect(Read(511), Reply(0, Bytes(content.begin(), content.begin() + 511)));
    device->Expect(Read(511), Reply(0, Bytes(content.begin() + 511, content.begin() + 1022)));
    device->Expect(Read(511), Reply(0, Bytes(content.begin() + 1022, content.end())));
    device->Expect(Read(511), Reply(-36));
    Bytes buffer(4096);
    size_t length = buffer.size();
    ASSERT_EQ(tavro_read(vol, node, cookie, 0, buffer.data(), &length), B_OK);
    ASSERT_EQ(length, 1200u);
    EXPECT_TRUE(std::equal(content.begin(), content.end(), buffer.begin()));
    // Sequential: no seek; at the end, nothing.
    device->Expect(Read(511), Reply(-36));
    length = buffer.size();
    ASSERT_EQ(tavro_read(vol, node, cookie, 1200, buffer.data(), &length), B_OK);
    EXPECT_EQ(length, 0u);
    Close(node, cookie);
}

TEST_F(File, ASeekGoesOutOnlyWhenThePositionIsWrong) {
    filecookie* cookie;
    vnode* node = OpenFile(B_O_RDONLY, 0x0200, &cookie);
    device->Expect(Seek(100), SeekReply(100));
    device->Expect(Read(50), Reply(0, Data(50, 9)));
    uint8 buffer[50];
    size_t length = sizeof buffer;
    ASSERT_EQ(tavro_read(vol, node, cookie, 100, buffer, &length), B_OK);
    EXPECT_EQ(length, 50u);
    device->Expect(Read(50), Reply(0, Data(50, 9)));
    length = sizeof buffer;
    ASSERT_EQ(tavro_read(vol, node, cookie, 150, buffer, &length), B_OK);
    EXPECT_EQ(cookie->offset, 200);
    // A seek from the end with a positive offset is refused without a request.
    EXPECT_EQ(psion_fseek(vol, cookie, 2, 5), B_FILE_ERROR);
    EXPECT_EQ(psion_fseek(vol, cookie, 1, 0), B_OK);
    EXPECT_EQ(psion_fseek(vol, cookie, 9, 0), B_FILE_ERROR);
    device->Expect(Seek(-10, 2), SeekReply(1190));
    EXPECT_EQ(psion_fseek(vol, cookie, 2, -10), B_OK);
    EXPECT_EQ(cookie->offset, 1190);
    Close(node, cookie);
}

TEST_F(File, ReadFaults) {
    filecookie* cookie;
    vnode* node = OpenFile(B_O_RDONLY, 0x0200, &cookie);
    uint8 buffer[2000];
    size_t length;
    // A successful reply without data is no answer: the read fails instead of asking forever
    // or ending the file there.
    device->Expect(Read(511), Reply(0));
    length = 600;
    EXPECT_EQ(tavro_read(vol, node, cookie, 0, buffer, &length), B_IO_ERROR);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(cookie->offset, kPositionUnknown);
    // Where the device stands after a failure is unknown, so the next read seeks first. A
    // reply claiming more than it holds is a reply cut short on the way.
    device->Expect(Seek(0), SeekReply(0));
    Bytes lying = Reply(0, Data(10, 3));
    lying[2] = 0xFF;
    device->Expect(Read(20), lying);
    length = 20;
    EXPECT_EQ(tavro_read(vol, node, cookie, 0, buffer, &length), B_IO_ERROR);
    EXPECT_EQ(length, 0u);
    // A refusal before any byte, and one after some bytes: either way the read fails whole,
    // since bytes handed out short of the end would be taken for the end of the file.
    device->Expect(Seek(10), SeekReply(10));
    device->Expect(Read(5), Reply(-7));
    length = 5;
    EXPECT_EQ(tavro_read(vol, node, cookie, 10, buffer, &length), B_FILE_ERROR);
    EXPECT_EQ(length, 0u);
    device->Expect(Seek(10), SeekReply(10));
    device->Expect(Read(511), Reply(0, Data(511, 1)));
    device->Expect(Read(89), Reply(-7));
    length = 600;
    EXPECT_EQ(tavro_read(vol, node, cookie, 10, buffer, &length), B_FILE_ERROR);
    EXPECT_EQ(length, 0u);
    // A short answer is not the end: the rest is asked for.
    device->Expect(Seek(10), SeekReply(10));
    device->Expect(Read(300), Reply(0, Data(100, 1)));
    device->Expect(Read(200), Reply(0, Data(200, 1)));
    length = 300;
    EXPECT_EQ(tavro_read(vol, node, cookie, 10, buffer, &length), B_OK);
    EXPECT_EQ(length, 300u);
    // A reply that never comes: no bytes, a time-out, and still connected.
    device->ExpectSilence(Read(4));
    length = 4;
    EXPECT_EQ(tavro_read(vol, node, cookie, 310, buffer, &length), B_TIMED_OUT);
    EXPECT_EQ(vol->connected.load(), 1);
    // A seek that lands elsewhere than asked is no seek.
    device->Expect(Seek(310), SeekReply(311));
    length = 4;
    EXPECT_EQ(tavro_read(vol, node, cookie, 310, buffer, &length), B_IO_ERROR);
    // Positions the device's 32-bit offsets cannot hold are refused, never wrapped.
    length = 4;
    EXPECT_EQ(tavro_read(vol, node, cookie, off_t{1} << 31, buffer, &length), B_BAD_VALUE);
    EXPECT_EQ(length, 0u);
    // A write at or past 2 GiB cannot be stored: the file would be too large.
    for (off_t at : {off_t{1} << 31, (off_t{1} << 32) + 5, (off_t{1} << 31) - 1}) {
        length = 4;
        EXPECT_EQ(tavro_write(vol, node, cookie, at, buffer, &length), B_FILE_TOO_LARGE);
        EXPECT_EQ(length, 0u);
    }
    Close(node, cookie);
}

TEST_F(File, WritesComeIn503ByteChunksAndUpdateTheSize) {
    filecookie* cookie;
    vnode* node = OpenFile(B_O_RDWR | B_O_TRUNC, 0x0302, &cookie);
    EXPECT_EQ(node->size, 0u);  // replace mode emptied it
    fake_kernel::ClearNotices();
    Bytes content = Data(1000, 4);
    device->Expect(Packet(FWRITE, Concat({{3, 0}, Bytes(content.begin(), content.begin() + 503)})),
                   Reply(0));
    device->Expect(Packet(FWRITE, Concat({{3, 0}, Bytes(content.begin() + 503, content.end())})),
                   Reply(0));
    size_t length = content.size();
    ASSERT_EQ(tavro_write(vol, node, cookie, 0, content.data(), &length), B_OK);
    EXPECT_EQ(length, 1000u);
    EXPECT_EQ(node->size, 1000u);
    auto notices = fake_kernel::Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].op, B_STAT_CHANGED);
    EXPECT_EQ(notices[0].c, node->vnid);
    // A write inside the file leaves its size alone.
    device->Expect(Seek(10), SeekReply(10));
    device->Expect(Packet(FWRITE, {3, 0, 'x'}), Reply(0));
    length = 1;
    ASSERT_EQ(tavro_write(vol, node, cookie, 10, "x", &length), B_OK);
    EXPECT_EQ(node->size, 1000u);
    Close(node, cookie);
}

TEST_F(File, WriteFaults) {
    filecookie* cookie;
    vnode* node = OpenFile(B_O_WRONLY, 0x0300, &cookie);
    Bytes content = Data(600, 2);
    device->Expect(Packet(FWRITE, Concat({{3, 0}, Bytes(content.begin(), content.begin() + 503)})),
                   Reply(-44));
    size_t length = content.size();
    EXPECT_EQ(tavro_write(vol, node, cookie, 0, content.data(), &length), B_READ_ONLY_DEVICE);
    EXPECT_EQ(length, 0u);
    // After any failed write the next one seeks first.
    device->Expect(Seek(0), SeekReply(0));
    device->Expect(Packet(FWRITE, Concat({{3, 0}, Bytes(content.begin(), content.begin() + 503)})),
                   Reply(-37));
    length = content.size();
    EXPECT_EQ(tavro_write(vol, node, cookie, 0, content.data(), &length), B_DEVICE_FULL);
    device->Expect(Seek(0), SeekReply(0));
    device->Expect(Packet(FWRITE, Concat({{3, 0}, Bytes(content.begin(), content.begin() + 503)})),
                   Reply(0));
    device->Expect(Packet(FWRITE, Concat({{3, 0}, Bytes(content.begin() + 503, content.end())})),
                   Reply(-37));
    length = content.size();
    EXPECT_EQ(tavro_write(vol, node, cookie, 0, content.data(), &length), B_OK);
    EXPECT_EQ(length, 503u);
    device->Expect(Seek(503), SeekReply(503));
    device->Expect(Packet(FWRITE, {3, 0, 'q'}), Reply(-9));
    length = 1;
    EXPECT_EQ(tavro_write(vol, node, cookie, 503, "q", &length), B_FILE_ERROR);
    Close(node, cookie);
}

TEST_F(File, OpenModesAndTheirEffects) {
    filecookie* cookie;
    vnode* node = OpenFile(B_O_WRONLY | B_O_APPEND, 0x0303, &cookie);
    EXPECT_EQ(node->size, 1200u);
    Close(node, cookie);
    // An open of an existing node with O_CREAT but not O_TRUNC must not empty it.
    node = OpenFile(B_O_WRONLY | B_O_CREAT, 0x0300, &cookie, 1200, true);
    EXPECT_EQ(node->size, 1200u);
    Close(node, cookie);
    void* out = nullptr;
    node = Walk(root, "F");
    EXPECT_EQ(fs_open(vol, node, B_O_WRONLY | B_O_CREAT | B_O_EXCL, &out), B_FILE_EXISTS);
    device->Expect(Packet(FOPEN, Concat({{0x00, 0x02}, PathBytes("M:\\F")})), Reply(-33));
    EXPECT_EQ(fs_open(vol, node, B_O_RDONLY, &out), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(out, nullptr);
    Put(node);
}

TEST_F(File, CreateOpensTheNewNameAndPublishesItsNode) {
    device->Expect(Packet(FINFO, PathBytes("M:\\NEW.TXT")), Reply(-33));
    device->Expect(Packet(FOPEN, Concat({{0x01, 0x03}, PathBytes("M:\\NEW.TXT")})),
                   Reply(0, {0, 0}));
    ExpectFinfo("M:\\NEW.TXT", Entry(0x0001, 0, 55));
    vnode_id id = 0;
    void* out = nullptr;
    ASSERT_EQ(
        tavro_create(vol, root, "NEW.TXT", B_O_WRONLY | B_O_CREAT | B_O_TRUNC, 0644, &id, &out),
        B_OK);
    filecookie* cookie = static_cast<filecookie*>(out);
    ASSERT_NE(cookie, nullptr);
    EXPECT_EQ(cookie->handle, 0);  // handle 0 is a handle like any other
    EXPECT_EQ(fake_kernel::Refs(id), 1);
    vnode* node = node_of(id);
    EXPECT_STREQ(node->name, "NEW.TXT");
    auto notices = fake_kernel::Notices();
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back().op, B_ENTRY_CREATED);
    EXPECT_EQ(notices.back().a, rootId);
    EXPECT_EQ(notices.back().c, id);
    EXPECT_EQ(notices.back().name, "NEW.TXT");
    device->Expect(Packet(FCLOSE, {0, 0}), Reply(0));
    EXPECT_EQ(tavro_free_cookie(vol, node, cookie), B_OK);
    EXPECT_EQ(put_vnode(kTestNsid, id), B_OK);
    EXPECT_TRUE(device->WaitUntilDone());
}

TEST_F(File, CreateOfAnExistingName) {
    ExpectFinfo("M:\\OLD", Entry(0x0001, 300, 0));
    vnode_id id;
    void* out = nullptr;
    // Exclusive: refused, and the file is not touched (no FOPEN goes out).
    EXPECT_EQ(tavro_create(vol, root, "OLD", B_O_RDWR | B_O_CREAT | B_O_EXCL, 0, &id, &out),
              B_FILE_EXISTS);
    EXPECT_EQ(out, nullptr);
    // Without O_TRUNC the file is opened as it is; with O_TRUNC it is emptied.
    device->Expect(Packet(FOPEN, Concat({{0x00, 0x03}, PathBytes("M:\\OLD")})), Reply(0, {6, 0}));
    ASSERT_EQ(tavro_create(vol, root, "OLD", B_O_RDWR | B_O_CREAT, 0, &id, &out), B_OK);
    EXPECT_EQ(node_of(id)->size, 300u);
    device->Expect(Packet(FCLOSE, {6, 0}), Reply(0));
    EXPECT_EQ(tavro_free_cookie(vol, node_of(id), out), B_OK);
    EXPECT_EQ(put_vnode(kTestNsid, id), B_OK);
    device->Expect(Packet(FOPEN, Concat({{0x02, 0x03}, PathBytes("M:\\OLD")})), Reply(0, {6, 0}));
    ASSERT_EQ(tavro_create(vol, root, "old", B_O_RDWR | B_O_CREAT | B_O_TRUNC, 0, &id, &out), B_OK);
    EXPECT_EQ(node_of(id)->size, 0u);
    device->Expect(Packet(FCLOSE, {6, 0}), Reply(0));
    EXPECT_EQ(tavro_free_cookie(vol, node_of(id), out), B_OK);
    EXPECT_EQ(put_vnode(kTestNsid, id), B_OK);
    // A directory cannot be created over, and bad names never reach the device.
    EXPECT_EQ(tavro_create(vol, root, "A\\B", B_O_RDWR | B_O_CREAT, 0, &id, &out), B_BAD_VALUE);
    EXPECT_EQ(tavro_create(vol, root, "*", B_O_RDWR | B_O_CREAT, 0, &id, &out), B_BAD_VALUE);
}

TEST_F(File, ACreateThatFindsTheNameTakenNeverEmptiesIt) {
    // The name appeared between the lookup and the open: the device's create mode refuses.
    device->Expect(Packet(FINFO, PathBytes("M:\\LATE")), Reply(-33));
    device->Expect(Packet(FOPEN, Concat({{0x01, 0x03}, PathBytes("M:\\LATE")})), Reply(-32));
    vnode_id id;
    void* out = nullptr;
    EXPECT_EQ(tavro_create(vol, root, "LATE", B_O_RDWR | B_O_CREAT | B_O_EXCL, 0, &id, &out),
              B_FILE_EXISTS);
    // Without O_EXCL the file is opened as it is.
    device->Expect(Packet(FINFO, PathBytes("M:\\LATE")), Reply(-33));
    device->Expect(Packet(FOPEN, Concat({{0x01, 0x03}, PathBytes("M:\\LATE")})), Reply(-32));
    ExpectFinfo("M:\\LATE", Entry(0x0001, 300, 0));
    device->Expect(Packet(FOPEN, Concat({{0x00, 0x03}, PathBytes("M:\\LATE")})), Reply(0, {6, 0}));
    ASSERT_EQ(tavro_create(vol, root, "LATE", B_O_RDWR | B_O_CREAT, 0, &id, &out), B_OK);
    EXPECT_EQ(node_of(id)->size, 300u);
    device->Expect(Packet(FCLOSE, {6, 0}), Reply(0));
    EXPECT_EQ(tavro_free_cookie(vol, node_of(id), out), B_OK);
    EXPECT_EQ(put_vnode(kTestNsid, id), B_OK);
    EXPECT_TRUE(device->WaitUntilDone());
}

TEST_F(File, CreateFailures) {
    device->Expect(Packet(FINFO, PathBytes("M:\\X")), Reply(-33));
    device->Expect(Packet(FOPEN, Concat({{0x01, 0x03}, PathBytes("M:\\X")})), Reply(-37));
    vnode_id id;
    void* out = nullptr;
    EXPECT_EQ(tavro_create(vol, root, "X", B_O_WRONLY | B_O_CREAT, 0, &id, &out), B_DEVICE_FULL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(tavro_create(vol, root, std::string(125, 'n').c_str(), B_O_WRONLY | B_O_CREAT, 0, &id,
                           &out),
              B_NAME_TOO_LONG);
    // The opened handle is closed again when the new entry cannot be found.
    device->Expect(Packet(FINFO, PathBytes("M:\\Y")), Reply(-33));
    device->Expect(Packet(FOPEN, Concat({{0x01, 0x03}, PathBytes("M:\\Y")})), Reply(0, {8, 0}));
    device->Expect(Packet(FINFO, PathBytes("M:\\Y")), Reply(-33));
    device->Expect(Packet(FCLOSE, {8, 0}), Reply(0));
    EXPECT_EQ(tavro_create(vol, root, "Y", B_O_WRONLY | B_O_CREAT, 0, &id, &out), B_BAD_VALUE);
    EXPECT_TRUE(device->WaitUntilDone());
    device->CutLink();
    vol->connected = 0;
    EXPECT_EQ(tavro_create(vol, root, "Z", B_O_WRONLY | B_O_CREAT, 0, &id, &out),
              B_ENTRY_NOT_FOUND);
}

TEST_F(File, ClosingSendsNothingAndFreeingSendsFclose) {
    filecookie* cookie;
    vnode* node = OpenFile(B_O_RDONLY, 0x0200, &cookie);
    size_t before = device->RequestCount();
    EXPECT_EQ(tavro_close(vol, node, cookie), B_OK);
    EXPECT_EQ(device->RequestCount(), before);
    device->Expect(Packet(FCLOSE, {3, 0}), Reply(0));
    EXPECT_EQ(tavro_free_cookie(vol, node, cookie), B_OK);
    EXPECT_EQ(device->RequestCount(), before + 1);
    Put(node);
}

// A device file with a position, for the concurrency test.
struct DeviceFile {
    Bytes content;
    uint32 position = 0;
    std::optional<Bytes> Answer(const Bytes& request) {
        if (request[0] == FSEEK) {
            position = BytesToUlong(&request[6]);
            Bytes data(4);
            LongToBytes(position, data.data());
            return Reply(0, data);
        }
        if (request[0] == FREAD) {
            uint32 count = BytesToUword(&request[6]);
            uint32 end = std::min<uint32>(position + count, content.size());
            if (position >= end) return Reply(-36);
            Bytes data(content.begin() + position, content.begin() + end);
            position = end;
            return Reply(0, data);
        }
        return Reply(-1);
    }
};

TEST_F(File, EachReadIsAtomicWithItsSeek) {
    filecookie* cookie;
    vnode* node = OpenFile(B_O_RDONLY, 0x0200, &cookie, 8192);
    DeviceFile file;
    file.content = Data(8192, 0);
    for (size_t i = 0; i < file.content.size(); i++)
        file.content[i] = static_cast<uint8>(i / 512 + i);
    device->SetResponder([&](const Bytes& request) { return file.Answer(request); });
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; i++) {
                off_t pos = (t * 2000 + i * 97) % 7000;
                uint8 buffer[700];
                size_t length = sizeof buffer;
                if (tavro_read(vol, node, cookie, pos, buffer, &length) != B_OK ||
                    length != sizeof buffer ||
                    memcmp(buffer, file.content.data() + pos, length) != 0)
                    wrong++;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    device->SetResponder([](const Bytes&) -> std::optional<Bytes> { return Reply(0); });
    EXPECT_EQ(tavro_free_cookie(vol, node, cookie), B_OK);
    Put(node);
}

}  // namespace
