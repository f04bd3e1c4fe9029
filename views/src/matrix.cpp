#include "views/game_details.h"

#include <cmath>

namespace views {

std::array<float, 9> Matrix::upper3x3() const
{
    return {at(0, 0), at(0, 1), at(0, 2), at(1, 0), at(1, 1), at(1, 2), at(2, 0), at(2, 1), at(2, 2)};
}

Matrix operator*(const Matrix& a, const Matrix& b)
{
    Matrix r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += a.at(i, k) * b.at(k, j);
            r.at(i, j) = sum;
        }
    return r;
}

Matrix rotationX(float angle)
{
    Matrix r;
    float c = std::cos(angle), s = std::sin(angle);
    r.at(1, 1) = c;
    r.at(1, 2) = s;
    r.at(2, 1) = -s;
    r.at(2, 2) = c;
    return r;
}

Matrix rotationY(float angle)
{
    Matrix r;
    float c = std::cos(angle), s = std::sin(angle);
    r.at(0, 0) = c;
    r.at(0, 2) = -s;
    r.at(2, 0) = s;
    r.at(2, 2) = c;
    return r;
}

Matrix rotationZ(float angle)
{
    Matrix r;
    float c = std::cos(angle), s = std::sin(angle);
    r.at(0, 0) = c;
    r.at(0, 1) = s;
    r.at(1, 0) = -s;
    r.at(1, 1) = c;
    return r;
}

Matrix rotationYawPitchRoll(float yaw, float pitch, float roll)
{
    return rotationZ(roll) * rotationX(pitch) * rotationY(yaw);
}

std::array<float, 3> transformCoord(const std::array<float, 3>& p, const Matrix& m)
{
    std::array<float, 4> out{};
    for (int j = 0; j < 4; ++j)
        out[static_cast<std::size_t>(j)] = p[0] * m.at(0, j) + p[1] * m.at(1, j) + p[2] * m.at(2, j) + m.at(3, j);
    float w = out[3] != 0 ? out[3] : 1.0f;
    return {out[0] / w, out[1] / w, out[2] / w};
}

} // namespace views
