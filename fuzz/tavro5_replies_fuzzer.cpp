// Feeds arbitrary bytes to every parser of Series 5 file service replies, as a handheld (or a
// garbled line) might send them, and to the name conversions. Each parser must stay inside
// the bytes it was given and hand out only what lies within them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "epoc_text.h"
#include "epoc_wire.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

bool inside(const uint8* at, size_t length, const uint8* data, size_t size) {
    return at >= data && length <= size && static_cast<size_t>(at - data) <= size - length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    epoc::reply_header header;
    (void)epoc::parse_header(data, size, &header);
    uint32 value;
    for (size_t i = 0; i < 4; i++) (void)epoc::parse_u32(data, size, i, &value);
    uint64 time;
    (void)epoc::parse_modified(data, size, &time);

    const uint8* read;
    size_t count;
    epoc::parse_read(data, size, epoc::kMaxChunk, &read, &count);
    check(count == 0 || inside(read, count, data, size));

    epoc::volume_info info;
    if (epoc::parse_volume(data, size, &info)) check(info.label_length <= epoc::kMaxLabel);

    // Every entry of a read dir reply, in order; each must move forward and stay inside.
    size_t offset = epoc::kHeaderSize;
    epoc::dir_entry entry;
    while (epoc::parse_dir_entry(data, size, offset, &entry)) {
        check(inside(entry.long_name, entry.long_length, data, size));
        check(inside(entry.short_name, entry.short_length, data, size));
        check(entry.next > offset && entry.next <= size);
        std::string name = epoc::wire_to_utf8(entry.long_name, entry.long_length);
        std::string wire;
        // Every name the handheld sends converts to UTF-8 and back to the same bytes.
        check(epoc::utf8_to_wire(name.c_str(), &wire) == B_OK ||
              name.find('\0') != std::string::npos);
        if (name.find('\0') == std::string::npos)
            check(wire ==
                  std::string(reinterpret_cast<const char*>(entry.long_name), entry.long_length));
        offset = entry.next;
    }

    // Names from users: any bytes, as a path element.
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string wire;
    if (epoc::check_name(text.c_str(), &wire) == B_OK) {
        check(wire.size() <= epoc::kMaxPath);
        check(wire.find('\\') == std::string::npos);
    }
    (void)epoc::fold_case(wire);
    return 0;
}
