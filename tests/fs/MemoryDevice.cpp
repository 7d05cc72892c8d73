#include "MemoryDevice.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/ByteOrder.h"
#include "tavro_rfsv.h"

namespace {

std::string TextAt(const Bytes& request, size_t offset, size_t* end = nullptr) {
    std::string out;
    size_t at = offset;
    while (at < request.size() && request[at] != 0) out.push_back(static_cast<char>(request[at++]));
    if (end != nullptr) *end = at + 1;
    return out;
}

}  // namespace

std::string MemoryDevice::Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    while (text.size() > 2 && text.back() == '\\') text.pop_back();
    return text;
}

std::string MemoryDevice::Parent(const std::string& path) const {
    size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool MemoryDevice::IsOpen(const std::string& path) const {
    if (heldElsewhere_.count(path) != 0) return true;
    for (const auto& [number, handle] : handles_)
        if (!handle.listing && handle.path == path) return true;
    return false;
}

size_t MemoryDevice::OpenHandles() const {
    std::lock_guard<std::mutex> hold(lock_);
    return handles_.size();
}

void MemoryDevice::HoldOpen(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock_);
    heldElsewhere_.insert(Upper(path));
}

void MemoryDevice::MakeReadOnly() {
    std::lock_guard<std::mutex> hold(lock_);
    readOnly_ = true;
}

void MemoryDevice::AddFile(const std::string& path, const Bytes& content) {
    std::lock_guard<std::mutex> hold(lock_);
    files_[Upper(path)] = content;
}

void MemoryDevice::AddFolder(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock_);
    folders_.insert(Upper(path));
}

bool MemoryDevice::Exists(const std::string& path) const {
    std::lock_guard<std::mutex> hold(lock_);
    std::string key = Upper(path);
    return files_.count(key) != 0 || folders_.count(key) != 0;
}

std::optional<Bytes> MemoryDevice::File(const std::string& path) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = files_.find(Upper(path));
    if (found == files_.end()) return std::nullopt;
    return found->second;
}

std::optional<Bytes> MemoryDevice::Answer(const Bytes& request) {
    std::lock_guard<std::mutex> hold(lock_);
    return AnswerLocked(request);
}

std::optional<Bytes> MemoryDevice::AnswerLocked(const Bytes& request) {
    if (request.size() < 4) return Reply(-2);
    uint16 opcode = BytesToUword(request.data());
    auto handleAt = [&](size_t offset) -> Handle* {
        if (request.size() < offset + 2) return nullptr;
        auto found = handles_.find(BytesToUword(request.data() + offset));
        return found == handles_.end() ? nullptr : &found->second;
    };
    switch (opcode) {
        case FOPEN: {
            uint16 mode = BytesToUword(request.data() + 4);
            std::string text = Upper(TextAt(request, 6));
            Handle handle;
            if (mode == 0x0030) {
                size_t star = text.rfind("\\*.*");
                if (star == std::string::npos) return Reply(-2);
                handle.path = text.substr(0, star);
                if (folders_.count(handle.path) == 0) return Reply(-42);
                handle.listing = true;
            } else {
                handle.path = text;
                if (folders_.count(Parent(text)) == 0) return Reply(-42);
                if (folders_.count(text) != 0) return Reply(-39);
                bool exists = files_.count(text) != 0;
                switch (mode & 0xF) {
                    case 0:
                        if (!exists) return Reply(-33);
                        break;
                    case 1:
                        if (exists) return Reply(-32);
                        if (readOnly_) return Reply(-65);
                        files_[text];
                        break;
                    case 2:
                        if (readOnly_) return Reply(-65);
                        files_[text].clear();
                        break;
                    case 3:
                        if (!exists && readOnly_) return Reply(-65);
                        handle.position = static_cast<uint32>(files_[text].size());
                        break;
                    default:
                        return Reply(-2);
                }
                handle.update = (mode & 0x0100) != 0;
            }
            while (handles_.count(nextHandle_) != 0) nextHandle_++;
            uint16 number = nextHandle_++;
            handles_[number] = handle;
            return Reply(0, Word(number));
        }
        case FCLOSE: {
            if (request.size() < 6) return Reply(-2);
            return handles_.erase(BytesToUword(request.data() + 4)) != 0 ? Reply(0) : Reply(-8);
        }
        case FREAD: {
            Handle* handle = handleAt(4);
            if (handle == nullptr || handle->listing || request.size() < 8) return Reply(-8);
            const Bytes& data = files_[handle->path];
            uint32 count = BytesToUword(request.data() + 6);
            if (handle->position >= data.size()) return Reply(-36);
            uint32 n = std::min<uint32>(count, static_cast<uint32>(data.size()) - handle->position);
            Bytes out(data.begin() + handle->position, data.begin() + handle->position + n);
            handle->position += n;
            return Reply(0, out);
        }
        case FWRITE: {
            Handle* handle = handleAt(4);
            if (handle == nullptr || handle->listing) return Reply(-8);
            if (readOnly_) return Reply(-65);
            if (!handle->update) return Reply(-39);
            Bytes& data = files_[handle->path];
            size_t count = request.size() - 6;
            if (data.size() < handle->position + count) data.resize(handle->position + count);
            std::copy(request.begin() + 6, request.end(), data.begin() + handle->position);
            handle->position += static_cast<uint32>(count);
            return Reply(0);
        }
        case FSEEK: {
            Handle* handle = handleAt(4);
            if (handle == nullptr || handle->listing || request.size() < 12) return Reply(-8);
            int32 offset = static_cast<int32>(BytesToUlong(request.data() + 6));
            uint16 mode = BytesToUword(request.data() + 10);
            int64 base = mode == 1   ? 0
                         : mode == 3 ? handle->position
                                     : static_cast<int64>(files_[handle->path].size());
            if (base + offset < 0) return Reply(-2);
            handle->position = static_cast<uint32>(base + offset);
            Bytes out(4);
            LongToBytes(handle->position, out.data());
            return Reply(0, out);
        }
        case FDIRREAD: {
            Handle* handle = handleAt(4);
            if (handle == nullptr || !handle->listing) return Reply(-8);
            std::vector<std::pair<std::string, bool>> entries;
            std::string prefix = handle->path + "\\";
            for (const auto& [path, data] : files_)
                if (Parent(path) == handle->path) entries.push_back({path, false});
            for (const auto& path : folders_)
                if (Parent(path) == handle->path) entries.push_back({path, true});
            if (handle->next >= entries.size()) return Reply(-36);
            Bytes out = {0, 0};
            // Three entries a reply, so that listings take several requests.
            for (int i = 0; i < 3 && handle->next < entries.size(); i++, handle->next++) {
                const auto& [path, folder] = entries[handle->next];
                std::string name = path.substr(prefix.size());
                uint32 size = folder ? 0 : static_cast<uint32>(files_[path].size());
                Bytes entry = Entry(folder ? 0x10 : 0x01, size, 0, name.c_str());
                out.insert(out.end(), entry.begin(), entry.end());
            }
            return Reply(0, out);
        }
        case FINFO: {
            std::string path = Upper(TextAt(request, 4));
            if (folders_.count(path) != 0) return Reply(0, Entry(0x10, 0, 0));
            auto found = files_.find(path);
            if (found == files_.end()) return Reply(-33);
            return Reply(0, Entry(0x01, static_cast<uint32>(found->second.size()), 0));
        }
        case DELETE: {
            std::string path = Upper(TextAt(request, 4));
            if (readOnly_) return Reply(-65);
            if (folders_.count(path) != 0) {
                for (const auto& [file, data] : files_)
                    if (Parent(file) == path) return Reply(-39);
                for (const auto& folder : folders_)
                    if (Parent(folder) == path) return Reply(-39);
                folders_.erase(path);
                return Reply(0);
            }
            if (files_.count(path) == 0) return Reply(-33);
            if (IsOpen(path)) return Reply(-39);
            files_.erase(path);
            return Reply(0);
        }
        case RENAME: {
            size_t end;
            std::string from = Upper(TextAt(request, 4, &end));
            std::string to = Upper(TextAt(request, end));
            if (readOnly_) return Reply(-65);
            auto exists = [&](const std::string& key) {
                return files_.count(key) != 0 || folders_.count(key) != 0;
            };
            if (!exists(from)) return Reply(-33);
            if (exists(to) && to != from) return Reply(-32);
            if (folders_.count(Parent(to)) == 0) return Reply(-42);
            auto move = [&](const std::string& path) { return to + path.substr(from.size()); };
            std::map<std::string, Bytes> files;
            for (auto& [path, data] : files_)
                files[path == from || path.rfind(from + "\\", 0) == 0 ? move(path) : path] = data;
            files_ = files;
            std::set<std::string> folders;
            for (const auto& path : folders_)
                folders.insert(path == from || path.rfind(from + "\\", 0) == 0 ? move(path) : path);
            folders_ = folders;
            for (auto& [number, handle] : handles_)
                if (handle.path == from) handle.path = to;
            return Reply(0);
        }
        case SFDATE: {
            std::string path = Upper(TextAt(request, 8));
            if (files_.count(path) == 0 && folders_.count(path) == 0) return Reply(-33);
            return readOnly_ ? Reply(-65) : Reply(0);
        }
        case FDEVICEINFO: {
            uint32 used = 0;
            for (const auto& [path, data] : files_) used += static_cast<uint32>(data.size());
            Bytes out(14, 0);
            out[2] = readOnly_ ? 6 : 4;  // media: write-protected or RAM
            LongToBytes(kCapacity, out.data() + 6);
            LongToBytes(kCapacity - used, out.data() + 10);
            for (char c : std::string("MEMORY")) out.push_back(static_cast<uint8>(c));
            out.push_back(0);
            return Reply(0, out);
        }
        case MKDIR: {
            std::string path = Upper(TextAt(request, 4));
            if (files_.count(path) != 0 || folders_.count(path) != 0) return Reply(-32);
            if (readOnly_) return Reply(-65);
            if (folders_.count(Parent(path)) == 0) return Reply(-42);
            folders_.insert(path);
            return Reply(0);
        }
        default:
            return Reply(-4);
    }
}
