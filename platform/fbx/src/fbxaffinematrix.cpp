#include <fbxsdk.h>

#include <cmath>
#include <numbers>
#include <utility>

namespace fbxsdk_2015_1 {

namespace {

// Row-vector rotation about one axis: p' = p x R.
FbxAMatrix Rotation(int axis, double degrees) {
    FbxAMatrix r;
    const double a = degrees * std::numbers::pi / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    r.mData[i][i] = c;
    r.mData[i][j] = s;
    r.mData[j][i] = -s;
    r.mData[j][j] = c;
    return r;
}

} // namespace

FbxAMatrix::FbxAMatrix() {
    SetIdentity();
}

FbxAMatrix::FbxAMatrix(const FbxVector4& translation, const FbxVector4& rotation, const FbxVector4& scaling) {
    FbxAMatrix scale;
    for (int i = 0; i < 3; ++i)
        scale.mData[i][i] = scaling[i];
    FbxAMatrix translate;
    for (int i = 0; i < 3; ++i)
        translate.mData[3][i] = translation[i];
    *this =
        translate * Rotation(2, rotation[2]) * Rotation(1, rotation[1]) * Rotation(0, rotation[0]) * scale;
}

void FbxAMatrix::SetIdentity() {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            mData[r][c] = r == c ? 1.0 : 0.0;
}

FbxVector4 FbxAMatrix::MultT(const FbxVector4& point) const {
    FbxVector4 out(0, 0, 0, 0);
    for (int c = 0; c < 4; ++c)
        out[c] = point[0] * mData[0][c] + point[1] * mData[1][c] + point[2] * mData[2][c] + mData[3][c];
    return out;
}

FbxAMatrix FbxAMatrix::operator*(const FbxAMatrix& other) const {
    // Row vectors: applying `other` first and this second is p x other x this.
    FbxAMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += other.mData[r][k] * mData[k][c];
            out.mData[r][c] = sum;
        }
    return out;
}

bool FbxAMatrix::operator==(const FbxAMatrix& other) const {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (mData[r][c] != other.mData[r][c]) return false;
    return true;
}

FbxAMatrix FbxAMatrix::Inverse() const {
    // Gauss-Jordan with partial pivoting on [M | I].
    double a[4][8];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c)
            a[r][c] = c < 4 ? mData[r][c] : (c - 4 == r ? 1.0 : 0.0);
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        if (pivot != col)
            for (int c = 0; c < 8; ++c)
                std::swap(a[col][c], a[pivot][c]);
        const double inv = 1.0 / a[col][col];
        for (int c = 0; c < 8; ++c)
            a[col][c] *= inv;
        for (int r = 0; r < 4; ++r) {
            if (r == col) continue;
            const double f = a[r][col];
            for (int c = 0; c < 8; ++c)
                a[r][c] -= f * a[col][c];
        }
    }
    FbxAMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out.mData[r][c] = a[r][c + 4];
    return out;
}

} // namespace fbxsdk_2015_1
