// Test stand-ins for what the music engine drives: a node that records its activity, a child that
// records what the tree hands it, and a top-level context over a scripted timeline (120 beats per
// minute in 4/4 at 48 kHz: a bar is 96000 samples).
#pragma once

#include "music/AuMusicEngine.h"
#include "music/AuMusicSequencer.h"

#include <map>
#include <utility>
#include <vector>

namespace au_test {

constexpr u64 kBar = 96000;
constexpr u32 kSyncNextBar = 1;
constexpr u32 kSyncNextBeat = 2;

class RecordingNode : public IAuMusicNode {
public:
    AuUniqueID NodeID() const noexcept override { return id; }
    bool IncrementActivity(u32 flags) noexcept override {
        calls.push_back(+i32(flags));
        return !refuse;
    }
    void DecrementActivity(u32 flags) noexcept override { calls.push_back(-i32(flags)); }
    f32 PlaybackSpeed() noexcept override { return speed; }

    AuUniqueID id = 500;
    bool refuse = false;
    f32 speed = 1.0f;
    std::vector<i32> calls; // +flags per increment, -flags per decrement
};

class RecordingChild : public CAuMusicChild {
public:
    void OnLastFrame() noexcept override {}
    void OnStopped(u32 offset) noexcept override { stops.push_back(offset); }
    void OnPaused() noexcept override { ++paused; }
    void OnResumed() noexcept override { ++resumed; }
    void SetFadeLevel(const void* owner, f32 level) noexcept override { levels.emplace_back(owner, level); }
    void SetParamValue(u32 key, f32 value) noexcept override { params.emplace_back(key, value); }
    void Notify(u32) noexcept override {}
    void AddRef() noexcept override {}
    void Release() noexcept override {}

    std::vector<u32> stops;
    u32 paused = 0;
    u32 resumed = 0;
    std::vector<std::pair<const void*, f32>> levels;
    std::vector<std::pair<u32, f32>> params;
};

// Two chain items: the playing segment from clock 0 and the one scheduled after it from
// `nextStart`. A group's sync types are declared per item.
class TimelineCtx : public CAuMusicTopCtx {
public:
    static inline u32 s_live = 0;

    TimelineCtx(CAuMusicCtx* parent, IAuMusicNode* node) noexcept : CAuMusicTopCtx(parent, node) { ++s_live; }
    ~TimelineCtx() override {
        --s_live;
        for (CAuMusicChainItem& item : items)
            while (AuMusicScheduledEntry* entry = item.pFirstEntry) {
                item.pFirstEntry = entry->pNext;
                AU::MemoryMgr::Free(g_DefaultPoolId, entry);
            }
    }

    AURESULT GetSegmentInfo(AuSegmentInfo& out) noexcept override {
        out = info;
        out.iCurrentPosition = static_cast<i32>(windows.size());
        return AuResultSuccess;
    }
    bool SeekTime(i32& ms, bool) noexcept override {
        seeks.push_back(ms);
        return acceptSeek;
    }
    bool SeekPercent(f32& fraction, bool) noexcept override {
        seeks.push_back(static_cast<i32>(fraction * 100.0f));
        return acceptSeek;
    }
    void ProcessWindow(u64 start, u32 length) noexcept override {
        windows.emplace_back(start, length);
        for (CAuMusicChainItem& item : items)
            Sequencer()->RunDueEntries(item, start, length);
        if (endAt && start + length > endAt) OnStopped(0);
    }
    CAuMusicChainItem* PlayingItem() noexcept override { return playing ? &items[0] : nullptr; }
    CAuMusicChainItem* NextItem(CAuMusicChainItem* item) noexcept override {
        return item == &items[0] && hasNext ? &items[1] : nullptr;
    }
    IAuMusicNode* ItemNode(CAuMusicChainItem*) noexcept override { return Node(); }
    u32 StateSyncTypes(CAuMusicChainItem* item, AuUniqueID groupID, u32* types, u32 max) noexcept override {
        const auto& declared = syncTypes[item == &items[0] ? 0 : 1];
        const auto found = declared.find(groupID);
        if (found == declared.end() || max == 0) return 0;
        types[0] = found->second;
        return 1;
    }
    bool NextSyncPosition(CAuMusicChainItem* item, u32 syncType, u32 cueFilter, u64 from,
                          u64& position) noexcept override {
        cueFilters.push_back(cueFilter);
        const bool current = item == &items[0];
        const u64 begin = current ? 0 : nextStart;
        const u64 end = current ? nextStart : ~u64{0};
        const u64 unit = syncType == kSyncNextBar ? kBar : kBar / 4;
        const u64 at = from <= begin ? begin : begin + (from - begin + unit - 1) / unit * unit;
        if (at >= end) return false;
        position = at;
        return true;
    }
    bool TakeSegmentChanged() noexcept override { return std::exchange(segmentChanged, false); }
    // The playing segment's node and its ancestors carry `stingers`, in their order.
    bool FindStinger(CAuMusicChainItem* item, AuUniqueID triggerID, AuMusicStinger& out) noexcept override {
        if (item != &items[0]) return false;
        for (const AuMusicStinger& stinger : stingers)
            if (stinger.triggerID == triggerID) {
                out = stinger;
                return true;
            }
        return false;
    }
    // A plain context under this one stands for the stinger's segment.
    CAuMusicCtx* CreateStingerContext(AuUniqueID segmentID, u32& length) noexcept override {
        stingerSegments.push_back(segmentID);
        if (refuseStingerContext) return nullptr;
        CAuMusicCtx* stinger = AuMusicNew<CAuMusicCtx>(this);
        if (!stinger) return nullptr;
        stinger->AddRef();
        stinger->PlayWithFade({});
        length = stingerLength;
        return stinger;
    }
    void ProcessStinger(CAuMusicCtx& stinger, i64 position, u32 length) noexcept override {
        stingerWindows.push_back({&stinger, position, length});
    }
    void CancelStinger(CAuMusicCtx& stinger, i64 position) noexcept override {
        cancelledStingers.push_back({&stinger, position, 0});
        stinger.StopWithFade({}, 0);
    }
    // Item 0's segment enters at 0 and item 1's at nextStart; each is `active[i]` long with no
    // pre-entry, and item 0 carries the markers.
    bool ItemSegment(CAuMusicChainItem* item, AuMusicSegmentTimes& segment) noexcept override {
        const bool current = item == &items[0];
        segment = AuMusicSegmentTimes{current ? 0 : nextStart,
                                      active[current ? 0 : 1],
                                      0,
                                      time,
                                      current ? markers.data() : nullptr,
                                      current ? static_cast<u32>(markers.size()) : 0};
        return true;
    }

    // Takes the scheduled entries of the current item out, as a change of the following segments
    // does, and hands them to the sequencer.
    void ChangeFollowingSegments(u64 newNextStart) {
        nextStart = newNextStart;
        AuMusicScheduledEntry* taken = items[0].pFirstEntry;
        items[0].pFirstEntry = nullptr;
        Sequencer()->Reevaluate(taken);
    }

    CAuMusicChainItem items[2];
    std::map<AuUniqueID, u32> syncTypes[2];
    bool playing = true;
    bool hasNext = true;
    u64 nextStart = 4 * kBar;
    u64 endAt = 0;
    bool segmentChanged = false;
    bool acceptSeek = true;
    AuSegmentInfo info{0, 100, 2000, 300, 0};
    u32 active[2] = {static_cast<u32>(4 * kBar), static_cast<u32>(4 * kBar)};
    AuMusicTimeSettings time{120.0f, 24000, static_cast<u32>(kBar), 12000, 0};
    std::vector<AuMusicMarker> markers;
    std::vector<std::pair<u64, u32>> windows;
    std::vector<i32> seeks;
    std::vector<u32> cueFilters;
    std::vector<AuMusicStinger> stingers;
    bool refuseStingerContext = false;
    u32 stingerLength = static_cast<u32>(kBar);
    std::vector<AuUniqueID> stingerSegments;
    struct StingerCall {
        CAuMusicCtx* context;
        i64 position;
        u32 length;
    };
    std::vector<StingerCall> stingerWindows;
    std::vector<StingerCall> cancelledStingers;
};

// The state manager's part for the music: which handler each game object's triggers reach.
class RecordingTriggers : public IAuTriggerRegistry {
public:
    AURESULT RegisterTrigger(IAuTriggerHandler* handler, CAuRegisteredObj* gameObj) noexcept override {
        registered.emplace_back(handler, gameObj);
        return refuse ? AuResultFail : AuResultSuccess;
    }
    void UnregisterTrigger(IAuTriggerHandler* handler, CAuRegisteredObj* gameObj) noexcept override {
        unregistered.emplace_back(handler, gameObj);
    }

    bool refuse = false;
    std::vector<std::pair<IAuTriggerHandler*, CAuRegisteredObj*>> registered;
    std::vector<std::pair<IAuTriggerHandler*, CAuRegisteredObj*>> unregistered;
};

} // namespace au_test
