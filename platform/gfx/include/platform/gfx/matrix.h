#pragma once
// Matrices in the Direct3D convention: row vectors (v * M), row-major
// storage, left-handed view and projection with depth 0..1. Loaded as they
// are into OpenGL's column-major fixed-function stacks they act the same on
// column vectors.
#include <array>

namespace platform::gfx {

struct Vec3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};

struct Matrix {
    std::array<float, 16> m{}; // m[row * 4 + column]
    float& operator()(int row, int column) { return m[static_cast<std::size_t>(row * 4 + column)]; }
    float operator()(int row, int column) const { return m[static_cast<std::size_t>(row * 4 + column)]; }
    const float* data() const { return m.data(); }
};

Matrix MatrixIdentity();
Matrix MatrixRotationX(float angle);
Matrix MatrixRotationY(float angle);
Matrix MatrixRotationZ(float angle);
Matrix MatrixScaling(float sx, float sy, float sz);
Matrix MatrixTranslation(float x, float y, float z);
// a * b: a applies first to a row vector.
Matrix MatrixMultiply(const Matrix& a, const Matrix& b);
Matrix MatrixLookAtLH(const Vec3& eye, const Vec3& at, const Vec3& up);
Matrix MatrixPerspectiveFovLH(float fovY, float aspect, float zNear, float zFar);
// The zero vector stays zero.
Vec3 Vec3Normalize(const Vec3& v);
// (x, y, z, 1) * m, divided by w.
Vec3 Vec3TransformCoord(const Vec3& v, const Matrix& m);

} // namespace platform::gfx
