// tavro3's node index: the records of one volume, their ids and their names, shared by the
// units that find, make and free node records. Every function here runs with the volume lock
// held unless its name says otherwise.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "tavro.h"

struct NodeIndex {
    // Key: the directory's id (8 bytes) followed by the case-folded name.
    std::unordered_map<std::string, vnode*> names;
    std::unordered_set<vnode*> live;
    // Case-folded device path (no trailing separator) -> node id.
    std::unordered_map<std::string, vnode_id> numbers;
};

// A fresh node id, never given before.
[[nodiscard]] vnode_id new_node_id();
// Makes a record's id find it (node_of), or find nothing any more.
void register_node(vnode* node);
void unregister_node(vnode* node);
// The case-folded form of a name or path; a path loses its trailing separators.
[[nodiscard]] std::string fold(const char* text);
// The index key of `name` in directory `dir`.
[[nodiscard]] std::string name_key(int64 dir, const char* name);
vnode* find_name_locked(volume* vol, int64 dir, const char* name);
// A new record named `name`, or null when there is no memory.
vnode* new_node(const char* name);
void free_node(vnode* node);
// Frees a record and drops it from the live set and the id table.
void free_node_locked(volume* vol, vnode* node);
// A removed directory is kept while records below it remain; the last of them frees it.
void release_orphans_locked(volume* vol, vnode* dir);
