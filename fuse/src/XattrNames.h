// Linux extended-attribute names and the volume's attributes.
//
// Every attribute of a node shows as "user.<name>". The file type, kept by the volume in the
// attribute "BEOS:TYPE" as a NUL-terminated MIME string, also shows as "user.mime_type" (the
// freedesktop convention) with the bare string as its value.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fusebridge {

inline constexpr std::string_view kUserPrefix = "user.";
inline constexpr std::string_view kMimeXattr = "user.mime_type";
inline constexpr std::string_view kTypeAttribute = "BEOS:TYPE";

struct AttributeName {
    bool valid = false;  // false: a name outside "user.", which the volume cannot hold
    bool mime = false;   // "user.mime_type": the value is the type without its NUL
    std::string name;    // the volume's attribute name
};

[[nodiscard]] AttributeName attribute_for_xattr(std::string_view xattr);

// The listxattr answer for a node with these attributes: NUL-terminated names, one after the
// other.
[[nodiscard]] std::string xattr_list(const std::vector<std::string>& attributes);

// A MIME type value as the volume stores it, and back.
[[nodiscard]] std::string mime_attribute_value(std::string_view type);
[[nodiscard]] std::string_view mime_from_attribute_value(std::string_view value);

}  // namespace fusebridge
