// A model-based random-operation run: random file-system operations on a Series 3 drive,
// through some way into tavro3 (the kernel's system calls, or a FUSE mount), checked against an
// in-memory model of the drive and against the folder behind the simulated drive, with faults
// injected into the device's replies now and then.
//
// Rules checked after every operation:
// - without a fault, the operation does what a local disk would (Series 3 rules: upper-case
//   8.3 names looked up regardless of case, truncation to 0 only);
// - an operation hit by a fault may fail, but what it reports as done was done: a reported
//   success leaves the drive exactly as the model says, and no byte reported written differs;
// - after a failure the drive holds either the old or the new state (a write: old or new bytes,
//   never others), and the file system shows what the drive holds at once;
// - no operation takes longer than the hang limit;
// - at the end, with the faults off, every file reads back as the drive holds it and a new file
//   can be written and removed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/Faults.h"

namespace model {

// The file system under test. Paths are relative to the volume's root ("" is the root,
// "DIR/FILE.TXT" a file). Every call returns 0 for success or a negative status.
class Target {
public:
    virtual ~Target() = default;
    // Creates a file that must not exist and writes `data` into it from offset 0, the way `cp`
    // does (short writes go on from where they stopped). `written`: bytes reported written.
    virtual int CreateExclusive(const std::string& path, const std::string& data,
                                size_t* written) = 0;
    // Opens an existing file and writes `data` at `offset`, or at the end with `append`.
    virtual int WriteAt(const std::string& path, size_t offset, const std::string& data,
                        bool append, size_t* written) = 0;
    // Truncates to 0: through open (O_TRUNC) or by setting the size.
    virtual int TruncateToZero(const std::string& path, bool throughOpen) = 0;
    // Sets the size to something else than 0 (the drive cannot: must fail).
    virtual int SetSize(const std::string& path, size_t size) = 0;
    // Reads up to `length` bytes at `offset`, reading on until they come or the file ends.
    virtual int Read(const std::string& path, size_t offset, size_t length, std::string* out) = 0;
    virtual int Stat(const std::string& path, bool* directory, uint64_t* size) = 0;
    // Names in a folder, without "." and "..".
    virtual int List(const std::string& path, std::vector<std::string>* names) = 0;
    virtual int Rename(const std::string& from, const std::string& to) = 0;
    virtual int Mkdir(const std::string& path) = 0;
    virtual int Rmdir(const std::string& path) = 0;
    virtual int Unlink(const std::string& path) = 0;
    // Waits until what the last operation set going has reached the device (a Linux close
    // returns before the file system hears of it).
    virtual void Settle() {}
    // True for the statuses a link that answered late or not at all gives (a busy machine may
    // give them without any injected fault).
    virtual bool IsLinkError(int status) const = 0;
};

// A range of one open file read or written the way programs do it: a short transfer goes on
// from where it stopped. A transfer call moves up to `count` bytes at `offset` and returns how
// many it moved (0: the end of the file), or a negative status.
using ReadCall = std::function<int64_t(size_t offset, char* bytes, size_t count)>;
using WriteCall = std::function<int64_t(size_t offset, const char* bytes, size_t count)>;
// Reads up to `length` bytes into `out` until they came or the file ended: 0, or the failed
// read's status (what came before it is in `out`).
int ReadRange(const ReadCall& read, size_t offset, size_t length, std::string* out);
// Writes all of `data`; `written`: the bytes that went. 0, or the failed write's status (a
// write that moved nothing gives `stalled`).
int WriteRange(const WriteCall& write, size_t offset, const std::string& data, size_t* written,
               int stalled);

// What the drive's family allows; the defaults are the Series 3's.
struct Family {
    // Long, case-preserving names (the Series 5) instead of upper-case 8.3 names.
    bool longNames = false;
    // Any size can be set (the Series 5's set-size request) instead of 0 only.
    bool anySize = false;
};

// How the run reaches the device's fault injection.
struct Faults {
    std::function<void(const handheld::FaultRule&)> arm;
    std::function<void()> clear;
    std::function<uint32_t()> strikes;
};

struct Settings {
    uint32_t seed = 1;
    uint32_t operations = 1000;
    // About one operation in `faultEvery` gets a fault armed (0: none).
    uint32_t faultEvery = 5;
    // Delay of late replies (µs): longer than the file system's time-outs.
    int64_t lateDelay = 400000;
    // The folder behind the drive, as the device keeps it.
    std::string hostFolder;
    // An operation that takes longer than this (s) is reported as hanging; the run aborts.
    double hangSeconds = 60;
    // A rename onto an existing file replaces it (Linux); otherwise it is refused and both
    // stay (the volume's own calls).
    bool renameReplaces = true;
    Family family;
    // Progress on standard error every this many operations (0: none).
    uint32_t progressEvery = 0;
};

struct Report {
    uint64_t operations = 0;
    uint64_t faultsStruck = 0;        // operations a fault struck
    uint64_t failedUnderFault = 0;    // of those, the ones that reported failure
    uint64_t unprovokedFailures = 0;  // link errors with no fault (slow machine)
    std::vector<std::string> divergences;
};

Report Run(Target& target, const Faults& faults, const Settings& settings);

}  // namespace model
