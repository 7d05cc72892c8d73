// The volume's icons: a Series 3 handheld, lid open, screen above the keyboard. Colour space
// CMAP8, one byte per pixel, rows top to bottom; 255 is transparent.
#include <array>

#include "tavro.h"

namespace {

constexpr uint8 kClear = 255;
constexpr uint8 kOutline = 0;    // black
constexpr uint8 kCase = 14;      // dark grey
constexpr uint8 kBezel = 24;     // light grey
constexpr uint8 kScreen = 0x5C;  // pale green
constexpr uint8 kPixels = 0x6E;  // dark green: text on the screen
constexpr uint8 kKey = 63;       // white

struct Box {
    int left, top, right, bottom;
    constexpr bool contains(int x, int y) const {
        return x >= left && x <= right && y >= top && y <= bottom;
    }
    constexpr bool edge(int x, int y) const {
        return contains(x, y) && (x == left || x == right || y == top || y == bottom);
    }
};

template <int Size>
constexpr std::array<uint8, Size * Size> draw_handheld(Box body, Box screen, int keysTop,
                                                       int keyRows, int keyPitch) {
    std::array<uint8, Size * Size> bits{};
    for (int y = 0; y < Size; y++) {
        for (int x = 0; x < Size; x++) {
            uint8 pixel = kClear;
            // Rounded corners: the body's corner pixels stay clear.
            bool corner =
                (x == body.left || x == body.right) && (y == body.top || y == body.bottom);
            if (body.contains(x, y) && !corner) pixel = body.edge(x, y) ? kOutline : kCase;
            if (screen.contains(x, y)) {
                pixel = screen.edge(x, y) ? kBezel : kScreen;
                // Lines of text on every other row of the screen.
                if (!screen.edge(x, y) && (y - screen.top) % 2 == 0 && (x - screen.left) % 4 != 0)
                    pixel = kPixels;
            }
            int row = y - keysTop;
            if (row >= 0 && row < keyRows * 2 && row % 2 == 0 && x > body.left + 1 &&
                x < body.right - 1 && (x - body.left) % keyPitch != 0)
                pixel = kKey;
            bits[static_cast<size_t>(y * Size + x)] = pixel;
        }
    }
    return bits;
}

}  // namespace

const std::array<uint8, 1024> kLargePsionIconBits =
    draw_handheld<32>({1, 5, 30, 27}, {4, 7, 27, 16}, 19, 4, 3);
const std::array<uint8, 256> kSmallPsionIconBits =
    draw_handheld<16>({0, 2, 15, 13}, {2, 3, 13, 8}, 10, 2, 2);
