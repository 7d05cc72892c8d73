// tavro3's reply parsers on arbitrary bytes: every field must be read from inside the reply.
// The first byte picks the parser; the rest is the reply as the device sent it. Each reply is
// copied to a buffer of its exact size, so a read past its end is caught by AddressSanitizer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "tavro_rfsv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint8 which = data[0];
    std::vector<uint8> reply(data + 1, data + size);
    const uint8* bytes = reply.data();
    size_t length = reply.size();

    int16 status = 0;
    (void)reply_status(bytes, length, &status);
    (void)parse_fclose_reply(bytes, length);
    (void)parse_fwrite_reply(bytes, length);
    switch (which % 6) {
        case 0:
            (void)parse_fopen_reply(bytes, length);
            break;
        case 1: {
            const uint8* read = nullptr;
            uint32 count = 0;
            bool end = false;
            uint32 wanted = which >> 3;
            wanted = wanted * 17 + 1;
            if (parse_fread_reply(bytes, length, wanted, &read, &count, &end) == B_OK && !end &&
                count > 0) {
                // What the parser hands out must lie inside the reply.
                volatile uint8 sum = 0;
                for (uint32 i = 0; i < count; i++) sum = sum + read[i];
                (void)sum;
            }
            break;
        }
        case 2: {
            uint32 position = 0;
            (void)parse_fseek_reply(bytes, length, &position);
            break;
        }
        case 3: {
            const uint8* header = nullptr;
            if (parse_finfo_reply(bytes, length, &header) == B_OK) {
                uint8 copy[RFSV_ENTRY_HEADER_SIZE];
                // The caller copies 12 bytes of header out of the reply.
                memcpy(copy, header, 12);
                (void)copy;
            }
            break;
        }
        case 4: {
            // A listing reply: entries one after another from where the reply parser says.
            size_t offset = 0;
            bool end = false;
            if (parse_dirread_reply(bytes, length, &offset, &end) != B_OK || end) break;
            dir_entry entry;
            for (int guard = 0; guard < 1000 && parse_dir_entry(bytes, length, offset, &entry);
                 guard++) {
                volatile size_t sum = strlen(entry.name) + entry.header[15];
                (void)sum;
                if (entry.next <= offset) break;
                offset = entry.next;
            }
            break;
        }
        case 5: {
            device_info info;
            if (parse_deviceinfo_reply(bytes, length, &info)) {
                volatile size_t n = strnlen(info.volume_name, sizeof info.volume_name);
                (void)n;
            }
            break;
        }
    }
    return 0;
}
