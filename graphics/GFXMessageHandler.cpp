#include "GFXMessageHandler.h"

#include "GraphicsErrors.h"
#include "GraphicsSystem.h"
#include "iDevice.h"
#include "ui/Menus.h"

#include <Callable.h>
#include <ComponentAccessors.h>
#include <Engine.h>
#include <Messages.h>
#include <ObjectFactory.h>

#include <algorithm>
#include <cstdio>

namespace {

using Handler = void (GFXMessageHandler::*)(const std::shared_ptr<Message>&);

struct Listener {
    MessageType type;
    Handler handler;
};

// In registration order.
constexpr Listener kListeners[] = {
    {MessageType::Window, &GFXMessageHandler::HandleWindowMessage},
    {MessageType::CreatedComponent, &GFXMessageHandler::HandleCreatedComponentMessage},
    {MessageType::LoadResource, &GFXMessageHandler::HandleLoadResourceMessage},
    {MessageType::ClearResources, &GFXMessageHandler::HandleClearResourcesMessage},
    {MessageType::DestroyedComponent, &GFXMessageHandler::HandleDestroyedComponentMessage},
    {MessageType::Debug, &GFXMessageHandler::HandleDebugMessage},
    {MessageType::NoEffect, &GFXMessageHandler::HandleNoEffectMessage},
    {MessageType::SDLEvent, &GFXMessageHandler::HandleSDLEventMessage},
    {MessageType::RegisterCamera, &GFXMessageHandler::HandleRegisterCameraMessage},
    {MessageType::ChangePlayerMode, &GFXMessageHandler::HandleChangePlayerMode},
    {MessageType::SetBackgroundColor, &GFXMessageHandler::HandleSetBackgroundColorMessage},
    {MessageType::ShowMenu, &GFXMessageHandler::HandleShowMenuMessage},
    {MessageType::FullScreen, &GFXMessageHandler::HandleFullScreenMessage},
    {MessageType::HasKeyboardFocus, &GFXMessageHandler::HandleHasKeyboardFocusMessage},
    {MessageType::ViewportRequest, &GFXMessageHandler::HandleViewportRequestMessage},
};
static_assert(std::size(kListeners) == 15);

template <class M> const M* As(const std::shared_ptr<Message>& message) {
    return dynamic_cast<const M*>(message.get());
}

} // namespace

GFXMessageHandler::GFXMessageHandler(GraphicsSystem* system) : mSystem(system) {
    Register(true);
}

GFXMessageHandler::~GFXMessageHandler() {
    Register(false);
}

void GFXMessageHandler::Register(bool reg) {
    for (const Listener& l : kListeners) {
        const Callable callable(this, l.handler);
        if (reg)
            Engine::RegisterListener(l.type, callable);
        else
            Engine::UnregisterListener(l.type, callable);
    }
}

void GFXMessageHandler::HandleWindowMessage(const std::shared_ptr<Message>& message) {
    const auto* window = As<WindowMessage>(message);
    if (!window) return;
    mSystem->mWindow = window->GetHandle();
    mSystem->mInstance = window->GetInstance();
    if (mSystem->mState != 0) return;
    mSystem->InitializeDevice(window->GetHandle(), window->GetInstance());
    if (mSystem->mState != 1)
        SendGraphicsError("Error: Graphics failed to initialize the device!", true,
                          "GFXMessageHandler::HandleWindowMessage", "GFXMessageHandler.cpp", __LINE__);
}

void GFXMessageHandler::HandleCreatedComponentMessage(const std::shared_ptr<Message>& message) {
    const auto* created = As<CreatedComponentMessage>(message);
    if (!created || !mDevice) return;
    const std::shared_ptr<Component> component = created->GetComponentPTR().lock();
    if (!component) return;
    switch (created->GetComponentType()) {
    case ComponentType::Renderable:
        mDevice->AddRenderable(std::static_pointer_cast<Renderable>(component));
        break;
    case ComponentType::Debug:
        mDevice->AddDebugObject(std::static_pointer_cast<Debug>(component));
        break;
    case ComponentType::Camera:
        mDevice->AddCamera(std::static_pointer_cast<Camera>(component));
        break;
    default:
        break;
    }
}

void GFXMessageHandler::HandleDestroyedComponentMessage(const std::shared_ptr<Message>& message) {
    const auto* destroyed = As<DestroyedComponentMessage>(message);
    if (!destroyed || !mDevice) return;
    const std::shared_ptr<Component> component = destroyed->GetComponentPTR().lock();
    if (!component) return;
    switch (destroyed->GetComponentType()) {
    case ComponentType::Renderable:
        mDevice->RemoveRenderable(std::static_pointer_cast<Renderable>(component));
        break;
    case ComponentType::Debug:
        mDevice->RemoveDebugObject(std::static_pointer_cast<Debug>(component));
        break;
    case ComponentType::Camera:
        mDevice->RemoveCamera(std::static_pointer_cast<Camera>(component));
        break;
    default:
        break;
    }
}

void GFXMessageHandler::HandleLoadResourceMessage(const std::shared_ptr<Message>& message) {
    const auto* load = As<LoadResourceMessage>(message);
    if (!load) return;
    if (mSystem->mHub) {
        mSystem->mHub->LoadResource(load->GetName(), load->GetType());
        return;
    }
    std::vector<PendingResourceLoad>& pending = mSystem->mPendingLoads;
    const bool queued = std::any_of(pending.begin(), pending.end(), [load](const PendingResourceLoad& p) {
        return p.type == load->GetType() && p.name == load->GetName();
    });
    if (!queued) pending.push_back({load->GetType(), load->GetName()});
}

void GFXMessageHandler::HandleClearResourcesMessage(const std::shared_ptr<Message>&) {
    std::printf("--- CLEARING ALL RESOURCES! ---\n");
    if (ResourceHub* hub = mSystem->mHub) {
        hub->mModelManager->ReloadResources();
        hub->mTextureManager->ReloadResources();
        hub->mShaderManager->ReloadResources();
    }
}

void GFXMessageHandler::HandleDebugMessage(const std::shared_ptr<Message>& message) {
    const auto* debug = As<DebugMessage>(message);
    if (!debug) return;
    const std::shared_ptr<Object> object = Engine::mFactory->GetObjectWithID(debug->GetObjID()).lock();
    if (!object) return;
    std::shared_ptr<Debug> component = GetComponentOfType<Debug>(object).lock();
    if (!component)
        component = std::static_pointer_cast<Debug>(Engine::mFactory->GiveObjectComponent(object, "Debug"));
    if (!component) return;
    component->SetDrawFlags(debug->GetDrawFlags());
    component->SetNormalColor(debug->GetNormalColor());
    component->SetGhostColor(debug->GetGhostColor());
    component->SetStaticColor(debug->GetStaticColor());
    component->SetStaticGhostColor(debug->GetStaticGhostColor());
}

void GFXMessageHandler::HandleNoEffectMessage(const std::shared_ptr<Message>&) {}

void GFXMessageHandler::HandleSDLEventMessage(const std::shared_ptr<Message>& message) {
    const auto* sdl = As<SDLEventMessage>(message);
    if (!sdl || !mDevice) return;
    const SDL_Event& event = sdl->GetEvent();
    if (event.type != SDL_WINDOWEVENT) return;
    switch (event.window.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        mDevice->Resize(unsigned(event.window.data1), unsigned(event.window.data2));
        AnnounceViewports();
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        if (mDevice->IsFullscreen()) {
            mDevice->SetFullscreen(false);
            mDevice->ToggleFullscreen();
        }
        break;
    default:
        break;
    }
}

void GFXMessageHandler::HandleRegisterCameraMessage(const std::shared_ptr<Message>& message) {
    const auto* reg = As<RegisterCameraMessage>(message);
    if (!reg || !mDevice) return;
    mDevice->SetPlayerCamera(reg->GetCamerPTR().lock(), reg->GetPlayerNumber());
}

void GFXMessageHandler::HandleChangePlayerMode(const std::shared_ptr<Message>& message) {
    const auto* mode = As<ChangePlayerMode>(message);
    if (!mode || !mDevice) return;
    mDevice->SetPlayerCount(unsigned(mode->GetPlayerMode()));
    AnnounceViewports();
}

void GFXMessageHandler::HandleSetBackgroundColorMessage(const std::shared_ptr<Message>& message) {
    const auto* colour = As<SetBackgroundColorMessage>(message);
    if (!colour || !mDevice) return;
    mDevice->SetBackgroundColor(colour->GetColor());
}

void GFXMessageHandler::HandleShowMenuMessage(const std::shared_ptr<Message>& message) {
    const auto* show = As<ShowMenuMessage>(message);
    if (!show || !mSystem->mMenus) return;
    if (show->IsVisible())
        mSystem->mMenus->Show(show->GetType());
    else
        mSystem->mMenus->Hide(show->GetType());
}

void GFXMessageHandler::HandleFullScreenMessage(const std::shared_ptr<Message>& message) {
    const auto* full = As<FullScreenMessage>(message);
    if (!full || !mDevice) return;
    if (full->GetFullScreen() != mDevice->IsFullscreen()) mDevice->ToggleFullscreen();
}

void GFXMessageHandler::HandleHasKeyboardFocusMessage(const std::shared_ptr<Message>& message) {
    const auto* focus = As<HasKeyboardFocusMessage>(message);
    if (!focus || !mDevice) return;
    if (focus->GetHasFocus() || !mDevice->IsFullscreen()) return;
    Engine::ImmediateMessage(std::make_shared<Message>(L"Graphics", MessageType::MinimizeWindow));
    mDevice->ToggleFullscreen();
    // The flag keeps saying full screen, so that regaining focus enters it again.
    mDevice->SetFullscreen(true);
}

// The game rules ask for a player's viewport only until they have it, and draw the flood warnings
// where it was: each new layout is therefore told to them unasked.
void GFXMessageHandler::AnnounceViewports() {
    for (unsigned player = 1; player <= std::min(mDevice->mPlayerCount, 4u); ++player)
        if (const D3D11_VIEWPORT* viewport = mDevice->GetPlayerViewport(player))
            Engine::RelayMessage(std::make_shared<ViewportResponseMessage>(
                L"Graphics", player, viewport->Width, viewport->Height, viewport->TopLeftX,
                viewport->TopLeftY));
}

void GFXMessageHandler::HandleViewportRequestMessage(const std::shared_ptr<Message>& message) {
    const auto* request = As<ViewportRequestMessage>(message);
    if (!request || !mDevice) return;
    const unsigned player = request->GetPlayerNumber();
    const D3D11_VIEWPORT* viewport = mDevice->GetPlayerViewport(player);
    if (!viewport) return;
    Engine::RelayMessage(std::make_shared<ViewportResponseMessage>(
        L"Graphics", player, viewport->Width, viewport->Height, viewport->TopLeftX, viewport->TopLeftY));
}
