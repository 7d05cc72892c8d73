// tavro5 mounted by the kernel against a scripted Series 5: what goes on the wire for each
// kernel call, and what happens when replies are garbled, late or missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <string>

#include "Series5Script.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"
#include "tavro5.h"

namespace {

using namespace s5;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return text;
}

// A tiny handheld behind the script: files in a map, one reply per request.
struct FakeHandheld {
    struct File {
        std::string path;  // as stored
        bool directory = false;
        std::string data;
        uint64 modified = 0x00E0000000000000ull;
    };
    std::map<std::string, File> files;  // by lower-cased path
    std::map<uint32, std::pair<std::string, uint32>> handles;
    uint32 next = 100;
    // Sessions: the channel a request came on, and which session holds each handle. A
    // session holds at most 64 handles, as the simulated Series 5 does.
    uint16 channel = 0;
    std::map<uint32, uint16> holder;
    static constexpr size_t kMaxHandles = 64;
    // Requests of this operation get a garbled reply (the n-th of them, counting from 1).
    uint16 garbleOp = 0;
    int garbleNth = 0;
    int seen = 0;

    void Add(const std::string& path, const std::string& data, bool directory = false) {
        files[Lower(path)] = File{path, directory, data};
    }
    File* Find(const std::string& path) {
        auto found = files.find(Lower(path));
        return found == files.end() ? nullptr : &found->second;
    }
    static std::string Leaf(const std::string& path) { return path.substr(path.rfind('\\') + 1); }
    size_t HeldBy(uint16 session) const {
        size_t count = 0;
        for (const auto& [handle, by] : holder) count += by == session ? 1 : 0;
        return count;
    }
    // A session that ends closes its handles.
    void EndSession(uint16 session) {
        for (auto at = holder.begin(); at != holder.end();) {
            if (at->second == session) {
                handles.erase(at->first);
                listings.erase(at->first);
                at = holder.erase(at);
            } else {
                ++at;
            }
        }
    }

    std::optional<Bytes> Answer(const Bytes& request) {
        uint16 op = OpOf(request), opid = OpidOf(request);
        Bytes f = FieldsOf(request);
        if (op == garbleOp && ++seen == garbleNth) return Bytes{0x2A, 0, 0, 0, 0, 0, 0, 0};
        auto u32 = [&](size_t at) { return f.size() >= at + 4 ? BytesToUlong(f.data() + at) : 0u; };
        switch (op) {
            case 0x14: {
                Bytes d;
                for (uint32 v : {7u, 0u, 0u, 0u, 1u, 1048576u, 0u, 524288u, 0u, 8u})
                    AppendLong(d, v);
                std::string label = "Internal";
                d.insert(d.end(), label.begin(), label.end());
                return Reply(opid, 0, d);
            }
            case 0x1C: {
                File* file = Find(StringAt(f, 0));
                if (file == nullptr) return Reply(opid, -1);
                return EntriesReply(opid,
                                    {{Leaf(file->path), file->directory ? 0x10u : 0x20u,
                                      static_cast<uint32>(file->data.size()), file->modified, ""}});
            }
            case 0x10: {
                std::string dir = Lower(StringAt(f, 4));
                dir = dir.substr(0, dir.rfind('\\') + 1);
                std::vector<EntrySpec> entries;
                for (auto& [key, file] : files)
                    if (key.compare(0, dir.size(), dir) == 0 &&
                        key.find('\\', dir.size()) == std::string::npos)
                        entries.push_back({Leaf(file.path), file.directory ? 0x10u : 0x20u,
                                           static_cast<uint32>(file.data.size()), file.modified,
                                           ""});
                if (HeldBy(channel) >= kMaxHandles) return Reply(opid, -14);
                uint32 handle = next++;
                holder[handle] = channel;
                listings[handle] = entries;
                Bytes d;
                AppendLong(d, handle);
                return Reply(opid, 0, d);
            }
            case 0x12: {
                auto& entries = listings[u32(0)];
                if (entries.empty()) return Reply(opid, -25);
                Bytes reply = EntriesReply(opid, entries);
                entries.clear();
                return reply;
            }
            case 0x16:
            case 0x29: {
                std::string path = StringAt(f, 4);
                File* file = Find(path);
                if (op == 0x16 && file == nullptr) return Reply(opid, -1);
                if (op == 0x29 && file != nullptr) return Reply(opid, -11);
                if (HeldBy(channel) >= kMaxHandles) return Reply(opid, -14);
                if (file == nullptr) Add(path, "");
                uint32 handle = next++;
                holder[handle] = channel;
                handles[handle] = {path, 0};
                Bytes d;
                AppendLong(d, handle);
                return Reply(opid, 0, d);
            }
            case 0x18: {
                auto& [path, pos] = handles[u32(0)];
                std::string& data = Find(path)->data;
                std::string part = pos < data.size() ? data.substr(pos, u32(4)) : "";
                pos += static_cast<uint32>(part.size());
                return Reply(opid, 0, Bytes(part.begin(), part.end()));
            }
            case 0x19: {
                auto& [path, pos] = handles[u32(0)];
                std::string& data = Find(path)->data;
                std::string bytes(f.begin() + 4, f.end());
                if (data.size() < pos + bytes.size()) data.resize(pos + bytes.size());
                data.replace(pos, bytes.size(), bytes);
                pos += static_cast<uint32>(bytes.size());
                return Reply(opid, 0);
            }
            case 0x1A: {
                auto& [path, pos] = handles[u32(4)];
                pos = u32(8) == 3   ? static_cast<uint32>(Find(path)->data.size()) + u32(0)
                      : u32(8) == 2 ? pos + u32(0)
                                    : u32(0);
                Bytes d;
                AppendLong(d, pos);
                return Reply(opid, 0, d);
            }
            case 0x1E:
                Find(handles[u32(0)].first)->data.resize(u32(4));
                return Reply(opid, 0);
            case 0x01:
                if (holder.erase(u32(0)) == 0) return Reply(opid, -8);
                handles.erase(u32(0));
                listings.erase(u32(0));
                return Reply(opid, 0);
            case 0x1B: {
                if (Find(StringAt(f, 0)) == nullptr) return Reply(opid, -1);
                for (const auto& [handle, open] : handles)
                    if (Lower(open.first) == Lower(StringAt(f, 0))) return Reply(opid, -14);
                files.erase(Lower(StringAt(f, 0)));
                return Reply(opid, 0);
            }
            case 0x24: {
                File* file = Find(StringAt(f, 8));
                if (file == nullptr) return Reply(opid, -1);
                file->modified = (static_cast<uint64>(u32(4)) << 32) | u32(0);
                return Reply(opid, 0);
            }
            default:
                return Reply(opid, -5);
        }
    }
    std::map<uint32, std::vector<EntrySpec>> listings;
};

class Scripted : public ::testing::Test {
protected:
    void SetUp() override {
        kernel_set_addon_path(TAVRO_FS_ADDON_DIR);
        script.SetHandler([this](const Bytes& request) { return Answer(request); });
        script.SetEndHandler([this](uint16 channel) { device.EndSession(channel); });
        device.Add("C:\\ReadMe.txt", std::string(5000, 'r'));
        device.Add("C:\\Docs", "", true);
    }
    void TearDown() override {
        if (mounted) {
            EXPECT_EQ(unmount(where), B_OK);
        }
    }
    void Mount(const char* drive = "C:") {
        auto block = script.MountBlock(drive);
        ASSERT_EQ(mount("tavro5", where, nullptr, 0, block.data(), block.size()), B_OK);
        mounted = true;
        script.ClearRequests();
    }
    // The device's answer, on the session the request came on.
    std::optional<Bytes> Answer(const Bytes& request) {
        device.channel = script.CurrentChannel();
        return device.Answer(request);
    }
    void SetTimeout(bigtime_t timeout) {
        nspace_id nsid;
        ASSERT_EQ(kernel_volume_at(where, &nsid, nullptr), B_OK);
        static_cast<tavro5::volume*>(kernel_volume_cookie(nsid))->timeout = timeout;
    }
    std::vector<uint16> Ops() {
        std::vector<uint16> ops;
        for (const Bytes& request : script.Requests()) ops.push_back(OpOf(request));
        return ops;
    }

    FakeHandheld device;
    Series5Script script;
    const char* where = "/t5";
    bool mounted = false;
};

TEST_F(Scripted, MountAsksTheVolumeOfItsDriveAndReportsIt) {
    auto block = script.MountBlock("D:");
    ASSERT_EQ(mount("tavro5", where, nullptr, 0, block.data(), block.size()), B_OK);
    mounted = true;
    ASSERT_FALSE(script.Requests().empty());
    Bytes first = script.Requests().front();
    EXPECT_EQ(FieldsOf(first), (Bytes{3, 0, 0, 0}));  // D: is drive 3
    EXPECT_EQ(OpOf(first), 0x14);
    fs_info info;
    ASSERT_EQ(sys_rfsstat(where, &info), B_OK);
    EXPECT_STREQ(info.volume_name, "Internal");
    EXPECT_STREQ(info.device_name, "D:");
    EXPECT_STREQ(info.fsh_name, "tavro5");
    EXPECT_EQ(info.total_blocks * info.block_size, 1048576);
    EXPECT_EQ(info.free_blocks * info.block_size, 524288);
    EXPECT_EQ(info.flags & B_FS_IS_READONLY, 0u);
}

TEST_F(Scripted, AMountWithoutADriveOrAnAnswerFails) {
    auto block = script.MountBlock("7:");
    EXPECT_EQ(mount("tavro5", where, nullptr, 0, block.data(), block.size()), B_BAD_VALUE);
    script.SetHandler([](const Bytes& request) { return Reply(OpidOf(request), -18); });
    block = script.MountBlock("C:");
    EXPECT_NE(mount("tavro5", where, nullptr, 0, block.data(), block.size()), B_OK);
}

TEST_F(Scripted, LookupsIgnoreCaseAndAskOnce) {
    Mount();
    be_stat st;
    ASSERT_EQ(sys_stat("/t5/readme.TXT", &st), B_OK);
    EXPECT_EQ(st.st_size, 5000);
    EXPECT_EQ(st.st_mode, B_S_IFREG | 0666u);
    ASSERT_EQ(script.Requests(0x1C).size(), 1u);
    EXPECT_EQ(StringAt(FieldsOf(script.Requests(0x1C)[0]), 0), "C:\\readme.TXT");
    ASSERT_EQ(sys_stat("/t5/README.txt", &st), B_OK);
    EXPECT_EQ(script.Requests(0x1C).size(), 1u);  // the cached node answered
    EXPECT_EQ(sys_stat("/t5/missing", &st), B_ENTRY_NOT_FOUND);
}

TEST_F(Scripted, AListingShowsTheNamesAsStored) {
    Mount();
    int fd = sys_opendir("/t5");
    ASSERT_GE(fd, 0);
    std::vector<std::string> names;
    be_dirent entry;
    while (sys_readdir(fd, &entry, sizeof entry) == 1) names.push_back(entry.d_name);
    EXPECT_EQ(sys_closedir(fd), B_OK);
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "Docs", "ReadMe.txt"}));
    ASSERT_EQ(script.Requests(0x10).size(), 1u);
    Bytes open = FieldsOf(script.Requests(0x10)[0]);
    EXPECT_EQ(BytesToUlong(open.data()), 0x10000016u);  // all entries, with their type ids
    EXPECT_EQ(StringAt(open, 4), "C:\\*");
    EXPECT_EQ(script.Requests(0x12).size(), 2u);  // the entries, then the end
    EXPECT_EQ(script.Requests(0x01).size(), 1u);
    // The listing made the nodes: a stat sends nothing.
    be_stat st;
    ASSERT_EQ(sys_stat("/t5/Docs", &st), B_OK);
    EXPECT_EQ(st.st_mode & B_S_IFMT, B_S_IFDIR);
    EXPECT_TRUE(script.Requests(0x1C).empty());
}

// A listing that lost entries must not pass for a complete one.
TEST_F(Scripted, AListingWhoseEntriesCameGarbledOrShortFails) {
    Mount();
    auto list = [](std::vector<std::string>* names) {
        names->clear();
        int fd = sys_opendir("/t5");
        EXPECT_GE(fd, 0);
        be_dirent entry;
        int status;
        while ((status = sys_readdir(fd, &entry, sizeof entry)) == 1)
            names->push_back(entry.d_name);
        EXPECT_EQ(sys_closedir(fd), B_OK);
        return status;
    };
    std::vector<std::string> names;
    device.garbleOp = 0x12;
    device.garbleNth = 1;
    EXPECT_EQ(list(&names), B_IO_ERROR);
    EXPECT_EQ(names, (std::vector<std::string>{".", ".."}));

    // The first entry whole, the second cut off in its middle.
    device.garbleOp = 0;
    script.SetHandler([this](const Bytes& request) -> std::optional<Bytes> {
        std::optional<Bytes> reply = device.Answer(request);
        if (OpOf(request) == 0x12 && reply && reply->size() > 60) reply->resize(reply->size() - 6);
        return reply;
    });
    EXPECT_EQ(list(&names), B_IO_ERROR);
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "Docs"}));
}

TEST_F(Scripted, ReadsInChunksOfTheFamilysLimitAndSeekOnlyWhenNeeded) {
    Mount();
    int fd = sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    std::string buffer(8000, '\0');
    EXPECT_EQ(sys_read(fd, 0, buffer.data(), buffer.size()), 5000);
    std::vector<Bytes> reads = script.Requests(0x18);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(BytesToUlong(FieldsOf(reads[0]).data() + 4), 2048u);
    EXPECT_EQ(BytesToUlong(FieldsOf(reads[2]).data() + 4), 2048u);
    EXPECT_TRUE(script.Requests(0x1A).empty());  // sequential from 0: no seek
    EXPECT_EQ(sys_read(fd, 100, buffer.data(), 10), 10);
    ASSERT_EQ(script.Requests(0x1A).size(), 1u);
    EXPECT_EQ(BytesToUlong(FieldsOf(script.Requests(0x1A)[0]).data()), 100u);
    EXPECT_EQ(sys_read(fd, 110, buffer.data(), 10), 10);
    EXPECT_EQ(script.Requests(0x1A).size(), 1u);
    EXPECT_EQ(sys_close(fd), B_OK);
}

TEST_F(Scripted, AfterAFailedReadThePositionIsNotTrusted) {
    Mount();
    int fd = sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    char buffer[100];
    EXPECT_EQ(sys_read(fd, 0, buffer, 10), 10);
    device.garbleOp = 0x18;
    device.garbleNth = 1;
    device.seen = 0;
    // The handheld moved its position for the read whose reply was garbled.
    EXPECT_LT(sys_read(fd, 10, buffer, 10), 0);
    script.ClearRequests();
    EXPECT_EQ(sys_read(fd, 10, buffer, 10), 10);
    EXPECT_EQ(Ops(), (std::vector<uint16>{0x1A, 0x18}));  // a seek first
    EXPECT_EQ(sys_close(fd), B_OK);
}

// A read reply cut down to its header looks like the end of the file: the handheld's position
// tells the two apart.
TEST_F(Scripted, AReadReplyCutToItsHeaderIsAnErrorNotTheEndOfTheFile) {
    Mount();
    int fd = sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    std::atomic<bool> cut{true};
    script.SetHandler([this, &cut](const Bytes& request) -> std::optional<Bytes> {
        std::optional<Bytes> reply = Answer(request);
        if (OpOf(request) == 0x18 && cut.exchange(false)) reply->resize(8);
        return reply;
    });
    char buffer[100];
    EXPECT_EQ(sys_read(fd, 0, buffer, sizeof buffer), B_IO_ERROR);
    EXPECT_EQ(sys_read(fd, 0, buffer, sizeof buffer), 100);
    // The true end: nothing came, and the handheld did not move.
    script.ClearRequests();
    EXPECT_EQ(sys_read(fd, 5000, buffer, sizeof buffer), 0);
    EXPECT_EQ(Ops(), (std::vector<uint16>{0x1A, 0x18, 0x1A}));
    EXPECT_EQ(BytesToUlong(FieldsOf(script.Requests(0x1A).back()).data() + 8), 2u);  // current
    EXPECT_EQ(sys_close(fd), B_OK);
}

TEST_F(Scripted, WritesInChunksAndAppendsAtTheHandheldsEnd) {
    Mount();
    int fd = sys_open("/t5/ReadMe.txt", B_O_WRONLY, 0);
    ASSERT_GE(fd, 0);
    std::string data(5000, 'w');
    EXPECT_EQ(sys_write(fd, 0, data.data(), data.size()), 5000);
    std::vector<Bytes> writes = script.Requests(0x19);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].size(), 8u + 2048);
    EXPECT_EQ(writes[2].size(), 8u + 904);
    EXPECT_EQ(sys_close(fd), B_OK);
    EXPECT_EQ(device.Find("C:\\ReadMe.txt")->data, data);

    fd = sys_open("/t5/ReadMe.txt", B_O_WRONLY | B_O_APPEND, 0);
    ASSERT_GE(fd, 0);
    script.ClearRequests();
    EXPECT_EQ(sys_write(fd, 0, "tail", 4), 4);
    EXPECT_EQ(Ops(), (std::vector<uint16>{0x1A, 0x19}));
    EXPECT_EQ(BytesToUlong(FieldsOf(script.Requests(0x1A)[0]).data() + 8), 3u);  // from the end
    EXPECT_EQ(sys_close(fd), B_OK);
    EXPECT_EQ(device.Find("C:\\ReadMe.txt")->data, data + "tail");
}

TEST_F(Scripted, CreateNeverEmptiesAFileUnlessAsked) {
    Mount();
    int fd = sys_open("/t5/README.TXT", B_O_WRONLY | B_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sys_close(fd), B_OK);
    EXPECT_TRUE(script.Requests(0x29).empty());
    EXPECT_TRUE(script.Requests(0x2A).empty());
    EXPECT_TRUE(script.Requests(0x1E).empty());
    EXPECT_EQ(device.Find("C:\\ReadMe.txt")->data.size(), 5000u);
    EXPECT_EQ(sys_open("/t5/readme.txt", B_O_WRONLY | B_O_CREAT | B_O_EXCL, 0644), B_FILE_EXISTS);

    fd = sys_open("/t5/readme.txt", B_O_WRONLY | B_O_CREAT | B_O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sys_close(fd), B_OK);
    ASSERT_EQ(script.Requests(0x1E).size(), 1u);
    EXPECT_EQ(BytesToUlong(FieldsOf(script.Requests(0x1E)[0]).data() + 4), 0u);
    EXPECT_EQ(device.Find("C:\\ReadMe.txt")->data, "");

    // A new name is made with the create request, which fails rather than replace.
    script.ClearRequests();
    fd = sys_open("/t5/Docs/New Letter.wrd", B_O_RDWR | B_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sys_close(fd), B_OK);
    ASSERT_EQ(script.Requests(0x29).size(), 1u);
    EXPECT_EQ(StringAt(FieldsOf(script.Requests(0x29)[0]), 4), "C:\\Docs\\New Letter.wrd");
    EXPECT_TRUE(script.Requests(0x2A).empty());
}

TEST_F(Scripted, NamesTheHandheldCannotHoldAreRefusedAndNothingIsSent) {
    Mount();
    EXPECT_EQ(sys_open("/t5/日本.txt", B_O_RDWR | B_O_CREAT, 0644), B_BAD_VALUE);
    EXPECT_EQ(sys_mkdir("/t5/a*b", 0755), B_BAD_VALUE);
    be_stat st;
    EXPECT_EQ(sys_stat("/t5/what?", &st), B_BAD_VALUE);
    std::string deep = "/t5/Docs/" + std::string(250, 'n');  // C:\Docs\ + 250 = 258 bytes
    EXPECT_EQ(sys_open(deep.c_str(), B_O_RDWR | B_O_CREAT, 0644), B_NAME_TOO_LONG);
    EXPECT_EQ(script.Requests(0x29).size() + script.Requests(0x20).size(), 0u);
    // Accents the code page has go out as its bytes.
    int fd = sys_open("/t5/Café.txt", B_O_RDWR | B_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sys_close(fd), B_OK);
    EXPECT_EQ(StringAt(FieldsOf(script.Requests(0x29).at(0)), 4), "C:\\Caf\xE9.txt");
}

TEST_F(Scripted, AGarbledDeleteIsNotReportedAsDoneAndTheNameIsAskedAgain) {
    Mount();
    be_stat st;
    ASSERT_EQ(sys_stat("/t5/ReadMe.txt", &st), B_OK);
    device.garbleOp = 0x1B;
    device.garbleNth = 1;
    EXPECT_EQ(sys_unlink("/t5/ReadMe.txt"), B_IO_ERROR);
    script.ClearRequests();
    ASSERT_EQ(sys_stat("/t5/ReadMe.txt", &st), B_OK);  // it is still there: asked again
    EXPECT_EQ(script.Requests(0x1C).size(), 1u);
    EXPECT_EQ(sys_unlink("/t5/ReadMe.txt"), B_OK);
    EXPECT_EQ(device.Find("C:\\ReadMe.txt"), nullptr);
    EXPECT_EQ(sys_stat("/t5/ReadMe.txt", &st), B_ENTRY_NOT_FOUND);
}

TEST_F(Scripted, ALateReplyToAnEarlierRequestIsDropped) {
    Mount();
    script.SetHandler([this](const Bytes& request) -> std::optional<Bytes> {
        if (OpOf(request) == 0x1C) {
            // A reply that belongs to another request gets there first.
            script.Inject(Reply(static_cast<uint16>(OpidOf(request) - 1), -1));
        }
        return device.Answer(request);
    });
    be_stat st;
    EXPECT_EQ(sys_stat("/t5/ReadMe.txt", &st), B_OK);
    EXPECT_EQ(st.st_size, 5000);
}

TEST_F(Scripted, TruncateAndModifiedTimeHaveTheirOwnRequests) {
    Mount();
    be_stat st{};
    st.st_size = 70000;
    ASSERT_EQ(sys_wstat("/t5/ReadMe.txt", &st, WSTAT_SIZE), B_OK);
    EXPECT_EQ(Ops(), (std::vector<uint16>{0x1C, 0x16, 0x1E, 0x01}));
    EXPECT_EQ(device.Find("C:\\ReadMe.txt")->data.size(), 70000u);

    setenv("TZ", "UTC0", 1);
    tzset();
    st.st_mtim = {1049522828, 0};
    ASSERT_EQ(sys_wstat("/t5/ReadMe.txt", &st, WSTAT_MTIME), B_OK);
    ASSERT_EQ(script.Requests(0x24).size(), 1u);
    Bytes f = FieldsOf(script.Requests(0x24)[0]);
    uint64 sent = (static_cast<uint64>(BytesToUlong(f.data() + 4)) << 32) | BytesToUlong(f.data());
    EXPECT_EQ(sent, (1049522828ull + 62167219200ull) * 1000000);
    EXPECT_EQ(StringAt(f, 8), "C:\\ReadMe.txt");
    ASSERT_EQ(sys_stat("/t5/ReadMe.txt", &st), B_OK);
    EXPECT_EQ(st.st_mtim.tv_sec, 1049522828);
    unsetenv("TZ");
    tzset();
}

// An open whose reply is lost may still have opened the file: the handheld then holds a handle
// nobody knows the number of. Sixty-four of them would fill the session's handle table and
// every open after them would fail; once the volume holds no handle of its own, it ends the
// session (which drops them all) and begins another.
TEST_F(Scripted, AHundredLostOpenRepliesLeaveNoHandleHeldAndOpensWorkAfterwards) {
    Mount();
    be_stat st;
    ASSERT_EQ(sys_stat("/t5/ReadMe.txt", &st), B_OK);
    SetTimeout(30000);
    std::atomic<int> lost{0};
    script.SetHandler([this, &lost](const Bytes& request) -> std::optional<Bytes> {
        std::optional<Bytes> reply = Answer(request);
        if (OpOf(request) == 0x16 && lost < 100) {
            lost++;
            return std::nullopt;  // carried out, the reply lost
        }
        return reply;
    });
    // (A session begun too slowly for the short time-out sends nothing: the loop goes on.)
    for (int i = 0; i < 300 && lost < 100; i++)
        EXPECT_EQ(sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0), B_IO_ERROR);
    EXPECT_EQ(lost.load(), 100);
    SetTimeout(10000000);
    // Nothing waits for a next request: the last session went at once, with its handle.
    for (int i = 0; i < 500 && script.SessionsOpen() != 0; i++) snooze(10000);
    EXPECT_EQ(script.SessionsOpen(), 0u);
    EXPECT_TRUE(device.holder.empty());

    int fd = sys_open("/t5/ReadMe.txt", B_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    std::string buffer(6000, '\0');
    EXPECT_EQ(sys_read(fd, 0, buffer.data(), buffer.size()), 5000);
    EXPECT_EQ(sys_write(fd, 5000, "end", 3), 3);
    EXPECT_EQ(sys_close(fd), B_OK);
    EXPECT_EQ(device.Find("C:\\ReadMe.txt")->data, std::string(5000, 'r') + "end");
    // The whole handle table is free again: 64 files open at once.
    std::vector<int> fds;
    for (int i = 0; i < 64; i++) fds.push_back(sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0));
    for (int opened : fds) EXPECT_GE(opened, 0);
    for (int opened : fds) {
        if (opened >= 0) {
            EXPECT_EQ(sys_close(opened), B_OK);
        }
    }
    EXPECT_EQ(sys_unlink("/t5/ReadMe.txt"), B_OK);
    EXPECT_TRUE(device.handles.empty());
    EXPECT_TRUE(device.holder.empty());
    EXPECT_EQ(script.SessionsOpen(), 1u);  // the ended sessions are gone from the host too
    EXPECT_GE(script.SessionsBegun(), 2);
}

// A session ends only when the volume holds no handle: one still in use is never dropped
// with the unknown ones.
TEST_F(Scripted, AHandleInUseOutlivesLostOpensAndTheSessionEndsAfterItsClose) {
    Mount();
    int fd = sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    SetTimeout(30000);
    std::atomic<bool> lose{true};
    script.SetHandler([this, &lose](const Bytes& request) -> std::optional<Bytes> {
        std::optional<Bytes> reply = Answer(request);
        if (lose && (OpOf(request) == 0x16 || OpOf(request) == 0x10)) return std::nullopt;
        return reply;
    });
    EXPECT_EQ(sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0), B_IO_ERROR);
    EXPECT_LT(sys_opendir("/t5/Docs"), 0);
    lose = false;
    SetTimeout(10000000);
    char buffer[10];
    EXPECT_EQ(sys_read(fd, 4990, buffer, sizeof buffer), 10);  // the handle still works
    EXPECT_EQ(script.SessionsBegun(), 1);
    EXPECT_EQ(device.holder.size(), 3u);
    EXPECT_EQ(sys_unlink("/t5/ReadMe.txt"), B_BUSY);  // held by the lost opens, and ours
    EXPECT_EQ(sys_close(fd), B_OK);
    EXPECT_EQ(sys_unlink("/t5/ReadMe.txt"), B_OK);
    EXPECT_EQ(script.SessionsBegun(), 2);
    EXPECT_TRUE(device.holder.empty());
    EXPECT_EQ(script.SessionsOpen(), 1u);
}

// The debug file named in the mount block gets a line for each request that went unanswered
// and for each session begun and ended, and none of the file's bytes; a mount without one
// writes nothing.
TEST_F(Scripted, TheDebugFileTellsOfLostRepliesAndSessionsButHoldsNoData) {
    char pattern[] = "/tmp/tavro5-debug-XXXXXX";
    int made = mkstemp(pattern);
    ASSERT_GE(made, 0);
    close(made);
    auto block = script.MountBlock("C:", pattern);
    ASSERT_EQ(mount("tavro5", where, nullptr, 0, block.data(), block.size()), B_OK);
    mounted = true;
    int fd = sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    char buffer[64];
    EXPECT_EQ(sys_read(fd, 0, buffer, sizeof buffer), 64);
    EXPECT_EQ(sys_close(fd), B_OK);
    SetTimeout(30000);
    std::atomic<bool> lose{true};
    script.SetHandler([this, &lose](const Bytes& request) -> std::optional<Bytes> {
        std::optional<Bytes> reply = Answer(request);
        if (lose && OpOf(request) == 0x16) return std::nullopt;
        return reply;
    });
    EXPECT_EQ(sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0), B_IO_ERROR);
    lose = false;
    SetTimeout(10000000);
    fd = sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sys_close(fd), B_OK);
    EXPECT_EQ(unmount(where), B_OK);
    mounted = false;

    std::ifstream in(pattern);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    auto has = [&](const std::string& part) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(part) != std::string::npos;
        });
    };
    EXPECT_TRUE(has("tavro5: C: session 1 begun on channel 20")) << testing::PrintToString(lines);
    EXPECT_TRUE(has("tavro5: C: mounted"));
    EXPECT_TRUE(has("request 0x16"));
    EXPECT_TRUE(has("none came in time"));
    EXPECT_TRUE(has("ended: lost replies may have left handles open"));
    EXPECT_TRUE(has("session 2 begun on channel 21"));
    EXPECT_TRUE(has("tavro5: C: unmounted"));
    EXPECT_FALSE(has("rrrr"));  // the file's bytes
    for (const std::string& line : lines) EXPECT_EQ(line.rfind("tavro5: ", 0), 0u) << line;

    // Without a debug file nothing is written.
    size_t before = lines.size();
    block = script.MountBlock("C:");
    ASSERT_EQ(mount("tavro5", where, nullptr, 0, block.data(), block.size()), B_OK);
    mounted = true;
    SetTimeout(30000);
    lose = true;
    EXPECT_EQ(sys_open("/t5/ReadMe.txt", B_O_RDONLY, 0), B_IO_ERROR);
    lose = false;
    EXPECT_EQ(unmount(where), B_OK);
    mounted = false;
    std::ifstream again(pattern);
    size_t after = 0;
    for (std::string line; std::getline(again, line);) after++;
    EXPECT_EQ(after, before);
    unlink(pattern);
}

// Unknown handles that fill the session's table while the volume still holds a file open: the
// open refused "in use" ends the session anyway and is tried again on a new one; the file held
// open is opened again when next used, and a listing whose handle went fails rather than end
// early.
TEST_F(Scripted, AFullHandleTableIsClearedEvenWithAFileHeldOpen) {
    device.Add("C:\\Other.txt", "other");
    Mount();
    int held = sys_open("/t5/ReadMe.txt", B_O_RDWR, 0);
    ASSERT_GE(held, 0);
    int listing = sys_opendir("/t5");
    ASSERT_GE(listing, 0);
    be_dirent entry;
    for (int i = 0; i < 3; i++) ASSERT_EQ(sys_readdir(listing, &entry, sizeof entry), 1);
    be_stat st;
    ASSERT_EQ(sys_stat("/t5/Other.txt", &st), B_OK);
    SetTimeout(30000);
    std::atomic<int> lost{0};
    script.SetHandler([this, &lost](const Bytes& request) -> std::optional<Bytes> {
        std::optional<Bytes> reply = Answer(request);
        if (OpOf(request) == 0x16 && lost < 62) {
            lost++;
            return std::nullopt;
        }
        return reply;
    });
    for (int i = 0; i < 200 && lost < 62; i++)
        EXPECT_EQ(sys_open("/t5/Other.txt", B_O_RDONLY, 0), B_IO_ERROR);
    SetTimeout(10000000);
    ASSERT_EQ(device.HeldBy(20), 64u);  // ours two, and 62 nobody knows
    EXPECT_EQ(script.SessionsBegun(), 1);

    int other = sys_open("/t5/Other.txt", B_O_RDONLY, 0);
    EXPECT_GE(other, 0);
    EXPECT_EQ(script.SessionsBegun(), 2);
    EXPECT_EQ(device.HeldBy(20), 0u);
    if (other >= 0) {
        EXPECT_EQ(sys_close(other), B_OK);
    }
    // The held file: opened again, never emptied, written and read where asked.
    EXPECT_EQ(sys_write(held, 5000, "end", 3), 3);
    char buffer[8] = {};
    EXPECT_EQ(sys_read(held, 4998, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "rrend");
    EXPECT_EQ(device.Find("C:\\ReadMe.txt")->data, std::string(5000, 'r') + "end");
    EXPECT_EQ(sys_close(held), B_OK);
    // The listing's entries had come; its end cannot be known any more.
    int status;
    while ((status = sys_readdir(listing, &entry, sizeof entry)) == 1) {
    }
    EXPECT_EQ(status, B_IO_ERROR);
    EXPECT_EQ(sys_closedir(listing), B_OK);
    EXPECT_EQ(sys_unlink("/t5/Other.txt"), B_OK);
    EXPECT_TRUE(device.holder.empty());
    EXPECT_EQ(script.SessionsOpen(), 1u);
}

}  // namespace
