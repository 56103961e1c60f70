// DirectSound 8 (created through COM): the device, its primary buffer and looping secondary
// buffers, for the subset the output sink uses. Buffers hold 16-bit PCM; a secondary buffer plays
// at the primary buffer's rate (no resampler) and its channels beyond the device's are dropped.
#pragma once

#include <mmreg.h>
#include <objbase.h>

#define DS_OK S_OK
#define DSERR_INVALIDPARAM E_INVALIDARG
#define DSERR_INVALIDCALL ((HRESULT)0x88780032)
#define DSERR_PRIOLEVELNEEDED ((HRESULT)0x88780046)
#define DSERR_BADFORMAT ((HRESULT)0x88780064)
#define DSERR_NODRIVER ((HRESULT)0x88780078)
#define DSERR_ALREADYINITIALIZED ((HRESULT)0x88780082)
#define DSERR_UNINITIALIZED ((HRESULT)0x887800AA)

#define DSSCL_NORMAL 0x1u
#define DSSCL_PRIORITY 0x2u

#define DSBCAPS_PRIMARYBUFFER 0x00000001u
#define DSBCAPS_GLOBALFOCUS 0x00008000u
#define DSBCAPS_GETCURRENTPOSITION2 0x00010000u

#define DSBPLAY_LOOPING 0x00000001u
#define DSBLOCK_FROMWRITECURSOR 0x00000001u
#define DSBLOCK_ENTIREBUFFER 0x00000002u

#define DSSPEAKER_HEADPHONE 0x1u
#define DSSPEAKER_MONO 0x2u
#define DSSPEAKER_QUAD 0x3u
#define DSSPEAKER_STEREO 0x4u
#define DSSPEAKER_SURROUND 0x5u
#define DSSPEAKER_5POINT1 0x6u
#define DSSPEAKER_7POINT1 0x7u
#define DSSPEAKER_7POINT1_SURROUND 0x8u
#define DSSPEAKER_5POINT1_SURROUND 0x9u
#define DSSPEAKER_CONFIG(a) ((BYTE)(a))

struct DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    LPWAVEFORMATEX lpwfxFormat;
    GUID guid3DAlgorithm;
};
using LPCDSBUFFERDESC = const DSBUFFERDESC*;

struct IDirectSoundBuffer : IUnknown {
    // The write cursor runs a little ahead of the play cursor: data between them is being played.
    virtual HRESULT GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) = 0;
    // Primary buffer only; needs the priority level.
    virtual HRESULT SetFormat(LPCWAVEFORMATEX format) = 0;
    virtual HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) = 0;
    virtual HRESULT Stop() = 0;
    // A region that crosses the end of the buffer comes back in two parts.
    virtual HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* part1, DWORD* bytes1, LPVOID* part2,
                         DWORD* bytes2, DWORD flags) = 0;
    virtual HRESULT Unlock(LPVOID part1, DWORD bytes1, LPVOID part2, DWORD bytes2) = 0;

protected:
    ~IDirectSoundBuffer() = default;
};

struct IDirectSoundBuffer8 : IDirectSoundBuffer {
protected:
    ~IDirectSoundBuffer8() = default;
};

struct IDirectSound8 : IUnknown {
    virtual HRESULT CreateSoundBuffer(LPCDSBUFFERDESC description, IDirectSoundBuffer** buffer,
                                      IUnknown* outer) = 0;
    virtual HRESULT GetSpeakerConfig(DWORD* config) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;
    // Null is the default playback device, the only one here.
    virtual HRESULT Initialize(const GUID* device) = 0;

protected:
    ~IDirectSound8() = default;
};

using LPDIRECTSOUND8 = IDirectSound8*;
using LPDIRECTSOUNDBUFFER = IDirectSoundBuffer*;
using LPDIRECTSOUNDBUFFER8 = IDirectSoundBuffer8*;

extern const CLSID CLSID_DirectSound8;
extern const IID IID_IDirectSound8;
extern const IID IID_IDirectSoundBuffer;
extern const IID IID_IDirectSoundBuffer8;
