#include <assetgen/Models.h>

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <set>

namespace assetgen {
namespace {

struct Corner {
    aiVector3D position{};
    aiVector3D normal{};
    float u = 0.0f, v = 0.0f;
};

struct Influence {
    std::string joint{};
    std::vector<std::pair<unsigned, float>> weights{}; // vertex, weight
};

struct Part {
    std::string name{};
    aiMatrix4x4 local{};
    std::vector<Corner> vertices{};
    std::vector<std::array<unsigned, 3>> triangles{};
    std::vector<unsigned> materials{}; // one per triangle
    std::vector<Influence> influences{};
};

struct JointSpec {
    std::string name{};
    std::string parent{}; // empty: under the root
    aiMatrix4x4 local{};
};

struct KeySpec {
    double frame{};
    aiVector3D translation{};
    aiQuaternion rotation{};
};

struct MaterialSpec {
    std::string name{};
    aiColor3D ambient, diffuse, specular{};
    float shininess{};
    std::string texture{};
};

struct ModelSpec {
    std::string file{};
    std::vector<MaterialSpec> materials{};
    std::vector<Part> parts{};
    std::vector<JointSpec> joints{};
    std::string take{};
    std::map<std::string, std::vector<KeySpec>> keys{}; // joint -> keys in frames of 60 a second
};

aiMatrix4x4 Place(aiVector3D translation, aiVector3D axis = {0, 0, 1}, float degrees = 0.0f,
                  float scale = 1.0f) {
    return aiMatrix4x4(aiVector3D(scale, scale, scale),
                       aiQuaternion(axis, degrees * float(std::numbers::pi) / 180.0f), translation);
}

// ---- building and writing --------------------------------------------------------------------------

class Writer {
public:
    explicit Writer(const ModelSpec& spec) : mSpec(spec) {}

    std::unique_ptr<aiScene> Build() {
        auto scene = std::make_unique<aiScene>();
        scene->mRootNode = new aiNode("RootNode");
        mNodes["RootNode"] = scene->mRootNode;
        for (const Part& part : mSpec.parts)
            AddNode(part.name, "", part.local);
        for (const JointSpec& joint : mSpec.joints)
            AddNode(joint.name, joint.parent, joint.local);

        scene->mNumMaterials = unsigned(mSpec.materials.size());
        scene->mMaterials = new aiMaterial*[scene->mNumMaterials];
        for (std::size_t m = 0; m < mSpec.materials.size(); ++m)
            scene->mMaterials[m] = MakeMaterial(mSpec.materials[m]);

        std::vector<aiMesh*> meshes;
        for (const Part& part : mSpec.parts) {
            aiNode* node = mNodes[part.name];
            std::vector<unsigned> used;
            for (unsigned material : part.materials)
                if (std::find(used.begin(), used.end(), material) == used.end()) used.push_back(material);
            node->mNumMeshes = unsigned(used.size());
            node->mMeshes = new unsigned[used.size()];
            for (std::size_t i = 0; i < used.size(); ++i) {
                node->mMeshes[i] = unsigned(meshes.size());
                meshes.push_back(MakeMesh(part, used[i]));
            }
        }
        scene->mNumMeshes = unsigned(meshes.size());
        scene->mMeshes = new aiMesh*[meshes.size()];
        std::copy(meshes.begin(), meshes.end(), scene->mMeshes);

        if (!mSpec.keys.empty()) {
            scene->mNumAnimations = 1;
            scene->mAnimations = new aiAnimation*[1];
            scene->mAnimations[0] = MakeAnimation();
        }
        return scene;
    }

private:
    void AddNode(const std::string& name, const std::string& parent, const aiMatrix4x4& local) {
        auto* node = new aiNode(name);
        node->mTransformation = local;
        aiNode* up = mNodes[parent.empty() ? "RootNode" : parent];
        up->addChildren(1, &node);
        mNodes[name] = node;
    }

    aiMatrix4x4 Global(const std::string& name) {
        aiMatrix4x4 global;
        for (const aiNode* node = mNodes[name]; node; node = node->mParent)
            global = node->mTransformation * global;
        return global;
    }

    static aiMaterial* MakeMaterial(const MaterialSpec& spec) {
        auto* material = new aiMaterial();
        const aiString name(spec.name);
        material->AddProperty(&name, AI_MATKEY_NAME);
        const int phong = aiShadingMode_Phong;
        material->AddProperty(&phong, 1, AI_MATKEY_SHADING_MODEL);
        material->AddProperty(&spec.ambient, 1, AI_MATKEY_COLOR_AMBIENT);
        material->AddProperty(&spec.diffuse, 1, AI_MATKEY_COLOR_DIFFUSE);
        material->AddProperty(&spec.specular, 1, AI_MATKEY_COLOR_SPECULAR);
        material->AddProperty(&spec.shininess, 1, AI_MATKEY_SHININESS);
        if (!spec.texture.empty()) {
            const aiString texture(spec.texture);
            material->AddProperty(&texture, AI_MATKEY_TEXTURE_DIFFUSE(0));
        }
        return material;
    }

    // The part's triangles of one material, with the vertices they use in first-use order.
    aiMesh* MakeMesh(const Part& part, unsigned material) {
        std::map<unsigned, unsigned> remap;
        std::vector<unsigned> order;
        std::vector<std::array<unsigned, 3>> faces;
        for (std::size_t t = 0; t < part.triangles.size(); ++t) {
            if (part.materials[t] != material) continue;
            std::array<unsigned, 3> face{};
            for (int c = 0; c < 3; ++c) {
                const unsigned v = part.triangles[t][std::size_t(c)];
                const auto [it, added] = remap.emplace(v, unsigned(order.size()));
                if (added) order.push_back(v);
                face[std::size_t(c)] = it->second;
            }
            faces.push_back(face);
        }
        auto* mesh = new aiMesh();
        mesh->mName = part.name;
        mesh->mMaterialIndex = material;
        mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
        mesh->mNumVertices = unsigned(order.size());
        mesh->mVertices = new aiVector3D[order.size()];
        mesh->mNormals = new aiVector3D[order.size()];
        mesh->mTextureCoords[0] = new aiVector3D[order.size()];
        mesh->mNumUVComponents[0] = 2;
        for (std::size_t i = 0; i < order.size(); ++i) {
            const Corner& corner = part.vertices[order[i]];
            mesh->mVertices[i] = corner.position;
            mesh->mNormals[i] = corner.normal;
            mesh->mTextureCoords[0][i] = aiVector3D(corner.u, corner.v, 0.0f);
        }
        mesh->mNumFaces = unsigned(faces.size());
        mesh->mFaces = new aiFace[faces.size()];
        for (std::size_t f = 0; f < faces.size(); ++f) {
            mesh->mFaces[f].mNumIndices = 3;
            mesh->mFaces[f].mIndices = new unsigned[3]{faces[f][0], faces[f][1], faces[f][2]};
        }
        std::vector<aiBone*> bones;
        for (const Influence& influence : part.influences) {
            std::vector<aiVertexWeight> weights;
            for (const auto& [vertex, weight] : influence.weights)
                if (const auto it = remap.find(vertex); it != remap.end())
                    weights.emplace_back(it->second, weight);
            if (weights.empty()) continue;
            auto* bone = new aiBone();
            bone->mName = influence.joint;
            bone->mNumWeights = unsigned(weights.size());
            bone->mWeights = new aiVertexWeight[weights.size()];
            std::copy(weights.begin(), weights.end(), bone->mWeights);
            bone->mOffsetMatrix = Global(influence.joint).Inverse() * Global(part.name);
            bones.push_back(bone);
        }
        if (!bones.empty()) {
            mesh->mNumBones = unsigned(bones.size());
            mesh->mBones = new aiBone*[bones.size()];
            std::copy(bones.begin(), bones.end(), mesh->mBones);
        }
        return mesh;
    }

    aiAnimation* MakeAnimation() {
        auto* animation = new aiAnimation();
        animation->mName = mSpec.take;
        // The FBX writer takes key times for seconds whatever the tick rate says.
        animation->mTicksPerSecond = 1.0;
        double last = 0.0;
        std::vector<aiNodeAnim*> channels;
        for (const auto& [joint, keys] : mSpec.keys) {
            auto* channel = new aiNodeAnim();
            channel->mNodeName = joint;
            const unsigned n = unsigned(keys.size());
            channel->mNumPositionKeys = channel->mNumRotationKeys = channel->mNumScalingKeys = n;
            channel->mPositionKeys = new aiVectorKey[n];
            channel->mRotationKeys = new aiQuatKey[n];
            channel->mScalingKeys = new aiVectorKey[n];
            for (unsigned k = 0; k < n; ++k) {
                const double seconds = keys[k].frame / 60.0;
                channel->mPositionKeys[k] = aiVectorKey(seconds, keys[k].translation);
                channel->mRotationKeys[k] = aiQuatKey(seconds, keys[k].rotation);
                channel->mScalingKeys[k] = aiVectorKey(seconds, aiVector3D(1, 1, 1));
                last = std::max(last, seconds);
            }
            channels.push_back(channel);
        }
        animation->mDuration = last;
        animation->mNumChannels = unsigned(channels.size());
        animation->mChannels = new aiNodeAnim*[channels.size()];
        std::copy(channels.begin(), channels.end(), animation->mChannels);
        return animation;
    }

    const ModelSpec& mSpec;
    std::map<std::string, aiNode*> mNodes;
};

// ---- the round trip --------------------------------------------------------------------------------

const aiNode* FindNode(const aiNode* node, const std::string& name) {
    if (name == node->mName.C_Str()) return node;
    for (unsigned i = 0; i < node->mNumChildren; ++i)
        if (const aiNode* found = FindNode(node->mChildren[i], name)) return found;
    return nullptr;
}

// The distinct U coordinates of a node's meshes (the reader gives every corner a vertex of its own).
std::vector<float> Us(const aiScene& scene, const aiNode& node) {
    std::vector<float> us;
    for (unsigned m = 0; m < node.mNumMeshes; ++m) {
        const aiMesh& mesh = *scene.mMeshes[node.mMeshes[m]];
        for (unsigned v = 0; mesh.mTextureCoords[0] && v < mesh.mNumVertices; ++v)
            us.push_back(mesh.mTextureCoords[0][v].x);
    }
    std::sort(us.begin(), us.end());
    us.erase(std::unique(us.begin(), us.end()), us.end());
    return us;
}

std::size_t MostInfluences(const aiScene& scene) {
    std::size_t most = 0;
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
        const aiMesh& mesh = *scene.mMeshes[m];
        std::vector<std::size_t> counts(mesh.mNumVertices, 0);
        for (unsigned b = 0; b < mesh.mNumBones; ++b)
            for (unsigned w = 0; w < mesh.mBones[b]->mNumWeights; ++w)
                if (mesh.mBones[b]->mWeights[w].mVertexId < mesh.mNumVertices)
                    most = std::max(most, ++counts[mesh.mBones[b]->mWeights[w].mVertexId]);
    }
    return most;
}

bool Check(const aiScene& written, const std::string& path, std::string& error) {
    Assimp::Importer importer;
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    const aiScene* read = importer.ReadFile(path, aiProcess_Triangulate);
    if (!read || !read->mRootNode) {
        error = path + " does not read back: " + importer.GetErrorString();
        return false;
    }
    std::function<bool(const aiNode&)> nodes = [&](const aiNode& node) {
        const aiNode* found = FindNode(read->mRootNode, node.mName.C_Str());
        if (!found) {
            error = path + " lost the node " + node.mName.C_Str();
            return false;
        }
        if (Us(written, node) != Us(*read, *found)) {
            error = path + " changed the texture coordinates of " + node.mName.C_Str();
            return false;
        }
        for (unsigned i = 0; i < node.mNumChildren; ++i)
            if (!nodes(*node.mChildren[i])) return false;
        return true;
    };
    if (!nodes(*written.mRootNode)) return false;
    if (read->mNumMaterials != written.mNumMaterials) {
        error = path + " holds " + std::to_string(read->mNumMaterials) + " materials, not " +
                std::to_string(written.mNumMaterials);
        return false;
    }
    if (MostInfluences(*read) != MostInfluences(written)) {
        error = path + " changed the influences per vertex";
        return false;
    }
    if (written.mNumAnimations != read->mNumAnimations) {
        error = path + " lost its animation";
        return false;
    }
    if (written.mNumAnimations) {
        const aiAnimation& w = *written.mAnimations[0];
        const aiAnimation& r = *read->mAnimations[0];
        // The reader starts every animation at 0 and counts in its own tick rate.
        double first = w.mDuration;
        for (unsigned c = 0; c < w.mNumChannels; ++c)
            first = std::min(first, w.mChannels[c]->mPositionKeys[0].mTime);
        const long frames = std::lround((w.mDuration - first) / w.mTicksPerSecond * 60.0);
        const long back = r.mTicksPerSecond > 0 ? std::lround(r.mDuration / r.mTicksPerSecond * 60.0) : -1;
        if (frames != back) {
            error =
                path + " animates over " + std::to_string(back) + " frames, not " + std::to_string(frames);
            return false;
        }
    }
    return true;
}

bool Write(const ModelSpec& spec, const std::string& folder, std::string& error) {
    const std::unique_ptr<aiScene> scene = Writer(spec).Build();
    const std::string path = folder + "/" + spec.file;
    Assimp::Exporter exporter;
    // ASCII: the library cannot read back the binary files it writes.
    if (exporter.Export(scene.get(), "fbxa", path) != AI_SUCCESS) {
        error = path + ": " + exporter.GetErrorString();
        return false;
    }
    return Check(*scene, path, error);
}

// ---- the models ------------------------------------------------------------------------------------

// A box of six faces, each with its own corners, normals and the whole texture.
void AddBox(Part& part, aiVector3D centre, aiVector3D half, unsigned material = 0,
            const std::string& joint = {}) {
    const std::array<aiVector3D, 6> normals = {aiVector3D(1, 0, 0), aiVector3D(-1, 0, 0),
                                               aiVector3D(0, 1, 0), aiVector3D(0, -1, 0),
                                               aiVector3D(0, 0, 1), aiVector3D(0, 0, -1)};
    for (const aiVector3D& n : normals) {
        // Two axes across the face, chosen so that the corners turn counter-clockwise seen from outside.
        const aiVector3D a = std::fabs(n.y) > 0.5f ? aiVector3D(1, 0, 0) : aiVector3D(0, 1, 0);
        const aiVector3D b = n ^ a;
        const unsigned base = unsigned(part.vertices.size());
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            const aiVector3D offset = n + a * c[0] + b * c[1];
            Corner corner;
            corner.position = centre + aiVector3D(offset.x * half.x, offset.y * half.y, offset.z * half.z);
            corner.normal = n;
            corner.u = (c[0] + 1) / 2;
            corner.v = (c[1] + 1) / 2;
            part.vertices.push_back(corner);
        }
        part.triangles.push_back({base, base + 1, base + 2});
        part.triangles.push_back({base, base + 2, base + 3});
        part.materials.insert(part.materials.end(), 2, material);
        if (!joint.empty()) {
            auto it = std::find_if(part.influences.begin(), part.influences.end(),
                                   [&](const Influence& i) { return i.joint == joint; });
            if (it == part.influences.end()) it = part.influences.insert(part.influences.end(), {joint, {}});
            for (unsigned v = base; v < base + 4; ++v)
                it->weights.emplace_back(v, 1.0f);
        }
    }
}

Corner At(float x, float y, float z, float u = 0.0f, float v = 0.0f) {
    return Corner{aiVector3D(x, y, z), aiVector3D(0, 0, 1), u, v};
}

MaterialSpec Plain(const std::string& name, aiColor3D diffuse) {
    return {name, aiColor3D(0.1f, 0.1f, 0.1f), diffuse, aiColor3D(0.3f, 0.3f, 0.3f), 24.0f, {}};
}

ModelSpec TwoMeshes() {
    ModelSpec spec{"twomeshes.fbx"};
    spec.materials = {{"Crate", aiColor3D(0.1f, 0.2f, 0.3f), aiColor3D(0.8f, 0.2f, 0.2f),
                       aiColor3D(0.5f, 0.5f, 0.5f), 16.0f, "C:\\Art\\crate.png"},
                      {"Metal", aiColor3D(0.0f, 0.0f, 0.1f), aiColor3D(0.2f, 0.2f, 0.8f),
                       aiColor3D(1.0f, 1.0f, 1.0f), 64.0f, "textures/metal.png"}};
    Part a{"partA",
           Place({1, 2, 3}),
           {At(0, 0, 0, 0, 0), At(1, 0, 0, 1, 0), At(1, 1, 0, 1, 1), At(0, 1, 0, 0, 1)}};
    a.triangles = {{0, 1, 2}, {0, 2, 3}};
    a.materials = {0, 0};
    Part b{"partB",
           Place({-2, 0, 0}, {0, 1, 0}, 90.0f),
           {At(0, 0, 0, 0, 0), At(1, 0, 0, 1, 0), At(0, 1, 0, 0, 1)}};
    b.triangles = {{0, 1, 2}};
    b.materials = {1};
    spec.parts = {a, b};
    return spec;
}

ModelSpec Skinned() {
    ModelSpec spec{"skinned.fbx"};
    spec.materials = {Plain("Skin", aiColor3D(0.7f, 0.6f, 0.5f))};
    spec.joints = {
        {"hip", "", Place({0, 0, 0})}, {"knee", "hip", Place({0, 1, 0})}, {"foot", "knee", Place({0, 1, 0})}};
    Part leg{"leg", Place({0, 0, 0})};
    for (int level = 0; level < 3; ++level) {
        leg.vertices.push_back(At(-0.2f, float(level), 0, 0, float(level) / 2));
        leg.vertices.push_back(At(0.2f, float(level), 0, 1, float(level) / 2));
    }
    leg.triangles = {{0, 1, 3}, {0, 3, 2}, {2, 3, 5}, {2, 5, 4}};
    leg.materials = {0, 0, 0, 0};
    leg.influences = {{"hip", {{0, 1.0f}, {1, 1.0f}, {2, 0.4f}, {3, 0.4f}}},
                      {"knee", {{2, 0.6f}, {3, 0.6f}}},
                      {"foot", {{4, 1.0f}, {5, 1.0f}}}};
    spec.parts = {leg};
    spec.take = "bend";
    const auto bend = [](float degrees) {
        return aiQuaternion(aiVector3D(0, 0, 1), degrees * float(std::numbers::pi) / 180.0f);
    };
    spec.keys["hip"] = {{10, {0, 0, 0}, {}}, {15, {0.5f, 0, 0}, {}}, {20, {0, 0, 0}, {}}};
    spec.keys["knee"] = {{10, {0, 1, 0}, bend(0)}, {15, {0, 1, 0}, bend(45)}, {20, {0, 1, 0}, bend(90)}};
    spec.keys["foot"] = {{10, {0, 1, 0}, {}}, {20, {0, 1, 0}, {}}};
    return spec;
}

ModelSpec SixInfluences() {
    ModelSpec spec{"sixinfluences.fbx"};
    spec.materials = {Plain("Grey", aiColor3D(0.5f, 0.5f, 0.5f))};
    Part part{"fan", Place({0, 0, 0}), {At(0, 0, 0), At(1, 0, 0, 1, 0), At(0, 1, 0, 0, 1)}};
    part.triangles = {{0, 1, 2}};
    part.materials = {0};
    const float weights[6] = {0.05f, 0.28f, 0.1f, 0.22f, 0.15f, 0.2f};
    for (int j = 0; j < 6; ++j) {
        const std::string name = "j" + std::to_string(j);
        spec.joints.push_back({name, "", Place({float(j), 0, 0})});
        Influence influence{name, {{0, weights[j]}}};
        if (j == 0) influence.weights.insert(influence.weights.end(), {{1, 1.0f}, {2, 1.0f}});
        part.influences.push_back(influence);
    }
    spec.parts = {part};
    return spec;
}

ModelSpec OneJoint() {
    ModelSpec spec{"onejoint.fbx"};
    spec.materials = {Plain("Grey", aiColor3D(0.5f, 0.5f, 0.5f))};
    spec.joints = {{"bone", "", Place({0, 1, 0}, {0, 0, 1}, 30.0f)}};
    Part part{"stick", Place({0.5f, 0, 0}), {At(0, 0, 0), At(1, 0, 0, 1, 0), At(0, 2, 0, 0, 1)}};
    part.triangles = {{0, 1, 2}};
    part.materials = {0};
    part.influences = {{"bone", {{0, 1.0f}, {1, 1.0f}, {2, 1.0f}}}};
    spec.parts = {part};
    spec.take = "still";
    const aiQuaternion turn(aiVector3D(0, 0, 1), 30.0f * float(std::numbers::pi) / 180.0f);
    spec.keys["bone"] = {{0, {0, 1, 0}, turn}, {5, {0, 1, 0}, turn}};
    return spec;
}

ModelSpec Corners() {
    ModelSpec spec{"corners.fbx"};
    spec.materials = {Plain("Grey", aiColor3D(0.5f, 0.5f, 0.5f))};
    Part part{"corners", Place({0, 0, 0})};
    // Three triangles over the same points: the second moves its first corner's U by 0.00002, the
    // third by 0.000005.
    for (const float du : {0.0f, 0.00002f, 0.000005f}) {
        const unsigned base = unsigned(part.vertices.size());
        part.vertices.insert(part.vertices.end(), {At(0, 0, 0, 0.25f + du, 0.5f), At(1, 0, 0, 0.75f, 0.5f),
                                                   At(0, 1, 0, 0.25f, 1.0f)});
        part.triangles.push_back({base, base + 1, base + 2});
        part.materials.push_back(0);
    }
    spec.parts = {part};
    return spec;
}

ModelSpec HighJoint() {
    ModelSpec spec{"highjoint.fbx"};
    spec.materials = {Plain("Grey", aiColor3D(0.5f, 0.5f, 0.5f))};
    Part part{"far", Place({0, 0, 0}), {At(0, 0, 0), At(1, 0, 0, 1, 0), At(0, 1, 0, 0, 1)}};
    part.triangles = {{0, 1, 2}};
    part.materials = {0};
    for (int j = 0; j <= 100; ++j) {
        char name[16];
        std::snprintf(name, sizeof name, "b%03d", j);
        // A chain, so that every joint is an ancestor of the last and belongs to the skeleton.
        char parent[16] = "";
        if (j > 0) std::snprintf(parent, sizeof parent, "b%03d", j - 1);
        spec.joints.push_back({name, parent, Place({0, 0.01f, 0})});
    }
    part.influences = {{"b000", {{1, 1.0f}, {2, 1.0f}}}, {"b001", {{0, 0.3f}}}, {"b100", {{0, 0.7f}}}};
    spec.parts = {part};
    return spec;
}

// ---- the game's models -----------------------------------------------------------------------------

ModelSpec Player() {
    ModelSpec spec{"Player.fbx"};
    spec.materials = {Plain("Suit", aiColor3D(0.9f, 0.9f, 0.9f))};
    spec.joints = {{"pelvis", "", Place({0, -0.1f, 0})},
                   {"legL", "pelvis", Place({-0.12f, 0, 0})},
                   {"legR", "pelvis", Place({0.12f, 0, 0})}};
    Part body{"figure", Place({0, 0, 0})};
    AddBox(body, {0, 0.15f, 0}, {0.22f, 0.25f, 0.14f}, 0, "pelvis");
    AddBox(body, {0, 0.5f - 0.09f, 0}, {0.1f, 0.09f, 0.1f}, 0, "pelvis");
    AddBox(body, {-0.12f, -0.3f, 0}, {0.07f, 0.2f, 0.08f}, 0, "legL");
    AddBox(body, {0.12f, -0.3f, 0}, {0.07f, 0.2f, 0.08f}, 0, "legR");
    spec.parts = {body};
    spec.take = "walk";
    const auto swing = [](float degrees) {
        return aiQuaternion(aiVector3D(1, 0, 0), degrees * float(std::numbers::pi) / 180.0f);
    };
    spec.keys["pelvis"] = {{0, {0, -0.1f, 0}, {}}, {15, {0, -0.08f, 0}, {}}, {30, {0, -0.1f, 0}, {}}};
    spec.keys["legL"] = {
        {0, {-0.12f, 0, 0}, swing(25)}, {15, {-0.12f, 0, 0}, swing(-25)}, {30, {-0.12f, 0, 0}, swing(25)}};
    spec.keys["legR"] = {
        {0, {0.12f, 0, 0}, swing(-25)}, {15, {0.12f, 0, 0}, swing(25)}, {30, {0.12f, 0, 0}, swing(-25)}};
    return spec;
}

ModelSpec KeyCard() {
    ModelSpec spec{"KeyCard.fbx"};
    spec.materials = {Plain("Card", aiColor3D(1.0f, 0.85f, 0.2f))};
    Part card{"card", Place({0, 0, 0})};
    AddBox(card, {0, 0, 0}, {0.45f, 0.3f, 0.03f});
    AddBox(card, {0.3f, 0.18f, 0.04f}, {0.08f, 0.06f, 0.01f});
    spec.parts = {card};
    return spec;
}

ModelSpec PowerCell() {
    ModelSpec spec{"PowerCell.fbx"};
    spec.materials = {Plain("Cell", aiColor3D(0.3f, 0.9f, 1.0f))};
    Part cell{"cell", Place({0, 0, 0})};
    AddBox(cell, {0, -0.05f, 0}, {0.2f, 0.4f, 0.2f});
    AddBox(cell, {0, 0.4f, 0}, {0.1f, 0.05f, 0.1f});
    spec.parts = {cell};
    return spec;
}

ModelSpec EscapePod() {
    ModelSpec spec{"EscapePod.fbx"};
    spec.materials = {Plain("Hull", aiColor3D(0.6f, 0.7f, 0.6f))};
    Part hull{"hull", Place({0, 0, 0})};
    AddBox(hull, {0, -0.1f, 0}, {0.35f, 0.3f, 0.45f});
    AddBox(hull, {0, 0.3f, 0}, {0.2f, 0.1f, 0.25f});
    AddBox(hull, {0, -0.45f, 0}, {0.45f, 0.05f, 0.5f});
    spec.parts = {hull};
    return spec;
}

std::vector<ModelSpec> Models(const std::string& set) {
    if (set == "game") return {Player(), KeyCard(), PowerCell(), EscapePod()};
    if (set == "test") return {TwoMeshes(), Skinned(), SixInfluences(), OneJoint(), Corners(), HighJoint()};
    return {};
}

constexpr const char* kTruncated = "truncated.fbx";

} // namespace

bool WriteGridModel(const std::string& path, int corners, std::string& error) {
    const auto cut = path.find_last_of('/');
    ModelSpec spec{cut == std::string::npos ? path : path.substr(cut + 1)};
    spec.materials = {Plain("Grey", aiColor3D(0.5f, 0.5f, 0.5f))};
    Part grid{"grid", Place({0, 0, 0})};
    const int triangles = std::max(corners / 3, 2);
    const int columns = std::max(1, int(std::sqrt(double(triangles) / 2.0)));
    const int rows = (triangles / 2 + columns - 1) / columns;
    for (int y = 0; y <= rows; ++y)
        for (int x = 0; x <= columns; ++x)
            // Texture coordinates of 0 and 1 only, which the file holds exactly.
            grid.vertices.push_back(At(float(x), float(y), 0, float(x % 2), float(y % 2)));
    for (int t = 0; t < triangles; ++t) {
        const unsigned cell = unsigned(t / 2), x = cell % unsigned(columns), y = cell / unsigned(columns);
        const unsigned a = y * unsigned(columns + 1) + x, b = a + 1, c = a + unsigned(columns + 1), d = c + 1;
        grid.triangles.push_back(t % 2 == 0 ? std::array<unsigned, 3>{a, b, d}
                                            : std::array<unsigned, 3>{a, d, c});
        grid.materials.push_back(0);
    }
    spec.parts = {grid};
    return Write(spec, cut == std::string::npos ? "." : path.substr(0, cut), error);
}

std::vector<std::string> ModelFiles(const std::string& set) {
    std::vector<std::string> files;
    for (const ModelSpec& spec : Models(set))
        files.push_back(spec.file);
    if (set == "test") files.push_back(kTruncated);
    return files;
}

bool WriteModels(const std::string& set, const std::string& folder, std::string& error) {
    const std::vector<ModelSpec> models = Models(set);
    if (models.empty()) {
        error = "no model set " + set;
        return false;
    }
    for (const ModelSpec& spec : models)
        if (!Write(spec, folder, error)) return false;
    if (set == "test") {
        // A valid file cut in half, as a copy that stopped midway leaves it.
        std::ifstream in(folder + "/" + models.front().file, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream out(folder + "/" + kTruncated, std::ios::binary);
        out.write(text.data(), std::streamsize(text.size() / 2));
        if (!out) {
            error = "cannot write " + folder + "/" + kTruncated;
            return false;
        }
    }
    return true;
}

} // namespace assetgen
