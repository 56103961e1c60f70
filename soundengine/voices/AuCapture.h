// Output capture: each capturing device writes its mix as 16-bit PCM into a RIFF WAVE file of its
// own, through a standard stream of the stream manager, with text markers as "cue " points.
#pragma once

#include <AU/AuTypes.h>
#include <memory/AuArray.h>

namespace AU {
class IAuStdStream;
}

constexpr u32 AU_WAV_HEADER_SIZE = 46;

// One open file over a standard stream (write, overwriting).
class CAuCaptureFileWriter {
public:
    // From the default pool, with no stream yet; null when the pool is exhausted.
    static CAuCaptureFileWriter* Create();
    // Destroys an open stream and frees the writer.
    void Destroy();

    // Opens the file and writes the header; 1 at once when already open. A failed header write
    // closes the stream again.
    AURESULT StartCapture(const wchar_t* fileName, const u8* header);
    // Rewrites the header at the file's start and closes; 2 when not open.
    AURESULT StopCapture(const u8* header);
    AURESULT PassSampleData(const void* data, u32 size);
    bool IsOpen() const { return m_pStream != nullptr; }

private:
    AU::IAuStdStream* m_pStream = nullptr;
};

struct AuCaptureMarker {
    u32 uIdentifier;
    u32 uPosition; // sample frames written before the marker
    char* pLabel;  // default pool
};

class CAuWavFileWriter {
public:
    // The file with its header (both sizes 0xFFFFFFFF until stopped); null on any failure, with
    // nothing left behind.
    static CAuWavFileWriter* Create(const wchar_t* fileName, u16 channels, u32 sampleRate);

    // Adds a marker at the current position; one at the same position as the last takes the
    // text appended to its label. 2 without a file, 52 when memory runs out.
    AURESULT AddMarker(const char* text);
    // The frame's bytes; the data count grows only on success.
    AURESULT WriteFrame(const void* data, u32 size);
    // Writes the marker chunks and the final header, closes the file and frees the writer.
    AURESULT Stop();

    u32 DataBytes() const { return m_uDataBytes; }
    u32 NumMarkers() const { return m_markers.Count(); }

private:
    void SetHeaderSizes(u32 riffSize, u32 dataSize);
    AURESULT WriteMarkerChunks(u32& chunkBytes);
    void Free();

    u8 m_header[AU_WAV_HEADER_SIZE] = {};
    AuArray<AuCaptureMarker> m_markers;
    u32 m_uLastMarkerId = 0;
    u32 m_uDataBytes = 0;
    u16 m_uBlockAlign = 0;
    CAuCaptureFileWriter* m_pFile = nullptr;
};

// The kept name of a running capture: the given name with one character inserted at the last
// '.' (searched from the end back to the second character), or in front when there is none.
// The character starts as '0'; each device other than the main output takes the next one.
struct AuCaptureName {
    wchar_t* pName = nullptr; // default pool
    u32 uDigitPos = 0;

    // False when memory is short.
    bool Make(const wchar_t* given);
    const wchar_t* Next();
    void Free();
};
