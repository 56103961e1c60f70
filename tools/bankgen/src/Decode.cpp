// Record decoding: the mirror of the encoders, on a bounded reader. Counts are checked against
// what remains before anything is sized from them.
#include <bankgen/Parse.h>

namespace bankgen {

namespace {

struct Decoder {
    ByteReader& r;
    bool extraOwner;

    // Refuses a count whose smallest possible encoding would not fit in what remains.
    bool Fits(std::uint64_t count, size_t minBytes) {
        if (count * minBytes > r.Remaining()) {
            r.Fail();
            return false;
        }
        return true;
    }

    std::vector<CurvePoint> Points(std::uint32_t n) {
        std::vector<CurvePoint> out;
        if (!Fits(n, 12)) return out;
        out.resize(n);
        for (CurvePoint& p : out) {
            p.x = r.F32();
            p.y = r.F32();
            p.shape = r.U32();
        }
        return out;
    }

    std::vector<Prop> Props() {
        const std::uint8_t n = r.U8();
        std::vector<Prop> out;
        if (!Fits(n, 5)) return out;
        out.resize(n);
        for (Prop& p : out)
            p.id = r.U8();
        for (Prop& p : out)
            p.bits = r.U32();
        return out;
    }

    std::vector<RangedValue> Ranges() {
        const std::uint8_t n = r.U8();
        std::vector<RangedValue> out;
        if (!Fits(n, 9)) return out;
        out.resize(n);
        for (RangedValue& v : out)
            v.id = r.U8();
        for (RangedValue& v : out) {
            v.minBits = r.U32();
            v.maxBits = r.U32();
        }
        return out;
    }

    std::vector<RtpcCurve> Rtpcs() {
        const std::uint16_t n = r.U16();
        std::vector<RtpcCurve> out;
        if (!Fits(n, 14)) return out;
        out.resize(n);
        for (RtpcCurve& c : out) {
            c.gameParameter = r.U32();
            c.drivingType = r.U8();
            c.mode = r.U8();
            c.target = r.U8();
            c.curveId = r.U32();
            c.scaling = r.U8();
            c.points = Points(r.U16());
        }
        return out;
    }

    std::vector<StateGroupLink> States() {
        const std::uint32_t n = r.U32();
        std::vector<StateGroupLink> out;
        if (!Fits(n, 7)) return out;
        out.resize(n);
        for (StateGroupLink& g : out) {
            g.group = r.U32();
            g.syncByte = r.U8();
            const std::uint16_t s = r.U16();
            if (!Fits(s, 8)) return out;
            g.states.resize(s);
            for (StateLink& l : g.states) {
                l.state = r.U32();
                l.stateObject = r.U32();
            }
        }
        return out;
    }

    std::vector<std::uint32_t> Ids() {
        const std::uint32_t n = r.U32();
        std::vector<std::uint32_t> out;
        if (!Fits(n, 4)) return out;
        out.resize(n);
        for (std::uint32_t& v : out)
            v = r.U32();
        return out;
    }

    void Effects(std::vector<EffectEntry>& effects, std::uint8_t& bypass) {
        const std::uint8_t n = r.U8();
        if (n == 0 || !Fits(n, 7)) return;
        bypass = r.U8();
        effects.resize(n);
        for (EffectEntry& e : effects) {
            e.slot = r.U8();
            e.id = r.U32();
            e.shared = r.U8();
            e.last = r.U8();
        }
    }

    NodeCommon Node() {
        NodeCommon n;
        n.overrideParentEffects = r.U8();
        Effects(n.effects, n.bypassBits);
        n.overrideAttachedPlugin = r.U8();
        n.outputBus = r.U32();
        n.parent = r.U32();
        n.bitVector = r.U8();
        n.props = Props();
        n.ranges = Ranges();
        Positioning& p = n.positioning;
        p.bits = r.U8();
        if ((p.bits & 1) && (p.bits & 8)) {
            p.type3d = r.U8();
            p.attenuation = r.U32();
            if ((p.type3d & 3) != 1) {
                p.pathMode = r.U8();
                p.pathEndMs = r.U32();
                const std::uint32_t v = r.U32();
                if (!Fits(v, 16)) return n;
                p.vertices.resize(v);
                for (PathVertex& x : p.vertices) {
                    x.x = r.F32();
                    x.y = r.F32();
                    x.z = r.F32();
                    x.durationMs = r.U32();
                }
                const std::uint32_t items = r.U32();
                if (!Fits(items, 20)) return n;
                p.items.resize(items);
                for (PathItem& i : p.items) {
                    i.firstVertex = r.U32();
                    i.vertexCount = r.U32();
                }
                for (PathItem& i : p.items) {
                    i.rangeX = r.F32();
                    i.rangeY = r.F32();
                    i.rangeZ = r.F32();
                }
            }
        }
        n.auxBits = r.U8();
        if (n.auxBits & 8)
            for (std::uint32_t& bus : n.userAux)
                bus = r.U32();
        n.advancedFlags = r.U8();
        n.virtualQueue = r.U8();
        n.maxInstances = r.U16();
        n.belowThreshold = r.U8();
        n.outputFlags = r.U8();
        n.stateGroups = States();
        n.rtpcs = Rtpcs();
        if (extraOwner) n.extraOwnerBus = r.U32();
        return n;
    }

    SourceRecord Source() {
        SourceRecord s;
        s.plugin = r.U32();
        s.streamType = r.U8();
        s.sourceId = r.U32();
        s.fileId = r.U32();
        if (s.streamType != 2) s.fileOffset = r.U32();
        s.inMemorySize = r.U32();
        s.bits = r.U8();
        const std::uint32_t kind = s.plugin & 0xF;
        if (kind == 2 || kind == 5) {
            const std::uint32_t p = r.U32();
            auto block = r.Take(p);
            s.params.assign(block.begin(), block.end());
        }
        return s;
    }

    std::vector<ActionException> Exceptions() {
        const std::uint32_t n = r.U32();
        std::vector<ActionException> out;
        if (!Fits(n, 5)) return out;
        out.resize(n);
        for (ActionException& e : out) {
            e.id = r.U32();
            e.isBus = r.U8();
        }
        return out;
    }

    // False for a high byte the bank cannot carry.
    bool ActionParams(ActionRecord& a) {
        switch (a.type >> 8) {
        case 0x01:
        case 0x06:
        case 0x07:
            a.curve = r.U8();
            a.exceptions = Exceptions();
            return true;
        case 0x02:
        case 0x03:
            a.curve = r.U8();
            a.option = r.U8();
            a.exceptions = Exceptions();
            return true;
        case 0x04:
            a.curve = r.U8();
            a.bankId = r.U32();
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
            a.curve = r.U8();
            a.valueMeaning = r.U8();
            a.base = r.F32();
            a.min = r.F32();
            a.max = r.F32();
            a.exceptions = Exceptions();
            return true;
        case 0x10:
        case 0x11:
        case 0x1C:
        case 0x1D:
        case 0x1F:
            return true;
        case 0x12:
        case 0x19:
            a.groupId = r.U32();
            a.valueId = r.U32();
            return true;
        case 0x13:
        case 0x14:
            a.curve = r.U8();
            a.bypassTransition = r.U8();
            a.valueMeaning = r.U8();
            a.base = r.F32();
            a.min = r.F32();
            a.max = r.F32();
            a.exceptions = Exceptions();
            return true;
        case 0x1A:
        case 0x1B:
            a.option = r.U8();
            a.slotMask = r.U8();
            a.exceptions = Exceptions();
            return true;
        case 0x1E:
            a.option = r.U8();
            a.base = r.F32();
            a.min = r.F32();
            a.max = r.F32();
            a.snapToMarker = r.U8();
            a.exceptions = Exceptions();
            return true;
        default:
            return false;
        }
    }

    std::vector<TreeNode> Tree(std::uint32_t bytes) {
        std::vector<TreeNode> out;
        if (bytes % 12 != 0 || !Fits(bytes, 1)) {
            r.Fail();
            return out;
        }
        out.resize(bytes / 12);
        for (TreeNode& t : out) {
            t.key = r.U32();
            t.childOrNode = r.U32();
            t.weight = r.U16();
            t.probability = r.U16();
        }
        return out;
    }

    MusicNodePart Music() {
        MusicNodePart m;
        m.id = r.U32();
        m.flags = r.U8();
        m.node = Node();
        m.children = Ids();
        m.gridPeriodMs = r.F64();
        m.gridOffsetMs = r.F64();
        m.tempo = r.F32();
        m.beatsPerBar = r.U8();
        m.beatValue = r.U8();
        m.timeOverride = r.U8();
        const std::uint32_t n = r.U32();
        if (!Fits(n, 24)) return m;
        m.stingers.resize(n);
        for (Stinger& s : m.stingers) {
            s.trigger = r.U32();
            s.segment = r.U32();
            s.syncType = r.U32();
            s.cueFilter = r.U32();
            s.dontRepeatMs = r.U32();
            s.lookAhead = r.U32();
        }
        return m;
    }

    std::vector<TransitionRule> Rules() {
        const std::uint32_t n = r.U32();
        std::vector<TransitionRule> out;
        if (!Fits(n, 54)) return out;
        out.resize(n);
        for (TransitionRule& t : out) {
            t.sources = Ids();
            t.destinations = Ids();
            t.sourceFadeMs = r.U32();
            t.sourceCurve = r.U32();
            t.sourceOffsetMs = r.U32();
            t.syncType = r.U32();
            t.sourceCueFilter = r.U32();
            t.playPostExit = r.U8();
            t.destFadeMs = r.U32();
            t.destCurve = r.U32();
            t.destOffsetMs = r.U32();
            t.destCueFilter = r.U32();
            t.jumpTo = r.U32();
            t.entryType = r.U16();
            t.playPreEntry = r.U8();
            t.matchCueName = r.U8();
            if (r.U8() != 0) {
                TransitionSegment s;
                s.segment = r.U32();
                s.fadeInMs = r.U32();
                s.fadeInCurve = r.U32();
                s.fadeInOffsetMs = r.U32();
                s.fadeOutMs = r.U32();
                s.fadeOutCurve = r.U32();
                s.fadeOutOffsetMs = r.U32();
                s.playPreEntry = r.U8();
                s.playPostExit = r.U8();
                t.transitionSegment = s;
            }
        }
        return out;
    }
};

} // namespace

bool DecodePayload(std::uint8_t type, std::span<const std::uint8_t> payload, bool extraOwner, Record& out,
                   std::string& error) {
    ByteReader r(payload);
    Decoder d{r, extraOwner};
    switch (static_cast<HierarchyType>(type)) {
    case HierarchyType::State: {
        StateRecord s;
        s.id = r.U32();
        s.props = d.Props();
        out = s;
        break;
    }
    case HierarchyType::Sound: {
        SoundRecord s;
        s.id = r.U32();
        s.source = d.Source();
        s.node = d.Node();
        out = std::move(s);
        break;
    }
    case HierarchyType::MotionLeaf: {
        MotionLeafRecord m;
        m.id = r.U32();
        const std::uint32_t n = r.U32();
        if (d.Fits(n, 26)) {
            m.sources.resize(n);
            for (MotionSource& s : m.sources) {
                s.device1 = r.U16();
                s.device2 = r.U16();
                s.levelOffset = r.F32();
                s.source = d.Source();
            }
        }
        m.node = d.Node();
        out = std::move(m);
        break;
    }
    case HierarchyType::Action: {
        ActionRecord a;
        a.id = r.U32();
        a.type = r.U16();
        a.target = r.U32();
        a.isBus = r.U8();
        a.props = d.Props();
        a.ranges = d.Ranges();
        if (r.Ok() && !d.ActionParams(a)) {
            error = "action type " + std::to_string(a.type >> 8) + " (high byte) cannot be read";
            return false;
        }
        out = std::move(a);
        break;
    }
    case HierarchyType::Event: {
        EventRecord e;
        e.id = r.U32();
        e.actions = d.Ids();
        out = std::move(e);
        break;
    }
    case HierarchyType::RandomSequence: {
        RandomSequenceRecord c;
        c.id = r.U32();
        c.node = d.Node();
        c.loopCount = r.U16();
        c.loopMin = r.I16();
        c.loopMax = r.I16();
        c.transitionMs = r.F32();
        c.transitionMin = r.F32();
        c.transitionMax = r.F32();
        c.avoidRepeat = r.U16();
        c.transitionMode = r.U8();
        c.randomMode = r.U8();
        c.playlistMode = r.U8();
        c.flags = r.U8();
        c.children = d.Ids();
        const std::uint16_t n = r.U16();
        if (d.Fits(n, 8)) {
            c.playlist.resize(n);
            for (PlaylistEntry& e : c.playlist) {
                e.child = r.U32();
                e.weight = r.U32();
            }
        }
        out = std::move(c);
        break;
    }
    case HierarchyType::Switch: {
        SwitchRecord s;
        s.id = r.U32();
        s.node = d.Node();
        s.groupType = r.U8();
        s.group = r.U32();
        s.defaultValue = r.U32();
        s.followChanges = r.U8();
        s.children = d.Ids();
        std::uint32_t n = r.U32();
        if (d.Fits(n, 8)) {
            s.packages.resize(n);
            for (SwitchPackage& p : s.packages) {
                p.value = r.U32();
                p.children = d.Ids();
            }
        }
        n = r.U32();
        if (d.Fits(n, 14)) {
            s.settings.resize(n);
            for (SwitchChildSettings& c : s.settings) {
                c.child = r.U32();
                c.flags = r.U8();
                c.mode = r.U8();
                c.fadeOutMs = r.U32();
                c.fadeInMs = r.U32();
            }
        }
        out = std::move(s);
        break;
    }
    case HierarchyType::Grouping: {
        GroupingRecord g;
        g.id = r.U32();
        g.node = d.Node();
        g.children = d.Ids();
        out = std::move(g);
        break;
    }
    case HierarchyType::Bus:
    case HierarchyType::DefaultBus:
    case HierarchyType::BusType20: {
        BusRecord b;
        b.type = static_cast<HierarchyType>(type);
        b.id = r.U32();
        b.parent = r.U32();
        b.props = d.Props();
        b.flags1 = r.U8();
        b.flags2 = r.U8();
        b.maxInstances = r.U16();
        b.channelConfig = r.U32();
        b.flags3 = r.U8();
        b.recoveryMs = r.U32();
        b.maxDuckVolume = r.F32();
        const std::uint32_t n = r.U32();
        if (d.Fits(n, 18)) {
            b.ducks.resize(n);
            for (DuckTarget& t : b.ducks) {
                t.bus = r.U32();
                t.duckDb = r.F32();
                t.fadeOutMs = r.U32();
                t.fadeInMs = r.U32();
                t.curve = r.U8();
                t.targetProperty = r.U8();
            }
        }
        d.Effects(b.effects, b.bypassBits);
        b.mixer = r.U32();
        b.mixerShareSet = r.U8();
        b.overrideAttachedPlugin = r.U8();
        b.rtpcs = d.Rtpcs();
        b.stateGroups = d.States();
        if (extraOwner) b.extraOwnerBus = r.U32();
        out = std::move(b);
        break;
    }
    case HierarchyType::Layer: {
        LayerContainerRecord l;
        l.id = r.U32();
        l.node = d.Node();
        l.children = d.Ids();
        const std::uint32_t n = r.U32();
        if (d.Fits(n, 15)) {
            l.layers.resize(n);
            for (Layer& layer : l.layers) {
                layer.id = r.U32();
                layer.rtpcs = d.Rtpcs();
                layer.crossfadeParameter = r.U32();
                layer.crossfadeType = r.U8();
                const std::uint32_t a = r.U32();
                if (!d.Fits(a, 8)) break;
                layer.associations.resize(a);
                for (LayerAssociation& as : layer.associations) {
                    as.child = r.U32();
                    as.points = d.Points(r.U32());
                }
            }
        }
        out = std::move(l);
        break;
    }
    case HierarchyType::Attenuation: {
        AttenuationRecord a;
        a.id = r.U32();
        if (r.U8() != 0) {
            Cone c;
            c.innerDeg = r.F32();
            c.outerDeg = r.F32();
            for (float& v : c.values)
                v = r.F32();
            a.cone = c;
        }
        for (std::uint8_t& u : a.curveUse)
            u = r.U8();
        const std::uint8_t c = r.U8();
        a.curves.clear();
        if (d.Fits(c, 3)) {
            a.curves.resize(c);
            for (ScaledCurve& sc : a.curves) {
                sc.scaling = r.U8();
                sc.points = d.Points(r.U16());
            }
        }
        a.rtpcs = d.Rtpcs();
        out = std::move(a);
        break;
    }
    case HierarchyType::DialogueEvent: {
        DialogueEventRecord e;
        e.id = r.U32();
        e.probability = r.U8();
        const std::uint32_t n = r.U32();
        if (d.Fits(n, 5)) {
            e.arguments.resize(n);
            for (auto& arg : e.arguments)
                for (std::uint8_t& b : arg)
                    b = r.U8();
        }
        const std::uint32_t size = r.U32();
        e.mode = r.U8();
        e.tree = d.Tree(size);
        out = std::move(e);
        break;
    }
    case HierarchyType::SharedPluginSettings:
    case HierarchyType::PluginSettings: {
        PluginSettingsRecord p;
        p.type = static_cast<HierarchyType>(type);
        p.id = r.U32();
        p.plugin = r.U32();
        auto block = r.Take(r.U32());
        p.block.assign(block.begin(), block.end());
        const std::uint8_t m = r.U8();
        if (d.Fits(m, 5)) {
            p.media.resize(m);
            for (PluginMedia& pm : p.media) {
                pm.index = r.U8();
                pm.media = r.U32();
            }
        }
        p.rtpcs = d.Rtpcs();
        const std::uint16_t v = r.U16();
        if (d.Fits(v, 5)) {
            p.initialValues.resize(v);
            for (InitialValue& iv : p.initialValues) {
                iv.key = r.U8();
                iv.value = r.F32();
            }
        }
        out = std::move(p);
        break;
    }
    case HierarchyType::Lfo:
    case HierarchyType::Envelope: {
        ModulatorRecord m;
        m.type = static_cast<HierarchyType>(type);
        m.id = r.U32();
        m.props = d.Props();
        m.ranges = d.Ranges();
        m.rtpcs = d.Rtpcs();
        out = std::move(m);
        break;
    }
    case HierarchyType::MusicSegment: {
        MusicSegmentRecord s;
        s.music = d.Music();
        s.durationMs = r.F64();
        const std::uint32_t n = r.U32();
        if (d.Fits(n, 16)) {
            s.markers.resize(n);
            for (Marker& m : s.markers) {
                m.id = r.U32();
                m.positionMs = r.F64();
                auto name = r.Take(r.U32());
                m.name.assign(name.begin(), name.end());
            }
        }
        out = std::move(s);
        break;
    }
    case HierarchyType::MusicTrack: {
        MusicTrackRecord t;
        t.id = r.U32();
        t.flags = r.U8();
        std::uint32_t n = r.U32();
        if (d.Fits(n, 18)) {
            t.sources.resize(n);
            for (SourceRecord& s : t.sources)
                s = d.Source();
        }
        n = r.U32();
        if (d.Fits(n, 40)) {
            t.clips.resize(n);
            for (TrackClip& c : t.clips) {
                c.subTrack = r.U32();
                c.source = r.U32();
                c.playAtMs = r.F64();
                c.beginTrimMs = r.F64();
                c.endTrimMs = r.F64();
                c.sourceDurationMs = r.F64();
            }
        }
        t.subTrackCount = r.U32();
        n = r.U32();
        if (d.Fits(n, 12)) {
            t.automations.resize(n);
            for (ClipAutomation& a : t.automations) {
                a.clip = r.U32();
                a.type = r.U32();
                a.points = d.Points(r.U32());
            }
        }
        t.node = d.Node();
        t.trackType = r.U8();
        if (t.trackType == 3) {
            SwitchTrack& s = t.switchTrack;
            s.groupType = r.U8();
            s.group = r.U32();
            s.defaultValue = r.U32();
            s.values = d.Ids();
            s.fadeOutMs = r.U32();
            s.fadeOutCurve = r.U32();
            s.fadeOutOffsetMs = r.U32();
            s.syncType = r.U32();
            s.cueFilter = r.U32();
            s.fadeInMs = r.U32();
            s.fadeInCurve = r.U32();
            s.fadeInOffsetMs = r.U32();
        }
        t.lookAheadMs = r.U32();
        out = std::move(t);
        break;
    }
    case HierarchyType::MusicSwitch: {
        MusicSwitchRecord s;
        s.music = d.Music();
        s.rules = d.Rules();
        s.continuePlayback = r.U8();
        const std::uint32_t depth = r.U32();
        if (d.Fits(depth, 5)) {
            s.groups.resize(depth);
            s.groupTypes.resize(depth);
            for (std::uint32_t& g : s.groups)
                g = r.U32();
            for (std::uint8_t& g : s.groupTypes)
                g = r.U8();
        }
        const std::uint32_t size = r.U32();
        s.decisionMode = r.U8();
        s.tree = d.Tree(size);
        out = std::move(s);
        break;
    }
    case HierarchyType::MusicPlaylist: {
        MusicPlaylistRecord p;
        p.music = d.Music();
        p.rules = d.Rules();
        const std::uint32_t n = r.U32();
        if (d.Fits(n, 30)) {
            p.items.resize(n);
            for (MusicPlaylistItem& i : p.items) {
                i.segment = r.U32();
                i.itemId = r.U32();
                i.childCount = r.U32();
                i.levelMode = r.U32();
                i.loopCount = r.U16();
                i.loopMin = r.I16();
                i.loopMax = r.I16();
                i.weight = r.U32();
                i.avoidRepeat = r.U16();
                i.unused = r.U8();
                i.shuffle = r.U8();
            }
        }
        out = std::move(p);
        break;
    }
    default:
        error = "hierarchy type " + std::to_string(type) + " is not defined";
        return false;
    }
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
