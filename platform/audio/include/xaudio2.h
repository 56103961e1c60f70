// The XAudio2 2.7 engine (created through COM), its mastering and source voices and its callbacks,
// for the subset the output sink uses. Voices play 32-bit float data at the mastering voice's rate
// (no resampler), whole buffers only (no play or loop regions); a voice's channels beyond the
// device's are dropped.
#pragma once

#include <mmreg.h>
#include <objbase.h>

#include <cstdint>

using UINT32 = uint32_t;
using UINT64 = uint64_t;
using XAUDIO2_PROCESSOR = UINT32;

#define XAUDIO2_DEBUG_ENGINE 0x0001u
#define XAUDIO2_DEFAULT_PROCESSOR 0xFFFFFFFFu
#define XAUDIO2_DEFAULT_CHANNELS 0u
#define XAUDIO2_DEFAULT_SAMPLERATE 0u
#define XAUDIO2_DEFAULT_FREQ_RATIO 2.0f
#define XAUDIO2_COMMIT_NOW 0u
#define XAUDIO2_END_OF_STREAM 0x0040u
#define XAUDIO2_MAX_QUEUED_BUFFERS 64u
#define XAUDIO2_MAX_VOLUME_LEVEL 16777216.0f

#define XAUDIO2_E_INVALID_CALL ((HRESULT)0x88960001)
#define XAUDIO2_E_DEVICE_INVALIDATED ((HRESULT)0x88960004)
// No output device: what creating a mastering voice answers then.
#define XAUDIO2_E_NO_DEVICE ((HRESULT)0x80070490)

enum XAUDIO2_DEVICE_ROLE {
    NotDefaultDevice = 0x0,
    GlobalDefaultDevice = 0xF,
};

struct XAUDIO2_DEVICE_DETAILS {
    WCHAR DeviceID[256];
    WCHAR DisplayName[256];
    XAUDIO2_DEVICE_ROLE Role;
    WAVEFORMATEXTENSIBLE OutputFormat;
};

struct XAUDIO2_BUFFER {
    UINT32 Flags;
    UINT32 AudioBytes;
    const BYTE* pAudioData;
    UINT32 PlayBegin;
    UINT32 PlayLength;
    UINT32 LoopBegin;
    UINT32 LoopLength;
    UINT32 LoopCount;
    void* pContext;
};

struct XAUDIO2_VOICE_STATE {
    void* pCurrentBufferContext;
    UINT32 BuffersQueued;
    UINT64 SamplesPlayed;
};

// Only null is ever passed for these.
struct XAUDIO2_VOICE_SENDS;
struct XAUDIO2_EFFECT_CHAIN;
struct XAUDIO2_BUFFER_WMA;

// Called on the engine's one processing thread, never two at a time. A callback may call GetState
// and SubmitSourceBuffer, but must not destroy voices.
struct IXAudio2EngineCallback {
    virtual void OnProcessingPassStart() = 0;
    virtual void OnProcessingPassEnd() = 0;
    virtual void OnCriticalError(HRESULT error) = 0;

protected:
    ~IXAudio2EngineCallback() = default;
};

struct IXAudio2VoiceCallback {
    virtual void OnVoiceProcessingPassStart(UINT32 bytesRequired) = 0;
    virtual void OnVoiceProcessingPassEnd() = 0;
    virtual void OnStreamEnd() = 0;
    virtual void OnBufferStart(void* bufferContext) = 0;
    // The buffer has left the queue (BuffersQueued no longer counts it) and may be reused.
    virtual void OnBufferEnd(void* bufferContext) = 0;
    virtual void OnLoopEnd(void* bufferContext) = 0;
    virtual void OnVoiceError(void* bufferContext, HRESULT error) = 0;

protected:
    ~IXAudio2VoiceCallback() = default;
};

struct IXAudio2Voice {
    virtual HRESULT SetVolume(float volume, UINT32 operationSet = XAUDIO2_COMMIT_NOW) = 0;
    // Returns once no callback of the voice runs or can run any more.
    virtual void DestroyVoice() = 0;

protected:
    ~IXAudio2Voice() = default;
};

struct IXAudio2SourceVoice : IXAudio2Voice {
    virtual HRESULT Start(UINT32 flags = 0, UINT32 operationSet = XAUDIO2_COMMIT_NOW) = 0;
    // The data must stay valid until the buffer's OnBufferEnd.
    virtual HRESULT SubmitSourceBuffer(const XAUDIO2_BUFFER* buffer,
                                       const XAUDIO2_BUFFER_WMA* wma = nullptr) = 0;
    virtual void GetState(XAUDIO2_VOICE_STATE* state) = 0;

protected:
    ~IXAudio2SourceVoice() = default;
};

struct IXAudio2MasteringVoice : IXAudio2Voice {
protected:
    ~IXAudio2MasteringVoice() = default;
};

struct IXAudio2 : IUnknown {
    virtual HRESULT GetDeviceDetails(UINT32 index, XAUDIO2_DEVICE_DETAILS* details) = 0;
    virtual HRESULT Initialize(UINT32 flags = 0, XAUDIO2_PROCESSOR processor = XAUDIO2_DEFAULT_PROCESSOR) = 0;
    virtual HRESULT RegisterForCallbacks(IXAudio2EngineCallback* callback) = 0;
    virtual void UnregisterForCallbacks(IXAudio2EngineCallback* callback) = 0;
    virtual HRESULT CreateSourceVoice(IXAudio2SourceVoice** voice, const WAVEFORMATEX* format,
                                      UINT32 flags = 0, float maxFrequencyRatio = XAUDIO2_DEFAULT_FREQ_RATIO,
                                      IXAudio2VoiceCallback* callback = nullptr,
                                      const XAUDIO2_VOICE_SENDS* sends = nullptr,
                                      const XAUDIO2_EFFECT_CHAIN* effects = nullptr) = 0;
    virtual HRESULT CreateMasteringVoice(IXAudio2MasteringVoice** voice,
                                         UINT32 channels = XAUDIO2_DEFAULT_CHANNELS,
                                         UINT32 sampleRate = XAUDIO2_DEFAULT_SAMPLERATE, UINT32 flags = 0,
                                         UINT32 deviceIndex = 0,
                                         const XAUDIO2_EFFECT_CHAIN* effects = nullptr) = 0;

protected:
    ~IXAudio2() = default;
};

extern const CLSID CLSID_XAudio2;
extern const CLSID CLSID_XAudio2_Debug;
extern const IID IID_IXAudio2;
