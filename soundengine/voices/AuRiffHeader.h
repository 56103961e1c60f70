// The RIFF media header every source reads once: format, cue points with their labels, the
// sampler loop, envelope analysis data and the seek table, up to the "data" chunk.
#pragma once

#include <AU/AuTypes.h>

struct AuCuePoint {
    u32 uID;
    u32 uPosition; // samples
    char* pLabel;  // owned, NUL-terminated; null without a label
};

// Cue points in the lower-engine pool.
class CAuCuePointList {
public:
    CAuCuePointList() = default;
    CAuCuePointList(const CAuCuePointList&) = delete;
    CAuCuePointList& operator=(const CAuCuePointList&) = delete;
    ~CAuCuePointList() { Free(); }

    // Room for `count` points, zeroed; 52 without memory.
    AURESULT Allocate(u32 count);
    // A copy of `length` bytes, terminated; 52 without memory (the point keeps no label).
    AURESULT SetLabel(u32 index, const char* text, u32 length);
    // The point nearest to `position`; the first of equally near ones. Null without points.
    const AuCuePoint* FindNearest(u32 position) const;
    // [audio thread] Tells the playing ID of every point in [from, to) that was passed over.
    void NotifyMarkers(AuPlayingID playingID, u32 from, u32 to) const noexcept;
    void Free();

    u32 Count() const { return m_uCount; }
    const AuCuePoint& operator[](u32 i) const { return m_pPoints[i]; }
    AuCuePoint& operator[](u32 i) { return m_pPoints[i]; }

private:
    u32 m_uCount = 0;
    AuCuePoint* m_pPoints = nullptr;
};

struct AuRiffChunk {
    u32 uSize = 0;
    const u8* pData = nullptr;
};

// 1; 31 for null media or size 0; 7 for a bad header (no "RIFF"/"WAVE"/"XWMA", "cue " before
// "fmt ", "data" without "fmt ", a "cue " table that does not fit); 8 when truncated. Labels,
// loop records and envelopes that do not fit their chunk are dropped. `cues`, `analysis` and
// `seekTable` may be null.
AURESULT ParseRiffHeader(const u8* media, u32 size, AuRiffChunk& format, CAuCuePointList* cues,
                         u32& loopStart, u32& loopEnd, u32& dataSize, u32& dataOffset, AuRiffChunk* analysis,
                         AuRiffChunk* seekTable);

// The fields of the extensible "fmt " that the PCM and ADPCM sources use.
struct AuWaveFormat {
    u16 uTag;
    u16 uChannels;
    u32 uSampleRate;
    u16 uBlockAlign;
    u16 uBitsPerSample;
    u32 uChannelMask; // 0 when the chunk is shorter than 24 bytes
};

// False when the chunk is shorter than the 16 bytes of the basic format.
bool ReadWaveFormat(const AuRiffChunk& chunk, AuWaveFormat& out);
