// The music objects of banks: records of types 10 to 13 written by bankgen, read through the music
// engine's bank extension reader into the bank's object list, with the sample conversions, the
// playlist tree, the child checks and the refusal of cut or over-counted records; then a bank's
// segment played by a test root, which the sequencer drives at the speed of the node tree, and by
// its segment and track contexts, which start its clips' sources at their samples.
#include "MusicFakes.h"
#include "MusicTestSupport.h"
#include "banks/AuBankFormat.h"
#include "banks/AuBankMgr.h"
#include "core/AuAudioMgr.h"
#include "core/AuObjectIndex.h"
#include "core/AuOutputTiming.h"
#include "core/AuPlayingMgr.h"
#include "core/AuThreads.h"
#include "hierarchy/AuHierarchyLoader.h"
#include "music/AuMusicChainCtx.h"
#include "music/AuMusicNodes.h"
#include "music/AuMusicSegmentCtx.h"
#include "parameters/AuRTPCMgr.h"

#include <AU/MusicEngine.h>
#include <AU/SoundEngineBanks.h>
#include <AuDefaultPoolTest.h>
#include <bankgen/Bank.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace {

using bankgen::Bytes;

constexpr u32 kTrack = 0x11;
constexpr u32 kSegment = 0x21;
constexpr u32 kPlaylist = 0x31;
constexpr u32 kSwitch = 0x41;
constexpr u32 kMediaSource = 0x101;
constexpr u32 kMidiSource = 0x102;

bankgen::SourceRecord Source(u32 id, u32 plugin) {
    bankgen::SourceRecord source;
    source.plugin = plugin;
    source.sourceId = id;
    source.fileId = 0xB1;
    source.fileOffset = 0x40;
    source.inMemorySize = 4000;
    return source;
}

bankgen::MusicTrackRecord Track() {
    bankgen::MusicTrackRecord track;
    track.id = kTrack;
    track.flags = 0x04; // bit 2: the MIDI-target override
    track.sources = {Source(kMediaSource, bankgen::kCodecPcm), Source(kMidiSource, 0x00000010),
                     Source(kMediaSource, bankgen::kCodecAdpcm)};
    track.clips = {
        {0, kMediaSource, 100.0, 250.0, -100.0, 1000.0}, // trimmed at both ends
        {1, kMediaSource, 0.0, -250.0, 0.0, 1000.0},     // a negative begin wraps into the source
        {0, kMediaSource, 500.0, 0.0, -1000.0, 1000.0},  // nothing left: dropped
        {1, kMidiSource, 2000.0, 0.0, 0.0, 500.0},
    };
    track.subTrackCount = 2;
    track.automations = {{0, 0, {{0.5f, 0.25f, 4}, {1.0f, 1.0f, 1}}}};
    track.trackType = 3;
    track.switchTrack = {1, 0x77, 0x88, {0x88, 0x99}, 100, 4, 10, 0x22, 7, 200, 3, 20};
    track.lookAheadMs = 100;
    return track;
}

bankgen::MusicSegmentRecord Segment() {
    bankgen::MusicSegmentRecord segment;
    segment.music.id = kSegment;
    segment.music.flags = 0x06;
    segment.music.node.props = {bankgen::PropF(55, 90.0f), bankgen::PropF(56, 3.0f)};
    segment.music.children = {kTrack};
    segment.music.gridPeriodMs = 250.0;
    segment.music.gridOffsetMs = 10.5;
    segment.music.tempo = 120.0f;
    segment.music.beatsPerBar = 6;
    segment.music.beatValue = 8;
    segment.music.timeOverride = 1;
    segment.music.stingers = {{5, 0, 2, 0, 500, 1}};
    segment.durationMs = 4000.0;
    segment.markers = {{1, 0.0, ""}, {2, 1000.01, "Verse"}, {3, 3000.0, "End"}};
    return segment;
}

bankgen::MusicPlaylistRecord Playlist() {
    bankgen::MusicPlaylistRecord playlist;
    playlist.music.id = kPlaylist;
    playlist.music.node.props = {bankgen::PropF(54, 0.5f)};
    playlist.music.children = {kSegment};
    bankgen::TransitionRule rule;
    rule.sources = {kSegment};
    rule.destinations = {kSegment};
    rule.sourceOffsetMs = 10;
    rule.syncType = 0x42;
    rule.entryType = 0x0A;
    rule.matchCueName = 3;
    rule.transitionSegment = bankgen::TransitionSegment{kSegment, 300, 4, 20, 400, 1, 30, 1, 0};
    playlist.rules.push_back(rule);
    playlist.items = {
        {0, 100, 2, 3, 0, -1, 2, bankgen::kUnweighted, 1, 0, 0}, // the root: two items below it
        {kSegment, 101, 0, 0, 1, 0, 0, bankgen::kUnweighted, 0, 0, 0},
        {0, 102, 1, 1, 1, 0, 0, 20000, 2, 0, 1}, // a group of one, weighted apart
        {kSegment, 103, 0, 0, 2, 0, 0, bankgen::kUnweighted, 0, 0, 0},
    };
    return playlist;
}

bankgen::MusicSwitchRecord Switch() {
    bankgen::MusicSwitchRecord node;
    node.music.id = kSwitch;
    node.music.node.props = {bankgen::PropF(54, 4.0f)};
    node.music.children = {kPlaylist};
    node.continuePlayback = 0;
    node.groups = {0x77, 0x78};
    node.groupTypes = {1, 0};
    node.decisionMode = 1;
    node.tree = {bankgen::InnerTreeNode(0, 1, 1), bankgen::LeafTreeNode(0x99, kPlaylist)};
    return node;
}

Bytes Payload(const bankgen::Record& record) {
    bankgen::EncodeContext ctx;
    Bytes out = bankgen::EncodePayload(record, ctx);
    EXPECT_TRUE(ctx.errors.empty()) << ctx.errors.front();
    return out;
}

class MusicNodesTest : public AuDefaultPoolTest {
protected:
    void SetUp() override {
        AuDefaultPoolTest::SetUp();
        g_pIndex = &m_index;
        m_index.Init();
        g_pRTPCMgr = &m_rtpc;
        ASSERT_EQ(m_rtpc.Init(), AuResultSuccess);
        ASSERT_EQ(m_playing.Init(), AuResultSuccess);
        g_pPlayingMgr = &m_playing;
        ASSERT_EQ(m_audio.Init(1u << 16), AuResultSuccess);
        g_pAudioMgr = &m_audio;
        ASSERT_EQ(m_transitions.Init(16), AuResultSuccess);
        m_transitions.SetOutputTiming(21, 1024);
        g_pTransitionMgr = &m_transitions;
        g_uNumSamplesPerFrame = 1024;
        SetOutputSampleRate(48000);
        AuInstallCoreHierarchyLoaders();
        AuMusicSettings settings{1.0f};
        ASSERT_NE(MusicEngineCreate(&settings), nullptr);
        AuSetTriggerRegistry(&m_triggers);
        m_usedBefore = Used();
    }
    void TearDown() override {
        // The roots go before the nodes they play.
        MusicFrameCallback(true);
        for (CAuLoadedBank* bank : {&m_bank, &m_other})
            AuReleaseBankObjects(bank->objects);
        AuSetTriggerRegistry(nullptr);
        SetOutputSampleRate(48000);
        EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 0u);
        m_index.Term();
        g_pIndex = nullptr;
        g_pTransitionMgr = nullptr;
        m_transitions.Term();
        g_pAudioMgr = nullptr;
        m_audio.Term();
        g_pPlayingMgr = nullptr;
        m_playing.Term();
        m_rtpc.Term();
        g_pRTPCMgr = nullptr;
        EXPECT_EQ(Used(), m_usedAtStart);
        AuDefaultPoolTest::TearDown();
    }

    // The record as the chunk loop hands it to the bank extension reader: header, then payload.
    static Bytes WithHeader(u8 type, const Bytes& payload) {
        Bytes record{type};
        const u32 size = static_cast<u32>(payload.size());
        for (u32 i = 0; i < 4; ++i)
            record.push_back(static_cast<u8>(size >> (8 * i)));
        record.insert(record.end(), payload.begin(), payload.end());
        return record;
    }
    AURESULT LoadPayload(u8 type, const Bytes& payload, CAuLoadedBank& bank) {
        if (bank.objects.Count() == bank.objects.Capacity()) {
            EXPECT_TRUE(bank.objects.Grow(8));
        }
        const Bytes record = WithHeader(type, payload);
        return MusicBankObjectLoader(record.data(), &bank, bank.bankID);
    }
    AURESULT Load(const bankgen::Record& record, CAuLoadedBank& bank) {
        return LoadPayload(bankgen::TypeOf(record), Payload(record), bank);
    }
    void LoadAll() {
        ASSERT_EQ(Load(Track(), m_bank), AuResultSuccess);
        ASSERT_EQ(Load(Segment(), m_bank), AuResultSuccess);
        ASSERT_EQ(Load(Playlist(), m_bank), AuResultSuccess);
        ASSERT_EQ(Load(Switch(), m_bank), AuResultSuccess);
    }
    template <class T> T* Node(u32 id) {
        CAuIndexable* found = m_index.GetNodePtrAndAddRef(id, false);
        if (found) found->Release(); // the bank's list holds it
        return static_cast<T*>(found);
    }
    // A root played as an event plays it (game object 9); its creator's reference goes back, so
    // the play holds it.
    void StartRoot(CAuMusicTopCtx& root, AuPlayingID playingID) {
        root.AddRef();
        EXPECT_EQ(m_playing.AddPlayingID(playingID, 9, 77, nullptr, nullptr, 0, nullptr), AuResultSuccess);
        AuMusicPlayParams params;
        params.gameObjID = 9;
        params.playingID = playingID;
        EXPECT_EQ(root.Play(params), AuResultSuccess);
        m_playing.RemovePendingAction(playingID);
        root.Release();
    }
    // The bank's segment played by its node: the root it makes for the play.
    CAuSegmentChainCtx* PlaySegment(AuPlayingID playingID = 7) {
        EXPECT_EQ(m_playing.AddPlayingID(playingID, 9, 77, nullptr, nullptr, 0, nullptr), AuResultSuccess);
        AuNodePlayParams params;
        params.playingID = playingID;
        EXPECT_EQ(Node<CAuSegmentNode>(kSegment)->Play(params), AuResultSuccess);
        m_playing.RemovePendingAction(playingID);
        return dynamic_cast<CAuSegmentChainCtx*>(g_pMusicEngine.load()->pFirstTop);
    }
    // One audio pass: the transitions, then the music.
    void Frame() {
        m_transitions.ProcessTransitionsList(++m_frame);
        MusicFrameCallback(false);
    }

    CAuObjectIndex m_index;
    CAuRTPCMgr m_rtpc;
    CAuPlayingMgr m_playing;
    CAuAudioMgr m_audio;
    CAuTransitionMgr m_transitions;
    au_test::RecordingTriggers m_triggers;
    CAuLoadedBank m_bank;
    CAuLoadedBank m_other;
    u32 m_usedBefore = 0;
    u32 m_frame = 0;
};

TEST_F(MusicNodesTest, ATrackKeepsItsSourcesClipsAutomationAndSwitchSettingsInSamples) {
    ASSERT_EQ(Load(Track(), m_bank), AuResultSuccess);
    auto* track = Node<CAuTrackNode>(kTrack);
    ASSERT_NE(track, nullptr);
    ASSERT_EQ(m_bank.objects.Count(), 1u);
    EXPECT_EQ(m_bank.objects[0], track);
    EXPECT_EQ(track->Category(), AuNodeCategory_MusicTrack);
    EXPECT_EQ(track->TrackFlags(), CAuTrackNode::kOverrideMidiTarget);
    ASSERT_EQ(track->NumSources(), 2u) << "a source ID met twice is kept once";
    EXPECT_EQ(track->FindSource(kMediaSource)->pluginID, bankgen::kCodecPcm);
    EXPECT_EQ(track->FindSource(kMediaSource)->inMemorySize, 4000u);
    // Look-ahead: 100 ms at 48 kHz for the media, none for MIDI.
    EXPECT_EQ(track->LookAhead(), 4800u);
    EXPECT_EQ(track->SourceLookAhead(*track->FindSource(kMediaSource)), 4800u);
    EXPECT_EQ(track->SourceLookAhead(*track->FindSource(kMidiSource)), 0u);

    struct Clip {
        u32 subTrack, source;
        i32 start, duration, sourceDuration, offset;
    };
    const Clip expected[] = {
        {0, kMediaSource, 16800, 31200, 48000, 12000}, // (100 + 250) ms, (-100 + 1000 - 250) ms
        {1, kMediaSource, -12000, 60000, 48000, 36000},
        {1, kMidiSource, 96000, 24000, 24000, 0},
    };
    ASSERT_EQ(track->NumClips(), 3u);
    for (u32 i = 0; i < 3; ++i) {
        const AuMusicTrackClip& clip = track->Clip(i);
        EXPECT_EQ(clip.uSubTrack, expected[i].subTrack) << i;
        EXPECT_EQ(clip.sourceID, expected[i].source) << i;
        EXPECT_EQ(clip.lStart, expected[i].start) << i;
        EXPECT_EQ(clip.lDuration, expected[i].duration) << i;
        EXPECT_EQ(clip.lSourceDuration, expected[i].sourceDuration) << i;
        EXPECT_EQ(clip.lSourceOffset, expected[i].offset) << i;
    }
    EXPECT_EQ(track->NumSubTracks(), 2u);
    ASSERT_EQ(track->NumAutomations(), 1u);
    const AuMusicClipAutomation& automation = track->Automation(0);
    ASSERT_EQ(automation.uNumPoints, 2u);
    EXPECT_EQ(automation.pPoints[0].x, 24000.0f);
    EXPECT_EQ(automation.pPoints[0].y, 0.25f);
    EXPECT_EQ(automation.pPoints[1].x, 48000.0f);
    EXPECT_EQ(automation.pPoints[1].interpolation, 1u);

    EXPECT_EQ(track->TrackType(), 3u);
    const AuMusicSwitchTrackParams* s = track->SwitchParams();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->uGroupType, 1u);
    EXPECT_EQ(s->uGroupID, 0x77u);
    EXPECT_EQ(s->uDefaultValue, 0x88u);
    ASSERT_EQ(s->subTrackValues.Count(), 2u);
    EXPECT_EQ(s->subTrackValues[1], 0x99u);
    EXPECT_EQ(s->uFadeOutMs, 100u);
    EXPECT_EQ(s->uFadeOutOffset, 480u);
    EXPECT_EQ(s->uSyncType, 2u) << "low 5 bits";
    EXPECT_EQ(s->uCueFilter, 7u);
    EXPECT_EQ(s->uFadeInMs, 200u);
    EXPECT_EQ(s->uFadeInCurve, 3u);
    EXPECT_EQ(s->uFadeInOffset, 960u);
}

TEST_F(MusicNodesTest, ASegmentOwnsItsTimeItsMarkersAndItsStingers) {
    LoadAll();
    auto* segment = Node<CAuSegmentNode>(kSegment);
    ASSERT_NE(segment, nullptr);
    EXPECT_EQ(segment->Category(), AuNodeCategory_MusicSegment);
    EXPECT_EQ(segment->MusicFlags(),
              CAuMusicNode::kOverrideA | CAuMusicNode::kOverrideB | CAuMusicNode::kOwnTimeSettings);
    f32 value = 0;
    EXPECT_TRUE(segment->GetOverrideA(value));
    EXPECT_EQ(value, 90.0f);
    EXPECT_TRUE(segment->GetOverrideB(value));
    EXPECT_EQ(value, 3.0f);
    ASSERT_EQ(segment->GetChildCount(), 1u);
    EXPECT_EQ(segment->Child(0), Node<CAuTrackNode>(kTrack));
    EXPECT_EQ(Node<CAuTrackNode>(kTrack)->Parent(), segment);
    // 6/8 at 120: a beat of an eighth note.
    const AuMusicTimeSettings& time = segment->GetTimeSettings();
    EXPECT_EQ(time.fTempo, 120.0f);
    EXPECT_EQ(time.uBeatDuration, 12000u);
    EXPECT_EQ(time.uBarDuration, 72000u);
    EXPECT_EQ(time.uGridPeriod, 12000u);
    EXPECT_EQ(time.uGridOffset, 504u);
    f32 tempo = 0;
    EXPECT_TRUE(segment->GetTempo(tempo));
    EXPECT_EQ(tempo, 120.0f);
    EXPECT_EQ(segment->Duration(), 192000);
    ASSERT_EQ(segment->NumMarkers(), 3u);
    EXPECT_EQ(segment->Marker(0).uID, 1u);
    EXPECT_EQ(segment->Marker(0).pszName, nullptr);
    EXPECT_EQ(segment->Marker(1).lPosition, 48000) << "1000.01 ms rounds to the sample";
    EXPECT_STREQ(segment->Marker(1).pszName, "Verse");
    EXPECT_STREQ(segment->Marker(2).pszName, "End");
    ASSERT_EQ(segment->NumStingers(), 1u);
    EXPECT_EQ(segment->Stinger(0).triggerID, 5u);
    EXPECT_EQ(segment->Stinger(0).uDontRepeatMs, 500u);
    EXPECT_EQ(segment->Stinger(0).uLookAhead, 1u);
    // The containers above own no time settings: the topmost one's stand.
    auto* playlist = Node<CAuPlaylistMusicNode>(kPlaylist);
    auto* top = Node<CAuSwitchMusicNode>(kSwitch);
    EXPECT_EQ(&playlist->GetTimeSettings(), &top->GetTimeSettings());
    EXPECT_FALSE(playlist->GetTempo(tempo));
    EXPECT_EQ(tempo, 0.0f);
    EXPECT_FALSE(playlist->GetOverrideA(value));
    // Speed: 0.5 at the playlist times 4 at the switch.
    EXPECT_EQ(segment->PlaybackSpeed(), 2.0f);
    EXPECT_EQ(top->PlaybackSpeed(), 4.0f);
}

TEST_F(MusicNodesTest, ContainersKeepTheirRulesGroupsTreeAndPlaylist) {
    LoadAll();
    auto* playlist = Node<CAuPlaylistMusicNode>(kPlaylist);
    ASSERT_NE(playlist, nullptr);
    EXPECT_EQ(playlist->Category(), AuNodeCategory_MusicPlaylist);
    ASSERT_EQ(playlist->NumRules(), 2u);
    const AuMusicTransitionRule& any = playlist->Rule(0);
    ASSERT_EQ(any.uNumSources, 1u);
    EXPECT_EQ(any.pSources[0], AU_MUSIC_ANY_ID);
    EXPECT_EQ(any.pTransitionSegment, nullptr);
    const AuMusicTransitionRule& rule = playlist->Rule(1);
    EXPECT_EQ(rule.pSources[0], kSegment);
    EXPECT_EQ(rule.pDestinations[0], kSegment);
    EXPECT_EQ(rule.uSourceFadeOffset, 480u);
    EXPECT_EQ(rule.uSyncType, 2u);
    EXPECT_EQ(rule.uDestEntryType, 2u);
    EXPECT_TRUE(rule.bMatchSourceCueName);
    ASSERT_NE(rule.pTransitionSegment, nullptr);
    EXPECT_EQ(rule.pTransitionSegment->segmentID, kSegment);
    EXPECT_EQ(rule.pTransitionSegment->uFadeInMs, 300u);
    EXPECT_EQ(rule.pTransitionSegment->uFadeInOffset, 960u);
    EXPECT_EQ(rule.pTransitionSegment->uFadeOutOffset, 1440u);
    EXPECT_TRUE(rule.pTransitionSegment->bPlayPreEntry);
    EXPECT_FALSE(rule.pTransitionSegment->bPlayPostExit);

    const AuMusicPlaylistItem& root = playlist->Root();
    EXPECT_EQ(root.uItemID, 100u);
    EXPECT_EQ(root.uLevelMode, 3u);
    EXPECT_EQ(root.uLoopCount, 0u);
    EXPECT_EQ(root.iLoopMin, -1);
    EXPECT_EQ(root.iLoopMax, 2);
    EXPECT_EQ(root.uAvoidRepeat, 1u);
    EXPECT_FALSE(root.bShuffle);
    EXPECT_TRUE(root.bWeighted) << "a child weighs 20000";
    ASSERT_EQ(root.children.Count(), 2u);
    EXPECT_EQ(root.children[0]->segmentID, kSegment);
    EXPECT_EQ(root.children[0]->uItemID, 101u);
    const AuMusicPlaylistItem& group = *root.children[1];
    EXPECT_EQ(group.segmentID, 0u);
    EXPECT_EQ(group.uLevelMode, 1u);
    EXPECT_EQ(group.uWeight, 20000u);
    EXPECT_EQ(group.uAvoidRepeat, 2u);
    EXPECT_TRUE(group.bShuffle);
    EXPECT_FALSE(group.bWeighted);
    ASSERT_EQ(group.children.Count(), 1u);
    EXPECT_EQ(group.children[0]->uItemID, 103u);
    EXPECT_EQ(group.children[0]->uLoopCount, 2u);

    auto* top = Node<CAuSwitchMusicNode>(kSwitch);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->Category(), AuNodeCategory_MusicSwitch);
    EXPECT_FALSE(top->ContinuePlayback());
    ASSERT_EQ(top->Depth(), 2u);
    EXPECT_EQ(top->GroupID(0), 0x77u);
    EXPECT_EQ(top->GroupID(1), 0x78u);
    EXPECT_EQ(top->GroupType(0), 1u);
    EXPECT_EQ(top->GroupType(1), 0u);
    EXPECT_EQ(top->DecisionMode(), 1u);
    ASSERT_EQ(top->TreeSize(), 24u);
    u32 leafNode = 0;
    memcpy(&leafNode, top->TreeData() + 16, 4);
    EXPECT_EQ(leafNode, kPlaylist);
    EXPECT_EQ(top->Child(0), playlist);
}

// At 44.1 kHz the two conversions part: (44100 / 1000) x 10 = 440 against round(441.0).
TEST_F(MusicNodesTest, TheUnsignedAndTheDoubleConversionsStayApart) {
    SetOutputSampleRate(44100);
    bankgen::MusicSegmentRecord segment;
    segment.music.id = kSegment;
    segment.durationMs = 10.0;
    segment.markers = {{1, 10.0, ""}};
    bankgen::MusicPlaylistRecord playlist;
    playlist.music.id = kPlaylist;
    playlist.rules[0].sourceOffsetMs = 10;
    ASSERT_EQ(Load(segment, m_bank), AuResultSuccess);
    ASSERT_EQ(Load(playlist, m_bank), AuResultSuccess);
    EXPECT_EQ(Node<CAuSegmentNode>(kSegment)->Marker(0).lPosition, 441);
    EXPECT_EQ(Node<CAuSegmentNode>(kSegment)->Duration(), 441);
    EXPECT_EQ(Node<CAuPlaylistMusicNode>(kPlaylist)->Rule(0).uSourceFadeOffset, 440u);
}

TEST_F(MusicNodesTest, EmptyRecordsLoadWithEmptyTables) {
    bankgen::MusicSegmentRecord segment;
    segment.music.id = kSegment;
    bankgen::MusicSwitchRecord node;
    node.music.id = kSwitch;
    node.rules.clear();
    bankgen::MusicTrackRecord track;
    track.id = kTrack;
    track.subTrackCount = 0;
    ASSERT_EQ(Load(segment, m_bank), AuResultSuccess);
    ASSERT_EQ(Load(node, m_bank), AuResultSuccess);
    ASSERT_EQ(Load(track, m_bank), AuResultSuccess);
    EXPECT_EQ(Node<CAuSegmentNode>(kSegment)->NumMarkers(), 0u);
    EXPECT_EQ(Node<CAuSegmentNode>(kSegment)->NumStingers(), 0u);
    EXPECT_EQ(Node<CAuSwitchMusicNode>(kSwitch)->Depth(), 0u);
    EXPECT_EQ(Node<CAuSwitchMusicNode>(kSwitch)->TreeSize(), 0u);
    EXPECT_EQ(Node<CAuSwitchMusicNode>(kSwitch)->NumRules(), 0u);
    EXPECT_EQ(Node<CAuTrackNode>(kTrack)->SwitchParams(), nullptr);
    EXPECT_EQ(Node<CAuTrackNode>(kTrack)->NumClips(), 0u);
}

TEST_F(MusicNodesTest, ANodeMetInASecondBankIsListedThereAndNotReadAgain) {
    ASSERT_EQ(Load(Track(), m_bank), AuResultSuccess);
    ASSERT_EQ(Load(Segment(), m_bank), AuResultSuccess);
    bankgen::MusicSegmentRecord changed = Segment();
    changed.durationMs = 1.0;
    changed.music.children.clear();
    ASSERT_EQ(Load(changed, m_other), AuResultSuccess);
    auto* segment = Node<CAuSegmentNode>(kSegment);
    ASSERT_EQ(m_other.objects.Count(), 1u);
    EXPECT_EQ(m_other.objects[0], segment);
    EXPECT_EQ(segment->Duration(), 192000);
    // The first bank goes: the second keeps the segment; the track, held by no bank, leaves it.
    AuReleaseBankObjects(m_bank.objects);
    EXPECT_EQ(Node<CAuSegmentNode>(kSegment), segment);
    EXPECT_EQ(Node<CAuTrackNode>(kTrack), nullptr);
    EXPECT_EQ(segment->GetChildCount(), 0u);
}

TEST_F(MusicNodesTest, ATrackIsReadAgainOnlyWhileNoSourceOfItsOwnHoldsABankDescription) {
    bankgen::MusicTrackRecord bare;
    bare.id = kTrack;
    ASSERT_EQ(Load(bare, m_bank), AuResultSuccess);
    auto* track = Node<CAuTrackNode>(kTrack);
    EXPECT_EQ(track->NumSources(), 0u);
    // Met again without sources: the sources, clips and automation are read, the rest is not.
    ASSERT_EQ(Load(Track(), m_other), AuResultSuccess);
    EXPECT_EQ(Node<CAuTrackNode>(kTrack), track);
    EXPECT_EQ(track->NumSources(), 2u);
    EXPECT_EQ(track->NumClips(), 3u);
    EXPECT_EQ(track->NumAutomations(), 1u);
    EXPECT_EQ(track->TrackType(), 0u) << "the read stopped after the node base part";
    EXPECT_EQ(track->LookAhead(), 0u);
    // Its sources now come from a bank: a third meeting changes nothing.
    bankgen::MusicTrackRecord third = Track();
    third.clips.clear();
    ASSERT_EQ(Load(third, m_other), AuResultSuccess);
    EXPECT_EQ(track->NumClips(), 3u);
    EXPECT_EQ(m_other.objects.Count(), 2u);
}

// Every music record cut anywhere short of its end is refused and builds nothing; the
// children named are loaded beforehand so that only the cut can fail. The segment comes last: once
// read whole, its track (listed by the other bank) holds it.
TEST_F(MusicNodesTest, ACutRecordIsRefusedAtEveryLengthAndBuildsNothing) {
    ASSERT_EQ(Load(Track(), m_other), AuResultSuccess);
    bankgen::MusicSegmentRecord segment = Segment();
    bankgen::MusicPlaylistRecord playlist = Playlist();
    bankgen::MusicSwitchRecord node = Switch();
    playlist.music.children.clear();
    node.music.children.clear();
    bankgen::MusicTrackRecord track = Track();
    track.id = 0x12;
    const std::pair<const char*, bankgen::Record> records[] = {
        {"track", track}, {"switch", node}, {"playlist", playlist}, {"segment", segment}};
    const u32 nodesBefore = m_index.Table(AuIndexNodes).Count();
    ASSERT_TRUE(m_bank.objects.Grow(8));
    const u32 usedBefore = Used();
    for (const auto& [name, record] : records) {
        const Bytes full = Payload(record);
        for (size_t length = 0; length < full.size(); ++length) {
            const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
            // The node base part's property blocks report their own cut with 2.
            const AURESULT result = LoadPayload(bankgen::TypeOf(record), cut, m_bank);
            ASSERT_TRUE(result == AuResultBadHeader || result == AuResultFail)
                << name << " cut to " << length << " of " << full.size() << ": " << result;
            ASSERT_EQ(m_index.Table(AuIndexNodes).Count(), nodesBefore) << name << " " << length;
            ASSERT_EQ(m_bank.objects.Count(), 0u);
            ASSERT_EQ(Used(), usedBefore) << name << " " << length;
        }
        ASSERT_EQ(LoadPayload(bankgen::TypeOf(record), full, m_bank), AuResultSuccess) << name;
        AuReleaseBankObjects(m_bank.objects, 0);
        ASSERT_TRUE(m_bank.objects.Grow(8));
    }
}

// A count that claims more than the record holds is refused before anything is sized by it.
TEST_F(MusicNodesTest, CountsBeyondTheRecordAreRefused) {
    bankgen::MusicSegmentRecord segment;
    segment.music.id = kSegment;
    bankgen::MusicPlaylistRecord playlist;
    playlist.music.id = kPlaylist;
    playlist.rules.clear();
    bankgen::MusicSwitchRecord node;
    node.music.id = kSwitch;
    node.rules.clear();
    bankgen::MusicTrackRecord track;
    track.id = kTrack;
    struct Case {
        const char* what;
        bankgen::Record record;
        i32 at; // byte offset of the u32 count; negative: from the end
    };
    const Case cases[] = {
        {"segment markers", segment, -4},   {"segment stingers", segment, -16},
        {"segment children", segment, -43}, {"playlist items", playlist, -4},
        {"playlist rules", playlist, -8},   {"switch tree bytes", node, -5},
        {"switch depth", node, -9},         {"track sources", track, 5},
        {"track clips", track, 9},          {"track automation", track, 17},
    };
    for (const Case& c : cases) {
        Bytes bytes = Payload(c.record);
        const size_t at = c.at < 0 ? bytes.size() + c.at : static_cast<size_t>(c.at);
        ASSERT_LE(at + 4, bytes.size()) << c.what;
        for (u32 i = 0; i < 4; ++i)
            bytes[at + i] = 0xFF;
        EXPECT_EQ(LoadPayload(bankgen::TypeOf(c.record), bytes, m_bank), AuResultBadHeader) << c.what;
        EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 0u) << c.what;
    }
}

TEST_F(MusicNodesTest, APlaylistTreeMustHoldExactlyItsItems) {
    using Item = bankgen::MusicPlaylistItem;
    const Item leaf{kSegment, 1, 0, 0, 1, 0, 0, bankgen::kUnweighted, 0, 0, 0};
    auto group = [](u32 children) { return Item{0, 2, children, 0, 1, 0, 0, bankgen::kUnweighted, 0, 0, 0}; };
    std::vector<Item> deep;
    for (u32 i = 0; i < 70; ++i)
        deep.push_back(group(1));
    deep.push_back(leaf);
    const std::pair<const char*, std::vector<Item>> cases[] = {
        {"the root names more items than follow", {group(3), leaf, leaf}},
        {"an item lies outside the tree", {group(1), leaf, leaf}},
        {"a group names more items than follow", {group(1), group(2), leaf}},
        {"groups nested 70 deep", deep},
    };
    for (const auto& [what, items] : cases) {
        bankgen::MusicPlaylistRecord playlist;
        playlist.music.id = kPlaylist;
        playlist.items = items;
        EXPECT_EQ(Load(playlist, m_bank), AuResultBadHeader) << what;
        EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 0u) << what;
        EXPECT_EQ(m_bank.objects.Count(), 0u);
    }
}

TEST_F(MusicNodesTest, ChildrenAreCheckedAndKeptInIDOrder) {
    bankgen::MusicSegmentRecord a = Segment(), b = Segment();
    a.music.id = 0x23;
    b.music.id = 0x22;
    a.music.children.clear();
    b.music.children.clear();
    ASSERT_EQ(Load(a, m_bank), AuResultSuccess);
    ASSERT_EQ(Load(b, m_bank), AuResultSuccess);
    ASSERT_EQ(Load(Track(), m_bank), AuResultSuccess);
    const u32 nodes = m_index.Table(AuIndexNodes).Count();
    struct Case {
        const char* what;
        u32 child;
        AURESULT result;
    };
    const Case cases[] = {
        {"a segment under a segment", 0x23, AuResultChildTypeRefused},
        {"a child that is not loaded", 0x99, AuResultIDNotFound},
    };
    for (const Case& c : cases) {
        bankgen::MusicSegmentRecord segment = Segment();
        segment.music.children = {c.child};
        EXPECT_EQ(Load(segment, m_bank), c.result) << c.what;
        EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), nodes) << c.what;
    }
    // A playlist takes segments only; the bank's list order is not the array's.
    bankgen::MusicPlaylistRecord playlist = Playlist();
    playlist.music.children = {0x23, 0x22};
    ASSERT_EQ(Load(playlist, m_bank), AuResultSuccess);
    auto* node = Node<CAuPlaylistMusicNode>(kPlaylist);
    ASSERT_EQ(node->GetChildCount(), 2u);
    EXPECT_EQ(node->Child(0)->key, 0x22u);
    EXPECT_EQ(node->Child(1)->key, 0x23u);
    // A segment that has a parent cannot join a second one.
    bankgen::MusicSwitchRecord other = Switch();
    other.music.children = {0x22};
    EXPECT_EQ(Load(other, m_bank), AuResultChildHasParent);
    bankgen::MusicPlaylistRecord tracks = Playlist();
    tracks.music.id = 0x32;
    tracks.music.children = {kTrack};
    EXPECT_EQ(Load(tracks, m_bank), AuResultChildTypeRefused);
}

TEST_F(MusicNodesTest, OtherTypesAndAGoneEngineAreNotTheReadersToHandle) {
    const Bytes sound = WithHeader(AuHierarchyTypeSound, Payload(bankgen::SoundRecord{}));
    EXPECT_EQ(MusicBankObjectLoader(sound.data(), &m_bank, 1), AuResultTypeNotHandled);
    const Bytes segment = WithHeader(AuHierarchyTypeMusicSegment, Payload(Segment()));
    EXPECT_EQ(MusicBankObjectLoader(segment.data(), nullptr, 1), AuResultFail);
    MusicFrameCallback(true);
    EXPECT_EQ(MusicBankObjectLoader(segment.data(), &m_bank, 1), AuResultTypeNotHandled);
    EXPECT_EQ(m_index.Table(AuIndexNodes).Count(), 0u);
}

// A root over the bank's segment: the sequencer's clock runs at the tree's speed (0.5 x 4), the
// segment counts the play, and the segment's stop action stops the root.
TEST_F(MusicNodesTest, ABanksSegmentIsPlayedAtItsTreesSpeedAndStoppedByItsAction) {
    LoadAll();
    auto* segment = Node<CAuSegmentNode>(kSegment);
    auto* root = AuMusicNew<au_test::TimelineCtx>(nullptr, static_cast<IAuMusicNode*>(segment));
    ASSERT_NE(root, nullptr);
    root->time = segment->GetTimeSettings();
    StartRoot(*root, 7);
    ASSERT_NE(segment->Activity(), nullptr);
    EXPECT_EQ(segment->Activity()->activity, 1u);
    Frame();
    Frame();
    using W = std::vector<std::pair<u64, u32>>;
    EXPECT_EQ(root->windows, (W{{0, 2048}, {2048, 2048}}));

    AuActionExec stop;
    stop.kind = AuActionExec_Stop;
    EXPECT_EQ(segment->ExecuteAction(stop), AuResultSuccess);
    Frame();
    Frame();
    EXPECT_EQ(au_test::TimelineCtx::s_live, 0u) << "the stopped root was let go";
    EXPECT_EQ(segment->Activity(), nullptr) << "and the segment's count given back";
}

// The test segment: entry cue at 0, "Verse" (ID 2) at 48000, exit cue (ID 3) at 144000; beats of
// 12000, bars of 72000, grid lines every 12000 from 504.
TEST_F(MusicNodesTest, ASegmentFindsEachKindOfSyncPoint) {
    LoadAll();
    auto* segment = Node<CAuSegmentNode>(kSegment);
    ASSERT_EQ(segment->ActiveDuration(), 144000);
    ASSERT_EQ(segment->PostExitDuration(), 48000);
    struct Case {
        i64 p;
        u32 type;
        u32 filter;
        bool skip;
        i64 expected; // -1: none
    };
    const Case cases[] = {
        {100, AuMusicSync_Immediate, 0, false, 100},
        {144001, AuMusicSync_Immediate, 0, false, -1}, // past the exit cue
        {0, AuMusicSync_NextBar, 0, false, 72000},     // the next one, not the bar it stands on
        {100, AuMusicSync_NextBar, 0, false, 72000},
        {72000, AuMusicSync_NextBar, 0, false, 144000}, // the exit cue is still inside
        {-5000, AuMusicSync_NextBar, 0, false, 0},      // in the pre-entry: the first bar line
        {100, AuMusicSync_NextBeat, 0, false, 12000},
        {11999, AuMusicSync_NextBeat, 0, true, 24000}, // skipping the current sample
        {100, AuMusicSync_NextGrid, 0, false, 504},
        {600, AuMusicSync_NextGrid, 0, false, 12504},
        {0, AuMusicSync_NextMarker, 0, false, 0},
        {100, AuMusicSync_NextMarker, 0, false, 48000},
        {100, AuMusicSync_NextMarker, 3, false, 144000},
        {100, AuMusicSync_NextMarker, 99, false, 144000}, // none of that ID: the exit cue
        {100, AuMusicSync_NextUserMarker, 0, false, 48000},
        {48000, AuMusicSync_NextUserMarker, 0, false, -1}, // only markers strictly after
        {0, AuMusicSync_EntryCue, 0, false, 0},
        {1, AuMusicSync_EntryCue, 0, false, -1},
        {0, AuMusicSync_EntryCue, 0, true, -1},
        {5, AuMusicSync_ExitCue, 0, false, 144000},
        {0, 8, 0, false, -1},
    };
    for (const Case& c : cases) {
        i64 position = -7;
        const bool found = segment->GetSyncPosition(c.p, c.type, c.filter, c.skip, position);
        EXPECT_EQ(found, c.expected >= 0) << c.p << " type " << c.type;
        if (found) {
            EXPECT_EQ(position, c.expected) << c.p << " type " << c.type;
        }
    }
    // The nearest marker but the exit cue; the earlier of two at the same distance.
    EXPECT_EQ(segment->ClosestMarker(30000), 48000);
    EXPECT_EQ(segment->ClosestMarker(24000), 0);
    EXPECT_EQ(segment->ClosestMarker(140000), 48000);
}

// The bank's segment played by its node (playing ID 7), before its first frame.
class MusicSegmentRootTest : public MusicNodesTest {
protected:
    void SetUp() override {
        MusicNodesTest::SetUp();
        if (HasFatalFailure()) return;
        LoadAll();
        root = PlaySegment();
        ASSERT_NE(root, nullptr);
    }

    CAuSegmentChainCtx* root = nullptr;
};

// A bank's segment played by its node: its own root places the entry cue on the clock (at the
// tree's speed of 2.0 a frame is 2048 samples) and ends the play at the segment's end.
TEST_F(MusicSegmentRootTest, ASegmentsOwnRootPlaysItToItsEnd) {
    auto* segment = Node<CAuSegmentNode>(kSegment);
    EXPECT_EQ(root->EntryClock(), 0);
    ASSERT_NE(root->Segment(), nullptr);
    EXPECT_EQ(segment->Activity()->activity, 1u);
    // 192000 samples from the entry cue to the end: the 94th window of 2048 holds it.
    CAuMusicEngine* engine = g_pMusicEngine.load();
    u32 frames = 0;
    while (engine->pFirstTop && frames < 200) {
        ++frames;
        Frame();
        if (frames == 1) {
            EXPECT_TRUE(root->Segment()->IsPlaying());
        }
    }
    EXPECT_EQ(frames, 94u);
    EXPECT_EQ(segment->Activity(), nullptr);
}

// The segment's stinger (trigger 5, next bar, a segment ID of 0) is found through the root and
// placed on the next bar line of the playing segment.
TEST_F(MusicSegmentRootTest, ATriggerPlacesTheSegmentsStingerOnItsNextBar) {
    Frame();
    root->Sequencer()->Trigger(6); // no stinger answers it
    EXPECT_EQ(root->Sequencer()->FirstStinger(), nullptr);
    root->Sequencer()->Trigger(5);
    const AuMusicStingerRecord* stinger = root->Sequencer()->FirstStinger();
    ASSERT_NE(stinger, nullptr);
    EXPECT_EQ(stinger->uTime, 72000u);
    EXPECT_EQ(stinger->pContext, nullptr);
}

// The entry cue moves so that the next window starts at the sought position; a snap lands on the
// nearest marker but the exit cue and gives back where it landed.
TEST_F(MusicSegmentRootTest, ASegmentsRootSeeksWithinTheSegmentAndStopsOnASeekPastIt) {
    Frame(); // the clock stands at 2048
    struct Case {
        bool percent;
        f32 value;
        bool snap;
        i64 entryClock;
        f32 landed; // the value as the seek leaves it
    };
    const Case cases[] = {
        {false, 1000.0f, false, 2048 - 48000, 1000.0f},
        {false, -5000.0f, false, 2048, -5000.0f}, // not before the segment's start (no pre-entry)
        {true, 0.25f, false, 2048 - 36000, 0.25f},
        {true, 0.4f, true, 2048 - 48000, 1.0f / 3.0f}, // 57600 snaps to the "Verse" marker
        {false, 1100.0f, true, 2048 - 48000, 1000.0f},
        {false, 500.0f, true, 2048, 0.0f}, // as near the entry cue as "Verse": the earlier wins
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.percent ? "fraction " : "ms ") << c.value << (c.snap ? " snapped" : ""));
        bool accepted = false;
        f32 landed = 0.0f;
        if (c.percent) {
            f32 fraction = c.value;
            accepted = root->SeekPercent(fraction, c.snap);
            landed = fraction;
        } else {
            i32 ms = static_cast<i32>(c.value);
            accepted = root->SeekTime(ms, c.snap);
            landed = static_cast<f32>(ms);
        }
        EXPECT_TRUE(accepted);
        EXPECT_EQ(root->EntryClock(), c.entryClock);
        EXPECT_FLOAT_EQ(landed, c.landed);
        EXPECT_TRUE(root->TakeSegmentChanged());
    }
    // 4000 ms is the segment's end: the seek is refused and the play stops.
    i32 end = 4000;
    EXPECT_FALSE(root->SeekTime(end, false));
    Frame();
    EXPECT_EQ(g_pMusicEngine.load()->pFirstTop, nullptr);
    EXPECT_EQ(Node<CAuSegmentNode>(kSegment)->Activity(), nullptr);
}

// The seek action (kind 4) on the segment reaches its roots: by whole milliseconds, or by a
// fraction clamped to [0, 1], snapped to a marker with flag bit 1; a playlist does not seek.
TEST_F(MusicSegmentRootTest, TheSegmentsSeekActionMovesItsRoots) {
    auto* segment = Node<CAuSegmentNode>(kSegment);
    Frame(); // the clock stands at 2048
    struct Case {
        u32 flags;
        i32 ms;
        f32 fraction;
        i64 position; // from the entry cue, at the next window
    };
    const Case cases[] = {
        {0, 1000, 0.0f, 48000},
        {0, 1100, 0.7f, 52800}, // the time form reads the milliseconds only
        {AU_EXEC_SEEK_SNAP, 1100, 0.0f, 48000},
        {AU_EXEC_SEEK_PERCENT, 0, 0.25f, 36000},
        {AU_EXEC_SEEK_PERCENT, 9000, 5.0f, 144000}, // clamped to the exit cue
        {AU_EXEC_SEEK_PERCENT, 0, -1.0f, 0},
        {AU_EXEC_SEEK_PERCENT, 0, std::numeric_limits<f32>::quiet_NaN(), 0},
        {AU_EXEC_SEEK_PERCENT | AU_EXEC_SEEK_SNAP, 0, 0.4f, 48000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "flags " << c.flags << ", " << c.ms << " ms, fraction " << c.fraction);
        AuActionExec seek;
        seek.kind = AuActionExec_Seek;
        seek.flags = c.flags;
        seek.seekMs = c.ms;
        seek.seekPosition = c.fraction;
        EXPECT_EQ(segment->ExecuteAction(seek), AuResultSuccess);
        EXPECT_EQ(root->EntryClock(), 2048 - c.position);
    }
    i32 ms = 1100;
    MusicEngineSeekContextsByTime(kSegment, 0, 0, ms, true);
    EXPECT_EQ(ms, 1000) << "the entry point gives back where the snap landed";
    AuActionExec seek;
    seek.kind = AuActionExec_Seek;
    EXPECT_EQ(Node<CAuPlaylistMusicNode>(kPlaylist)->ExecuteAction(seek), AuResultFail);
}

// A stinger cancelled at a position (counted from its place on the clock, where its entry cue
// lands) fades out over as long as it has played, its pre-entry included: one that has not begun
// stops at the frame's end; one already ending keeps its own end.
TEST_F(MusicSegmentRootTest, ACancelledStingerFadesOutOverWhatItHasPlayed) {
    bankgen::MusicSegmentRecord stingerSegment = Segment();
    stingerSegment.music.id = 0x22;
    stingerSegment.music.children.clear();
    stingerSegment.music.stingers.clear();
    stingerSegment.markers = {{1, 20.0, ""}, {3, 3000.0, ""}}; // the entry cue 960 samples in
    ASSERT_EQ(Load(stingerSegment, m_bank), AuResultSuccess);
    struct Case {
        const char* name;
        i64 position;
        u32 framesToStop; // 21 ms per frame
    };
    const Case cases[] = {
        {"before its pre-entry", -1060, 1},
        {"at its start", -960, 1},
        {"50 ms in", -960 + 2400, 3},
        {"100 ms in", -960 + 4800, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        u32 length = 0;
        CAuMusicCtx* stinger = root->CreateStingerContext(0x22, length);
        ASSERT_NE(stinger, nullptr);
        EXPECT_EQ(length, 144000u + 48000u - 960u);
        root->CancelStinger(*stinger, c.position);
        u32 frames = 0;
        while (!stinger->IsStopped() && frames < 20) {
            ++frames;
            Frame();
        }
        EXPECT_EQ(frames, c.framesToStop);
        stinger->Release();
    }
    u32 length = 0;
    CAuMusicCtx* ending = root->CreateStingerContext(0x22, length);
    ASSERT_NE(ending, nullptr);
    ending->OnStopped(5000);
    root->CancelStinger(*ending, 4800);
    EXPECT_EQ(ending->StopOffset(), 5000u);
    EXPECT_FALSE(ending->HasPlayStopFade());
    ending->Release();
}

// A segment's play without a playing ID is refused and leaves nothing (the fixture counts the
// pool).
TEST_F(MusicNodesTest, ASegmentsPlayWithoutAPlayingIDLeavesNothing) {
    LoadAll();
    auto* segment = Node<CAuSegmentNode>(kSegment);
    AuNodePlayParams params;
    EXPECT_EQ(segment->Play(params), AuResultFail);
    EXPECT_EQ(g_pMusicEngine.load()->pFirstTop, nullptr);
    EXPECT_EQ(segment->Activity(), nullptr);
}

// Preparing a container prepares its stingers' and its rules' transition segments; a missing one
// gives back every reference taken before it (the fixture's end finds no node left).
TEST_F(MusicNodesTest, APreparationThatFailsUndoesWhatItPrepared) {
    bankgen::MusicSegmentRecord a = Segment(), b = Segment();
    a.music.id = 0x22;
    b.music.id = 0x23;
    a.music.children.clear();
    b.music.children.clear();
    ASSERT_EQ(Load(a, m_bank), AuResultSuccess);
    ASSERT_EQ(Load(b, m_bank), AuResultSuccess);
    struct Case {
        const char* what;
        std::vector<u32> stingerSegments;
        u32 transitionSegment;
        AURESULT result;
    };
    const Case cases[] = {
        {"everything there", {0x22, 0, 0x23}, 0x22, AuResultSuccess},
        {"a stinger's segment missing", {0x22, 0x99}, 0x23, AuResultIDNotFound},
        {"a transition segment missing", {0x22, 0x23}, 0x99, AuResultIDNotFound},
    };
    u32 id = 0x50;
    for (const Case& c : cases) {
        bankgen::MusicPlaylistRecord playlist;
        playlist.music.id = ++id;
        for (u32 segment : c.stingerSegments)
            playlist.music.stingers.push_back({1, segment, 0, 0, 0, 0});
        playlist.rules[0].transitionSegment = bankgen::TransitionSegment{c.transitionSegment};
        ASSERT_EQ(Load(playlist, m_bank), AuResultSuccess) << c.what;
        auto* node = Node<CAuPlaylistMusicNode>(id);
        EXPECT_EQ(node->PrepareData(), c.result) << c.what;
        if (c.result == AuResultSuccess) node->UnPrepareData();
    }
}

// Property 54 changed at run time asks every play to read its speed again.
TEST_F(MusicNodesTest, ANewPlaybackSpeedRequestsARefresh) {
    LoadAll();
    CAuMusicEngine* engine = g_pMusicEngine.load();
    auto* playlist = Node<CAuPlaylistMusicNode>(kPlaylist);
    engine->bSpeedRefresh = false;
    EXPECT_EQ(playlist->SetAuProp(54, 0.5f, 0, 0), AuResultSuccess);
    EXPECT_FALSE(engine->bSpeedRefresh) << "the same value";
    EXPECT_EQ(playlist->SetAuProp(54, 0.25f, 0, 0), AuResultSuccess);
    EXPECT_TRUE(engine->bSpeedRefresh);
    EXPECT_EQ(Node<CAuSegmentNode>(kSegment)->PlaybackSpeed(), 1.0f);
}

// ---- Through the running engine's chunk loop ----

class MusicBankEngineTest : public au_test::SoundEngineRunning {
protected:
    void SetUp() override {
        SoundEngineRunning::SetUp();
        if (!HasFatalFailure()) {
            ASSERT_EQ(AU::MusicEngine::Init(nullptr), AuResultSuccess);
        }
    }
    void TearDown() override {
        AU::MusicEngine::Term();
        SoundEngineRunning::TearDown();
    }
    static Bytes Build(bankgen::BankBuilder& builder) {
        Bytes image;
        std::vector<std::string> errors;
        EXPECT_TRUE(builder.Build(image, errors)) << (errors.empty() ? "" : errors.front());
        return image;
    }
    static u32 Nodes() { return g_pIndex->Table(AuIndexNodes).Count(); }
    static bool Has(u32 id) {
        CAuIndexable* found = g_pIndex->GetNodePtrAndAddRef(id, false);
        if (found) found->Release();
        return found != nullptr;
    }
};

TEST_F(MusicBankEngineTest, ABankLoadBuildsItsMusicNodesAndItsUnloadReleasesThem) {
    bankgen::BankBuilder builder(0x4D);
    builder.Add(Track());
    builder.Add(Segment());
    builder.Add(Playlist());
    builder.Add(Switch());
    const Bytes image = Build(builder);
    AuBankID id = 0;
    ASSERT_EQ(AU::SoundEngine::LoadBank(image.data(), static_cast<u32>(image.size()), g_DefaultPoolId, id),
              AuResultSuccess);
    for (u32 node : {kTrack, kSegment, kPlaylist, kSwitch})
        EXPECT_TRUE(Has(node)) << node;
    {
        CAuMainLock lock;
        auto* segment = static_cast<CAuSegmentNode*>(g_pIndex->GetNodePtrAndAddRef(kSegment, false));
        ASSERT_NE(segment, nullptr);
        EXPECT_EQ(segment->NumMarkers(), 3u);
        EXPECT_EQ(segment->Parent()->key, kPlaylist);
        EXPECT_EQ(segment->PlaybackSpeed(), 2.0f);
        segment->Release();
    }
    ASSERT_EQ(AU::SoundEngine::UnloadBank(id, nullptr), AuResultSuccess);
    EXPECT_EQ(Nodes(), 0u);
}

// After Term the reader stays installed and leaves the music records to the core: the load fails
// and builds nothing.
TEST_F(MusicBankEngineTest, AfterTermABankWithMusicLoadsNothing) {
    AU::MusicEngine::Term();
    bankgen::BankBuilder builder(0x4F);
    builder.Add(Track());
    builder.Add(Segment());
    const Bytes image = Build(builder);
    AuBankID id = 0;
    EXPECT_NE(AU::SoundEngine::LoadBank(image.data(), static_cast<u32>(image.size()), g_DefaultPoolId, id),
              AuResultSuccess);
    EXPECT_EQ(Nodes(), 0u);
    EXPECT_EQ(g_pfnBankExtensionReader.load(), &MusicBankObjectLoader);
}

// A bank whose second music record is cut (its size short of its fields) fails with the record's
// 7, and the track read before it is given back.
TEST_F(MusicBankEngineTest, ACutMusicRecordFailsTheLoadAndKeepsNothing) {
    bankgen::BankBuilder builder(0x4E);
    const Bytes head = Build(builder);
    const Bytes track = Payload(Track());
    const Bytes segment = Payload(Segment());
    Bytes hirc;
    auto u32le = [&hirc](u32 v) {
        for (u32 i = 0; i < 4; ++i)
            hirc.push_back(static_cast<u8>(v >> (8 * i)));
    };
    u32le(2);
    hirc.push_back(AuHierarchyTypeMusicTrack);
    u32le(static_cast<u32>(track.size()));
    hirc.insert(hirc.end(), track.begin(), track.end());
    hirc.push_back(AuHierarchyTypeMusicSegment);
    u32le(static_cast<u32>(segment.size() - 9));
    hirc.insert(hirc.end(), segment.begin(), segment.end() - 9);
    Bytes image = head;
    for (char c : std::string("HIRC"))
        image.push_back(static_cast<u8>(c));
    const u32 size = static_cast<u32>(hirc.size());
    for (u32 i = 0; i < 4; ++i)
        image.push_back(static_cast<u8>(size >> (8 * i)));
    image.insert(image.end(), hirc.begin(), hirc.end());
    AuBankID id = 0;
    EXPECT_EQ(AU::SoundEngine::LoadBank(image.data(), static_cast<u32>(image.size()), g_DefaultPoolId, id),
              AuResultBadHeader);
    EXPECT_EQ(Nodes(), 0u);
}

// A bank's segment played by its segment context under a test root: the root maps the music clock
// onto the segment (from its start offset), and the track context starts each clip's source at
// its sample and stops it at the clip's end.
class SegmentRoot : public au_test::TimelineCtx {
public:
    using TimelineCtx::TimelineCtx;
    void ProcessWindow(u64 start, u32 length) noexcept override {
        TimelineCtx::ProcessWindow(start, length);
        ++frame;
        if (segment) segment->ProcessWindow(origin + static_cast<i64>(start), length);
    }
    CAuSegmentCtx* segment = nullptr;
    i64 origin = 0;
    u32 frame = 0;
};

// Records the sources a track context starts; each one records where it is terminated.
class RecordingStarter : public IAuMusicClipStarter {
public:
    struct Source : CAuMusicChild {
        void Terminate(u32 offset) noexcept override { terminatedAt.push_back(offset); }
        void OnLastFrame() noexcept override {}
        void OnStopped(u32) noexcept override {}
        void OnPaused() noexcept override {}
        void OnResumed() noexcept override {}
        void SetFadeLevel(const void*, f32) noexcept override {}
        void SetParamValue(u32, f32) noexcept override {}
        void Notify(u32) noexcept override {}
        void AddRef() noexcept override {}
        void Release() noexcept override {}
        std::vector<u32> terminatedAt;
    };
    struct Start {
        u32 frame;
        i32 clipStart;
        u32 sourceOffset;
        i32 frameOffset;
        bool operator==(const Start&) const = default;
    };
    CAuMusicChild* StartClip(IAuMusicTrackCtx&, CAuTrackNode&, const AuMusicTrackClip& clip, u32 sourceOffset,
                             i32 frameOffset) noexcept override {
        starts.push_back({*frame, clip.lStart, sourceOffset, frameOffset});
        if (fail) return nullptr;
        sources.push_back(std::make_unique<Source>());
        return sources.back().get();
    }
    const u32* frame = nullptr;
    bool fail = false;
    std::vector<Start> starts;
    std::vector<std::unique_ptr<Source>> sources;
};

class MusicSegmentCtxTest : public MusicNodesTest {
protected:
    // A segment whose entry cue lies 20 ms (960 samples) in; its one track holds a PCM source in
    // memory with two clips of sub-track 0 and one of sub-track 1.
    void LoadSegment(u8 streamType, u32 idOffset = 0) {
        bankgen::MusicTrackRecord track;
        track.id = kTrack + idOffset;
        bankgen::SourceRecord source = Source(kMediaSource, bankgen::kCodecPcm);
        source.streamType = streamType;
        track.sources = {source};
        track.clips = {
            {0, kMediaSource, 30.0, 0.0, 0.0, 100.0}, // 1440 to 6240
            {0, kMediaSource, 200.0, 0.0, 0.0, 50.0}, // 9600 to 12000
            {1, kMediaSource, 100.0, 0.0, 0.0, 50.0}, // another sub-track: not this play's
        };
        track.subTrackCount = 2;
        track.lookAheadMs = 10; // 480 samples, for a streamed source
        bankgen::MusicSegmentRecord segment;
        segment.music.id = kSegment + idOffset;
        segment.music.children = {kTrack + idOffset};
        segment.durationMs = 1000.0;
        segment.markers = {{1, 20.0, ""}, {2, 900.0, ""}};
        ASSERT_EQ(Load(track, m_bank), AuResultSuccess);
        ASSERT_EQ(Load(segment, m_bank), AuResultSuccess);
    }
    // The root plays from clock 0 with the segment from `startOffset` (samples from its entry cue).
    void Play(i64 startOffset, AuPlayingID playingID = 7, u32 idOffset = 0) {
        auto* node = Node<CAuSegmentNode>(kSegment + idOffset);
        ASSERT_NE(node, nullptr);
        root = AuMusicNew<SegmentRoot>(nullptr, static_cast<IAuMusicNode*>(node));
        ASSERT_NE(root, nullptr);
        StartRoot(*root, playingID);
        segment = AuMusicNew<CAuSegmentCtx>(root, *node, starter);
        ASSERT_NE(segment, nullptr);
        segment->AddRef();
        segment->SetStartOffset(startOffset);
        segment->PlayWithFade({});
        root->segment = segment;
        root->origin = startOffset;
        starter.frame = &root->frame;
    }
    void Frames(u32 count) {
        for (u32 i = 0; i < count; ++i)
            Frame();
    }
    void End() {
        root->segment = nullptr;
        segment->OnStopped(0);
        EXPECT_EQ(segment->FirstChild(), nullptr) << "the stopped track context was let go";
        segment->Release();
    }

    RecordingStarter starter;
    SegmentRoot* root = nullptr;
    CAuSegmentCtx* segment = nullptr;
};

TEST_F(MusicSegmentCtxTest, ATrackStartsEachClipAtItsSampleAndStopsItAtItsEnd) {
    LoadSegment(0);
    Play(0);
    ASSERT_NE(segment->FirstAction(), nullptr) << "one start of the track waits for the segment's start";
    EXPECT_EQ(segment->FirstAction()->pNext, nullptr);
    Frames(13);
    // The track's clip timeline runs 960 samples ahead of the segment's: window k is
    // [960 + 1024k, 1984 + 1024k).
    using S = RecordingStarter::Start;
    EXPECT_EQ(starter.starts, (std::vector<S>{{1, 1440, 0, 480}, {9, 9600, 0, 448}}));
    ASSERT_EQ(starter.sources.size(), 2u);
    EXPECT_EQ(starter.sources[0]->terminatedAt, std::vector<u32>{160}) << "6240 in window [6080, 7104)";
    EXPECT_EQ(starter.sources[1]->terminatedAt, std::vector<u32>{800}) << "12000 in window [11200, 12224)";
    auto* track = dynamic_cast<CAuTrackCtx*>(segment->FirstChild());
    ASSERT_NE(track, nullptr);
    EXPECT_TRUE(track->IsPlaying());
    EXPECT_EQ(track->StartOffset(), 960);
    EXPECT_EQ(track->SubTrack(), 0u);
    End();
}

// Where the segment starts inside a clip, the clip's source starts at once, that far into it,
// and still stops at the clip's end; a streamed source is started its look-ahead early unless
// prefetched data covers a clip that starts from its source's beginning.
TEST_F(MusicSegmentCtxTest, ClipsUnderWayAndStreamedClipsStartWhereTheirSourceMustStand) {
    using S = RecordingStarter::Start;
    struct Case {
        u8 streamType;
        i64 startOffset;
        std::vector<S> starts;
        std::vector<u32> firstStop;
    };
    const Case cases[] = {
        // Track windows [2960 + 1024k, ...): clip 1 is under way, 2960 - 1440 into its source, and
        // ends at 6240 in [6032, 7056).
        {0, 2000, {{1, 1440, 1520, 0}, {7, 9600, 0, 496}}, {208}},
        // Streamed: each start comes 480 samples early and the clip itself begins 480 later.
        {2, 0, {{1, 1440, 0, 480}, {8, 9600, 0, 1472}}, {160}},
        // Prefetched and from the source's beginning: no look-ahead.
        {1, 0, {{1, 1440, 0, 480}, {9, 9600, 0, 448}}, {160}},
    };
    // Each case plays its own bank objects under its own root; a root left behind plays on silently.
    u32 index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stream type " << int{c.streamType} << " from " << c.startOffset);
        LoadSegment(c.streamType, 0x100 * index);
        Play(c.startOffset, 7 + index, 0x100 * index);
        ++index;
        Frames(10);
        EXPECT_EQ(starter.starts, c.starts);
        ASSERT_FALSE(starter.sources.empty());
        EXPECT_EQ(starter.sources[0]->terminatedAt, c.firstStop);
        End();
        starter = RecordingStarter{};
    }
}

// A segment stopped before its track started: the new track context stops as soon as it starts,
// and the clip it starts is terminated at once at the pending stop offset.
TEST_F(MusicSegmentCtxTest, ATrackStartedByAStoppingSegmentStopsAtOnce) {
    LoadSegment(0);
    Play(0);
    root->origin = -3000; // the segment's start lies 3000 samples ahead
    segment->SetStartOffset(0);
    segment->OnStopped(5000);
    ASSERT_TRUE(segment->IsStopping());
    Frames(1);
    // Segment window [-3000, 2000): the start at 0 comes due in it; the track window
    // [960 - 3000, + 5000) holds the clip's 1440.
    using S = RecordingStarter::Start;
    EXPECT_EQ(starter.starts, (std::vector<S>{{1, 1440, 0, 3480}}));
    ASSERT_EQ(starter.sources.size(), 1u);
    EXPECT_EQ(starter.sources[0]->terminatedAt, std::vector<u32>{5000});
    // The frame's end stopped both contexts, and the segment let go of its track context.
    EXPECT_TRUE(segment->IsStopped());
    EXPECT_EQ(segment->FirstChild(), nullptr);
    End();
}

// A source that cannot be started leaves its clip silent: no stop is queued for it, and the
// following clip still starts.
TEST_F(MusicSegmentCtxTest, ASourceThatFailsToStartIsSkipped) {
    LoadSegment(0);
    Play(0);
    starter.fail = true;
    Frames(1);
    auto* track = dynamic_cast<CAuTrackCtx*>(segment->FirstChild());
    ASSERT_NE(track, nullptr);
    ASSERT_NE(track->FirstAction(), nullptr);
    EXPECT_EQ(track->FirstAction()->uKind, AuMusicClipAction::kStartClip);
    EXPECT_EQ(track->FirstAction()->lTime, 9600);
    EXPECT_EQ(track->FirstAction()->pNext, nullptr);
    starter.fail = false;
    Frames(8);
    using S = RecordingStarter::Start;
    EXPECT_EQ(starter.starts, (std::vector<S>{{1, 1440, 0, 480}, {9, 9600, 0, 448}}));
    ASSERT_EQ(starter.sources.size(), 1u);
    End();
}

} // namespace
