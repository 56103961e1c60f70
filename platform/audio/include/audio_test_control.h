// Controls of the audio stand-in for tests and tools only: failure injection, the device's shape,
// output rendered on the test's own thread, device-change notices and live-object counts.
#pragma once

#include <dsound.h>
#include <mmdeviceapi.h>
#include <xaudio2.h>

#include <cstddef>
#include <vector>

namespace audiotest {

// The next CoCreateInstance of that class fails with `result`.
void FailNextCreation(REFCLSID classId, HRESULT result);
// The next call named `call` fails with `result`. Names are "Interface::Method":
// "IXAudio2::Initialize", "IXAudio2::CreateMasteringVoice", "IXAudio2::GetDeviceDetails",
// "IXAudio2::CreateSourceVoice", "IXAudio2SourceVoice::Start", "IXAudio2SourceVoice::SubmitSourceBuffer",
// "IDirectSound8::Initialize", "IDirectSound8::SetCooperativeLevel", "IDirectSound8::CreateSoundBuffer",
// "IDirectSound8::GetSpeakerConfig", "IDirectSoundBuffer::SetFormat", "IDirectSoundBuffer::Play",
// "IDirectSoundBuffer::Lock", "IDirectSoundBuffer::GetCurrentPosition",
// "IMMDeviceEnumerator::GetDefaultAudioEndpoint".
void FailNextCall(const char* call, HRESULT result);
// Also restores the device's shape and the default endpoint below.
void ClearInjectedFailures();

// The output device's channel count as XAudio2's device details report it (0: what SDL reports),
// and DirectSound's speaker configuration (0: derived from the channel count).
void SetDeviceChannels(unsigned channels);
void SetSpeakerConfig(DWORD config);
// The device refuses formats with this many channels (0: none).
void RefuseChannelCount(unsigned channels);

// Manual output: devices open as usual but SDL never pulls them; RenderOutput pulls `frames` from
// the newest open device on the calling thread, as one pass of its callback, and returns them as
// interleaved float samples (16-bit devices are scaled by 1/32768). Empty when no device is open.
void UseManualOutput(bool manual);
std::vector<float> RenderOutput(size_t frames);
// Channels and rate of the newest open device (0, 0 when none).
unsigned OutputChannels();
unsigned OutputRate();

// Every live XAudio2 engine reports a critical error to its engine callbacks, on the calling thread.
void RaiseCriticalError(HRESULT error);

// The default render endpoint changes (null: none is left); every registered notification client
// hears of it for (flow, role) on the calling thread, as the system's thread would deliver it.
void SimulateDefaultDeviceChanged(EDataFlow flow, ERole role, const wchar_t* deviceId);
size_t NotificationClientCount();

// COM objects of the stand-in that are still alive (engines, voices, devices, buffers,
// enumerators, endpoints).
size_t LiveObjectCount();

} // namespace audiotest
