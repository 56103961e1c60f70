// Models the program builds itself: the default cube and the debug pass's lines, boxes and spheres.
// Each is one mesh with the identity transform whose buffers are made at once on the device.
#pragma once

#include "Mesh.h"

class DXDevice;

struct Float3 {
    float x, y, z;
};

// Position (x, y, z, 1), the colour, normal (1, 0, 0), the texture coordinate, the rest zero.
Vertex MakeColouredVertex(const Float3& position, const float colour[4], float u, float v);
// Every field up to byte 111 as given; position w 1.
Vertex MakeFullVertex(const Float3& position, const float colour[4], const Float3& normal, float u, float v,
                      const std::uint32_t blendIndices[4], const float blendWeights[4],
                      std::uint32_t textureIndex, const Float3& extraA, const Float3& extraB);
// The vertex's position moved by the offset (w 1), its colour and texture coordinate; all else zero.
Vertex MakeMovedVertex(const Vertex& vertex, const Float3& offset);

class Cube : public Model {
public:
    Cube(std::string name, DXDevice* device);
};

class DebugModel : public Model {
public:
    DebugModel(const Float3& start, const Float3& end, const float colour[4], DXDevice* device);
    // `orientation` holds three rows of three floats.
    DebugModel(const Float3& centre, const Float3& size, const float colour[4], const float orientation[9],
               DXDevice* device);
    DebugModel(const Float3& centre, float radius, const float colour[4], DXDevice* device);
    // Copies of the source's meshes without buffers (made when first drawn), with identity transforms.
    DebugModel(const DebugModel& source);
    DebugModel& operator=(const DebugModel&) = delete;

private:
    explicit DebugModel(std::string name);
    void Finish(Mesh* mesh, DXDevice* device);
};
