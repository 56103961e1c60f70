// The frame's passes: every camera draws the level into its own target (opaque with culling,
// transparent back to front, debug shapes on top), then the player cameras are composed into the
// split-screen viewports of the back buffer.
//
// Matrix conventions: the camera constants hold row-vector matrices (the transposes of the engine's
// column-vector ones), so combined = world x view x projection applies the world first. The shader
// programs read the constant buffers column-major, so each matrix is written in its engine storage.
#include "DXDevice.h"
#include "GraphicsErrors.h"
#include "MatrixHelpers.h"
#include "resources/DXShader.h"
#include "resources/DXTexture.h"
#include "resources/ResourceHub.h"

#include <ComponentAccessors.h>
#include <d3dx10math.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

using Vectormath::Aos::Matrix3;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

namespace {

constexpr const char* kSourceFile = "DX11.cpp";
constexpr std::size_t kMaxBones = 100;
constexpr std::size_t kBindPosesOffset = 6400;
constexpr int kMaxMaterials = 4;

void PutMatrix(std::uint8_t* at, const Matrix4& m) {
    std::memcpy(at, &m, sizeof m);
}

void PutFloats(std::uint8_t* at, const float* values, std::size_t count) {
    std::memcpy(at, values, count * sizeof(float));
}

// The FBX matrix as 16 floats, element (r, c) at 4r + c.
void FbxAMatrixToMatrix(const FbxAMatrix& m, float out[16]) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[4 * r + c] = float(m.Get(r, c));
}

} // namespace

void DXDevice::ReportFrame(const char* text, const char* function, int line) {
    // Inside a running frame: not fatal, the pass goes on.
    SendGraphicsError(text, false, function, kSourceFile, line);
}

void DXDevice::SetProjection(const Camera& camera) {
    D3DXMATRIX d;
    D3DXMatrixPerspectiveFovRH(&d, camera.GetCameraFOV(),
                               float(camera.GetCameraWidth()) / float(camera.GetCameraHeight()),
                               camera.GetCameraNear(), camera.GetCameraFar());
    // Element (r, c) of the row-vector projection, as an engine matrix.
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            mConstants.projection.setElem(c, r, d.m[r][c]);
}

void DXDevice::WriteObjectBuffer() {
    std::uint8_t* b = mObjectBuffer.bytes.data();
    Matrix4 inverse;
    InvertMatrix(inverse, mConstants.world);
    PutMatrix(b, mConstants.combined);
    PutMatrix(b + 64, transpose(mConstants.world));
    PutMatrix(b + 128, inverse);
    PutMatrix(b + 192, transpose(mConstants.view));
    PutMatrix(b + 256, transpose(mConstants.projection));
    std::memcpy(b + 320, &mConstants.cameraPosition, 16);
    std::memcpy(b + 336, &mConstants.cameraLookAt, 16);
}

void DXDevice::WriteMaterials(const Mesh& mesh, const Vector4& colour) {
    std::uint8_t* b = mMatrixBuffer.bytes.data();
    if (mesh.mMaterials.size() > std::size_t(kMaxMaterials))
        ReportFrame("Mesh has more materials than current maximum!", "DXDevice::DrawOpaqueObjects", __LINE__);
    static const Material kDefault;
    for (int m = 0; m < kMaxMaterials; ++m) {
        const Material& material =
            std::size_t(m) < mesh.mMaterials.size() ? mesh.mMaterials[std::size_t(m)] : kDefault;
        const float c[4] = {material.specular[0], material.specular[1], material.specular[2],
                            material.shininess};
        PutFloats(b + 48 * m, material.ambient, 3);
        PutFloats(b + 48 * m + 16, material.diffuse, 3);
        PutFloats(b + 48 * m + 32, c, 4);
    }
    std::memcpy(b + 192, &colour, 16);
}

int DXDevice::DrawMesh(Mesh& mesh) {
    if (!mesh.mIndexBuffer) mDevice->CreateBuffer(&mesh.mIndexDesc, &mesh.mIndexData, &mesh.mIndexBuffer);
    mContext->IASetIndexBuffer(mesh.mIndexBuffer, DXGI_FORMAT_R32_UINT, 0);
    if (!mesh.mVertexBuffer) mDevice->CreateBuffer(&mesh.mVertexDesc, &mesh.mVertexData, &mesh.mVertexBuffer);
    const UINT stride = sizeof(Vertex), offset = 0;
    mContext->IASetVertexBuffers(0, 1, &mesh.mVertexBuffer, &stride, &offset);

    if (auto* shader =
            dynamic_cast<DXShader*>(mHub ? mHub->mShaderManager->GetResource(mesh.mShaderName) : nullptr)) {
        mContext->VSSetShader(shader->mVertexShader, nullptr, 0);
        mContext->PSSetShader(shader->mPixelShader, nullptr, 0);
        mContext->IASetInputLayout(shader->mInputLayout);
    }

    WriteObjectBuffer();
    mContext->UpdateSubresource(mObjectBuffer.buffer, 0, nullptr, mObjectBuffer.bytes.data(), 0, 0);
    mContext->VSSetConstantBuffers(0, 1, &mObjectBuffer.buffer);

    if (mesh.mShaderName == "animationshader" && mesh.mOwner) {
        const Model& model = *mesh.mOwner;
        std::uint8_t* bones = mSkinnedBuffer.bytes.data();
        const std::size_t joints = std::min(model.mSkeleton.size(), kMaxBones);
        float m[16];
        for (std::size_t k = 0; k < joints; ++k) {
            const Joint& joint = model.mSkeleton[k];
            if (joint.keys.empty()) {
                PutFloats(bones + 64 * k, kIdentityTransform, 16);
                PutFloats(bones + kBindPosesOffset + 64 * k, kIdentityTransform, 16);
                continue;
            }
            // A joint with fewer keys than the model's current key holds its last one.
            const std::size_t key = std::min<std::size_t>(model.mCurrentKey, joint.keys.size() - 1);
            FbxAMatrixToMatrix(joint.keys[key].transform, m);
            PutFloats(bones + 64 * k, m, 16);
            FbxAMatrixToMatrix(joint.bindPoseInverse, m);
            PutFloats(bones + kBindPosesOffset + 64 * k, m, 16);
        }
        for (std::size_t k = joints; k < kMaxBones; ++k)
            PutFloats(bones + 64 * k, kIdentityTransform, 16);
        mContext->UpdateSubresource(mSkinnedBuffer.buffer, 0, nullptr, bones, 0, 0);
        mContext->VSSetConstantBuffers(3, 1, &mSkinnedBuffer.buffer);
    }

    mContext->UpdateSubresource(mMatrixBuffer.buffer, 0, nullptr, mMatrixBuffer.bytes.data(), 0, 0);
    mContext->PSSetConstantBuffers(1, 1, &mMatrixBuffer.buffer);
    mContext->UpdateSubresource(mLightingBuffer.buffer, 0, nullptr, mLightingBuffer.bytes.data(), 0, 0);
    mContext->PSSetConstantBuffers(2, 1, &mLightingBuffer.buffer);

    ID3D11ShaderResourceView* views[3] = {};
    ID3D11SamplerState* samplers[3] = {};
    if (!mesh.mTextureNames.empty() && mHub) {
        for (std::size_t i = 0; i < 3; ++i) {
            if (i < mesh.mTextureNames.size()) {
                if (auto* texture =
                        dynamic_cast<DXTexture*>(mHub->mTextureManager->GetResource(mesh.mTextureNames[i]))) {
                    views[i] = texture->mView;
                    samplers[i] = texture->mSampler;
                }
            } else {
                views[i] = views[i - 1];
                samplers[i] = samplers[i - 1];
            }
        }
        if (views[0]) {
            mContext->PSSetShaderResources(0, 3, views);
            mContext->PSSetSamplers(0, 3, samplers);
        }
    }
    return 1;
}

int DXDevice::Render() {
    // Retry once: a failed step is run again and its second result ends the frame.
    if (RenderCameras() <= 0) return RenderCameras();
    if (ComposeViewports() <= 0) return ComposeViewports();
    return 1;
}

int DXDevice::RenderCameras() {
    for (std::size_t i = 0; i < mCameras.size();) {
        const std::shared_ptr<Camera> camera = mCameras[i].lock();
        if (!camera) {
            mCameras.erase(mCameras.begin() + std::ptrdiff_t(i));
            continue;
        }
        // A camera without a target (one of no size, or of a size no texture can have) is skipped:
        // ending the frame there would leave every other view and the menus undrawn.
        const auto found = mCameraTargets.find(camera.get());
        if (found == mCameraTargets.end()) {
            ++i;
            continue;
        }
        CameraTarget& target = found->second;
        if (camera->GetDidChange()) {
            const unsigned w = camera->GetCameraWidth(), h = camera->GetCameraHeight();
            target.viewport = {0.0f, 0.0f, float(w), float(h), 0.0f, 1.0f};
            if (RebuildDepthTarget(target, w, h) <= 0) {
                if (RebuildDepthTarget(target, w, h) <= 0) return RebuildCameraTarget(target, w, h);
            } else if (RebuildColorTarget(target, w, h) <= 0 && RebuildColorTarget(target, w, h) <= 0) {
                return RebuildCameraTarget(target, w, h);
            }
            camera->SetDidChange(false);
        }
        if (!target.renderTarget || !target.depthStencil) {
            ++i;
            continue;
        }
        ID3D11ShaderResourceView* none = nullptr;
        mContext->PSSetShaderResources(0, 1, &none);
        mContext->OMSetRenderTargets(1, &target.renderTarget, target.depthStencil);
        mContext->RSSetViewports(1, &target.viewport);
        mContext->RSSetState(mCullState);
        const float clear[4] = {mBackground[0], mBackground[1], mBackground[2], 1.0f};
        mContext->ClearRenderTargetView(target.renderTarget, clear);
        mContext->ClearDepthStencilView(target.depthStencil, D3D11_CLEAR_DEPTH | D3D11_CLEAR_STENCIL, 1.0f,
                                        0);
        if (DrawOpaqueObjects(camera) <= 0) return DrawOpaqueObjects(camera);
        if (DrawTransparentObjects() <= 0) return DrawTransparentObjects();
        mContext->ClearDepthStencilView(target.depthStencil, D3D11_CLEAR_DEPTH | D3D11_CLEAR_STENCIL, 1.0f,
                                        0);
        mContext->OMSetRenderTargets(1, &target.renderTarget, nullptr);
        if (DrawDebugObjects(camera) <= 0) return DrawDebugObjects(camera);
        ++i;
    }
    return 1;
}

int DXDevice::DrawOpaqueObjects(const std::shared_ptr<Camera>& camera) {
    constexpr const char* kFunction = "DXDevice::DrawOpaqueObjects";
    const std::shared_ptr<Object> cameraObject = camera->GetParent().lock();
    if (!cameraObject) return 0;
    const std::shared_ptr<Transform> cameraTransform = GetComponentOfType<Transform>(cameraObject).lock();
    if (!cameraTransform) return 0;
    const Vector3 eye = cameraTransform->GetPosition();
    const Vector3 lookAt = camera->GetLookAt();
    const Matrix4 view = camera->GetCameraTransformation();

    UpdateLightBuffer();
    mConstants.view = transpose(view);
    mConstants.cameraPosition = Vector4(eye, 0.0f);
    mConstants.cameraLookAt = Vector4(lookAt, 0.0f);
    SetProjection(*camera);
    mContext->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    BuildFrustum(camera.get(), mFrustum);
    int drawn = 0, culled = 0;

    for (std::size_t i = 0; i < mRenderables.size();) {
        const std::shared_ptr<Renderable> renderable = mRenderables[i].lock();
        if (!renderable) {
            mRenderables.erase(mRenderables.begin() + std::ptrdiff_t(i));
            continue;
        }
        ++i;
        const std::shared_ptr<Object> object = renderable->GetParent().lock();
        const std::shared_ptr<Transform> transform =
            object ? GetComponentOfType<Transform>(object).lock() : std::shared_ptr<Transform>();
        if (!transform) continue;
        if (const std::shared_ptr<Collider> collider = GetComponentOfType<Collider>(object).lock()) {
            if (AabbOutsideFrustum(mFrustum, collider->GetAabbMin(), collider->GetAabbMax())) {
                ++culled;
                continue;
            }
            ++drawn;
        }
        auto* model =
            dynamic_cast<Model*>(mHub ? mHub->mModelManager->GetResource(renderable->GetModel()) : nullptr);
        if (!model) {
            const std::string text = "No model matches this name: " + renderable->GetModel();
            ReportFrame(text.c_str(), kFunction, __LINE__);
            continue;
        }
        for (MeshEntry& entry : model->mMeshes) {
            if (!entry.mesh) {
                const std::string text =
                    "Couldn't find the mesh data for first index of model: " + model->mName;
                ReportFrame(text.c_str(), kFunction, __LINE__);
                continue;
            }
            Mesh& mesh = *entry.mesh;
            if (renderable->GetShader().empty()) {
                mesh.mShaderName = "defaultshader";
                renderable->SetShader("defaultshader");
            } else {
                mesh.mShaderName = renderable->GetShader();
            }
            if (!renderable->GetTextures().empty()) {
                mesh.mTextureNames = renderable->GetTextures();
            } else {
                mesh.mTextureNames = {"defaulttexture"};
                renderable->AddTexture("defaulttexture");
            }
            mesh.mTransparent = renderable->GetTransparency();
            mesh.mVisible = renderable->GetVisibility();
            if (!mesh.mVisible) continue;

            // The mesh entry's row-major row-vector transform read in engine storage is its column form.
            Matrix4 local;
            std::memcpy(&local, entry.transform, sizeof local);
            Matrix4 world;
            MultiplyMatrix(transform->GetWorldTransform(), world, local);
            mConstants.world = transpose(world);
            MultiplyMatrix(mConstants.world, mConstants.combined, mConstants.view);
            MultiplyMatrix(mConstants.combined, mConstants.combined, mConstants.projection);

            if (mesh.mTransparent) {
                TransparentDrawRecord record{MakeEmptyMesh(),
                                             mConstants.combined,
                                             lengthSqr(transform->GetPosition() - eye),
                                             renderable->GetColor(),
                                             {}};
                record.mesh = mesh;
                const Vector4& blend = renderable->GetBlendFactors();
                for (int k = 0; k < 4; ++k)
                    record.blendFactors[k] = blend[k];
                mTransparentQueue.push_back(std::move(record));
                continue;
            }
            mContext->OMSetBlendState(nullptr, nullptr, 0xffffffff);
            WriteMaterials(mesh, renderable->GetColor());
            const float ambient[3] = {0.01f, 0.01f, 0.01f};
            PutFloats(mLightingBuffer.bytes.data() + kAmbientOffset, ambient, 3);
            if (DrawMesh(mesh) <= 0) return DrawMesh(mesh);
            mContext->DrawIndexed(mesh.mIndexCount, 0, 0);
        }
    }
    std::printf("Drew %i things, culled %i\n", drawn, culled);
    return 1;
}

int DXDevice::DrawTransparentObjects() {
    std::sort(mTransparentQueue.begin(), mTransparentQueue.end(),
              [](const TransparentDrawRecord& a, const TransparentDrawRecord& b) { return a.key < b.key; });
    while (!mTransparentQueue.empty()) {
        TransparentDrawRecord& record = mTransparentQueue.back();
        mConstants.combined = record.combined;
        std::memcpy(mMatrixBuffer.bytes.data() + 192, &record.colour, 16);
        mContext->OMSetBlendState(mBlendState, record.blendFactors, 0xffffffff);
        if (DrawMesh(record.mesh) <= 0) return DrawMesh(record.mesh);
        // Back faces first, then the front ones over them.
        mContext->RSSetState(mNoCullState);
        mContext->DrawIndexed(record.mesh.mIndexCount, 0, 0);
        mContext->RSSetState(mCullState);
        mContext->DrawIndexed(record.mesh.mIndexCount, 0, 0);
        mTransparentQueue.pop_back();
    }
    mContext->OMSetBlendState(nullptr, nullptr, 0xffffffff);
    return 1;
}

int DXDevice::DrawDebugObjects(const std::shared_ptr<Camera>& camera) {
    SetProjection(*camera);
    for (std::size_t i = 0; i < mDebugObjects.size();) {
        const std::shared_ptr<Debug> debug = mDebugObjects[i].lock();
        if (!debug) {
            mDebugObjects.erase(mDebugObjects.begin() + std::ptrdiff_t(i));
            continue;
        }
        ++i;
        const std::shared_ptr<Object> object = debug->GetParent().lock();
        if (!object) continue;
        const std::shared_ptr<RigidBody> body = GetComponentOfType<RigidBody>(object).lock();
        const std::shared_ptr<Transform> transform = GetComponentOfType<Transform>(object).lock();
        const std::shared_ptr<Collider> collider = GetComponentOfType<Collider>(object).lock();
        const bool ghost = collider && collider->IsGhost();
        const Vector4 c = body && body->IsStatic()
                              ? (ghost ? debug->GetStaticGhostColor() : debug->GetStaticColor())
                              : (ghost ? debug->GetGhostColor() : debug->GetNormalColor());
        const float colour[4] = {c[0], c[1], c[2], c[3]};
        auto f3 = [](const Vector3& v) { return Float3{v.getX(), v.getY(), v.getZ()}; };
        switch (debug->GetDrawFlags()) {
        case DEBUG_DRAW_SHAPES:
            if (collider && transform) {
                static constexpr float kAxes[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
                mDebugModels.push_back(std::make_unique<DebugModel>(f3(transform->GetPosition()),
                                                                    f3(collider->GetHalfExtents() * 2.0f),
                                                                    colour, kAxes, this));
                if (collider->GetShapeType() == ShapeType::SPHERE) {
                    mDebugModels.push_back(std::make_unique<DebugModel>(f3(collider->GetCenter()),
                                                                        collider->GetRadius(), colour, this));
                } else if (collider->GetShapeType() == ShapeType::OBB) {
                    // The box's rows are its own axes: the columns of the object's rotation.
                    const Matrix3 r = transform->GetWoldRotation().getUpper3x3();
                    float axes[9];
                    for (int k = 0; k < 3; ++k)
                        for (int j = 0; j < 3; ++j)
                            axes[3 * k + j] = r.getCol(k)[j];
                    // The engine gives the box's size along its axes as half extents.
                    mDebugModels.push_back(std::make_unique<DebugModel>(
                        f3(collider->GetCenter()), f3(collider->GetObbWorldScale() * 2.0f), colour, axes,
                        this));
                }
            }
            break;
        case DEBUG_DRAW_FORCE:
            if (transform && body)
                mDebugModels.push_back(std::make_unique<DebugModel>(
                    f3(transform->GetPosition()), f3(transform->GetPosition() + body->GetNetForce()), colour,
                    this));
            break;
        case DEBUG_DRAW_VELOCITY:
            if (transform && body)
                mDebugModels.push_back(std::make_unique<DebugModel>(
                    f3(transform->GetPosition()), f3(transform->GetPosition() + body->GetVelocity()), colour,
                    this));
            break;
        default:
            break;
        }
    }
    mContext->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_LINELIST);
    for (const std::unique_ptr<DebugModel>& model : mDebugModels) {
        if (model->mMeshes.empty()) continue;
        MeshEntry& entry = model->mMeshes.front();
        if (!entry.mesh || !entry.mesh->mVisible) continue;
        Matrix4 local;
        std::memcpy(&local, entry.transform, sizeof local);
        MultiplyMatrix(transpose(local), mConstants.combined, mConstants.view);
        MultiplyMatrix(mConstants.combined, mConstants.combined, mConstants.projection);
        mContext->OMSetBlendState(nullptr, nullptr, 0xffffffff);
        if (DrawMesh(*entry.mesh) <= 0) return DrawMesh(*entry.mesh);
        mContext->DrawIndexed(entry.mesh->mIndexCount, 0, 0);
    }
    mDebugModels.clear();
    return 1;
}

int DXDevice::ComposeViewports() {
    mContext->OMSetRenderTargets(1, &mBackBufferView, mDepthView);
    const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    mContext->ClearRenderTargetView(mBackBufferView, black);
    mContext->ClearDepthStencilView(mDepthView, D3D11_CLEAR_DEPTH | D3D11_CLEAR_STENCIL, 1.0f, 0);
    mContext->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    SetIdentityMatrix(mConstants.combined);
    mContext->OMSetBlendState(nullptr, nullptr, 0xffffffff);
    auto compose = [this](int record, unsigned slot) {
        mContext->RSSetViewports(1, &mViewports[record]);
        if (DrawPlayerCamera(slot) <= 0) return DrawPlayerCamera(slot);
        return 1;
    };
    // Records: 1 one player, 2-3 two players, 4-6 three, 7-10 four; 0 the full window for slot 0.
    static constexpr int kFirstRecord[5] = {0, 1, 2, 4, 7};
    if (mPlayerCount >= 1 && mPlayerCount <= 4) {
        for (unsigned n = 1; n <= mPlayerCount; ++n)
            if (int result = compose(kFirstRecord[mPlayerCount] + int(n) - 1, n); result <= 0) return result;
    } else if (int result = compose(0, 0); result <= 0) {
        return result;
    }
    return 1;
}

int DXDevice::DrawPlayerCamera(unsigned slot) {
    const CameraTarget* target = nullptr;
    if (const auto found = mCameraTargets.find(mPlayerSlots[slot]); found != mCameraTargets.end())
        target = &found->second;
    else if (!mCameraTargets.empty())
        target = &mCameraTargets.begin()->second;
    if (!target) return 1;
    if (ProcessCameraBuffer(*target) <= 0) return ProcessCameraBuffer(*target);
    return 1;
}

int DXDevice::ProcessCameraBuffer(const CameraTarget& target) {
    static const float kWhite[4] = {1, 1, 1, 1};
    const Vertex quad[4] = {
        MakeColouredVertex({1, -1, 0.5f}, kWhite, 1, 1), MakeColouredVertex({-1, -1, 0.5f}, kWhite, 0, 1),
        MakeColouredVertex({-1, 1, 0.5f}, kWhite, 0, 0), MakeColouredVertex({1, 1, 0.5f}, kWhite, 1, 0)};
    static constexpr std::uint32_t kIndices[6] = {0, 3, 2, 0, 2, 1};
    const D3D11_BUFFER_DESC vertexDesc{
        UINT(sizeof quad), D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
    const D3D11_BUFFER_DESC indexDesc{
        UINT(sizeof kIndices), D3D11_USAGE_DEFAULT, D3D11_BIND_INDEX_BUFFER, 0, 0, 0};
    const D3D11_SUBRESOURCE_DATA vertexData{quad, 0, 0}, indexData{kIndices, 0, 0};
    ID3D11Buffer* vertices = nullptr;
    ID3D11Buffer* indices = nullptr;
    if (HRESULT hr = mDevice->CreateBuffer(&vertexDesc, &vertexData, &vertices); FAILED(hr)) {
        PrintHResult(hr);
        return 0;
    }
    if (HRESULT hr = mDevice->CreateBuffer(&indexDesc, &indexData, &indices); FAILED(hr)) {
        PrintHResult(hr);
        vertices->Release();
        return 0;
    }
    const UINT stride = sizeof(Vertex), offset = 0;
    mContext->IASetVertexBuffers(0, 1, &vertices, &stride, &offset);
    mContext->IASetIndexBuffer(indices, DXGI_FORMAT_R32_UINT, 0);
    auto* shader =
        dynamic_cast<DXShader*>(mHub ? mHub->mShaderManager->GetResource("camerashader") : nullptr);
    if (!shader) {
        std::printf("ERROR: NULL SHADER PASSED TO PROCESS CAMERA BUFFER!");
        vertices->Release();
        indices->Release();
        return 0;
    }
    mContext->VSSetShader(shader->mVertexShader, nullptr, 0);
    mContext->PSSetShader(shader->mPixelShader, nullptr, 0);
    mContext->IASetInputLayout(shader->mInputLayout);
    mConstants.cameraPosition = Vector4(0.0f, 0.0f, 0.0f, 1.0f);
    mConstants.cameraLookAt = Vector4(0.0f, 0.0f, 0.0f, 1.0f);
    WriteObjectBuffer();
    mContext->UpdateSubresource(mObjectBuffer.buffer, 0, nullptr, mObjectBuffer.bytes.data(), 0, 0);
    mContext->VSSetConstantBuffers(0, 1, &mObjectBuffer.buffer);
    mContext->PSSetShaderResources(0, 1, &target.shaderResource);
    mContext->DrawIndexed(6, 0, 0);
    vertices->Release();
    indices->Release();
    return 1;
}

int DXDevice::Present() {
    if (SUCCEEDED(mSwapChain->Present(1, 0))) return 1;
    PrintHResult(mSwapChain->Present(1, 0));
    return 0;
}
