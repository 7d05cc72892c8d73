#include "host/Settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vantrel {

namespace {

// The mount client's record as it lies in its image.
struct ConfigRecord {
    uint8 debug;
    char debugFile[256];
    char mountPoint[256];
};
static_assert(sizeof(ConfigRecord) == 513);

ConfigRecord* RecordOf(const AddOn& addOn) {
    return static_cast<ConfigRecord*>(addOn.Symbol("configs"));
}

std::string FieldText(const char (&field)[256]) { return std::string(field, strnlen(field, 256)); }

void StoreField(char (&field)[256], const std::string& text) {
    size_t length = text.size();
    if (length > sizeof(field) - 1) {
        length = sizeof(field) - 1;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    memcpy(field, text.data(), length);
    field[length] = '\0';
}

std::string Escape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return escaped;
}

std::string Unescape(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        char next = text[++i];
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

std::string DefaultSettingsFolder() {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/tavro";
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/tavro";
    return "";
}

std::string SettingsFile(const std::string& folder, const AddOn& addOn) {
    return folder + "/" + addOn.Name() + ".conf";
}

bool HasSettings(const AddOn& addOn) { return RecordOf(addOn) != nullptr; }

status_t LoadSettings(const AddOn& addOn, const std::string& folder) {
    ConfigRecord* record = RecordOf(addOn);
    if (record == nullptr) return B_NAME_NOT_FOUND;
    std::ifstream in(SettingsFile(folder, addOn));
    if (!in) return B_ENTRY_NOT_FOUND;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        std::string value = Unescape(line.substr(equals + 1));
        if (key == "debug")
            record->debug = value == "on" ? 1 : 0;
        else if (key == "debug-file")
            StoreField(record->debugFile, value);
        else if (key == "mount-root")
            StoreField(record->mountPoint, value);
    }
    return B_OK;
}

std::string DescribeSettings(const AddOn& addOn) {
    ConfigRecord* record = RecordOf(addOn);
    if (record == nullptr) return "";
    std::ostringstream text;
    text << "debug=" << (record->debug ? "on" : "off") << "\n";
    text << "debug-file=" << Escape(FieldText(record->debugFile)) << "\n";
    text << "mount-root=" << Escape(FieldText(record->mountPoint)) << "\n";
    return text.str();
}

status_t SaveSettings(const AddOn& addOn, const std::string& folder) {
    if (RecordOf(addOn) == nullptr) return B_NAME_NOT_FOUND;
    if (folder.empty() || folder[0] != '/') return B_BAD_VALUE;
    status_t status = MakeFolder(folder);
    if (status != B_OK) return status;

    std::string file = SettingsFile(folder, addOn);
    std::string temporary = file + ".new";
    FILE* out = fopen(temporary.c_str(), "w");
    if (out == nullptr) return StatusOfErrno();
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
