// The "Graphics" system: waits for the window, builds the device on it, runs one frame per engine
// update (scene, passes, GUI layer, present) and releases every device object at shutdown.
#pragma once

#include "resources/ResourceHub.h"

#include <Messages.h>
#include <System.h>

#include <functional>
#include <string>
#include <vector>

class iDevice;
class GFXMessageHandler;
class Menus;
class PlayerStats;

struct PendingResourceLoad {
    ResourceType type;
    std::string name;
};

class GraphicsSystem : public System {
public:
    // Makes the device of InitializeDevice; DXDevice unless a test replaced it.
    using DeviceFactory = std::function<iDevice*(HWND, HINSTANCE, GraphicsSystem*)>;

    explicit GraphicsSystem(const std::wstring& name);
    ~GraphicsSystem() override;

    void Update(float dt) override;
    int Release() override;
    void Initialize() override;

    void InitializeDevice(HWND window, HINSTANCE instance);
    void RegisterExistingComponents();
    void FlushPendingResources();

    // An empty function restores DXDevice.
    static void SetDeviceFactory(DeviceFactory factory);
    // The HUD's flare bar: time since the last recharge over the recharge time, 1 when that time is
    // not a positive finite number.
    static float FlareFraction(const PlayerStats& stats);

    int mState = 0;
    ResourceHub* mHub = nullptr;
    Menus* mMenus = nullptr;
    std::vector<PendingResourceLoad> mPendingLoads;
    HWND mWindow = nullptr;
    HINSTANCE mInstance = nullptr;
    GraphicsAPI mGraphicsAPI = 0;
    iDevice* mDevice = nullptr;
    GFXMessageHandler* mHandler = nullptr;

private:
    void DrawGuiLayer();
    bool GuiAvailable() const;
    // Whether the device ever held a Direct3D device at 11_0 or higher (the GUI was set up on it).
    bool mGuiDevice = false;
};
