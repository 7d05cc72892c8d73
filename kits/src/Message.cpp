// BMessage fields: storage, Add/Find/Replace. Delivery and flattening are in
// MessageDelivery.cpp.
#include "kits/Message.h"

#include <cstring>

#include "MessageWire.h"
#include "kits/Messenger.h"

using namespace kits_private;

namespace {

// What a messenger looks like inside a field.
struct FlatMessenger {
    port_id port;
    int32 token;
};

}  // namespace

BMessage::BMessage() : what(0) {}

BMessage::BMessage(uint32 what) : what(what) {}

BMessage::BMessage(const BMessage& other) : what(other.what), fFields(other.fFields) {}

BMessage& BMessage::operator=(const BMessage& other) {
    if (this != &other) {
        what = other.what;
        fFields = other.fFields;
    }
    return *this;
}

BMessage::Field* BMessage::_FindField(const char* name) {
    for (Field& field : fFields) {
        if (field.name == name) return &field;
    }
    return nullptr;
}

const BMessage::Field* BMessage::_FindField(const char* name) const {
    for (const Field& field : fFields) {
        if (field.name == name) return &field;
    }
    return nullptr;
}

status_t BMessage::GetInfo(const char* name, type_code* type, int32* count, bool* fixedSize) const {
    if (name == nullptr) return B_BAD_VALUE;
    const Field* field = _FindField(name);
    if (field == nullptr) return B_NAME_NOT_FOUND;
    if (type != nullptr) *type = field->type;
    if (count != nullptr) *count = static_cast<int32>(field->items.size());
    if (fixedSize != nullptr) *fixedSize = field->fixedSize;
    return B_OK;
}

int32 BMessage::CountNames(type_code type) const {
    int32 count = 0;
    for (const Field& field : fFields) {
        if (type == B_ANY_TYPE || field.type == type) count++;
    }
    return count;
}

bool BMessage::HasData(const char* name, type_code type, int32 index) const {
    const std::vector<uint8>* item;
    return _FindItem(name, type, index, &item) == B_OK;
}

bool BMessage::IsEmpty() const { return fFields.empty(); }

status_t BMessage::MakeEmpty() {
    fFields.clear();
    return B_OK;
}

status_t BMessage::RemoveName(const char* name) {
    if (name == nullptr) return B_BAD_VALUE;
    for (auto it = fFields.begin(); it != fFields.end(); ++it) {
        if (it->name == name) {
            fFields.erase(it);
            return B_OK;
        }
    }
    return B_NAME_NOT_FOUND;
}

status_t BMessage::AddData(const char* name, type_code type, const void* data, ssize_t numBytes,
                           bool isFixedSize, int32 /*numItems: a capacity hint only*/) {
    if (name == nullptr || numBytes < 0 || (data == nullptr && numBytes > 0) || type == B_ANY_TYPE)
        return B_BAD_VALUE;
    Field* field = _FindField(name);
    if (field != nullptr) {
        if (field->type != type) return B_BAD_TYPE;
        if (field->fixedSize && !field->items.empty() &&
            field->items.front().size() != static_cast<size_t>(numBytes))
            return B_BAD_VALUE;
    } else {
        fFields.push_back(Field{name, type, isFixedSize, {}});
        field = &fFields.back();
    }
    const uint8* bytes = static_cast<const uint8*>(data);
    field->items.emplace_back(bytes, bytes + numBytes);
    return B_OK;
}

status_t BMessage::_FindItem(const char* name, type_code type, int32 index,
                             const std::vector<uint8>** item) const {
    if (name == nullptr) return B_BAD_VALUE;
    const Field* field = _FindField(name);
    if (field == nullptr) return B_NAME_NOT_FOUND;
    if (type != B_ANY_TYPE && field->type != type) return B_BAD_TYPE;
    if (index < 0 || static_cast<size_t>(index) >= field->items.size()) return B_BAD_INDEX;
    *item = &field->items[index];
    return B_OK;
}

status_t BMessage::FindData(const char* name, type_code type, int32 index, const void** data,
                            ssize_t* numBytes) const {
    const std::vector<uint8>* item;
    status_t status = _FindItem(name, type, index, &item);
    if (status != B_OK) return status;
    // An item without bytes still gets a valid pointer, so callers can tell it from "none".
    static const uint8 kNoBytes = 0;
    if (data != nullptr) *data = item->empty() ? &kNoBytes : item->data();
    if (numBytes != nullptr) *numBytes = static_cast<ssize_t>(item->size());
    return B_OK;
}

status_t BMessage::FindData(const char* name, type_code type, const void** data,
                            ssize_t* numBytes) const {
    return FindData(name, type, 0, data, numBytes);
}

status_t BMessage::ReplaceData(const char* name, type_code type, int32 index, const void* data,
                               ssize_t numBytes) {
    if (numBytes < 0 || (data == nullptr && numBytes > 0)) return B_BAD_VALUE;
    const std::vector<uint8>* found;
    status_t status = _FindItem(name, type, index, &found);
    if (status != B_OK) return status;
    Field* field = _FindField(name);
    if (field->fixedSize && found->size() != static_cast<size_t>(numBytes)) return B_BAD_VALUE;
    const uint8* bytes = static_cast<const uint8*>(data);
    field->items[index].assign(bytes, bytes + numBytes);
    return B_OK;
}

status_t BMessage::ReplaceData(const char* name, type_code type, const void* data,
                               ssize_t numBytes) {
    return ReplaceData(name, type, 0, data, numBytes);
}

template <typename T>
status_t BMessage::_FindFixed(const char* name, type_code type, int32 index, T* value) const {
    if (value == nullptr) return B_BAD_VALUE;
    const std::vector<uint8>* item;
    status_t status = _FindItem(name, type, index, &item);
    if (status != B_OK) return status;
    if (item->size() != sizeof(T)) return B_BAD_DATA;
    std::memcpy(value, item->data(), sizeof(T));
    return B_OK;
}

status_t BMessage::AddString(const char* name, const char* string) {
    if (string == nullptr) return B_BAD_VALUE;
    return AddData(name, B_STRING_TYPE, string, static_cast<ssize_t>(std::strlen(string) + 1),
                   false);
}

status_t BMessage::AddInt8(const char* name, int8 value) {
    return AddData(name, B_INT8_TYPE, &value, sizeof(value));
}

status_t BMessage::AddInt16(const char* name, int16 value) {
    return AddData(name, B_INT16_TYPE, &value, sizeof(value));
}

status_t BMessage::AddInt32(const char* name, int32 value) {
    return AddData(name, B_INT32_TYPE, &value, sizeof(value));
}

status_t BMessage::AddInt64(const char* name, int64 value) {
    return AddData(name, B_INT64_TYPE, &value, sizeof(value));
}

status_t BMessage::AddBool(const char* name, bool value) {
    return AddData(name, B_BOOL_TYPE, &value, sizeof(value));
}

status_t BMessage::AddPointer(const char* name, const void* pointer) {
    return AddData(name, B_POINTER_TYPE, &pointer, sizeof(pointer));
}

status_t BMessage::AddMessenger(const char* name, const BMessenger& messenger) {
    FlatMessenger flat = {messenger.fPort, messenger.fHandlerToken};
    return AddData(name, B_MESSENGER_TYPE, &flat, sizeof(flat));
}

status_t BMessage::FindString(const char* name, const char** string) const {
    return FindString(name, 0, string);
}

status_t BMessage::FindString(const char* name, int32 index, const char** string) const {
    if (string == nullptr) return B_BAD_VALUE;
    const std::vector<uint8>* item;
    status_t status = _FindItem(name, B_STRING_TYPE, index, &item);
    if (status != B_OK) return status;
    // Strings from a flattened message are checked here, not trusted to be terminated.
    if (item->empty() || item->back() != 0) return B_BAD_DATA;
    *string = reinterpret_cast<const char*>(item->data());
    return B_OK;
}

status_t BMessage::FindInt8(const char* name, int8* value) const {
    return _FindFixed(name, B_INT8_TYPE, 0, value);
}
status_t BMessage::FindInt8(const char* name, int32 index, int8* value) const {
    return _FindFixed(name, B_INT8_TYPE, index, value);
}
status_t BMessage::FindInt16(const char* name, int16* value) const {
    return _FindFixed(name, B_INT16_TYPE, 0, value);
}
status_t BMessage::FindInt16(const char* name, int32 index, int16* value) const {
    return _FindFixed(name, B_INT16_TYPE, index, value);
}
status_t BMessage::FindInt32(const char* name, int32* value) const {
    return _FindFixed(name, B_INT32_TYPE, 0, value);
}
status_t BMessage::FindInt32(const char* name, int32 index, int32* value) const {
    return _FindFixed(name, B_INT32_TYPE, index, value);
}
status_t BMessage::FindInt64(const char* name, int64* value) const {
    return _FindFixed(name, B_INT64_TYPE, 0, value);
}
status_t BMessage::FindInt64(const char* name, int32 index, int64* value) const {
    return _FindFixed(name, B_INT64_TYPE, index, value);
}
status_t BMessage::FindBool(const char* name, bool* value) const {
    return FindBool(name, 0, value);
}
status_t BMessage::FindBool(const char* name, int32 index, bool* value) const {
    uint8 byte;
    status_t status = _FindFixed(name, B_BOOL_TYPE, index, &byte);
    if (status == B_OK) *value = byte != 0;
    return status;
}
status_t BMessage::FindPointer(const char* name, void** pointer) const {
    return _FindFixed(name, B_POINTER_TYPE, 0, pointer);
}
status_t BMessage::FindPointer(const char* name, int32 index, void** pointer) const {
    return _FindFixed(name, B_POINTER_TYPE, index, pointer);
}

status_t BMessage::FindMessenger(const char* name, BMessenger* messenger) const {
    return FindMessenger(name, 0, messenger);
}

status_t BMessage::FindMessenger(const char* name, int32 index, BMessenger* messenger) const {
    if (messenger == nullptr) return B_BAD_VALUE;
    FlatMessenger flat;
    status_t status = _FindFixed(name, B_MESSENGER_TYPE, index, &flat);
    if (status == B_OK) *messenger = BMessenger(flat.port, flat.token);
    return status;
}

status_t BMessage::ReplaceString(const char* name, const char* string) {
    if (string == nullptr) return B_BAD_VALUE;
    return ReplaceData(name, B_STRING_TYPE, string, static_cast<ssize_t>(std::strlen(string) + 1));
}
status_t BMessage::ReplaceInt16(const char* name, int16 value) {
    return ReplaceData(name, B_INT16_TYPE, &value, sizeof(value));
}
status_t BMessage::ReplaceInt32(const char* name, int32 value) {
    return ReplaceData(name, B_INT32_TYPE, &value, sizeof(value));
}
status_t BMessage::ReplaceInt64(const char* name, int64 value) {
    return ReplaceData(name, B_INT64_TYPE, &value, sizeof(value));
}
status_t BMessage::ReplaceBool(const char* name, bool value) {
    return ReplaceData(name, B_BOOL_TYPE, &value, sizeof(value));
}
