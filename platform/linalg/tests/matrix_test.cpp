#include "platform/linalg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace platform::linalg;

namespace {
void ExpectVec(const Vec3& v, float x, float y, float z)
{
    EXPECT_NEAR(v.x, x, 1e-4f);
    EXPECT_NEAR(v.y, y, 1e-4f);
    EXPECT_NEAR(v.z, z, 1e-4f);
}
constexpr float kHalfPi = std::numbers::pi_v<float> / 2.0f;
} // namespace

TEST(Matrix, RotationsTurnRowVectorsClockwiseLookingDownTheAxis)
{
    // Left-handed: a positive angle turns y towards z about x, z towards x about y, x towards y about z.
    ExpectVec(Vec3TransformCoord({0, 1, 0}, MatrixRotationX(kHalfPi)), 0, 0, 1);
    ExpectVec(Vec3TransformCoord({0, 0, 1}, MatrixRotationY(kHalfPi)), 1, 0, 0);
    ExpectVec(Vec3TransformCoord({1, 0, 0}, MatrixRotationZ(kHalfPi)), 0, 1, 0);
    const Matrix rx = MatrixRotationX(0.3f);
    EXPECT_NEAR(rx(1, 2), std::sin(0.3f), 1e-6f);
    EXPECT_NEAR(rx(2, 1), -std::sin(0.3f), 1e-6f);
}

TEST(Matrix, MultiplyAppliesTheLeftMatrixFirst)
{
    const Matrix st = MatrixMultiply(MatrixScaling(2, 3, 4), MatrixTranslation(10, 20, 30));
    ExpectVec(Vec3TransformCoord({1, 1, 1}, st), 12, 23, 34);
    const Matrix ts = MatrixMultiply(MatrixTranslation(10, 20, 30), MatrixScaling(2, 3, 4));
    ExpectVec(Vec3TransformCoord({1, 1, 1}, ts), 22, 63, 124);
    const Matrix i = MatrixMultiply(MatrixIdentity(), st);
    for (int k = 0; k < 16; ++k)
        EXPECT_FLOAT_EQ(i.m[static_cast<std::size_t>(k)], st.m[static_cast<std::size_t>(k)]);
}

TEST(Matrix, LookAtAndPerspectiveByHand)
{
    const Matrix view = MatrixLookAtLH({0, 0, -10}, {0, 0, 0}, {0, 1, 0});
    ExpectVec(Vec3TransformCoord({0, 0, 0}, view), 0, 0, 10);
    ExpectVec(Vec3TransformCoord({1, 2, 0}, view), 1, 2, 10);
    // Looking along +x from the origin: +x is forward and world -z is to the right.
    const Matrix side = MatrixLookAtLH({0, 0, 0}, {5, 0, 0}, {0, 1, 0});
    ExpectVec(Vec3TransformCoord({5, 0, 0}, side), 0, 0, 5);
    ExpectVec(Vec3TransformCoord({0, 0, -1}, side), 1, 0, 0);

    const Matrix proj = MatrixPerspectiveFovLH(std::numbers::pi_v<float> / 2.0f, 2.0f, 1.0f, 100.0f);
    EXPECT_NEAR(proj(0, 0), 0.5f, 1e-6f);
    EXPECT_NEAR(proj(1, 1), 1.0f, 1e-6f);
    EXPECT_NEAR(proj(2, 2), 100.0f / 99.0f, 1e-6f);
    EXPECT_NEAR(proj(3, 2), -100.0f / 99.0f, 1e-6f);
    EXPECT_FLOAT_EQ(proj(2, 3), 1.0f);
    ExpectVec(Vec3TransformCoord({0, 0, 1}, proj), 0, 0, 0);   // near plane -> depth 0
    ExpectVec(Vec3TransformCoord({0, 0, 100}, proj), 0, 0, 1); // far plane -> depth 1
    ExpectVec(Vec3TransformCoord({2, 1, 1}, proj), 1, 1, 0);   // the frustum's corner
}

TEST(Matrix, NormalizeKeepsTheZeroVector)
{
    ExpectVec(Vec3Normalize({0, 0, 500}), 0, 0, 1);
    ExpectVec(Vec3Normalize({3, 4, 0}), 0.6f, 0.8f, 0);
    ExpectVec(Vec3Normalize({0, 0, 0}), 0, 0, 0);
}

TEST(Matrix, YawPitchRollFollowsTheDirect3DConvention)
{
    const float h = std::numbers::pi_v<float> / 2;
    auto m = MatrixUpper3x3(MatrixRotationYawPitchRoll(h, 0, 0));
    const std::array<float, 9> yaw90{0, 0, -1, 0, 1, 0, 1, 0, 0};
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_NEAR(m[i], yaw90[i], 1e-6) << i;
    // Roll first, then pitch, then yaw.
    const float a = 0.3f, b = -0.7f, c = 1.1f;
    auto composed = (MatrixRotationZ(c) * MatrixRotationX(b) * MatrixRotationY(a)).m;
    auto direct = MatrixRotationYawPitchRoll(a, b, c).m;
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_NEAR(composed[i], direct[i], 1e-6);
    auto p = Vec3TransformCoord({1, 0, 0}, MatrixRotationZ(h));
    EXPECT_NEAR(p.x, 0, 1e-6);
    EXPECT_NEAR(p.y, 1, 1e-6);
}
