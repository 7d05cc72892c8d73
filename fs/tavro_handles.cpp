// tavro3's book of device handles. A request whose reply is lost may still have been carried
// out; for FOPEN that leaves a handle open on the device that nobody here knows, and the device
// then refuses to delete its file.
#include "tavro_handles.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "tavro_requests.h"
#include "tavro_transport.h"

namespace {

// A request whose reply is lost may still have been carried out; for FOPEN that leaves a
// handle open on the device that nobody knows. The device hands out handle numbers in
// rising order, so when an open of unknown outcome is followed by one that succeeds, the
// numbers between the last known handle and the new one that nobody here holds are the
// ones the lost opens got: they are closed. The book is kept per connection (every volume
// of a device shares its file service and so its handle numbers) and changed only under the
// transport semaphore, in the order the device answered.

// Handle numbers run from 1 up to this and then start again at 1.
constexpr uint32 kHighestHandle = 0x7FFF;

struct HandleBook {
    int32 volumes = 0;
    std::map<uint16, int32> held;  // handle -> opens holding it
    int32 last = -1;               // the last handle the device is known to have given
    uint32 doubtful = 0;           // opens since `last` whose outcome is unknown
    std::vector<uint16> toClose;   // handles to close at the next chance
};

std::mutex bookLock;
std::map<port_id, HandleBook> books;

struct OpenOutcome {
    int32 result;
};

void note_open_reply(volume* vol, const uint8* reply, size_t size, void* context) {
    auto* outcome = static_cast<OpenOutcome*>(context);
    outcome->result = reply != nullptr ? parse_fopen_reply(reply, size) : B_IO_ERROR;
    std::lock_guard<std::mutex> hold(bookLock);
    HandleBook& book = books[vol->readPort];
    if (outcome->result >= 0) {
        uint32 handle = static_cast<uint32>(outcome->result);
        if (book.doubtful > 0 && handle >= 1 && handle <= kHighestHandle) {
            // Before any handle is known, the lost opens are taken to be the ones just
            // before this one.
            int64 last = book.last;
            if (last < 0) {
                last = static_cast<int64>(handle) - 1 - book.doubtful;
                while (last < 0) last += kHighestHandle;
            }
            uint32 gap = static_cast<uint32>((handle + kHighestHandle - 1 - last) % kHighestHandle);
            // More numbers missing than opens in doubt means someone else opened files in
            // between: none of them can be told apart, so none is closed.
            if (gap <= book.doubtful) {
                uint32 at = static_cast<uint32>(last);
                for (uint32 i = 0; i < gap; i++) {
                    at = at >= kHighestHandle ? 1 : at + 1;
                    if (book.held.count(static_cast<uint16>(at)) == 0)
                        book.toClose.push_back(static_cast<uint16>(at));
                }
            }
        }
        book.held[static_cast<uint16>(handle)]++;
        book.last = static_cast<int32>(handle);
        book.doubtful = 0;
    } else if (outcome_unknown(outcome->result)) {
        book.doubtful++;
    }
}

// Sends FCLOSE for the handles that lost opens and lost closes may have left open.
void close_forgotten_handles(volume* vol) {
    std::vector<uint16> handles;
    {
        std::lock_guard<std::mutex> hold(bookLock);
        handles.swap(books[vol->readPort].toClose);
    }
    // Whatever the answer: a handle that was not open is refused, and that is fine; one whose
    // close went wrong was not known to be open either.
    for (uint16 handle : handles) (void)psion_fclose(vol, handle);
}

}  // namespace

int32 open_noting_handles(volume* vol, const uint8* request) {
    close_forgotten_handles(vol);
    OpenOutcome outcome{B_IO_ERROR};
    int32 size;
    status_t transport = B_OK;
    uint8* reply = send_command_noting(vol, request, &size, &transport, note_open_reply, &outcome);
    free(reply);
    if (reply == nullptr) outcome.result = missing_reply(transport);
    close_forgotten_handles(vol);
    return outcome.result;
}

void note_handle_closed(volume* vol, uint16 handle, bool maybe_open) {
    std::lock_guard<std::mutex> hold(bookLock);
    HandleBook& book = books[vol->readPort];
    auto found = book.held.find(handle);
    if (found != book.held.end() && --found->second <= 0) book.held.erase(found);
    if (maybe_open && book.held.count(handle) == 0) book.toClose.push_back(handle);
}

void attach_handle_book(volume* vol) {
    std::lock_guard<std::mutex> hold(bookLock);
    books[vol->readPort].volumes++;
}

void detach_handle_book(volume* vol) {
    std::lock_guard<std::mutex> hold(bookLock);
    auto found = books.find(vol->readPort);
    if (found != books.end() && --found->second.volumes <= 0) books.erase(found);
}

bool handles_in_doubt(volume* vol) {
    std::lock_guard<std::mutex> hold(bookLock);
    auto found = books.find(vol->readPort);
    return found != books.end() && (found->second.doubtful > 0 || !found->second.toClose.empty());
}

void tidy_device_handles(volume* vol) {
    bool doubtful;
    {
        std::lock_guard<std::mutex> hold(bookLock);
        doubtful = books[vol->readPort].doubtful > 0;
    }
    if (doubtful) {
        // The handle the device gives a new open shows which numbers the lost opens took;
        // psion_open closes them.
        char pattern[kPathBufferSize];
        if (snprintf(pattern, sizeof pattern, "%s\\*.*", vol->device) <
            static_cast<int>(sizeof pattern)) {
            int32 handle = psion_open(vol, open_mode_word(B_O_RDONLY, true), pattern);
            // The probe has done its work once it is open; a close that goes wrong is owed
            // and sent again with the next open.
            (void)psion_close_handle(vol, handle);
        }
    }
    close_forgotten_handles(vol);
}

size_t handles_held(volume* vol) {
    std::lock_guard<std::mutex> hold(bookLock);
    auto found = books.find(vol->readPort);
    return found == books.end() ? 0 : found->second.held.size();
}
