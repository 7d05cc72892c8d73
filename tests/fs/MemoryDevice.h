// A small Series 3 file service in memory, as a responder for the scripted device: files and
// folders of drive M: that requests really change, so that a test can see what a request
// whose reply was lost did, and what the drive holds afterwards.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "ScriptedDevice.h"
#include "Series3Bytes.h"

class MemoryDevice {
public:
    static constexpr uint32 kCapacity = 100000;

    // Paths are full device paths in upper case, e.g. "M:\DOCS\A.TXT" ("M:\DOCS" a folder).
    void AddFile(const std::string& path, const Bytes& content);
    void AddFolder(const std::string& path);
    bool Exists(const std::string& path) const;
    std::optional<Bytes> File(const std::string& path) const;
    // Handles open on the device.
    size_t OpenHandles() const;
    // Files the device counts as open elsewhere (by a program on the handheld).
    void HoldOpen(const std::string& path);
    void MakeReadOnly();

    std::optional<Bytes> Answer(const Bytes& request);

private:
    struct Handle {
        std::string path;
        uint32 position = 0;
        bool listing = false;
        size_t next = 0;
        bool update = false;
    };

    static std::string Upper(std::string text);
    std::string Parent(const std::string& path) const;
    bool IsOpen(const std::string& path) const;

    std::optional<Bytes> AnswerLocked(const Bytes& request);

    mutable std::mutex lock_;
    std::map<std::string, Bytes> files_;
    std::set<std::string> folders_ = {"M:"};
    std::map<uint16, Handle> handles_;
    std::set<std::string> heldElsewhere_;
    uint16 nextHandle_ = 1;
    bool readOnly_ = false;
};
