// Vector-base amplitude panning over an arbitrary set of speakers: the speakers triangulated on
// the (azimuth, elevation) plane, and for a direction the triangle that holds it with its gains.
// The busses build and own the set; its last speaker is a virtual one that closes the set.
#pragma once

#include <AU/AuTypes.h>

struct AuSpeakerTriangle {
    u32 uSpeakers[3];
    // Bounds of the corners on the (azimuth, elevation) plane, radians.
    f32 fMinAzimuth;
    f32 fMinElevation;
    f32 fMaxAzimuth;
    f32 fMaxElevation;
};

// Triangles in the lower-engine pool, growing four entries at a time.
struct AuTriangleArray {
    AuSpeakerTriangle* pItems = nullptr;
    u32 uCount = 0;
    u32 uCapacity = 0;

    // Room for `extra` more entries; false when out of memory, the array unchanged.
    static bool Grow(AuTriangleArray& array, u32 extra);
    // Appends, growing when full; false when out of memory.
    bool Add(const AuSpeakerTriangle& triangle);
    void Term();
};

struct AuSpeakerVector {
    f32 v[3];
};

class CAuSpeakerSet {
public:
    u32 uNumSpeakers = 0;
    AuTriangleArray listA;
    AuTriangleArray listB;
    const AuSpeakerVector* pSpeakers = nullptr; // unit vectors, one per speaker

    // Appends every Delaunay triangle of the points ((azimuth, elevation) pairs, one per speaker);
    // false when memory ran out. Fewer than three points give none.
    bool Triangulate(const f32* points, AuTriangleArray& triangles) const;
    // Appends the corners of list A and then list B with empty bounds; a triangle that finds no
    // room is left out.
    void CopyTriangles(AuTriangleArray& working) const;
    // [audio thread] The gains of one direction (radians) over `gainCount` speakers: the triangle
    // that holds it gets them, every other speaker 0.
    void ComputeGains(f32 azimuth, f32 elevation, u32 gainCount, f32* gains) const noexcept;
    // Unit-length gains g with g0 p + g1 q + g2 r = direction; zero for a degenerate triangle.
    static void SolveTriplet(const f32* direction, const f32* p, const f32* q, const f32* r, f32* gains);
};
