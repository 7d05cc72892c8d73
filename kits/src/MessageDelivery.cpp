// BMessage on its way: flattening into a port message, delivery state, replies and the
// no-reply notice.
#include <cstring>
#include <vector>

#include "MessageWire.h"
#include "kits/Handler.h"
#include "kits/Looper.h"
#include "kits/Message.h"
#include "kits/Messenger.h"

using namespace kits_private;

namespace {

// Layout: magic, what, target token, reply port, reply token, flags, field count (7 words),
// then per field: name length, name, type, fixed flag, item count, and per item its length
// and bytes. Native byte order: flattened messages never leave the process.
constexpr size_t kHeaderWords = 7;

class Writer {
public:
    explicit Writer(uint8* out) : fOut(out) {}
    void Word(uint32 value) { Bytes(&value, sizeof(value)); }
    void Bytes(const void* data, size_t size) {
        if (size > 0) std::memcpy(fOut, data, size);
        fOut += size;
    }

private:
    uint8* fOut;
};

class Reader {
public:
    Reader(const uint8* in, size_t size) : fIn(in), fLeft(size) {}
    bool Word(uint32* value) { return Bytes(value, sizeof(*value)); }
    bool Bytes(void* data, size_t size) {
        if (size > fLeft) return false;
        if (size > 0) std::memcpy(data, fIn, size);
        fIn += size;
        fLeft -= size;
        return true;
    }
    const uint8* Take(size_t size) {
        if (size > fLeft) return nullptr;
        const uint8* at = fIn;
        fIn += size;
        fLeft -= size;
        return at;
    }

private:
    const uint8* fIn;
    size_t fLeft;
};

}  // namespace

BMessage::~BMessage() {
    // A sender blocked in SendMessage must learn that no reply is coming.
    if ((fDelivery.flags & kDelivered) && (fDelivery.flags & kSourceWaiting) &&
        !(fDelivery.flags & kReplyDone)) {
        BMessage noReply(B_NO_REPLY);
        // The waiter's reply port holds only this one answer, so it never blocks; a waiter
        // that gave up has deleted it, which is fine too.
        (void)_SendReply(&noReply, nullptr, 0);
    }
}

bool BMessage::WasDelivered() const { return (fDelivery.flags & kDelivered) != 0; }

bool BMessage::IsSourceWaiting() const {
    return (fDelivery.flags & kDelivered) && (fDelivery.flags & kSourceWaiting) &&
           !(fDelivery.flags & kReplyDone);
}

bool BMessage::IsReply() const { return (fDelivery.flags & kIsReply) != 0; }

BMessenger BMessage::ReturnAddress() const {
    if (!(fDelivery.flags & kDelivered) || (fDelivery.flags & kSourceWaiting) ||
        fDelivery.replyPort < 0)
        return BMessenger();
    return BMessenger(fDelivery.replyPort, fDelivery.replyToken);
}

status_t BMessage::SendReply(uint32 command, BHandler* replyTo) {
    BMessage reply(command);
    return SendReply(&reply, replyTo, B_INFINITE_TIMEOUT);
}

status_t BMessage::SendReply(BMessage* reply, BHandler* replyTo, bigtime_t timeout) {
    if (reply == nullptr) return B_BAD_VALUE;
    if (!(fDelivery.flags & kDelivered)) return B_BAD_REPLY;
    if (fDelivery.flags & kReplyDone) return B_DUPLICATE_REPLY;
    return _SendReply(reply, replyTo, timeout);
}

status_t BMessage::_SendReply(BMessage* reply, BHandler* replyTo, bigtime_t timeout) {
    if (fDelivery.replyPort < 0) return B_BAD_REPLY;

    Delivery delivery = {B_NULL_TOKEN, -1, B_NULL_TOKEN, kIsReply};
    // A waiting sender reads its reply port itself; a reply target is a handler in a looper.
    if (!(fDelivery.flags & kSourceWaiting)) delivery.targetToken = fDelivery.replyToken;
    if (replyTo != nullptr) {
        status_t status;
        BMessenger replyMessenger(replyTo, nullptr, &status);
        if (status != B_OK) return status;
        delivery.replyPort = replyMessenger.fPort;
        delivery.replyToken = replyMessenger.fHandlerToken;
    }
    // Flatten before marking: the reply may be this very message.
    status_t status =
        reply->_Deliver(fDelivery.replyPort, delivery, TimeoutFlags(timeout), timeout);
    // One attempt only: a reply target that is gone stays gone.
    fDelivery.flags |= kReplyDone;
    return status;
}

void BMessage::_Flatten(uint8* buffer, const Delivery& delivery) const {
    Writer out(buffer);
    out.Word(kFlatMagic);
    out.Word(what);
    out.Word(static_cast<uint32>(delivery.targetToken));
    out.Word(static_cast<uint32>(delivery.replyPort));
    out.Word(static_cast<uint32>(delivery.replyToken));
    out.Word(delivery.flags);
    out.Word(static_cast<uint32>(fFields.size()));
    for (const Field& field : fFields) {
        out.Word(static_cast<uint32>(field.name.size()));
        out.Bytes(field.name.data(), field.name.size());
        out.Word(field.type);
        out.Word(field.fixedSize ? 1 : 0);
        out.Word(static_cast<uint32>(field.items.size()));
        for (const std::vector<uint8>& item : field.items) {
            out.Word(static_cast<uint32>(item.size()));
            out.Bytes(item.data(), item.size());
        }
    }
}

ssize_t BMessage::FlattenedSize() const {
    size_t size = kHeaderWords * sizeof(uint32);
    for (const Field& field : fFields) {
        size += 4 * sizeof(uint32) + field.name.size();
        for (const std::vector<uint8>& item : field.items) size += sizeof(uint32) + item.size();
    }
    return static_cast<ssize_t>(size);
}

status_t BMessage::Flatten(char* buffer, ssize_t size) const {
    if (buffer == nullptr || size < FlattenedSize()) return B_BAD_VALUE;
    _Flatten(reinterpret_cast<uint8*>(buffer), Delivery{B_NULL_TOKEN, -1, B_NULL_TOKEN, 0});
    return B_OK;
}

status_t BMessage::Unflatten(const char* buffer, ssize_t size) {
    if (buffer == nullptr || size < 0) return B_BAD_VALUE;
    Reader in(reinterpret_cast<const uint8*>(buffer), static_cast<size_t>(size));
    uint32 header[kHeaderWords];
    for (uint32& word : header) {
        if (!in.Word(&word)) return B_BAD_DATA;
    }
    if (header[0] != kFlatMagic) return B_BAD_DATA;

    std::vector<Field> fields;
    for (uint32 f = 0; f < header[6]; f++) {
        uint32 nameSize, type, fixed, count;
        if (!in.Word(&nameSize)) return B_BAD_DATA;
        const uint8* name = in.Take(nameSize);
        if (name == nullptr || !in.Word(&type) || !in.Word(&fixed) || !in.Word(&count))
            return B_BAD_DATA;
        Field field{
            std::string(reinterpret_cast<const char*>(name), nameSize), type, fixed != 0, {}};
        for (uint32 i = 0; i < count; i++) {
            uint32 itemSize;
            if (!in.Word(&itemSize)) return B_BAD_DATA;
            const uint8* item = in.Take(itemSize);
            if (item == nullptr) return B_BAD_DATA;
            field.items.emplace_back(item, item + itemSize);
        }
        fields.push_back(std::move(field));
    }

    what = header[1];
    fFields = std::move(fields);
    fDelivery = Delivery{static_cast<int32>(header[2]), static_cast<port_id>(header[3]),
                         static_cast<int32>(header[4]), header[5]};
    return B_OK;
}

status_t BMessage::_Deliver(port_id port, const Delivery& delivery, uint32 writeFlags,
                            bigtime_t timeout) const {
    std::vector<uint8> buffer(static_cast<size_t>(FlattenedSize()));
    _Flatten(buffer.data(), delivery);
    return write_port_etc(port, kMessagePortCode, buffer.data(), buffer.size(), writeFlags,
                          timeout);
}

status_t BMessage::_Receive(port_id port, uint32 readFlags, bigtime_t timeout, BMessage* message,
                            int32* portCode) {
    ssize_t size = port_buffer_size_etc(port, readFlags, timeout);
    if (size < 0) return static_cast<status_t>(size);
    std::vector<uint8> buffer(static_cast<size_t>(size));
    int32 code = 0;
    // The message is already queued, so this read does not wait.
    ssize_t got = read_port_etc(port, &code, buffer.data(), buffer.size(), B_TIMEOUT, 0);
    if (got < 0) return static_cast<status_t>(got);
    if (portCode != nullptr) *portCode = code;
    if (code != kMessagePortCode) return B_BAD_DATA;
    // The state of the message being replaced is dropped, not acted on.
    message->fDelivery = Delivery{B_NULL_TOKEN, -1, B_NULL_TOKEN, 0};
    status_t status = message->Unflatten(reinterpret_cast<const char*>(buffer.data()), got);
    if (status != B_OK) return status;
    message->fDelivery.flags |= kDelivered;
    return B_OK;
}
