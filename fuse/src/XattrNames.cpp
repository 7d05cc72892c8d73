#include "XattrNames.h"

namespace fusebridge {

AttributeName attribute_for_xattr(std::string_view xattr) {
    AttributeName result;
    if (xattr == kMimeXattr) {
        result.valid = true;
        result.mime = true;
        result.name = kTypeAttribute;
        return result;
    }
    if (xattr.size() <= kUserPrefix.size() || xattr.substr(0, kUserPrefix.size()) != kUserPrefix)
        return result;
    result.valid = true;
    result.name = xattr.substr(kUserPrefix.size());
    return result;
}

std::string xattr_list(const std::vector<std::string>& attributes) {
    std::string list;
    bool has_type = false;
    for (const std::string& name : attributes) {
        // "user.mime_type" already stands for the type; a node's own attribute of that name
        // would list it twice.
        if (std::string(kUserPrefix) + name == kMimeXattr) continue;
        if (name == kTypeAttribute) has_type = true;
        list.append(kUserPrefix);
        list.append(name);
        list.push_back('\0');
    }
    if (has_type) {
        list.append(kMimeXattr);
        list.push_back('\0');
    }
    return list;
}

std::string mime_attribute_value(std::string_view type) {
    std::string value(mime_from_attribute_value(type));
    value.push_back('\0');
    return value;
}

std::string_view mime_from_attribute_value(std::string_view value) {
    size_t end = value.find('\0');
    return end == std::string_view::npos ? value : value.substr(0, end);
}

}  // namespace fusebridge
