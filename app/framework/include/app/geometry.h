#pragma once
// Screen geometry in desktop pixels, edges as the desktop gives them: a
// rectangle spans left..right-1 and top..bottom-1.
namespace app {

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    bool operator==(const Rect&) const = default;
};

// One attached monitor: its whole area and the part not covered by panels.
struct Monitor {
    Rect area;
    Rect workArea;
};

} // namespace app
