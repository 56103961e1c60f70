// The Vorbis decoder of codec 4: the compact set-up, its cache shared by every source of one
// media kind, and the packet decoder that turns size-prefixed audio packets into 16-bit
// interleaved samples. Everything runs on the audio thread; the cache has no lock.
#pragma once

#include <AU/AuChannelConfig.h>
#include <AU/AuTypes.h>

constexpr u32 kVorbisMaxChannels = 8;
// Windows exist for blocks of 256 to 4096 samples only.
constexpr u32 kVorbisMinBlockExp = 8;
constexpr u32 kVorbisMaxBlockExp = 12;

// Bounded: bits past the end read as zero and drive the bytes left below zero, which is the
// Vorbis end-of-packet condition.
struct AuVorbisBitReader {
    const u8* pData = nullptr;
    u32 uBitOffset = 0; // 0 to 7 within pData[0]
    i32 iBytesLeft = 0; // counting the current byte

    void Init(const u8* data, u32 size) noexcept {
        pData = data;
        uBitOffset = 0;
        iBytesLeft = i32(size);
    }
    // n from 0 to 32.
    u32 PeekBits(u32 n) const noexcept;
    u32 ReadBits(u32 n) noexcept;
    void SkipBits(u32 n) noexcept;
    bool Eop() const noexcept { return iBytesLeft < 0; }
};

struct VorbisSetupInfo;
struct AuVorbisCodebookEntry;

// One codebook unpacked from the library, its tables carved from the set-up block.
struct AuVorbisCodebook {
    u32 uDims;
    u32 uEntries;
    u8* pLengths; // 0: the entry has no codeword
    u32* pCodes;  // codewords, bit-reversed so that they match the reader's order
    u16* pFast;   // entry + 1 by the next bits; 0 for a longer codeword
    u32* pSlow;   // entries whose codewords are longer than the fast table
    u32 uSlowCount;
    u32 uFastBits;
    f32* pValues; // entries x dims; null without a lookup
};

// The compact codebook `entry` into `block`; false when it is malformed or does not fit.
bool UnpackVorbisCodebook(AuVorbisCodebook& book, const AuVorbisCodebookEntry& entry, u8* block, u32 capacity,
                          u32& used) noexcept;

// What a media header says of its set-up.
struct AuVorbisSetupParams {
    u32 uSetupId;
    u32 uMemorySize;
    u8 uShortExp;
    u8 uLongExp;
};

class VorbisSetupCache {
public:
    // [audio thread] The decoded set-up with a reference added; null when the packet is refused,
    // memory runs out, or an entry of this ID was made for another channel count, other block
    // sizes or a smaller block.
    static const VorbisSetupInfo* Get(const AuVorbisSetupParams& params, u32 channels, const u8* packet,
                                      u32 size) noexcept;
    // [audio thread] Drops a reference; the last frees the entry.
    static void Release(u32 setupId) noexcept;
    // Entries held (tests).
    static u32 Count() noexcept;
};

// The bytes a set-up block needs for this packet, or 0 when the packet is refused. The packer
// writes it into the media header; it is not for the audio thread (it uses the C heap).
u32 VorbisSetupMemorySize(const u8* packet, u32 size, u32 channels, u32 shortExp, u32 longExp);

// Parses a compact set-up into `block`; false on any refusal or when the carve does not fit.
bool ParseVorbisSetup(const AuVorbisSetupParams& params, u32 channels, AuVorbisBitReader& reader, u8* block,
                      u32 capacity, u32& used) noexcept;

struct AuVorbisPacketDecoder {
    AuVorbisBitReader reader;
    u32 uChannels = 0;
    const VorbisSetupInfo* pSetup = nullptr;
    // Per channel the DCT-IV output of the current and of the previous block (half a block
    // each): both halves of a block's inverse MDCT follow from it by symmetry.
    f32* pCurrent[kVorbisMaxChannels] = {};
    f32* pPrevious[kVorbisMaxChannels] = {};
    f32* pInterleaved = nullptr; // residue type 2 works on all channels at once
    u8* pClasses = nullptr;      // residue classifications of one packet
    void* pBlock = nullptr;      // owns all of the above
    i32 iStart = -1;             // output range of the current packet; -1 after a reset
    i32 iEnd = -1;
    u8 uPrevFlag = 0;
    u8 uCurFlag = 0;
    u16 uSkip = 0;
    u16 uTrim = 0;
};

struct AuVorbisPacket {
    const u8* pData;
    u32 uSize;
    bool bLast;
};

// Decode stages: set by the sources up to 3; 4 once the last packet of the available data ran.
enum : u32 {
    kVorbisStageHeader = 0,
    kVorbisStageSeekTable = 1,
    kVorbisStageSetup = 2,
    kVorbisStageDecoding = 3,
    kVorbisStageLastDecoded = 4,
};

struct AuVorbisDecodeState {
    u32 uFramesProduced = 0;
    AURESULT eStatus = AuResultSuccess;
    u32 uStage = kVorbisStageHeader;
    u32 uBytesConsumed = 0;
    AuVorbisPacketDecoder decoder;
    i16* pOutput = nullptr;
    AuChannelConfig config;
    u32 uFramesWanted = 0;
    u32 uBytesAvailable = 0;
    bool bAllDataPresent = false;
};

// [audio thread] One zeroed lower-engine block for the channel buffers of `decoder.pSetup`; 0,
// or -1 when there are no channels or no memory.
i32 InitVorbisChannels(AuVorbisPacketDecoder& decoder, u32 channels) noexcept;
// [audio thread]
void FreeVorbisChannels(AuVorbisPacketDecoder& decoder) noexcept;
// [audio thread] The next packet starts a run: it only primes the overlap.
void ResetVorbisDecoder(AuVorbisPacketDecoder& decoder, u16 skip, u16 trim) noexcept;
// [audio thread] Decodes whole packets from `data` (uBytesAvailable bytes) until the frames wanted
// are written to `output` (interleaved); sets frames produced, bytes consumed and the status
// (17 after the last packet, 45 with frames, 46 without, 2 for a packet above the maximum size).
void DecodeVorbisPackets(AuVorbisDecodeState& state, u32 maxPacketSize, const u8* data, i16* output) noexcept;
// [audio thread]
void DecodeVorbisPacket(AuVorbisPacketDecoder& decoder, const AuVorbisPacket& packet) noexcept;
// [audio thread] Frames pending with a null output; else writes up to `wanted` and returns them.
u32 OutputVorbisFrames(AuVorbisPacketDecoder& decoder, i16* output, u32 wanted) noexcept;

// The FNV-1 set-up ID the packer writes: over the compact set-up, the channel count and both
// block exponents.
u32 VorbisSetupId(const u8* setup, u32 size, u32 channels, u32 shortExp, u32 longExp) noexcept;

// The plain DCT-IV of n values (n a power of two from 128 to 2048) and its reference by the
// definition, for the tests.
void VorbisDctIv(f32* data, u32 n) noexcept;
void VorbisDctIvReference(const f32* in, f32* out, u32 n);
