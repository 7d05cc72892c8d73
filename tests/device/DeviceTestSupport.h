// Helpers for driving a simulated handheld's sessions directly: packet builders, a
// temporary drive folder, reply field readers.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/Handheld.h"
#include "platform/ByteAppend.h"
#include "platform/ByteOrder.h"
#include "platform/LinkRegisterWire.h"
#include "platform/Series3Wire.h"
#include "platform/Series5Wire.h"

namespace devtest {

using handheld::Bytes;

class Payload {
public:
    Payload& Word(uint16 v) {
        AppendWord(fBytes, v);
        return *this;
    }
    Payload& Long(uint32 v) {
        AppendLong(fBytes, v);
        return *this;
    }
    Payload& Str(const std::string& s) {
        fBytes.insert(fBytes.end(), s.begin(), s.end());
        fBytes.push_back(0);
        return *this;
    }
    Payload& Raw(const Bytes& b) {
        fBytes.insert(fBytes.end(), b.begin(), b.end());
        return *this;
    }
    Bytes Packet(uint16 opcode) const {
        Bytes p;
        AppendWord(p, opcode);
        AppendWord(p, static_cast<uint16>(fBytes.size()));
        p.insert(p.end(), fBytes.begin(), fBytes.end());
        return p;
    }
    const Bytes& Data() const { return fBytes; }

private:
    Bytes fBytes;
};

inline int16 Status(const Bytes& reply) { return reply.size() >= 6 ? BytesToWord(&reply[4]) : 999; }
inline uint16 Word(const Bytes& reply, size_t at) { return BytesToUword(&reply.at(at + 1) - 1); }
inline uint32 Long(const Bytes& reply, size_t at) { return BytesToUlong(&reply.at(at + 3) - 3); }
inline std::string Text(const Bytes& reply, size_t at) {
    std::string s;
    while (at < reply.size() && reply[at] != 0) s += static_cast<char>(reply[at++]);
    return s;
}

// A temporary folder removed with everything in it at the end of the test.
class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/tavro-device-XXXXXX";
        fPath = mkdtemp(pattern);
    }
    ~TempFolder() { std::filesystem::remove_all(fPath); }
    const std::string& Path() const { return fPath; }
    std::string operator/(const std::string& rel) const { return fPath + "/" + rel; }
    void Write(const std::string& rel, const std::string& content) const {
        std::filesystem::create_directories(std::filesystem::path(fPath + "/" + rel).parent_path());
        std::ofstream(fPath + "/" + rel, std::ios::binary) << content;
    }
    std::string Read(const std::string& rel) const {
        std::ifstream in(fPath + "/" + rel, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool Exists(const std::string& rel) const {
        return std::filesystem::exists(std::filesystem::symlink_status(fPath + "/" + rel));
    }

private:
    std::string fPath;
};

// A Series 3 with its drives, and one file service session on it.
class Series3 {
public:
    explicit Series3(std::vector<handheld::DriveSetup> drives, bool relaxed = false) {
        handheld::HandheldOptions options;
        options.drives = std::move(drives);
        options.relaxedNames = relaxed;
        fDevice = handheld::Handheld::Create(options);
        fSession = fDevice->Open("SYS$RFSV");
    }
    Bytes Send(uint16 opcode, const Payload& payload = Payload()) {
        return SendRaw(payload.Packet(opcode));
    }
    Bytes SendRaw(const Bytes& packet) {
        Bytes reply;
        EXPECT_TRUE(fSession->Handle(packet.data(), packet.size(), reply));
        return reply;
    }
    // Opens a file and returns its handle, or -status - 1000 on failure.
    int Open(uint16 mode, const std::string& path) {
        Bytes r = Send(FOPEN, Payload().Word(mode).Str(path));
        if (Status(r) != 0) return Status(r) - 1000;
        return Word(r, 6);
    }
    handheld::Handheld& Device() { return *fDevice; }
    handheld::Session& Session() { return *fSession; }
    void Reopen() { fSession = fDevice->Open("SYS$RFSV"); }

private:
    std::unique_ptr<handheld::Handheld> fDevice;
    std::unique_ptr<handheld::Session> fSession;
};

inline handheld::DriveSetup Drive(char letter, const std::string& volume,
                                  const std::string& folder) {
    handheld::DriveSetup d;
    d.letter = letter;
    d.volumeName = volume;
    d.folder = folder;
    return d;
}

}  // namespace devtest
