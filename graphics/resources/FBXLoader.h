// The model manager's FBX importer: one model read from a file through the FBX SDK, with its meshes,
// materials, skeleton and baked animation keys.
#pragma once

#include "Mesh.h"

#include <fbxsdk.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class DXDevice;

class FBXLoader {
public:
    FBXLoader();
    virtual ~FBXLoader();
    FBXLoader(const FBXLoader&) = delete;
    FBXLoader& operator=(const FBXLoader&) = delete;

    // Makes the SDK manager, its I/O settings and the scene the next import reads into; a set made
    // before is destroyed first.
    virtual void CreateFBXManager();
    // A new model, or null when the file cannot be imported (the reason printed on the console).
    virtual Model* LoadFBX(const std::string& file, const std::string& name, DXDevice* device);

    // Element (row r, column c) at 4r + c, narrowed to float.
    static std::array<float, 16> FbxAMatrixToMatrix(const FbxAMatrix& matrix);

    // Makes the loader a model manager owns: the installed factory's, else this one. Tests install
    // fakes.
    using Factory = std::function<std::unique_ptr<FBXLoader>()>;
    static void SetFactory(Factory factory);
    static std::unique_ptr<FBXLoader> Make();

private:
    struct ControlPoint {
        float position[3];
        std::vector<BlendPair> pairs;
    };
    struct Triangle {
        std::vector<std::uint32_t> indices;
        std::string materialName;
        std::uint32_t materialIndex = 0xFFFFFFFF;
    };

    Model* Load(const std::string& file, const std::string& name, DXDevice* device);
    void SkeletonWalk(FbxNode* root);
    void VisitSkeleton(FbxNode* node, int own, int parent);
    void NodeWalk(FbxNode* node, DXDevice* device);
    void ReadControlPoints(FbxNode* node);
    void ReadJointsAndAnimation(FbxNode* node);
    void ReadCorners(FbxNode* node);
    void AssociateMaterials(FbxNode* node);
    void ReadMaterials(FbxNode* node);
    void MergeVertices();
    void BuildMesh(FbxNode* node, DXDevice* device);
    void ClearMeshData();
    void DestroySdkObjects();
    void CleanUp();

    FbxManager* mManager = nullptr;
    FbxScene* mScene = nullptr;
    std::uint32_t mTriangleCount = 0;
    bool mHasSkeleton = true;
    std::vector<Vertex> mVertices;
    // The blend pairs of each corner vertex, beside it: the vertex record has no room for them.
    std::vector<std::vector<BlendPair>> mVertexPairs;
    std::unordered_map<unsigned, std::unique_ptr<ControlPoint>> mControlPoints;
    std::vector<Triangle> mTriangles;
    std::vector<Mesh*> mMeshes;
    std::vector<FbxNode*> mMeshNodes;
    std::vector<Joint> mJoints;
    std::int32_t mFirstFrame = 0;
    std::int32_t mLastFrame = 0;
    std::int64_t mAnimationLength = 0;
    std::string mAnimationName;
    std::unordered_map<unsigned, std::unique_ptr<Material>> mMaterials;
    // Why the import in progress stopped; null while it goes on.
    const char* mError = nullptr;
};
