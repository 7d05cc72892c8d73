// BMessage: a what code and named, typed fields, the unit that loopers exchange.
//
// Fields hold one or more items of one type. Add* appends an item (creating the field),
// Find* reads one by index; both return B_OK or an error:
//   B_BAD_VALUE       null name, or data that does not fit the field (fixed size mismatch)
//   B_NAME_NOT_FOUND  no field of that name
//   B_BAD_TYPE        the field exists with another type
//   B_BAD_INDEX       no item at that index
//
// A message that went through a port (SendMessage, PostMessage) knows where a reply goes: to
// a sender that waits for it synchronously, or to the reply target the sender named. A message
// whose sender waits and that is deleted without a reply sends B_NO_REPLY to the waiter, so a
// synchronous sender never waits for a message nobody answers.
//
// Further field types (entry_ref, for instance) can be carried with AddData/FindData and a
// type code of their own; a kit that adds one wraps those two calls in its own file.
#pragma once

#include <string>
#include <vector>

#include "kits/AppDefs.h"
#include "kits/TypeConstants.h"
#include "platform/OS.h"

class BHandler;
class BLooper;
class BMessenger;
struct entry_ref;

class BMessage {
public:
    BMessage();
    explicit BMessage(uint32 what);
    // Copies the what code and the fields, not the delivery state: a copy can never reply
    // for the original, nor send B_NO_REPLY on its behalf.
    BMessage(const BMessage& other);
    BMessage& operator=(const BMessage& other);
    virtual ~BMessage();

    uint32 what;

    // Fields ---------------------------------------------------------------------------------
    status_t GetInfo(const char* name, type_code* type, int32* count = nullptr,
                     bool* fixedSize = nullptr) const;
    int32 CountNames(type_code type) const;
    bool HasData(const char* name, type_code type, int32 index = 0) const;
    bool IsEmpty() const;
    status_t MakeEmpty();
    status_t RemoveName(const char* name);

    // numBytes may be 0 (an item without bytes); data may then be null. With isFixedSize,
    // every item of the field must have the size of the first one.
    status_t AddData(const char* name, type_code type, const void* data, ssize_t numBytes,
                     bool isFixedSize = true, int32 numItems = 1);
    // type B_ANY_TYPE matches the field whatever its type. *data stays valid until the field
    // is changed or the message is deleted.
    status_t FindData(const char* name, type_code type, int32 index, const void** data,
                      ssize_t* numBytes) const;
    status_t FindData(const char* name, type_code type, const void** data, ssize_t* numBytes) const;
    status_t ReplaceData(const char* name, type_code type, int32 index, const void* data,
                         ssize_t numBytes);
    status_t ReplaceData(const char* name, type_code type, const void* data, ssize_t numBytes);

    status_t AddString(const char* name, const char* string);
    status_t AddInt8(const char* name, int8 value);
    status_t AddInt16(const char* name, int16 value);
    status_t AddInt32(const char* name, int32 value);
    status_t AddInt64(const char* name, int64 value);
    status_t AddBool(const char* name, bool value);
    status_t AddPointer(const char* name, const void* pointer);
    status_t AddMessenger(const char* name, const BMessenger& messenger);

    status_t FindString(const char* name, const char** string) const;
    status_t FindString(const char* name, int32 index, const char** string) const;
    status_t FindInt8(const char* name, int8* value) const;
    status_t FindInt8(const char* name, int32 index, int8* value) const;
    status_t FindInt16(const char* name, int16* value) const;
    status_t FindInt16(const char* name, int32 index, int16* value) const;
    status_t FindInt32(const char* name, int32* value) const;
    status_t FindInt32(const char* name, int32 index, int32* value) const;
    status_t FindInt64(const char* name, int64* value) const;
    status_t FindInt64(const char* name, int32 index, int64* value) const;
    status_t FindBool(const char* name, bool* value) const;
    status_t FindBool(const char* name, int32 index, bool* value) const;
    status_t FindPointer(const char* name, void** pointer) const;
    status_t FindPointer(const char* name, int32 index, void** pointer) const;
    status_t FindMessenger(const char* name, BMessenger* messenger) const;
    status_t FindMessenger(const char* name, int32 index, BMessenger* messenger) const;
    // entry_ref fields (B_REF_TYPE), flattened by the storage kit (MessageRefs.cpp).
    status_t AddRef(const char* name, const entry_ref* ref);
    status_t FindRef(const char* name, entry_ref* ref) const;
    status_t FindRef(const char* name, int32 index, entry_ref* ref) const;

    status_t ReplaceString(const char* name, const char* string);
    status_t ReplaceInt16(const char* name, int16 value);
    status_t ReplaceInt32(const char* name, int32 value);
    status_t ReplaceInt64(const char* name, int64 value);
    status_t ReplaceBool(const char* name, bool value);

    // Delivery and replies -------------------------------------------------------------------
    // True once the message came out of a looper's port.
    bool WasDelivered() const;
    // True when the sender blocks in SendMessage until this message is answered.
    bool IsSourceWaiting() const;
    bool IsReply() const;
    // Where a reply to this message goes when its sender does not wait; invalid if nowhere.
    BMessenger ReturnAddress() const;

    // Answers a delivered message: to the waiting sender, or else to the reply target. Only
    // the first reply goes out (B_DUPLICATE_REPLY afterwards); B_BAD_REPLY when the message
    // has nowhere to reply to. replyTo names the handler that gets a reply to the reply.
    status_t SendReply(BMessage* reply, BHandler* replyTo = nullptr,
                       bigtime_t timeout = B_INFINITE_TIMEOUT);
    status_t SendReply(uint32 command, BHandler* replyTo = nullptr);

    // Flattening, as the kit carries messages through ports ----------------------------------
    ssize_t FlattenedSize() const;
    status_t Flatten(char* buffer, ssize_t size) const;
    status_t Unflatten(const char* buffer, ssize_t size);

private:
    friend class BMessenger;
    friend class BLooper;

    struct Field {
        std::string name;
        type_code type;
        bool fixedSize;
        std::vector<std::vector<uint8>> items;
    };

    // Where the message goes and where its reply goes. Travels with the flattened message.
    struct Delivery {
        int32 targetToken;  // handler in the receiving looper; B_PREFERRED_TOKEN for its choice
        port_id replyPort;  // sender's reply port or the reply target's looper port; <0: none
        int32 replyToken;   // handler of the reply target
        uint32 flags;
    };

    Field* _FindField(const char* name);
    const Field* _FindField(const char* name) const;
    status_t _FindItem(const char* name, type_code type, int32 index,
                       const std::vector<uint8>** item) const;
    template <typename T>
    status_t _FindFixed(const char* name, type_code type, int32 index, T* value) const;

    // Flattens with the given delivery state and writes it to a looper's port.
    status_t _Deliver(port_id port, const Delivery& delivery, uint32 writeFlags,
                      bigtime_t timeout) const;
    // Reads one flattened message from a port and rebuilds it, delivery state included. A
    // port message of another kind is consumed and answered B_BAD_DATA, its code in *code.
    static status_t _Receive(port_id port, uint32 readFlags, bigtime_t timeout, BMessage* message,
                             int32* code = nullptr);
    void _Flatten(uint8* buffer, const Delivery& delivery) const;
    status_t _SendReply(BMessage* reply, BHandler* replyTo, bigtime_t timeout);

    std::vector<Field> fFields;
    Delivery fDelivery = {B_NULL_TOKEN, -1, B_NULL_TOKEN, 0};
};
