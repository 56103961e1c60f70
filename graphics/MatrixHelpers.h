// 4 x 4 single-precision helpers on the engine's column-major matrices (element (r, c) at float
// 4c + r, column vectors: a point is transformed as M x v).
#pragma once

#include <Vectormath.h>

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector4;

// out = left x right. Both operands are read whole before out is written, so out may be either.
Matrix4& MultiplyMatrix(const Matrix4& left, Matrix4& out, const Matrix4& right);
Matrix4& SetIdentityMatrix(Matrix4& matrix);
// The cofactor inverse. There is no singularity test: a singular source gives infinite or NaN elements.
Matrix4& InvertMatrix(Matrix4& out, const Matrix4& source);
Matrix4& MakeMatrixFromColumns(Matrix4& out, const Vector4& c0, const Vector4& c1, const Vector4& c2,
                               const Vector4& c3);
