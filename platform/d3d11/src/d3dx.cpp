#include "internal.h"
#include "programs.h"

#include <d3dx10math.h>
#include <d3dx11.h>

#include <stb/stb_image.h>
#include <win32_paths.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <strings.h>

namespace d3d11sw {

namespace {

constexpr char kBlobMagic[8] = {'T', 'V', 'K', 'S', 'H', 'A', 'D', 'R'};

struct ProgramEntry {
    const char* stem;
    VsProgram vs;
    PsProgram ps;
};
// The game's shader files, by stem, and the built-in programs that run them.
constexpr ProgramEntry kPrograms[] = {
    {"defaultshader", VsProgram::Scene, PsProgram::Scene},
    {"textureshader", VsProgram::Scene, PsProgram::Textured},
    {"animationshader", VsProgram::Skinned, PsProgram::Textured},
    {"camerashader", VsProgram::Camera, PsProgram::Camera},
    {"imguishader", VsProgram::Gui, PsProgram::Gui},
};

const ProgramEntry* FindProgram(const std::string& stem) {
    for (const auto& p : kPrograms)
        if (strcasecmp(p.stem, stem.c_str()) == 0) return &p;
    return nullptr;
}

struct ShaderTag {
    std::string stem, entry, profile;
};

bool ParseBlob(const void* bytecode, SIZE_T length, ShaderTag& tag) {
    if (!bytecode || length < sizeof kBlobMagic + 3) return false;
    const char* p = static_cast<const char*>(bytecode);
    if (std::memcmp(p, kBlobMagic, sizeof kBlobMagic) != 0 || p[length - 1] != '\0') return false;
    const char* end = p + length;
    const char* s = p + sizeof kBlobMagic;
    std::string* fields[3] = {&tag.stem, &tag.entry, &tag.profile};
    for (std::string* f : fields) {
        if (s >= end) return false;
        *f = s;
        s += f->size() + 1;
    }
    return true;
}

bool IsIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// True when `name` appears as a whole identifier followed (after blanks) by "(".
bool DeclaresFunction(const std::string& text, const std::string& name) {
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        if (at > 0 && IsIdentChar(text[at - 1])) continue;
        size_t after = at + name.size();
        if (after < text.size() && IsIdentChar(text[after])) continue;
        while (after < text.size() && std::isspace(static_cast<unsigned char>(text[after])))
            ++after;
        if (after < text.size() && text[after] == '(') return true;
    }
    return false;
}

ID3D10Blob* TextBlob(const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return new Blob(std::move(bytes));
}

} // namespace

std::string StemOf(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// ---- shader objects ----------------------------------------------------------------------------------

HRESULT Device::CreateVertexShader(const void* bytecode, SIZE_T length, ID3D11ClassLinkage*,
                                   ID3D11VertexShader** shader) {
    D3D11SW_RECORD("CreateVertexShader", {Addr(bytecode), double(length)});
    ShaderTag tag;
    if (!ParseBlob(bytecode, length, tag) || tag.profile.rfind("vs_", 0) != 0) {
        Complain("CreateVertexShader: the byte code is not a compiled vertex shader");
        return E_INVALIDARG;
    }
    const ProgramEntry* program = FindProgram(tag.stem);
    if (!program) {
        Complain("CreateVertexShader: no built-in program for shader file \"%s\" (known: defaultshader, "
                 "textureshader, animationshader, camerashader, imguishader)",
                 tag.stem.c_str());
        return E_INVALIDARG;
    }
    if (!shader) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreateVertexShader"); FAILED(hr)) return hr;
    *shader = new VertexShader(program->vs, program->stem);
    return S_OK;
}

HRESULT Device::CreatePixelShader(const void* bytecode, SIZE_T length, ID3D11ClassLinkage*,
                                  ID3D11PixelShader** shader) {
    D3D11SW_RECORD("CreatePixelShader", {Addr(bytecode), double(length)});
    ShaderTag tag;
    if (!ParseBlob(bytecode, length, tag) || tag.profile.rfind("ps_", 0) != 0) {
        Complain("CreatePixelShader: the byte code is not a compiled pixel shader");
        return E_INVALIDARG;
    }
    const ProgramEntry* program = FindProgram(tag.stem);
    if (!program) {
        Complain("CreatePixelShader: no built-in program for shader file \"%s\" (known: defaultshader, "
                 "textureshader, animationshader, camerashader, imguishader)",
                 tag.stem.c_str());
        return E_INVALIDARG;
    }
    if (!shader) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreatePixelShader"); FAILED(hr)) return hr;
    *shader = new PixelShader(program->ps, program->stem);
    return S_OK;
}

HRESULT Device::CreateInputLayout(const D3D11_INPUT_ELEMENT_DESC* elements, UINT count, const void* bytecode,
                                  SIZE_T length, ID3D11InputLayout** layout) {
    if (Recording()) {
        // Per element: format, slot, offset, classification; the semantics in `text`, comma-separated.
        std::vector<double> args{double(count)};
        std::string semantics;
        for (UINT i = 0; elements && i < count; ++i) {
            const auto& e = elements[i];
            args.insert(args.end(), {double(e.Format), double(e.InputSlot), double(e.AlignedByteOffset),
                                     double(e.InputSlotClass)});
            if (i) semantics += ',';
            semantics += e.SemanticName ? e.SemanticName : "";
        }
        RecordCall("CreateInputLayout", std::move(args), nullptr, 0, std::move(semantics));
    }
    ShaderTag tag;
    const ProgramEntry* program = nullptr;
    if (!ParseBlob(bytecode, length, tag) || tag.profile.rfind("vs_", 0) != 0 ||
        !(program = FindProgram(tag.stem))) {
        Complain("CreateInputLayout: the signature is not that of a known vertex shader");
        return E_INVALIDARG;
    }
    if (!elements || count == 0 || count > 32) return E_INVALIDARG;
    static const char* const kNames[kSemanticCount] = {
        "POSITION", "COLOR", "NORMAL", "TEXCOORD", "BLENDINDICES", "BLENDWEIGHT", "TEXTUREINDEX"};
    std::vector<LayoutElement> out;
    UINT slotEnd[D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT] = {};
    unsigned present = 0;
    for (UINT i = 0; i < count; ++i) {
        const auto& e = elements[i];
        if (!e.SemanticName || e.InputSlot >= D3D11_IA_VERTEX_INPUT_RESOURCE_SLOT_COUNT ||
            e.InputSlotClass != D3D11_INPUT_PER_VERTEX_DATA)
            return E_INVALIDARG;
        UINT size = 0;
        switch (e.Format) {
        case DXGI_FORMAT_R32G32B32A32_FLOAT:
        case DXGI_FORMAT_R32G32B32A32_UINT:
            size = 16;
            break;
        case DXGI_FORMAT_R32G32B32_FLOAT:
            size = 12;
            break;
        case DXGI_FORMAT_R32G32_FLOAT:
            size = 8;
            break;
        case DXGI_FORMAT_R32_FLOAT:
        case DXGI_FORMAT_R32_UINT:
        case DXGI_FORMAT_R8G8B8A8_UNORM:
            size = 4;
            break;
        default:
            Complain("CreateInputLayout: format %d of \"%s\" is not supported", int(e.Format),
                     e.SemanticName);
            return E_INVALIDARG;
        }
        const UINT offset =
            e.AlignedByteOffset == D3D11_APPEND_ALIGNED_ELEMENT ? slotEnd[e.InputSlot] : e.AlignedByteOffset;
        slotEnd[e.InputSlot] = offset + size;
        if (e.SemanticIndex != 0) continue;
        for (int s = 0; s < kSemanticCount; ++s) {
            if (strcasecmp(kNames[s], e.SemanticName) != 0) continue;
            out.push_back({Semantic(s), e.Format, e.InputSlot, offset});
            present |= 1u << s;
        }
    }
    const unsigned required = RequiredSemantics(program->vs);
    if ((present & required) != required) {
        Complain("CreateInputLayout: the layout lacks inputs that the vertex shader of \"%s\" reads",
                 tag.stem.c_str());
        return E_INVALIDARG;
    }
    if (!layout) return S_FALSE;
    if (HRESULT hr = TakeInjectedFailure("CreateInputLayout"); FAILED(hr)) return hr;
    *layout = new InputLayout(std::move(out));
    return S_OK;
}

} // namespace d3d11sw

using namespace d3d11sw;

// ---- D3DX --------------------------------------------------------------------------------------------

HRESULT D3DX11CompileFromFileW(LPCWSTR srcFile, const D3D10_SHADER_MACRO*, LPD3D10INCLUDE,
                               LPCSTR functionName, LPCSTR profile, UINT flags1, UINT flags2,
                               ID3DX11ThreadPump* pump, ID3D10Blob** shader, ID3D10Blob** errorMessages,
                               HRESULT* result) {
    D3D11SW_RECORD("D3DX11CompileFromFileW", {double(flags1), double(flags2)}, nullptr, 0,
                   win32::ToUtf8(srcFile) + "|" + (functionName ? functionName : "") + "|" +
                       (profile ? profile : ""));
    if (shader) *shader = nullptr;
    if (errorMessages) *errorMessages = nullptr;
    auto finish = [&](HRESULT hr) {
        if (result) *result = hr;
        return hr;
    };
    if (!srcFile || !functionName || !profile || !shader || pump) return finish(E_INVALIDARG);
    const std::string path = win32::NativePath(srcFile);
    std::ifstream file(path, std::ios::binary);
    if (!file) return finish(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    std::stringstream text;
    text << file.rdbuf();
    const std::string source = text.str();
    const std::string prof = profile;
    if (prof != "vs_5_0" && prof != "ps_5_0" && prof != "vs_4_0" && prof != "ps_4_0") {
        if (errorMessages) *errorMessages = TextBlob(path + ": error X3523: invalid target '" + prof + "'\n");
        return finish(E_FAIL);
    }
    if (!DeclaresFunction(source, functionName)) {
        if (errorMessages)
            *errorMessages =
                TextBlob(path + "(1,1): error X3501: '" + functionName + "': entrypoint not found\n");
        return finish(E_FAIL);
    }
    std::vector<uint8_t> bytes(kBlobMagic, kBlobMagic + sizeof kBlobMagic);
    for (const std::string& field : {StemOf(path), std::string(functionName), prof}) {
        bytes.insert(bytes.end(), field.begin(), field.end());
        bytes.push_back(0);
    }
    *shader = new Blob(std::move(bytes));
    return finish(S_OK);
}

HRESULT D3DX11CreateShaderResourceViewFromFileW(ID3D11Device* device, LPCWSTR srcFile,
                                                D3DX11_IMAGE_LOAD_INFO*, ID3DX11ThreadPump* pump,
                                                ID3D11ShaderResourceView** view, HRESULT* result) {
    D3D11SW_RECORD("D3DX11CreateShaderResourceViewFromFileW", {}, nullptr, 0, win32::ToUtf8(srcFile));
    if (view) *view = nullptr;
    auto finish = [&](HRESULT hr) {
        if (result) *result = hr;
        return hr;
    };
    if (!device || !srcFile || !view || pump) return finish(E_INVALIDARG);
    const std::string path = win32::NativePath(srcFile);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return finish(D3D11_ERROR_FILE_NOT_FOUND);
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &w, &h, &channels, 4);
    if (!pixels) return finish(D3DX11_ERR_INVALID_DATA);
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = UINT(w);
    desc.Height = UINT(h);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.SampleDesc = {1, 0};
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    const D3D11_SUBRESOURCE_DATA data{pixels, UINT(w) * 4, 0};
    ID3D11Texture2D* texture = nullptr;
    HRESULT hr = device->CreateTexture2D(&desc, &data, &texture);
    stbi_image_free(pixels);
    if (FAILED(hr)) return finish(hr);
    hr = device->CreateShaderResourceView(texture, nullptr, view);
    texture->Release();
    return finish(hr);
}

D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, FLOAT fovY, FLOAT aspect, FLOAT zn, FLOAT zf) {
    if (!out) return out;
    const float ys = 1.0f / std::tan(fovY * 0.5f);
    const float xs = ys / aspect;
    std::memset(out, 0, sizeof *out);
    out->_11 = xs;
    out->_22 = ys;
    out->_33 = zf / (zn - zf);
    out->_34 = -1.0f;
    out->_43 = zn * zf / (zn - zf);
    return out;
}
