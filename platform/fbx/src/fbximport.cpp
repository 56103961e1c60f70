// The importer over the system's model library: an FBX file read into the SDK's scene records.
#include "fbx_internal.h"

#include <fbx_test_control.h>
#include <win32_paths.h>

#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <fstream>
#include <map>
#include <set>

namespace fbxsdk_2015_1 {

struct FbxImporter::Read {
    FbxScene scene;
};

} // namespace fbxsdk_2015_1

namespace {

fbxtest::SceneBuilder& Builder() {
    static fbxtest::SceneBuilder builder;
    return builder;
}

// The library's matrices carry the translation in column 3; the SDK's in row 3.
FbxAMatrix ToFbx(const aiMatrix4x4& m) {
    FbxAMatrix out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out.mData[r][c] = m[c][r];
    return out;
}

aiMatrix4x4 FromFbx(const FbxAMatrix& m) {
    aiMatrix4x4 out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[r][c] = ai_real(m.mData[c][r]);
    return out;
}

FbxDouble3 Colour(const aiMaterial& material, const char* key, unsigned type, unsigned index,
                  FbxDouble3 fallback) {
    aiColor3D colour;
    if (material.Get(key, type, index, colour) != AI_SUCCESS) return fallback;
    return FbxDouble3(colour.r, colour.g, colour.b);
}

std::unique_ptr<FbxSurfaceMaterial> ConvertMaterial(const aiMaterial& source) {
    int shading = 0;
    source.Get(AI_MATKEY_SHADING_MODEL, shading);
    aiColor3D specular;
    const bool hasSpecular = source.Get(AI_MATKEY_COLOR_SPECULAR, specular) == AI_SUCCESS;
    std::unique_ptr<FbxSurfaceMaterial> material;
    if (shading == aiShadingMode_Phong || shading == aiShadingMode_Blinn || hasSpecular) {
        auto phong = std::make_unique<FbxSurfacePhong>();
        phong->Ambient.mValue = Colour(source, AI_MATKEY_COLOR_AMBIENT, FbxDouble3(0, 0, 0));
        phong->Diffuse.mValue = Colour(source, AI_MATKEY_COLOR_DIFFUSE, FbxDouble3(0.8, 0.8, 0.8));
        phong->Specular.mValue = Colour(source, AI_MATKEY_COLOR_SPECULAR, FbxDouble3(0.2, 0.2, 0.2));
        float shininess = 20.0f;
        source.Get(AI_MATKEY_SHININESS, shininess);
        phong->Shininess.mValue = shininess;
        material = std::move(phong);
    } else {
        material = std::make_unique<FbxSurfaceMaterial>();
    }
    aiString name;
    if (source.Get(AI_MATKEY_NAME, name) == AI_SUCCESS) material->mName = name.C_Str();
    const std::pair<aiTextureType, const char*> channels[] = {{aiTextureType_DIFFUSE, "DiffuseColor"},
                                                              {aiTextureType_SPECULAR, "SpecularColor"}};
    for (const auto& [type, channel] : channels) {
        aiString file;
        if (source.GetTexture(type, 0, &file) != AI_SUCCESS) continue;
        auto texture = std::make_unique<FbxFileTexture>();
        texture->mFileName = file.C_Str();
        material->mChannels[channel].push_back(std::move(texture));
    }
    return material;
}

class Converter {
public:
    explicit Converter(const aiScene& source) : mSource(source) {
        for (unsigned m = 0; m < source.mNumMeshes; ++m)
            for (unsigned b = 0; b < source.mMeshes[m]->mNumBones; ++b)
                mBoneNames.insert(source.mMeshes[m]->mBones[b]->mName.C_Str());
    }

    void Convert(FbxScene& scene) {
        const aiNode* root = mSource.mRootNode;
        scene.mRoot.mName = root->mName.C_Str();
        scene.mRoot.mLocal = ToFbx(root->mTransformation);
        mNodes[root->mName.C_Str()] = &scene.mRoot;
        for (unsigned i = 0; i < root->mNumChildren; ++i)
            ConvertTree(*root->mChildren[i], scene.mRoot);
        ConvertAnimation(scene);
        // Meshes come last: their skins link nodes anywhere in the tree.
        for (const auto& [source, node] : mMeshNodes)
            ConvertMesh(*source, *node);
    }

private:
    // True when the subtree holds a bone; such nodes, and the nodes above them that carry no mesh,
    // form the skeleton.
    bool ConvertTree(const aiNode& source, FbxNode& parent) {
        FbxNode* node = parent.AddChild(source.mName.C_Str());
        node->mLocal = ToFbx(source.mTransformation);
        mNodes.emplace(node->mName, node);
        bool holdsBone = mBoneNames.count(node->mName) > 0;
        for (unsigned i = 0; i < source.mNumChildren; ++i)
            holdsBone = ConvertTree(*source.mChildren[i], *node) || holdsBone;
        if (source.mNumMeshes > 0)
            mMeshNodes.emplace_back(&source, node);
        else if (holdsBone)
            node->mAttribute = std::make_unique<FbxSkeleton>();
        return holdsBone;
    }

    void ConvertMesh(const aiNode& source, FbxNode& node) {
        auto mesh = std::make_unique<FbxMesh>();
        auto normals = std::make_unique<FbxGeometryElementNormal>();
        auto uvs = std::make_unique<FbxGeometryElementUV>();
        auto materials = std::make_unique<FbxGeometryElementMaterial>();
        materials->mMappingMode = FbxLayerElement::eByPolygon;
        bool anyNormals = false, anyUVs = false;
        std::vector<unsigned> nodeMaterials; // scene material numbers in the node's order
        std::vector<std::string> clusterOrder;
        std::map<std::string, std::pair<std::vector<int>, std::vector<double>>> influences;
        std::map<std::string, aiMatrix4x4> offsets;
        for (unsigned m = 0; m < source.mNumMeshes; ++m) {
            if (source.mMeshes[m] >= mSource.mNumMeshes) continue;
            const aiMesh& part = *mSource.mMeshes[source.mMeshes[m]];
            const int base = int(mesh->mControlPoints.size());
            for (unsigned v = 0; v < part.mNumVertices; ++v) {
                const aiVector3D& p = part.mVertices[v];
                mesh->mControlPoints.emplace_back(p.x, p.y, p.z);
                const aiVector3D n = part.mNormals ? part.mNormals[v] : aiVector3D();
                normals->mDirect.mValues.emplace_back(n.x, n.y, n.z, 0.0);
                const aiVector3D t = part.mTextureCoords[0] ? part.mTextureCoords[0][v] : aiVector3D();
                uvs->mDirect.mValues.emplace_back(t.x, t.y);
            }
            anyNormals = anyNormals || part.mNormals;
            anyUVs = anyUVs || part.mTextureCoords[0];
            const auto found = std::find(nodeMaterials.begin(), nodeMaterials.end(), part.mMaterialIndex);
            const int material = int(found - nodeMaterials.begin());
            if (found == nodeMaterials.end()) nodeMaterials.push_back(part.mMaterialIndex);
            for (unsigned f = 0; f < part.mNumFaces; ++f) {
                const aiFace& face = part.mFaces[f];
                // Points and lines left by the triangulation are not polygons of the mesh.
                if (face.mNumIndices != 3) continue;
                mesh->mPolygons.push_back({{base + int(face.mIndices[0]), base + int(face.mIndices[1]),
                                            base + int(face.mIndices[2])}});
                materials->mIndex.mValues.push_back(material);
            }
            for (unsigned b = 0; b < part.mNumBones; ++b) {
                const aiBone& bone = *part.mBones[b];
                const std::string name = bone.mName.C_Str();
                if (!influences.count(name)) clusterOrder.push_back(name);
                auto& [points, weights] = influences[name];
                for (unsigned w = 0; w < bone.mNumWeights; ++w) {
                    points.push_back(base + int(bone.mWeights[w].mVertexId));
                    weights.push_back(bone.mWeights[w].mWeight);
                }
                offsets.emplace(name, bone.mOffsetMatrix);
            }
        }
        if (anyNormals) mesh->mNormals.push_back(std::move(normals));
        if (anyUVs) mesh->mUVs.push_back(std::move(uvs));
        mesh->mMaterials.push_back(std::move(materials));
        for (unsigned index : nodeMaterials)
            node.mMaterials.push_back(index < mSource.mNumMaterials
                                          ? ConvertMaterial(*mSource.mMaterials[index])
                                          : std::make_unique<FbxSurfaceMaterial>());
        if (!clusterOrder.empty()) {
            // The file's bind pose: the mesh's transform to the scene and the bone's, which the
            // library keeps as the bone's offset from the mesh.

            const FbxAMatrix transform = StaticGlobal(node);
            auto skin = std::make_unique<FbxSkin>();
            for (const std::string& name : clusterOrder) {
                auto cluster = std::make_unique<FbxCluster>();
                const auto link = mNodes.find(name);
                cluster->mLink = link == mNodes.end() ? nullptr : link->second;
                cluster->mTransform = transform;
                cluster->mTransformLink = transform * ToFbx(offsets[name]).Inverse();
                cluster->mIndices = std::move(influences[name].first);
                cluster->mWeights = std::move(influences[name].second);
                skin->mClusters.push_back(std::move(cluster));
            }
            mesh->mDeformers.push_back(std::move(skin));
        }
        node.mAttribute = std::move(mesh);
    }

    static FbxAMatrix StaticGlobal(const FbxNode& node) {
        FbxAMatrix global = node.mLocal;
        for (const FbxNode* up = node.mParent; up; up = up->mParent)
            global = up->mLocal * global;
        return global;
    }

    void ConvertAnimation(FbxScene& scene) {
        for (unsigned a = 0; a < mSource.mNumAnimations; ++a) {
            const aiAnimation& animation = *mSource.mAnimations[a];
            auto stack = std::make_unique<FbxAnimStack>();
            stack->mName = animation.mName.C_Str();
            const double ticks = animation.mTicksPerSecond > 0 ? animation.mTicksPerSecond : 24.0;
            FbxTime start, stop;
            stop.SetFrame(std::llround(animation.mDuration / ticks * 60.0));
            scene.mTakes.push_back({stack->mName, FbxTimeSpan(start, stop)});
            scene.mAnimStacks.push_back(std::move(stack));
            // The scene's nodes move as its first animation says.
            if (a != 0) continue;
            for (unsigned c = 0; c < animation.mNumChannels; ++c) {
                const aiNodeAnim& channel = *animation.mChannels[c];
                const auto node = mNodes.find(channel.mNodeName.C_Str());
                if (node == mNodes.end()) continue;
                for (unsigned k = 0; k < channel.mNumPositionKeys; ++k) {
                    const aiVectorKey& key = channel.mPositionKeys[k];
                    node->second->mTranslationKeys.push_back(
                        {key.mTime / ticks, {key.mValue.x, key.mValue.y, key.mValue.z, 0.0}});
                }
                for (unsigned k = 0; k < channel.mNumRotationKeys; ++k) {
                    const aiQuatKey& key = channel.mRotationKeys[k];
                    node->second->mRotationKeys.push_back(
                        {key.mTime / ticks, {key.mValue.x, key.mValue.y, key.mValue.z, key.mValue.w}});
                }
                for (unsigned k = 0; k < channel.mNumScalingKeys; ++k) {
                    const aiVectorKey& key = channel.mScalingKeys[k];
                    node->second->mScalingKeys.push_back(
                        {key.mTime / ticks, {key.mValue.x, key.mValue.y, key.mValue.z, 0.0}});
                }
            }
        }
    }

    const aiScene& mSource;
    std::set<std::string> mBoneNames;
    std::map<std::string, FbxNode*> mNodes;
    std::vector<std::pair<const aiNode*, FbxNode*>> mMeshNodes;
};

// The key pair around `seconds` and the blend between them; the ends hold their value.
template <class Key>
std::pair<const Key*, double> Around(const std::vector<Key>& keys, double seconds, const Key** next) {
    if (seconds <= keys.front().seconds || keys.size() == 1) {
        *next = &keys.front();
        return {&keys.front(), 0.0};
    }
    if (seconds >= keys.back().seconds) {
        *next = &keys.back();
        return {&keys.back(), 0.0};
    }
    const auto after = std::upper_bound(keys.begin(), keys.end(), seconds,
                                        [](double s, const Key& key) { return s < key.seconds; });
    const Key* b = &*after;
    const Key* a = &*(after - 1);
    *next = b;
    const double span = b->seconds - a->seconds;
    return {a, span > 0 ? (seconds - a->seconds) / span : 0.0};
}

aiVector3D Lerp(const std::vector<FbxLocalKey>& keys, double seconds) {
    const FbxLocalKey* next = nullptr;
    const auto [key, t] = Around(keys, seconds, &next);
    aiVector3D out;
    for (int i = 0; i < 3; ++i)
        out[unsigned(i)] = ai_real(key->value[i] + (next->value[i] - key->value[i]) * t);
    return out;
}

aiQuaternion Slerp(const std::vector<FbxLocalKey>& keys, double seconds) {
    const FbxLocalKey* next = nullptr;
    const auto [key, t] = Around(keys, seconds, &next);
    const aiQuaternion a(ai_real(key->value[3]), ai_real(key->value[0]), ai_real(key->value[1]),
                         ai_real(key->value[2]));
    const aiQuaternion b(ai_real(next->value[3]), ai_real(next->value[0]), ai_real(next->value[1]),
                         ai_real(next->value[2]));
    aiQuaternion out;
    aiQuaternion::Interpolate(out, a, b, ai_real(t));
    return out.Normalize();
}

// True for an ASCII FBX file that ends inside a block or a string, as a copy cut short does. The
// library leaks what it parsed of such a file, so it never sees one.
bool EndsInsideABlock(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char c = 0;
    while (file.get(c) && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
    }
    if (!file || c != ';') return false; // not ASCII FBX: the library judges it
    long depth = 0;
    bool comment = true, quoted = false;
    while (file.get(c)) {
        if (comment) {
            comment = c != '\n';
        } else if (quoted) {
            quoted = c != '"';
        } else if (c == '"') {
            quoted = true;
        } else if (c == ';') {
            comment = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}') {
            --depth;
        }
    }
    return depth != 0 || quoted;
}

} // namespace

namespace fbxinternal {

FbxAMatrix SampleLocal(const FbxNode& node, double seconds) {
    aiVector3D scaling, position;
    aiQuaternion rotation;
    FromFbx(node.mLocal).Decompose(scaling, rotation, position);
    if (!node.mTranslationKeys.empty()) position = Lerp(node.mTranslationKeys, seconds);
    if (!node.mRotationKeys.empty()) rotation = Slerp(node.mRotationKeys, seconds);
    if (!node.mScalingKeys.empty()) scaling = Lerp(node.mScalingKeys, seconds);
    return ToFbx(aiMatrix4x4(scaling, rotation, position));
}

bool ReadFile(const std::string& path, FbxScene& scene, std::string& error) {
    if (EndsInsideABlock(path)) {
        error = "FBX-Parser unexpected end of file: a block is not closed";
        return false;
    }
    Assimp::Importer importer;
    // No helper nodes for pivots: the geometric transforms stay identity.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    // The loader joins equal corners itself and flips V itself.
    const aiScene* source = importer.ReadFile(path, aiProcess_Triangulate);
    if (!source || !source->mRootNode) {
        error = importer.GetErrorString();
        if (error.empty()) error = "the file holds no scene";
        return false;
    }
    Converter(*source).Convert(scene);
    return true;
}

} // namespace fbxinternal

namespace fbxtest {

void SetSceneBuilder(SceneBuilder builder) {
    Builder() = std::move(builder);
}

} // namespace fbxtest

namespace fbxsdk_2015_1 {

FbxImporter::FbxImporter() = default;
FbxImporter::~FbxImporter() = default;

bool FbxImporter::Initialize(const char* fileName, int, FbxIOSettings*) {
    mRead.reset();
    const std::string file = fileName ? fileName : "";
    try {
        auto read = std::make_unique<Read>();
        if (Builder() && Builder()(file, read->scene)) {
            mRead = std::move(read);
            return true;
        }
        std::string error;
        if (!fbxinternal::ReadFile(win32::NativePath(file), read->scene, error)) {
            mStatus.SetError(error);
            return false;
        }
        mRead = std::move(read);
        return true;
    } catch (const std::exception& e) {
        mStatus.SetError(e.what());
        return false;
    }
}

bool FbxImporter::Import(FbxScene* scene, bool) {
    if (!scene || !mRead) return false;
    fbxinternal::MoveInto(mRead->scene, *scene);
    mRead.reset();
    return true;
}

} // namespace fbxsdk_2015_1
