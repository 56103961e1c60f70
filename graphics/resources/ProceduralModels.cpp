#include "ProceduralModels.h"

#include "DXDevice.h"

#include <cmath>

namespace {

void Build(Model& model, Mesh* mesh, DXDevice* device) {
    if (device) mesh->CreateBuffers(device->GetD3DDevice());
    model.AddMesh(mesh, kIdentityTransform);
}

} // namespace

Vertex MakeColouredVertex(const Float3& position, const float colour[4], float u, float v) {
    Vertex out;
    out.position[0] = position.x;
    out.position[1] = position.y;
    out.position[2] = position.z;
    out.position[3] = 1.0f;
    for (int i = 0; i < 4; ++i)
        out.colour[i] = colour[i];
    out.texCoord[0] = u;
    out.texCoord[1] = v;
    return out;
}

Vertex MakeFullVertex(const Float3& position, const float colour[4], const Float3& normal, float u, float v,
                      const std::uint32_t blendIndices[4], const float blendWeights[4],
                      std::uint32_t textureIndex, const Float3& extraA, const Float3& extraB) {
    Vertex out = MakeColouredVertex(position, colour, u, v);
    out.normal[0] = normal.x;
    out.normal[1] = normal.y;
    out.normal[2] = normal.z;
    for (int i = 0; i < 4; ++i) {
        out.blendIndices[i] = blendIndices[i];
        out.blendWeights[i] = blendWeights[i];
    }
    out.textureIndex = textureIndex;
    out.extraA[0] = extraA.x;
    out.extraA[1] = extraA.y;
    out.extraA[2] = extraA.z;
    out.extraB[0] = extraB.x;
    out.extraB[1] = extraB.y;
    out.extraB[2] = extraB.z;
    return out;
}

Vertex MakeMovedVertex(const Vertex& vertex, const Float3& offset) {
    Vertex out = MakeColouredVertex(
        {vertex.position[0] + offset.x, vertex.position[1] + offset.y, vertex.position[2] + offset.z},
        vertex.colour, vertex.texCoord[0], vertex.texCoord[1]);
    out.normal[0] = 0.0f;
    return out;
}

Cube::Cube(std::string name, DXDevice* device) : Model(std::move(name)) {
    struct Corner {
        float x, y, z, u, v;
    };
    static constexpr Corner kCorners[24] = {
        {-0.5f, -0.5f, -0.5f, 0, 1},  {-0.5f, 0.5f, -0.5f, 0, 0},   {0.5f, 0.5f, -0.5f, -1, 0},
        {0.5f, -0.5f, -0.5f, -1, 1},  {-0.5f, -0.5f, 0.5f, -1, 1},  {0.5f, -0.5f, 0.5f, 0, 1},
        {0.5f, 0.5f, 0.5f, 0, 0},     {-0.5f, 0.5f, 0.5f, -1, 0},   {-0.5f, 0.5f, -0.5f, 0, 1},
        {-0.5f, 0.5f, 0.5f, 0, 0},    {0.5f, 0.5f, 0.5f, -1, 0},    {0.5f, 0.5f, -0.5f, -1, 1},
        {-0.5f, -0.5f, -0.5f, -1, 1}, {0.5f, -0.5f, -0.5f, 0, 1},   {0.5f, -0.5f, 0.5f, 0, 0},
        {-0.5f, -0.5f, 0.5f, -1, 0},  {-0.5f, -0.5f, 0.5f, 0, 1},   {-0.5f, 0.5f, 0.5f, 0, 0},
        {-0.5f, 0.5f, -0.5f, -1, 0},  {-0.5f, -0.5f, -0.5f, -1, 1}, {0.5f, -0.5f, -0.5f, 0, 1},
        {0.5f, 0.5f, -0.5f, 0, 0},    {0.5f, 0.5f, 0.5f, -1, 0},    {0.5f, -0.5f, 0.5f, -1, 1},
    };
    static constexpr float kColour[4] = {0.7f, 0.0f, 0.2f, 1.0f};
    std::vector<Vertex> vertices;
    vertices.reserve(24);
    for (const Corner& c : kCorners) {
        Vertex v = MakeColouredVertex({c.x, c.y, c.z}, kColour, c.u, c.v);
        v.normal[0] = 0.0f;
        vertices.push_back(v);
    }
    auto* mesh = new Mesh("CubeMesh");
    mesh->SetVertices(std::move(vertices));
    mesh->SetIndices({4,  5,  6,  4,  6,  7,  0,  1,  2,  0,  2,  3,  8,  9,  10, 8,  10, 11,
                      12, 13, 14, 12, 14, 15, 16, 17, 18, 16, 18, 19, 20, 21, 22, 20, 22, 23});
    Build(*this, mesh, device);
}

DebugModel::DebugModel(std::string name) : Model(std::move(name)) {
    mIsDebug = 1;
}

void DebugModel::Finish(Mesh* mesh, DXDevice* device) {
    Build(*this, mesh, device);
}

DebugModel::DebugModel(const Float3& start, const Float3& end, const float colour[4], DXDevice* device)
    : DebugModel("debugline") {
    auto* mesh = new Mesh("debugline");
    mesh->SetVertices({MakeColouredVertex(start, colour, 0, 0), MakeColouredVertex(end, colour, 0, 0)});
    mesh->SetIndices({0, 1});
    Finish(mesh, device);
}

DebugModel::DebugModel(const Float3& centre, const Float3& size, const float colour[4],
                       const float orientation[9], DXDevice* device)
    : DebugModel("debugbox") {
    static constexpr float kSigns[8][3] = {{1, 1, -1}, {1, -1, -1}, {-1, -1, -1}, {-1, 1, -1},
                                           {1, 1, 1},  {1, -1, 1},  {-1, -1, 1},  {-1, 1, 1}};
    const float half[3] = {size.x / 2, size.y / 2, size.z / 2};
    std::vector<Vertex> vertices;
    for (const auto& s : kSigns) {
        float p[3] = {centre.x, centre.y, centre.z};
        for (int axis = 0; axis < 3; ++axis)
            for (int k = 0; k < 3; ++k)
                p[k] += s[axis] * half[axis] * orientation[3 * axis + k];
        vertices.push_back(MakeColouredVertex({p[0], p[1], p[2]}, colour, 0, 0));
    }
    auto* mesh = new Mesh("debugbox");
    mesh->SetVertices(std::move(vertices));
    mesh->SetIndices({0, 1, 1, 2, 2, 3, 3, 0, 0, 4, 3, 7, 2, 6, 1, 5, 4, 5, 5, 6, 6, 7, 7, 4});
    Finish(mesh, device);
}

DebugModel::DebugModel(const Float3& centre, float radius, const float colour[4], DXDevice* device)
    : DebugModel("debugsphere") {
    std::vector<Vertex> vertices;
    vertices.reserve(441);
    for (int i = 0; i <= 20; ++i)
        for (int j = 0; j <= 20; ++j) {
            const float theta = float(i) * 0.15707962f;
            const float phi = float(j) * 0.31415924f;
            const Float3 p{centre.x + radius * std::sin(phi) * std::sin(theta),
                           centre.y + radius * std::cos(theta),
                           centre.z + radius * std::cos(phi) * std::sin(theta)};
            vertices.push_back(MakeColouredVertex(p, colour, float(j) / -20.0f, float(i) / 20.0f));
        }
    std::vector<std::uint32_t> indices;
    indices.reserve(2520);
    for (std::uint32_t k = 0; k < 420; ++k)
        indices.insert(indices.end(), {k + 1, k, k + 21, k + 20, k + 21, k});
    auto* mesh = new Mesh("debugsphere");
    mesh->SetVertices(std::move(vertices));
    mesh->SetIndices(std::move(indices));
    Finish(mesh, device);
}

DebugModel::DebugModel(const DebugModel& source) : DebugModel(source.mName) {
    mType = source.mType;
    mIsDebug = source.mIsDebug;
    for (const MeshEntry& entry : source.mMeshes)
        AddMesh(new Mesh(*entry.mesh), kIdentityTransform);
}
