// What the chunk reader hands on: each known chunk's content goes to the manager that keeps it.
// The interfaces are narrow on purpose; the state, switch, game-parameter, curve-table and
// hierarchy managers implement them, and tests record the calls.
#pragma once

#include "banks/AuBankFormat.h"
#include "memory/AuArray.h"

class CAuBankReader;
class CAuIndexable;
struct CAuLoadedBank;

// The objects a bank holds, one reference each.
using AuBankObjectList = AuArray<CAuIndexable*>;

// "STMG": engine-wide settings, in the order the chunk gives them.
class IAuBankSettingsSink {
public:
    // Priority 2: a bank never overrides a value the game set. The setters refuse what they do
    // not accept; that does not fail the chunk.
    virtual void SetVolumeThreshold(f32 thresholdDb, u32 priority) = 0;
    virtual void SetMaxNumVoices(u16 maxVoices, u32 priority) = 0;
    // False when the group cannot be created (the chunk then fails with 2).
    virtual bool AddStateGroup(u32 groupID) = 0;
    virtual void SetDefaultTransitionTime(u32 groupID, u32 ms) = 0;
    virtual void AddStateTransition(u32 groupID, u32 fromState, u32 toState, u32 ms) = 0;
    // Zero points drop an earlier binding of the group. The points are valid during the call only.
    virtual AURESULT AddSwitchRTPC(u32 switchGroupID, u32 gameParameterID, u8 drivingType,
                                   const AuBankSwitchPoint* points, u32 count) = 0;
    virtual void SetGameParameter(u32 gameParameterID, f32 defaultValue, u32 rampKind, f32 rampUp,
                                  f32 rampDown) = 0;
    // Kinds 1 to 6 only.
    virtual AURESULT AddBuiltInParamBinding(u32 gameParameterID, u8 kind) = 0;

protected:
    ~IAuBankSettingsSink() = default;
};

// "ENVS": the obstruction and occlusion curves.
class IAuCurveTableSink {
public:
    // False while the engine is not initialised (no state manager): the chunk fails with 2.
    virtual bool IsReady() = 0;
    // The points are valid during the call only; a curve may have none.
    virtual void SetCurve(u32 group, u32 output, bool enabled, u8 scaling, const AuBankCurvePoint* points,
                          u32 count) = 0;

protected:
    ~IAuCurveTableSink() = default;
};

// "DATA" with the index of the "DIDX" read before it. Every entry lies inside the payload.
class IAuBankMediaSink {
public:
    // Load mode 0, bank not used in place: the block the payload is read into. It belongs to the
    // bank from here on, whatever happens to the load. Null fails the load with 52.
    virtual void* AllocateDataBlock(u32 size) = 0;
    // Load mode 0: the payload is in `block` (in place or copied). Entries with media ID 0 are
    // to be ignored.
    virtual AURESULT RegisterMedia(const AuMediaIndexEntry* entries, u32 count, const u8* block,
                                   u32 size) = 0;
    // Load modes 1 and 3: copy the media out of the payload through the reader, which is
    // bounded to it; what is not read is skipped afterwards.
    virtual AURESULT PrepareMedia(CAuBankReader& reader, const AuMediaIndexEntry* entries, u32 count,
                                  u32 size) = 0;

protected:
    ~IAuBankMediaSink() = default;
};

// "HIRC": one call per record.
class IAuHierarchySink {
public:
    // Before and after each read of a bank, loaded or prepared: the list its objects go to (null
    // after).
    virtual void BeginBank(AuBankObjectList*, CAuLoadedBank*, u32) {}
    // Before the first record; the record count sizes the bank's object list (failure: 2).
    virtual AURESULT BeginHierarchy(u32 recordCount) = 0;
    // A record of a type the core builds (AuIsCoreHierarchyType). The payload holds at least the
    // object ID and is valid during the call only.
    virtual AURESULT LoadRecord(u8 type, const u8* payload, u32 size) = 0;
    // Whether a bank extension reader is installed for the other types.
    virtual bool HasExtensionReader() = 0;
    // Reads the record through the reader, bounded to its payload: 1 read, 3 not handled, any
    // other result fails the load.
    virtual AURESULT ReadExtensionRecord(u8 type, u32 size, CAuBankReader& reader) = 0;

protected:
    ~IAuHierarchySink() = default;
};
