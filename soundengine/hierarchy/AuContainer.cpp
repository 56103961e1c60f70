#include "hierarchy/AuContainer.h"

#include "core/AuAudioMgr.h"
#include "core/AuRegistryMgr.h"

#include <AU/MemoryMgr.h>

#include <windows.h>

#include <new>

namespace {

template <class T, class... Args> T* MakeInPool(Args&&... args) {
    void* memory = AU::MemoryMgr::Malloc(g_DefaultPoolId, sizeof(T));
    return memory ? new (memory) T(static_cast<Args&&>(args)...) : nullptr;
}

template <class T> void FreeInPool(T* object) {
    object->~T();
    AU::MemoryMgr::Free(g_DefaultPoolId, object);
}

class CAuRandomPlaylist final : public CAuPlaylist {
public:
    u32 Count() const override { return m_items.Count(); }
    u32 ChildAt(u32 index) const override { return m_items[index].childID; }
    AURESULT Add(u32 childID, u32 weight) override {
        if (m_items.Count() == m_items.Capacity() && !m_items.Grow(kGrowth)) return AuResultFail;
        m_items.AddLast(Item{childID, weight});
        m_total += weight;
        return AuResultSuccess;
    }
    bool Contains(u32 childID) const override {
        return m_items.IndexOf([childID](const Item& item) { return item.childID == childID; }) <
               m_items.Count();
    }
    u32 WeightAt(u32 index) const override { return m_items[index].weight; }
    u64 TotalWeight() const override { return m_total; }

private:
    static constexpr u32 kGrowth = 8;
    struct Item {
        u32 childID;
        u32 weight;
    };
    AuArray<Item> m_items;
    u64 m_total = 0;
};

class CAuSequencePlaylist final : public CAuPlaylist {
public:
    u32 Count() const override { return m_children.Count(); }
    u32 ChildAt(u32 index) const override { return m_children[index]; }
    AURESULT Add(u32 childID, u32) override {
        if (m_children.Count() == m_children.Capacity() && !m_children.Grow(kGrowth)) return AuResultFail;
        m_children.AddLast(childID);
        return AuResultSuccess;
    }
    bool Contains(u32 childID) const override {
        return m_children.IndexOf([childID](u32 id) { return id == childID; }) < m_children.Count();
    }
    u32 WeightAt(u32) const override { return AU_PLAYLIST_UNWEIGHTED; }
    u64 TotalWeight() const override { return u64{AU_PLAYLIST_UNWEIGHTED} * m_children.Count(); }

private:
    static constexpr u32 kGrowth = 16;
    AuArray<u32> m_children;
};

bool AcceptsChildCategory(AuNodeCategory category) {
    return category == AuNodeCategory_Sound || category == AuNodeCategory_LeafType17 ||
           category == AuNodeCategory_RandomSequence || category == AuNodeCategory_Switch ||
           category == AuNodeCategory_LayerContainer;
}

} // namespace

// ---- Playlist states ----

void CAuPlaylistState::Destroy() {
    FreeInPool(this);
}

CAuSequencePlaylistState* CAuSequencePlaylistState::Create() {
    return MakeInPool<CAuSequencePlaylistState>();
}

CAuRandomPlaylistState* CAuRandomPlaylistState::Create(u16 items, u16 avoidRepeat, AURESULT& result) {
    auto* state = MakeInPool<CAuRandomPlaylistState>();
    if (!state) {
        result = AuResultFail;
        return nullptr;
    }
    state->total = state->available = u64{items} * AU_PLAYLIST_UNWEIGHTED;
    state->selectable = state->unplayed = items;
    const u16 reserved = avoidRepeat < 4 ? avoidRepeat : 4;
    state->m_uBitmapBytes = (u32{items} + 7) / 8;
    const u32 bytes = 2 * (state->m_uBitmapBytes ? state->m_uBitmapBytes : 1);
    state->m_pBits = static_cast<u8*>(AU::MemoryMgr::Malloc(g_DefaultPoolId, bytes));
    if (!state->m_pBits || (reserved && !state->history.Grow(reserved))) {
        state->Destroy();
        result = AuResultNoMemory;
        return nullptr;
    }
    memset(state->m_pBits, 0, bytes);
    return state;
}

CAuRandomPlaylistState::~CAuRandomPlaylistState() {
    if (m_pBits) AU::MemoryMgr::Free(g_DefaultPoolId, m_pBits);
}

void CAuRandomPlaylistState::ResetPlayed() {
    memset(m_pBits, 0, m_uBitmapBytes);
}

// ---- The container ----

CAuRandomSequenceContainer* CAuRandomSequenceContainer::Create(u32 id, u8 mode) {
    auto* node = MakeInPool<CAuRandomSequenceContainer>(id);
    if (!node) return nullptr;
    node->AddToIndex();
    node->m_packedB =
        u8((node->m_packedB & ~AU_RANSEQ_PLAYLIST_MODE_MASK) | (mode & AU_RANSEQ_PLAYLIST_MODE_MASK));
    if (node->MakePlaylist() != AuResultSuccess) {
        node->Release();
        return nullptr;
    }
    return node;
}

CAuRandomSequenceContainer::CAuRandomSequenceContainer(u32 id) : CAuContainerBase(id) {}

CAuRandomSequenceContainer::~CAuRandomSequenceContainer() {
    for (ObjectState& entry : m_objectStates)
        entry.pState->Destroy();
    m_objectStates.Term();
    if (m_pGlobalState) m_pGlobalState->Destroy();
    if (m_pPlaylist) FreeInPool(m_pPlaylist);
}

AURESULT CAuRandomSequenceContainer::MakePlaylist() {
    if (PlaylistMode() == AuPlaylistMode_Sequence)
        m_pPlaylist = MakeInPool<CAuSequencePlaylist>();
    else
        m_pPlaylist = MakeInPool<CAuRandomPlaylist>();
    return m_pPlaylist ? AuResultSuccess : AuResultFail;
}

AURESULT CAuRandomSequenceContainer::CanAddChild(CAuNodeBase* child) {
    if (GetChildCount() >= AU_MAX_CHILDREN) return AuResultTooManyChildren;
    if (!AcceptsChildCategory(child->Category())) return AuResultChildTypeRefused;
    if (child->Parent()) return AuResultChildHasParent;
    if (FindChild(child->key)) return AuResultAlreadyAChild;
    if (child->key == key) return AuResultCannotBeOwnChild;
    return AuResultSuccess;
}

void CAuRandomSequenceContainer::ForgetObject(CAuRegisteredObj* gameObj) {
    if (gameObj) {
        const u32 id = gameObj->ID();
        const u32 at = m_objectStates.LowerBound(
            id, [](const ObjectState& row, u32 wanted) { return row.gameObjID < wanted; });
        if (at < m_objectStates.Count() && m_objectStates[at].gameObjID == id) {
            m_objectStates[at].pState->Destroy();
            m_objectStates.EraseOrdered(at);
        }
    }
    CAuContainerBase::ForgetObject(gameObj);
}

AURESULT CAuRandomSequenceContainer::RecalcNotificationWithID(const AuRTPCSubscription& subscription,
                                                              u32 target, u32 paramID, f32 value,
                                                              const AuRTPCKey& key, bool flag,
                                                              const CAuRTPCFilter* filter) {
    if (target == AU_TARGET_TRANSITION_TIME) return AuResultSuccess;
    return CAuContainerBase::RecalcNotificationWithID(subscription, target, paramID, value, key, flag,
                                                      filter);
}

// ---- Bank record ----

AURESULT CAuRandomSequenceContainer::SetInitialValues(const u8* payload, u32 size) {
    AuRecordCursor cursor(payload, size);
    if (!cursor.Skip(4)) return AuResultBadHeader;
    AURESULT result = SetNodeBaseParams(cursor, false);
    if (result != AuResultSuccess) return result;
    u16 loopCount = 0, loopMin = 0, loopMax = 0, avoidRepeat = 0;
    f32 transition = 0, transitionMin = 0, transitionMax = 0;
    u8 transitionMode = 0, randomMode = 0, playlistMode = 0, flags = 0;
    if (!cursor.Read(loopCount) || !cursor.Read(loopMin) || !cursor.Read(loopMax) ||
        !cursor.Read(transition) || !cursor.Read(transitionMin) || !cursor.Read(transitionMax) ||
        !cursor.Read(avoidRepeat) || !cursor.Read(transitionMode) || !cursor.Read(randomMode) ||
        !cursor.Read(playlistMode) || !cursor.Read(flags))
        return AuResultBadHeader;
    m_uLoopCount = loopCount;
    // An infinite loop has no offsets to draw, whatever the file holds.
    m_loopMin = loopCount ? static_cast<i16>(loopMin) : 0;
    m_loopMax = loopCount ? static_cast<i16>(loopMax) : 0;
    if ((result = SetPlaylistMode(playlistMode == AuPlaylistMode_Sequence ? AuPlaylistMode_Sequence
                                                                          : AuPlaylistMode_Random)) !=
        AuResultSuccess)
        return result;
    m_fTransitionMs = transition;
    m_fTransitionMin = transitionMin;
    m_fTransitionMax = transitionMax;
    SetAvoidRepeatCount(avoidRepeat);
    SetTransitionMode(transitionMode & AU_RANSEQ_TRANSITION_MODE_MASK);
    SetRandomMode(randomMode & 3);
    SetPackedFlag(AU_RANSEQ_PRIVATE_POSITION, (flags >> 1) & 1);
    SetPackedFlag(AU_RANSEQ_REVERSE_AT_END, (flags >> 2) & 1);
    SetPackedFlag(AU_RANSEQ_CONTINUOUS, (flags >> 3) & 1);
    SetPackedFlag(AU_RANSEQ_GLOBAL_SCOPE, (flags >> 4) & 1);
    if ((result = SetChildren(cursor)) != AuResultSuccess) return result;
    u16 items = 0;
    if (!cursor.Read(items) || cursor.Left() / 8 < items) return AuResultBadHeader;
    for (u16 n = 0; n < items; ++n) {
        u32 childID = 0, weight = 0;
        cursor.Read(childID);
        cursor.Read(weight);
        if ((result = AddPlaylistItem(childID, weight)) != AuResultSuccess) return result;
    }
    return AuResultSuccess;
}

// ---- Settings ----

AURESULT CAuRandomSequenceContainer::AddPlaylistItem(u32 childID, u32 weight) {
    if (weight != AU_PLAYLIST_UNWEIGHTED) m_packedB |= AU_RANSEQ_WEIGHTED;
    if (PlaylistMode() != AuPlaylistMode_Sequence && m_pPlaylist->Contains(childID))
        return AuResultRepeatedPlaylistChild;
    const AURESULT result = m_pPlaylist->Add(childID, weight);
    if (result == AuResultSuccess) ResetPlaylistStates();
    return result;
}

AURESULT CAuRandomSequenceContainer::SetPlaylistMode(u8 mode) {
    if (mode == PlaylistMode()) return AuResultSuccess;
    CAuPlaylist* old = m_pPlaylist;
    const u8 oldB = m_packedB;
    m_packedB = u8((m_packedB & ~AU_RANSEQ_PLAYLIST_MODE_MASK) | (mode & AU_RANSEQ_PLAYLIST_MODE_MASK));
    if (MakePlaylist() != AuResultSuccess) {
        m_pPlaylist = old;
        m_packedB = oldB;
        return AuResultFail;
    }
    if (old) FreeInPool(old);
    ResetPlaylistStates();
    return AuResultSuccess;
}

void CAuRandomSequenceContainer::SetAvoidRepeatCount(u16 count) {
    if (count == m_uAvoidRepeat) return;
    m_uAvoidRepeat = count;
    ResetPlaylistStates();
}

void CAuRandomSequenceContainer::SetTransitionMode(u8 mode) {
    if (mode == TransitionMode()) return;
    m_packedA = u8((m_packedA & ~AU_RANSEQ_TRANSITION_MODE_MASK) | (mode & AU_RANSEQ_TRANSITION_MODE_MASK));
    ResetPlaylistStates();
}

void CAuRandomSequenceContainer::SetRandomMode(u8 mode) {
    if (mode == RandomMode()) return;
    m_packedA =
        u8((m_packedA & AU_RANSEQ_TRANSITION_MODE_MASK) | ((mode & 3) << AU_RANSEQ_RANDOM_MODE_SHIFT));
    ResetPlaylistStates();
}

void CAuRandomSequenceContainer::SetPackedFlag(u8 bit, bool on) {
    if (((m_packedB & bit) != 0) == on) return;
    m_packedB = on ? u8(m_packedB | bit) : u8(m_packedB & ~bit);
    ResetPlaylistStates();
}

void CAuRandomSequenceContainer::ResetPlaylistStates() {
    for (ObjectState& entry : m_objectStates)
        entry.pState->Destroy();
    m_objectStates.Term();
    if (m_pGlobalState) m_pGlobalState->Destroy();
    m_pGlobalState = nullptr;
    if (!m_bPlayed) return;
    if (g_pAudioMgr) {
        g_pAudioMgr->ClearPendingItemsOfNode(this);
        g_pAudioMgr->ClearPausedItemsOfNode(this);
    }
    Stop(nullptr, 0, 0, AuCurveInterpolation_Linear);
}

// ---- States ----

CAuPlaylistState* CAuRandomSequenceContainer::MakeState(AURESULT& result) {
    if (PlaylistMode() == AuPlaylistMode_Sequence) {
        CAuPlaylistState* state = CAuSequencePlaylistState::Create();
        if (!state) result = AuResultFail;
        return state;
    }
    CAuRandomPlaylistState* state =
        CAuRandomPlaylistState::Create(static_cast<u16>(m_pPlaylist->Count()), m_uAvoidRepeat, result);
    if (state && (m_packedB & AU_RANSEQ_WEIGHTED))
        state->total = state->available = m_pPlaylist->TotalWeight();
    return state;
}

CAuPlaylistState* CAuRandomSequenceContainer::FindObjectState(u32 gameObjID) const {
    const u32 at = m_objectStates.LowerBound(
        gameObjID, [](const ObjectState& row, u32 wanted) { return row.gameObjID < wanted; });
    return at < m_objectStates.Count() && m_objectStates[at].gameObjID == gameObjID
               ? m_objectStates[at].pState
               : nullptr;
}

CAuPlaylistState* CAuRandomSequenceContainer::GetState(CAuRegisteredObj* gameObj, AURESULT& result) {
    if ((m_packedB & AU_RANSEQ_GLOBAL_SCOPE) || !gameObj) {
        if (!m_pGlobalState) m_pGlobalState = MakeState(result);
        return m_pGlobalState;
    }
    const u32 id = gameObj->ID();
    const u32 at = m_objectStates.LowerBound(
        id, [](const ObjectState& row, u32 wanted) { return row.gameObjID < wanted; });
    if (at < m_objectStates.Count() && m_objectStates[at].gameObjID == id) return m_objectStates[at].pState;
    CAuPlaylistState* state = MakeState(result);
    if (!state) return nullptr;
    // The object tells the container when it goes, so that its state goes too.
    if (gameObj->AddModifiedNode(AuModifiedNode{key, 0}) != AuResultSuccess) {
        state->Destroy();
        result = AuResultFail;
        return nullptr;
    }
    if (!m_objectStates.Insert(at, ObjectState{id, state})) {
        state->Destroy();
        result = AuResultFail;
        return nullptr;
    }
    return state;
}

// ---- Picks ----

bool CAuRandomSequenceContainer::IsSelectable(const CAuRandomPlaylistState& state, u32 index) const {
    if (RandomMode() == AuRandomMode_Shuffle) return !state.WasPlayed(index) && !state.IsBlocked(index);
    return m_uAvoidRepeat == 0 || !state.IsBlocked(index);
}

void CAuRandomSequenceContainer::CommitStandardPick(CAuRandomPlaylistState& state, u16 index) {
    if (!state.WasPlayed(index)) {
        state.MarkPlayed(index);
        --state.unplayed;
    }
    if (m_uAvoidRepeat == 0) return;
    if (!state.history.AddLast(index)) {
        state.unplayed = 0;
        return;
    }
    --state.selectable;
    state.BlockItem(index);
    state.available -= m_pPlaylist->WeightAt(index);
    const u32 items = m_pPlaylist->Count();
    const u32 kept = m_uAvoidRepeat < items - 1 ? m_uAvoidRepeat : items - 1;
    if (state.history.Count() > kept) {
        const u16 oldest = state.history[0];
        state.history.EraseOrdered(0);
        state.UnblockItem(oldest);
        state.available += m_pPlaylist->WeightAt(oldest);
        ++state.selectable;
    }
}

void CAuRandomSequenceContainer::CommitShufflePick(CAuRandomPlaylistState& state, u16 index) {
    const u32 avoid = m_uAvoidRepeat ? m_uAvoidRepeat : 1;
    state.available -= m_pPlaylist->WeightAt(index);
    --state.selectable;
    --state.unplayed;
    state.MarkPlayed(index);
    if (!state.history.AddLast(index)) {
        state.unplayed = 0;
        return;
    }
    state.BlockItem(index);
    const u32 items = m_pPlaylist->Count();
    const u32 kept = avoid < items - 1 ? avoid : items - 1;
    if (state.history.Count() > kept) {
        const u16 oldest = state.history[0];
        state.history.EraseOrdered(0);
        state.UnblockItem(oldest);
        if (!state.WasPlayed(oldest)) {
            state.available += m_pPlaylist->WeightAt(oldest);
            ++state.selectable;
        }
    }
}

bool CAuRandomSequenceContainer::PickRandom(CAuRandomPlaylistState& state, u16& index) {
    index = 0;
    const u32 items = m_pPlaylist->Count();
    if (items == 0) return false;
    const bool shuffle = RandomMode() == AuRandomMode_Shuffle;
    if (state.unplayed == 0) {
        state.unplayed = static_cast<u16>(items);
        state.ResetPlayed();
        state.selectable = static_cast<u16>(items);
        if (shuffle) {
            state.available = state.total;
            for (u16 held : state.history)
                state.available -= m_pPlaylist->WeightAt(held);
        }
        state.selectable = static_cast<u16>(state.selectable - state.history.Count());
    }
    if (state.selectable == 0) return false;
    bool found = false;
    // Weights that add up to nothing leave no range to draw in: the unweighted rule then picks
    // among the same items.
    if ((m_packedB & AU_RANSEQ_WEIGHTED) && state.available != 0) {
        const u64 t = ((u64(rand()) << 15) + u64(rand())) % state.available;
        i64 sum = -1;
        for (u32 i = 0; i < items && !found; ++i) {
            if (!IsSelectable(state, i)) continue;
            sum += m_pPlaylist->WeightAt(i);
            if (sum >= static_cast<i64>(t)) {
                index = static_cast<u16>(i);
                found = true;
            }
        }
    } else {
        const u16 t = static_cast<u16>(u16(rand()) % state.selectable);
        i32 counted = -1;
        for (u32 i = 0; i < items && !found; ++i) {
            if (IsSelectable(state, i) && ++counted == t) {
                index = static_cast<u16>(i);
                found = true;
            }
        }
    }
    if (!found) return false;
    if (shuffle)
        CommitShufflePick(state, index);
    else
        CommitStandardPick(state, index);
    return true;
}

bool CAuRandomSequenceContainer::PickSequence(CAuSequencePlaylistState& state, u16& index) {
    index = 0;
    const i32 items = static_cast<i32>(m_pPlaylist->Count());
    if (items == 0) return false;
    i32 candidate = 0;
    if (state.forward) {
        if (state.current + 1 < items) {
            index = static_cast<u16>(++state.current);
            return true;
        }
        // A single item has nowhere to turn back to.
        if ((m_packedB & AU_RANSEQ_REVERSE_AT_END) && items > 1) {
            state.forward = 0;
            index = static_cast<u16>(--state.current);
            return true;
        }
        candidate = 0;
    } else {
        if (state.current > 0) {
            index = static_cast<u16>(--state.current);
            return true;
        }
        state.forward = 1;
        candidate = items > 1 ? 1 : 0;
    }
    state.current = static_cast<i16>(candidate);
    index = static_cast<u16>(candidate);
    return true;
}

// ---- Play ----

AURESULT CAuRandomSequenceContainer::Play(AuNodePlayParams& params) {
    m_bPlayed = true;
    return StepPlay(params);
}

bool CAuRandomSequenceContainer::PlayChild(u16 index, AuNodePlayParams& params, AURESULT& result) {
    CAuIndexable* found = g_pIndex->GetPtrAndAddRef(AuIndexNodes, m_pPlaylist->ChildAt(index));
    if (!found) return false;
    // Every category a container accepts is a parameter node.
    auto* child = static_cast<CAuParameterNode*>(static_cast<CAuNodeBase*>(found));
    params.path.Push(index, false);
    result = child->ExecutePlay(params);
    child->Release();
    return true;
}

AURESULT CAuRandomSequenceContainer::StepPlay(AuNodePlayParams& params) {
    const u32 items = m_pPlaylist->Count();
    AURESULT result = AuResultSuccess;
    if (items == 1) return PlayChild(0, params, result) ? result : AuResultFail;
    if (items == 0) return AuResultFail;
    CAuPlaylistState* state = GetState(params.pGameObj, result);
    if (!state) return result;
    u16 index = 0;
    if (state->IsSequence()) {
        auto& sequence = static_cast<CAuSequencePlaylistState&>(*state);
        for (u32 attempt = 0; attempt < items && PickSequence(sequence, index); ++attempt)
            if (PlayChild(index, params, result)) return result;
        return AuResultFail;
    }
    auto& random = static_cast<CAuRandomPlaylistState&>(*state);
    if (!PickRandom(random, index)) return AuResultFail;
    if (PlayChild(index, params, result)) return result;
    const bool standard = RandomMode() == AuRandomMode_Standard;
    for (u32 attempt = 1; attempt < items; ++attempt) {
        if (standard) {
            // The next item along, unless avoid-repeat holds it back.
            index = static_cast<u16>((index + 1) % items);
            if (!IsSelectable(random, index)) continue;
            CommitStandardPick(random, index);
        } else if (!PickRandom(random, index)) {
            break;
        }
        if (PlayChild(index, params, result)) return result;
    }
    return AuResultFail;
}

// ---- Loader entry ----

namespace {

CAuIndexable* CreateRandomSequence(u32 id, const u8*, u32) {
    return CAuRandomSequenceContainer::Create(id, AuPlaylistMode_Sequence);
}

AURESULT ReadRandomSequence(CAuIndexable& object, const u8* payload, u32 size, bool) {
    auto& node = static_cast<CAuRandomSequenceContainer&>(object);
    const AURESULT result = node.SetInitialValues(payload, size);
    // A container refused after its child list lets its children go, so that the loader's
    // release destroys it.
    if (result != AuResultSuccess) node.RemoveAllChildren();
    return result;
}

} // namespace

AuHierarchyLoaderEntry AuRandomSequenceLoaderEntry() {
    return {AuIndexNodes, &CreateRandomSequence, &ReadRandomSequence, nullptr, nullptr};
}
