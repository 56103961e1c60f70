#include <fbxsdk.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

void ExpectPoint(const FbxVector4& p, double x, double y, double z) {
    EXPECT_NEAR(p[0], x, 1e-12);
    EXPECT_NEAR(p[1], y, 1e-12);
    EXPECT_NEAR(p[2], z, 1e-12);
}

TEST(FbxAMatrix, StartsAsTheIdentity) {
    const FbxAMatrix m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(m.Get(r, c), r == c ? 1.0 : 0.0) << r << "," << c;
    static_assert(sizeof(FbxAMatrix) == 16 * sizeof(double));
}

TEST(FbxAMatrix, TranslationSitsInRowThree) {
    const FbxAMatrix m(FbxVector4(1, 2, 3), FbxVector4(0, 0, 0), FbxVector4(1, 1, 1));
    EXPECT_EQ(m.Get(3, 0), 1.0);
    EXPECT_EQ(m.Get(3, 1), 2.0);
    EXPECT_EQ(m.Get(3, 2), 3.0);
    EXPECT_EQ(m.Get(0, 3), 0.0);
    ExpectPoint(m.MultT(FbxVector4(1, 1, 1)), 2, 3, 4);
}

// Scaling first, then X, Y, Z rotations, then the translation.
TEST(FbxAMatrix, BuildsScaleRotationTranslationInThatOrder) {
    struct Case {
        FbxVector4 t, r, s, in;
        double x, y, z;
    };
    const Case cases[] = {
        {{0, 0, 0}, {0, 0, 90}, {1, 1, 1}, {1, 0, 0}, 0, 1, 0},
        {{0, 0, 0}, {90, 0, 0}, {1, 1, 1}, {0, 1, 0}, 0, 0, 1},
        {{0, 0, 0}, {0, 90, 0}, {1, 1, 1}, {0, 0, 1}, 1, 0, 0},
        // X first: y goes to z, then the Y turn takes z to x.
        {{0, 0, 0}, {90, 90, 0}, {1, 1, 1}, {0, 1, 0}, 1, 0, 0},
        {{10, 0, 0}, {0, 0, 90}, {2, 1, 1}, {1, 0, 0}, 10, 2, 0},
    };
    for (const Case& c : cases) {
        const FbxAMatrix m(c.t, c.r, c.s);
        ExpectPoint(m.MultT(c.in), c.x, c.y, c.z);
    }
}

TEST(FbxAMatrix, ProductAppliesTheRightOperandFirst) {
    const FbxAMatrix move(FbxVector4(5, 0, 0), FbxVector4(0, 0, 0), FbxVector4(1, 1, 1));
    const FbxAMatrix scale(FbxVector4(0, 0, 0), FbxVector4(0, 0, 0), FbxVector4(2, 2, 2));
    ExpectPoint((move * scale).MultT(FbxVector4(1, 0, 0)), 7, 0, 0);
    ExpectPoint((scale * move).MultT(FbxVector4(1, 0, 0)), 12, 0, 0);
}

TEST(FbxAMatrix, InverseUndoesTheMatrix) {
    const FbxAMatrix m(FbxVector4(1, -2, 3), FbxVector4(30, 45, 60), FbxVector4(2, 0.5, 3));
    const FbxAMatrix product = m.Inverse() * m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(product.Get(r, c), r == c ? 1.0 : 0.0, 1e-12);
    ExpectPoint(m.Inverse().MultT(m.MultT(FbxVector4(4, 5, 6))), 4, 5, 6);
}

TEST(FbxAMatrix, SingularInverseIsNotFinite) {
    const FbxAMatrix flat(FbxVector4(0, 0, 0), FbxVector4(0, 0, 0), FbxVector4(1, 0, 1));
    const FbxAMatrix inverse = flat.Inverse();
    EXPECT_FALSE(std::isfinite(inverse.Get(1, 1)));
}

} // namespace
