#include "GraphicsSystem.h"

#include "DXDevice.h"
#include "GFXMessageHandler.h"
#include "GraphicsErrors.h"
#include "iDevice.h"
#include "ui/GuiBackend.h"
#include "ui/Hud.h"
#include "ui/Menus.h"

#include <ComponentAccessors.h>
#include <Engine.h>
#include <ObjectFactory.h>
#include <windows.h>

#include <cmath>
#include <cstdio>

namespace {

constexpr const char* kSourceFile = "GraphicsSystem.cpp";

GraphicsSystem::DeviceFactory& Factory() {
    static GraphicsSystem::DeviceFactory factory;
    return factory;
}

} // namespace

GraphicsSystem::GraphicsSystem(const std::wstring& name) : System(name) {}

GraphicsSystem::~GraphicsSystem() {
    // Release normally freed all of these; a system torn down without it still lets go of them.
    delete mHandler;
    delete mMenus;
    delete mHub;
    if (mDevice) mDevice->ReleaseDevice();
    delete mDevice;
}

void GraphicsSystem::SetDeviceFactory(DeviceFactory factory) {
    Factory() = std::move(factory);
}

float GraphicsSystem::FlareFraction(const PlayerStats& stats) {
    const float recharge = stats.flareRechargeTime;
    if (!(recharge > 0.0f) || !std::isfinite(recharge)) return 1.0f;
    return stats.GetTimeSinceFlareRecharge() / recharge;
}

void GraphicsSystem::Initialize() {
    mHandler = new GFXMessageHandler(this);
}

void GraphicsSystem::InitializeDevice(HWND window, HINSTANCE instance) {
    constexpr const char* kFunction = "GraphicsSystem::InitializeDevice";
    mGraphicsAPI = 0;
    mDevice = Factory() ? Factory()(window, instance, this) : new DXDevice(window, instance, this);
    if (!mDevice) {
        SendGraphicsError("DXDevice Failed to be instantiated!", true, kFunction, kSourceFile, __LINE__);
        return;
    }
    if (!mDevice->InitDevice()) {
        SendGraphicsError("ERROR: DEVICE NOT INITIALIZED!", true, kFunction, kSourceFile, __LINE__);
        return;
    }
    if (mHandler) mHandler->mDevice = mDevice;
    mHub = new ResourceHub(mDevice, mGraphicsAPI);
    mMenus = new Menus(mHub);
    if (!mDevice->InitPipeline(mHub)) {
        SendGraphicsError("ERROR: SCENE NOT INITIALIZED!", true, kFunction, kSourceFile, __LINE__);
        return;
    }
    if (auto* dx = dynamic_cast<DXDevice*>(mDevice);
        dx && dx->GetD3DDevice() && dx->GetFeatureLevel() >= D3D_FEATURE_LEVEL_11_0) {
        mGuiDevice = true;
        GuiBackendState& gui = GuiBackend();
        gui.window = window;
        gui.device = dx->GetD3DDevice();
        gui.context = dx->GetContext();
        gui.swapChain = dx->GetSwapChain();
        LARGE_INTEGER frequency{};
        if (QueryPerformanceFrequency(&frequency)) {
            gui.ticksPerSecond = frequency.QuadPart;
            ImGuiInit();
        }
    }
    RegisterExistingComponents();
    FlushPendingResources();
    mState = 1;
}

void GraphicsSystem::RegisterExistingComponents() {
    for (const auto& [id, object] : Engine::mFactory->GetObjects()) {
        if (const std::shared_ptr<Renderable> r = GetComponentOfType<Renderable>(object).lock())
            mDevice->AddRenderable(r);
        if (const std::shared_ptr<Debug> d = GetComponentOfType<Debug>(object).lock())
            mDevice->AddDebugObject(d);
        if (const std::shared_ptr<Camera> c =
                GetComponentOfType<Camera>(object, ComponentType::Camera).lock())
            mDevice->AddCamera(c);
    }
}

void GraphicsSystem::FlushPendingResources() {
    // By index: a load may queue nothing further (the hub exists now), but the length is read each time.
    for (std::size_t i = 0; i < mPendingLoads.size(); ++i) {
        const std::string name = mPendingLoads[i].name;
        mHub->LoadResource(name, mPendingLoads[i].type);
    }
    mPendingLoads.clear();
}

bool GraphicsSystem::GuiAvailable() const {
    const auto* dx = dynamic_cast<const DXDevice*>(mDevice);
    return dx && dx->GetD3DDevice() && dx->GetFeatureLevel() >= D3D_FEATURE_LEVEL_11_0;
}

void GraphicsSystem::DrawGuiLayer() {
    ImGuiNewFrame();
    // The game rules asked for these from their own update, before this frame opened.
    DrawQueuedFloodWarnings();
    for (unsigned n = 1; n <= mDevice->mPlayerCount; ++n) {
        const std::string name = "Player" + std::to_string(n);
        const std::shared_ptr<Object> player = Engine::mFactory->GetObjectByName(name).lock();
        if (!player) continue;
        const std::shared_ptr<PlayerStats> stats = GetComponentOfType<PlayerStats>(player).lock();
        const D3D11_VIEWPORT* viewport = mDevice->GetPlayerViewport(n);
        if (!stats || !viewport) continue;
        HudFields hud;
        hud.left = viewport->TopLeftX;
        hud.top = viewport->TopLeftY;
        hud.width = viewport->Width;
        hud.height = viewport->Height;
        hud.keyCards = stats->GetKeyCards();
        hud.powerCells = stats->GetPowerCells();
        hud.flareFraction = FlareFraction(*stats);
        hud.sprintFraction = stats->GetSprintLevel();
        hud.playerIndex = int(n - 1);
        hud.hub = mHub;
        hud.prefix = name;
        DrawHud(hud);
    }
    if (mMenus) mMenus->Draw();
    static_cast<DXDevice*>(mDevice)->SetFullWindowViewport();
    ImGuiBindBackBuffer();
    ImGuiRenderFrame();
    ImGuiReleaseBackBuffer();
}

void GraphicsSystem::Update(float) {
    if (mState != 1) {
        DropQueuedFloodWarnings();
        return;
    }
    if (!mDevice->UpdateScene()) std::printf("UNKNOWN GRAPHICS FAILURE OCCURED!");
    if (mDevice->Render() <= 0) std::printf("UNKNOWN GRAPHICS FAILURE OCCURED!");
    if (GuiAvailable())
        DrawGuiLayer();
    else
        DropQueuedFloodWarnings();
    if (mDevice->Present() <= 0) std::printf("ERROR: SWAPCHAIN COULD NOT PRESENT BACKBUFFER!\n");
}

int GraphicsSystem::Release() {
    if (mHub) {
        mHub->Release();
        delete mHub;
        mHub = nullptr;
    }
    if (mDevice) {
        mDevice->ReleaseDevice();
        // Deleting it takes its two light listeners off the engine.
        delete mDevice;
        mDevice = nullptr;
    }
    delete mHandler;
    mHandler = nullptr;
    delete mMenus;
    mMenus = nullptr;
    if (mGuiDevice) {
        ImGuiInvalidateDeviceObjects();
        ImGuiShutdown();
        ImGuiResetGlobals();
        mGuiDevice = false;
    }
    return 0;
}
