// Geometry: points, sizes, rectangles and edge insets in points, y growing downwards.
#pragma once

namespace platform {

struct Point {
    double x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0, height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;
    friend bool operator==(const Rect&, const Rect&) = default;
};

inline constexpr Rect makeRect(double x, double y, double width, double height) {
    return {{x, y}, {width, height}};
}
inline constexpr double rectGetMinX(const Rect& r) {
    return r.origin.x;
}
inline constexpr double rectGetMinY(const Rect& r) {
    return r.origin.y;
}
inline constexpr double rectGetMaxX(const Rect& r) {
    return r.origin.x + r.size.width;
}
inline constexpr double rectGetMaxY(const Rect& r) {
    return r.origin.y + r.size.height;
}
inline constexpr double rectGetMidX(const Rect& r) {
    return r.origin.x + r.size.width * 0.5;
}
// CGRectGetMidY: origin y plus half the height.
inline constexpr double rectGetMidY(const Rect& r) {
    return r.origin.y + r.size.height * 0.5;
}
inline constexpr double rectGetWidth(const Rect& r) {
    return r.size.width;
}
inline constexpr double rectGetHeight(const Rect& r) {
    return r.size.height;
}

struct EdgeInsets {
    double top = 0, left = 0, bottom = 0, right = 0;
    friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

}  // namespace platform
