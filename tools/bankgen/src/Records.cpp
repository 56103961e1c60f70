#include <bankgen/Records.h>

#include <cstdio>
#include <cstring>
#include <limits>

namespace bankgen {

namespace {

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

template <typename T> std::uint32_t Count32(const std::vector<T>& v) {
    return static_cast<std::uint32_t>(v.size());
}

// Counts narrower than 32 bits are checked: a silently wrapped count corrupts every field after it.
template <typename T>
bool FitsCount(const std::vector<T>& v, size_t limit, const char* what, std::uint32_t id,
               EncodeContext& ctx) {
    if (v.size() <= limit) return true;
    ctx.errors.push_back(std::string("object ") + Hex(id) + ": too many " + what);
    return false;
}

void Points(ByteWriter& w, const std::vector<CurvePoint>& points) {
    for (const CurvePoint& p : points) {
        w.F32(p.x);
        w.F32(p.y);
        w.U32(p.shape);
    }
}

void PropBundle(ByteWriter& w, const std::vector<Prop>& props, std::uint32_t id, EncodeContext& ctx) {
    FitsCount(props, 255, "properties", id, ctx);
    w.U8(static_cast<std::uint8_t>(props.size()));
    for (const Prop& p : props)
        w.U8(p.id);
    for (const Prop& p : props)
        w.U32(p.bits);
}

void RangeBundle(ByteWriter& w, const std::vector<RangedValue>& ranges, std::uint32_t id,
                 EncodeContext& ctx) {
    FitsCount(ranges, 255, "ranged values", id, ctx);
    w.U8(static_cast<std::uint8_t>(ranges.size()));
    for (const RangedValue& r : ranges)
        w.U8(r.id);
    for (const RangedValue& r : ranges) {
        w.U32(r.minBits);
        w.U32(r.maxBits);
    }
}

void RtpcList(ByteWriter& w, const std::vector<RtpcCurve>& curves, std::uint32_t id, EncodeContext& ctx) {
    FitsCount(curves, 0xFFFF, "game-parameter curves", id, ctx);
    w.U16(static_cast<std::uint16_t>(curves.size()));
    for (const RtpcCurve& c : curves) {
        FitsCount(c.points, 0xFFFF, "curve points", id, ctx);
        w.U32(c.gameParameter);
        w.U8(c.drivingType);
        w.U8(c.mode);
        w.U8(c.target);
        w.U32(c.curveId);
        w.U8(c.scaling);
        w.U16(static_cast<std::uint16_t>(c.points.size()));
        Points(w, c.points);
    }
}

void StateChunk(ByteWriter& w, const std::vector<StateGroupLink>& groups, std::uint32_t id,
                EncodeContext& ctx) {
    w.U32(Count32(groups));
    for (const StateGroupLink& g : groups) {
        FitsCount(g.states, 0xFFFF, "states", id, ctx);
        w.U32(g.group);
        w.U8(g.syncByte);
        w.U16(static_cast<std::uint16_t>(g.states.size()));
        for (const StateLink& s : g.states) {
            w.U32(s.state);
            w.U32(s.stateObject);
        }
    }
}

void Children(ByteWriter& w, const std::vector<std::uint32_t>& children) {
    w.U32(Count32(children));
    for (std::uint32_t c : children)
        w.U32(c);
}

void Ids(ByteWriter& w, const std::vector<std::uint32_t>& ids) {
    w.U32(Count32(ids));
    for (std::uint32_t v : ids)
        w.U32(v);
}

void Node(ByteWriter& w, const NodeCommon& n, std::uint32_t id, EncodeContext& ctx) {
    w.U8(n.overrideParentEffects);
    FitsCount(n.effects, 4, "effects", id, ctx);
    w.U8(static_cast<std::uint8_t>(n.effects.size()));
    if (!n.effects.empty()) {
        w.U8(n.bypassBits);
        for (const EffectEntry& e : n.effects) {
            if (e.slot > 3) ctx.errors.push_back("object " + Hex(id) + ": effect slot above 3");
            w.U8(e.slot);
            w.U32(e.id);
            w.U8(e.shared);
            w.U8(e.last);
        }
    }
    w.U8(n.overrideAttachedPlugin);
    w.U32(n.outputBus);
    w.U32(n.parent);
    w.U8(n.bitVector);
    PropBundle(w, n.props, id, ctx);
    RangeBundle(w, n.ranges, id, ctx);

    const Positioning& p = n.positioning;
    w.U8(p.bits);
    if ((p.bits & 1) && (p.bits & 8)) {
        w.U8(p.type3d);
        w.U32(p.attenuation);
        if ((p.type3d & 3) != 1) {
            w.U8(p.pathMode);
            w.U32(p.pathEndMs);
            w.U32(Count32(p.vertices));
            for (const PathVertex& v : p.vertices) {
                w.F32(v.x);
                w.F32(v.y);
                w.F32(v.z);
                w.U32(v.durationMs);
            }
            w.U32(Count32(p.items));
            for (const PathItem& i : p.items) {
                if (std::uint64_t{i.firstVertex} + i.vertexCount > p.vertices.size())
                    ctx.errors.push_back("object " + Hex(id) + ": path item past the vertices");
                w.U32(i.firstVertex);
                w.U32(i.vertexCount);
            }
            for (const PathItem& i : p.items) {
                w.F32(i.rangeX);
                w.F32(i.rangeY);
                w.F32(i.rangeZ);
            }
        }
    }

    w.U8(n.auxBits);
    if (n.auxBits & 8)
        for (std::uint32_t bus : n.userAux)
            w.U32(bus);

    w.U8(n.advancedFlags);
    w.U8(n.virtualQueue);
    w.U16(n.maxInstances);
    w.U8(n.belowThreshold);
    w.U8(n.outputFlags);

    StateChunk(w, n.stateGroups, id, ctx);
    RtpcList(w, n.rtpcs, id, ctx);
    if (ctx.extraOwner) w.U32(n.extraOwnerBus);
}

void Source(ByteWriter& w, const SourceRecord& s, std::uint32_t owner, EncodeContext& ctx) {
    const std::uint32_t kind = s.plugin & 0xF;
    if (kind != 0 && kind != 1 && kind != 2 && kind != 5)
        ctx.errors.push_back("object " + Hex(owner) + ": plug-in type " + std::to_string(kind) +
                             " not readable");
    if (s.streamType > 2) ctx.errors.push_back("object " + Hex(owner) + ": stream type above 2");

    std::uint32_t fileId = s.fileId, offset = s.fileOffset, size = s.inMemorySize;
    if (s.fromBank) {
        std::optional<MediaPlacement> placed = ctx.findMedia ? ctx.findMedia(s.sourceId) : std::nullopt;
        if (!placed) {
            ctx.errors.push_back("object " + Hex(owner) + ": media " + Hex(s.sourceId) +
                                 " is not in this bank");
        } else {
            fileId = ctx.bankId;
            offset = placed->fileOffset;
            size = placed->size;
        }
    }
    w.U32(s.plugin);
    w.U8(s.streamType);
    w.U32(s.sourceId);
    w.U32(fileId);
    if (s.streamType != 2) w.U32(offset);
    w.U32(size);
    w.U8(s.bits);
    if (kind == 2 || kind == 5) {
        w.U32(static_cast<std::uint32_t>(s.params.size()));
        w.Raw(s.params);
    }
}

void Exceptions(ByteWriter& w, const std::vector<ActionException>& list) {
    w.U32(Count32(list));
    for (const ActionException& e : list) {
        w.U32(e.id);
        w.U8(e.isBus);
    }
}

void ActionParams(ByteWriter& w, const ActionRecord& a, EncodeContext& ctx) {
    const std::uint8_t kind = static_cast<std::uint8_t>(a.type >> 8);
    switch (kind) {
    case 0x01:
    case 0x06:
    case 0x07:
        w.U8(a.curve);
        Exceptions(w, a.exceptions);
        break;
    case 0x02:
    case 0x03:
        w.U8(a.curve);
        w.U8(a.option);
        Exceptions(w, a.exceptions);
        break;
    case 0x04:
        w.U8(a.curve);
        w.U32(a.bankId);
        break;
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
        w.U8(a.curve);
        w.U8(a.valueMeaning);
        w.F32(a.base);
        w.F32(a.min);
        w.F32(a.max);
        Exceptions(w, a.exceptions);
        break;
    case 0x10:
    case 0x11:
    case 0x1C:
    case 0x1D:
    case 0x1F:
        break;
    case 0x12:
    case 0x19:
        w.U32(a.groupId);
        w.U32(a.valueId);
        break;
    case 0x13:
    case 0x14:
        w.U8(a.curve);
        w.U8(a.bypassTransition);
        w.U8(a.valueMeaning);
        w.F32(a.base);
        w.F32(a.min);
        w.F32(a.max);
        Exceptions(w, a.exceptions);
        break;
    case 0x1A:
    case 0x1B:
        w.U8(a.option);
        w.U8(a.slotMask);
        Exceptions(w, a.exceptions);
        break;
    case 0x1E:
        w.U8(a.option);
        w.F32(a.base);
        w.F32(a.min);
        w.F32(a.max);
        w.U8(a.snapToMarker);
        Exceptions(w, a.exceptions);
        break;
    default:
        ctx.errors.push_back("action " + Hex(a.id) + ": type " + Hex(a.type) + " cannot be read from a bank");
        break;
    }
}

void Rules(ByteWriter& w, const std::vector<TransitionRule>& rules) {
    w.U32(Count32(rules));
    for (const TransitionRule& r : rules) {
        Ids(w, r.sources);
        Ids(w, r.destinations);
        w.U32(r.sourceFadeMs);
        w.U32(r.sourceCurve);
        w.U32(r.sourceOffsetMs);
        w.U32(r.syncType);
        w.U32(r.sourceCueFilter);
        w.U8(r.playPostExit);
        w.U32(r.destFadeMs);
        w.U32(r.destCurve);
        w.U32(r.destOffsetMs);
        w.U32(r.destCueFilter);
        w.U32(r.jumpTo);
        w.U16(r.entryType);
        w.U8(r.playPreEntry);
        w.U8(r.matchCueName);
        w.U8(r.transitionSegment ? 1 : 0);
        if (r.transitionSegment) {
            const TransitionSegment& t = *r.transitionSegment;
            w.U32(t.segment);
            w.U32(t.fadeInMs);
            w.U32(t.fadeInCurve);
            w.U32(t.fadeInOffsetMs);
            w.U32(t.fadeOutMs);
            w.U32(t.fadeOutCurve);
            w.U32(t.fadeOutOffsetMs);
            w.U8(t.playPreEntry);
            w.U8(t.playPostExit);
        }
    }
}

void Tree(ByteWriter& w, const std::vector<TreeNode>& tree) {
    for (const TreeNode& t : tree) {
        w.U32(t.key);
        w.U32(t.childOrNode);
        w.U16(t.weight);
        w.U16(t.probability);
    }
}

void MusicNode(ByteWriter& w, const MusicNodePart& m, EncodeContext& ctx) {
    w.U32(m.id);
    w.U8(m.flags);
    Node(w, m.node, m.id, ctx);
    Children(w, m.children);
    w.F64(m.gridPeriodMs);
    w.F64(m.gridOffsetMs);
    w.F32(m.tempo);
    w.U8(m.beatsPerBar);
    w.U8(m.beatValue);
    w.U8(m.timeOverride);
    w.U32(static_cast<std::uint32_t>(m.stingers.size()));
    for (const Stinger& s : m.stingers) {
        w.U32(s.trigger);
        w.U32(s.segment);
        w.U32(s.syncType);
        w.U32(s.cueFilter);
        w.U32(s.dontRepeatMs);
        w.U32(s.lookAhead);
    }
}

struct PayloadWriter {
    ByteWriter& w;
    EncodeContext& ctx;

    void operator()(const StateRecord& r) {
        w.U32(r.id);
        PropBundle(w, r.props, r.id, ctx);
    }
    void operator()(const SoundRecord& r) {
        w.U32(r.id);
        Source(w, r.source, r.id, ctx);
        Node(w, r.node, r.id, ctx);
    }
    void operator()(const MotionLeafRecord& r) {
        w.U32(r.id);
        w.U32(Count32(r.sources));
        for (const MotionSource& s : r.sources) {
            w.U16(s.device1);
            w.U16(s.device2);
            w.F32(s.levelOffset);
            Source(w, s.source, r.id, ctx);
        }
        Node(w, r.node, r.id, ctx);
    }
    void operator()(const ActionRecord& r) {
        if (r.id == 0) ctx.errors.push_back("an action has ID 0");
        w.U32(r.id);
        w.U16(r.type);
        w.U32(r.target);
        w.U8(r.isBus);
        PropBundle(w, r.props, r.id, ctx);
        RangeBundle(w, r.ranges, r.id, ctx);
        ActionParams(w, r, ctx);
    }
    void operator()(const EventRecord& r) {
        w.U32(r.id);
        Ids(w, r.actions);
    }
    void operator()(const RandomSequenceRecord& r) {
        w.U32(r.id);
        Node(w, r.node, r.id, ctx);
        w.U16(r.loopCount);
        w.I16(r.loopMin);
        w.I16(r.loopMax);
        w.F32(r.transitionMs);
        w.F32(r.transitionMin);
        w.F32(r.transitionMax);
        w.U16(r.avoidRepeat);
        w.U8(r.transitionMode);
        w.U8(r.randomMode);
        w.U8(r.playlistMode);
        w.U8(r.flags);
        Children(w, r.children);
        FitsCount(r.playlist, 0xFFFF, "playlist items", r.id, ctx);
        w.U16(static_cast<std::uint16_t>(r.playlist.size()));
        for (const PlaylistEntry& e : r.playlist) {
            w.U32(e.child);
            w.U32(e.weight);
        }
    }
    void operator()(const SwitchRecord& r) {
        w.U32(r.id);
        Node(w, r.node, r.id, ctx);
        w.U8(r.groupType);
        w.U32(r.group);
        w.U32(r.defaultValue);
        w.U8(r.followChanges);
        Children(w, r.children);
        w.U32(Count32(r.packages));
        for (const SwitchPackage& p : r.packages) {
            w.U32(p.value);
            Children(w, p.children);
        }
        w.U32(Count32(r.settings));
        for (const SwitchChildSettings& s : r.settings) {
            w.U32(s.child);
            w.U8(s.flags);
            w.U8(s.mode);
            w.U32(s.fadeOutMs);
            w.U32(s.fadeInMs);
        }
    }
    void operator()(const GroupingRecord& r) {
        w.U32(r.id);
        Node(w, r.node, r.id, ctx);
        Children(w, r.children);
    }
    void operator()(const BusRecord& r) {
        w.U32(r.id);
        w.U32(r.parent);
        PropBundle(w, r.props, r.id, ctx);
        w.U8(r.flags1);
        w.U8(r.flags2);
        w.U16(r.maxInstances);
        w.U32(r.channelConfig);
        w.U8(r.flags3);
        w.U32(r.recoveryMs);
        w.F32(r.maxDuckVolume);
        w.U32(Count32(r.ducks));
        for (const DuckTarget& d : r.ducks) {
            w.U32(d.bus);
            w.F32(d.duckDb);
            w.U32(d.fadeOutMs);
            w.U32(d.fadeInMs);
            w.U8(d.curve);
            w.U8(d.targetProperty);
        }
        FitsCount(r.effects, 4, "effects", r.id, ctx);
        w.U8(static_cast<std::uint8_t>(r.effects.size()));
        if (!r.effects.empty()) {
            w.U8(r.bypassBits);
            for (const EffectEntry& e : r.effects) {
                w.U8(e.slot);
                w.U32(e.id);
                w.U8(e.shared);
                w.U8(e.last);
            }
        }
        w.U32(r.mixer);
        w.U8(r.mixerShareSet);
        w.U8(r.overrideAttachedPlugin);
        RtpcList(w, r.rtpcs, r.id, ctx);
        StateChunk(w, r.stateGroups, r.id, ctx);
        if (ctx.extraOwner) w.U32(r.extraOwnerBus);
    }
    void operator()(const LayerContainerRecord& r) {
        w.U32(r.id);
        Node(w, r.node, r.id, ctx);
        Children(w, r.children);
        w.U32(Count32(r.layers));
        for (const Layer& l : r.layers) {
            w.U32(l.id);
            RtpcList(w, l.rtpcs, r.id, ctx);
            w.U32(l.crossfadeParameter);
            w.U8(l.crossfadeType);
            w.U32(Count32(l.associations));
            for (const LayerAssociation& a : l.associations) {
                w.U32(a.child);
                w.U32(Count32(a.points));
                Points(w, a.points);
            }
        }
    }
    void operator()(const AttenuationRecord& r) {
        w.U32(r.id);
        w.U8(r.cone ? 1 : 0);
        if (r.cone) {
            w.F32(r.cone->innerDeg);
            w.F32(r.cone->outerDeg);
            for (float v : r.cone->values)
                w.F32(v);
        }
        for (std::uint8_t use : r.curveUse) {
            if (use != 255 && use >= r.curves.size())
                ctx.errors.push_back("attenuation " + Hex(r.id) + ": curve use names a missing curve");
            w.U8(use);
        }
        if (r.curves.empty() || r.curves.size() > 7)
            ctx.errors.push_back("attenuation " + Hex(r.id) + ": needs 1 to 7 curves");
        w.U8(static_cast<std::uint8_t>(r.curves.size()));
        for (const ScaledCurve& c : r.curves) {
            w.U8(c.scaling);
            w.U16(static_cast<std::uint16_t>(c.points.size()));
            Points(w, c.points);
        }
        RtpcList(w, r.rtpcs, r.id, ctx);
    }
    void operator()(const DialogueEventRecord& r) {
        w.U32(r.id);
        w.U8(r.probability);
        w.U32(Count32(r.arguments));
        for (const auto& a : r.arguments)
            w.Raw(a);
        w.U32(static_cast<std::uint32_t>(r.tree.size() * 12));
        w.U8(r.mode);
        Tree(w, r.tree);
    }
    void operator()(const PluginSettingsRecord& r) {
        w.U32(r.id);
        w.U32(r.plugin);
        w.U32(static_cast<std::uint32_t>(r.block.size()));
        w.Raw(r.block);
        FitsCount(r.media, 255, "media", r.id, ctx);
        w.U8(static_cast<std::uint8_t>(r.media.size()));
        for (const PluginMedia& m : r.media) {
            w.U8(m.index);
            w.U32(m.media);
        }
        RtpcList(w, r.rtpcs, r.id, ctx);
        FitsCount(r.initialValues, 0xFFFF, "initial values", r.id, ctx);
        w.U16(static_cast<std::uint16_t>(r.initialValues.size()));
        for (const InitialValue& v : r.initialValues) {
            w.U8(v.key);
            w.F32(v.value);
        }
    }
    void operator()(const ModulatorRecord& r) {
        w.U32(r.id);
        PropBundle(w, r.props, r.id, ctx);
        RangeBundle(w, r.ranges, r.id, ctx);
        RtpcList(w, r.rtpcs, r.id, ctx);
    }
    void operator()(const MusicSegmentRecord& r) {
        MusicNode(w, r.music, ctx);
        w.F64(r.durationMs);
        w.U32(Count32(r.markers));
        for (const Marker& m : r.markers) {
            w.U32(m.id);
            w.F64(m.positionMs);
            w.U32(static_cast<std::uint32_t>(m.name.size()));
            w.Raw(std::span(reinterpret_cast<const std::uint8_t*>(m.name.data()), m.name.size()));
        }
    }
    void operator()(const MusicTrackRecord& r) {
        w.U32(r.id);
        w.U8(r.flags);
        w.U32(Count32(r.sources));
        for (const SourceRecord& s : r.sources)
            Source(w, s, r.id, ctx);
        w.U32(Count32(r.clips));
        for (const TrackClip& c : r.clips) {
            w.U32(c.subTrack);
            w.U32(c.source);
            w.F64(c.playAtMs);
            w.F64(c.beginTrimMs);
            w.F64(c.endTrimMs);
            w.F64(c.sourceDurationMs);
        }
        w.U32(r.subTrackCount);
        w.U32(Count32(r.automations));
        for (const ClipAutomation& a : r.automations) {
            w.U32(a.clip);
            w.U32(a.type);
            w.U32(Count32(a.points));
            Points(w, a.points);
        }
        Node(w, r.node, r.id, ctx);
        w.U8(r.trackType);
        if (r.trackType == 3) {
            const SwitchTrack& s = r.switchTrack;
            w.U8(s.groupType);
            w.U32(s.group);
            w.U32(s.defaultValue);
            Ids(w, s.values);
            w.U32(s.fadeOutMs);
            w.U32(s.fadeOutCurve);
            w.U32(s.fadeOutOffsetMs);
            w.U32(s.syncType);
            w.U32(s.cueFilter);
            w.U32(s.fadeInMs);
            w.U32(s.fadeInCurve);
            w.U32(s.fadeInOffsetMs);
        }
        w.U32(r.lookAheadMs);
    }
    void operator()(const MusicSwitchRecord& r) {
        MusicNode(w, r.music, ctx);
        Rules(w, r.rules);
        w.U8(r.continuePlayback);
        if (r.groups.size() != r.groupTypes.size())
            ctx.errors.push_back("music switch " + Hex(r.music.id) + ": one group type per group");
        w.U32(Count32(r.groups));
        for (std::uint32_t g : r.groups)
            w.U32(g);
        for (size_t i = 0; i < r.groups.size(); ++i)
            w.U8(i < r.groupTypes.size() ? r.groupTypes[i] : 0);
        w.U32(static_cast<std::uint32_t>(r.tree.size() * 12));
        w.U8(r.decisionMode);
        Tree(w, r.tree);
    }
    void operator()(const MusicPlaylistRecord& r) {
        MusicNode(w, r.music, ctx);
        Rules(w, r.rules);
        w.U32(Count32(r.items));
        for (const MusicPlaylistItem& i : r.items) {
            w.U32(i.segment);
            w.U32(i.itemId);
            w.U32(i.childCount);
            w.U32(i.levelMode);
            w.U16(i.loopCount);
            w.I16(i.loopMin);
            w.I16(i.loopMax);
            w.U32(i.weight);
            w.U16(i.avoidRepeat);
            w.U8(i.unused);
            w.U8(i.shuffle);
        }
    }
};

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
    return std::visit(
        [](const auto& r) -> std::uint32_t {
            if constexpr (requires { r.music.id; })
                return r.music.id;
            else
                return r.id;
        },
        record);
}

bool IsBankActionKind(std::uint16_t type) {
    const std::uint8_t kind = static_cast<std::uint8_t>(type >> 8);
    return (kind >= 0x01 && kind <= 0x14 && kind != 0x05) || (kind >= 0x19 && kind <= 0x20) || kind == 0x30;
}

Bytes EncodePayload(const Record& record, EncodeContext& ctx) {
    Bytes out;
    ByteWriter w(out);
    std::visit(PayloadWriter{w, ctx}, record);
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

} // namespace bankgen
