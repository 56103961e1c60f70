// The FBX SDK subset this program calls. So far: the vector and the affine matrix that joints and
// animation keys hold.
//
// Conventions: a matrix is 4 x 4 doubles, element (row r, column c) read with Get(r, c); points are
// row vectors (p' = p x M), so the translation sits in row 3. A product A * B applies B first, then
// A, as the loader's chains (link inverse * transform * geometry) are written.
#pragma once

class FbxVector4 {
public:
    FbxVector4() = default;
    FbxVector4(double x, double y, double z, double w = 1.0) : mData{x, y, z, w} {}
    double& operator[](int i) { return mData[i]; }
    double operator[](int i) const { return mData[i]; }

    double mData[4] = {0.0, 0.0, 0.0, 1.0};
};

class FbxAMatrix {
public:
    // The identity.
    FbxAMatrix();
    // Scaling first, then the rotation (Euler angles in degrees about X, then Y, then Z), then the
    // translation.
    FbxAMatrix(const FbxVector4& translation, const FbxVector4& rotation, const FbxVector4& scaling);

    double Get(int row, int column) const { return mData[row][column]; }
    void SetIdentity();
    // The point transformed by this matrix (w taken as 1).
    FbxVector4 MultT(const FbxVector4& point) const;
    // A singular matrix gives non-finite elements; nothing here tests for it.
    FbxAMatrix Inverse() const;
    FbxAMatrix operator*(const FbxAMatrix& other) const;
    bool operator==(const FbxAMatrix& other) const;

    double mData[4][4];
};
