// Shader compilation from files and texture loading, as the D3DX11 helpers offer them.
//
// There is no HLSL compiler here: compiling checks the file and its entry point and yields a blob that
// names (file stem, entry point, profile); the device then runs the built-in C++ program of that stem
// ("defaultshader", "textureshader", "camerashader", "animationshader", "imguishader").
#pragma once

#include <d3d11.h>

struct ID3DX11ThreadPump;
struct D3DX11_IMAGE_LOAD_INFO;

#define D3DX11_ERR_INVALID_DATA ((HRESULT)0x88760B59)

HRESULT D3DX11CompileFromFileW(LPCWSTR srcFile, const D3D10_SHADER_MACRO* defines, LPD3D10INCLUDE include,
                               LPCSTR functionName, LPCSTR profile, UINT flags1, UINT flags2,
                               ID3DX11ThreadPump* pump, ID3D10Blob** shader, ID3D10Blob** errorMessages,
                               HRESULT* result);
#define D3DX11CompileFromFile D3DX11CompileFromFileW

// PNG and BMP files become R8G8B8A8_UNORM textures with one mip level.
HRESULT D3DX11CreateShaderResourceViewFromFileW(ID3D11Device* device, LPCWSTR srcFile,
                                                D3DX11_IMAGE_LOAD_INFO* loadInfo, ID3DX11ThreadPump* pump,
                                                ID3D11ShaderResourceView** view, HRESULT* result);
#define D3DX11CreateShaderResourceViewFromFile D3DX11CreateShaderResourceViewFromFileW
