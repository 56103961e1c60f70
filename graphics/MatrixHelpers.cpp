#include "MatrixHelpers.h"

#include <cstring>

namespace {

static_assert(sizeof(Matrix4) == 16 * sizeof(float), "Matrix4 is sixteen packed floats");

void Load(const Matrix4& m, float (&f)[16]) {
    std::memcpy(f, &m, sizeof f);
}
void Store(Matrix4& m, const float (&f)[16]) {
    std::memcpy(&m, f, sizeof f);
}

} // namespace

Matrix4& MultiplyMatrix(const Matrix4& left, Matrix4& out, const Matrix4& right) {
    float a[16], b[16], r[16];
    Load(left, a);
    Load(right, b);
    // Column c of the product is the left columns weighted by column c of the right: four-wide sums
    // that the compiler keeps in vector registers.
    for (int c = 0; c < 4; ++c) {
        const float b0 = b[4 * c], b1 = b[4 * c + 1], b2 = b[4 * c + 2], b3 = b[4 * c + 3];
        for (int row = 0; row < 4; ++row)
            r[4 * c + row] = a[row] * b0 + a[4 + row] * b1 + a[8 + row] * b2 + a[12 + row] * b3;
    }
    Store(out, r);
    return out;
}

Matrix4& SetIdentityMatrix(Matrix4& matrix) {
    const float f[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    Store(matrix, f);
    return matrix;
}

Matrix4& InvertMatrix(Matrix4& out, const Matrix4& source) {
    float m[16];
    Load(source, m);
    // m[4c + r] = element (r, c). The twelve 2 x 2 determinants of the row pairs (0,1) and (2,3).
    auto e = [&m](int r, int c) { return m[4 * c + r]; };
    const float s0 = e(0, 0) * e(1, 1) - e(1, 0) * e(0, 1);
    const float s1 = e(0, 0) * e(1, 2) - e(1, 0) * e(0, 2);
    const float s2 = e(0, 0) * e(1, 3) - e(1, 0) * e(0, 3);
    const float s3 = e(0, 1) * e(1, 2) - e(1, 1) * e(0, 2);
    const float s4 = e(0, 1) * e(1, 3) - e(1, 1) * e(0, 3);
    const float s5 = e(0, 2) * e(1, 3) - e(1, 2) * e(0, 3);
    const float c5 = e(2, 2) * e(3, 3) - e(3, 2) * e(2, 3);
    const float c4 = e(2, 1) * e(3, 3) - e(3, 1) * e(2, 3);
    const float c3 = e(2, 1) * e(3, 2) - e(3, 1) * e(2, 2);
    const float c2 = e(2, 0) * e(3, 3) - e(3, 0) * e(2, 3);
    const float c1 = e(2, 0) * e(3, 2) - e(3, 0) * e(2, 2);
    const float c0 = e(2, 0) * e(3, 1) - e(3, 0) * e(2, 1);

    // Adjugate: inv(r, c) = cofactor(c, r) / det.
    float adj[4][4];
    adj[0][0] = e(1, 1) * c5 - e(1, 2) * c4 + e(1, 3) * c3;
    adj[0][1] = -e(0, 1) * c5 + e(0, 2) * c4 - e(0, 3) * c3;
    adj[0][2] = e(3, 1) * s5 - e(3, 2) * s4 + e(3, 3) * s3;
    adj[0][3] = -e(2, 1) * s5 + e(2, 2) * s4 - e(2, 3) * s3;
    adj[1][0] = -e(1, 0) * c5 + e(1, 2) * c2 - e(1, 3) * c1;
    adj[1][1] = e(0, 0) * c5 - e(0, 2) * c2 + e(0, 3) * c1;
    adj[1][2] = -e(3, 0) * s5 + e(3, 2) * s2 - e(3, 3) * s1;
    adj[1][3] = e(2, 0) * s5 - e(2, 2) * s2 + e(2, 3) * s1;
    adj[2][0] = e(1, 0) * c4 - e(1, 1) * c2 + e(1, 3) * c0;
    adj[2][1] = -e(0, 0) * c4 + e(0, 1) * c2 - e(0, 3) * c0;
    adj[2][2] = e(3, 0) * s4 - e(3, 1) * s2 + e(3, 3) * s0;
    adj[2][3] = -e(2, 0) * s4 + e(2, 1) * s2 - e(2, 3) * s0;
    adj[3][0] = -e(1, 0) * c3 + e(1, 1) * c1 - e(1, 2) * c0;
    adj[3][1] = e(0, 0) * c3 - e(0, 1) * c1 + e(0, 2) * c0;
    adj[3][2] = -e(3, 0) * s3 + e(3, 1) * s1 - e(3, 2) * s0;
    adj[3][3] = e(2, 0) * s3 - e(2, 1) * s1 + e(2, 2) * s0;

    // The determinant from the first column: rows' cofactors of column 0 are adj[0][r].
    const float det = e(0, 0) * adj[0][0] + e(1, 0) * adj[0][1] + e(2, 0) * adj[0][2] + e(3, 0) * adj[0][3];
    const float inv = 1.0f / det;
    float r[16];
    for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 4; ++c)
            r[4 * c + row] = adj[row][c] * inv;
    Store(out, r);
    return out;
}

Matrix4& MakeMatrixFromColumns(Matrix4& out, const Vector4& c0, const Vector4& c1, const Vector4& c2,
                               const Vector4& c3) {
    out.setCol(0, c0);
    out.setCol(1, c1);
    out.setCol(2, c2);
    out.setCol(3, c3);
    return out;
}
