#include "fbx_internal.h"

#include <fbx_test_control.h>

#include <algorithm>
#include <cmath>

namespace fbxsdk_2015_1 {

// ---- objects and their manager ---------------------------------------------------------------------

void FbxObject::Destroy() {
    if (mManager) mManager->Release(this);
    delete this;
}

FbxManager* FbxManager::Create() {
    return new FbxManager();
}

void FbxManager::Destroy() {
    delete this;
}

FbxManager::~FbxManager() {
    for (FbxObject* object : mObjects)
        delete object;
}

void FbxManager::Adopt(FbxObject* object) {
    object->mManager = this;
    mObjects.insert(object);
}

void FbxManager::Release(FbxObject* object) {
    mObjects.erase(object);
    if (object == mSettings) mSettings = nullptr;
}

namespace {

template <class T> T* Make(FbxManager* manager, const char* name) {
    if (!manager) return nullptr;
    auto* object = new T();
    object->mName = name ? name : "";
    manager->Adopt(object);
    return object;
}

} // namespace

FbxIOSettings* FbxIOSettings::Create(FbxManager* manager, const char* name) {
    return Make<FbxIOSettings>(manager, name);
}

FbxScene* FbxScene::Create(FbxManager* manager, const char* name) {
    return Make<FbxScene>(manager, name);
}

FbxImporter* FbxImporter::Create(FbxManager* manager, const char* name) {
    return Make<FbxImporter>(manager, name);
}

// ---- time ------------------------------------------------------------------------------------------

void FbxTime::SetFrame(FbxLongLong frame, EMode) {
    mFrame = frame;
}

FbxLongLong FbxTime::GetFrameCount(EMode) const {
    return mFrame;
}

// ---- materials -------------------------------------------------------------------------------------

const FbxClassId FbxSurfaceMaterial::ClassId{"FbxSurfaceMaterial"};
const FbxClassId FbxSurfacePhong::ClassId{"FbxSurfacePhong"};

const char* const FbxLayerElement::sTextureChannelNames[] = {"DiffuseColor",
                                                             "DiffuseFactor",
                                                             "EmissiveColor",
                                                             "EmissiveFactor",
                                                             "AmbientColor",
                                                             "AmbientFactor",
                                                             "SpecularColor",
                                                             "SpecularFactor",
                                                             "ShininessExponent",
                                                             "NormalMap",
                                                             "Bump",
                                                             "TransparentColor",
                                                             "TransparencyFactor",
                                                             "ReflectionColor",
                                                             "ReflectionFactor",
                                                             "DisplacementColor",
                                                             "VectorDisplacementColor"};
const int FbxLayerElement::sTypeTextureCount =
    int(sizeof(FbxLayerElement::sTextureChannelNames) / sizeof(FbxLayerElement::sTextureChannelNames[0]));

FbxProperty FbxSurfaceMaterial::FindProperty(const char* name) const {
    FbxProperty property;
    if (!name) return property;
    const auto* end = FbxLayerElement::sTextureChannelNames + FbxLayerElement::sTypeTextureCount;
    if (std::find_if(FbxLayerElement::sTextureChannelNames, end,
                     [name](const char* channel) { return std::string(channel) == name; }) == end)
        return property;
    property.mValid = true;
    property.mName = name;
    if (const auto it = mChannels.find(name); it != mChannels.end())
        for (const auto& texture : it->second)
            property.mTextures.push_back(texture.get());
    return property;
}

// ---- meshes ----------------------------------------------------------------------------------------

FbxVector4 FbxMesh::GetControlPointAt(int index) const {
    return index >= 0 && index < int(mControlPoints.size()) ? mControlPoints[std::size_t(index)]
                                                            : FbxVector4();
}

int FbxMesh::GetPolygonVertex(int polygon, int corner) const {
    if (polygon < 0 || polygon >= int(mPolygons.size()) || corner < 0 || corner > 2) return -1;
    return mPolygons[std::size_t(polygon)].corners[corner];
}

int FbxMesh::GetTextureUVIndex(int polygon, int corner, FbxLayerElement::EType) {
    FbxGeometryElementUV* uv = GetElementUV(0);
    if (!uv || polygon < 0 || polygon >= int(mPolygons.size()) || corner < 0 || corner > 2) return -1;
    const int n = 3 * polygon + corner;
    switch (uv->GetMappingMode()) {
    case FbxLayerElement::eByPolygonVertex:
        return uv->GetReferenceMode() == FbxLayerElement::eDirect ? n : uv->GetIndexArray().GetAt(n);
    case FbxLayerElement::eByControlPoint: {
        const int point = GetPolygonVertex(polygon, corner);
        return uv->GetReferenceMode() == FbxLayerElement::eDirect ? point : uv->GetIndexArray().GetAt(point);
    }
    default:
        return -1;
    }
}

FbxDeformer* FbxMesh::GetDeformer(int index, FbxDeformer::EDeformerType type) const {
    if (type != FbxDeformer::eSkin) return nullptr;
    int seen = 0;
    for (const auto& deformer : mDeformers)
        if (dynamic_cast<FbxSkin*>(deformer.get()) && seen++ == index) return deformer.get();
    return nullptr;
}

// ---- nodes -----------------------------------------------------------------------------------------

FbxNode* FbxNode::GetChild(int index) const {
    return index >= 0 && index < int(mChildren.size()) ? mChildren[std::size_t(index)].get() : nullptr;
}

FbxMesh* FbxNode::GetMesh() const {
    return dynamic_cast<FbxMesh*>(mAttribute.get());
}

FbxSurfaceMaterial* FbxNode::GetMaterial(int index) const {
    return index >= 0 && index < int(mMaterials.size()) ? mMaterials[std::size_t(index)].get() : nullptr;
}

FbxNode* FbxNode::AddChild(std::string name) {
    auto child = std::make_unique<FbxNode>();
    child->mName = std::move(name);
    child->mParent = this;
    mChildren.push_back(std::move(child));
    return mChildren.back().get();
}

FbxAMatrix FbxNode::EvaluateLocalTransform(const FbxTime& time) const {
    if (mTranslationKeys.empty() && mRotationKeys.empty() && mScalingKeys.empty()) return mLocal;
    return fbxinternal::SampleLocal(*this, time.GetSecondDouble());
}

FbxAMatrix FbxNode::EvaluateGlobalTransform(const FbxTime& time, EPivotSet, bool, bool) const {
    FbxAMatrix global = EvaluateLocalTransform(time);
    for (const FbxNode* up = mParent; up; up = up->mParent)
        global = up->EvaluateLocalTransform(time) * global;
    return global;
}

// ---- scenes ----------------------------------------------------------------------------------------

FbxTakeInfo* FbxDocument::GetTakeInfo(const char* name) {
    if (!name) return nullptr;
    for (FbxTakeInfo& take : mTakes)
        if (take.mName == name) return &take;
    return nullptr;
}

void FbxScene::Clear() {
    mRoot = FbxNode();
    mAnimStacks.clear();
    mTakes.clear();
}

bool FbxGeometryConverter::Triangulate(FbxScene* scene, bool, bool) {
    // Meshes hold triangles only; there is nothing to convert.
    return mManager && scene;
}

} // namespace fbxsdk_2015_1

namespace fbxinternal {

void MoveInto(FbxScene& from, FbxScene& to) {
    to.Clear();
    to.mRoot = std::move(from.mRoot);
    to.mRoot.mParent = nullptr;
    for (auto& child : to.mRoot.mChildren)
        child->mParent = &to.mRoot;
    to.mAnimStacks = std::move(from.mAnimStacks);
    to.mTakes = std::move(from.mTakes);
}

} // namespace fbxinternal

// ---- test control ----------------------------------------------------------------------------------

namespace fbxtest {

FbxNode* AddMeshNode(FbxNode* parent, const std::string& name, const std::vector<FbxVector4>& points,
                     const std::vector<FbxMesh::Triangle>& triangles) {
    FbxNode* node = parent->AddChild(name);
    auto mesh = std::make_unique<FbxMesh>();
    mesh->mControlPoints = points;
    mesh->mPolygons = triangles;
    auto normals = std::make_unique<FbxGeometryElementNormal>();
    normals->mDirect.mValues.assign(points.size(), FbxVector4(0, 0, 1, 0));
    mesh->mNormals.push_back(std::move(normals));
    auto uvs = std::make_unique<FbxGeometryElementUV>();
    uvs->mDirect.mValues.assign(points.size(), FbxVector2(0, 0));
    mesh->mUVs.push_back(std::move(uvs));
    auto materials = std::make_unique<FbxGeometryElementMaterial>();
    materials->mMappingMode = FbxLayerElement::eAllSame;
    materials->mIndex.mValues = {0};
    mesh->mMaterials.push_back(std::move(materials));
    node->mAttribute = std::move(mesh);
    return node;
}

FbxNode* AddSkeletonNode(FbxNode* parent, const std::string& name, const FbxAMatrix& local) {
    FbxNode* node = parent->AddChild(name);
    node->mAttribute = std::make_unique<FbxSkeleton>();
    node->mLocal = local;
    return node;
}

FbxCluster* AddCluster(FbxNode* meshNode, FbxNode* link, const FbxAMatrix& transformLink,
                       const FbxAMatrix& transform, const std::vector<int>& points,
                       const std::vector<double>& weights) {
    FbxMesh* mesh = meshNode->GetMesh();
    if (mesh->mDeformers.empty()) mesh->mDeformers.push_back(std::make_unique<FbxSkin>());
    auto* skin = static_cast<FbxSkin*>(mesh->mDeformers.front().get());
    auto cluster = std::make_unique<FbxCluster>();
    cluster->mLink = link;
    cluster->mTransformLink = transformLink;
    cluster->mTransform = transform;
    cluster->mIndices = points;
    cluster->mWeights = weights;
    skin->mClusters.push_back(std::move(cluster));
    return skin->mClusters.back().get();
}

void AddTake(FbxScene& scene, const std::string& name, FbxLongLong first, FbxLongLong last) {
    auto stack = std::make_unique<FbxAnimStack>();
    stack->mName = name;
    scene.mAnimStacks.push_back(std::move(stack));
    FbxTime start, stop;
    start.SetFrame(first);
    stop.SetFrame(last);
    scene.mTakes.push_back({name, FbxTimeSpan(start, stop)});
}

} // namespace fbxtest
