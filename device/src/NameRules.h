// Which names a drive accepts and how it stores them. A Series 3 takes 8.3 names of DOS
// characters, stores them in upper case and compares them without regard to case; relaxed
// rules keep long names of any case for tests.
#pragma once

#include <string>
#include <vector>

#include "platform/Series3Wire.h"

namespace handheld {

class NameRules {
public:
    explicit NameRules(bool relaxed) : fRelaxed(relaxed) {}

    // Whether `name` may be one component of a path (never ".", "..", or anything with a
    // separator, so that no name can reach outside its folder).
    bool IsValidName(const std::string& name) const;
    // The name as the drive stores a new entry.
    std::string StoredName(const std::string& name) const;
    static bool SameName(const std::string& a, const std::string& b);
    // DOS-style wildcard match of a name against a pattern with '*' and '?'; the part after
    // the last dot is matched on its own, so "*.*" matches names without an extension too.
    static bool MatchesPattern(const std::string& name, const std::string& pattern);
    static bool HasWildcard(const std::string& name);

private:
    bool fRelaxed;
};

// A device path taken apart: "M:\DOCS\A.TXT" is drive 'M' and {"DOCS", "A.TXT"}. A path
// ending in "\" names a directory (`trailingSeparator`).
struct DevicePath {
    char drive = 0;
    std::vector<std::string> components;
    bool trailingSeparator = false;
};

// Parses a device path; RFSV_OK, RFSV_BAD_NAME for a malformed one, or
// RFSV_NO_SUCH_DEVICE when it has no drive prefix.
int16 ParseDevicePath(const std::string& text, DevicePath& path);

}  // namespace handheld
