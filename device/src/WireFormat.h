// Small helpers that read request fields with bounds checks and build replies. Requests come
// from the desktop and are untrusted: every read says whether the bytes were there.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ByteAppend.h"
#include "platform/ByteOrder.h"
#include "platform/SupportDefs.h"

namespace handheld {

class PayloadReader {
public:
    PayloadReader(const uint8* data, size_t size) : fData(data), fSize(size) {}

    bool ReadWord(uint16& value) {
        if (fSize - fPos < 2 || fPos > fSize) return false;
        value = BytesToUword(fData + fPos);
        fPos += 2;
        return true;
    }
    bool ReadLong(uint32& value) {
        if (fSize - fPos < 4 || fPos > fSize) return false;
        value = BytesToUlong(fData + fPos);
        fPos += 4;
        return true;
    }
    // A string up to its NUL or the end of the payload; false when nothing is left.
    bool ReadString(std::string& value) {
        if (fPos >= fSize) return false;
        size_t end = fPos;
        while (end < fSize && fData[end] != 0) ++end;
        value.assign(reinterpret_cast<const char*>(fData + fPos), end - fPos);
        fPos = end < fSize ? end + 1 : end;
        return true;
    }
    // A string after its u16 length (the Series 5 form); false when the bytes are not all there.
    bool ReadCountedString(std::string& value) {
        uint16 length;
        if (!ReadWord(length)) return false;
        if (Remaining() < length) return false;
        value.assign(reinterpret_cast<const char*>(fData + fPos), length);
        fPos += length;
        return true;
    }
    const uint8* Rest() const { return fData + fPos; }
    size_t Remaining() const { return fPos <= fSize ? fSize - fPos : 0; }

private:
    const uint8* fData;
    size_t fSize;
    size_t fPos = 0;
};

// A fixed-size, NUL-padded text field; the text is cut to leave room for a NUL.
inline void AppendText(std::vector<uint8>& out, const std::string& text, size_t fieldSize) {
    size_t n = std::min(text.size(), fieldSize - 1);
    out.insert(out.end(), text.begin(), text.begin() + static_cast<long>(n));
    out.insert(out.end(), fieldSize - n, 0);
}

}  // namespace handheld
