// libFuzzer target of codec-4 media: the header checks, the set-up parser and the packet decoder.
// The input is copied into a block of exactly its size so that any read past the media shows
// under the sanitizers.
#include "VorbisFuzz.h"
#include "../../voices/fuzz/FuzzMemory.h"

#include "plugins/AuVorbisSource.h"
#include "voices/AuPlaybackInstance.h"

#include <cstring>
#include <memory>

namespace {

void Play(const u8* media, u32 size, u16 loopCount, bool seek, std::vector<AURESULT>& results) {
    AuPlaybackInstanceParams params;
    params.key.playingID = 1;
    CAuPlaybackInstance instance(params);
    instance.SetLoopCount(loopCount);
    if (seek) instance.SeekPercent(0.6f, false);
    CAuVorbisBankSource source(&instance, media, size);
    const AURESULT result = source.StartStream();
    results.push_back(result);
    if (result != AuResultSuccess) return;
    volatile i32 sum = 0;
    // Bounded: an infinite loop never ends by itself.
    for (u32 n = 0; n < 64; ++n) {
        AuPipelineBuffer buffer;
        buffer.uMaxFrames = 512;
        source.GetBuffer(buffer);
        if (buffer.eState == AuResultDataReady || buffer.eState == AuResultNoMoreData) {
            const i16* samples = reinterpret_cast<const i16*>(buffer.pData);
            for (u32 i = 0; i < u32(buffer.uValidFrames) * buffer.NumChannels(); ++i)
                sum = sum + samples[i];
        }
        buffer.FreeMarkers();
        source.ReleaseBuffer();
        if (buffer.eState != AuResultDataReady && buffer.eState != AuResultNoDataReady) {
            results.push_back(buffer.eState);
            break;
        }
    }
    source.StopStream();
}

} // namespace

std::vector<AURESULT> vorbistest::PlayVorbisEveryWay(const uint8_t* data, size_t size) {
    std::vector<AURESULT> results;
    if (size > (1u << 24)) return results;
    voicetest::EnsureFuzzMemory();
    std::unique_ptr<u8[]> media(new u8[size ? size : 1]);
    if (size) std::memcpy(media.get(), data, size);
    for (const u16 loops : {1, 2, 0})
        Play(media.get(), u32(size), loops, loops == 2, results);
    return results;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorbistest::PlayVorbisEveryWay(data, size);
    return 0;
}
