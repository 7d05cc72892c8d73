// Limits and node flavours of the storage kit.
#pragma once

#define B_FILE_NAME_LENGTH 256
#define B_PATH_NAME_LENGTH 1024

enum node_flavor {
    B_FILE_NODE = 0x01,
    B_SYMLINK_NODE = 0x02,
    B_DIRECTORY_NODE = 0x04,
    B_ANY_NODE = 0x07,
};
