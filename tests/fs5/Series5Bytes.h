// Byte helpers for Series 5 file service tests: requests as tavro5 must send them, replies as
// a handheld sends them.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/ByteAppend.h"
#include "platform/ByteOrder.h"
#include "platform/SupportDefs.h"

namespace s5 {

using Bytes = std::vector<uint8>;

inline void PutString(Bytes& out, const std::string& text) {
    AppendWord(out, static_cast<uint16>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}
inline void Pad4(Bytes& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

inline Bytes Request(uint16 op, uint16 opid, const Bytes& fields = {}) {
    Bytes out;
    AppendWord(out, op);
    AppendWord(out, opid);
    out.insert(out.end(), fields.begin(), fields.end());
    return out;
}

inline Bytes Reply(uint16 opid, int32 status, const Bytes& data = {}) {
    Bytes out;
    AppendWord(out, 0x11);
    AppendWord(out, opid);
    AppendLong(out, static_cast<uint32>(status));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

struct EntrySpec {
    std::string name;  // wire bytes
    uint32 attributes = 0x20;
    uint32 size = 0;
    uint64 modified = 0;
    std::string shortName;  // empty: the same as the long name
    uint32 uid3 = 0;
};

// Appends one read dir entry to reply data `out` (whose reply header is 8 bytes).
inline void PutEntry(Bytes& out, const EntrySpec& e) {
    Pad4(out);
    AppendLong(out, static_cast<uint32>(e.shortName.size()));
    AppendLong(out, e.attributes);
    AppendLong(out, e.size);
    AppendLong(out, static_cast<uint32>(e.modified));
    AppendLong(out, static_cast<uint32>(e.modified >> 32));
    AppendLong(out, 0);
    AppendLong(out, 0);
    AppendLong(out, e.uid3);
    AppendLong(out, static_cast<uint32>(e.name.size()));
    out.insert(out.end(), e.name.begin(), e.name.end());
    if (!e.shortName.empty()) {
        Pad4(out);
        out.insert(out.end(), e.shortName.begin(), e.shortName.end());
    }
}

// A whole reply of entries: the data start 8 bytes in, which keeps offsets aligned alike.
inline Bytes EntriesReply(uint16 opid, const std::vector<EntrySpec>& entries) {
    Bytes data;
    for (const EntrySpec& e : entries) PutEntry(data, e);
    return Reply(opid, 0, data);
}

inline uint16 OpOf(const Bytes& request) {
    return request.size() >= 2 ? BytesToUword(request.data()) : 0;
}
inline uint16 OpidOf(const Bytes& request) {
    return request.size() >= 4 ? BytesToUword(request.data() + 2) : 0;
}
// The request's fields after op and opid.
inline Bytes FieldsOf(const Bytes& request) {
    return request.size() > 4 ? Bytes(request.begin() + 4, request.end()) : Bytes();
}
// The first string field found at `offset` of the fields.
inline std::string StringAt(const Bytes& fields, size_t offset) {
    if (fields.size() < offset + 2) return {};
    uint16 n = BytesToUword(fields.data() + offset);
    if (fields.size() < offset + 2 + n) return {};
    return std::string(fields.begin() + static_cast<long>(offset) + 2,
                       fields.begin() + static_cast<long>(offset) + 2 + n);
}

}  // namespace s5
