// Record layouts: each is written once and drives both the encoder and the bounded decoder.
#include <bankgen/Parse.h>

#include "Layout.h"

#include <cstring>

namespace bankgen {

// The minimum byte counts given to Count are the smallest encoding of one element: the reader
// refuses a count that could not fit in what remains before it sizes anything from it.

template <typename A, typename V> void Ids(A& a, V& ids) {
    a.template Count<std::uint32_t>(ids, 4);
    for (auto& v : ids)
        a(v);
}

template <typename A, typename V> void Points(A& a, V& points) {
    for (auto& p : points)
        Fields(a, p);
}

// Property bundles store every ID before every value.
template <typename A, typename V> void Props(A& a, V& props) {
    a.template Count<std::uint8_t>(props, 5, "properties");
    for (auto& p : props)
        a(p.id);
    for (auto& p : props)
        a(p.bits);
}

template <typename A, typename V> void Ranges(A& a, V& ranges) {
    a.template Count<std::uint8_t>(ranges, 9, "ranged values");
    for (auto& r : ranges)
        a(r.id);
    for (auto& r : ranges)
        a(r.minBits, r.maxBits);
}

template <typename A, typename V> void Rtpcs(A& a, V& curves) {
    a.template Count<std::uint16_t>(curves, 14, "game-parameter curves");
    for (auto& c : curves) {
        a(c.gameParameter, c.drivingType, c.mode, c.target, c.curveId, c.scaling);
        a.template Count<std::uint16_t>(c.points, 12, "curve points");
        Points(a, c.points);
    }
}

template <typename A, typename V> void StateGroups(A& a, V& groups) {
    a.template Count<std::uint32_t>(groups, 7);
    for (auto& g : groups) {
        a(g.group, g.syncByte);
        a.template Count<std::uint16_t>(g.states, 8, "states");
        for (auto& s : g.states)
            a(s.state, s.stateObject);
    }
}

// Nodes and busses: the bypass bits are present only with at least one effect.
template <typename A, typename V, typename B> void Effects(A& a, V& effects, B& bypassBits) {
    a.template Count<std::uint8_t>(effects, 7, "effects", 4);
    if (!effects.empty()) a(bypassBits);
    for (auto& e : effects)
        a(e.slot, e.id, e.shared, e.last);
}

template <typename A> void Fields(A& a, Io<A, Positioning>& p) {
    a(p.bits);
    if (!(p.bits & 1) || !(p.bits & 8)) return;
    a(p.type3d, p.attenuation);
    if ((p.type3d & 3) == 1) return;
    a(p.pathMode, p.pathEndMs);
    a.template Count<std::uint32_t>(p.vertices, 16);
    for (auto& v : p.vertices)
        a(v.x, v.y, v.z, v.durationMs);
    a.template Count<std::uint32_t>(p.items, 20);
    for (auto& i : p.items)
        a(i.firstVertex, i.vertexCount);
    if constexpr (!A::kReading)
        for (const PathItem& i : p.items)
            if (std::uint64_t{i.firstVertex} + i.vertexCount > p.vertices.size())
                a.Error("object " + Hex(a.Owner()) + ": path item past the vertices");
    for (auto& i : p.items)
        a(i.rangeX, i.rangeY, i.rangeZ);
}

template <typename A> void Fields(A& a, Io<A, NodeCommon>& n) {
    a(n.overrideParentEffects);
    Effects(a, n.effects, n.bypassBits);
    if constexpr (!A::kReading)
        for (const EffectEntry& e : n.effects)
            if (e.slot > 3) a.Error("object " + Hex(a.Owner()) + ": effect slot above 3");
    a(n.overrideAttachedPlugin, n.outputBus, n.parent, n.bitVector);
    Props(a, n.props);
    Ranges(a, n.ranges);
    Fields(a, n.positioning);
    a(n.auxBits);
    if (n.auxBits & 8) a(n.userAux);
    a(n.advancedFlags, n.virtualQueue, n.maxInstances, n.belowThreshold, n.outputFlags);
    StateGroups(a, n.stateGroups);
    Rtpcs(a, n.rtpcs);
    if (a.ExtraOwner()) a(n.extraOwnerBus);
}

template <typename A> void SourceLayout(A& a, Io<A, SourceRecord>& s) {
    a(s.plugin, s.streamType, s.sourceId, s.fileId);
    if (s.streamType != 2) a(s.fileOffset);
    a(s.inMemorySize, s.bits);
    const std::uint32_t kind = s.plugin & 0xF;
    if (kind == 2 || kind == 5) a.template Blob<std::uint32_t>(s.params);
}

namespace {

// The source as written: media from this bank get its ID and their placement in the file.
SourceRecord Placed(const SourceRecord& s, WriteArchive& a) {
    const std::string owner = "object " + Hex(a.Owner());
    const std::uint32_t kind = s.plugin & 0xF;
    if (kind != 0 && kind != 1 && kind != 2 && kind != 5)
        a.Error(owner + ": plug-in type " + std::to_string(kind) + " not readable");
    if (s.streamType > 2) a.Error(owner + ": stream type above 2");

    SourceRecord placed = s;
    if (s.fromBank) {
        const EncodeContext& ctx = *a.Context();
        std::optional<MediaPlacement> at = ctx.findMedia ? ctx.findMedia(s.sourceId) : std::nullopt;
        if (!at) {
            a.Error(owner + ": media " + Hex(s.sourceId) + " is not in this bank");
        } else {
            placed.fileId = ctx.bankId;
            placed.fileOffset = at->fileOffset;
            placed.inMemorySize = at->size;
        }
    }
    return placed;
}

} // namespace

template <typename A> void Fields(A& a, Io<A, SourceRecord>& s) {
    if constexpr (A::kReading) {
        SourceLayout(a, s);
    } else {
        const SourceRecord placed = Placed(s, a);
        SourceLayout(a, placed);
    }
}

template <typename A, typename V> void Exceptions(A& a, V& list) {
    a.template Count<std::uint32_t>(list, 5);
    for (auto& e : list)
        a(e.id, e.isBus);
}

// The parameters after the common action fields depend on the high byte of the type; false for
// a high byte a bank cannot carry.
template <typename A> bool ActionParams(A& a, Io<A, ActionRecord>& r) {
    switch (r.type >> 8) {
    case 0x01:
    case 0x06:
    case 0x07:
        a(r.curve);
        Exceptions(a, r.exceptions);
        return true;
    case 0x02:
    case 0x03:
        a(r.curve, r.option);
        Exceptions(a, r.exceptions);
        return true;
    case 0x04:
        a(r.curve, r.bankId);
        return true;
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F:
    case 0x20:
    case 0x30:
        a(r.curve, r.valueMeaning, r.base, r.min, r.max);
        Exceptions(a, r.exceptions);
        return true;
    case 0x10:
    case 0x11:
    case 0x1C:
    case 0x1D:
    case 0x1F:
        return true;
    case 0x12:
    case 0x19:
        a(r.groupId, r.valueId);
        return true;
    case 0x13:
    case 0x14:
        a(r.curve, r.bypassTransition, r.valueMeaning, r.base, r.min, r.max);
        Exceptions(a, r.exceptions);
        return true;
    case 0x1A:
    case 0x1B:
        a(r.option, r.slotMask);
        Exceptions(a, r.exceptions);
        return true;
    case 0x1E:
        a(r.option, r.base, r.min, r.max, r.snapToMarker);
        Exceptions(a, r.exceptions);
        return true;
    default:
        return false;
    }
}

template <typename A, typename V> void Rules(A& a, V& rules) {
    a.template Count<std::uint32_t>(rules, 54);
    for (auto& t : rules) {
        Ids(a, t.sources);
        Ids(a, t.destinations);
        a(t.sourceFadeMs, t.sourceCurve, t.sourceOffsetMs, t.syncType, t.sourceCueFilter, t.playPostExit);
        a(t.destFadeMs, t.destCurve, t.destOffsetMs, t.destCueFilter, t.jumpTo, t.entryType, t.playPreEntry,
          t.matchCueName);
        a.Flag(t.transitionSegment);
        if (auto& s = t.transitionSegment) {
            a(s->segment, s->fadeInMs, s->fadeInCurve, s->fadeInOffsetMs, s->fadeOutMs, s->fadeOutCurve,
              s->fadeOutOffsetMs, s->playPreEntry, s->playPostExit);
        }
    }
}

// Decision trees are sized in bytes, with the mode byte between the size and the nodes.
template <typename A, typename V, typename M> void Tree(A& a, V& tree, M& mode) {
    a.ByteSize(tree, 12);
    a(mode);
    for (auto& t : tree)
        a(t.key, t.childOrNode, t.weight, t.probability);
}

template <typename A> void Fields(A& a, Io<A, MusicNodePart>& m) {
    a(m.id, m.flags);
    Fields(a, m.node);
    Ids(a, m.children);
    a(m.gridPeriodMs, m.gridOffsetMs, m.tempo, m.beatsPerBar, m.beatValue, m.timeOverride);
    a.template Count<std::uint32_t>(m.stingers, 24);
    for (auto& s : m.stingers)
        a(s.trigger, s.segment, s.syncType, s.cueFilter, s.dontRepeatMs, s.lookAhead);
}

template <typename A> void Fields(A& a, Io<A, StateRecord>& r) {
    a(r.id);
    Props(a, r.props);
}

template <typename A> void Fields(A& a, Io<A, SoundRecord>& r) {
    a(r.id);
    Fields(a, r.source);
    Fields(a, r.node);
}

template <typename A> void Fields(A& a, Io<A, MotionLeafRecord>& r) {
    a(r.id);
    a.template Count<std::uint32_t>(r.sources, 26);
    for (auto& s : r.sources) {
        a(s.device1, s.device2, s.levelOffset);
        Fields(a, s.source);
    }
    Fields(a, r.node);
}

template <typename A> void Fields(A& a, Io<A, ActionRecord>& r) {
    if constexpr (!A::kReading)
        if (r.id == 0) a.Error("an action has ID 0");
    a(r.id, r.type, r.target, r.isBus);
    Props(a, r.props);
    Ranges(a, r.ranges);
    if (ActionParams(a, r)) return;
    if constexpr (A::kReading)
        a.Refuse("action type " + std::to_string(r.type >> 8) + " (high byte) cannot be read");
    else
        a.Error("action " + Hex(r.id) + ": type " + Hex(r.type) + " cannot be read from a bank");
}

template <typename A> void Fields(A& a, Io<A, EventRecord>& r) {
    a(r.id);
    Ids(a, r.actions);
}

template <typename A> void Fields(A& a, Io<A, RandomSequenceRecord>& r) {
    a(r.id);
    Fields(a, r.node);
    a(r.loopCount, r.loopMin, r.loopMax, r.transitionMs, r.transitionMin, r.transitionMax, r.avoidRepeat);
    a(r.transitionMode, r.randomMode, r.playlistMode, r.flags);
    Ids(a, r.children);
    a.template Count<std::uint16_t>(r.playlist, 8, "playlist items");
    for (auto& e : r.playlist)
        a(e.child, e.weight);
}

template <typename A> void Fields(A& a, Io<A, SwitchRecord>& r) {
    a(r.id);
    Fields(a, r.node);
    a(r.groupType, r.group, r.defaultValue, r.followChanges);
    Ids(a, r.children);
    a.template Count<std::uint32_t>(r.packages, 8);
    for (auto& p : r.packages) {
        a(p.value);
        Ids(a, p.children);
    }
    a.template Count<std::uint32_t>(r.settings, 14);
    for (auto& s : r.settings)
        a(s.child, s.flags, s.mode, s.fadeOutMs, s.fadeInMs);
}

template <typename A> void Fields(A& a, Io<A, GroupingRecord>& r) {
    a(r.id);
    Fields(a, r.node);
    Ids(a, r.children);
}

template <typename A> void Fields(A& a, Io<A, BusRecord>& r) {
    a(r.id, r.parent);
    Props(a, r.props);
    a(r.flags1, r.flags2, r.maxInstances, r.channelConfig, r.flags3, r.recoveryMs, r.maxDuckVolume);
    a.template Count<std::uint32_t>(r.ducks, 18);
    for (auto& d : r.ducks)
        a(d.bus, d.duckDb, d.fadeOutMs, d.fadeInMs, d.curve, d.targetProperty);
    Effects(a, r.effects, r.bypassBits);
    a(r.mixer, r.mixerShareSet, r.overrideAttachedPlugin);
    Rtpcs(a, r.rtpcs);
    StateGroups(a, r.stateGroups);
    if (a.ExtraOwner()) a(r.extraOwnerBus);
}

template <typename A> void Fields(A& a, Io<A, LayerContainerRecord>& r) {
    a(r.id);
    Fields(a, r.node);
    Ids(a, r.children);
    a.template Count<std::uint32_t>(r.layers, 15);
    for (auto& l : r.layers) {
        a(l.id);
        Rtpcs(a, l.rtpcs);
        a(l.crossfadeParameter, l.crossfadeType);
        a.template Count<std::uint32_t>(l.associations, 8);
        for (auto& s : l.associations) {
            a(s.child);
            a.template Count<std::uint32_t>(s.points, 12);
            Points(a, s.points);
        }
    }
}

template <typename A> void Fields(A& a, Io<A, AttenuationRecord>& r) {
    a(r.id);
    a.Flag(r.cone);
    if (r.cone) a(r.cone->innerDeg, r.cone->outerDeg, r.cone->values);
    if constexpr (!A::kReading) {
        for (std::uint8_t use : r.curveUse)
            if (use != 255 && use >= r.curves.size())
                a.Error("attenuation " + Hex(r.id) + ": curve use names a missing curve");
        if (r.curves.empty() || r.curves.size() > 7)
            a.Error("attenuation " + Hex(r.id) + ": needs 1 to 7 curves");
    }
    a(r.curveUse);
    a.template Count<std::uint8_t>(r.curves, 3);
    for (auto& c : r.curves) {
        a(c.scaling);
        a.template Count<std::uint16_t>(c.points, 12, "curve points");
        Points(a, c.points);
    }
    Rtpcs(a, r.rtpcs);
}

template <typename A> void Fields(A& a, Io<A, DialogueEventRecord>& r) {
    a(r.id, r.probability);
    a.template Count<std::uint32_t>(r.arguments, 5);
    for (auto& argument : r.arguments)
        a(argument);
    Tree(a, r.tree, r.mode);
}

template <typename A> void Fields(A& a, Io<A, PluginSettingsRecord>& r) {
    a(r.id, r.plugin);
    a.template Blob<std::uint32_t>(r.block);
    a.template Count<std::uint8_t>(r.media, 5, "media");
    for (auto& m : r.media)
        a(m.index, m.media);
    Rtpcs(a, r.rtpcs);
    a.template Count<std::uint16_t>(r.initialValues, 5, "initial values");
    for (auto& v : r.initialValues)
        a(v.key, v.value);
}

template <typename A> void Fields(A& a, Io<A, ModulatorRecord>& r) {
    a(r.id);
    Props(a, r.props);
    Ranges(a, r.ranges);
    Rtpcs(a, r.rtpcs);
}

template <typename A> void Fields(A& a, Io<A, MusicSegmentRecord>& r) {
    Fields(a, r.music);
    a(r.durationMs);
    a.template Count<std::uint32_t>(r.markers, 16);
    for (auto& m : r.markers) {
        a(m.id, m.positionMs);
        a.template Blob<std::uint32_t>(m.name);
    }
}

template <typename A> void Fields(A& a, Io<A, MusicTrackRecord>& r) {
    a(r.id, r.flags);
    a.template Count<std::uint32_t>(r.sources, 18);
    for (auto& s : r.sources)
        Fields(a, s);
    a.template Count<std::uint32_t>(r.clips, 40);
    for (auto& c : r.clips)
        a(c.subTrack, c.source, c.playAtMs, c.beginTrimMs, c.endTrimMs, c.sourceDurationMs);
    a(r.subTrackCount);
    a.template Count<std::uint32_t>(r.automations, 12);
    for (auto& c : r.automations) {
        a(c.clip, c.type);
        a.template Count<std::uint32_t>(c.points, 12);
        Points(a, c.points);
    }
    Fields(a, r.node);
    a(r.trackType);
    if (r.trackType == 3) {
        auto& s = r.switchTrack;
        a(s.groupType, s.group, s.defaultValue);
        Ids(a, s.values);
        a(s.fadeOutMs, s.fadeOutCurve, s.fadeOutOffsetMs, s.syncType, s.cueFilter, s.fadeInMs, s.fadeInCurve,
          s.fadeInOffsetMs);
    }
    a(r.lookAheadMs);
}

template <typename A> void Fields(A& a, Io<A, MusicSwitchRecord>& r) {
    Fields(a, r.music);
    Rules(a, r.rules);
    a(r.continuePlayback);
    // Group IDs, then one type byte per group.
    a.template Count<std::uint32_t>(r.groups, 5);
    for (auto& g : r.groups)
        a(g);
    if constexpr (A::kReading) {
        r.groupTypes.resize(r.groups.size());
        for (std::uint8_t& t : r.groupTypes)
            a(t);
    } else {
        if (r.groups.size() != r.groupTypes.size())
            a.Error("music switch " + Hex(r.music.id) + ": one group type per group");
        for (size_t i = 0; i < r.groups.size(); ++i)
            a(i < r.groupTypes.size() ? r.groupTypes[i] : std::uint8_t{0});
    }
    Tree(a, r.tree, r.decisionMode);
}

template <typename A> void Fields(A& a, Io<A, MusicPlaylistRecord>& r) {
    Fields(a, r.music);
    Rules(a, r.rules);
    a.template Count<std::uint32_t>(r.items, 30);
    for (auto& i : r.items)
        a(i.segment, i.itemId, i.childCount, i.levelMode, i.loopCount, i.loopMin, i.loopMax, i.weight,
          i.avoidRepeat, i.unused, i.shuffle);
}

namespace {

// Busses, plug-in settings and modulators each serve several types.
template <typename T> Record OfType(std::uint8_t type) {
    T r;
    r.type = static_cast<HierarchyType>(type);
    return r;
}

// An empty record of a defined type, ready to be filled by the reader.
std::optional<Record> Blank(std::uint8_t type) {
    switch (static_cast<HierarchyType>(type)) {
    case HierarchyType::State:
        return StateRecord{};
    case HierarchyType::Sound:
        return SoundRecord{};
    case HierarchyType::Action:
        return ActionRecord{};
    case HierarchyType::Event:
        return EventRecord{};
    case HierarchyType::RandomSequence:
        return RandomSequenceRecord{};
    case HierarchyType::Switch:
        return SwitchRecord{};
    case HierarchyType::Grouping:
        return GroupingRecord{};
    case HierarchyType::Bus:
    case HierarchyType::DefaultBus:
    case HierarchyType::BusType20:
        return OfType<BusRecord>(type);
    case HierarchyType::Layer:
        return LayerContainerRecord{};
    case HierarchyType::MusicSegment:
        return MusicSegmentRecord{};
    case HierarchyType::MusicTrack:
        return MusicTrackRecord{};
    case HierarchyType::MusicSwitch:
        return MusicSwitchRecord{};
    case HierarchyType::MusicPlaylist:
        return MusicPlaylistRecord{};
    case HierarchyType::Attenuation:
        return AttenuationRecord{};
    case HierarchyType::DialogueEvent:
        return DialogueEventRecord{};
    case HierarchyType::MotionLeaf:
        return MotionLeafRecord{};
    case HierarchyType::SharedPluginSettings:
    case HierarchyType::PluginSettings:
        return OfType<PluginSettingsRecord>(type);
    case HierarchyType::Lfo:
    case HierarchyType::Envelope:
        return OfType<ModulatorRecord>(type);
    }
    return std::nullopt;
}

struct TypeVisitor {
    std::uint8_t operator()(const StateRecord&) const { return 1; }
    std::uint8_t operator()(const SoundRecord&) const { return 2; }
    std::uint8_t operator()(const ActionRecord&) const { return 3; }
    std::uint8_t operator()(const EventRecord&) const { return 4; }
    std::uint8_t operator()(const RandomSequenceRecord&) const { return 5; }
    std::uint8_t operator()(const SwitchRecord&) const { return 6; }
    std::uint8_t operator()(const GroupingRecord&) const { return 7; }
    std::uint8_t operator()(const BusRecord& r) const { return static_cast<std::uint8_t>(r.type); }
    std::uint8_t operator()(const LayerContainerRecord&) const { return 9; }
    std::uint8_t operator()(const MusicSegmentRecord&) const { return 10; }
    std::uint8_t operator()(const MusicTrackRecord&) const { return 11; }
    std::uint8_t operator()(const MusicSwitchRecord&) const { return 12; }
    std::uint8_t operator()(const MusicPlaylistRecord&) const { return 13; }
    std::uint8_t operator()(const AttenuationRecord&) const { return 14; }
    std::uint8_t operator()(const DialogueEventRecord&) const { return 15; }
    std::uint8_t operator()(const MotionLeafRecord&) const { return 17; }
    std::uint8_t operator()(const PluginSettingsRecord& r) const { return static_cast<std::uint8_t>(r.type); }
    std::uint8_t operator()(const ModulatorRecord& r) const { return static_cast<std::uint8_t>(r.type); }
};

} // namespace

const char* HierarchyTypeName(std::uint8_t type) {
    static const char* const names[] = {"unknown",
                                        "State",
                                        "Sound",
                                        "Action",
                                        "Event",
                                        "RandomSequence",
                                        "Switch",
                                        "Grouping",
                                        "Bus",
                                        "Layer",
                                        "MusicSegment",
                                        "MusicTrack",
                                        "MusicSwitch",
                                        "MusicPlaylist",
                                        "Attenuation",
                                        "DialogueEvent",
                                        "DefaultBus",
                                        "MotionLeaf",
                                        "PluginSettings18",
                                        "PluginSettings19",
                                        "BusType20",
                                        "Lfo",
                                        "Envelope"};
    return type < std::size(names) ? names[type] : names[0];
}

Prop PropF(std::uint8_t id, float value) {
    Prop p{id, 0};
    std::memcpy(&p.bits, &value, 4);
    return p;
}

Prop PropI(std::uint8_t id, std::int32_t value) {
    return Prop{id, static_cast<std::uint32_t>(value)};
}

RangedValue RangeF(std::uint8_t id, float min, float max) {
    RangedValue r{id, 0, 0};
    std::memcpy(&r.minBits, &min, 4);
    std::memcpy(&r.maxBits, &max, 4);
    return r;
}

RangedValue RangeI(std::uint8_t id, std::int32_t min, std::int32_t max) {
    return RangedValue{id, static_cast<std::uint32_t>(min), static_cast<std::uint32_t>(max)};
}

TreeNode InnerTreeNode(std::uint32_t key, std::uint16_t firstChild, std::uint16_t count) {
    return TreeNode{key, static_cast<std::uint32_t>(firstChild) | (static_cast<std::uint32_t>(count) << 16),
                    50, 100};
}

TreeNode LeafTreeNode(std::uint32_t key, std::uint32_t audioNode) {
    return TreeNode{key, audioNode, 50, 100};
}

std::uint8_t TypeOf(const Record& record) {
    return std::visit(TypeVisitor{}, record);
}

std::uint32_t IdOf(const Record& record) {
    return std::visit([](const auto& r) { return NodePart(r).id; }, record);
}

bool IsBankActionKind(std::uint16_t type) {
    const std::uint8_t kind = static_cast<std::uint8_t>(type >> 8);
    return (kind >= 0x01 && kind <= 0x14 && kind != 0x05) || (kind >= 0x19 && kind <= 0x20) || kind == 0x30;
}

Bytes EncodePayload(const Record& record, EncodeContext& ctx) {
    Bytes out;
    ByteWriter w(out);
    WriteArchive a(w, &ctx, IdOf(record));
    std::visit([&a](const auto& r) { Fields(a, r); }, record);
    return out;
}

Bytes EncodeRecord(const Record& record, EncodeContext& ctx) {
    const Bytes payload = EncodePayload(record, ctx);
    Bytes out;
    ByteWriter w(out);
    w.U8(TypeOf(record));
    w.U32(static_cast<std::uint32_t>(payload.size()));
    w.Raw(payload);
    return out;
}

bool DecodePayload(std::uint8_t type, std::span<const std::uint8_t> payload, bool extraOwner, Record& out,
                   std::string& error) {
    std::optional<Record> record = Blank(type);
    if (!record) {
        error = "hierarchy type " + std::to_string(type) + " is not defined";
        return false;
    }
    ByteReader r(payload);
    ReadArchive a(r, extraOwner);
    std::visit([&a](auto& x) { Fields(a, x); }, *record);
    if (!a.Refusal().empty()) {
        error = a.Refusal();
        return false;
    }
    out = std::move(*record);
    if (!r.Ok()) {
        error = "payload ends inside its fields";
        return false;
    }
    if (r.Remaining() != 0) {
        error = std::to_string(r.Remaining()) + " bytes left after the fields";
        return false;
    }
    return true;
}

} // namespace bankgen
