#include "Series5Names.h"

#include <cctype>
#include <cstring>

#include "platform/CodePage1252.h"

namespace handheld {

namespace {

// The handheld's clock starts at 1 January of year 0: seconds from there to 1970.
constexpr int64 kEpochToUnix = 62167219200;

}  // namespace

bool Series5WireName(const std::string& utf8, std::string& wire) {
    return cp1252::FromUtf8(utf8, wire);
}

std::string Series5HostName(const std::string& wire) {
    return cp1252::ToUtf8(reinterpret_cast<const uint8*>(wire.data()), wire.size());
}

std::string Series5Fold(const std::string& wire) { return cp1252::FoldCase(wire); }

bool Series5ValidName(const std::string& wire) {
    if (wire.empty() || wire == "." || wire == ".." || wire.size() > 252) return false;
    for (char c : wire)
        if (static_cast<uint8>(c) < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr) return false;
    return true;
}

bool Series5Matches(const std::string& wire, const std::string& pattern) {
    std::string name = Series5Fold(wire), pat = Series5Fold(pattern);
    size_t n = 0, p = 0, star = std::string::npos, mark = 0;
    while (n < name.size()) {
        if (p < pat.size() && (pat[p] == '?' || pat[p] == name[n])) {
            n++, p++;
        } else if (p < pat.size() && pat[p] == '*') {
            star = p++, mark = n;
        } else if (star != std::string::npos) {
            p = star + 1, n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') p++;
    return p == pat.size();
}

std::string Series5ShortName(const std::string& wire) {
    size_t dot = wire.rfind('.');
    std::string base = wire.substr(0, dot),
                ext = dot == std::string::npos ? "" : wire.substr(dot + 1);
    auto plain = [](const std::string& part, size_t limit) {
        if (part.empty() || part.size() > limit) return false;
        for (char c : part)
            if (!(isupper(static_cast<unsigned char>(c)) ||
                  isdigit(static_cast<unsigned char>(c)) || c == '_'))
                return false;
        return true;
    };
    if (plain(base, 8) && (ext.empty() || plain(ext, 3))) return {};
    auto squeeze = [](const std::string& part, size_t limit) {
        std::string out;
        for (char c : part) {
            if (out.size() == limit) break;
            if (isalnum(static_cast<unsigned char>(c)))
                out += static_cast<char>(toupper(static_cast<unsigned char>(c)));
        }
        return out;
    };
    std::string shortName = squeeze(base, 6);
    if (shortName.empty()) shortName = "FILE";
    shortName += "~1";
    std::string shortExt = squeeze(ext, 3);
    if (!shortExt.empty()) shortName += "." + shortExt;
    return shortName;
}

uint64 Series5Time(const timespec& host) {
    time_t t = host.tv_sec;
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) return 0;
    int64 seconds = static_cast<int64>(timegm(&local)) + kEpochToUnix;
    if (seconds < 0) return 0;
    return static_cast<uint64>(seconds) * 1000000 + static_cast<uint64>(host.tv_nsec / 1000);
}

timespec Series5HostTime(uint64 device) {
    int64 micro = static_cast<int64>(device & 0x3FFFFFFFFFFFFFFFull);
    time_t local = static_cast<time_t>(micro / 1000000 - kEpochToUnix);
    struct tm broken;
    timespec out{local, static_cast<long>((micro % 1000000) * 1000)};
    if (gmtime_r(&local, &broken) == nullptr) return out;
    broken.tm_isdst = -1;
    time_t t = mktime(&broken);
    if (t != static_cast<time_t>(-1)) out.tv_sec = t;
    return out;
}

}  // namespace handheld
