// Faults on the line, applied to the frames one end sends: flip a bit in the Nth frame, drop
// it, send it twice, hold it back, put noise before it, cut the line after it; and a rate of
// randomly corrupted frames.
//
//   flip:N  drop:N  dup:N  delay:N:MS  noise:N:BYTES  cut:N[:MS]  corrupt:PERCENT
//
// N may be NxCOUNT (COUNT frames from the Nth on). A cut lasts MS milliseconds (0 or none:
// until Restore()); while cut the end neither sends nor hears anything.
#pragma once

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "link/Frame.h"

namespace wire {

struct LineFault {
    enum class Kind { Flip, Drop, Duplicate, Delay, Noise, Cut, Corrupt };
    Kind kind = Kind::Flip;
    uint64 frame = 1;  // 1-based
    uint64 count = 1;
    uint32 value = 0;  // milliseconds, bytes or percent

    static std::optional<LineFault> Parse(const std::string& text);
};

struct LineFaultResult {
    std::vector<Bytes> send;  // what goes on the line instead of the frame
    bigtime_t delay = 0;      // hold it back this long first
    bool cut = false;
    bigtime_t cutFor = 0;  // 0: until restored
    const char* name = nullptr;
};

class LineFaults {
public:
    explicit LineFaults(uint32 seed = 0x11AE) : fRandom(seed) {}
    void Set(std::vector<LineFault> faults) {
        fFaults = std::move(faults);
        fFrames = 0;
    }
    bool Empty() const { return fFaults.empty(); }
    LineFaultResult Apply(Bytes frame);
    uint64 Applied() const { return fApplied; }

private:
    std::vector<LineFault> fFaults;
    uint64 fFrames = 0;
    uint64 fApplied = 0;
    std::mt19937 fRandom;
};

}  // namespace wire
