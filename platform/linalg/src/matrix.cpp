#include "platform/linalg.h"

#include <cmath>

namespace platform::linalg {

Matrix MatrixIdentity()
{
    Matrix r;
    r(0, 0) = r(1, 1) = r(2, 2) = r(3, 3) = 1.0f;
    return r;
}

namespace {
// A turn in the plane of axes i and j: i towards j for a positive angle.
Matrix PlaneRotation(int i, int j, float angle)
{
    Matrix r = MatrixIdentity();
    const float c = std::cos(angle), s = std::sin(angle);
    r(i, i) = c;
    r(i, j) = s;
    r(j, i) = -s;
    r(j, j) = c;
    return r;
}
} // namespace

Matrix MatrixRotationX(float angle) { return PlaneRotation(1, 2, angle); }
Matrix MatrixRotationY(float angle) { return PlaneRotation(2, 0, angle); }
Matrix MatrixRotationZ(float angle) { return PlaneRotation(0, 1, angle); }

Matrix MatrixScaling(float sx, float sy, float sz)
{
    Matrix r;
    r(0, 0) = sx;
    r(1, 1) = sy;
    r(2, 2) = sz;
    r(3, 3) = 1.0f;
    return r;
}

Matrix MatrixTranslation(float x, float y, float z)
{
    Matrix r = MatrixIdentity();
    r(3, 0) = x;
    r(3, 1) = y;
    r(3, 2) = z;
    return r;
}

Matrix MatrixMultiply(const Matrix& a, const Matrix& b)
{
    Matrix r;
    MultiplyInto(a.m.data(), b.m.data(), r.m.data(), 4, 4, 4);
    return r;
}

Matrix MatrixRotationYawPitchRoll(float yaw, float pitch, float roll)
{
    return MatrixRotationZ(roll) * MatrixRotationX(pitch) * MatrixRotationY(yaw);
}

std::array<float, 9> MatrixUpper3x3(const Matrix& m)
{
    return {m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2), m(2, 0), m(2, 1), m(2, 2)};
}

Vec3 Vec3Normalize(const Vec3& v)
{
    const float length = std::sqrt(Dot(v, v));
    if (length == 0.0f)
        return {};
    return {v.x / length, v.y / length, v.z / length};
}

Matrix MatrixLookAtLH(const Vec3& eye, const Vec3& at, const Vec3& up)
{
    const Vec3 zaxis = Vec3Normalize(at - eye);
    const Vec3 xaxis = Vec3Normalize(Cross(up, zaxis));
    const Vec3 yaxis = Cross(zaxis, xaxis);
    Matrix r = MatrixIdentity();
    r(0, 0) = xaxis.x; r(0, 1) = yaxis.x; r(0, 2) = zaxis.x;
    r(1, 0) = xaxis.y; r(1, 1) = yaxis.y; r(1, 2) = zaxis.y;
    r(2, 0) = xaxis.z; r(2, 1) = yaxis.z; r(2, 2) = zaxis.z;
    r(3, 0) = -Dot(xaxis, eye);
    r(3, 1) = -Dot(yaxis, eye);
    r(3, 2) = -Dot(zaxis, eye);
    return r;
}

Matrix MatrixPerspectiveFovLH(float fovY, float aspect, float zNear, float zFar)
{
    const float yScale = 1.0f / std::tan(fovY / 2.0f);
    const float xScale = yScale / aspect;
    Matrix r;
    r(0, 0) = xScale;
    r(1, 1) = yScale;
    r(2, 2) = zFar / (zFar - zNear);
    r(2, 3) = 1.0f;
    r(3, 2) = -zNear * zFar / (zFar - zNear);
    return r;
}

Vec3 Vec3TransformCoord(const Vec3& v, const Matrix& m)
{
    const float x = v.x * m(0, 0) + v.y * m(1, 0) + v.z * m(2, 0) + m(3, 0);
    const float y = v.x * m(0, 1) + v.y * m(1, 1) + v.z * m(2, 1) + m(3, 1);
    const float z = v.x * m(0, 2) + v.y * m(1, 2) + v.z * m(2, 2) + m(3, 2);
    const float w = v.x * m(0, 3) + v.y * m(1, 3) + v.z * m(2, 3) + m(3, 3);
    if (w == 0.0f)
        return {x, y, z};
    return {x / w, y / w, z / w};
}

} // namespace platform::linalg
