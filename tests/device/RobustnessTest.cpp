// Requests from the desktop are untrusted: garbage must get a status, never a crash, and no
// request may reach anything outside the drive's folder.
#include <unistd.h>

#include <filesystem>
#include <random>

#include "DeviceTestSupport.h"

using namespace devtest;
using namespace handheld;

namespace {

std::vector<std::string> TreeOf(const std::string& root) {
    std::vector<std::string> paths;
    for (auto& entry : std::filesystem::recursive_directory_iterator(root))
        paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(Robustness, LinksInTheFolderAreInvisible) {
    TempFolder root;
    root.Write("outside/SECRET.TXT", "secret");
    root.Write("drive/PLAIN.TXT", "plain");
    symlink((root / "outside/SECRET.TXT").c_str(), (root / "drive/LINK.TXT").c_str());
    symlink((root / "outside").c_str(), (root / "drive/OUT").c_str());
    Series3 device({Drive('M', "INTERNAL", root / "drive")});
    EXPECT_EQ(device.Open(0x0200, "M:\\LINK.TXT"), RFSV_NOT_FOUND - 1000);
    EXPECT_EQ(device.Open(0x0200, "M:\\OUT\\SECRET.TXT"), RFSV_NO_SUCH_DIRECTORY - 1000);
    EXPECT_EQ(device.Open(0x0302, "M:\\LINK.TXT"), RFSV_EXISTS - 1000);
    EXPECT_EQ(root.Read("outside/SECRET.TXT"), "secret");
    int h = device.Open(0x0030, "M:\\*.*");
    Bytes r = device.Send(FDIRREAD, Payload().Word(static_cast<uint16>(h)));
    ASSERT_EQ(Status(r), 0);
    EXPECT_EQ(Text(r, 8 + 16), "PLAIN.TXT");
    EXPECT_EQ(r.size(), 8u + 17 + 9);
}

TEST(Robustness, RandomRequestsNeverCrashOrEscapeTheFolder) {
    TempFolder root;
    root.Write("outside/KEEP.TXT", "keep");
    root.Write("drive/DOCS/A.TXT", "a");
    root.Write("drive/B.TXT", std::string(700, 'b'));
    std::vector<std::string> outsideBefore = TreeOf(root / "outside");
    DriveSetup setup = Drive('M', "INTERNAL", root / "drive");
    setup.capacity = 64 * 1024;
    Series3 device({setup});

    const std::vector<std::string> tokens = {
        "M:", "m:",      "\\",       "..", ".",          "/",    "A", "B.TXT", "DOCS", "*",
        "?",  "OUTSIDE", "KEEP.TXT", "X:", "LONGERNAME", ".TXT", " ", "\x01",  ":"};
    const std::vector<uint16> opcodes = {FOPEN,  FCLOSE, FREAD,  FDIRREAD, FDEVICEREAD, FWRITE,
                                         FSEEK,  RENAME, DELETE, FINFO,    MKDIR,       FDEVICEINFO,
                                         SFDATE, 1,      99,     0xFFFF};
    std::mt19937 random(12345);
    auto path = [&] {
        std::string p;
        int n = static_cast<int>(random() % 6);
        for (int i = 0; i < n; ++i) p += tokens[random() % tokens.size()];
        return p;
    };
    for (int i = 0; i < 20000; ++i) {
        uint16 opcode = opcodes[random() % opcodes.size()];
        Payload payload;
        switch (random() % 4) {
            case 0: {  // entirely random bytes
                Bytes raw(random() % 64);
                for (uint8& b : raw) b = static_cast<uint8>(random());
                payload.Raw(raw);
                break;
            }
            case 1:
                payload.Word(static_cast<uint16>(random())).Str(path());
                break;
            case 2:
                payload.Str(path()).Str(path());
                break;
            default:
                payload.Word(static_cast<uint16>(random() % 8)).Long(static_cast<uint32>(random()));
                payload.Word(static_cast<uint16>(random() % 5));
                break;
        }
        Bytes packet = payload.Packet(opcode);
        if (random() % 8 == 0) packet.resize(random() % (packet.size() + 1));  // cut short
        if (random() % 8 == 0 && packet.size() >= 4) packet[2] = static_cast<uint8>(random());
        Bytes reply = device.SendRaw(packet);
        ASSERT_GE(reply.size(), 6u);
        ASSERT_EQ(BytesToUword(&reply[2]), reply.size() - 4);
    }
    EXPECT_EQ(TreeOf(root / "outside"), outsideBefore);
    EXPECT_EQ(root.Read("outside/KEEP.TXT"), "keep");
    // Nothing appeared beside the two folders.
    std::vector<std::string> top;
    for (auto& e : std::filesystem::directory_iterator(root.Path()))
        top.push_back(e.path().filename());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"drive", "outside"}));
}

}  // namespace
