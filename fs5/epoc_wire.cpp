#include "epoc_wire.h"

#include <cstring>

#include "platform/ByteOrder.h"

namespace epoc {

namespace {

// Appends fields to a request buffer; any field that does not fit spoils the whole request.
class Writer {
public:
    Writer(uint8* out, size_t capacity) : out_(out), capacity_(capacity) {}

    Writer& word(uint16 value) {
        if (room(2)) WordToBytes(value, out_ + size_);
        size_ += 2;
        return *this;
    }
    Writer& u32(uint32 value) {
        if (room(4)) LongToBytes(value, out_ + size_);
        size_ += 4;
        return *this;
    }
    Writer& bytes(const uint8* data, size_t count) {
        if (room(count) && count > 0) memcpy(out_ + size_, data, count);
        size_ += count;
        return *this;
    }
    Writer& string(const std::string& text) {
        if (text.size() > 0x7FFF) ok_ = false;  // bit 15 of the length means something else
        word(static_cast<uint16>(text.size()));
        return bytes(reinterpret_cast<const uint8*>(text.data()), text.size());
    }
    size_t done() const { return ok_ && size_ <= capacity_ ? size_ : 0; }

private:
    bool room(size_t count) {
        if (size_ > capacity_ || capacity_ - size_ < count) ok_ = false;
        return ok_;
    }
    uint8* out_;
    size_t capacity_;
    size_t size_ = 0;
    bool ok_ = true;
};

Writer start(uint8* out, size_t capacity, uint16 op, uint16 opid) {
    Writer writer(out, capacity);
    writer.word(op).word(opid);
    return writer;
}

size_t align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

}  // namespace

size_t build_handle_request(uint8* out, size_t capacity, uint16 op, uint16 opid, uint32 handle) {
    return start(out, capacity, op, opid).u32(handle).done();
}

size_t build_path_request(uint8* out, size_t capacity, uint16 op, uint16 opid,
                          const std::string& path) {
    return start(out, capacity, op, opid).string(path).done();
}

size_t build_open_dir(uint8* out, size_t capacity, uint16 opid, uint32 attributes,
                      const std::string& pattern) {
    return start(out, capacity, kOpenDir, opid).u32(attributes).string(pattern).done();
}

size_t build_volume(uint8* out, size_t capacity, uint16 opid, uint32 drive) {
    return start(out, capacity, kVolume, opid).u32(drive).done();
}

size_t build_open_file(uint8* out, size_t capacity, uint16 op, uint16 opid, uint32 mode,
                       const std::string& path) {
    return start(out, capacity, op, opid).u32(mode).string(path).done();
}

size_t build_read(uint8* out, size_t capacity, uint16 opid, uint32 handle, uint32 length) {
    return start(out, capacity, kRead, opid).u32(handle).u32(length).done();
}

size_t build_write(uint8* out, size_t capacity, uint16 opid, uint32 handle, const uint8* data,
                   size_t count) {
    if (count > kMaxChunk) return 0;
    return start(out, capacity, kWrite, opid).u32(handle).bytes(data, count).done();
}

size_t build_seek(uint8* out, size_t capacity, uint16 opid, int32 offset, uint32 handle,
                  uint32 sense) {
    return start(out, capacity, kSeek, opid)
        .u32(static_cast<uint32>(offset))
        .u32(handle)
        .u32(sense)
        .done();
}

size_t build_set_size(uint8* out, size_t capacity, uint16 opid, uint32 handle, uint32 size) {
    return start(out, capacity, kSetSize, opid).u32(handle).u32(size).done();
}

size_t build_rename(uint8* out, size_t capacity, uint16 op, uint16 opid, const std::string& from,
                    const std::string& to) {
    return start(out, capacity, op, opid).string(from).string(to).done();
}

size_t build_set_attributes(uint8* out, size_t capacity, uint16 opid, uint32 set, uint32 clear,
                            const std::string& path) {
    return start(out, capacity, kSetAttributes, opid).u32(set).u32(clear).string(path).done();
}

size_t build_set_modified(uint8* out, size_t capacity, uint16 opid, uint64 time,
                          const std::string& path) {
    return start(out, capacity, kSetModified, opid)
        .u32(static_cast<uint32>(time))
        .u32(static_cast<uint32>(time >> 32))
        .string(path)
        .done();
}

bool parse_header(const uint8* reply, size_t size, reply_header* header) {
    if (reply == nullptr || size < kHeaderSize) return false;
    if (BytesToUword(reply) != kResponseCode) return false;
    header->opid = BytesToUword(reply + 2);
    header->status = static_cast<int32>(BytesToUlong(reply + 4));
    return true;
}

bool parse_u32(const uint8* reply, size_t size, size_t index, uint32* value) {
    if (reply == nullptr || index > (kMaxReply / 4)) return false;
    size_t offset = kHeaderSize + index * 4;
    if (size < offset + 4) return false;
    *value = BytesToUlong(reply + offset);
    return true;
}

bool parse_modified(const uint8* reply, size_t size, uint64* time) {
    uint32 low, high;
    if (!parse_u32(reply, size, 0, &low) || !parse_u32(reply, size, 1, &high)) return false;
    *time = (static_cast<uint64>(high) << 32) | low;
    return true;
}

void parse_read(const uint8* reply, size_t size, size_t wanted, const uint8** data, size_t* count) {
    *data = reply + kHeaderSize;
    size_t held = reply != nullptr && size > kHeaderSize ? size - kHeaderSize : 0;
    *count = held < wanted ? held : wanted;
}

bool parse_dir_entry(const uint8* reply, size_t size, size_t offset, dir_entry* entry) {
    constexpr size_t kFixed = 9 * 4;  // shortLen, attr, size, modLo, modHi, uid1-3, longLen
    if (reply == nullptr) return false;
    offset = align4(offset);
    if (offset >= size || size - offset < kFixed) return false;
    const uint8* at = reply + offset;
    uint32 short_length = BytesToUlong(at);
    entry->attributes = BytesToUlong(at + 4);
    entry->size = BytesToUlong(at + 8);
    entry->modified = (static_cast<uint64>(BytesToUlong(at + 16)) << 32) | BytesToUlong(at + 12);
    for (int i = 0; i < 3; i++) entry->uid[i] = BytesToUlong(at + 20 + 4 * i);
    uint32 long_length = BytesToUlong(at + 32);

    size_t name = offset + kFixed;
    if (long_length == 0 || long_length > size - name) return false;
    entry->long_name = reply + name;
    entry->long_length = long_length;
    size_t end = name + long_length;
    if (short_length == 0) {
        entry->short_name = entry->long_name;
        entry->short_length = entry->long_length;
    } else {
        size_t short_at = align4(end);
        if (short_at > size || short_length > size - short_at) return false;
        entry->short_name = reply + short_at;
        entry->short_length = short_length;
        end = short_at + short_length;
    }
    entry->next = end;
    return true;
}

bool parse_volume(const uint8* reply, size_t size, volume_info* info) {
    // media, battery, drive attr, media attr, uid, size lo/hi, free lo/hi, label length
    uint32 field[10];
    for (size_t i = 0; i < 10; i++)
        if (!parse_u32(reply, size, i, &field[i])) return false;
    size_t label_at = kHeaderSize + 40;
    if (field[9] > size - label_at) return false;
    info->media = field[0];
    info->drive_attributes = field[2];
    info->media_attributes = field[3];
    info->unique_id = field[4];
    info->size = (static_cast<uint64>(field[6]) << 32) | field[5];
    info->free = (static_cast<uint64>(field[8]) << 32) | field[7];
    info->label_length = field[9] < kMaxLabel ? field[9] : kMaxLabel;
    memcpy(info->label, reply + label_at, info->label_length);
    return true;
}

status_t map_status(int32 status) {
    switch (status) {
        case kOk:
            return B_OK;
        case kNotFound:
        case kPathNotFound:
            return B_ENTRY_NOT_FOUND;
        case kExists:
            return B_FILE_EXISTS;
        case kInUse:
            return B_BUSY;
        case kAccessDenied:
            return B_PERMISSION_DENIED;
        case kDiskFull:
            return B_DEVICE_FULL;
        case kBadName:
            return B_BAD_VALUE;
        case kNotSupported:
            return B_UNSUPPORTED;
        default:
            return B_IO_ERROR;
    }
}

}  // namespace epoc
