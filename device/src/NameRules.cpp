#include "NameRules.h"

#include <cctype>
#include <cstring>

namespace handheld {

namespace {

// Characters a DOS-style 8.3 name may hold besides letters and digits.
bool IsDosNameChar(unsigned char c) {
    if (std::isalnum(c)) return true;
    return std::strchr("$%'-_@~`!(){}^#&", c) != nullptr && c != 0;
}

// Characters no name may hold under either rule set: separators and wildcards.
bool IsForbiddenAnywhere(unsigned char c) {
    return c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr;
}

bool MatchPart(const char* name, const char* pattern) {
    // Iterative wildcard match with backtracking to the last '*'.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || std::toupper(static_cast<unsigned char>(*pattern)) ==
                                          std::toupper(static_cast<unsigned char>(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == 0;
}

void SplitExtension(const std::string& name, std::string& base, std::string& ext) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        base = name;
        ext.clear();
    } else {
        base = name.substr(0, dot);
        ext = name.substr(dot + 1);
    }
}

}  // namespace

bool NameRules::IsValidName(const std::string& name) const {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (IsForbiddenAnywhere(c)) return false;
    if (fRelaxed) return name.size() <= 255;

    size_t dot = name.find('.');
    std::string base = name.substr(0, dot);
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    if (base.empty() || base.size() > 8) return false;
    if (dot != std::string::npos && (ext.empty() || ext.size() > 3)) return false;
    for (unsigned char c : base)
        if (!IsDosNameChar(c)) return false;
    for (unsigned char c : ext)
        if (!IsDosNameChar(c)) return false;  // a second dot lands here
    return true;
}

std::string NameRules::StoredName(const std::string& name) const {
    if (fRelaxed) return name;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

bool NameRules::SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool NameRules::HasWildcard(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
}

bool NameRules::MatchesPattern(const std::string& name, const std::string& pattern) {
    if (pattern.find('.') == std::string::npos) return MatchPart(name.c_str(), pattern.c_str());
    std::string nameBase, nameExt, patternBase, patternExt;
    SplitExtension(name, nameBase, nameExt);
    SplitExtension(pattern, patternBase, patternExt);
    return MatchPart(nameBase.c_str(), patternBase.c_str()) &&
           MatchPart(nameExt.c_str(), patternExt.c_str());
}

int16 ParseDevicePath(const std::string& text, DevicePath& path) {
    path = DevicePath();
    if (text.size() > RFSV_MAX_PATH) return RFSV_BAD_NAME;
    if (text.size() < 2 || text[1] != ':' || !std::isalpha(static_cast<unsigned char>(text[0])))
        return RFSV_NO_SUCH_DEVICE;
    path.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    size_t pos = 2;
    if (pos < text.size() && text[pos] == '\\') ++pos;
    std::string current;
    for (; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '\\') {
            if (current.empty()) return RFSV_BAD_NAME;  // "\\" in a row
            path.components.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        path.components.push_back(current);
    } else if (!path.components.empty()) {
        path.trailingSeparator = true;
    }
    return RFSV_OK;
}

}  // namespace handheld
