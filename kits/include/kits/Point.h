// BPoint: a position in a view's coordinate system (x to the right, y downwards).
#pragma once

class BPoint {
public:
    constexpr BPoint() : x(0), y(0) {}
    constexpr BPoint(float x, float y) : x(x), y(y) {}

    void Set(float newX, float newY) {
        x = newX;
        y = newY;
    }

    constexpr BPoint operator+(const BPoint& other) const { return {x + other.x, y + other.y}; }
    constexpr BPoint operator-(const BPoint& other) const { return {x - other.x, y - other.y}; }
    BPoint& operator+=(const BPoint& other) {
        x += other.x;
        y += other.y;
        return *this;
    }
    BPoint& operator-=(const BPoint& other) {
        x -= other.x;
        y -= other.y;
        return *this;
    }
    constexpr bool operator==(const BPoint& other) const { return x == other.x && y == other.y; }
    constexpr bool operator!=(const BPoint& other) const { return !(*this == other); }

    float x;
    float y;
};

inline constexpr BPoint B_ORIGIN(0, 0);
