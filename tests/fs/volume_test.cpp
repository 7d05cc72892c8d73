// Mount, volume information, lookup, stat, wstat and the debug outputs.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "WireFixture.h"
#include "debug.h"
#include "platform/ByteOrder.h"

namespace {

using Volume = WireTest;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string TempPath(const char* name) {
    return std::string(::testing::TempDir()) + name + std::to_string(getpid());
}

TEST_F(Volume, MountTakesTheBlockAndMakesTheRootWithoutARequest) {
    EXPECT_EQ(vol->nsid, kTestNsid);
    EXPECT_EQ(vol->writePort, device->RequestPort());
    EXPECT_EQ(vol->readPort, device->ReplyPort());
    EXPECT_EQ(vol->channel, ScriptedDevice::kChannel);
    EXPECT_EQ(vol->sem, device->Semaphore());
    EXPECT_STREQ(vol->device, "M:");
    EXPECT_EQ(vol->root, root);
    EXPECT_STREQ(root->name, "\\");
    EXPECT_EQ(root->parent, 0);
    EXPECT_EQ(root->mode, 0x41FFu);
    EXPECT_EQ(fake_kernel::Refs(rootId), 1);  // published with new_vnode
    EXPECT_EQ(device->RequestCount(), 0u);
}

TEST_F(Volume, MountRefusesBadPortsAndShortBlocks) {
    auto block = device->MountBlock("M:");
    void* ns;
    vnode_id id;
    LongToBytes(static_cast<uint32>(-1), &block[8]);
    EXPECT_EQ(fs_mount(7, nullptr, 0, block.data(), block.size(), &ns, &id), B_BAD_VALUE);
    block = device->MountBlock("M:");
    LongToBytes(static_cast<uint32>(-5), &block[4]);
    EXPECT_EQ(fs_mount(7, nullptr, 0, block.data(), block.size(), &ns, &id), B_BAD_VALUE);
    block = device->MountBlock("M:");
    EXPECT_EQ(fs_mount(7, nullptr, 0, block.data(), 407, &ns, &id), B_BAD_VALUE);
    EXPECT_EQ(fs_mount(7, nullptr, 0, nullptr, 408, &ns, &id), B_BAD_VALUE);
}

Bytes DeviceInfoReply(uint8 media, uint32 total, uint32 free, const char* name) {
    Bytes data(14, 0);  // reply offsets 6..19
    data[2] = media;
    data[3] = 0x80;  // the high byte is not part of the media type
    LongToBytes(total, &data[6]);
    LongToBytes(free, &data[10]);
    data.insert(data.end(), name, name + strlen(name) + 1);
    return Reply(0, data);
}

TEST_F(Volume, VolumeInformationIsAskedEachTimeAndTheLastAnswerKept) {
    device->Expect(Packet(FDEVICEINFO, PathBytes("M:")), DeviceInfoReply(4, 65536, 1000, "WORK"));
    fs_info info;
    ASSERT_EQ(fs_rfsstat(vol, &info), B_OK);
    EXPECT_EQ(info.dev, kTestNsid);
    EXPECT_EQ(info.root, rootId);
    EXPECT_EQ(info.flags, 0x30006u);
    EXPECT_EQ(info.block_size, 1);
    EXPECT_EQ(info.io_size, 511);
    EXPECT_EQ(info.total_blocks, 65536);
    EXPECT_EQ(info.free_blocks, 1000);
    EXPECT_STREQ(info.device_name, "M:");
    EXPECT_STREQ(info.volume_name, "WORK");
    EXPECT_STREQ(info.fsh_name, "tavro3");
    // Free space follows what happened since.
    device->Expect(Packet(FDEVICEINFO, PathBytes("M:")), DeviceInfoReply(4, 65536, 400, "WORK"));
    fs_info again;
    ASSERT_EQ(fs_rfsstat(vol, &again), B_OK);
    EXPECT_EQ(device->RequestCount(), 2u);
    EXPECT_EQ(again.free_blocks, 400);
    EXPECT_STREQ(again.volume_name, "WORK");
    // The last answer outlives the link.
    device->CutLink();
    EXPECT_EQ(fs_rfsstat(vol, &again), B_OK);
    EXPECT_EQ(again.free_blocks, 400);
}

TEST_F(Volume, MediaFiveAndSixAreReadOnly) {
    for (uint8 media : {4, 5, 6, 7}) {
        Unmount();
        Mount(false);
        device->Expect(Packet(FDEVICEINFO, PathBytes("M:")), DeviceInfoReply(media, 1, 1, "X"));
        fs_info info;
        ASSERT_EQ(fs_rfsstat(vol, &info), B_OK);
        EXPECT_EQ((info.flags & B_FS_IS_READONLY) != 0, media == 5 || media == 6) << int(media);
    }
}

TEST_F(Volume, VolumeInformationFailsOnAShortOrMissingReply) {
    device->Expect(Packet(FDEVICEINFO, PathBytes("M:")), Bytes(19, 0));
    fs_info info;
    EXPECT_EQ(fs_rfsstat(vol, &info), B_IO_ERROR);
    device->CutLink();
    EXPECT_EQ(fs_rfsstat(vol, &info), B_IO_ERROR);
}

TEST_F(Volume, LookupAsksOnceThenFindsTheNameInAnyCase) {
    ExpectFinfo("M:\\Letter.WRD", Entry(0x0001, 70000, 1234567));
    vnode* node = Walk(root, "Letter.WRD");
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->name, "Letter.WRD");
    EXPECT_EQ(node->mode, 0x81B6u);
    EXPECT_EQ(node->parent, rootId);
    vnode* again = Walk(root, "LETTER.wrd");
    EXPECT_EQ(again, node);
    EXPECT_EQ(device->RequestCount(), 1u);
    Put(node);
    Put(again);

    be_stat st;
    ASSERT_EQ(tavro_rstat(vol, node, &st), B_OK);
    EXPECT_EQ(st.st_size, 70000);
    EXPECT_EQ(st.st_blksize, 511);
    EXPECT_EQ(st.st_nlink, 1);
    EXPECT_EQ(st.st_ino, node->vnid);
    EXPECT_EQ(st.st_dev, kTestNsid);
    EXPECT_EQ(st.st_mtime, 1234567);
    EXPECT_EQ(st.st_atime, 1234567);
    EXPECT_EQ(st.st_ctime, 1234567);
    EXPECT_EQ(st.st_crtime, 1234567);
}

TEST_F(Volume, ModesComeFromTheAttributeWord) {
    vnode node{};
    setup_vnode(&node, Entry(0x0201, 0, 0).data());
    EXPECT_EQ(node.mode, 0x81FFu);
    setup_vnode(&node, Entry(0x0011, 0, 0).data());
    EXPECT_EQ(node.mode, 0x40DBu);
    setup_vnode(&node, Entry(0x0000, 0, 0).data());
    EXPECT_EQ(node.mode, 0x8124u);
}

TEST_F(Volume, DotAndDotDot) {
    ExpectFinfo("M:\\DIR", Entry(0x0010, 0, 0));
    vnode* dir = Walk(root, "DIR");
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(Walk(dir, "."), dir);
    EXPECT_EQ(Walk(dir, ".."), root);
    Walk(root, "..", B_ENTRY_NOT_FOUND);
    vnode_id id = 0;
    EXPECT_EQ(search_vnode(vol, &id, rootId, "..", nullptr), nullptr);
    EXPECT_EQ(id, kTestNsid);
    Put(dir);
    Put(dir);
    Put(root);
}

TEST_F(Volume, NamesTheDeviceRefusesOrThatDoNotFitAreNeverSent) {
    Walk(root, "A\\B", B_ENTRY_NOT_FOUND);
    Walk(root, "*.*", B_ENTRY_NOT_FOUND);
    Walk(root, "A?", B_ENTRY_NOT_FOUND);
    // "M:\" is 3 characters; with the NUL, 124 more fit in 128 bytes.
    Walk(root, std::string(125, 'x').c_str(), B_NAME_TOO_LONG);
    EXPECT_EQ(device->RequestCount(), 0u);
    ExpectFinfo("M:\\" + std::string(124, 'y'), Entry(0, 0, 0));
    Put(Walk(root, std::string(124, 'y').c_str()));
}

TEST_F(Volume, AMissingOrShortFinfoAnswerMeansNoNode) {
    device->Expect(Packet(FINFO, PathBytes("M:\\GONE")), Reply(-33));
    Walk(root, "GONE", B_ENTRY_NOT_FOUND);
    // 12 bytes of entry hold the fields a node needs; 11 do not. A reply cut on the way (its
    // length word claims more than came) says nothing sure: it is not "no such entry".
    Bytes full = Reply(0, Entry(0, 1, 1));
    device->Expect(Packet(FINFO, PathBytes("M:\\SHORT")),
                   Reply(0, Bytes(full.begin() + 6, full.begin() + 18)));
    device->Expect(Packet(FINFO, PathBytes("M:\\CUT")),
                   Reply(0, Bytes(full.begin() + 6, full.begin() + 17)));
    device->Expect(Packet(FINFO, PathBytes("M:\\TORN")), Bytes(full.begin(), full.begin() + 18));
    Put(Walk(root, "SHORT"));
    Walk(root, "CUT", B_IO_ERROR);
    Walk(root, "TORN", B_IO_ERROR);
}

TEST_F(Volume, ALinkThatIsGoneRefusesWalksAndUncachedNames) {
    ExpectFinfo("M:\\A", Entry(0, 1, 1));
    Put(Walk(root, "A"));
    device->CutLink();
    Walk(root, "B", B_IO_ERROR);  // the request meets the deleted port
    EXPECT_EQ(vol->connected.load(), 0);
    Walk(root, "A", B_NOT_ALLOWED);
    Walk(root, "C", B_IO_ERROR);
}

TEST_F(Volume, ConcurrentLookupsOfOneNameMakeOneNode) {
    // The device answers slowly, so both lookups are in flight at once.
    device->SetResponder([](const Bytes&) -> std::optional<Bytes> {
        snooze(20000);
        return Reply(0, Entry(0, 9, 9));
    });
    vnode_id first = 0, second = 0;
    std::thread a([&] { search_vnode(vol, &first, rootId, "SAME", nullptr); });
    std::thread b([&] { search_vnode(vol, &second, rootId, "same", nullptr); });
    a.join();
    b.join();
    EXPECT_EQ(first, second);
    int children = 0;
    for (vnode* at = root->children; at != nullptr; at = at->next) children++;
    EXPECT_EQ(children, 1);
}

TEST_F(Volume, StatComesFromTheRecordAndWstatSendsOnlyTheTime) {
    ExpectFinfo("M:\\F.TXT", Entry(0x0001, 10, 100));
    vnode* node = Walk(root, "F.TXT");
    be_stat st{};
    st.st_mode = 0777;
    // A mode change sends nothing; whether the medium may be changed is asked once.
    device->Expect(Packet(FDEVICEINFO, PathBytes("M:")), DeviceInfoReply(4, 1, 1, "X"));
    EXPECT_EQ(tavro_wstat(vol, node, &st, WSTAT_MODE), B_OK);
    EXPECT_EQ(tavro_wstat(vol, node, &st, WSTAT_MODE), B_OK);
    EXPECT_EQ(tavro_wstat(vol, node, &st, WSTAT_UID | WSTAT_GID | WSTAT_ATIME), B_OK);
    EXPECT_EQ(device->RequestCount(), 2u);

    st.st_mtime = 0x12345678;
    device->Expect(
        Concat({Packet(SFDATE, Concat({{0x78, 0x56, 0x34, 0x12}, PathBytes("M:\\F.TXT")}))}),
        Reply(0));
    EXPECT_EQ(tavro_wstat(vol, node, &st, WSTAT_MTIME), B_OK);
    be_stat now;
    ASSERT_EQ(tavro_rstat(vol, node, &now), B_OK);
    EXPECT_EQ(now.st_mtime, 0x12345678);

    // A write-protected medium refuses; the node keeps the new time all the same.
    st.st_mtime = 5;
    device->Expect(Packet(SFDATE, Concat({{5, 0, 0, 0}, PathBytes("M:\\F.TXT")})), Reply(-65));
    EXPECT_EQ(tavro_wstat(vol, node, &st, WSTAT_MTIME), B_READ_ONLY_DEVICE);
    ASSERT_EQ(tavro_rstat(vol, node, &now), B_OK);
    EXPECT_EQ(now.st_mtime, 5);
    Put(node);
}

TEST_F(Volume, SizeChangesAreMadeOrRefusedNeverFaked) {
    ExpectFinfo("M:\\F", Entry(0x0001, 10, 100));
    vnode* node = Walk(root, "F");
    be_stat st{};
    st.st_size = 10;
    EXPECT_EQ(tavro_wstat(vol, node, &st, WSTAT_SIZE), B_OK);  // unchanged: nothing to do
    st.st_size = 4;
    EXPECT_EQ(tavro_wstat(vol, node, &st, WSTAT_SIZE), B_UNSUPPORTED);
    // Emptying a file is the device's replace-mode open.
    device->Expect(Packet(FOPEN, Concat({{0x02, 0x03}, PathBytes("M:\\F")})), Reply(0, {3, 0}));
    device->Expect(Packet(FCLOSE, {3, 0}), Reply(0));
    st.st_size = 0;
    EXPECT_EQ(tavro_wstat(vol, node, &st, WSTAT_SIZE), B_OK);
    EXPECT_EQ(node->size, 0u);
    Put(node);
}

TEST_F(Volume, ReleasedDirectoriesStayValidForTheNodesBelowThem) {
    Unmount();
    Mount(true);  // the kernel releases every unused node at once
    ExpectFinfo("M:\\D", Entry(0x0010, 0, 0));
    ExpectFinfo("M:\\D\\E", Entry(0x0010, 0, 0));
    ExpectFinfo("M:\\D\\E\\F", Entry(0, 3, 0));
    vnode* d = Walk(root, "D");
    vnode* e = Walk(d, "E");
    vnode* f = Walk(e, "F");
    Put(d);
    Put(e);  // both directories are released while F is held
    EXPECT_EQ(fake_kernel::Refs(d->vnid), -1);
    char path[kPathBufferSize];
    ASSERT_EQ(find_path(vol, f, path), B_OK);
    EXPECT_STREQ(path, "M:\\D\\E\\F");
    // The directories come back from their records, without a request.
    vnode* d2 = Walk(root, "d");
    EXPECT_EQ(d2, d);
    Put(d2);
    Put(f);
    EXPECT_EQ(device->RequestCount(), 3u);
}

TEST_F(Volume, DebugFileGetsHexDumpsButNoFileOperationWritesThere) {
    std::string path = TempPath("tavro3-debug-");
    unlink(path.c_str());
    set_debug_file(path.c_str());
    const uint8 bytes[] = {0x01, 0xAB};
    dbg_print("abc", 2, bytes);
    EXPECT_EQ(ReadFile(path), "abc01 ab ");

    unlink(path.c_str());
    Unmount();
    Mount(false, path.c_str());
    device->Expect(Packet(FCLOSE, {5, 0}), Reply(0));
    filecookie* cookie = new filecookie{};
    cookie->handle = 5;
    EXPECT_EQ(psion_close(vol, cookie), B_OK);
    // The host's packet trace shows every packet; operations add nothing of their own.
    EXPECT_EQ(access(path.c_str(), F_OK), -1);
    unlink(path.c_str());

    // An empty debug file name turns the output off.
    Unmount();
    Mount(false, "");
    device->Expect(Packet(FCLOSE, {5, 0}), Reply(0));
    cookie = new filecookie{};
    cookie->handle = 5;
    EXPECT_EQ(psion_close(vol, cookie), B_OK);
    EXPECT_EQ(access(path.c_str(), F_OK), -1);
}

TEST(DebugWindow, TextGoesToTheWindowPortWhenThereIsOne) {
    debug_print("nobody listens\n");  // no port: silently nothing
    port_id port = create_port(4, "DebugWinRead");
    debug_print("hello");
    char text[16] = {};
    int32 code = -1;
    EXPECT_EQ(read_port_etc(port, &code, text, sizeof text, B_TIMEOUT, 100000), 5);
    EXPECT_EQ(code, 0);
    EXPECT_STREQ(text, "hello");
    delete_port(port);
}

}  // namespace
