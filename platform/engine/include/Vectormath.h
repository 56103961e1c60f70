// Small single-precision vector and matrix library used by the component interface.
// Matrices are column-major with column vectors: element (row r, column c) sits at float 4c + r.
#pragma once

#include <cmath>

namespace Vectormath {
namespace Aos {

class alignas(16) Vector3 {
public:
    Vector3() : m{0.0f, 0.0f, 0.0f, 0.0f} {}
    Vector3(float x, float y, float z) : m{x, y, z, 0.0f} {}
    explicit Vector3(float s) : m{s, s, s, 0.0f} {}

    float getX() const { return m[0]; }
    float getY() const { return m[1]; }
    float getZ() const { return m[2]; }
    Vector3& setX(float v) {
        m[0] = v;
        return *this;
    }
    Vector3& setY(float v) {
        m[1] = v;
        return *this;
    }
    Vector3& setZ(float v) {
        m[2] = v;
        return *this;
    }
    float getElem(int i) const { return m[i]; }
    Vector3& setElem(int i, float v) {
        m[i] = v;
        return *this;
    }
    float operator[](int i) const { return m[i]; }
    float& operator[](int i) { return m[i]; }

    Vector3 operator+(const Vector3& o) const { return {m[0] + o.m[0], m[1] + o.m[1], m[2] + o.m[2]}; }
    Vector3 operator-(const Vector3& o) const { return {m[0] - o.m[0], m[1] - o.m[1], m[2] - o.m[2]}; }
    Vector3 operator*(float s) const { return {m[0] * s, m[1] * s, m[2] * s}; }
    Vector3 operator/(float s) const { return {m[0] / s, m[1] / s, m[2] / s}; }
    Vector3 operator-() const { return {-m[0], -m[1], -m[2]}; }
    Vector3& operator+=(const Vector3& o) { return *this = *this + o; }
    Vector3& operator-=(const Vector3& o) { return *this = *this - o; }
    Vector3& operator*=(float s) { return *this = *this * s; }
    Vector3& operator/=(float s) { return *this = *this / s; }

    static Vector3 xAxis() { return {1.0f, 0.0f, 0.0f}; }
    static Vector3 yAxis() { return {0.0f, 1.0f, 0.0f}; }
    static Vector3 zAxis() { return {0.0f, 0.0f, 1.0f}; }

private:
    float m[4];
};

class alignas(16) Vector4 {
public:
    Vector4() : m{0.0f, 0.0f, 0.0f, 0.0f} {}
    Vector4(float x, float y, float z, float w) : m{x, y, z, w} {}
    Vector4(const Vector3& v, float w) : m{v.getX(), v.getY(), v.getZ(), w} {}
    explicit Vector4(float s) : m{s, s, s, s} {}

    float getX() const { return m[0]; }
    float getY() const { return m[1]; }
    float getZ() const { return m[2]; }
    float getW() const { return m[3]; }
    Vector4& setX(float v) {
        m[0] = v;
        return *this;
    }
    Vector4& setY(float v) {
        m[1] = v;
        return *this;
    }
    Vector4& setZ(float v) {
        m[2] = v;
        return *this;
    }
    Vector4& setW(float v) {
        m[3] = v;
        return *this;
    }
    Vector3 getXYZ() const { return {m[0], m[1], m[2]}; }
    Vector4& setXYZ(const Vector3& v) {
        m[0] = v.getX();
        m[1] = v.getY();
        m[2] = v.getZ();
        return *this;
    }
    float getElem(int i) const { return m[i]; }
    Vector4& setElem(int i, float v) {
        m[i] = v;
        return *this;
    }
    float operator[](int i) const { return m[i]; }
    float& operator[](int i) { return m[i]; }

    Vector4 operator+(const Vector4& o) const {
        return {m[0] + o.m[0], m[1] + o.m[1], m[2] + o.m[2], m[3] + o.m[3]};
    }
    Vector4 operator-(const Vector4& o) const {
        return {m[0] - o.m[0], m[1] - o.m[1], m[2] - o.m[2], m[3] - o.m[3]};
    }
    Vector4 operator*(float s) const { return {m[0] * s, m[1] * s, m[2] * s, m[3] * s}; }
    Vector4 operator/(float s) const { return {m[0] / s, m[1] / s, m[2] / s, m[3] / s}; }
    Vector4 operator-() const { return {-m[0], -m[1], -m[2], -m[3]}; }
    Vector4& operator+=(const Vector4& o) { return *this = *this + o; }
    Vector4& operator-=(const Vector4& o) { return *this = *this - o; }
    Vector4& operator*=(float s) { return *this = *this * s; }

private:
    float m[4];
};

static_assert(sizeof(Vector3) == 16 && sizeof(Vector4) == 16);

inline Vector3 operator*(float s, const Vector3& v) {
    return v * s;
}
inline Vector4 operator*(float s, const Vector4& v) {
    return v * s;
}

inline float dot(const Vector3& a, const Vector3& b) {
    return a.getX() * b.getX() + a.getY() * b.getY() + a.getZ() * b.getZ();
}
inline float dot(const Vector4& a, const Vector4& b) {
    return a.getX() * b.getX() + a.getY() * b.getY() + a.getZ() * b.getZ() + a.getW() * b.getW();
}
inline Vector3 cross(const Vector3& a, const Vector3& b) {
    return {a.getY() * b.getZ() - a.getZ() * b.getY(), a.getZ() * b.getX() - a.getX() * b.getZ(),
            a.getX() * b.getY() - a.getY() * b.getX()};
}
inline float lengthSqr(const Vector3& v) {
    return dot(v, v);
}
inline float lengthSqr(const Vector4& v) {
    return dot(v, v);
}
inline float length(const Vector3& v) {
    return std::sqrt(lengthSqr(v));
}
inline float length(const Vector4& v) {
    return std::sqrt(lengthSqr(v));
}
// Like the SIMD original, a zero vector has no direction: the result is not finite.
inline Vector3 normalize(const Vector3& v) {
    return v * (1.0f / length(v));
}
inline Vector4 normalize(const Vector4& v) {
    return v * (1.0f / length(v));
}
inline Vector3 absPerElem(const Vector3& v) {
    return {std::fabs(v.getX()), std::fabs(v.getY()), std::fabs(v.getZ())};
}
inline Vector4 absPerElem(const Vector4& v) {
    return {std::fabs(v.getX()), std::fabs(v.getY()), std::fabs(v.getZ()), std::fabs(v.getW())};
}
inline Vector3 mulPerElem(const Vector3& a, const Vector3& b) {
    return {a.getX() * b.getX(), a.getY() * b.getY(), a.getZ() * b.getZ()};
}
inline Vector4 mulPerElem(const Vector4& a, const Vector4& b) {
    return {a.getX() * b.getX(), a.getY() * b.getY(), a.getZ() * b.getZ(), a.getW() * b.getW()};
}
inline Vector3 minPerElem(const Vector3& a, const Vector3& b) {
    return {std::fmin(a.getX(), b.getX()), std::fmin(a.getY(), b.getY()), std::fmin(a.getZ(), b.getZ())};
}
inline Vector3 maxPerElem(const Vector3& a, const Vector3& b) {
    return {std::fmax(a.getX(), b.getX()), std::fmax(a.getY(), b.getY()), std::fmax(a.getZ(), b.getZ())};
}

class Matrix3 {
public:
    Matrix3() = default;
    Matrix3(const Vector3& c0, const Vector3& c1, const Vector3& c2) : col{c0, c1, c2} {}

    static Matrix3 identity() { return {Vector3::xAxis(), Vector3::yAxis(), Vector3::zAxis()}; }
    static Matrix3 rotationX(float radians);
    static Matrix3 rotationY(float radians);
    static Matrix3 rotationZ(float radians);
    // Rotation about x first, then y, then z (R = Rz * Ry * Rx).
    static Matrix3 rotationZYX(const Vector3& radians) {
        return rotationZ(radians.getZ()) * rotationY(radians.getY()) * rotationX(radians.getX());
    }
    static Matrix3 scale(const Vector3& s) {
        return {Vector3(s.getX(), 0, 0), Vector3(0, s.getY(), 0), Vector3(0, 0, s.getZ())};
    }

    const Vector3& getCol(int c) const { return col[c]; }
    Vector3 getCol0() const { return col[0]; }
    Vector3 getCol1() const { return col[1]; }
    Vector3 getCol2() const { return col[2]; }
    Matrix3& setCol(int c, const Vector3& v) {
        col[c] = v;
        return *this;
    }
    Vector3 getRow(int r) const { return {col[0][r], col[1][r], col[2][r]}; }
    float getElem(int c, int r) const { return col[c][r]; }
    Matrix3& setElem(int c, int r, float v) {
        col[c][r] = v;
        return *this;
    }

    Matrix3 operator*(const Matrix3& o) const {
        return {*this * o.col[0], *this * o.col[1], *this * o.col[2]};
    }
    Vector3 operator*(const Vector3& v) const {
        return col[0] * v.getX() + col[1] * v.getY() + col[2] * v.getZ();
    }

private:
    Vector3 col[3];
};

inline Matrix3 Matrix3::rotationX(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {Vector3(1, 0, 0), Vector3(0, c, s), Vector3(0, -s, c)};
}
inline Matrix3 Matrix3::rotationY(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {Vector3(c, 0, -s), Vector3(0, 1, 0), Vector3(s, 0, c)};
}
inline Matrix3 Matrix3::rotationZ(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {Vector3(c, s, 0), Vector3(-s, c, 0), Vector3(0, 0, 1)};
}

inline Matrix3 transpose(const Matrix3& m) {
    return {m.getRow(0), m.getRow(1), m.getRow(2)};
}
// A singular matrix has no inverse: the result is not finite.
inline Matrix3 inverse(const Matrix3& m) {
    const Vector3 c0 = m.getCol0(), c1 = m.getCol1(), c2 = m.getCol2();
    const Vector3 r0 = cross(c1, c2), r1 = cross(c2, c0), r2 = cross(c0, c1);
    const float invDet = 1.0f / dot(c2, r2);
    return transpose(Matrix3(r0 * invDet, r1 * invDet, r2 * invDet));
}

class Matrix4 {
public:
    Matrix4() = default;
    Matrix4(const Vector4& c0, const Vector4& c1, const Vector4& c2, const Vector4& c3)
        : col{c0, c1, c2, c3} {}
    Matrix4(const Matrix3& upper, const Vector3& translation)
        : col{Vector4(upper.getCol0(), 0), Vector4(upper.getCol1(), 0), Vector4(upper.getCol2(), 0),
              Vector4(translation, 1)} {}

    static Matrix4 identity() { return {Matrix3::identity(), Vector3(0.0f)}; }
    static Matrix4 translation(const Vector3& t) { return {Matrix3::identity(), t}; }
    static Matrix4 rotationX(float a) { return {Matrix3::rotationX(a), Vector3(0.0f)}; }
    static Matrix4 rotationY(float a) { return {Matrix3::rotationY(a), Vector3(0.0f)}; }
    static Matrix4 rotationZ(float a) { return {Matrix3::rotationZ(a), Vector3(0.0f)}; }
    static Matrix4 rotationZYX(const Vector3& radians) {
        return {Matrix3::rotationZYX(radians), Vector3(0.0f)};
    }
    static Matrix4 scale(const Vector3& s) { return {Matrix3::scale(s), Vector3(0.0f)}; }

    const Vector4& getCol(int c) const { return col[c]; }
    Vector4 getCol0() const { return col[0]; }
    Vector4 getCol1() const { return col[1]; }
    Vector4 getCol2() const { return col[2]; }
    Vector4 getCol3() const { return col[3]; }
    Matrix4& setCol(int c, const Vector4& v) {
        col[c] = v;
        return *this;
    }
    Vector4 getRow(int r) const { return {col[0][r], col[1][r], col[2][r], col[3][r]}; }
    float getElem(int c, int r) const { return col[c][r]; }
    Matrix4& setElem(int c, int r, float v) {
        col[c][r] = v;
        return *this;
    }
    Matrix3 getUpper3x3() const { return {col[0].getXYZ(), col[1].getXYZ(), col[2].getXYZ()}; }
    Matrix4& setUpper3x3(const Matrix3& m) {
        for (int c = 0; c < 3; ++c)
            col[c].setXYZ(m.getCol(c));
        return *this;
    }
    Vector3 getTranslation() const { return col[3].getXYZ(); }
    Matrix4& setTranslation(const Vector3& t) {
        col[3].setXYZ(t);
        return *this;
    }

    Vector4 operator*(const Vector4& v) const {
        return col[0] * v.getX() + col[1] * v.getY() + col[2] * v.getZ() + col[3] * v.getW();
    }
    Matrix4 operator*(const Matrix4& o) const {
        return {*this * o.col[0], *this * o.col[1], *this * o.col[2], *this * o.col[3]};
    }

private:
    Vector4 col[4];
};

static_assert(sizeof(Matrix4) == 64, "element (r, c) must sit at float 4c + r");

inline Matrix4 transpose(const Matrix4& m) {
    return {m.getRow(0), m.getRow(1), m.getRow(2), m.getRow(3)};
}
// General 4x4 inverse by cofactors; a singular matrix gives a non-finite result.
Matrix4 inverse(const Matrix4& m);

} // namespace Aos
} // namespace Vectormath
