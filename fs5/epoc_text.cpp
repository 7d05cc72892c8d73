#include "epoc_text.h"

#include <cstring>

#include "epoc_wire.h"
#include "platform/CodePage1252.h"

namespace epoc {

status_t utf8_to_wire(const char* utf8, std::string* wire) {
    return cp1252::FromUtf8(utf8, *wire) ? B_OK : B_BAD_VALUE;
}

std::string wire_to_utf8(const uint8* bytes, size_t length) {
    return cp1252::ToUtf8(bytes, length);
}

status_t check_name(const char* utf8, std::string* wire) {
    if (utf8 == nullptr || utf8[0] == '\0') return B_BAD_VALUE;
    if (strcmp(utf8, ".") == 0 || strcmp(utf8, "..") == 0) return B_BAD_VALUE;
    status_t status = utf8_to_wire(utf8, wire);
    if (status != B_OK) return status;
    for (unsigned char c : *wire)
        if (c < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr) return B_BAD_VALUE;
    // A drive letter, a separator and the name must fit.
    if (wire->size() > kMaxPath - 3) return B_NAME_TOO_LONG;
    return B_OK;
}

std::string fold_case(const std::string& wire) { return cp1252::FoldCase(wire); }

}  // namespace epoc
