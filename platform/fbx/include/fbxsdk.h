// The FBX SDK subset this program calls, read through the system's model importer.
//
// Conventions: a matrix is 4 x 4 doubles, element (row r, column c) read with Get(r, c); points are
// row vectors (p' = p x M), so the translation sits in row 3. A product A * B applies B first, then
// A, as the loader's chains (link inverse * transform * geometry) are written.
//
// Objects made with Create(manager, name) belong to that manager: Destroy() frees one, and the
// manager's Destroy() frees whatever is left.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fbxsdk_2015_1 {

using FbxLongLong = std::int64_t;

class FbxVector2 {
public:
    FbxVector2() = default;
    FbxVector2(double x, double y) : mData{x, y} {}
    double& operator[](int i) { return mData[i]; }
    double operator[](int i) const { return mData[i]; }

    double mData[2] = {0.0, 0.0};
};

class FbxVector4 {
public:
    FbxVector4() = default;
    FbxVector4(double x, double y, double z, double w = 1.0) : mData{x, y, z, w} {}
    double& operator[](int i) { return mData[i]; }
    double operator[](int i) const { return mData[i]; }

    double mData[4] = {0.0, 0.0, 0.0, 1.0};
};

class FbxAMatrix {
public:
    // The identity.
    FbxAMatrix();
    // Scaling first, then the rotation (Euler angles in degrees about X, then Y, then Z), then the
    // translation.
    FbxAMatrix(const FbxVector4& translation, const FbxVector4& rotation, const FbxVector4& scaling);

    double Get(int row, int column) const { return mData[row][column]; }
    void SetIdentity();
    // The point transformed by this matrix (w taken as 1).
    FbxVector4 MultT(const FbxVector4& point) const;
    // A singular matrix gives non-finite elements; nothing here tests for it.
    FbxAMatrix Inverse() const;
    FbxAMatrix operator*(const FbxAMatrix& other) const;
    bool operator==(const FbxAMatrix& other) const;

    double mData[4][4];
};

class FbxDouble3 {
public:
    FbxDouble3() = default;
    FbxDouble3(double x, double y, double z) : mData{x, y, z} {}
    double operator[](int i) const { return mData[i]; }

    double mData[3] = {0.0, 0.0, 0.0};
};

// Time in frames of 60 per second, the one mode this program reads.
class FbxTime {
public:
    enum EMode { eFrames60 = 3 };
    void SetFrame(FbxLongLong frame, EMode mode = eFrames60);
    FbxLongLong GetFrameCount(EMode mode = eFrames60) const;
    double GetSecondDouble() const { return double(mFrame) / 60.0; }

private:
    FbxLongLong mFrame = 0;
};

class FbxTimeSpan {
public:
    FbxTimeSpan() = default;
    FbxTimeSpan(FbxTime start, FbxTime stop) : mStart(start), mStop(stop) {}
    FbxTime GetStart() const { return mStart; }
    FbxTime GetStop() const { return mStop; }

private:
    FbxTime mStart, mStop;
};

struct FbxTakeInfo {
    std::string mName;
    FbxTimeSpan mLocalTimeSpan;
};

class FbxManager;
class FbxIOSettings;
class FbxScene;

class FbxStatus {
public:
    const char* GetErrorString() const { return mText.c_str(); }
    void SetError(std::string text) { mText = std::move(text); }

private:
    std::string mText;
};

class FbxClassId {
public:
    bool Is(const FbxClassId& other) const { return mTag == other.mTag; }
    const char* mTag = "";
};

class FbxObject {
public:
    virtual ~FbxObject() = default;
    const char* GetName() const { return mName.c_str(); }
    // Frees the object; one the program made with Create also leaves its manager.
    void Destroy();

    std::string mName;
    FbxManager* mManager = nullptr;
};

class FbxManager {
public:
    static FbxManager* Create();
    // Frees the manager with every object still made with it.
    void Destroy();
    void SetIOSettings(FbxIOSettings* settings) { mSettings = settings; }
    FbxIOSettings* GetIOSettings() const { return mSettings; }

    // Bookkeeping of the objects made with the manager.
    void Adopt(FbxObject* object);
    void Release(FbxObject* object);

private:
    FbxManager() = default;
    ~FbxManager();

    FbxIOSettings* mSettings = nullptr;
    std::set<FbxObject*> mObjects;
};

class FbxIOSettings : public FbxObject {
public:
    static FbxIOSettings* Create(FbxManager* manager, const char* name);
};

// ---- textures and materials ------------------------------------------------------------------------

class FbxTexture : public FbxObject {};

class FbxFileTexture : public FbxTexture {
public:
    const char* GetFileName() const { return mFileName.c_str(); }
    std::string mFileName;
};

class FbxLayeredTexture : public FbxTexture {};

template <class T> T* FbxCast(FbxObject* object) {
    return dynamic_cast<T*>(object);
}

class FbxProperty {
public:
    bool IsValid() const { return mValid; }
    const char* GetName() const { return mName.c_str(); }
    template <class T> int GetSrcObjectCount() const;
    template <class T> T* GetSrcObject(int index) const;

    bool mValid = false;
    std::string mName;
    std::vector<FbxTexture*> mTextures; // owned by the material
};

template <> inline int FbxProperty::GetSrcObjectCount<FbxTexture>() const {
    return int(mTextures.size());
}
template <> inline FbxTexture* FbxProperty::GetSrcObject<FbxTexture>(int index) const {
    return index >= 0 && index < int(mTextures.size()) ? mTextures[std::size_t(index)] : nullptr;
}

template <class T> class FbxPropertyT {
public:
    T Get() const { return mValue; }
    T mValue{};
};

class FbxSurfaceMaterial : public FbxObject {
public:
    static const FbxClassId ClassId;
    virtual const FbxClassId& GetClassId() const { return ClassId; }
    // A property by its channel name; one the material lacks is not valid.
    FbxProperty FindProperty(const char* name) const;

    // Channel name -> the textures connected to it.
    std::map<std::string, std::vector<std::unique_ptr<FbxTexture>>> mChannels;
};

class FbxSurfacePhong : public FbxSurfaceMaterial {
public:
    static const FbxClassId ClassId;
    const FbxClassId& GetClassId() const override { return ClassId; }

    FbxPropertyT<FbxDouble3> Ambient, Diffuse, Specular;
    FbxPropertyT<double> Shininess;
};

// ---- layer elements --------------------------------------------------------------------------------

template <class T> class FbxLayerElementArrayTemplate {
public:
    // An entry past the end reads as the element's default, so a broken file reads no memory it
    // does not own.
    T GetAt(int index) const {
        return index >= 0 && index < int(mValues.size()) ? mValues[std::size_t(index)] : T{};
    }
    int GetCount() const { return int(mValues.size()); }

    std::vector<T> mValues;
};

class FbxLayerElement {
public:
    enum EMappingMode {
        eNone = 0,
        eByControlPoint = 1,
        eByPolygonVertex = 2,
        eByPolygon = 3,
        eByEdge = 4,
        eAllSame = 5
    };
    enum EReferenceMode { eDirect = 0, eIndex = 1, eIndexToDirect = 2 };
    enum EType { eTextureDiffuse = 1 };
    // The texture channels a material may carry, in the SDK's order.
    static const char* const sTextureChannelNames[];
    static const int sTypeTextureCount;

    EMappingMode GetMappingMode() const { return mMappingMode; }
    EReferenceMode GetReferenceMode() const { return mReferenceMode; }

    EMappingMode mMappingMode = eByControlPoint;
    EReferenceMode mReferenceMode = eDirect;
};

template <class T> class FbxLayerElementTemplate : public FbxLayerElement {
public:
    FbxLayerElementArrayTemplate<T>& GetDirectArray() { return mDirect; }
    FbxLayerElementArrayTemplate<int>& GetIndexArray() { return mIndex; }

    FbxLayerElementArrayTemplate<T> mDirect;
    FbxLayerElementArrayTemplate<int> mIndex;
};

using FbxGeometryElementNormal = FbxLayerElementTemplate<FbxVector4>;
using FbxGeometryElementBinormal = FbxLayerElementTemplate<FbxVector4>;
using FbxGeometryElementTangent = FbxLayerElementTemplate<FbxVector4>;
using FbxGeometryElementUV = FbxLayerElementTemplate<FbxVector2>;

class FbxGeometryElementMaterial : public FbxLayerElement {
public:
    // Null when the element has none.
    FbxLayerElementArrayTemplate<int>* GetIndexArray() { return mHasIndex ? &mIndex : nullptr; }

    bool mHasIndex = true;
    FbxLayerElementArrayTemplate<int> mIndex;
};

// ---- deformers -------------------------------------------------------------------------------------

class FbxNode;

class FbxCluster {
public:
    FbxNode* GetLink() const { return mLink; }
    FbxAMatrix& GetTransformMatrix(FbxAMatrix& out) const { return out = mTransform; }
    FbxAMatrix& GetTransformLinkMatrix(FbxAMatrix& out) const { return out = mTransformLink; }
    int GetControlPointIndicesCount() const { return int(mIndices.size()); }
    int* GetControlPointIndices() { return mIndices.data(); }
    double* GetControlPointWeights() { return mWeights.data(); }

    FbxNode* mLink = nullptr;
    FbxAMatrix mTransform, mTransformLink;
    std::vector<int> mIndices;
    std::vector<double> mWeights;
};

class FbxDeformer {
public:
    enum EDeformerType { eUnknown = 0, eSkin = 1 };
    virtual ~FbxDeformer() = default;
};

class FbxSkin : public FbxDeformer {
public:
    int GetClusterCount() const { return int(mClusters.size()); }
    FbxCluster* GetCluster(int index) {
        return index >= 0 && index < int(mClusters.size()) ? mClusters[std::size_t(index)].get() : nullptr;
    }

    std::vector<std::unique_ptr<FbxCluster>> mClusters;
};

// ---- nodes and their attributes --------------------------------------------------------------------

class FbxNodeAttribute {
public:
    enum EType { eUnknown = 0, eNull = 1, eMarker = 2, eSkeleton = 3, eMesh = 4 };
    explicit FbxNodeAttribute(EType type) : mType(type) {}
    virtual ~FbxNodeAttribute() = default;
    EType GetAttributeType() const { return mType; }

private:
    EType mType;
};

class FbxMesh : public FbxNodeAttribute {
public:
    FbxMesh() : FbxNodeAttribute(eMesh) {}

    int GetControlPointsCount() const { return int(mControlPoints.size()); }
    FbxVector4* GetControlPoints() { return mControlPoints.data(); }
    FbxVector4 GetControlPointAt(int index) const;
    int GetPolygonCount() const { return int(mPolygons.size()); }
    // Polygons are triangles. -1 for a polygon or corner the mesh does not have.
    int GetPolygonVertex(int polygon, int corner) const;
    int GetPolygonVertexCount() const { return 3 * int(mPolygons.size()); }
    int GetTextureUVIndex(int polygon, int corner,
                          FbxLayerElement::EType type = FbxLayerElement::eTextureDiffuse);

    int GetDeformerCount() const { return int(mDeformers.size()); }
    // The index-th deformer of the type; null past the end.
    FbxDeformer* GetDeformer(int index, FbxDeformer::EDeformerType type = FbxDeformer::eSkin) const;

    FbxGeometryElementNormal* GetElementNormal(int layer = 0) { return Layer(mNormals, layer); }
    FbxGeometryElementBinormal* GetElementBinormal(int layer = 0) { return Layer(mBinormals, layer); }
    FbxGeometryElementTangent* GetElementTangent(int layer = 0) { return Layer(mTangents, layer); }
    int GetElementUVCount() const { return int(mUVs.size()); }
    FbxGeometryElementUV* GetElementUV(int layer = 0) { return Layer(mUVs, layer); }
    FbxGeometryElementMaterial* GetElementMaterial(int layer = 0) { return Layer(mMaterials, layer); }

    std::vector<FbxVector4> mControlPoints;
    struct Triangle {
        int corners[3];
    };
    std::vector<Triangle> mPolygons;
    std::vector<std::unique_ptr<FbxDeformer>> mDeformers;
    std::vector<std::unique_ptr<FbxGeometryElementNormal>> mNormals;
    std::vector<std::unique_ptr<FbxGeometryElementBinormal>> mBinormals;
    std::vector<std::unique_ptr<FbxGeometryElementTangent>> mTangents;
    std::vector<std::unique_ptr<FbxGeometryElementUV>> mUVs;
    std::vector<std::unique_ptr<FbxGeometryElementMaterial>> mMaterials;

private:
    template <class T> static T* Layer(const std::vector<std::unique_ptr<T>>& layers, int layer) {
        return layer >= 0 && layer < int(layers.size()) ? layers[std::size_t(layer)].get() : nullptr;
    }
};

class FbxSkeleton : public FbxNodeAttribute {
public:
    FbxSkeleton() : FbxNodeAttribute(eSkeleton) {}
};

// One key of a node's local animation: seconds and the value (x, y, z for translation and scaling;
// a unit quaternion x, y, z, w for rotation).
struct FbxLocalKey {
    double seconds;
    double value[4];
};

class FbxNode {
public:
    enum EPivotSet { eSourcePivot = 0, eDestinationPivot = 1 };

    int GetChildCount() const { return int(mChildren.size()); }
    FbxNode* GetChild(int index) const;
    const char* GetName() const { return mName.c_str(); }
    FbxNode* GetParent() const { return mParent; }
    FbxNodeAttribute* GetNodeAttribute() const { return mAttribute.get(); }
    // The mesh attribute, null for any other node.
    FbxMesh* GetMesh() const;
    FbxVector4 GetGeometricTranslation(EPivotSet) const { return mGeometricTranslation; }
    FbxVector4 GetGeometricRotation(EPivotSet) const { return mGeometricRotation; }
    FbxVector4 GetGeometricScaling(EPivotSet) const { return mGeometricScaling; }
    // The node's transform to the scene at `time`: each node's local transform, its animation
    // sampled (linear, spherical for rotations) where it has keys, composed up to the root.
    FbxAMatrix EvaluateGlobalTransform(const FbxTime& time, EPivotSet pivot = eSourcePivot,
                                       bool applyTarget = false, bool forceEval = false) const;
    FbxAMatrix EvaluateLocalTransform(const FbxTime& time) const;
    int GetMaterialCount() const { return int(mMaterials.size()); }
    FbxSurfaceMaterial* GetMaterial(int index) const;

    // Makes a child; the node owns it.
    FbxNode* AddChild(std::string name);

    std::string mName;
    FbxNode* mParent = nullptr;
    std::vector<std::unique_ptr<FbxNode>> mChildren;
    std::unique_ptr<FbxNodeAttribute> mAttribute;
    FbxVector4 mGeometricTranslation{0, 0, 0, 0}, mGeometricRotation{0, 0, 0, 0},
        mGeometricScaling{1, 1, 1, 0};
    FbxAMatrix mLocal;
    std::vector<FbxLocalKey> mTranslationKeys, mRotationKeys, mScalingKeys;
    std::vector<std::unique_ptr<FbxSurfaceMaterial>> mMaterials;
};

// ---- scene and import ------------------------------------------------------------------------------

class FbxAnimStack : public FbxObject {};

class FbxDocument : public FbxObject {
public:
    // Null for a take the document does not have.
    FbxTakeInfo* GetTakeInfo(const char* name);

    std::vector<std::unique_ptr<FbxAnimStack>> mAnimStacks;
    std::vector<FbxTakeInfo> mTakes;
};

class FbxScene : public FbxDocument {
public:
    static FbxScene* Create(FbxManager* manager, const char* name);
    FbxNode* GetRootNode() { return &mRoot; }
    template <class T> T* GetSrcObject(int index = 0) const;
    // Empties the scene for another import.
    void Clear();

    FbxNode mRoot;
};

template <> inline FbxAnimStack* FbxScene::GetSrcObject<FbxAnimStack>(int index) const {
    return index >= 0 && index < int(mAnimStacks.size()) ? mAnimStacks[std::size_t(index)].get() : nullptr;
}

class FbxImporter : public FbxObject {
public:
    static FbxImporter* Create(FbxManager* manager, const char* name);
    // Reads the file; false with the reason in GetStatus() when it cannot be read.
    bool Initialize(const char* fileName, int fileFormat = -1, FbxIOSettings* settings = nullptr);
    // Moves what Initialize read into `scene`; false when nothing was read.
    bool Import(FbxScene* scene, bool nonBlocking = false);
    FbxStatus& GetStatus() { return mStatus; }
    FbxImporter();
    ~FbxImporter() override;

    struct Read;

private:
    FbxStatus mStatus;
    std::unique_ptr<Read> mRead;
};

class FbxGeometryConverter {
public:
    explicit FbxGeometryConverter(FbxManager* manager) : mManager(manager) {}
    // The imported meshes are triangles already; true when every mesh of the scene is.
    bool Triangulate(FbxScene* scene, bool replace, bool legacy = false);

private:
    FbxManager* mManager;
};

} // namespace fbxsdk_2015_1

using namespace fbxsdk_2015_1;
