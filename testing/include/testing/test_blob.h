#pragma once
// A camera blob held by value, with what the blob filter and the
// identification read and write: the engine's tests and its benchmark.
namespace testing_support {

struct Blob {
    float area = 0;
    float width = 1;
    unsigned height = 1;
    double x = 0, y = 0;
    float GetArea() const { return area; }
    void SetArea(float a) { area = a; }
    float GetWidth() const { return width; }
    unsigned GetHeight() const { return height; }
    double GetX() const { return x; }
    double GetY() const { return y; }
};

} // namespace testing_support
