// The engine's numbering of messages. One list gives both the enumeration and the printable names.
// 17/18/19 carry trigger (went down), press (held) and release (went up); the trigger, stick and
// mouse-look messages take numbers that nothing else uses.
#pragma once

#define ZURARI_MESSAGE_TYPES(X)                                                                              \
    X(Error, 1)                                                                                              \
    X(Window, 2)                                                                                             \
    X(WindowSize, 3)                                                                                         \
    X(GraphicsDevice, 4)                                                                                     \
    X(LoadResource, 5)                                                                                       \
    X(SetBackgroundColor, 6)                                                                                 \
    X(ShowMenu, 7)                                                                                           \
    X(ClearResources, 8)                                                                                     \
    X(Debug, 9)                                                                                              \
    X(NoEffect, 10)                                                                                          \
    X(SDLEvent, 12)                                                                                          \
    X(Quit, 13)                                                                                              \
    X(Physics, 15)                                                                                           \
    X(Collision, 16)                                                                                         \
    X(ButtonTrigger, 17)                                                                                     \
    X(ButtonPress, 18)                                                                                       \
    X(ButtonRelease, 19)                                                                                     \
    X(CreatedComponent, 21)                                                                                  \
    X(DestroyedComponent, 22)                                                                                \
    X(LeftTriggerTrigger, 23)                                                                                \
    X(RightTriggerTrigger, 24)                                                                               \
    X(RightTriggerPress, 25)                                                                                 \
    X(LeftTriggerRelease, 26)                                                                                \
    X(RightTriggerRelease, 27)                                                                               \
    X(LeftStick, 28)                                                                                         \
    X(RightStick, 29)                                                                                        \
    X(MouseLook, 30)                                                                                         \
    X(ControllerVibrate, 33)                                                                                 \
    X(ControllerVibrateMotors, 34)                                                                           \
    X(PostSoundEvent, 35)                                                                                    \
    X(RegisterCamera, 36)                                                                                    \
    X(ChangePlayerMode, 37)                                                                                  \
    X(Pause, 38)                                                                                             \
    X(LoadLevel, 39)                                                                                         \
    X(DisplayCursor, 40)                                                                                     \
    X(SoundRTPC, 42)                                                                                         \
    X(SeekSoundEvent, 43)                                                                                    \
    X(ImGuiReference, 44)                                                                                    \
    X(MinimizeWindow, 45)                                                                                    \
    X(FullScreen, 46)                                                                                        \
    X(HasKeyboardFocus, 47)                                                                                  \
    X(StopAllSounds, 52)                                                                                     \
    X(ControllerID, 53)                                                                                      \
    X(GameEvent, 54)                                                                                         \
    X(ViewportRequest, 57)                                                                                   \
    X(GiveItems, 58)                                                                                         \
    X(ViewportResponse, 59)

enum class MessageType : int {
#define ZURARI_MESSAGE_TYPE_ENUM(name, value) name = value,
    ZURARI_MESSAGE_TYPES(ZURARI_MESSAGE_TYPE_ENUM)
#undef ZURARI_MESSAGE_TYPE_ENUM
};

// "Error", "Quit", ...; "Unknown" for a number outside the list.
const char* MessageTypeName(MessageType type);
