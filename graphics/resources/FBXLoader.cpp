#include "FBXLoader.h"

#include "DXDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <map>
#include <tuple>

namespace {

constexpr float kVertexTolerance = 0.00001f;
constexpr double kWeightTolerance = 0.001;

FBXLoader::Factory& LoaderFactory() {
    static FBXLoader::Factory factory;
    return factory;
}

bool IsType(FbxNode* node, FbxNodeAttribute::EType type) {
    return node && node->GetNodeAttribute() && node->GetNodeAttribute()->GetAttributeType() == type;
}

// The name after the last slash or backslash; the whole name when it has neither.
std::string FileName(const std::string& path) {
    const auto cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// One entry of a normal-like layer element for control point `point` and corner `corner`; false for
// a reference mode the loader does not know. Mapping modes it does not know leave `out` unread.
template <class Element, class Value> bool ReadEntry(Element* element, int point, int corner, Value& out) {
    if (!element) return true;
    int entry = 0;
    switch (element->GetMappingMode()) {
    case FbxLayerElement::eByControlPoint:
        entry = point;
        break;
    case FbxLayerElement::eByPolygonVertex:
        entry = corner;
        break;
    default:
        return true;
    }
    switch (element->GetReferenceMode()) {
    case FbxLayerElement::eDirect:
        out = element->GetDirectArray().GetAt(entry);
        return true;
    case FbxLayerElement::eIndexToDirect:
        out = element->GetDirectArray().GetAt(element->GetIndexArray().GetAt(entry));
        return true;
    default:
        return false;
    }
}

bool Near(float a, float b) {
    const float d = a - b;
    return d >= -kVertexTolerance && d <= kVertexTolerance;
}

bool PairsEqual(const std::vector<BlendPair>& a, const std::vector<BlendPair>& b) {
    if (a.empty() || b.empty()) return a.empty() && b.empty();
    const std::size_t count = std::min<std::size_t>(4, std::max(a.size(), b.size()));
    if (a.size() < count || b.size() < count) return false;
    for (std::size_t i = 0; i < count; ++i)
        if (a[i].joint != b[i].joint || !(std::fabs(a[i].weight - b[i].weight) <= kWeightTolerance))
            return false;
    return true;
}

bool VerticesEqual(const Vertex& a, const std::vector<BlendPair>& ap, const Vertex& b,
                   const std::vector<BlendPair>& bp) {
    for (int i = 0; i < 3; ++i)
        if (!Near(a.position[i], b.position[i]) || !Near(a.normal[i], b.normal[i])) return false;
    return Near(a.texCoord[0], b.texCoord[0]) && Near(a.texCoord[1], b.texCoord[1]) && PairsEqual(ap, bp);
}

// Kept vertices by position cell. A cell is far wider than the tolerance, so every vertex equal to
// a given one lies in its cell or a neighbour; the search then takes the first kept of those, as a
// walk over all kept vertices would.
class VertexGrid {
public:
    using Cell = std::tuple<long long, long long, long long>;

    static bool CellOf(const Vertex& v, Cell& cell) {
        long long c[3];
        for (int i = 0; i < 3; ++i) {
            if (!std::isfinite(v.position[i])) return false; // equal to nothing
            const double scaled = std::floor(double(v.position[i]) / kCell);
            c[i] = (long long)std::clamp(scaled, -kLimit, kLimit);
        }
        cell = {c[0], c[1], c[2]};
        return true;
    }

    // The first kept vertex equal to `v`, or -1.
    long long Find(const Cell& cell, const std::vector<Vertex>& kept,
                   const std::vector<std::vector<BlendPair>>& pairs, const Vertex& v,
                   const std::vector<BlendPair>& vp) const {
        long long first = -1;
        for (long long dx = -1; dx <= 1; ++dx)
            for (long long dy = -1; dy <= 1; ++dy)
                for (long long dz = -1; dz <= 1; ++dz) {
                    const auto it =
                        mCells.find({std::get<0>(cell) + dx, std::get<1>(cell) + dy, std::get<2>(cell) + dz});
                    if (it == mCells.end()) continue;
                    for (const std::uint32_t k : it->second) {
                        if (first >= 0 && k >= first) break;
                        if (VerticesEqual(kept[k], pairs[k], v, vp)) {
                            first = k;
                            break;
                        }
                    }
                }
        return first;
    }

    void Add(const Cell& cell, std::uint32_t index) { mCells[cell].push_back(index); }

private:
    static constexpr double kCell = 0.001;
    static constexpr double kLimit = 1e15;
    std::map<Cell, std::vector<std::uint32_t>> mCells;
};

} // namespace

void FBXLoader::SetFactory(Factory factory) {
    LoaderFactory() = std::move(factory);
}

std::unique_ptr<FBXLoader> FBXLoader::Make() {
    return LoaderFactory() ? LoaderFactory()() : std::make_unique<FBXLoader>();
}

std::array<float, 16> FBXLoader::FbxAMatrixToMatrix(const FbxAMatrix& matrix) {
    std::array<float, 16> out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[std::size_t(4 * r + c)] = float(matrix.Get(r, c));
    return out;
}

FBXLoader::FBXLoader() = default;

FBXLoader::~FBXLoader() {
    CleanUp();
}

void FBXLoader::DestroySdkObjects() {
    if (mScene) mScene->Destroy();
    if (mManager) mManager->Destroy();
    mScene = nullptr;
    mManager = nullptr;
}

void FBXLoader::CreateFBXManager() {
    DestroySdkObjects();
    mManager = FbxManager::Create();
    if (!mManager) return;
    mManager->SetIOSettings(FbxIOSettings::Create(mManager, "IOSRoot"));
    mScene = FbxScene::Create(mManager, "myScene");
}

Model* FBXLoader::LoadFBX(const std::string& file, const std::string& name, DXDevice* device) {
    // No exception leaves the loader: one bad model file must not end the game.
    try {
        if (Model* model = Load(file, name, device)) return model;
        if (mError) std::printf("%s\n", mError);
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
    } catch (...) {
        std::printf("Unknown failure while importing %s\n", file.c_str());
    }
    CleanUp();
    return nullptr;
}

Model* FBXLoader::Load(const std::string& file, const std::string& name, DXDevice* device) {
    mError = nullptr;
    if (!mManager || !mScene) CreateFBXManager();
    if (!mManager || !mScene) return nullptr;
    FbxImporter* importer = FbxImporter::Create(mManager, "myImporter");
    if (!importer) return nullptr;
    if (!importer->Initialize(file.c_str(), -1, mManager->GetIOSettings())) {
        char text[255];
        std::snprintf(text, sizeof text, "Error returned: %s\n", importer->GetStatus().GetErrorString());
        std::printf("Call to fbxsdk_2015_1::FbxImporter::Initialize() failed.\n%s", text);
        importer->Destroy();
        return nullptr;
    }
    const bool imported = importer->Import(mScene, false);
    if (imported) {
        FbxGeometryConverter converter(mManager);
        converter.Triangulate(mScene, true, false);
    }
    importer->Destroy();
    if (!imported) return nullptr;

    auto model = std::make_unique<Model>(name);
    FbxNode* root = mScene->GetRootNode();
    SkeletonWalk(root);
    if (mJoints.empty()) mHasSkeleton = false;
    NodeWalk(root, device);
    if (mError) return nullptr;

    FbxTime time;
    time.SetFrame(0, FbxTime::eFrames60);
    for (std::size_t i = 0; i < mMeshes.size(); ++i) {
        const auto transform = FbxAMatrixToMatrix(
            mMeshNodes[i]->EvaluateGlobalTransform(time, FbxNode::eSourcePivot, false, false));
        model->AddMesh(mMeshes[i], transform.data());
        mMeshes[i] = nullptr; // the model owns it now
        model->mNodes.push_back(mMeshNodes[i]);
    }
    model->mSkeleton = mJoints;
    model->mFirstFrame = mFirstFrame;
    model->mLastFrame = mLastFrame;
    CleanUp();
    // The scene the nodes belonged to is gone.
    model->mNodes.clear();
    for (Joint& joint : model->mSkeleton)
        joint.node = nullptr;
    return model.release();
}

void FBXLoader::CleanUp() {
    DestroySdkObjects();
    ClearMeshData();
    for (Mesh* mesh : mMeshes)
        delete mesh;
    mMeshes.clear();
    mMeshNodes.clear();
    mJoints.clear();
    mFirstFrame = mLastFrame = 0;
    mAnimationLength = 0;
    mAnimationName.clear();
    mHasSkeleton = true;
}

void FBXLoader::ClearMeshData() {
    mTriangleCount = 0;
    mVertices.clear();
    mVertexPairs.clear();
    decltype(mControlPoints)(8).swap(mControlPoints);
    mTriangles.clear();
    decltype(mMaterials)(8).swap(mMaterials);
}

// ---- the skeleton ----------------------------------------------------------------------------------

void FBXLoader::SkeletonWalk(FbxNode* root) {
    for (int i = 0; i < root->GetChildCount(); ++i) {
        FbxNode* child = root->GetChild(i);
        if (!child) continue;
        if (IsType(child, FbxNodeAttribute::eSkeleton)) {
            Joint joint;
            joint.name = child->GetName();
            joint.parent = -1;
            mJoints.push_back(std::move(joint));
        }
        for (int g = 0; g < child->GetChildCount(); ++g)
            VisitSkeleton(child->GetChild(g), int(mJoints.size()), 0);
    }
}

void FBXLoader::VisitSkeleton(FbxNode* node, int own, int parent) {
    if (!node) return;
    if (IsType(node, FbxNodeAttribute::eSkeleton)) {
        Joint joint;
        joint.name = node->GetName();
        joint.parent = parent;
        mJoints.push_back(std::move(joint));
    }
    for (int i = 0; i < node->GetChildCount(); ++i)
        VisitSkeleton(node->GetChild(i), int(mJoints.size()), own);
}

// ---- meshes ----------------------------------------------------------------------------------------

void FBXLoader::NodeWalk(FbxNode* node, DXDevice* device) {
    if (!node || mError) return;
    if (IsType(node, FbxNodeAttribute::eMesh) && node->GetMesh()) {
        ReadControlPoints(node);
        if (mHasSkeleton) ReadJointsAndAnimation(node);
        if (!mError) ReadCorners(node);
        if (mError) return;
        AssociateMaterials(node);
        ReadMaterials(node);
        MergeVertices();
        BuildMesh(node, device);
    }
    for (int i = 0; i < node->GetChildCount() && !mError; ++i)
        NodeWalk(node->GetChild(i), device);
}

void FBXLoader::ReadControlPoints(FbxNode* node) {
    FbxMesh* mesh = node->GetMesh();
    for (int k = 0; k < mesh->GetControlPointsCount(); ++k) {
        const FbxVector4 p = mesh->GetControlPointAt(k);
        auto point = std::make_unique<ControlPoint>();
        point->position[0] = float(p.mData[0]);
        point->position[1] = float(p.mData[1]);
        point->position[2] = float(p.mData[2]);
        point->pairs.reserve(4);
        mControlPoints[unsigned(k)] = std::move(point);
    }
}

void FBXLoader::ReadJointsAndAnimation(FbxNode* node) {
    FbxMesh* mesh = node->GetMesh();
    const FbxAMatrix geometry(node->GetGeometricTranslation(FbxNode::eSourcePivot),
                              node->GetGeometricRotation(FbxNode::eSourcePivot),
                              node->GetGeometricScaling(FbxNode::eSourcePivot));
    for (int d = 0; d < mesh->GetDeformerCount(); ++d) {
        auto* skin = static_cast<FbxSkin*>(mesh->GetDeformer(d, FbxDeformer::eSkin));
        if (!skin) continue;
        for (int c = 0; c < skin->GetClusterCount(); ++c) {
            FbxCluster* cluster = skin->GetCluster(c);
            FbxNode* link = cluster ? cluster->GetLink() : nullptr;
            const std::string linkName = link ? link->GetName() : "";
            const auto joint = std::find_if(mJoints.begin(), mJoints.end(),
                                            [&](const Joint& j) { return link && j.name == linkName; });
            if (joint == mJoints.end()) {
                mError = "Skeleton information in FBX file is corrupted.";
                return;
            }
            const std::uint32_t jointIndex = std::uint32_t(joint - mJoints.begin());
            FbxAMatrix transform, transformLink;
            cluster->GetTransformMatrix(transform);
            cluster->GetTransformLinkMatrix(transformLink);
            joint->bindPoseInverse = transformLink.Inverse() * transform * geometry;
            joint->node = link;

            const int* indices = cluster->GetControlPointIndices();
            const double* weights = cluster->GetControlPointWeights();
            for (int j = 0; j < cluster->GetControlPointIndicesCount(); ++j) {
                const auto point = mControlPoints.find(unsigned(indices[j]));
                if (indices[j] < 0 || point == mControlPoints.end()) continue;
                point->second->pairs.push_back({jointIndex, weights[j]});
            }

            // A skin without a take keeps its bind pose and gets no keys.
            FbxAnimStack* stack = mScene->GetSrcObject<FbxAnimStack>(0);
            FbxTakeInfo* take = stack ? mScene->GetTakeInfo(stack->GetName()) : nullptr;
            if (!take) {
                mAnimationName.clear();
                mFirstFrame = mLastFrame = 0;
                mAnimationLength = 0;
                continue;
            }
            mAnimationName = stack->GetName();
            const FbxLongLong first = take->mLocalTimeSpan.GetStart().GetFrameCount(FbxTime::eFrames60);
            const FbxLongLong last = take->mLocalTimeSpan.GetStop().GetFrameCount(FbxTime::eFrames60);
            mFirstFrame = std::int32_t(first);
            mLastFrame = std::int32_t(last);
            mAnimationLength = last - first + 1;
            for (FbxLongLong f = first; f <= last; ++f) {
                FbxTime time;
                time.SetFrame(f, FbxTime::eFrames60);
                const FbxAMatrix offset =
                    (node->EvaluateGlobalTransform(time, FbxNode::eSourcePivot, false, false) * geometry)
                        .Inverse();
                joint->keys.push_back(
                    {f, offset * link->EvaluateGlobalTransform(time, FbxNode::eSourcePivot, false, false)});
            }
        }
    }
    for (auto& [index, point] : mControlPoints)
        while (point->pairs.size() < 4)
            point->pairs.push_back({0, 0.0});
}

void FBXLoader::ReadCorners(FbxNode* node) {
    FbxMesh* mesh = node->GetMesh();
    int corner = 0;
    const int polygons = mesh->GetPolygonCount();
    mTriangles.resize(std::size_t(std::max(polygons, 0)));
    for (int i = 0; i < polygons; ++i) {
        for (int j = 0; j < 3; ++j, ++corner) {
            const int c = mesh->GetPolygonVertex(i, j);
            FbxVector4 normal(1, 0, 0, 0), binormal, tangent;
            if (!ReadEntry(mesh->GetElementNormal(0), c, corner, normal) ||
                !ReadEntry(mesh->GetElementBinormal(0), c, corner, binormal) ||
                !ReadEntry(mesh->GetElementTangent(0), c, corner, tangent)) {
                mError = "Invalid Reference";
                return;
            }
            const int uvLayer = 0;
            if (uvLayer >= 2 || uvLayer >= mesh->GetElementUVCount()) {
                mError = "Invalid UV Layer Number";
                return;
            }
            FbxGeometryElementUV* uvs = mesh->GetElementUV(uvLayer);
            FbxVector2 uv;
            if (uvs) {
                const auto reference = uvs->GetReferenceMode();
                if (reference != FbxLayerElement::eDirect && reference != FbxLayerElement::eIndexToDirect) {
                    mError = "Invalid Reference";
                    return;
                }
                if (uvs->GetMappingMode() == FbxLayerElement::eByControlPoint)
                    uv = uvs->GetDirectArray().GetAt(
                        reference == FbxLayerElement::eDirect ? c : uvs->GetIndexArray().GetAt(c));
                else if (uvs->GetMappingMode() == FbxLayerElement::eByPolygonVertex)
                    uv = uvs->GetDirectArray().GetAt(
                        mesh->GetTextureUVIndex(i, j, FbxLayerElement::eTextureDiffuse));
            }

            // A corner naming a point the mesh does not have sits at the origin without influences.
            static const ControlPoint kNowhere{{0.0f, 0.0f, 0.0f}, {}};
            const auto found = mControlPoints.find(unsigned(c));
            const ControlPoint& point = c >= 0 && found != mControlPoints.end() ? *found->second : kNowhere;
            Vertex vertex;
            vertex.position[0] = point.position[0];
            vertex.position[1] = point.position[1];
            vertex.position[2] = point.position[2];
            vertex.position[3] = 1.0f;
            for (int k = 0; k < 3; ++k)
                vertex.normal[k] = float(normal.mData[k]);
            vertex.texCoord[0] = float(uv.mData[0]);
            vertex.texCoord[1] = float(1.0 - uv.mData[1]);
            std::vector<BlendPair> pairs = point.pairs;
            std::stable_sort(pairs.begin(), pairs.end(),
                             [](const BlendPair& a, const BlendPair& b) { return a.weight > b.weight; });
            for (std::size_t k = 0; k < 4 && k < pairs.size(); ++k) {
                vertex.blendIndices[k] = pairs[k].joint;
                vertex.blendWeights[k] = float(pairs[k].weight);
            }
            vertex.textureIndex = 0;
            mTriangles[std::size_t(i)].indices.push_back(std::uint32_t(mVertices.size()));
            mVertices.push_back(vertex);
            mVertexPairs.push_back(std::move(pairs));
        }
    }
    mTriangleCount = std::uint32_t(std::max(polygons, 0));
}

void FBXLoader::AssociateMaterials(FbxNode* node) {
    FbxGeometryElementMaterial* element = node->GetMesh()->GetElementMaterial(0);
    if (!element || !element->GetIndexArray()) return;
    const auto* indices = element->GetIndexArray();
    const auto mapping = element->GetMappingMode();
    for (std::size_t i = 0; i < mTriangles.size(); ++i) {
        if (mapping == FbxLayerElement::eByPolygon && std::size_t(indices->GetCount()) == mTriangleCount)
            mTriangles[i].materialIndex = std::uint32_t(indices->GetAt(int(i)));
        else if (mapping == FbxLayerElement::eAllSame)
            mTriangles[i].materialIndex = std::uint32_t(indices->GetAt(0));
        else
            mTriangles[i].materialIndex = 0xFFFFFFFF;
    }
}

void FBXLoader::ReadMaterials(FbxNode* node) {
    for (int m = 0; m < node->GetMaterialCount(); ++m) {
        FbxSurfaceMaterial* surface = node->GetMaterial(m);
        if (!surface) continue;
        auto material = std::make_unique<Material>();
        if (surface->GetClassId().Is(FbxSurfacePhong::ClassId)) {
            const auto* phong = static_cast<FbxSurfacePhong*>(surface);
            for (int i = 0; i < 3; ++i) {
                material->ambient[i] = float(phong->Ambient.Get()[i]);
                material->diffuse[i] = float(phong->Diffuse.Get()[i]);
                material->specular[i] = float(phong->Specular.Get()[i]);
            }
            material->shininess = float(phong->Shininess.Get());
        }
        Material& stored = *mMaterials.emplace(unsigned(m), std::move(material)).first->second;
        for (int t = 0; t < FbxLayerElement::sTypeTextureCount; ++t) {
            const FbxProperty property = surface->FindProperty(FbxLayerElement::sTextureChannelNames[t]);
            if (!property.IsValid()) continue;
            for (int j = 0; j < property.GetSrcObjectCount<FbxTexture>(); ++j) {
                FbxTexture* texture = property.GetSrcObject<FbxTexture>(j);
                if (!texture || FbxCast<FbxLayeredTexture>(texture)) continue;
                const auto* file = FbxCast<FbxFileTexture>(texture);
                if (!file) continue;
                const std::string channel = property.GetName();
                if (channel == "DiffuseColor")
                    stored.diffuseTexture = FileName(file->GetFileName());
                else if (channel == "SpecularColor")
                    stored.specularTexture = FileName(file->GetFileName());
            }
        }
    }
}

void FBXLoader::MergeVertices() {
    std::vector<Vertex> kept;
    std::vector<std::vector<BlendPair>> keptPairs;
    VertexGrid grid;
    for (Triangle& triangle : mTriangles) {
        for (std::uint32_t& index : triangle.indices) {
            const Vertex& vertex = mVertices[index];
            const std::vector<BlendPair>& pairs = mVertexPairs[index];
            VertexGrid::Cell cell;
            const bool placed = VertexGrid::CellOf(vertex, cell);
            long long found = placed ? grid.Find(cell, kept, keptPairs, vertex, pairs) : -1;
            if (found < 0) {
                found = (long long)kept.size();
                kept.push_back(vertex);
                keptPairs.push_back(pairs);
                if (placed) grid.Add(cell, std::uint32_t(found));
            }
            index = std::uint32_t(found);
            kept[std::size_t(found)].textureIndex = triangle.materialIndex;
        }
    }
    mVertices = std::move(kept);
    mVertexPairs = std::move(keptPairs);
}

void FBXLoader::BuildMesh(FbxNode* node, DXDevice* device) {
    auto* mesh = new Mesh(node->GetName());
    mMeshes.push_back(mesh);
    mMeshNodes.push_back(node);
    mesh->SetVertices(mVertices);
    std::vector<std::uint32_t> indices;
    indices.reserve(mTriangles.size() * 3);
    for (const Triangle& triangle : mTriangles)
        indices.insert(indices.end(), triangle.indices.begin(), triangle.indices.end());
    mesh->SetIndices(std::move(indices));
    if (device) mesh->CreateBuffers(device->GetD3DDevice());
    for (unsigned m = 0; m < mMaterials.size(); ++m) {
        const auto it = mMaterials.find(m);
        mesh->mMaterials.push_back(it != mMaterials.end() ? *it->second : Material());
    }
    ClearMeshData();
}
