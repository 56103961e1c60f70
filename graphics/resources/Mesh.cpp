#include "Mesh.h"

#include <algorithm>

const float kIdentityTransform[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

float* SetIdentityMatrix(float* matrix) {
    std::copy(std::begin(kIdentityTransform), std::end(kIdentityTransform), matrix);
    return matrix;
}

Mesh::Mesh(std::string name) : mName(std::move(name)) {}

Mesh::Mesh(const Mesh& other) {
    CopyFields(other);
    mVisible = true;
}

Mesh& Mesh::operator=(const Mesh& other) {
    if (this == &other) return *this;
    ReleaseBuffers();
    CopyFields(other);
    mVisible = other.mVisible;
    return *this;
}

Mesh::~Mesh() {
    ReleaseBuffers();
}

void Mesh::CopyFields(const Mesh& other) {
    mName = other.mName;
    mTextureNames = other.mTextureNames;
    mShaderName = other.mShaderName;
    std::copy(std::begin(other.mColour), std::end(other.mColour), mColour);
    mTransparent = other.mTransparent;
    mIndexDesc = other.mIndexDesc;
    mVertexDesc = other.mVertexDesc;
    mIndexData = other.mIndexData;
    mVertexData = other.mVertexData;
    mVertexCount = other.mVertexCount;
    mIndexCount = other.mIndexCount;
    mMaterials = other.mMaterials;
    mOwner = other.mOwner;
    mVertexArray = other.mVertexArray;
    mIndexArray = other.mIndexArray;
}

void Mesh::SetVertices(std::vector<Vertex> vertices) {
    auto array = std::make_shared<const std::vector<Vertex>>(std::move(vertices));
    mVertexCount = std::uint32_t(array->size());
    mVertexDesc.ByteWidth = UINT(mVertexCount * sizeof(Vertex));
    mVertexData = {array->data(), 0, 0};
    mVertexArray = std::move(array);
}

void Mesh::SetIndices(std::vector<std::uint32_t> indices) {
    auto array = std::make_shared<const std::vector<std::uint32_t>>(std::move(indices));
    mIndexCount = std::uint32_t(array->size());
    mIndexDesc.ByteWidth = UINT(mIndexCount * sizeof(std::uint32_t));
    mIndexData = {array->data(), 0, 0};
    mIndexArray = std::move(array);
}

bool Mesh::CreateBuffers(ID3D11Device* device) {
    if (!device) return false;
    const bool vertices =
        mVertexBuffer || SUCCEEDED(device->CreateBuffer(&mVertexDesc, &mVertexData, &mVertexBuffer));
    const bool indices =
        mIndexBuffer || SUCCEEDED(device->CreateBuffer(&mIndexDesc, &mIndexData, &mIndexBuffer));
    return vertices && indices;
}

void Mesh::ReleaseBuffers() {
    if (mVertexBuffer) mVertexBuffer->Release();
    if (mIndexBuffer) mIndexBuffer->Release();
    mVertexBuffer = nullptr;
    mIndexBuffer = nullptr;
}

Model::Model(std::string name) : iResource(std::move(name), RESOURCE_MODEL) {
    SetIdentityMatrix(mMatrix);
}

Model::~Model() {
    for (MeshEntry& entry : mMeshes)
        delete entry.mesh;
    mMeshes.clear();
    mNodes.clear();
}

void Model::AddMesh(Mesh* mesh, const float transform[16]) {
    MeshEntry entry{mesh, {}};
    std::copy(transform, transform + 16, entry.transform);
    mesh->mOwner = this;
    mMeshes.push_back(entry);
}
