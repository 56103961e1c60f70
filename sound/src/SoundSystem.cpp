#include "SoundSystem.h"

#include <AU/AuEffectPlugins.h>
#include <AU/VorbisCodec.h>
#include <Callable.h>
#include <Engine.h>
#include <SDL_events.h>

#include <cstdint>
#include <cstdio>

namespace {

constexpr const char* kBankSuffix = ".bnk";
constexpr const char* kBasePath = "..\\..\\Resources/SoundBanks/";
constexpr const wchar_t* kLanguage = L"English(US)";
constexpr const char* kDefaultObjectName = "BGM";
constexpr u32 kDefaultListenerMask = 1;
constexpr std::size_t kBankTableBuckets = 8;
// The game's compressed media are Vorbis: codec 4 of company 0.
constexpr u32 kVorbisCompany = 0;
constexpr u32 kVorbisCodec = 4;

AuGameObjectID GameObjectID(void* gameObject) {
    // The game object travels as a pointer-sized value; the engine keys objects by 32 bits.
    return static_cast<AuGameObjectID>(reinterpret_cast<std::uintptr_t>(gameObject));
}

void PrintLine(const char* format, auto... arguments) {
    std::printf(format, arguments...);
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

SoundSystem::SoundSystem(const std::wstring& name, SoundEngineCalls& calls) : System(name), mCalls(calls) {
    ResetBankTable();
}

void SoundSystem::ResetBankTable() {
    mBanks = std::unordered_map<std::string, std::string>(kBankTableBuckets);
    mBanks.max_load_factor(1.0f);
    mBankLoadOrder.clear();
}

void SoundSystem::ReportStartupFailure(const char* text, int line) {
    Engine::ImmediateMessage(std::make_shared<ErrorMessage>(L"Error Message", text, true,
                                                            "SoundSystem::Initialize", "SoundSystem", line));
}

void SoundSystem::Initialize() {
    Engine::RegisterListener(MessageType::PostSoundEvent, Callable(this, &SoundSystem::OnPostSoundEvent));
    Engine::RegisterListener(MessageType::SDLEvent, Callable(this, &SoundSystem::OnSDLEvent));
    Engine::RegisterListener(MessageType::SoundRTPC, Callable(this, &SoundSystem::OnSoundRTPC));
    Engine::RegisterListener(MessageType::SeekSoundEvent, Callable(this, &SoundSystem::OnSeekEvent));
    Engine::RegisterListener(MessageType::StopAllSounds, Callable(this, &SoundSystem::OnStopAllSounds));

    const AuMemoryMgrSettings memorySettings{20};
    if (mCalls.MemoryMgrInit(&memorySettings) != AuResultSuccess)
        ReportStartupFailure("Could not create the memory manager for the sound engine!", 103);

    AuStreamMgrSettings streamSettings;
    mCalls.StreamMgrGetDefaultSettings(streamSettings);
    if (!mCalls.StreamMgrCreate(streamSettings))
        ReportStartupFailure("Could not create the Streaming Manager for the sound engine!", 113);

    AuDeviceSettings deviceSettings;
    mCalls.GetDefaultDeviceSettings(deviceSettings);
    bool deviceCreated = false;
    // The I/O object only serves a blocking device.
    if (deviceSettings.uSchedulerTypeFlags == AU_SCHEDULER_BLOCKING) {
        mLowLevelIO.SetDeferredOpen(false);
        if (!mCalls.GetFileLocationResolver()) mCalls.SetFileLocationResolver(&mLowLevelIO);
        const u32 deviceID = mCalls.CreateDevice(deviceSettings, &mLowLevelIO);
        mLowLevelIO.SetDeviceID(deviceID);
        deviceCreated = deviceID != AU_INVALID_DEVICE_ID;
    }
    if (!deviceCreated)
        ReportStartupFailure(
            "Could not create the streaming device and Low-Level I/O system for the sound engine!", 126);

    AuInitSettings initSettings;
    AuPlatformInitSettings platformSettings;
    mCalls.GetDefaultInitSettings(initSettings);
    mCalls.GetDefaultPlatformInitSettings(platformSettings);
    if (mCalls.SoundEngineInit(&initSettings, &platformSettings) != AuResultSuccess)
        ReportStartupFailure("Could not initialize the Sound Engine!", 137);

    AuMusicSettings musicSettings;
    mCalls.MusicGetDefaultInitSettings(musicSettings);
    if (mCalls.MusicInit(&musicSettings) != AuResultSuccess)
        ReportStartupFailure("Could not initialize the Music Engine!", 146);

    // The path is 8-bit text widened character by character.
    const std::string basePath = kBasePath;
    const std::wstring widePath(basePath.begin(), basePath.end());
    mCalls.SetBasePath(mLowLevelIO, widePath.c_str());
    mCalls.SetCurrentLanguage(kLanguage);

    mCalls.RegisterCodec(kVorbisCompany, kVorbisCodec, CreateVorbisFileSource, CreateVorbisBankSource);
    mCalls.RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_DELAY_ID, CreateFx106, CreateFx106Params);
    mCalls.RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_ROOM_REVERB_ID, CreateFx118, CreateFx118Params);
    mCalls.RegisterPlugin(AuPluginTypeEffect, 0, AU_FX_STEREO_DELAY_ID, CreateFx135, CreateFx135Params);

    LoadBank("Init");
    LoadBank("Torvik");
    RegisterGameObject(kDefaultObjectName);
}

void SoundSystem::Update(float) {
    ProcessMessages();
    mCalls.RenderAudio();
}

int SoundSystem::Release() {
    Engine::UnregisterListener(MessageType::PostSoundEvent, Callable(this, &SoundSystem::OnPostSoundEvent));
    Engine::UnregisterListener(MessageType::SDLEvent, Callable(this, &SoundSystem::OnSDLEvent));
    Engine::UnregisterListener(MessageType::SoundRTPC, Callable(this, &SoundSystem::OnSoundRTPC));
    Engine::UnregisterListener(MessageType::SeekSoundEvent, Callable(this, &SoundSystem::OnSeekEvent));
    Engine::UnregisterListener(MessageType::StopAllSounds, Callable(this, &SoundSystem::OnStopAllSounds));

    mCalls.UnregisterAllGameObj();
    mGameObjects.clear();
    UnloadAllBanks();
    mCalls.MusicTerm();
    mCalls.SoundEngineTerm();

    // The game loads no file package, so the I/O object never observes language changes.
    if (mCalls.GetFileLocationResolver() == &mLowLevelIO) mCalls.SetFileLocationResolver(nullptr);
    mCalls.DestroyDevice(mLowLevelIO.DeviceID());
    mLowLevelIO.SetDeviceID(AU_INVALID_DEVICE_ID);

    mCalls.StreamMgrDestroy();
    mCalls.MemoryMgrTerm();
    return 0;
}

void SoundSystem::LoadBank(const std::string& bankName) {
    const std::string fileName = bankName + kBankSuffix;
    AuBankID bankID = 0;
    if (mCalls.LoadBank(fileName.c_str(), AU_INVALID_POOL_ID, bankID) != AuResultSuccess) {
        PrintLine("Could not load SoundBank \"%s\"!", fileName.c_str());
        return;
    }
    if (mBanks.emplace(fileName, fileName).second) mBankLoadOrder.push_back(fileName);
}

void SoundSystem::UnloadAllBanks() {
    for (auto name = mBankLoadOrder.rbegin(); name != mBankLoadOrder.rend(); ++name) {
        if (mCalls.UnloadBank(name->c_str(), nullptr, nullptr) != AuResultSuccess)
            PrintLine("Could not unload SoundBank \"%s\"!", name->c_str());
    }
    ResetBankTable();
}

void SoundSystem::RegisterGameObject(const std::string& name) {
    if (mCalls.RegisterGameObj(kDefaultGameObject, name.c_str(), kDefaultListenerMask) != AuResultSuccess) {
        PrintLine("Could not register game object \"%s\" with ID 0x%08X in the sound engine!", name.c_str(),
                  kDefaultGameObject);
        return;
    }
    mGameObjects[name] = kDefaultGameObject;
}

void SoundSystem::SetRtpc(AuGameObjectID gameObject, const std::string& name, float value) {
    const AuGameObjectID target = gameObject == 0 ? AU_INVALID_GAME_OBJECT : gameObject;
    if (mCalls.SetRTPCValue(name.c_str(), value, target, 0, AuCurveInterpolation_Linear, false) ==
        AuResultSuccess)
        return;
    if (gameObject == 0)
        PrintLine("Could not set RTPC \"%s\" to value %.10g in the sound engine!", name.c_str(),
                  static_cast<double>(value));
    else
        PrintLine("Could not set RTPC \"%s\" to value %.10g for game object ID 0x%08X in the sound engine!",
                  name.c_str(), static_cast<double>(value), gameObject);
}

void SoundSystem::PostEvent(std::uint32_t eventID, AuGameObjectID gameObject) {
    const AuGameObjectID target = gameObject == 0 ? kDefaultGameObject : gameObject;
    // What the player muted decides what focus changes may unmute, whether or not the post works.
    switch (eventID) {
    case kMusicMuteEvent:
        mMusicMuted = true;
        break;
    case kMusicUnmuteEvent:
        mMusicMuted = false;
        break;
    case kSfxMuteEvent:
        mSfxMuted = true;
        break;
    case kSfxUnmuteEvent:
        mSfxMuted = false;
        break;
    default:
        break;
    }
    if (mCalls.PostEvent(eventID, target, kPostEventFlags, nullptr, nullptr, 0, nullptr, 0) == 0)
        PrintLine("Could not post event %lu to Game Object ID 0x%08X in the sound engine!",
                  static_cast<unsigned long>(eventID), target);
}

void SoundSystem::ProcessMessages() {
    // Held across the engine calls: the engine adds to the queue under the same mutex.
    std::lock_guard<std::mutex> lock(mQueueMutex);
    while (!mMessageQueue.empty()) {
        const std::shared_ptr<Message> message = mMessageQueue.front();
        Dispatch(message);
        mMessageQueue.pop();
    }
}

void SoundSystem::Dispatch(const std::shared_ptr<Message>& message) {
    switch (message->GetMessageType()) {
    case MessageType::PostSoundEvent:
        OnPostSoundEvent(message);
        break;
    case MessageType::SDLEvent:
        OnSDLEvent(message);
        break;
    case MessageType::SoundRTPC:
        OnSoundRTPC(message);
        break;
    case MessageType::SeekSoundEvent:
        OnSeekEvent(message);
        break;
    case MessageType::StopAllSounds:
        OnStopAllSounds(message);
        break;
    default:
        break;
    }
}

void SoundSystem::OnPostSoundEvent(const std::shared_ptr<Message>& message) {
    const auto* post = dynamic_cast<const PostSoundEventMessage*>(message.get());
    if (!post) return;
    PostEvent(post->GetEventID(), GameObjectID(post->GetGameObject()));
}

void SoundSystem::OnSDLEvent(const std::shared_ptr<Message>& message) {
    const auto* sdl = dynamic_cast<const SDLEventMessage*>(message.get());
    if (!sdl) return;
    const SDL_Event& event = sdl->GetEvent();
    if (event.type != SDL_WINDOWEVENT) return;
    switch (event.window.event) {
    case SDL_WINDOWEVENT_FOCUS_LOST:
    case SDL_WINDOWEVENT_MINIMIZED: {
        // The player's own choices survive the mutes that focus loss posts.
        const bool musicMuted = mMusicMuted;
        const bool sfxMuted = mSfxMuted;
        PostEvent(kMusicMuteEvent, 0);
        PostEvent(kSfxMuteEvent, 0);
        mMusicMuted = musicMuted;
        mSfxMuted = sfxMuted;
        break;
    }
    case SDL_WINDOWEVENT_FOCUS_GAINED:
    case SDL_WINDOWEVENT_RESTORED:
        if (!mMusicMuted) PostEvent(kMusicUnmuteEvent, 0);
        if (!mSfxMuted) PostEvent(kSfxUnmuteEvent, 0);
        break;
    default:
        break;
    }
}

void SoundSystem::OnSoundRTPC(const std::shared_ptr<Message>& message) {
    const auto* rtpc = dynamic_cast<const SoundRTPCMessage*>(message.get());
    if (!rtpc) return;
    SetRtpc(GameObjectID(rtpc->GetGameObject()), rtpc->GetName(), rtpc->GetValue());
}

void SoundSystem::OnSeekEvent(const std::shared_ptr<Message>& message) {
    const auto* seek = dynamic_cast<const SeekSoundEventMessage*>(message.get());
    if (!seek) return;
    const AuGameObjectID gameObject = seek->GetGameObject() == 0 ? kDefaultGameObject : seek->GetGameObject();
    mCalls.SeekOnEvent(seek->GetEventID(), gameObject, seek->GetFraction(), false, 0);
}

void SoundSystem::OnStopAllSounds(const std::shared_ptr<Message>&) {
    mCalls.StopAll(kDefaultGameObject);
}
