#pragma once
// Small matrix and vector arithmetic, one copy for the pose solver, the 3D
// scenes and the game writers.
//
// Kernels work on row-major arrays of any size. The 4x4 matrices follow the
// Direct3D convention: row vectors (v * M), row-major storage, left-handed
// view and projection with depth 0..1. Loaded as they are into OpenGL's
// column-major fixed-function stacks they act the same on column vectors.
#include <array>
#include <cstddef>

namespace platform::linalg {

// out = a * b for a row-major `rows` x `inner` a and `inner` x `columns` b.
// Each sum starts at zero and runs in index order; out overlaps neither.
template <typename T>
void MultiplyInto(const T* a, const T* b, T* out, int rows, int inner, int columns)
{
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            T sum = 0;
            for (int k = 0; k < inner; ++k)
                sum += a[r * inner + k] * b[k * columns + c];
            out[r * columns + c] = sum;
        }
}

template <typename T>
struct Vector3 {
    T x = 0, y = 0, z = 0;
};
using Vec3 = Vector3<float>;

template <typename T>
Vector3<T> operator-(const Vector3<T>& a, const Vector3<T>& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

template <typename T>
Vector3<T> Cross(const Vector3<T>& a, const Vector3<T>& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

template <typename T>
T Dot(const Vector3<T>& a, const Vector3<T>& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// Zero until set; MatrixIdentity() for the identity.
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
// Roll about Z first, then pitch about X, then yaw about Y.
Matrix MatrixRotationYawPitchRoll(float yaw, float pitch, float roll);
Matrix MatrixScaling(float sx, float sy, float sz);
Matrix MatrixTranslation(float x, float y, float z);
// a * b: a applies first to a row vector.
Matrix MatrixMultiply(const Matrix& a, const Matrix& b);
inline Matrix operator*(const Matrix& a, const Matrix& b) { return MatrixMultiply(a, b); }
Matrix MatrixLookAtLH(const Vec3& eye, const Vec3& at, const Vec3& up);
Matrix MatrixPerspectiveFovLH(float fovY, float aspect, float zNear, float zFar);
// The upper-left 3x3, row by row.
std::array<float, 9> MatrixUpper3x3(const Matrix& m);
// The zero vector stays zero.
Vec3 Vec3Normalize(const Vec3& v);
// (x, y, z, 1) * m, divided by w (left as it is where w is 0).
Vec3 Vec3TransformCoord(const Vec3& v, const Matrix& m);

} // namespace platform::linalg
