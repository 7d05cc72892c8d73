// tavro5: the in-memory attribute store and the MIME type of each file. The handheld keeps
// no attributes of ours; they live on the node records and go with them.
#include <strings.h>

#include <cstring>
#include <new>

#include "tavro5.h"

namespace tavro5 {

namespace {

constexpr off_t kAttributeLimit = off_t{1} << 24;

struct by_extension {
    const char* extension;
    const char* type;
};

// Files the Series 3 programs made, which a Series 5 still reads, and common exchange types.
const by_extension kExtensions[] = {
    {".agn", "application/x-vnd.zk.psion-agn"}, {".app", "application/x-vnd.zk.psion-app"},
    {".img", "application/x-vnd.zk.psion-img"}, {".opa", "application/x-vnd.zk.psion-opa"},
    {".opl", "application/x-vnd.zk.psion-opl"}, {".opo", "application/x-vnd.zk.psion-opo"},
    {".dbf", "application/x-vnd.zk.psion-dbf"}, {".pic", "application/x-vnd.zk.psion-pic"},
    {".spr", "application/x-vnd.zk.psion-spr"}, {".jot", "application/x-vnd.zk.psion-jot"},
    {".wld", "application/x-vnd.zk.psion-wld"}, {".wrd", "text/x-vnd.zk.psion-wrd"},
    {".txt", "text/x-vnd.zk.psion-txt"},        {".wve", "audio/x-vnd.zk.psion-wve"},
    {".grp", "application/x-vnd.zk.psion-grp"}, {".mbm", "image/x-vnd.zk.psion-mbm"},
    {".opx", "application/x-vnd.zk.psion-opx"}, {".aif", "application/x-vnd.zk.psion-aif"},
};

// A Series 5 document names the program that made it in its third file type id, and often
// has no extension at all. These ids are the family's built-in programs as documents carry
// them; a wrong one only costs a generic type.
struct by_uid {
    uint32 uid3;
    const char* type;
};
const by_uid kPrograms[] = {
    {0x1000007D, "image/x-vnd.zk.psion5-sketch"},
    {0x1000007E, "audio/x-vnd.zk.psion5-record"},
    {0x10000084, "application/x-vnd.zk.psion5-agenda"},
    {0x10000085, "application/x-vnd.zk.psion5-word"},
    {0x10000086, "application/x-vnd.zk.psion5-data"},
    {0x10000088, "application/x-vnd.zk.psion5-sheet"},
};

constexpr const char* kDefaultType = "application/x-vnd.zk.psion";

attribute* find(node* n, const char* name) {
    for (attribute& a : n->attrs)
        if (a.name == name) return &a;
    return nullptr;
}

}  // namespace

const char* mime_type_for(const std::string& name, const uint32 uid[3]) {
    for (const by_uid& program : kPrograms)
        if (uid[2] == program.uid3) return program.type;
    for (const by_extension& entry : kExtensions) {
        size_t e = strlen(entry.extension);
        if (name.size() > e && strcasecmp(name.c_str() + name.size() - e, entry.extension) == 0)
            return entry.type;
    }
    return kDefaultType;
}

void set_type_locked(node* n) {
    if (n->directory()) return;
    const char* type = mime_type_for(n->name, n->uid);
    std::vector<uint8> value(type, type + strlen(type) + 1);
    attribute* a = find(n, kTypeAttribute);
    if (a != nullptr) {
        a->type = B_MIME_STRING_TYPE;
        a->data = value;
    } else {
        n->attrs.push_back({kTypeAttribute, B_MIME_STRING_TYPE, value});
    }
}

}  // namespace tavro5

using namespace tavro5;

int t5_write_attr(void* ns, void* node_, const char* name, int type, const void* buf, size_t* len,
                  off_t pos) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    if (n == nullptr) return B_ENTRY_NOT_FOUND;
    if (name == nullptr || name[0] == '\0' || pos < 0 ||
        *len > static_cast<size_t>(kAttributeLimit) ||
        pos > kAttributeLimit - static_cast<off_t>(*len))
        return B_BAD_VALUE;
    {
        std::lock_guard<std::mutex> hold(vol->lock);
        attribute* a = find(n, name);
        if (a == nullptr) {
            n->attrs.push_back({name, static_cast<uint32>(type), {}});
            a = &n->attrs.back();
        }
        a->type = static_cast<uint32>(type);
        // A write ends the attribute at its end; bytes before the position read as zero.
        a->data.resize(static_cast<size_t>(pos) + *len, 0);
        if (*len > 0) memcpy(a->data.data() + pos, buf, *len);
    }
    notify_change(B_ATTR_CHANGED, vol, 0, 0, n->id, name);
    return B_OK;
}

int t5_read_attr(void* ns, void* node_, const char* name, int, void* buf, size_t* len, off_t pos) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    if (n == nullptr) return B_ENTRY_NOT_FOUND;
    if (pos < 0) {
        *len = 0;
        return B_BAD_VALUE;
    }
    std::lock_guard<std::mutex> hold(vol->lock);
    attribute* a = find(n, name);
    if (a == nullptr) {
        *len = 0;
        return B_ENTRY_NOT_FOUND;
    }
    size_t count = 0;
    if (static_cast<size_t>(pos) < a->data.size()) {
        count = a->data.size() - static_cast<size_t>(pos);
        if (count > *len) count = *len;
        memcpy(buf, a->data.data() + pos, count);
    }
    *len = count;
    return B_OK;
}

int t5_remove_attr(void* ns, void* node_, const char* name) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    if (n == nullptr) return B_ENTRY_NOT_FOUND;
    std::lock_guard<std::mutex> hold(vol->lock);
    for (auto at = n->attrs.begin(); at != n->attrs.end(); ++at) {
        if (at->name == name) {
            n->attrs.erase(at);
            return B_OK;
        }
    }
    return B_ENTRY_NOT_FOUND;
}

int t5_rename_attr(void* ns, void* node_, const char* oldname, const char* newname) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    if (n == nullptr) return B_ENTRY_NOT_FOUND;
    std::lock_guard<std::mutex> hold(vol->lock);
    attribute* a = find(n, oldname);
    if (a == nullptr) return B_ENTRY_NOT_FOUND;
    if (find(n, newname) != nullptr) return B_FILE_EXISTS;
    a->name = newname;
    return B_OK;
}

int t5_stat_attr(void* ns, void* node_, const char* name, attr_info* info) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    if (n == nullptr) return B_ENTRY_NOT_FOUND;
    std::lock_guard<std::mutex> hold(vol->lock);
    attribute* a = find(n, name);
    if (a == nullptr) return B_ENTRY_NOT_FOUND;
    info->type = a->type;
    info->size = static_cast<int64>(a->data.size());
    return B_OK;
}

int t5_open_attrdir(void*, void* node_, void** cookie) {
    if (node_ == nullptr) return B_ENTRY_NOT_FOUND;
    attrdir_cookie* c = new (std::nothrow) attrdir_cookie;
    if (c == nullptr) return B_NO_MEMORY;
    *cookie = c;
    return B_OK;
}

int t5_close_attrdir(void*, void*, void*) { return B_OK; }

int t5_free_attrdircookie(void*, void*, void* cookie) {
    delete static_cast<attrdir_cookie*>(cookie);
    return B_OK;
}

int t5_rewind_attrdir(void*, void*, void* cookie) {
    if (cookie == nullptr) return B_BAD_VALUE;
    static_cast<attrdir_cookie*>(cookie)->index = 0;
    return B_OK;
}

int t5_read_attrdir(void* ns, void* node_, void* cookie_, long* num, be_dirent* entry,
                    size_t bufsize) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    attrdir_cookie* c = static_cast<attrdir_cookie*>(cookie_);
    if (n == nullptr) return B_ENTRY_NOT_FOUND;
    if (c == nullptr) return B_BAD_VALUE;
    size_t room = be_dirent_name_room(bufsize);
    std::lock_guard<std::mutex> hold(vol->lock);
    *num = 0;
    // A name that does not fit the caller's entry is passed over, never cut.
    while (c->index < n->attrs.size() && n->attrs[c->index].name.size() + 1 > room) c->index++;
    if (c->index < n->attrs.size()) {
        const attribute& a = n->attrs[c->index++];
        be_attr_dirent(entry, vol->nsid, n->id, a.name.c_str(), a.data.size());
        *num = 1;
    }
    return B_OK;
}
