// The geometry records the loaders fill and the passes draw: vertices, meshes, materials, models,
// joints and their animation keys.
#pragma once

#include "iResource.h"

#include <d3d11.h>
#include <fbxsdk.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

class Model;

struct BlendPair {
    std::uint32_t joint = 0;
    double weight = 0.0;
};

// One vertex as the vertex buffers hold it: 124 bytes, of which the shaders read the first 88. Bytes
// 112-123 stay reserved and zero; blend pairs live beside the vertices, with the loader, because a
// growable array here would change the record's size with the machine's word size.
struct Vertex {
    float position[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float colour[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float normal[3] = {1.0f, 0.0f, 0.0f};
    float texCoord[2] = {0.0f, 0.0f};
    std::uint32_t blendIndices[4] = {0, 0, 0, 0};
    float blendWeights[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    std::uint32_t textureIndex = 0;
    float extraA[3] = {0.0f, 0.0f, 0.0f};
    float extraB[3] = {0.0f, 0.0f, 0.0f};
    std::uint32_t reserved[3] = {0, 0, 0};
};
static_assert(sizeof(Vertex) == 124, "the vertex-buffer stride");
static_assert(std::is_trivially_copyable_v<Vertex> && std::is_standard_layout_v<Vertex>);
static_assert(offsetof(Vertex, position) == 0);
static_assert(offsetof(Vertex, colour) == 16);
static_assert(offsetof(Vertex, normal) == 32);
static_assert(offsetof(Vertex, texCoord) == 44);
static_assert(offsetof(Vertex, blendIndices) == 52);
static_assert(offsetof(Vertex, blendWeights) == 68);
static_assert(offsetof(Vertex, textureIndex) == 84);
static_assert(offsetof(Vertex, extraA) == 88);
static_assert(offsetof(Vertex, extraB) == 100);
static_assert(offsetof(Vertex, reserved) == 112);

struct Material {
    float ambient[3] = {1.0f, 1.0f, 1.0f};
    float diffuse[3] = {1.0f, 1.0f, 1.0f};
    float specular[3] = {1.0f, 1.0f, 1.0f};
    float shininess = 32.0f;
    std::string name;
    std::string diffuseTexture;
    std::string specularTexture;
};

// One drawable part of a model. The mesh owns its vertex and index arrays and shares them with its
// copies, so the initial-data pointers stay valid while any copy lives; each copy makes and releases
// buffers of its own.
class Mesh {
public:
    explicit Mesh(std::string name = {});
    Mesh(const Mesh& other);
    Mesh& operator=(const Mesh& other);
    ~Mesh();

    void SetVertices(std::vector<Vertex> vertices);
    void SetIndices(std::vector<std::uint32_t> indices);
    // Makes both buffers on the device from the descriptions and initial data; false when one failed.
    bool CreateBuffers(ID3D11Device* device);
    void ReleaseBuffers();
    const Vertex* Vertices() const { return mVertexArray ? mVertexArray->data() : nullptr; }
    const std::uint32_t* Indices() const { return mIndexArray ? mIndexArray->data() : nullptr; }

    std::string mName;
    std::vector<std::string> mTextureNames{"defaulttexture"};
    std::string mShaderName = "defaultshader";
    float mColour[4] = {0.0f, 0.2f, 1.0f, 1.0f};
    bool mTransparent = false;
    bool mVisible = true;
    D3D11_BUFFER_DESC mIndexDesc{0, D3D11_USAGE_DEFAULT, D3D11_BIND_INDEX_BUFFER, 0, 0, 0};
    D3D11_BUFFER_DESC mVertexDesc{0, D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
    D3D11_SUBRESOURCE_DATA mIndexData{nullptr, 0, 0};
    D3D11_SUBRESOURCE_DATA mVertexData{nullptr, 0, 0};
    ID3D11Buffer* mVertexBuffer = nullptr;
    ID3D11Buffer* mIndexBuffer = nullptr;
    std::uint32_t mVertexCount = 0;
    std::uint32_t mIndexCount = 0;
    std::vector<Material> mMaterials;
    Model* mOwner = nullptr;

private:
    void CopyFields(const Mesh& other);

    std::shared_ptr<const std::vector<Vertex>> mVertexArray;
    std::shared_ptr<const std::vector<std::uint32_t>> mIndexArray;
};

struct MeshEntry {
    Mesh* mesh;
    // Row-major: row r, column c at 4r + c.
    float transform[16];
};

struct Keyframe {
    std::int64_t frame = 0;
    FbxAMatrix transform;
};

struct Joint {
    std::string name;
    std::int32_t parent = -1;
    int unused = 0;
    FbxAMatrix bindPoseInverse;
    std::vector<Keyframe> keys;
    FbxNode* node = nullptr;
};

// Writes the identity into a 16-float matrix and returns it.
float* SetIdentityMatrix(float* matrix);

class Model : public iResource {
public:
    explicit Model(std::string name);
    ~Model() override;
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // The model owns the mesh from then on and becomes its owner.
    void AddMesh(Mesh* mesh, const float transform[16]);

    std::vector<MeshEntry> mMeshes;
    int mIsDebug = 0;
    std::vector<FbxNode*> mNodes;
    std::uint32_t mCurrentKey = 0;
    bool mAnimate = true;
    float mVector[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float mMatrix[16];
    std::vector<Joint> mSkeleton;
    std::int32_t mFirstFrame = 0;
    std::int32_t mLastFrame = 0;
};

// A row-major identity for AddMesh.
extern const float kIdentityTransform[16];
