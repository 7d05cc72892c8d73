// BRect: a rectangle with inclusive coordinates, as the platform draws them. A rectangle from
// left 0 to right 9 covers ten pixel columns, yet its Width() is 9: width and height are
// always right - left and bottom - top. The default rectangle (0, 0, -1, -1) is invalid.
#pragma once

#include "kits/Point.h"
#include "platform/SupportDefs.h"

class BRect {
public:
    constexpr BRect() : left(0), top(0), right(-1), bottom(-1) {}
    constexpr BRect(float left, float top, float right, float bottom)
        : left(left), top(top), right(right), bottom(bottom) {}
    constexpr BRect(BPoint leftTop, BPoint rightBottom)
        : left(leftTop.x), top(leftTop.y), right(rightBottom.x), bottom(rightBottom.y) {}

    void Set(float newLeft, float newTop, float newRight, float newBottom);

    constexpr float Width() const { return right - left; }
    constexpr float Height() const { return bottom - top; }
    int32 IntegerWidth() const;
    int32 IntegerHeight() const;
    constexpr BPoint LeftTop() const { return {left, top}; }
    constexpr BPoint RightBottom() const { return {right, bottom}; }
    constexpr BPoint LeftBottom() const { return {left, bottom}; }
    constexpr BPoint RightTop() const { return {right, top}; }
    constexpr bool IsValid() const { return left <= right && top <= bottom; }

    // Positive insets shrink the rectangle on both sides of the axis, negative ones grow it.
    BRect& InsetBySelf(float dx, float dy);
    BRect& InsetBySelf(BPoint inset) { return InsetBySelf(inset.x, inset.y); }
    void InsetBy(float dx, float dy) { InsetBySelf(dx, dy); }
    void InsetBy(BPoint inset) { InsetBySelf(inset); }
    BRect InsetByCopy(float dx, float dy) const;

    BRect& OffsetBySelf(float dx, float dy);
    void OffsetBy(float dx, float dy) { OffsetBySelf(dx, dy); }
    void OffsetBy(BPoint delta) { OffsetBySelf(delta.x, delta.y); }
    BRect OffsetByCopy(float dx, float dy) const;
    // Moves the rectangle so that its left top corner is at (x, y); keeps its size.
    void OffsetTo(float x, float y);
    void OffsetTo(BPoint where) { OffsetTo(where.x, where.y); }

    bool Contains(BPoint point) const;
    bool Contains(BRect other) const;
    bool Intersects(BRect other) const;
    // Intersection (invalid when the rectangles do not meet) and the enclosing rectangle.
    BRect operator&(BRect other) const;
    BRect operator|(BRect other) const;

    constexpr bool operator==(const BRect& other) const {
        return left == other.left && top == other.top && right == other.right &&
               bottom == other.bottom;
    }
    constexpr bool operator!=(const BRect& other) const { return !(*this == other); }

    float left;
    float top;
    float right;
    float bottom;
};
