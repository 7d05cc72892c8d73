// tavro5: the Series 5 file system. The records every unit shares, and the functions the
// units call in one another.
//
// Node ids are numbers handed out by the volume, never addresses: an id that outlived its
// record is refused, not followed. Lock order: a cookie's `lock`, then the volume's `lock`.
// The volume lock is never held across a request to the device nor across a call into the
// kernel (which may call straight back into write_vnode or remove_vnode).
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "epoc_wire.h"
#include "kernel/fs_interface.h"
#include "platform/MountBlock.h"
#include "platform/OS.h"
#include "platform/SupportDefs.h"

namespace tavro5 {

struct attribute {
    std::string name;
    uint32 type;
    std::vector<uint8> data;
};

struct node {
    vnode_id id;
    vnode_id parent;   // 0 for the root
    std::string name;  // UTF-8, as the handheld stores it
    std::string wire;  // the same name in wire bytes
    uint32 attributes = 0;
    uint64 size = 0;
    uint64 modified = 0;  // the handheld's time
    uint32 uid[3] = {0, 0, 0};
    std::vector<attribute> attrs;
    int32 children = 0;      // records whose parent this is
    bool published = false;  // the kernel holds it
    bool removed = false;    // gone from the handheld
    bool named = false;      // in the volume's name index
    // Something about it may have changed without our knowing (a request whose reply was
    // lost): the next stat asks the handheld again.
    bool stale = false;

    // Fixed when the record is made (a name that changes kind gets a new record), so it is
    // read without the volume lock.
    bool is_directory = false;

    bool directory() const { return is_directory; }
};

// One per open file or directory listing.
struct cookie {
    uint32 handle = 0;
    bool has_handle = false;
    uint32 session = 0;  // the session the handle belongs to: it means nothing in another
    bool append = false;
    bool writable = false;
    // Where the handheld's file position is, or -1 when a failed request left it unknown.
    int64 position = 0;
    // Listing: the last read dir reply and the next entry in it.
    std::vector<uint8> buffer;
    size_t offset = 0;
    int32 seeds = 0;  // "." and ".." given so far
    bool ended = false;
    std::mutex lock;
};

struct attrdir_cookie {
    size_t index = 0;
};

struct volume {
    nspace_id nsid = 0;
    port_id writePort = -1;  // the host's request port
    // The volume's own session with the handheld's file service: its own reply port and
    // channel, so that the session can be ended and begun again (the handheld then drops
    // every handle of the session) without touching any other user of the link.
    port_id replyPort = -1;
    uint16 channel = 0;  // 0 while there is no session
    char drive = 'C';
    std::atomic<bool> connected{true};
    std::atomic<uint16> next_opid{1};
    bigtime_t timeout = 10000000;  // for each reply, and for a session to be opened

    // One request at a time on the session, and what it knows of the handles it holds
    // (both only under `transport`).
    std::mutex transport;
    int32 live_handles = 0;  // handed out to us and not closed since
    // An open or close lost its reply: the handheld may hold a handle nobody knows.
    bool handles_in_doubt = false;
    std::atomic<uint32> sessions_opened{0};  // the current session's number

    std::mutex lock;  // nodes, the name index, attributes, the volume information
    std::unordered_map<vnode_id, node*> nodes;
    std::unordered_map<std::string, vnode_id> names;  // parent id + folded wire name
    vnode_id next_id = 1;
    node* root = nullptr;
    bool have_info = false;
    epoc::volume_info info{};
};

// Gives back a kernel reference held here. The kernel refuses only ids it does not know, and
// a held reference keeps the id known.
inline void release_node(volume* vol, vnode_id id) { (void)put_vnode(vol->nsid, id); }
// Marks a node whose reference is held as removed; the reference keeps the id known.
inline void remove_node(volume* vol, vnode_id id) { (void)remove_vnode(vol->nsid, id); }
// Tells the node monitor of a change. A monitor that cannot be told leaves the volume as it is.
inline void notify_change(int op, volume* vol, vnode_id a, vnode_id b, vnode_id c,
                          const char* name) {
    (void)notify_listener(op, vol->nsid, a, b, c, name);
}

// --- transport and requests (tavro5_io) -------------------------------------------------------

// What a request does to the handles of the session.
enum class handle_use { none, opens, uses, closes };

// A request on a handle of a session that has ended: it is not sent.
constexpr status_t kHandleGone = B_FILE_ERROR;

// One request and its reply. B_OK when a reply came: its status is in `device_status` and
// its bytes in `reply`. Otherwise the request may or may not have been carried out. A request
// that `opens` a handle or `closes` one keeps the session's book of handles; `session` gets
// the number of the session it went on. One that `uses` or `closes` a handle goes only on the
// handle's `session`, else it fails with kHandleGone.
[[nodiscard]] status_t transact(volume* vol, uint8* request, size_t size, std::vector<uint8>* reply,
                                int32* device_status, handle_use use = handle_use::none,
                                uint32* session = nullptr);
// A request whose reply is only a status: our status for it.
[[nodiscard]] status_t simple_request(volume* vol, uint8* request, size_t size);
[[nodiscard]] status_t request_entry(volume* vol, const std::string& path, epoc::dir_entry* entry,
                                     std::vector<uint8>* reply);
[[nodiscard]] status_t request_volume(volume* vol, epoc::volume_info* info);
// Opens: the handle and the session it belongs to.
[[nodiscard]] status_t open_file(volume* vol, uint16 op, uint32 mode, const std::string& path,
                                 uint32* handle, uint32* session);
[[nodiscard]] status_t open_dir(volume* vol, uint32 attributes, const std::string& pattern,
                                uint32* handle, uint32* session);
// Closes a handle of `session`; nothing is sent when that session has ended.
status_t close_handle(volume* vol, uint32 handle, uint32 session);
// The volume's session: begun at mount, ended at unmount.
[[nodiscard]] status_t begin_session(volume* vol);
void end_session(volume* vol);

// --- nodes (tavro5) ----------------------------------------------------------------------------

std::string name_key(vnode_id parent, const std::string& wire);
node* find_node_locked(volume* vol, vnode_id id);
node* find_name_locked(volume* vol, vnode_id parent, const std::string& wire);
// The wire path of a node ("C:\DIR\FILE"; the root is "C:"), or B_NAME_TOO_LONG.
[[nodiscard]] status_t path_locked(volume* vol, const node* n, std::string* path);
[[nodiscard]] status_t child_path(volume* vol, const node* dir, const std::string& wire,
                                  std::string* path);
void apply_entry_locked(node* n, const epoc::dir_entry& entry);
void forget_name_locked(volume* vol, node* n);
void name_node_locked(volume* vol, node* n);
// Finds or makes the node for an entry of `dir`. Null when no memory; `id` gets its id.
node* node_for_entry(volume* vol, node* dir, const epoc::dir_entry& entry, vnode_id* id);
// Looks a name up (cache, else the handheld) and takes a kernel reference on its node.
[[nodiscard]] status_t get_named_node(volume* vol, node* dir, const char* name, vnode_id* id,
                                      node** out);
// Publishes a known node to the kernel (one reference for the caller).
[[nodiscard]] status_t publish(volume* vol, vnode_id id, node** out);
// Frees records nobody needs any more, from `n` up through its parents.
void release_locked(volume* vol, node* n);
bool is_below_locked(volume* vol, const node* n, const node* dir);

// --- attributes and types (tavro5_attr) --------------------------------------------------------

// The MIME type of a file: by its file type ids where they say more, else by its extension.
const char* mime_type_for(const std::string& name, const uint32 uid[3]);
void set_type_locked(node* n);
constexpr const char* kTypeAttribute = "BEOS:TYPE";

}  // namespace tavro5

// --- kernel hooks ------------------------------------------------------------------------------

int t5_mount(nspace_id nsid, const char* devname, unsigned long flags, void* parms, size_t len,
             void** ns, vnode_id* root);
int t5_unmount(void* ns);
int t5_rfsstat(void* ns, fs_info* info);
int t5_walk(void* ns, void* dir, const char* name, char** path, vnode_id* vnid);
int t5_read_vnode(void* ns, vnode_id vnid, char reenter, void** node);
int t5_write_vnode(void* ns, void* node, char reenter);
int t5_remove_vnode(void* ns, void* node, char reenter);
int t5_secure_vnode(void* ns, void* node);
int t5_access(void* ns, void* node, int mode);
int t5_readlink(void* ns, void* node, char* buf, size_t* bufsize);

int t5_opendir(void* ns, void* node, void** cookie);
int t5_closedir(void* ns, void* node, void* cookie);
int t5_free_dircookie(void* ns, void* node, void* cookie);
int t5_rewinddir(void* ns, void* node, void* cookie);
int t5_readdir(void* ns, void* node, void* cookie, long* num, be_dirent* buf, size_t bufsize);
int t5_mkdir(void* ns, void* dir, const char* name, int perms);
int t5_rmdir(void* ns, void* dir, const char* name);
int t5_unlink(void* ns, void* dir, const char* name);
int t5_rename(void* ns, void* olddir, const char* oldname, void* newdir, const char* newname);

int t5_create(void* ns, void* dir, const char* name, int omode, int perms, vnode_id* vnid,
              void** cookie);
int t5_open(void* ns, void* node, int omode, void** cookie);
int t5_close(void* ns, void* node, void* cookie);
int t5_free_cookie(void* ns, void* node, void* cookie);
int t5_read(void* ns, void* node, void* cookie, off_t pos, void* buf, size_t* len);
int t5_write(void* ns, void* node, void* cookie, off_t pos, const void* buf, size_t* len);
int t5_rstat(void* ns, void* node, be_stat* st);
int t5_wstat(void* ns, void* node, be_stat* st, long mask);

int t5_open_attrdir(void* ns, void* node, void** cookie);
int t5_close_attrdir(void* ns, void* node, void* cookie);
int t5_free_attrdircookie(void* ns, void* node, void* cookie);
int t5_rewind_attrdir(void* ns, void* node, void* cookie);
int t5_read_attrdir(void* ns, void* node, void* cookie, long* num, be_dirent* buf, size_t bufsize);
int t5_write_attr(void* ns, void* node, const char* name, int type, const void* buf, size_t* len,
                  off_t pos);
int t5_read_attr(void* ns, void* node, const char* name, int type, void* buf, size_t* len,
                 off_t pos);
int t5_remove_attr(void* ns, void* node, const char* name);
int t5_rename_attr(void* ns, void* node, const char* oldname, const char* newname);
int t5_stat_attr(void* ns, void* node, const char* name, attr_info* info);

extern "C" {
extern vnode_ops fs_entry;
extern int32 api_version;
}
