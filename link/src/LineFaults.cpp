#include "link/LineFaults.h"

#include <cstdlib>

#include "platform/NameTable.h"

namespace wire {

namespace {

bool Number(const std::string& text, uint64& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    if (text.size() > 12) return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

constexpr NamedValue<LineFault::Kind> kKinds[] = {
    {LineFault::Kind::Flip, "flip"},       {LineFault::Kind::Drop, "drop"},
    {LineFault::Kind::Duplicate, "dup"},   {LineFault::Kind::Delay, "delay"},
    {LineFault::Kind::Noise, "noise"},     {LineFault::Kind::Cut, "cut"},
    {LineFault::Kind::Corrupt, "corrupt"},
};

}  // namespace

std::optional<LineFault> LineFault::Parse(const std::string& text) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string kind = text.substr(0, colon);
    std::string rest = text.substr(colon + 1);
    std::string where = rest, extra;
    size_t second = rest.find(':');
    if (second != std::string::npos) {
        where = rest.substr(0, second);
        extra = rest.substr(second + 1);
    }
    std::optional<Kind> named = ValueNamed(kKinds, kind);
    if (!named) return std::nullopt;
    LineFault fault;
    fault.kind = *named;
    uint64 value = 0;
    if (fault.kind == Kind::Corrupt) {
        if (!extra.empty() || !Number(where, value) || value > 100) return std::nullopt;
        fault.value = static_cast<uint32>(value);
        return fault;
    }
    size_t x = where.find('x');
    if (x != std::string::npos) {
        if (!Number(where.substr(x + 1), fault.count) || fault.count == 0) return std::nullopt;
        where = where.substr(0, x);
    }
    if (!Number(where, fault.frame) || fault.frame == 0) return std::nullopt;
    bool needsValue = fault.kind == Kind::Delay || fault.kind == Kind::Noise;
    if (extra.empty()) {
        if (needsValue) return std::nullopt;
    } else {
        if (!(needsValue || fault.kind == Kind::Cut) || !Number(extra, value) || value > 600000)
            return std::nullopt;
        fault.value = static_cast<uint32>(value);
    }
    return fault;
}

LineFaultResult LineFaults::Apply(Bytes frame) {
    ++fFrames;
    LineFaultResult result;
    for (const LineFault& fault : fFaults) {
        bool hit;
        if (fault.kind == LineFault::Kind::Corrupt)
            hit = fRandom() % 100 < fault.value;
        else
            hit = fFrames >= fault.frame && fFrames < fault.frame + fault.count;
        if (!hit) continue;
        ++fApplied;
        result.name = NameOf(kKinds, fault.kind);
        switch (fault.kind) {
            case LineFault::Kind::Flip:
            case LineFault::Kind::Corrupt: {
                // A bit inside the frame after its start marker, so the CRC catches it.
                size_t at = frame.size() > 3 ? 3 + fRandom() % (frame.size() - 3) : 0;
                if (!frame.empty()) frame[at] ^= static_cast<uint8>(1u << (fRandom() % 8));
                result.send.push_back(std::move(frame));
                return result;
            }
            case LineFault::Kind::Drop:
                return result;
            case LineFault::Kind::Duplicate:
                result.send.push_back(frame);
                result.send.push_back(std::move(frame));
                return result;
            case LineFault::Kind::Delay:
                result.delay = static_cast<bigtime_t>(fault.value) * 1000;
                result.send.push_back(std::move(frame));
                return result;
            case LineFault::Kind::Noise: {
                Bytes noise(fault.value);
                for (uint8& b : noise) b = static_cast<uint8>(fRandom());
                result.send.push_back(std::move(noise));
                result.send.push_back(std::move(frame));
                return result;
            }
            case LineFault::Kind::Cut:
                result.cut = true;
                result.cutFor = static_cast<bigtime_t>(fault.value) * 1000;
                result.send.push_back(std::move(frame));
                return result;
        }
    }
    result.send.push_back(std::move(frame));
    return result;
}

}  // namespace wire
