// The mount client's configuration record. There is one, `configs`, shared by the client thread
// (which reads it while a connection starts) and the configuration view (which edits it).
#pragma once

#include <cstring>

#include "platform/SupportDefs.h"

#define CONFIG_TEXT_LENGTH 256

struct CONFIG_VAR {
    uint8 debug;  // boolean: write the debug log, and hand its path to the file systems
    char debugFile[CONFIG_TEXT_LENGTH];
    char mountPoint[CONFIG_TEXT_LENGTH];  // the mount root
};

static_assert(sizeof(CONFIG_VAR) == 1 + 2 * CONFIG_TEXT_LENGTH);

#define CONFIG_DEFAULT_DEBUG_FILE "/var/log/rfsv-client.log"
#define CONFIG_DEFAULT_MOUNT_ROOT "/mnt/psion"

// Puts the defaults into a record: no debug log, the default log file and mount root. Only the
// texts and their NULs are written: the bytes behind stay as they are.
inline void set_default_config(CONFIG_VAR* config) {
    config->debug = 0;
    memcpy(config->debugFile, CONFIG_DEFAULT_DEBUG_FILE, sizeof(CONFIG_DEFAULT_DEBUG_FILE));
    memcpy(config->mountPoint, CONFIG_DEFAULT_MOUNT_ROOT, sizeof(CONFIG_DEFAULT_MOUNT_ROOT));
}

// The add-on's one record. A global of the add-on, not one of its exports: the host reaches it
// only through the settings view (ConfigView).
extern "C" CONFIG_VAR configs;
