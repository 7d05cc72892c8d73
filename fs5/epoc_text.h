// Names between Linux (UTF-8) and the handheld (Windows-1252 on the wire), and the
// case-folding the handheld uses to compare them.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Errors.h"
#include "platform/SupportDefs.h"

namespace epoc {

// The wire bytes of a UTF-8 name: B_OK, or B_BAD_VALUE when the text is not UTF-8 or holds a
// character the code page lacks. Nothing is ever replaced by a look-alike.
[[nodiscard]] status_t utf8_to_wire(const char* utf8, std::string* wire);
// The UTF-8 form of wire bytes; every byte has one.
std::string wire_to_utf8(const uint8* bytes, size_t length);
// A name (one path element, UTF-8) that the handheld can hold: B_OK, B_BAD_VALUE for
// characters it refuses (separators, wildcards, control characters, ".", ".."), or
// B_NAME_TOO_LONG. `wire` receives its wire bytes.
[[nodiscard]] status_t check_name(const char* utf8, std::string* wire);
// The wire bytes folded for a comparison without regard to case.
std::string fold_case(const std::string& wire);

}  // namespace epoc
