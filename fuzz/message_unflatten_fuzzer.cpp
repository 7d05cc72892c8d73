// BMessage::Unflatten on arbitrary bytes: a message that unflattens must flatten again to a
// buffer that unflattens to the same size.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kits/Message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> input(data, data + size);
    BMessage message;
    if (message.Unflatten(input.data(), static_cast<ssize_t>(input.size())) != B_OK) return 0;
    ssize_t flat = message.FlattenedSize();
    if (flat <= 0 || flat > (1 << 24)) abort();
    std::vector<char> again(static_cast<size_t>(flat));
    if (message.Flatten(again.data(), flat) != B_OK) abort();
    BMessage copy;
    if (copy.Unflatten(again.data(), flat) != B_OK) abort();
    if (copy.FlattenedSize() != flat || copy.what != message.what) abort();
    return 0;
}
