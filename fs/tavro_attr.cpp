// tavro3: the in-memory attribute store and the MIME type each file gets from its extension.
// The device has no place for attributes; they live on the node records and go with them.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "tavro.h"

namespace {

// Attribute values are single allocations; their ends stay below 2 GiB.
constexpr off_t kAttributeLimit = off_t{1} << 31;

attribute* find_attr_locked(vnode* node, const char* name) {
    for (attribute* attr = node->attrs; attr != nullptr; attr = attr->next)
        if (strcmp(attr->name, name) == 0) return attr;
    return nullptr;
}

struct mime_pair {
    const char* extension;
    const char* type;
};

const mime_pair mimes[] = {
    {".agn", "application/x-vnd.zk.psion-agn"},
    {".app", "application/x-vnd.zk.psion-app"},
    {".img", "application/x-vnd.zk.psion-img"},
    {".opa", "application/x-vnd.zk.psion-opa"},
    {".opl", "application/x-vnd.zk.psion-opl"},
    {".opo", "application/x-vnd.zk.psion-opo"},
    {".dbf", "application/x-vnd.zk.psion-dbf"},
    {".pic", "application/x-vnd.zk.psion-pic"},
    {".spr", "application/x-vnd.zk.psion-spr"},
    {".jot", "application/x-vnd.zk.psion-jot"},
    {".wld", "application/x-vnd.zk.psion-wld"},
    {".wrd", "text/x-vnd.zk.psion-wrd"},
    {".txt", "text/x-vnd.zk.psion-txt"},
    {".wve", "audio/x-vnd.zk.psion-wve"},
    {".grp", "application/x-vnd.zk.psion-grp"},
    {"", "application/x-vnd.zk.psion"},
    {nullptr, nullptr},
};

constexpr const char* kTypeAttribute = "BEOS:TYPE";

}  // namespace

void free_all_attr(attribute* head) {
    while (head != nullptr) {
        attribute* next = head->next;
        free(head->name);
        free(head->data);
        delete head;
        head = next;
    }
}

int tavro_write_attr(void* ns, void* node_, const char* name, int type, const void* buf,
                     size_t* len, off_t pos) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(node_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (pos < 0 || pos >= kAttributeLimit || static_cast<off_t>(*len) > kAttributeLimit - pos)
        return B_BAD_VALUE;
    size_t end = static_cast<size_t>(pos) + *len;
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;

    attribute* attr = find_attr_locked(node, name);
    if (attr != nullptr) {
        if (static_cast<int64>(end) > attr->size) {
            uint8* data = static_cast<uint8*>(malloc(end));
            if (data == nullptr) {
                return B_NO_MEMORY;
            }
            memcpy(data, attr->data, static_cast<size_t>(attr->size));
            // Bytes between the old end and the position read as zero, not as old heap.
            memset(data + attr->size, 0, end - static_cast<size_t>(attr->size));
            free(attr->data);
            attr->data = data;
        }
    } else {
        attr = new (std::nothrow) attribute{};
        char* copy = attr != nullptr ? strdup(name) : nullptr;
        uint8* data = copy != nullptr ? static_cast<uint8*>(calloc(end > 0 ? end : 1, 1)) : nullptr;
        if (data == nullptr) {
            free(copy);
            delete attr;
            return B_NO_MEMORY;
        }
        attr->name = copy;
        attr->data = data;
        attr->type = static_cast<uint32>(type);
        attr->next = node->attrs;
        node->attrs = attr;
    }
    if (*len > 0) memcpy(attr->data + pos, buf, *len);
    // A write cuts the attribute at its end.
    attr->size = static_cast<int64>(end);
    vnode_id id = node->vnid;
    lock.unlock();
    notify_change(B_ATTR_CHANGED, vol, 0, 0, id, name);
    return B_OK;
}

int tavro_read_attr(void* ns, void* node_, const char* name, int, void* buf, size_t* len,
                    off_t pos) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(node_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (pos < 0) {
        *len = 0;
        return B_BAD_VALUE;
    }
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    attribute* attr = find_attr_locked(node, name);
    if (attr == nullptr) {
        lock.unlock();
        *len = 0;
        return B_ENTRY_NOT_FOUND;
    }
    size_t count = 0;
    if (pos < attr->size) {
        size_t left = static_cast<size_t>(attr->size - pos);
        count = *len < left ? *len : left;
        memcpy(buf, attr->data + pos, count);
    }
    *len = count;
    return B_OK;
}

int tavro_remove_attr(void* ns, void* node_, const char* name) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(node_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    for (attribute** link = &node->attrs; *link != nullptr; link = &(*link)->next) {
        attribute* attr = *link;
        if (strcmp(attr->name, name) != 0) continue;
        *link = attr->next;
        attr->next = nullptr;
        lock.unlock();
        free_all_attr(attr);
        return B_OK;
    }
    return B_ENTRY_NOT_FOUND;
}

int tavro_rename_attr(void* ns, void* node_, const char* oldname, const char* newname) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(node_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    attribute* attr = find_attr_locked(node, oldname);
    status_t status = B_ENTRY_NOT_FOUND;
    if (attr != nullptr) {
        char* copy = strdup(newname);
        status = B_NO_MEMORY;
        if (copy != nullptr) {
            free(attr->name);
            attr->name = copy;
            status = B_OK;
        }
    }
    return status;
}

int tavro_stat_attr(void* ns, void* node_, const char* name, attr_info* info) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(node_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    attribute* attr = find_attr_locked(node, name);
    if (attr != nullptr) {
        info->type = attr->type;
        info->size = attr->size;
    }
    return attr != nullptr ? B_OK : B_ENTRY_NOT_FOUND;
}

// --- attribute directories -----------------------------------------------------------------------

int tavro_open_attrdir(void* ns, void* node_, void** cookie) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(node_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    bool empty = node->attrs == nullptr;
    lock.unlock();
    if (empty) return B_BAD_VALUE;
    attrcookie* dir = new (std::nothrow) attrcookie{};
    if (dir == nullptr) return B_NO_MEMORY;
    *cookie = dir;
    return B_OK;
}

int tavro_close_attrdir(void*, void*, void* cookie) {
    if (cookie != nullptr) static_cast<attrcookie*>(cookie)->index = 0;
    return B_OK;
}

int tavro_free_attrdircookie(void* ns, void*, void* cookie) {
    volume* vol = static_cast<volume*>(ns);
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    status_t status = cookie != nullptr ? B_OK : B_BAD_VALUE;
    delete static_cast<attrcookie*>(cookie);
    return status;
}

int tavro_rewind_attrdir(void* ns, void*, void* cookie) {
    volume* vol = static_cast<volume*>(ns);
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    status_t status = B_BAD_VALUE;
    if (cookie != nullptr) {
        static_cast<attrcookie*>(cookie)->index = 0;
        status = B_OK;
    }
    return status;
}

int tavro_read_attrdir(void* ns, void* node_, void* cookie_, long* num, be_dirent* entry,
                       size_t bufsize) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(node_);
    attrcookie* cookie = static_cast<attrcookie*>(cookie_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (cookie == nullptr) return B_BAD_VALUE;
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    size_t room = be_dirent_name_room(bufsize);
    *num = 0;
    attribute* attr = node->attrs;
    for (int32 i = 0; attr != nullptr && i < cookie->index; i++) attr = attr->next;
    // A name that does not fit the caller's entry is passed over, never cut.
    while (attr != nullptr && strlen(attr->name) + 1 > room) {
        attr = attr->next;
        cookie->index++;
    }
    if (attr != nullptr) {
        be_attr_dirent(entry, vol->nsid, node->vnid, attr->name, attr->size);
        *num = 1;
        cookie->index++;
    }
    return B_OK;
}

// --- MIME typing ---------------------------------------------------------------------------------

const char* mime_type_for(const char* name) {
    size_t length = strlen(name);
    for (const mime_pair* pair = mimes; pair->extension != nullptr; pair++) {
        size_t extension = strlen(pair->extension);
        if (length > extension && strcasecmp(name + length - extension, pair->extension) == 0)
            return pair->type;
    }
    return nullptr;
}

int set_mime_type(volume* vol, vnode* node) {
    if (node->mode & B_S_IFDIR) return B_ERROR;
    const char* type = mime_type_for(node->name);
    if (type == nullptr) return B_ERROR;
    (void)tavro_remove_attr(vol, node, kTypeAttribute);
    size_t length = strlen(type) + 1;
    (void)tavro_write_attr(vol, node, kTypeAttribute, B_MIME_STRING_TYPE, type, &length, 0);
    return 0;
}

status_t write_volume_attrs(volume* vol, vnode* root) {
    static const char kVolumeType[] = "application/x-vnd.zk.psion-volume";
    struct {
        const char* name;
        uint32 type;
        const void* data;
        size_t length;
    } const attrs[] = {
        {"BEOS:L:STD_ICON", 0x49434F4E, kLargePsionIconBits.data(), kLargePsionIconBits.size()},
        {"BEOS:M:STD_ICON", 0x4D49434E, kSmallPsionIconBits.data(), kSmallPsionIconBits.size()},
        {kTypeAttribute, B_MIME_STRING_TYPE, kVolumeType, sizeof kVolumeType},
    };
    for (const auto& attr : attrs) {
        size_t length = attr.length;
        status_t status = tavro_write_attr(vol, root, attr.name, static_cast<int>(attr.type),
                                           attr.data, &length, 0);
        if (status != B_OK) return status;
    }
    return B_OK;
}

// The kernel's attribute changes: refused on a medium that cannot be changed, as every other
// change is. The add-on's own bookkeeping (types, the volume's icons) goes straight to the
// store.
int fs_write_attr(void* ns, void* node, const char* name, int type, const void* buf, size_t* len,
                  off_t pos) {
    status_t writable = check_writable(static_cast<volume*>(ns));
    if (writable != B_OK) {
        *len = 0;
        return writable;
    }
    return tavro_write_attr(ns, node, name, type, buf, len, pos);
}

int fs_remove_attr(void* ns, void* node, const char* name) {
    status_t writable = check_writable(static_cast<volume*>(ns));
    return writable != B_OK ? writable : tavro_remove_attr(ns, node, name);
}

int fs_rename_attr(void* ns, void* node, const char* oldname, const char* newname) {
    status_t writable = check_writable(static_cast<volume*>(ns));
    return writable != B_OK ? writable : tavro_rename_attr(ns, node, oldname, newname);
}
