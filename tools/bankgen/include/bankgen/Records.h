// Hierarchy records of a sound bank, as plain values, and their byte encoding.
// Every struct's defaults give the minimal record of its type.
#pragma once

#include <bankgen/Bytes.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace bankgen {

// The tools keep their own copy of the format constants: a fault in the engine's reader must not
// be mirrored by the writer that tests it.
inline constexpr std::uint32_t kBankVersion = 112;
inline constexpr std::uint32_t kBankHeaderSize = 20;
inline constexpr std::uint32_t kCodecPcm = 0x00010001;
inline constexpr std::uint32_t kCodecAdpcm = 0x00020001;
inline constexpr std::uint32_t kCodecVorbis = 0x00040001;
inline constexpr std::uint32_t kNoPlugin = 0xFFFFFFFF;
inline constexpr std::uint32_t kUnweighted = 50000;
inline constexpr float kMaxDuckVolumeDb = -96.3f;

enum class HierarchyType : std::uint8_t {
    State = 1,
    Sound = 2,
    Action = 3,
    Event = 4,
    RandomSequence = 5,
    Switch = 6,
    Grouping = 7,
    Bus = 8,
    Layer = 9,
    MusicSegment = 10,
    MusicTrack = 11,
    MusicSwitch = 12,
    MusicPlaylist = 13,
    Attenuation = 14,
    DialogueEvent = 15,
    DefaultBus = 16,
    MotionLeaf = 17,
    SharedPluginSettings = 18,
    PluginSettings = 19,
    BusType20 = 20,
    Lfo = 21,
    Envelope = 22,
};

// Name of a hierarchy type for listings; "unknown" outside 1-22.
const char* HierarchyTypeName(std::uint8_t type);

struct CurvePoint {
    float x = 0.0f;
    float y = 0.0f;
    std::uint32_t shape = 4; // linear
};

// One property: the bank stores 32 raw bits, read as f32 or i32 depending on the property.
struct Prop {
    std::uint8_t id = 0;
    std::uint32_t bits = 0;
};
Prop PropF(std::uint8_t id, float value);
Prop PropI(std::uint8_t id, std::int32_t value);

struct RangedValue {
    std::uint8_t id = 0;
    std::uint32_t minBits = 0;
    std::uint32_t maxBits = 0;
};
RangedValue RangeF(std::uint8_t id, float min, float max);
RangedValue RangeI(std::uint8_t id, std::int32_t min, std::int32_t max);

// Game-parameter curve of nodes, busses, layers, attenuations, plug-in settings and modulators:
// all share this 14 + 12k byte layout.
struct RtpcCurve {
    std::uint32_t gameParameter = 0;
    std::uint8_t drivingType = 0; // 2 = modulator
    std::uint8_t mode = 0;        // accumulation
    std::uint8_t target = 0;
    std::uint32_t curveId = 0;
    std::uint8_t scaling = 0;
    std::vector<CurvePoint> points;
};

struct StateLink {
    std::uint32_t state = 0;
    std::uint32_t stateObject = 0;
};
struct StateGroupLink {
    std::uint32_t group = 0;
    std::uint8_t syncByte = 0;
    std::vector<StateLink> states;
};

struct EffectEntry {
    std::uint8_t slot = 0;
    std::uint32_t id = 0;
    std::uint8_t shared = 0; // nodes: 1 = type-18 settings; busses: share-set flag
    std::uint8_t last = 0;   // nodes: is-rendered; busses: unused
};

struct PathVertex {
    float x = 0, y = 0, z = 0;
    std::uint32_t durationMs = 0;
};
struct PathItem {
    std::uint32_t firstVertex = 0;
    std::uint32_t vertexCount = 0;
    float rangeX = 0, rangeY = 0, rangeZ = 0;
};
struct Positioning {
    std::uint8_t bits = 0; // 0: no positioning of its own
    std::uint8_t type3d = 0;
    std::uint32_t attenuation = 0;
    std::uint8_t pathMode = 0;
    std::uint32_t pathEndMs = 0;
    std::vector<PathVertex> vertices;
    std::vector<PathItem> items;
};

// The block every playable node carries (sounds, containers, music nodes).
struct NodeCommon {
    std::uint8_t overrideParentEffects = 0;
    std::vector<EffectEntry> effects;
    std::uint8_t bypassBits = 0;
    std::uint8_t overrideAttachedPlugin = 0;
    std::uint32_t outputBus = 0;
    std::uint32_t parent = 0;
    std::uint8_t bitVector = 0;
    std::vector<Prop> props;
    std::vector<RangedValue> ranges;
    Positioning positioning;
    std::uint8_t auxBits = 0;
    std::array<std::uint32_t, 4> userAux{};
    std::uint8_t advancedFlags = 0;
    std::uint8_t virtualQueue = 0;
    std::uint16_t maxInstances = 0;
    std::uint8_t belowThreshold = 0;
    std::uint8_t outputFlags = 0;
    std::vector<StateGroupLink> stateGroups;
    std::vector<RtpcCurve> rtpcs;
    std::uint32_t extraOwnerBus = 0; // written only when the bank header sets the extra-owner flag
};

struct SourceRecord {
    std::uint32_t plugin = kCodecPcm;
    std::uint8_t streamType = 0;
    std::uint32_t sourceId = 0;
    std::uint32_t fileId = 0;
    std::uint32_t fileOffset = 0;
    std::uint32_t inMemorySize = 0;
    std::uint8_t bits = 0;
    Bytes params; // written only for plug-in types 2 and 5
    // The media is this bank's DIDX entry `sourceId`: file ID, offset and size come from the layout.
    bool fromBank = false;
};

struct StateRecord {
    std::uint32_t id = 0;
    std::vector<Prop> props;
};

struct SoundRecord {
    std::uint32_t id = 0;
    SourceRecord source;
    NodeCommon node;
};

struct MotionSource {
    std::uint16_t device1 = 0;
    std::uint16_t device2 = 0;
    float levelOffset = 0.0f;
    SourceRecord source;
};
struct MotionLeafRecord {
    std::uint32_t id = 0;
    std::vector<MotionSource> sources;
    NodeCommon node;
};

struct ActionException {
    std::uint32_t id = 0;
    std::uint8_t isBus = 0;
};
// One struct for every action kind; the encoder writes the fields its high byte reads.
struct ActionRecord {
    std::uint32_t id = 0;
    std::uint16_t type = 0x0403;
    std::uint32_t target = 0;
    std::uint8_t isBus = 0;
    std::vector<Prop> props;
    std::vector<RangedValue> ranges;
    std::uint8_t curve = 4;
    std::uint32_t bankId = 0; // play
    std::uint8_t option = 0; // pause: include pending resumes; resume: master; bypass: flag; seek: is-percent
    std::uint8_t valueMeaning = 0;
    std::uint8_t bypassTransition = 0;
    float base = 0.0f, min = 0.0f, max = 0.0f;
    std::uint8_t slotMask = 0; // bypass
    std::uint8_t snapToMarker = 0;
    std::uint32_t groupId = 0; // set state / set switch
    std::uint32_t valueId = 0;
    std::vector<ActionException> exceptions;
};

struct EventRecord {
    std::uint32_t id = 0;
    std::vector<std::uint32_t> actions;
};

struct PlaylistEntry {
    std::uint32_t child = 0;
    std::uint32_t weight = kUnweighted;
};
struct RandomSequenceRecord {
    std::uint32_t id = 0;
    NodeCommon node;
    std::uint16_t loopCount = 1;
    std::int16_t loopMin = 0, loopMax = 0;
    float transitionMs = 0, transitionMin = 0, transitionMax = 0;
    std::uint16_t avoidRepeat = 0;
    std::uint8_t transitionMode = 0;
    std::uint8_t randomMode = 0;
    std::uint8_t playlistMode = 1; // sequence
    std::uint8_t flags = 0;
    std::vector<std::uint32_t> children;
    std::vector<PlaylistEntry> playlist;
};

struct SwitchPackage {
    std::uint32_t value = 0;
    std::vector<std::uint32_t> children;
};
struct SwitchChildSettings {
    std::uint32_t child = 0;
    std::uint8_t flags = 0;
    std::uint8_t mode = 0;
    std::uint32_t fadeOutMs = 0, fadeInMs = 0;
};
struct SwitchRecord {
    std::uint32_t id = 0;
    NodeCommon node;
    std::uint8_t groupType = 0;
    std::uint32_t group = 0;
    std::uint32_t defaultValue = 0;
    std::uint8_t followChanges = 0;
    std::vector<std::uint32_t> children;
    std::vector<SwitchPackage> packages;
    std::vector<SwitchChildSettings> settings;
};

struct GroupingRecord {
    std::uint32_t id = 0;
    NodeCommon node;
    std::vector<std::uint32_t> children;
};

struct DuckTarget {
    std::uint32_t bus = 0;
    float duckDb = 0.0f;
    std::uint32_t fadeOutMs = 0, fadeInMs = 0;
    std::uint8_t curve = 4;
    std::uint8_t targetProperty = 5;
};
// Types 8, 16 and 20 share this payload.
struct BusRecord {
    HierarchyType type = HierarchyType::Bus;
    std::uint32_t id = 0;
    std::uint32_t parent = 0;
    std::vector<Prop> props;
    std::uint8_t flags1 = 0, flags2 = 0;
    std::uint16_t maxInstances = 0;
    std::uint32_t channelConfig = 0;
    std::uint8_t flags3 = 0;
    std::uint32_t recoveryMs = 0;
    float maxDuckVolume = kMaxDuckVolumeDb;
    std::vector<DuckTarget> ducks;
    std::uint8_t bypassBits = 0;
    std::vector<EffectEntry> effects;
    std::uint32_t mixer = 0;
    std::uint8_t mixerShareSet = 0;
    std::uint8_t overrideAttachedPlugin = 0;
    std::vector<RtpcCurve> rtpcs;
    std::vector<StateGroupLink> stateGroups;
    std::uint32_t extraOwnerBus = 0;
};

struct LayerAssociation {
    std::uint32_t child = 0;
    std::vector<CurvePoint> points;
};
struct Layer {
    std::uint32_t id = 0;
    std::vector<RtpcCurve> rtpcs;
    std::uint32_t crossfadeParameter = 0;
    std::uint8_t crossfadeType = 0;
    std::vector<LayerAssociation> associations;
};
struct LayerContainerRecord {
    std::uint32_t id = 0;
    NodeCommon node;
    std::vector<std::uint32_t> children;
    std::vector<Layer> layers;
};

struct Cone {
    float innerDeg = 0, outerDeg = 0;
    std::array<float, 3> values{};
};
struct ScaledCurve {
    std::uint8_t scaling = 0;
    std::vector<CurvePoint> points;
};
struct AttenuationRecord {
    std::uint32_t id = 0;
    std::optional<Cone> cone;
    std::array<std::uint8_t, 7> curveUse{0, 255, 255, 255, 255, 255, 255};
    std::vector<ScaledCurve> curves{ScaledCurve{0, {CurvePoint{0, 0, 4}, CurvePoint{100, -96.3f, 4}}}};
    std::vector<RtpcCurve> rtpcs;
};

// A decision-tree node: inner nodes name their children, leaves an audio node.
struct TreeNode {
    std::uint32_t key = 0;
    std::uint32_t childOrNode = 0; // inner: first child | count << 16; leaf: audio node ID
    std::uint16_t weight = 50;
    std::uint16_t probability = 100;
};
TreeNode InnerTreeNode(std::uint32_t key, std::uint16_t firstChild, std::uint16_t count);
TreeNode LeafTreeNode(std::uint32_t key, std::uint32_t audioNode);

struct DialogueEventRecord {
    std::uint32_t id = 0;
    std::uint8_t probability = 100;
    std::vector<std::array<std::uint8_t, 5>> arguments;
    std::uint8_t mode = 0;
    std::vector<TreeNode> tree;
};

struct PluginMedia {
    std::uint8_t index = 0;
    std::uint32_t media = 0;
};
struct InitialValue {
    std::uint8_t key = 0;
    float value = 0.0f;
};
// Types 18 and 19.
struct PluginSettingsRecord {
    HierarchyType type = HierarchyType::PluginSettings;
    std::uint32_t id = 0;
    std::uint32_t plugin = kNoPlugin;
    Bytes block;
    std::vector<PluginMedia> media;
    std::vector<RtpcCurve> rtpcs;
    std::vector<InitialValue> initialValues;
};

// Types 21 (LFO) and 22 (envelope).
struct ModulatorRecord {
    HierarchyType type = HierarchyType::Lfo;
    std::uint32_t id = 0;
    std::vector<Prop> props;
    std::vector<RangedValue> ranges;
    std::vector<RtpcCurve> rtpcs;
};

struct Stinger {
    std::uint32_t trigger = 0, segment = 0, syncType = 0, cueFilter = 0, dontRepeatMs = 0, lookAhead = 0;
};
struct MusicNodePart {
    std::uint32_t id = 0;
    std::uint8_t flags = 0;
    NodeCommon node;
    std::vector<std::uint32_t> children;
    double gridPeriodMs = 0, gridOffsetMs = 0;
    float tempo = 120.0f;
    std::uint8_t beatsPerBar = 4, beatValue = 4;
    std::uint8_t timeOverride = 0;
    std::vector<Stinger> stingers;
};
struct TransitionSegment {
    std::uint32_t segment = 0;
    std::uint32_t fadeInMs = 0, fadeInCurve = 4, fadeInOffsetMs = 0;
    std::uint32_t fadeOutMs = 0, fadeOutCurve = 4, fadeOutOffsetMs = 0;
    std::uint8_t playPreEntry = 0, playPostExit = 0;
};
struct TransitionRule {
    std::vector<std::uint32_t> sources{0xFFFFFFFF};
    std::vector<std::uint32_t> destinations{0xFFFFFFFF};
    std::uint32_t sourceFadeMs = 0, sourceCurve = 4, sourceOffsetMs = 0, syncType = 0, sourceCueFilter = 0;
    std::uint8_t playPostExit = 0;
    std::uint32_t destFadeMs = 0, destCurve = 4, destOffsetMs = 0, destCueFilter = 0, jumpTo = 0;
    std::uint16_t entryType = 0;
    std::uint8_t playPreEntry = 0, matchCueName = 0;
    std::optional<TransitionSegment> transitionSegment;
};
struct Marker {
    std::uint32_t id = 0;
    double positionMs = 0;
    std::string name;
};
struct MusicSegmentRecord {
    MusicNodePart music;
    double durationMs = 0;
    std::vector<Marker> markers;
};
struct TrackClip {
    std::uint32_t subTrack = 0, source = 0;
    double playAtMs = 0, beginTrimMs = 0, endTrimMs = 0, sourceDurationMs = 0;
};
struct ClipAutomation {
    std::uint32_t clip = 0, type = 0;
    std::vector<CurvePoint> points; // x = time in seconds
};
struct SwitchTrack {
    std::uint8_t groupType = 0;
    std::uint32_t group = 0, defaultValue = 0;
    std::vector<std::uint32_t> values;
    std::uint32_t fadeOutMs = 0, fadeOutCurve = 4, fadeOutOffsetMs = 0, syncType = 0, cueFilter = 0;
    std::uint32_t fadeInMs = 0, fadeInCurve = 4, fadeInOffsetMs = 0;
};
struct MusicTrackRecord {
    std::uint32_t id = 0;
    std::uint8_t flags = 0;
    std::vector<SourceRecord> sources;
    std::vector<TrackClip> clips;
    std::uint32_t subTrackCount = 1;
    std::vector<ClipAutomation> automations;
    NodeCommon node;
    std::uint8_t trackType = 0; // 3 = switch track
    SwitchTrack switchTrack;
    std::uint32_t lookAheadMs = 0;
};
struct MusicSwitchRecord {
    MusicNodePart music;
    std::vector<TransitionRule> rules{TransitionRule{}};
    std::uint8_t continuePlayback = 0;
    std::vector<std::uint32_t> groups;
    std::vector<std::uint8_t> groupTypes;
    std::uint8_t decisionMode = 0;
    std::vector<TreeNode> tree;
};
struct MusicPlaylistItem {
    std::uint32_t segment = 0, itemId = 0, childCount = 0, levelMode = 0;
    std::uint16_t loopCount = 1;
    std::int16_t loopMin = 0, loopMax = 0;
    std::uint32_t weight = kUnweighted;
    std::uint16_t avoidRepeat = 0;
    std::uint8_t unused = 0, shuffle = 0;
};
struct MusicPlaylistRecord {
    MusicNodePart music;
    std::vector<TransitionRule> rules{TransitionRule{}};
    std::vector<MusicPlaylistItem> items;
};

using Record = std::variant<StateRecord, SoundRecord, ActionRecord, EventRecord, RandomSequenceRecord,
                            SwitchRecord, GroupingRecord, BusRecord, LayerContainerRecord, MusicSegmentRecord,
                            MusicTrackRecord, MusicSwitchRecord, MusicPlaylistRecord, AttenuationRecord,
                            DialogueEventRecord, MotionLeafRecord, PluginSettingsRecord, ModulatorRecord>;

std::uint8_t TypeOf(const Record& record);
std::uint32_t IdOf(const Record& record);

// Where a media of the bank lies in the finished file.
struct MediaPlacement {
    std::uint32_t fileOffset = 0;
    std::uint32_t size = 0;
};

struct EncodeContext {
    bool extraOwner = false; // BKHD flag: every node and bus record ends with one more u32
    std::uint32_t bankId = 0;
    std::function<std::optional<MediaPlacement>(std::uint32_t mediaId)> findMedia;
    std::vector<std::string> errors;
};

// The record's payload (without the 5-byte HIRC header). Problems go to ctx.errors.
Bytes EncodePayload(const Record& record, EncodeContext& ctx);
// The 5-byte header followed by the payload.
Bytes EncodeRecord(const Record& record, EncodeContext& ctx);

// True for the action high bytes a bank may carry (0x05 is made only at run time).
bool IsBankActionKind(std::uint16_t type);

} // namespace bankgen
