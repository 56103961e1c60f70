// The concrete messages. Every constructor takes the sender's wide name first; handlers downcast
// from Message by the MessageType they registered for.
#pragma once

#include "ComponentType.h"
#include "Message.h"
#include "Vectormath.h"

#include <SDL_events.h>

#include <cstdint>
#include <memory>
#include <string>

class Component;
class Camera;
struct ImGuiIO;

// The same aliases as <windows.h>.
using HWND = void*;
using HINSTANCE = void*;

enum ResourceType : int { RESOURCE_MODEL = 0, RESOURCE_TEXTURE = 1, RESOURCE_NONE = 2, RESOURCE_SHADER = 3 };

enum eMENUTYPE : int {
    MENU_MAIN = 0,
    MENU_LOBBY = 1,
    MENU_OPTIONS = 2,
    MENU_HOWTOPLAY = 3,
    MENU_CREDITS = 4,
    MENU_PAUSE = 5,
    MENU_CONFIRM_MAIN = 6,
    MENU_CONFIRM_EXIT = 7,
    MENU_CONFIRM_RESTART = 8,
    MENU_RESULTS = 9,
    MENU_CONFIRM_EXIT_RESULTS = 10,
    MENU_ALL = 12
};

enum PhysicsMessageType : int {
    PHYSICS_FORCE = 0,
    PHYSICS_IMPULSE = 1,
    PHYSICS_SET_POSITION = 2,
    PHYSICS_USE_GRAVITY = 3,
    PHYSICS_REGISTER_GROUP = 4,
    PHYSICS_SET_GROUP_PAIR = 5,
    PHYSICS_SET_OBJECT_GROUP = 6
};

enum CollisionMessageType : int { COLLISION_STARTED = 0, COLLISION_ENDED = 1 };

enum PauseMessageType : int { PAUSE_GAME = 0, UNPAUSE_GAME = 1 };

// 1
class ErrorMessage : public Message {
public:
    ErrorMessage(const std::wstring& sender, const std::string& text, bool fatal, const std::string& function,
                 const std::string& file, int line)
        : Message(sender, MessageType::Error), mText(text), mFatal(fatal), mFunction(function), mFile(file),
          mLine(line) {}
    const std::string& GetText() const { return mText; }
    bool GetIsFatal() const { return mFatal; }
    const std::string& GetFunctionName() const { return mFunction; }
    const std::string& GetFileName() const { return mFile; }
    int GetLineNumber() const { return mLine; }

private:
    std::string mText;
    bool mFatal;
    std::string mFunction;
    std::string mFile;
    int mLine;
};

// 2
class WindowMessage : public Message {
public:
    WindowMessage(const std::wstring& sender, HWND window, HINSTANCE instance)
        : Message(sender, MessageType::Window), mWindow(window), mInstance(instance) {}
    HWND GetHandle() const { return mWindow; }
    HINSTANCE GetInstance() const { return mInstance; }

private:
    HWND mWindow;
    HINSTANCE mInstance;
};

// 3 and 4: the receiver answers by writing the size into the message.
class SizeMessage : public Message {
public:
    int GetWidth() const { return mWidth; }
    int GetHeight() const { return mHeight; }
    void SetWidth(int width) { mWidth = width; }
    void SetHeight(int height) { mHeight = height; }

protected:
    SizeMessage(const std::wstring& sender, MessageType type, int width, int height)
        : Message(sender, type), mWidth(width), mHeight(height) {}

private:
    int mWidth;
    int mHeight;
};

class WindowSizeMessage : public SizeMessage {
public:
    WindowSizeMessage(const std::wstring& sender, int width, int height)
        : SizeMessage(sender, MessageType::WindowSize, width, height) {}
};

class GraphicsDeviceMessage : public SizeMessage {
public:
    GraphicsDeviceMessage(const std::wstring& sender, int width, int height)
        : SizeMessage(sender, MessageType::GraphicsDevice, width, height) {}
};

// 5
class LoadResourceMessage : public Message {
public:
    LoadResourceMessage(const std::wstring& sender, ResourceType type, const std::string& name)
        : Message(sender, MessageType::LoadResource), mType(type), mName(name) {}
    ResourceType GetType() const { return mType; }
    const std::string& GetName() const { return mName; }

private:
    ResourceType mType;
    std::string mName;
};

// 6
class SetBackgroundColorMessage : public Message {
public:
    SetBackgroundColorMessage(const std::wstring& sender, const Vectormath::Aos::Vector3& color)
        : Message(sender, MessageType::SetBackgroundColor), mColor(color) {}
    const Vectormath::Aos::Vector3& GetColor() const { return mColor; }

private:
    Vectormath::Aos::Vector3 mColor;
};

// 7
class ShowMenuMessage : public Message {
public:
    ShowMenuMessage(const std::wstring& sender, eMENUTYPE type, bool visible)
        : Message(sender, MessageType::ShowMenu), mType(type), mVisible(visible) {}
    eMENUTYPE GetType() const { return mType; }
    bool IsVisible() const { return mVisible; }

private:
    eMENUTYPE mType;
    bool mVisible;
};

// 9
class DebugMessage : public Message {
public:
    DebugMessage(const std::wstring& sender, std::uint32_t objectId, std::uint32_t drawFlags,
                 const Vectormath::Aos::Vector4& normal, const Vectormath::Aos::Vector4& ghost,
                 const Vectormath::Aos::Vector4& staticColor, const Vectormath::Aos::Vector4& staticGhost)
        : Message(sender, MessageType::Debug), mObjectId(objectId), mDrawFlags(drawFlags), mNormal(normal),
          mGhost(ghost), mStatic(staticColor), mStaticGhost(staticGhost) {}
    std::uint32_t GetObjID() const { return mObjectId; }
    std::uint32_t GetDrawFlags() const { return mDrawFlags; }
    const Vectormath::Aos::Vector4& GetNormalColor() const { return mNormal; }
    const Vectormath::Aos::Vector4& GetGhostColor() const { return mGhost; }
    const Vectormath::Aos::Vector4& GetStaticColor() const { return mStatic; }
    const Vectormath::Aos::Vector4& GetStaticGhostColor() const { return mStaticGhost; }

private:
    std::uint32_t mObjectId;
    std::uint32_t mDrawFlags;
    Vectormath::Aos::Vector4 mNormal, mGhost, mStatic, mStaticGhost;
};

// 12
class SDLEventMessage : public Message {
public:
    SDLEventMessage(const std::wstring& sender, const SDL_Event& event)
        : Message(sender, MessageType::SDLEvent), mEvent(event) {}
    const SDL_Event& GetEvent() const { return mEvent; }
    // 0 unless a receiver marked the event handled.
    int GetHandled() const { return mHandled; }
    void SetHandled(int handled) { mHandled = handled; }

private:
    SDL_Event mEvent;
    int mHandled = 0;
};

// 15: the constructor sets type, object and vector; the group fields are set afterwards as needed.
class PhysicsMessage : public Message {
public:
    PhysicsMessage(const std::wstring& sender, PhysicsMessageType type, std::uint32_t objectId,
                   const Vectormath::Aos::Vector3& vector)
        : Message(sender, MessageType::Physics), mType(type), mObjectId(objectId), mVector(vector) {}
    PhysicsMessageType GetType() const { return mType; }
    std::uint32_t GetObjectID() const { return mObjectId; }
    const Vectormath::Aos::Vector3& GetVector() const { return mVector; }
    const std::string& GetFirstGroupName() const { return mFirstGroup; }
    void SetFirstGroupName(const std::string& name) { mFirstGroup = name; }
    const std::string& GetSecondGroupName() const { return mSecondGroup; }
    void SetSecondGroupName(const std::string& name) { mSecondGroup = name; }
    bool GetFlag() const { return mFlag; }
    void SetFlag(bool flag) { mFlag = flag; }
    const std::string& GetGroupName() const { return mGroup; }
    void SetGroupName(const std::string& name) { mGroup = name; }

private:
    PhysicsMessageType mType;
    std::uint32_t mObjectId;
    Vectormath::Aos::Vector3 mVector;
    std::string mFirstGroup;
    std::string mSecondGroup;
    bool mFlag = false;
    std::string mGroup;
};

// 16
class CollisionMessage : public Message {
public:
    CollisionMessage(const std::wstring& sender, CollisionMessageType type, std::uint32_t first,
                     std::uint32_t second)
        : Message(sender, MessageType::Collision), mType(type), mFirst(first), mSecond(second) {}
    CollisionMessageType GetType() const { return mType; }
    std::uint32_t GetFirstID() const { return mFirst; }
    std::uint32_t GetSecondID() const { return mSecond; }

private:
    CollisionMessageType mType;
    std::uint32_t mFirst;
    std::uint32_t mSecond;
};

// 17, 18, 19: an action name and the player number (from 0).
class ButtonMessage : public Message {
public:
    const std::string& GetAction() const { return mAction; }
    unsigned GetPlayerNumber() const { return mPlayer; }

protected:
    ButtonMessage(const std::wstring& sender, MessageType type, const std::string& action, unsigned player)
        : Message(sender, type), mAction(action), mPlayer(player) {}

private:
    std::string mAction;
    unsigned mPlayer;
};

// The action went down this frame.
class ButtonTriggerMessage : public ButtonMessage {
public:
    ButtonTriggerMessage(const std::wstring& sender, const std::string& action, unsigned player)
        : ButtonMessage(sender, MessageType::ButtonTrigger, action, player) {}
};

// The action is held.
class ButtonPressMessage : public ButtonMessage {
public:
    ButtonPressMessage(const std::wstring& sender, const std::string& action, unsigned player)
        : ButtonMessage(sender, MessageType::ButtonPress, action, player) {}
};

// The action went up this frame.
class ButtonReleaseMessage : public ButtonMessage {
public:
    ButtonReleaseMessage(const std::wstring& sender, const std::string& action, unsigned player)
        : ButtonMessage(sender, MessageType::ButtonRelease, action, player) {}
};

// 21 and 22
class ComponentMessage : public Message {
public:
    ComponentType GetComponentType() const { return mComponentType; }
    const std::weak_ptr<Component>& GetComponentPTR() const { return mComponent; }

protected:
    ComponentMessage(const std::wstring& sender, MessageType type, ComponentType componentType,
                     std::weak_ptr<Component> component)
        : Message(sender, type), mComponentType(componentType), mComponent(std::move(component)) {}

private:
    ComponentType mComponentType;
    std::weak_ptr<Component> mComponent;
};

class CreatedComponentMessage : public ComponentMessage {
public:
    CreatedComponentMessage(const std::wstring& sender, ComponentType type,
                            std::weak_ptr<Component> component)
        : ComponentMessage(sender, MessageType::CreatedComponent, type, std::move(component)) {}
};

class DestroyedComponentMessage : public ComponentMessage {
public:
    DestroyedComponentMessage(const std::wstring& sender, ComponentType type,
                              std::weak_ptr<Component> component)
        : ComponentMessage(sender, MessageType::DestroyedComponent, type, std::move(component)) {}
};

// 23 to 27: analogue trigger edges and hold, per player.
class TriggerMessage : public Message {
public:
    unsigned GetPlayerNumber() const { return mPlayer; }

protected:
    TriggerMessage(const std::wstring& sender, MessageType type, unsigned player)
        : Message(sender, type), mPlayer(player) {}

private:
    unsigned mPlayer;
};

class LeftTriggerTriggerMessage : public TriggerMessage {
public:
    LeftTriggerTriggerMessage(const std::wstring& sender, unsigned player)
        : TriggerMessage(sender, MessageType::LeftTriggerTrigger, player) {}
};
class RightTriggerTriggerMessage : public TriggerMessage {
public:
    RightTriggerTriggerMessage(const std::wstring& sender, unsigned player)
        : TriggerMessage(sender, MessageType::RightTriggerTrigger, player) {}
};
class RightTriggerPressMessage : public TriggerMessage {
public:
    RightTriggerPressMessage(const std::wstring& sender, unsigned player)
        : TriggerMessage(sender, MessageType::RightTriggerPress, player) {}
};
class LeftTriggerReleaseMessage : public TriggerMessage {
public:
    LeftTriggerReleaseMessage(const std::wstring& sender, unsigned player)
        : TriggerMessage(sender, MessageType::LeftTriggerRelease, player) {}
};
class RightTriggerReleaseMessage : public TriggerMessage {
public:
    RightTriggerReleaseMessage(const std::wstring& sender, unsigned player)
        : TriggerMessage(sender, MessageType::RightTriggerRelease, player) {}
};

// 28, 29
class StickMessage : public Message {
public:
    std::int16_t GetX() const { return mX; }
    std::int16_t GetY() const { return mY; }
    unsigned GetPlayerNumber() const { return mPlayer; }

protected:
    StickMessage(const std::wstring& sender, MessageType type, std::int16_t x, std::int16_t y,
                 unsigned player)
        : Message(sender, type), mX(x), mY(y), mPlayer(player) {}

private:
    std::int16_t mX;
    std::int16_t mY;
    unsigned mPlayer;
};

class LeftStickMessage : public StickMessage {
public:
    LeftStickMessage(const std::wstring& sender, std::int16_t x, std::int16_t y, unsigned player)
        : StickMessage(sender, MessageType::LeftStick, x, y, player) {}
};
class RightStickMessage : public StickMessage {
public:
    RightStickMessage(const std::wstring& sender, std::int16_t x, std::int16_t y, unsigned player)
        : StickMessage(sender, MessageType::RightStick, x, y, player) {}
};

// 30: x positive when the cursor moved right, y positive when it moved up.
class MouseLookMessage : public Message {
public:
    MouseLookMessage(const std::wstring& sender, float x, float y, unsigned player)
        : Message(sender, MessageType::MouseLook), mX(x), mY(y), mPlayer(player) {}
    float GetX() const { return mX; }
    float GetY() const { return mY; }
    unsigned GetPlayerNumber() const { return mPlayer; }

private:
    float mX;
    float mY;
    unsigned mPlayer;
};

// 33: strength 0..1 on both motors.
class ControllerVibrateMessage : public Message {
public:
    ControllerVibrateMessage(const std::wstring& sender, std::weak_ptr<Component> controller, float duration,
                             float strength)
        : Message(sender, MessageType::ControllerVibrate), mController(std::move(controller)),
          mDuration(duration), mStrength(strength) {}
    const std::weak_ptr<Component>& GetControllerComponent() const { return mController; }
    float GetDuration() const { return mDuration; }
    float GetStrength() const { return mStrength; }

private:
    std::weak_ptr<Component> mController;
    float mDuration;
    float mStrength;
};

// 34
class ControllerVibrateMotorsMessage : public Message {
public:
    ControllerVibrateMotorsMessage(const std::wstring& sender, std::weak_ptr<Component> controller,
                                   float duration, float left, float right)
        : Message(sender, MessageType::ControllerVibrateMotors), mController(std::move(controller)),
          mDuration(duration), mLeft(left), mRight(right) {}
    const std::weak_ptr<Component>& GetControllerComponent() const { return mController; }
    float GetDuration() const { return mDuration; }
    float GetLeftStrength() const { return mLeft; }
    float GetRightStrength() const { return mRight; }

private:
    std::weak_ptr<Component> mController;
    float mDuration;
    float mLeft;
    float mRight;
};

// 35: the game object travels as a pointer-sized value; null means the sound system's default.
class PostSoundEventMessage : public Message {
public:
    PostSoundEventMessage(const std::wstring& sender, std::uint32_t eventId, void* gameObject = nullptr)
        : Message(sender, MessageType::PostSoundEvent), mEventId(eventId), mGameObject(gameObject) {}
    std::uint32_t GetEventID() const { return mEventId; }
    void* GetGameObject() const { return mGameObject; }

private:
    std::uint32_t mEventId;
    void* mGameObject;
};

// 36
class RegisterCameraMessage : public Message {
public:
    RegisterCameraMessage(const std::wstring& sender, std::weak_ptr<Camera> camera, unsigned player)
        : Message(sender, MessageType::RegisterCamera), mCamera(std::move(camera)), mPlayer(player) {}
    const std::weak_ptr<Camera>& GetCamerPTR() const { return mCamera; }
    unsigned GetPlayerNumber() const { return mPlayer; }

private:
    std::weak_ptr<Camera> mCamera;
    unsigned mPlayer;
};

// 37
class ChangePlayerMode : public Message {
public:
    ChangePlayerMode(const std::wstring& sender, int mode)
        : Message(sender, MessageType::ChangePlayerMode), mMode(mode) {}
    int GetPlayerMode() const { return mMode; }

private:
    int mMode;
};

// 38
class PauseMessage : public Message {
public:
    PauseMessage(const std::wstring& sender, PauseMessageType type, std::uint32_t objectId)
        : Message(sender, MessageType::Pause), mType(type), mObjectId(objectId) {}
    PauseMessageType GetType() const { return mType; }
    std::uint32_t GetObjectID() const { return mObjectId; }

private:
    PauseMessageType mType;
    std::uint32_t mObjectId;
};

// 39
class LoadLevelMessage : public Message {
public:
    LoadLevelMessage(const std::wstring& sender, std::string fileName, int players)
        : Message(sender, MessageType::LoadLevel), mFileName(std::move(fileName)), mPlayers(players) {}
    const std::string& GetFileName() const { return mFileName; }
    int GetPlayers() const { return mPlayers; }

private:
    std::string mFileName;
    int mPlayers;
};

// 40
class DisplayCursorMessage : public Message {
public:
    DisplayCursorMessage(const std::wstring& sender, bool show)
        : Message(sender, MessageType::DisplayCursor), mShow(show) {}
    bool GetDisplayCursor() const { return mShow; }

private:
    bool mShow;
};

// 42: a null game object means global.
class SoundRTPCMessage : public Message {
public:
    SoundRTPCMessage(const std::wstring& sender, const std::string& name, float value,
                     void* gameObject = nullptr)
        : Message(sender, MessageType::SoundRTPC), mName(name), mValue(value), mGameObject(gameObject) {}
    const std::string& GetName() const { return mName; }
    float GetValue() const { return mValue; }
    void* GetGameObject() const { return mGameObject; }

private:
    std::string mName;
    float mValue;
    void* mGameObject;
};

// 43: seek every playing instance of an event to a fraction (0..1) of its duration.
class SeekSoundEventMessage : public Message {
public:
    SeekSoundEventMessage(const std::wstring& sender, std::uint32_t eventId, float fraction,
                          std::uint32_t gameObject)
        : Message(sender, MessageType::SeekSoundEvent), mEventId(eventId), mFraction(fraction),
          mGameObject(gameObject) {}
    std::uint32_t GetEventID() const { return mEventId; }
    float GetFraction() const { return mFraction; }
    std::uint32_t GetGameObject() const { return mGameObject; }

private:
    std::uint32_t mEventId;
    float mFraction;
    std::uint32_t mGameObject;
};

// 44
class ImGuiReferenceMessage : public Message {
public:
    ImGuiReferenceMessage(const std::wstring& sender, ImGuiIO* io)
        : Message(sender, MessageType::ImGuiReference), mIO(io) {}
    ImGuiIO* Get() const { return mIO; }

private:
    ImGuiIO* mIO;
};

// 46
class FullScreenMessage : public Message {
public:
    FullScreenMessage(const std::wstring& sender, bool fullScreen)
        : Message(sender, MessageType::FullScreen), mFullScreen(fullScreen) {}
    bool GetFullScreen() const { return mFullScreen; }

private:
    bool mFullScreen;
};

// 47
class HasKeyboardFocusMessage : public Message {
public:
    HasKeyboardFocusMessage(const std::wstring& sender, bool hasFocus)
        : Message(sender, MessageType::HasKeyboardFocus), mHasFocus(hasFocus) {}
    bool GetHasFocus() const { return mHasFocus; }

private:
    bool mHasFocus;
};

// 52
class StopAllSoundsMessage : public Message {
public:
    explicit StopAllSoundsMessage(const std::wstring& sender) : Message(sender, MessageType::StopAllSounds) {}
};

// 53: an input message for one player.
class ControllerIDMessage : public Message {
public:
    ControllerIDMessage(const std::wstring& sender, std::shared_ptr<Message> wrapped, unsigned player)
        : Message(sender, MessageType::ControllerID), mWrapped(std::move(wrapped)), mPlayer(player) {}
    const std::shared_ptr<Message>& GetWrappedMessage() const { return mWrapped; }
    unsigned GetPlayerNumber() const { return mPlayer; }

private:
    std::shared_ptr<Message> mWrapped;
    unsigned mPlayer;
};

// 54
class GameEventMessage : public Message {
public:
    GameEventMessage(const std::wstring& sender, const std::string& text, std::uint32_t objectId)
        : Message(sender, MessageType::GameEvent), mText(text), mObjectId(objectId) {}
    const std::string& GetEventText() const { return mText; }
    std::uint32_t GetObjectID() const { return mObjectId; }

private:
    std::string mText;
    std::uint32_t mObjectId;
};

// 57: player numbers from 1.
class ViewportRequestMessage : public Message {
public:
    ViewportRequestMessage(const std::wstring& sender, unsigned player)
        : Message(sender, MessageType::ViewportRequest), mPlayer(player) {}
    unsigned GetPlayerNumber() const { return mPlayer; }

private:
    unsigned mPlayer;
};

// 59: pixels.
class ViewportResponseMessage : public Message {
public:
    ViewportResponseMessage(const std::wstring& sender, unsigned player, float width, float height,
                            float left, float top)
        : Message(sender, MessageType::ViewportResponse), mPlayer(player), mWidth(width), mHeight(height),
          mLeft(left), mTop(top) {}
    unsigned GetPlayerNumber() const { return mPlayer; }
    float GetWidth() const { return mWidth; }
    float GetHeight() const { return mHeight; }
    float GetTopX() const { return mLeft; }
    float GetTopY() const { return mTop; }

private:
    unsigned mPlayer;
    float mWidth;
    float mHeight;
    float mLeft;
    float mTop;
};
