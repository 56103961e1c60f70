#include <MatrixHelpers.h>

#include <gtest/gtest.h>

#include <cmath>

using Vectormath::Aos::Vector3;

namespace {

float At(const Matrix4& m, int r, int c) {
    return m.getElem(c, r);
}

Matrix4 Sample() {
    Matrix4 m;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            m.setElem(c, r, float(1 + r * 4 + c) * (r == c ? 2.0f : 0.5f) - float(c));
    return m;
}

TEST(MatrixHelpers, IdentityOnEitherSideLeavesTheOther) {
    Matrix4 identity, out;
    SetIdentityMatrix(identity);
    const Matrix4 m = Sample();
    for (bool left : {true, false}) {
        MultiplyMatrix(left ? identity : m, out, left ? m : identity);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(At(out, r, c), At(m, r, c));
    }
}

TEST(MatrixHelpers, RowTimesColumnAndTheOutputMayBeAnOperand) {
    const Matrix4 a = Sample();
    Matrix4 b = Matrix4::rotationZYX(Vector3(0.3f, -1.1f, 0.7f));
    b.setCol(3, Vector4(1, 2, 3, 1));
    Matrix4 expected;
    MultiplyMatrix(a, expected, b);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += At(a, r, k) * At(b, k, c);
            EXPECT_NEAR(At(expected, r, c), sum, 1e-5f);
        }
    Matrix4 left = a, right = b;
    MultiplyMatrix(left, left, b);
    MultiplyMatrix(a, right, right);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(At(left, r, c), At(expected, r, c));
            EXPECT_EQ(At(right, r, c), At(expected, r, c));
        }
}

TEST(MatrixHelpers, RigidInverseAndSelfAssignment) {
    Matrix4 rigid = Matrix4::rotationZYX(Vector3(0.4f, 1.2f, -2.0f));
    rigid.setCol(3, Vector4(5, -3, 12, 1));
    Matrix4 inverse, product;
    InvertMatrix(inverse, rigid);
    // The rigid inverse: transposed rotation, translation -R^T t.
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(At(inverse, r, c), At(rigid, c, r), 1e-5f);
        float t = 0;
        for (int k = 0; k < 3; ++k)
            t -= At(rigid, k, r) * At(rigid, k, 3);
        EXPECT_NEAR(At(inverse, r, 3), t, 1e-5f);
    }
    MultiplyMatrix(rigid, product, inverse);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(At(product, r, c), r == c ? 1.0f : 0.0f, 1e-5f);
    Matrix4 self = rigid;
    InvertMatrix(self, self);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(At(self, r, c), At(inverse, r, c), 1e-6f);
}

TEST(MatrixHelpers, TheZeroMatrixGivesNonFiniteValues) {
    Matrix4 zero(Vector4(0.0f), Vector4(0.0f), Vector4(0.0f), Vector4(0.0f)), out;
    InvertMatrix(out, zero);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_FALSE(std::isfinite(At(out, r, c)));
}

TEST(MatrixHelpers, ColumnsAreCopiedWhole) {
    Matrix4 m;
    MakeMatrixFromColumns(m, Vector4(1, 2, 3, 4), Vector4(5, 6, 7, 8), Vector4(9, 10, 11, 12),
                          Vector4(13, 14, 15, 16));
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(At(m, r, c), float(1 + 4 * c + r));
}

} // namespace
