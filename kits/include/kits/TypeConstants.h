// Type codes of message fields: four characters packed into 32 bits.
#pragma once

#include "platform/SupportDefs.h"

enum : type_code {
    B_ANY_TYPE = 'ANYT',  // matches every type in Find calls
    B_BOOL_TYPE = 'BOOL',
    B_INT8_TYPE = 'BYTE',
    B_INT16_TYPE = 'SHRT',
    B_INT32_TYPE = 'LONG',
    B_INT64_TYPE = 'LLNG',
    B_MESSENGER_TYPE = 'MSNG',
    B_POINTER_TYPE = 'PNTR',
    B_RAW_TYPE = 'RAWT',
    B_REF_TYPE = 'RREF',  // entry_ref, stored flattened by the storage kit
    B_STRING_TYPE = 'CSTR',
};
