#include "kits/Rect.h"

#include <algorithm>
#include <cmath>

void BRect::Set(float newLeft, float newTop, float newRight, float newBottom) {
    left = newLeft;
    top = newTop;
    right = newRight;
    bottom = newBottom;
}

int32 BRect::IntegerWidth() const { return static_cast<int32>(std::ceil(right - left)); }

int32 BRect::IntegerHeight() const { return static_cast<int32>(std::ceil(bottom - top)); }

BRect& BRect::InsetBySelf(float dx, float dy) {
    left += dx;
    right -= dx;
    top += dy;
    bottom -= dy;
    return *this;
}

BRect BRect::InsetByCopy(float dx, float dy) const {
    BRect copy = *this;
    return copy.InsetBySelf(dx, dy);
}

BRect& BRect::OffsetBySelf(float dx, float dy) {
    left += dx;
    right += dx;
    top += dy;
    bottom += dy;
    return *this;
}

BRect BRect::OffsetByCopy(float dx, float dy) const {
    BRect copy = *this;
    return copy.OffsetBySelf(dx, dy);
}

void BRect::OffsetTo(float x, float y) {
    right = x + Width();
    bottom = y + Height();
    left = x;
    top = y;
}

bool BRect::Contains(BPoint point) const {
    return point.x >= left && point.x <= right && point.y >= top && point.y <= bottom;
}

bool BRect::Contains(BRect other) const {
    return other.left >= left && other.right <= right && other.top >= top && other.bottom <= bottom;
}

bool BRect::Intersects(BRect other) const {
    if (!IsValid() || !other.IsValid()) return false;
    return !(other.left > right || other.right < left || other.top > bottom || other.bottom < top);
}

BRect BRect::operator&(BRect other) const {
    return BRect(std::max(left, other.left), std::max(top, other.top), std::min(right, other.right),
                 std::min(bottom, other.bottom));
}

BRect BRect::operator|(BRect other) const {
    return BRect(std::min(left, other.left), std::min(top, other.top), std::max(right, other.right),
                 std::max(bottom, other.bottom));
}
