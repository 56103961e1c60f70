// The D3DX matrix type (row-major, for row vectors) and the right-handed perspective projection.
#pragma once

#include <windows.h>

struct D3DXMATRIX {
    union {
        struct {
            FLOAT _11, _12, _13, _14;
            FLOAT _21, _22, _23, _24;
            FLOAT _31, _32, _33, _34;
            FLOAT _41, _42, _43, _44;
        };
        FLOAT m[4][4];
    };
};

// ys = cot(fovY / 2), xs = ys / aspect; rows (xs 0 0 0), (0 ys 0 0), (0 0 zf/(zn-zf) -1),
// (0 0 zn*zf/(zn-zf) 0): view space looks down -z and depth lands in 0..1.
D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, FLOAT fovY, FLOAT aspect, FLOAT zn, FLOAT zf);
