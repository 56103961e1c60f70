#include "music/AuMusicClipStarter.h"

#include "hierarchy/AuSourceInfo.h"
#include "music/AuMusicSequencer.h"

#include <cmath>

namespace {

// Makes the clip's music playback instance in the default pool, where the instance manager frees
// its instances; remembers it for the starter once the start went through.
class ClipInstanceMaker final : public IAuInstanceMaker {
public:
    ClipInstanceMaker(IAuMusicTrackCtx& track, const AuMusicTrackClip& clip, u32 sourceOffset, i32 startDelay,
                      u32 lookAhead)
        : m_track(track), m_clip(clip), m_uSourceOffset(sourceOffset), m_lStartDelay(startDelay),
          m_uLookAhead(lookAhead) {}

    CAuPlaybackInstance* MakeInstance(const AuPlaybackInstanceParams& params) noexcept override {
        AuPlaybackInstanceParams own = params;
        // In output-rate samples; 0 would mean no seek.
        own.fSeekPosition = static_cast<f32>(m_uSourceOffset);
        own.lStartDelayFrames = m_lStartDelay;
        void* block = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(CAuMusicPlaybackInstance));
        if (!block) return nullptr;
        made = new (block) CAuMusicPlaybackInstance(own, m_track, m_clip, m_uLookAhead);
        return made;
    }

    CAuMusicPlaybackInstance* made = nullptr;

private:
    IAuMusicTrackCtx& m_track;
    const AuMusicTrackClip& m_clip;
    u32 m_uSourceOffset;
    i32 m_lStartDelay;
    u32 m_uLookAhead;
};

} // namespace

CAuMusicChild* CAuMusicVoiceStarter::StartClip(IAuMusicTrackCtx& track, CAuTrackNode& node,
                                               const AuMusicTrackClip& clip, u32 sourceOffset,
                                               i32 frameOffset) noexcept {
    const AuSourceInfo* source = node.FindSource(clip.sourceID);
    if (!source || (source->pluginID & 0xFFFF) == AU_MUSIC_SOURCE_MIDI || !g_pNodeInstances) return nullptr;
    CAuMusicCtx& context = track.TrackContext();
    CAuMusicSequencer* sequencer = context.RootSequencer();
    if (!sequencer) return nullptr;
    // The voice exists from now on (a streamed source fills its buffers meanwhile) and is heard
    // from the clip's first sample.
    const u32 lookAhead =
        source->StorageKind() == AuSourceStorage_Streamed ? node.SourceLookAhead(*source) : 0;
    // The voice counts its own samples: a place on the music clock is divided by the speed.
    const f64 delay = frameOffset > 0 ? std::round(frameOffset / static_cast<f64>(sequencer->Speed())) : 0.0;
    ClipInstanceMaker maker(track, clip, sourceOffset,
                            delay >= 2147483647.0 ? 2147483647 : static_cast<i32>(delay), lookAhead);
    AuNodePlayParams params;
    params.pGameObj = sequencer->GameObj();
    params.playingID = sequencer->PlayingID();
    params.pInstanceMaker = &maker;
    if (g_pNodeInstances->StartNode(node, *source, params) != AuResultSuccess || !maker.made) return nullptr;
    CAuMusicPlaybackInstance* voice = maker.made;
    // A clip longer than what is left of its source plays the source again from its start.
    const i64 left = i64{clip.lSourceDuration} - sourceOffset;
    voice->SetLoopCount(clip.lDuration > left ? 0 : 1);
    context.HandDownLevels(*voice);
    if (sequencer->Speed() != 1.0f) voice->SetParamValue(AuMusicParam_PlaybackSpeed, sequencer->Speed());
    return voice;
}
