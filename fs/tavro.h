// tavro3: the records shared by every unit of the Series 3 file system, and the functions
// the units call in one another.
//
// Lock order: a cookie's `lock` first, then the volume's `lock`, then the transport semaphore
// `sem`. The volume `lock` is never held across a call into the kernel (new_vnode, get_vnode,
// put_vnode, remove_vnode, notify_listener), because the kernel may call straight back into
// write_vnode or remove_vnode, which take it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>

#include "kernel/fs_interface.h"
#include "platform/MountBlock.h"
#include "platform/OS.h"
#include "platform/SupportDefs.h"

// Every device path, with its NUL, fits in this many bytes; longer paths are refused.
constexpr size_t kPathBufferSize = 128;

struct attribute {
    attribute* next;
    char* name;
    uint32 type;
    int64 size;
    uint8* data;
};

struct vnode {
    int64 vnid;
    int64 parent;
    char* name;
    uint32 mode;
    uint32 size;
    uint32 mtime;
    // When mode, size and time last came from the device (FINFO or a listing).
    bigtime_t info_time;
    vnode* next;
    vnode* prev;  // for the first child: the directory itself
    vnode* children;
    attribute* attrs;
    uint8 removed;
    // Held by the kernel: published with new_vnode or handed out by read_vnode, until the
    // kernel gives it back with write_vnode.
    uint8 published;
    // Still linked into its directory's child list.
    uint8 listed;
    // The device no longer has the entry under this node's name (deleted, or never there):
    // nothing is left to delete when the kernel lets the node go.
    uint8 deleted;
    // A request on the entry failed without telling what it did: the size and mode shown are
    // asked of the device again before they are next reported.
    uint8 stale;
    // Files open through this node; while any is, its entry cannot be deleted on the device.
    int32 opens;
};

// The cookie's `offset` after a request on its handle failed: the device may or may not have
// moved, so the next access seeks first.
constexpr int32 kPositionUnknown = -1;

enum : uint8 { kListingBroken = 1 };

// One per open file or directory listing. `lock` makes each read or write atomic with the
// seek that positions it, when several threads share one open file.
struct filecookie {
    int32 handle;
    int32 offset;  // the device's position, or kPositionUnknown
    int32 length;
    uint8* buffer;
    uint8 ended;   // a listing: kListingBroken once a failure broke it off
    uint8 append;  // opened in append mode: the device writes at the end, whatever the position
    std::mutex lock;
};

struct attrcookie {
    int32 index;
};

struct NodeIndex;

struct volume {
    nspace_id nsid;
    port_id writePort;
    port_id readPort;
    uint16 channel;
    sem_id sem;   // transport semaphore, owned by the mount client
    sem_id lock;  // "PSION Device": node tree, name index and attribute lists
    char device[MNT_NAME_LENGTH];
    vnode* root;
    fs_info* info;
    std::atomic<uint8> connected;
    // How long send_command waits for a reply's size and then for the reply itself.
    bigtime_t sizeTimeout;
    bigtime_t replyTimeout;
    // Case-folded name lookup and the set of live records; guarded by `lock`.
    NodeIndex* index;
    // What the medium allows: kMediaUnknown until the device was asked.
    std::atomic<uint8> media;
    // Numbers the hidden names that unlinked, still open files are moved to; guarded by `lock`.
    uint32 asideSerial;
};

enum : uint8 { kMediaUnknown = 0, kMediaWritable = 1, kMediaReadOnly = 2 };

// B_READ_ONLY_DEVICE when the volume's medium cannot be changed (asked of the device once),
// otherwise B_OK. For changes the device never sees, such as attributes.
[[nodiscard]] status_t check_writable(volume* vol);

// --- names (tavro_names) ----------------------------------------------------------------------

// UTF-8 text to the device's character set (IBM code page 850) in `out` (`size` bytes with the
// NUL): B_OK, B_BAD_VALUE for text that is not UTF-8 or has a character the device's set
// lacks, B_NAME_TOO_LONG when it does not fit.
[[nodiscard]] status_t to_device_text(const char* text, char* out, size_t size);
// `length` bytes of device text to UTF-8 in `out`: false when it does not fit.
[[nodiscard]] bool from_device_text(const char* text, size_t length, char* out, size_t size);

// --- nodes and lookup (tavro) ----------------------------------------------------------------

// The record of a node id, or null when it has none (any more).
vnode* node_of(vnode_id id);
// Node numbers follow device paths: a rename carries them along (a replaced entry's number
// goes), a deletion drops them.
void move_numbers_locked(volume* vol, const char* from, const char* to);
void drop_numbers_locked(volume* vol, const char* path);

// Takes the volume lock; B_BAD_SEM_ID when it is gone.
[[nodiscard]] status_t lock_volume(volume* vol);
void unlock_volume(volume* vol);

// Holds the volume lock until the end of its scope, or until unlock() lets it go early (before
// a call into the kernel or the device). held() is false when the lock could not be taken.
class VolumeLock {
public:
    explicit VolumeLock(volume* vol) : vol_(vol), held_(lock_volume(vol) == B_OK) {}
    ~VolumeLock() { unlock(); }
    VolumeLock(const VolumeLock&) = delete;
    VolumeLock& operator=(const VolumeLock&) = delete;

    [[nodiscard]] bool held() const { return held_; }
    void unlock() {
        if (held_) unlock_volume(vol_);
        held_ = false;
    }

private:
    volume* vol_;
    bool held_;
};

// Gives back a kernel reference this file system holds. The kernel refuses only ids it does not
// know, and a held reference keeps the id known.
inline void release_node(volume* vol, vnode_id id) { (void)put_vnode(vol->nsid, id); }
// Tells the node monitor of a change. A monitor that cannot be told leaves the volume as it is,
// so the change stands.
inline void notify_change(int op, volume* vol, vnode_id a, vnode_id b, vnode_id c,
                          const char* name) {
    (void)notify_listener(op, vol->nsid, a, b, c, name);
}

// True for the node of a directory.
[[nodiscard]] inline bool is_directory(const vnode* node) { return (node->mode & B_S_IFDIR) != 0; }

// True when the name may be sent to the device as one path element: not empty, and free of
// the device's separator and wildcards.
[[nodiscard]] bool is_device_name(const char* name);

// Mode, size and time from the 16-byte directory entry header.
void setup_vnode(vnode* node, const uint8* entry);

// The volume's ioctl (tavro_refresh): B_IOCTL_REFRESH_STAT asks the device for a file's status
// with FINFO when what the node holds is older than the age given.
[[nodiscard]] int tavro_ioctl(void* ns, void* node, void* cookie, int cmd, void* buf, size_t len);

// Finds or makes the node `name` in directory `dir`. `entry` (a 16-byte directory entry
// header) refreshes or makes the node without a request. `why`, when given, receives the
// reason a null result has (B_ENTRY_NOT_FOUND, B_NAME_TOO_LONG, ...).
vnode* search_vnode(volume* vol, vnode_id* id, vnode_id dir, const char* name, const uint8* entry,
                    status_t* why = nullptr);

// Takes a kernel reference on a node create found or made: new_vnode for a record the kernel
// does not hold yet, get_vnode for one it holds (or took meanwhile through a concurrent lookup).
[[nodiscard]] status_t publish_node(volume* vol, vnode* node);
// What a reference taken by get_named_node is for.
enum class NodeUse : uint8 {
    kLookup,
    kWalk,     // refused with B_NOT_ALLOWED once the link is gone
    kCreated,  // the node of a file just made: published with new_vnode if the kernel lacks it
};
// Looks `name` up in `dir` and takes a kernel reference on its node, looking again when the
// record was released in between. `node`, when given, receives the node's record.
[[nodiscard]] status_t get_named_node(volume* vol, vnode_id dir, const char* name, vnode_id* id,
                                      NodeUse use, vnode** node = nullptr);

// The device path of a node into `path` (kPathBufferSize bytes): B_OK or B_NAME_TOO_LONG.
[[nodiscard]] status_t find_path(volume* vol, vnode* node, char* path);
[[nodiscard]] status_t find_path_locked(volume* vol, vnode* node, char* path);
// Appends `tail` to a path in a kPathBufferSize buffer: B_OK or B_NAME_TOO_LONG.
[[nodiscard]] status_t append_path(char* path, const char* tail);

// Drops the name of `node` from the lookup index and marks the node stale, after a request
// whose effect on it is unknown: the next lookup asks the device.
void forget_node_locked(volume* vol, vnode* node);
// The same for whatever node bears `name` in `dir`.
void forget_name_in_locked(volume* vol, vnode_id dir, const char* name);
// Asks the device for the entry of a stale node and refreshes the node from it.
void refresh_stale_node(volume* vol, vnode* node);
// Records where the device put a handle just opened in append mode: at the end of the file,
// whose offset is the node's size unless that is stale.
void place_append_handle(volume* vol, vnode* node, filecookie* cookie);
// Counts opens of a node's file up or down.
void count_open(volume* vol, vnode* node, int32 change);
// Opens a node (or, with O_CREAT and a name, a new entry in a directory node) on the device.
[[nodiscard]] int32 open_node(volume* vol, vnode* node, int omode, const char* name);

// Node records: the live set and the name index.
[[nodiscard]] bool node_is_live_locked(volume* vol, vnode* node);
void unlist_node_locked(volume* vol, vnode* node);
void list_node_locked(volume* vol, vnode* dir, vnode* node);
void rename_node_locked(volume* vol, vnode* node, vnode* newdir, char* newname);
void forget_name_locked(volume* vol, vnode* node);
// The node that bears `name` in `dir`, unlinked or not; null when none does.
vnode* lookup_name_locked(volume* vol, vnode_id dir, const char* name);
// True when `name` in `dir` belongs to an unlinked node whose file awaits its DELETE.
[[nodiscard]] bool name_pending_delete(volume* vol, vnode_id dir, const char* name);

// --- kernel hooks -----------------------------------------------------------------------------

[[nodiscard]] int fs_mount(nspace_id nsid, const char* devname, unsigned long flags, void* parms,
                           size_t len, void** ns, vnode_id* root);
[[nodiscard]] int fs_unmount(void* ns);
[[nodiscard]] int fs_rfsstat(void* ns, fs_info* info);
[[nodiscard]] int fs_walk(void* ns, void* dir, const char* name, char** path, vnode_id* vnid);
[[nodiscard]] int fs_read_vnode(void* ns, vnode_id vnid, char reenter, void** node);
[[nodiscard]] int fs_write_vnode(void* ns, void* node, char reenter);
[[nodiscard]] int fs_remove_vnode(void* ns, void* node, char reenter);
[[nodiscard]] int fs_secure_vnode(void* ns, void* node);
[[nodiscard]] int fs_access(void* ns, void* node, int mode);
[[nodiscard]] int fs_readlink(void* ns, void* node, char* buf, size_t* bufsize);
[[nodiscard]] int fs_open(void* ns, void* node, int omode, void** cookie);

// --- entries on the device (tavro_entries) ---------------------------------------------------

// "." or "..".
[[nodiscard]] bool is_dot_name(const char* name);
// A node's mode, or 0 when the volume lock is gone.
[[nodiscard]] uint32 mode_of(volume* vol, vnode* node);
// The device path of `name` in `dir`, or B_NAME_TOO_LONG when it does not fit.
[[nodiscard]] status_t entry_path(volume* vol, vnode* dir, const char* name, char* path);
// True when the device says it has no entry at `path` (a folder's path may end in its
// separator).
[[nodiscard]] bool entry_absent(volume* vol, const char* path);
// True when the device shows that a rename from `from` to `to` was carried out.
[[nodiscard]] bool rename_took_effect(volume* vol, const char* from, const char* to);

// --- directories and namespace changes (tavro_listing, tavro_remove, tavro_rename) ------------

// Closes the handle of a listing, whatever became of the listing; a close that goes wrong is
// owed and sent again with the next open.
void close_listing_handle(volume* vol, int32 handle);

[[nodiscard]] int tavro_opendir(void* ns, void* node, void** cookie);
[[nodiscard]] int tavro_closedir(void* ns, void* node, void* cookie);
[[nodiscard]] int tavro_free_dircookie(void* ns, void* node, void* cookie);
[[nodiscard]] int tavro_rewinddir(void* ns, void* node, void* cookie);
[[nodiscard]] int tavro_readdir(void* ns, void* node, void* cookie, long* num, be_dirent* buf,
                                size_t bufsize);
[[nodiscard]] int tavro_mkdir(void* ns, void* dir, const char* name, int perms);
[[nodiscard]] int tavro_rmdir(void* ns, void* dir, const char* name);
[[nodiscard]] int tavro_unlink(void* ns, void* dir, const char* name);
[[nodiscard]] int fs_rename(void* ns, void* olddir, const char* oldname, void* newdir,
                            const char* newname);

// --- files and stat (tavro_file) ---------------------------------------------------------------

[[nodiscard]] int tavro_create(void* ns, void* dir, const char* name, int omode, int perms,
                               vnode_id* vnid, void** cookie);
[[nodiscard]] int tavro_read(void* ns, void* node, void* cookie, off_t pos, void* buf, size_t* len);
[[nodiscard]] int tavro_write(void* ns, void* node, void* cookie, off_t pos, const void* buf,
                              size_t* len);
[[nodiscard]] int tavro_close(void* ns, void* node, void* cookie);
[[nodiscard]] int tavro_free_cookie(void* ns, void* node, void* cookie);
[[nodiscard]] int tavro_rstat(void* ns, void* node, be_stat* st);
[[nodiscard]] int tavro_wstat(void* ns, void* node, be_stat* st, long mask);

// --- attributes and MIME typing (tavro_attr) ---------------------------------------------------

[[nodiscard]] int tavro_open_attrdir(void* ns, void* node, void** cookie);
[[nodiscard]] int tavro_close_attrdir(void* ns, void* node, void* cookie);
[[nodiscard]] int tavro_free_attrdircookie(void* ns, void* node, void* cookie);
[[nodiscard]] int tavro_rewind_attrdir(void* ns, void* node, void* cookie);
[[nodiscard]] int tavro_read_attrdir(void* ns, void* node, void* cookie, long* num, be_dirent* buf,
                                     size_t bufsize);
[[nodiscard]] int tavro_write_attr(void* ns, void* node, const char* name, int type,
                                   const void* buf, size_t* len, off_t pos);
[[nodiscard]] int tavro_read_attr(void* ns, void* node, const char* name, int type, void* buf,
                                  size_t* len, off_t pos);
[[nodiscard]] int tavro_remove_attr(void* ns, void* node, const char* name);
[[nodiscard]] int tavro_rename_attr(void* ns, void* node, const char* oldname, const char* newname);
[[nodiscard]] int tavro_stat_attr(void* ns, void* node, const char* name, attr_info* info);
// The same three changes as the kernel makes them: refused on read-only media.
[[nodiscard]] int fs_write_attr(void* ns, void* node, const char* name, int type, const void* buf,
                                size_t* len, off_t pos);
[[nodiscard]] int fs_remove_attr(void* ns, void* node, const char* name);
[[nodiscard]] int fs_rename_attr(void* ns, void* node, const char* oldname, const char* newname);
void free_all_attr(attribute* head);
[[nodiscard]] int set_mime_type(volume* vol, vnode* node);
// The MIME type a file name gets, or null when none matches.
const char* mime_type_for(const char* name);
// The root's type and icons, written at mount.
[[nodiscard]] status_t write_volume_attrs(volume* vol, vnode* root);

extern const std::array<uint8, 1024> kLargePsionIconBits;
extern const std::array<uint8, 256> kSmallPsionIconBits;
constexpr int32 kLargePsionIconWidth = 32;
constexpr int32 kLargePsionIconHeight = 32;
constexpr int32 kSmallPsionIconWidth = 16;
constexpr int32 kSmallPsionIconHeight = 16;

// --- the operation table -----------------------------------------------------------------------

extern "C" {
extern vnode_ops fs_entry;
extern int32 api_version;
}
