// Plug-in settings objects: one effect's or source plug-in's settings as a bank stores them, shared
// by every node and bus that names them. Hierarchy type 18 lives in index table 10, type 19 in
// table 11; both are the same class. The object owns the plug-in's parameter object, the media the
// plug-in uses, the game-parameter curves that drive its parameters and further values by key.
// Hosts (voice effect nodes, bus inserts and mixers) run a clone of the parameter object through a
// parameter holder, the game-parameter subscriber of kind 0.
#pragma once

#include "core/AuObjectIndex.h"
#include "memory/AuArray.h"
#include "parameters/AuParamCurve.h"
#include "parameters/AuRTPCKey.h"
#include "parameters/AuRTPCSubscriber.h"

#include <AU/AuPluginTypes.h>

constexpr u32 AU_NO_PLUGIN = 0xFFFFFFFFu;

struct AuPluginMediaEntry {
    u32 index;
    u32 mediaID;
};

// A curve from a game parameter (or a modulator, kind 2) to one plug-in parameter.
struct AuPluginRTPCEntry {
    u32 gameParamID;
    u32 kind;
    u32 mode;
    u32 curveID;
    u32 parameterID;
    AuCurvePoint* pPoints; // default pool, owned; null without points
    u32 uPointCount;
    u32 uScaling;
};

struct AuPluginInitialValue {
    u32 key;
    f32 value;
};

class CAuPluginSettings : public CAuIndexable {
public:
    // The settings an effect slot names (type 18 when shared, else 19), with a reference; null for
    // ID 0 (an empty slot) and for an ID no loaded bank holds, which the engine logs once: the
    // slot plays dry.
    static CAuPluginSettings* Find(u32 id, bool shared);

    u32 AddRef() override;
    // The last reference leaves the index, frees the curves and arrays and ends the parameter object.
    u32 Release() override;
    // True for the shared settings of type 18.
    virtual bool IsShared() const = 0;

    // The bank payload of types 18 and 19, from its ID on. The record is walked first, so a size
    // or count beyond it gives 7 with nothing changed. Otherwise: the parameter object's creation
    // and Init decide the result (no registered plug-in is not a failure); media, curves and
    // values are stored as far as memory allows.
    AURESULT LoadPluginSettings(const u8* payload, u32 size);

    // Ends the current parameter object and takes this one and its plug-in ID.
    void SetParamObject(u32 pluginID, AU::IAuPluginParam* params);

    // The accumulation mode of the curve driving the parameter, or 0.
    u32 GetRTPCEntry(u32 parameterID) const;
    // The value stored under the key, or the default.
    f32 GetParamValue(u32 key, f32 defaultValue = 0.0f) const;
    // The media ID at the plug-in's media index, 0 when the index is absent.
    u32 GetMediaID(u32 index) const;

    // Subscribes every curve for the holder and key with the game-parameter manager; the first
    // failure is returned, the other curves are still subscribed. [audio thread]
    AURESULT SubscribeRTPCs(IAuPluginParamSubscriber* target, const AuRTPCKey& key);
    // [audio thread]
    void UnsubscribeRTPCs(IAuPluginParamSubscriber* target);
    // Asks the modulator manager to start the modulators of every modulator-driven curve for the
    // key; 1, or 2 when any refused. [audio thread]
    AURESULT TriggerModulators(IAuPluginParamSubscriber* target, const AuRTPCKey& key, void* callback);
    // Removes the curve of (parameter, curve ID) and the subscriptions that every live instance of
    // the plug-in holds for it. [audio thread]
    void RemoveRTPCEntry(u32 parameterID, u32 curveID);

    AuIndexTableId Table() const { return m_table; }
    u32 PluginID() const { return m_uPluginID; }
    AU::IAuPluginParam* ParamObject() const { return m_pParams; }
    const AuArray<AuPluginMediaEntry>& Media() const { return m_media; }
    const AuArray<AuPluginRTPCEntry>& RTPCEntries() const { return m_rtpcs; }
    const AuArray<AuPluginInitialValue>& InitialValues() const { return m_values; }

protected:
    CAuPluginSettings(u32 id, AuIndexTableId table) : CAuIndexable(id), m_table(table) {}
    ~CAuPluginSettings() override;

    template <class Settings> static Settings* Make(u32 id, AuIndexTableId table);

private:
    AURESULT CreateParamObject(u32 pluginID, const u8* block, u32 size);
    void SetMedia(u32 index, u32 mediaID);
    // Drops the entry of (parameter, curve ID); true when there was one.
    bool EraseRTPCEntry(u32 parameterID, u32 curveID);
    void AddRTPCEntry(const AuPluginRTPCEntry& entry, const u8* bankPoints);
    void SetInitialValue(u32 key, f32 value);

    AuIndexTableId m_table;
    u32 m_uPluginID = AU_NO_PLUGIN;
    AU::IAuPluginParam* m_pParams = nullptr;
    AuArray<AuPluginMediaEntry> m_media;
    AuArray<AuPluginRTPCEntry> m_rtpcs;
    AuArray<AuPluginInitialValue> m_values;
};

class CAuPluginSettingsType18 final : public CAuPluginSettings {
public:
    // In the default pool and in index table 10; null without memory.
    static CAuPluginSettingsType18* Create(u32 id);
    bool IsShared() const override { return true; }

private:
    friend class CAuPluginSettings;
    explicit CAuPluginSettingsType18(u32 id) : CAuPluginSettings(id, AuIndexPluginSettings18) {}
};

class CAuPluginSettingsType19 final : public CAuPluginSettings {
public:
    // In the default pool and in index table 11; null without memory.
    static CAuPluginSettingsType19* Create(u32 id);
    bool IsShared() const override { return false; }

private:
    friend class CAuPluginSettings;
    explicit CAuPluginSettingsType19(u32 id) : CAuPluginSettings(id, AuIndexPluginSettings19) {}
};

// A live instance of a plug-in made from settings: it runs a clone of the settings' parameter
// object and receives the game-parameter values of their curves for its key (subscriber kind 0).
class CAuPluginParamHolder final : public IAuPluginParamSubscriber {
public:
    // Clones the parameter object with the engine's plug-in allocator, keeps a reference on the
    // settings and subscribes their curves for the key. Null when the settings have no parameter
    // object (logged once per settings ID: the slot plays dry) or memory runs out. [audio thread]
    static CAuPluginParamHolder* Create(CAuPluginSettings& settings, const AuRTPCKey& key) noexcept;
    // Unsubscribes, ends the clone and lets go of the settings. [audio thread]
    void Destroy() noexcept;

    // The settings' value under the property's key, 0.0 when none. [audio thread]
    f32 GetBaseValue(u32 propertyID) noexcept override;
    // [audio thread]
    void SetParam(u32 propertyID, const void* value, u32 size) noexcept override;

    u32 PluginID() const { return m_settings.PluginID(); }
    AU::IAuPluginParam* Params() const { return m_pParams; }
    CAuPluginSettings& Settings() const { return m_settings; }
    const AuRTPCKey& Key() const { return m_key; }

private:
    CAuPluginParamHolder(CAuPluginSettings& settings, AU::IAuPluginParam* params, const AuRTPCKey& key)
        : m_settings(settings), m_pParams(params), m_key(key) {}
    ~CAuPluginParamHolder() = default;

    CAuPluginSettings& m_settings; // one reference
    AU::IAuPluginParam* m_pParams;
    AuRTPCKey m_key;
};

// What a node gives for one of its effect slots.
struct AuEffectRecord {
    // With one reference for whoever asked; null for an empty slot.
    CAuPluginSettings* pSettings = nullptr;
    bool bBypass = false;
};

// What the lower engine's walk over the live instances of some settings calls for each.
using AuPluginInstanceVisit = void (*)(CAuPluginParamHolder& instance, void* context);

// The modulator manager's trigger; installed when it starts, until then triggering does nothing.
class IAuPluginModulatorTrigger {
public:
    // Creates or retriggers the contexts of the modulators linked to the holder's parameter for the
    // key, handing `callback` to each. 1, or 2 when any refused. [audio thread]
    virtual AURESULT Trigger(IAuPluginParamSubscriber* target, u32 parameterID, u32 modulatorID,
                             const AuRTPCKey& key, void* callback) noexcept = 0;

protected:
    ~IAuPluginModulatorTrigger() = default;
};
void AuSetPluginModulatorTrigger(IAuPluginModulatorTrigger* trigger);
