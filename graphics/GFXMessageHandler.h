// The graphics system's listeners: each message type becomes a call on the system, its device, the
// resource hub or the menus.
#pragma once

#include <Message.h>

#include <memory>

class GraphicsSystem;
class iDevice;

class GFXMessageHandler {
public:
    explicit GFXMessageHandler(GraphicsSystem* system);
    ~GFXMessageHandler();
    GFXMessageHandler(const GFXMessageHandler&) = delete;
    GFXMessageHandler& operator=(const GFXMessageHandler&) = delete;

    void HandleWindowMessage(const std::shared_ptr<Message>& message);
    void HandleCreatedComponentMessage(const std::shared_ptr<Message>& message);
    void HandleLoadResourceMessage(const std::shared_ptr<Message>& message);
    void HandleClearResourcesMessage(const std::shared_ptr<Message>& message);
    void HandleDestroyedComponentMessage(const std::shared_ptr<Message>& message);
    void HandleDebugMessage(const std::shared_ptr<Message>& message);
    void HandleNoEffectMessage(const std::shared_ptr<Message>& message);
    void HandleSDLEventMessage(const std::shared_ptr<Message>& message);
    void HandleRegisterCameraMessage(const std::shared_ptr<Message>& message);
    void HandleChangePlayerMode(const std::shared_ptr<Message>& message);
    void HandleSetBackgroundColorMessage(const std::shared_ptr<Message>& message);
    void HandleShowMenuMessage(const std::shared_ptr<Message>& message);
    void HandleFullScreenMessage(const std::shared_ptr<Message>& message);
    void HandleHasKeyboardFocusMessage(const std::shared_ptr<Message>& message);
    void HandleViewportRequestMessage(const std::shared_ptr<Message>& message);

    // Null until InitializeDevice has a working device.
    iDevice* mDevice = nullptr;
    GraphicsSystem* mSystem;

private:
    void Register(bool reg);
    void AnnounceViewports();
};
