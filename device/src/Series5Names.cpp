#include "Series5Names.h"

#include <cctype>
#include <cstring>

namespace handheld {

namespace {

// Windows-1252 bytes 0x80 to 0x9F; undefined bytes stand for the C1 controls of their value.
constexpr uint16 kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The handheld's clock starts at 1 January of year 0: seconds from there to 1970.
constexpr int64 kEpochToUnix = 62167219200;

}  // namespace

bool Series5WireName(const std::string& utf8, std::string& wire) {
    wire.clear();
    const auto* at = reinterpret_cast<const uint8*>(utf8.data());
    const auto* end = at + utf8.size();
    while (at < end) {
        uint32 code;
        int more;
        uint8 first = *at++;
        if (first < 0x80) {
            code = first, more = 0;
        } else if ((first & 0xE0) == 0xC0) {
            code = first & 0x1F, more = 1;
        } else if ((first & 0xF0) == 0xE0) {
            code = first & 0x0F, more = 2;
        } else {
            return false;  // beyond the code page anyway
        }
        for (int i = 0; i < more; i++) {
            if (at == end || (*at & 0xC0) != 0x80) return false;
            code = (code << 6) | (*at++ & 0x3F);
        }
        int byte = -1;
        if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) byte = static_cast<int>(code);
        for (int i = 0; i < 32 && byte < 0; i++)
            if (kHigh[i] == code) byte = 0x80 + i;
        if (byte < 0) return false;
        wire += static_cast<char>(byte);
    }
    return true;
}

std::string Series5HostName(const std::string& wire) {
    std::string out;
    for (char c : wire) {
        uint8 b = static_cast<uint8>(c);
        uint32 code = b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::string Series5Fold(const std::string& wire) {
    std::string out(wire);
    for (char& c : out) {
        uint8 b = static_cast<uint8>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7))
            b += 0x20;
        else if (b == 0x8A || b == 0x8C || b == 0x8E)
            b += 0x10;
        else if (b == 0x9F)
            b = 0xFF;
        c = static_cast<char>(b);
    }
    return out;
}

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
