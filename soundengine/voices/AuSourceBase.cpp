#include "voices/AuSourceBase.h"

#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "core/AuPositionRepository.h"
#include "voices/AuPlaybackInstance.h"

#include <AU/AuCallback.h>
#include <AU/MemoryMgr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr u32 kAdpcmFrames = 64;
constexpr u32 kAdpcmRecordBytes = 36;
constexpr u16 kTagExtensible = 0xFFFE;
constexpr u16 kTagAdpcm = 2;
constexpr u32 kEnvelopeHeaderBytes = 16;
constexpr u32 kEnvelopePointBytes = 6;

constexpr i16 kStepTable[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr i8 kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

u32 ReadU32(const u8* p) {
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}

} // namespace

void AuDecodeAdpcmBlock(const u8* record, i16* out, u32 stride) noexcept {
    i32 predictor = i16(record[0] | record[1] << 8);
    // The header byte may hold anything; every later index stays in the table too.
    i32 index = record[2] > 88 ? 88 : record[2];
    out[0] = i16(predictor);
    const u8* nibbles = record + 4;
    for (u32 i = 1; i < kAdpcmFrames; ++i) {
        const u32 v = (i & 1) ? nibbles[(i - 1) >> 1] & 15 : nibbles[(i - 1) >> 1] >> 4;
        i32 diff = i32((v & 7) * 2 + 1) * kStepTable[index] / 8;
        if (v & 8) diff = -diff;
        predictor += diff;
        predictor = predictor < -32768 ? -32768 : predictor > 32767 ? 32767 : predictor;
        out[i * stride] = i16(predictor);
        index += kIndexTable[v];
        index = index < 0 ? 0 : index > 88 ? 88 : index;
    }
}

namespace {
// Tells the sources of one playing ID apart in the position repository; audio thread only.
u32 g_uNextSourceCookie = 0;
} // namespace

CAuSourceBase::CAuSourceBase(CAuPlaybackInstance* instance, const u8* media, u32 mediaSize) noexcept
    : m_pInstance(instance), m_pMedia(media), m_uMediaSize(mediaSize), m_uLoopCount(instance->LoopCount()),
      m_uCookie(++g_uNextSourceCookie) {}

CAuSourceBase::~CAuSourceBase() {
    m_cues.Free();
}

void CAuSourceBase::StopStream() noexcept {
    m_cues.Free();
}

AURESULT CAuSourceBase::OpenMedia(u16 tag, u32 samplesPerBlock, u32 blockBytesPerChannel) noexcept {
    if (!m_pMedia) return AuResultFail;
    const AURESULT result =
        ReadHeader(m_pMedia, m_uMediaSize, true, tag, samplesPerBlock, blockBytesPerChannel);
    if (result != AuResultSuccess) return result == AuResultTruncatedChunk ? AuResultBadHeader : result;
    return m_pInstance->SeekPending() ? Seek() : AuResultSuccess;
}

AURESULT CAuSourceBase::ReadHeader(const u8* header, u32 size, bool wholeMedia, u16 tag, u32 samplesPerBlock,
                                   u32 blockBytesPerChannel) noexcept {
    AuRiffChunk fmt;
    const AURESULT parsed = ParseRiffHeader(header, size, fmt, &m_cues, m_uLoopStart, m_uLoopEnd, m_uDataSize,
                                            m_uDataOffset, &m_analysis, nullptr);
    // A header cut short is told apart: a stream may bring the rest.
    if (parsed != AuResultSuccess) return parsed == AuResultTruncatedChunk ? parsed : AuResultBadHeader;
    // Zero channels, rate or block align would divide by zero further on; other sample widths
    // would be read with the wrong layout.
    if (!ReadWaveFormat(fmt, m_format) || m_format.uTag != tag || m_format.uChannels == 0 ||
        m_format.uSampleRate == 0 || m_format.uBlockAlign != m_format.uChannels * blockBytesPerChannel ||
        (tag == kTagExtensible && m_format.uBitsPerSample != 16))
        return AuResultBadHeader;
    // A partial ADPCM block would be decoded from bytes past the media.
    if (samplesPerBlock > 1 && m_uDataSize % m_format.uBlockAlign) return AuResultBadHeader;
    if (wholeMedia && u64{m_uDataOffset} + m_uDataSize != size) return AuResultFail;
    const u64 total = u64{m_uDataSize} / m_format.uBlockAlign * samplesPerBlock;
    if (total == 0 || total > UINT32_MAX) return AuResultFail;
    m_uTotalSamples = u32(total);
    if (m_uLoopEnd == 0 || m_uLoopCount == 1) m_uLoopEnd = m_uTotalSamples - 1;
    if (m_uLoopEnd < m_uLoopStart || m_uLoopEnd >= m_uTotalSamples) return AuResultFail;
    if (m_analysis.pData &&
        (m_analysis.uSize < kEnvelopeHeaderBytes ||
         u64{ReadU32(m_analysis.pData + 8)} * kEnvelopePointBytes > m_analysis.uSize - kEnvelopeHeaderBytes))
        m_analysis = {};

    u32 mask = m_format.uChannelMask;
    if (!mask && tag == kTagAdpcm) mask = m_format.uChannels == 1 ? 0x4 : m_format.uChannels == 2 ? 0x3 : 0;
    m_config = AuChannelConfig(m_format.uChannels | (mask ? 1u << 8 : 0u) | mask << 12);
    CAuPlaybackInstance::MediaFormat format;
    format.uSampleRate = m_format.uSampleRate;
    format.config = m_config;
    // The pipeline sees 16-bit interleaved samples from both codecs.
    format.uBits = 16 | (u32(m_format.uChannels) * 2) << 6;
    m_pInstance->SetMediaFormat(format);
    m_uPosition = 0;
    return AuResultSuccess;
}

void CAuSourceBase::ResolveLoop(u64 p, u32 start, u32 end, u16 count, u32& position,
                                u16& remaining) noexcept {
    remaining = count;
    position = u32(std::min<u64>(p, UINT32_MAX));
    if (count == 1 || !(p > end && end > start)) return;
    const u64 length = u64{end} - start + 1;
    const u64 passes = (p - start) / length;
    const u32 rest = u32((p - start) % length);
    if (count == 0) {
        position = start + rest;
        remaining = 0;
    } else if (passes < count) {
        position = start + rest;
        remaining = u16(count - passes);
    } else {
        position = u32(std::min<u64>(p - u64{count - 1u} * length, UINT32_MAX));
        remaining = 1;
    }
}

u32 CAuSourceBase::ComputeSeekPosition() noexcept {
    const u32 rate = m_format.uSampleRate;
    u64 position;
    if (m_pInstance->SeekByPercent()) {
        // NaN, infinities and values outside [0, 1] never reach an integer conversion.
        f64 fraction = m_pInstance->SeekPosition();
        if (!(fraction > 0.0)) fraction = 0.0;
        if (fraction > 1.0) fraction = 1.0;
        const f64 durationMs =
            m_pInstance->LoopCount() != 0 ? GetDuration() : f64(m_uTotalSamples) * 1000.0 / rate;
        position = u64(fraction * durationMs * rate * 0.001);
    } else {
        // Far past 32 bits of samples: a looping source still lands where its loop says.
        const f64 media = m_pInstance->SeekPosition() * rate / g_OutputTiming.uSampleRate;
        position = media > 0.0 ? u64(std::min(media, 0x1p62)) : 0;
    }
    u32 resolved;
    u16 remaining;
    ResolveLoop(position, m_uLoopStart, m_uLoopEnd, m_pInstance->LoopCount(), resolved, remaining);
    if (m_pInstance->SeekSnap()) {
        if (const AuCuePoint* cue = m_cues.FindNearest(resolved))
            ResolveLoop(cue->uPosition, m_uLoopStart, m_uLoopEnd, m_pInstance->LoopCount(), resolved,
                        remaining);
    }
    m_uLoopCount = remaining;
    return resolved;
}

AURESULT CAuSourceBase::Seek() noexcept {
    const u32 position = ComputeSeekPosition();
    m_pInstance->ClearSeek();
    if (position >= m_uTotalSamples) return AuResultFail;
    m_uPosition = position;
    return AuResultSuccess;
}

void CAuSourceBase::FillBuffer(const void* data, u32 frames, AuPipelineBuffer& buffer) noexcept {
    if (frames == 0) {
        buffer.uValidFrames = 0;
        buffer.eState = AuResultNoDataReady;
        return;
    }
    buffer.pData = static_cast<f32*>(const_cast<void*>(data));
    buffer.uMaxFrames = buffer.uValidFrames = u16(frames);
    buffer.channelConfig = m_config;
    buffer.uPosition = m_uPosition;
    if (m_pInstance->CallbackFlags() & AU_CALLBACK_FLAG_MARKER) {
        u32 count = 0;
        for (u32 i = 0; i < m_cues.Count(); ++i)
            count += m_cues[i].uPosition - m_uPosition < frames;
        if (count) {
            auto* markers = static_cast<AuBufferMarker*>(
                AU::MemoryMgr::Malloc(g_LEngineDefaultPoolId, u32(count * sizeof(AuBufferMarker))));
            // Without memory this buffer's markers are lost, not the buffer.
            if (markers) {
                u32 n = 0;
                for (u32 i = 0; i < m_cues.Count(); ++i)
                    if (m_cues[i].uPosition - m_uPosition < frames)
                        markers[n++] = {m_pInstance, m_cues[i].uPosition - m_uPosition, m_cues[i]};
                buffer.pMarkers = markers;
                buffer.uNumMarkers = u16(count);
            }
        }
    }
    m_uPosition += frames;
    if (Looping() && m_uPosition > m_uLoopEnd) {
        m_uPosition = m_uLoopStart;
        buffer.eState = OnLoopComplete(false);
    } else if (!Looping() && m_uPosition >= m_uTotalSamples) {
        buffer.eState = OnLoopComplete(true);
    } else {
        buffer.eState = AuResultDataReady;
    }
}

AURESULT CAuSourceBase::OnLoopComplete(bool atEnd) noexcept {
    if (m_uLoopCount > 1) --m_uLoopCount;
    return atEnd ? AuResultNoMoreData : AuResultDataReady;
}

AURESULT CAuSourceBase::TimeSkip(u32& frames) noexcept {
    const u32 old = m_uPosition;
    const u64 position = u64{old} + frames;
    AURESULT result = AuResultDataReady;
    if (Looping() && position > m_uLoopEnd) {
        if (m_uLoopCount != 0) --m_uLoopCount;
        frames = m_uLoopEnd - old + 1;
        m_uPosition = m_uLoopStart;
    } else if (!Looping() && position >= m_uTotalSamples) {
        frames = m_uTotalSamples - old;
        m_uPosition = m_uTotalSamples;
        result = AuResultNoMoreData;
    } else {
        m_uPosition = u32(position);
    }
    // A virtual voice is not heard, but its markers and its position are.
    const AuPlayingID playingID = m_pInstance->Key().playingID;
    if (m_pInstance->CallbackFlags() & AU_CALLBACK_FLAG_MARKER)
        m_cues.NotifyMarkers(playingID, old, u32(u64{old} + frames));
    if ((m_pInstance->CallbackFlags() & AU_EnableGetSourcePlayPosition) && g_pPositionRepository) {
        g_pPositionRepository->UpdatePlayPosition(playingID, m_uCookie, old, m_uTotalSamples,
                                                  m_format.uSampleRate);
        g_pPositionRepository->SetRate(playingID, 1.0f);
    }
    return result;
}

AURESULT CAuSourceBase::VirtualOff(u32 behavior, bool useSeek) noexcept {
    if (behavior == 0) {
        m_uPosition = 0;
        m_uLoopCount = m_pInstance->LoopCount();
    } else if (behavior == 1 && useSeek) {
        return Seek();
    }
    return AuResultSuccess;
}

f32 CAuSourceBase::GetDuration() const noexcept {
    if (m_uLoopCount == 0 || m_format.uSampleRate == 0) return 0.0f;
    const f64 samples = f64(m_uLoopEnd - m_uLoopStart + 1) * (m_uLoopCount - 1) + m_uTotalSamples;
    return f32(samples * 1000.0 / m_format.uSampleRate);
}

f32 CAuSourceBase::GetAnalyzedEnvelope(u32 buffered) noexcept {
    if (!m_analysis.pData) return 0.0f;
    const u32 count = ReadU32(m_analysis.pData + 8);
    if (count == 0) return 0.0f;
    f32 offset;
    memcpy(&offset, m_analysis.pData + 12, sizeof offset);
    const u8* points = m_analysis.pData + kEnvelopeHeaderBytes;
    const auto pos = [points](u32 i) { return ReadU32(points + i * kEnvelopePointBytes); };
    const auto att = [points](u32 i) { return f32(u32(points[i * 6 + 4] | points[i * 6 + 5] << 8)); };
    const u32 p = buffered > m_uPosition ? 0 : m_uPosition - buffered;
    if (p < pos(0)) return -att(0) - offset;
    if (m_uEnvelopeIndex >= count) m_uEnvelopeIndex = 0;
    for (u32 n = 0, i = m_uEnvelopeIndex; n < count; ++n, i = i + 1 < count ? i + 1 : 0) {
        if (i + 1 < count && pos(i) <= p && p < pos(i + 1)) {
            m_uEnvelopeIndex = i;
            const f32 a = att(i);
            const f32 b = att(i + 1);
            return -(a + (b - a) * f32(p - pos(i)) / f32(pos(i + 1) - pos(i))) - offset;
        }
    }
    return -att(count - 1) - offset;
}

void CAuSourceBase::RelocateMedia(const u8* newBase, const u8* oldBase) noexcept {
    if (m_analysis.pData) m_analysis.pData = newBase + (m_analysis.pData - oldBase);
    m_pMedia = newBase + (m_pMedia - oldBase);
}

AURESULT CAuSourceBase::StartOnce() noexcept {
    if (m_bStarted) return AuResultSuccess;
    const AURESULT result = StartStream();
    m_bStarted = result == AuResultSuccess;
    return result;
}

f32 CAuSourceBase::GetPitch() const noexcept {
    return m_pInstance->Pitch();
}

bool CAuSourceBase::IsLooping() const noexcept {
    // 1 plays once; 0 loops for ever.
    return m_pInstance->LoopCount() != 1;
}

void CAuSourceBase::NotifyDuration() noexcept {
    const f32 duration = GetDuration();
    const f32 heard = f32(duration / std::exp2(f64(GetPitch()) / 1200.0));
    const AuPlayingID playingID = m_pInstance->Key().playingID;
    if (g_pPlayingMgr) g_pPlayingMgr->NotifyDuration(playingID, duration, heard, 0, 0);
    if ((m_pInstance->CallbackFlags() & AU_EnableGetSourcePlayPosition) && g_pPositionRepository) {
        g_pPositionRepository->AddSource(playingID, m_uCookie);
        g_pPositionRepository->UpdatePlayPosition(playingID, m_uCookie, m_uPosition, m_uTotalSamples,
                                                  m_format.uSampleRate);
    }
}

void CAuSourceBase::OnPaused() noexcept {
    if (g_pPositionRepository) g_pPositionRepository->SetRate(m_pInstance->Key().playingID, 0.0f);
}

void CAuSourceBase::OnResumed(f32 rate) noexcept {
    if (g_pPositionRepository) g_pPositionRepository->SetRate(m_pInstance->Key().playingID, rate);
}

void CAuSourceBase::Stop(u32 reason) noexcept {
    if ((m_pInstance->CallbackFlags() & AU_EnableGetSourcePlayPosition) && g_pPositionRepository)
        g_pPositionRepository->RemoveSource(m_pInstance->Key().playingID, m_uCookie);
    m_pInstance->OnStop(reason, 0);
    StopStream();
}

u32 CAuSourceBase::ProbeBuffer(u32 frames) noexcept {
    AuPipelineBuffer buffer;
    buffer.eState = AuResultDataNeeded;
    buffer.fGain = buffer.fPrevGain = 1.0f;
    buffer.uMaxFrames = u16(frames > 0xFFFF ? 0xFFFF : frames);
    GetBuffer(buffer);
    if (buffer.eState != AuResultDataReady && buffer.eState != AuResultNoMoreData) return 0;
    const u32 got = buffer.uValidFrames;
    buffer.FreeMarkers();
    ReleaseBuffer();
    return got;
}

AURESULT CAuPcmBankSource::StartStream() noexcept {
    const AURESULT result = OpenMedia(kTagExtensible, 1, 2);
    // The samples are handed on in place as 16-bit words: data that an unpadded odd chunk left at
    // an odd address could not be read as such.
    if (result == AuResultSuccess && (reinterpret_cast<uintptr_t>(m_pMedia) + m_uDataOffset) % alignof(i16))
        return AuResultBadHeader;
    return result;
}

void CAuPcmBankSource::GetBuffer(AuPipelineBuffer& buffer) noexcept {
    const u32 left = Limit() - m_uPosition;
    const u32 frames = buffer.uMaxFrames < left ? buffer.uMaxFrames : left;
    FillBuffer(m_pMedia + m_uDataOffset + u64{m_uPosition} * m_format.uBlockAlign, frames, buffer);
}

CAuAdpcmBankSource::~CAuAdpcmBankSource() {
    ReleaseBuffer();
}

AURESULT CAuAdpcmBankSource::StartStream() noexcept {
    return OpenMedia(kTagAdpcm, kAdpcmFrames, kAdpcmRecordBytes);
}

void CAuAdpcmBankSource::StopStream() noexcept {
    ReleaseBuffer();
    CAuSourceBase::StopStream();
}

AURESULT CAuAdpcmBankSource::Seek() noexcept {
    const u32 position = ComputeSeekPosition();
    m_pInstance->ClearSeek();
    if (position >= m_uTotalSamples) return AuResultFail;
    // Decoding starts at the block; the pitch node drops the frames before the wanted one.
    m_uPosition = position / kAdpcmFrames * kAdpcmFrames;
    m_pInstance->SetSourceFrameOffset(position % kAdpcmFrames);
    return AuResultSuccess;
}

void CAuAdpcmBankSource::GetBuffer(AuPipelineBuffer& buffer) noexcept {
    ReleaseBuffer();
    const u32 left = Limit() - m_uPosition;
    const u32 frames = buffer.uMaxFrames < left ? buffer.uMaxFrames : left;
    if (frames == 0) {
        FillBuffer(nullptr, 0, buffer);
        return;
    }
    // A pass may start inside a block (an unaligned loop start) and end inside one (a loop end
    // or a length that is not a whole number of blocks): whole blocks are decoded, and only the
    // frames of the pass delivered.
    const u32 skip = m_uPosition % kAdpcmFrames;
    const u32 blocks = (skip + frames + kAdpcmFrames - 1) / kAdpcmFrames;
    const u32 channels = m_format.uChannels;
    m_pDecoded = static_cast<i16*>(
        AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, blocks * kAdpcmFrames * channels * sizeof(i16), 16));
    if (!m_pDecoded) {
        buffer.uValidFrames = 0;
        buffer.eState = AuResultFail;
        return;
    }
    const u8* block = m_pMedia + m_uDataOffset + u64{m_uPosition / kAdpcmFrames} * m_format.uBlockAlign;
    for (u32 b = 0; b < blocks; ++b, block += m_format.uBlockAlign)
        for (u32 c = 0; c < channels; ++c)
            AuDecodeAdpcmBlock(block + c * kAdpcmRecordBytes, m_pDecoded + b * kAdpcmFrames * channels + c,
                               channels);
    FillBuffer(m_pDecoded + skip * channels, frames, buffer);
}

void CAuAdpcmBankSource::ReleaseBuffer() noexcept {
    if (m_pDecoded) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, m_pDecoded);
    m_pDecoded = nullptr;
}
