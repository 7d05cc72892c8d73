#include "host/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vantrel {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Unescape(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        char next = text[++i];
        if (next == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
            HexDigit(text[i + 2]) >= 0) {
            plain += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
            continue;
        }
        plain += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return plain;
}

status_t StatusOfErrno() {
    switch (errno) {
        case ENOENT:
            return B_ENTRY_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return B_PERMISSION_DENIED;
        case ENOTDIR:
            return B_NOT_A_DIRECTORY;
        case EISDIR:
            return B_IS_A_DIRECTORY;
        default:
            return B_IO_ERROR;
    }
}

// mkdir -p, private to the user: the folder may hold paths the user would rather keep.
status_t MakeFolder(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        std::string prefix = folder.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return StatusOfErrno();
        if (slash == std::string::npos) return B_OK;
    }
}

}  // namespace

bool ParseSwitchWord(const std::string& text, bool& on) {
    if (text == "on" || text == "yes" || text == "true" || text == "1") {
        on = true;
        return true;
    }
    if (text == "off" || text == "no" || text == "false" || text == "0") {
        on = false;
        return true;
    }
    return false;
}

std::string Escape(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string escaped;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            escaped += "\\x";
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 15];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string DefaultSettingsFolder() {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/tavro";
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/tavro";
    return "";
}

std::string SettingsFile(const std::string& folder, const std::string& addOnName) {
    return folder + "/" + addOnName + ".conf";
}

std::string SettingsFile(const std::string& folder, const AddOn& addOn) {
    return SettingsFile(folder, addOn.Name());
}

status_t LoadSettings(const AddOn& addOn, const std::string& folder,
                      std::vector<std::string>* warnings) {
    if (!HasSettings(addOn)) return B_NAME_NOT_FOUND;
    int fd = open(SettingsFile(folder, addOn).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return StatusOfErrno();
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        bool directory = S_ISDIR(st.st_mode);
        close(fd);
        return directory ? B_IS_A_DIRECTORY : B_NOT_ALLOWED;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            status_t status = StatusOfErrno();
            close(fd);
            return status;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    close(fd);

    auto warn = [&](size_t number, const std::string& what) {
        if (warnings != nullptr)
            warnings->push_back("line " + std::to_string(number) + ": " + what);
    };
    std::vector<SettingChange> changes;
    size_t number = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            warn(number, "ends in a carriage return (a DOS line end); read without it");
        }
        if (line.empty() || line[0] == '#') continue;
        if (line.find('\0') != std::string::npos) {
            warn(number, "holds a NUL byte; ignored");
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            warn(number, "is not KEY=VALUE; ignored: " + Escape(line));
            continue;
        }
        std::string key = line.substr(0, equals);
        std::string value = Unescape(line.substr(equals + 1));
        std::string problem = CheckSetting(key, value);
        if (!problem.empty()) {
            warn(number, problem + "; ignored");
            continue;
        }
        changes.push_back({key, value});
    }
    std::string error;
    return ApplyThroughConfigView(addOn, changes, error);
}

status_t SaveSettings(const AddOn& addOn, const std::string& folder) {
    if (!HasSettings(addOn)) return B_NAME_NOT_FOUND;
    if (folder.empty() || folder[0] != '/') return B_BAD_VALUE;
    status_t status = MakeFolder(folder);
    if (status != B_OK) return status;

    std::string file = SettingsFile(folder, addOn);
    // A name of its own per writer: several `config` runs at once never share one, and the
    // last to finish wins whole.
    std::string temporary = file + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) return StatusOfErrno();
    FILE* out = fdopen(fd, "w");
    if (out == nullptr) {
        status = StatusOfErrno();
        close(fd);
        unlink(temporary.c_str());
        return status;
    }
    std::string text = "# Settings of the " + addOn.Name() + " add-on, kept by vantrel.\n" +
                       DescribeSettings(addOn);
    bool written = fwrite(text.data(), 1, text.size(), out) == text.size();
    written = fflush(out) == 0 && written;
    written = fsync(fileno(out)) == 0 && written;
    if (fclose(out) != 0) written = false;
    if (!written || rename(temporary.c_str(), file.c_str()) != 0) {
        status = written ? StatusOfErrno() : B_IO_ERROR;
        unlink(temporary.c_str());
        return status;
    }
    return B_OK;
}

}  // namespace vantrel
