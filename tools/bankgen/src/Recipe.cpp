#include <bankgen/Recipe.h>

#include <bankgen/Effects.h>
#include <bankgen/Media.h>

#include <AU/SoundEngine.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string>

namespace bankgen {

std::uint32_t IdOfName(std::string_view name) {
    return AU::SoundEngine::GetIDFromString(std::string(name).c_str());
}

std::uint32_t BankIdOfName(std::string_view name) {
    return IdOfName(name.substr(0, name.find('.')));
}

namespace {

using json = nlohmann::json;

// A recipe object whose keys are read once each; keys nobody read are reported as typos.
class Obj {
public:
    Obj(const json& j, std::string where, std::vector<std::string>& errors)
        : j_(j), where_(std::move(where)), errors_(errors) {
        if (!j_.is_object()) Error("is not an object");
    }
    ~Obj() {
        if (!j_.is_object()) return;
        for (const auto& [key, value] : j_.items())
            if (!used_.count(key)) Error("unknown key \"" + key + "\"");
    }

    const json* Get(const char* key) {
        used_.insert(key);
        if (!j_.is_object()) return nullptr;
        auto it = j_.find(key);
        return it == j_.end() ? nullptr : &*it;
    }
    bool Has(const char* key) const { return j_.is_object() && j_.contains(key); }

    std::uint32_t Id(const char* key, std::uint32_t fallback = 0) {
        const json* v = Get(key);
        return v ? ToId(*v, key) : fallback;
    }
    std::uint32_t RequiredId(const char* key) {
        if (!Has(key)) Error(std::string("needs \"") + key + "\"");
        return Id(key);
    }
    std::uint32_t ToId(const json& v, const std::string& what) {
        if (v.is_number_unsigned() && v.get<std::uint64_t>() <= 0xFFFFFFFFull)
            return static_cast<std::uint32_t>(v.get<std::uint64_t>());
        if (v.is_string()) {
            const std::string text = v.get<std::string>();
            if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
                char* end = nullptr;
                const unsigned long long n = std::strtoull(text.c_str() + 2, &end, 16);
                if (*end == 0 && n <= 0xFFFFFFFFull) return static_cast<std::uint32_t>(n);
            } else {
                return IdOfName(text);
            }
        }
        Error("\"" + what + "\" is not an ID (number, \"0x...\" or a name)");
        return 0;
    }
    template <typename T> T Uint(const char* key, T fallback) {
        const json* v = Get(key);
        if (!v) return fallback;
        if (v->is_boolean()) return static_cast<T>(v->get<bool>() ? 1 : 0);
        if (v->is_string() && v->get<std::string>().rfind("0x", 0) == 0) {
            const std::uint32_t n = ToId(*v, key); // "0x0403"
            if (n <= std::numeric_limits<T>::max()) return static_cast<T>(n);
        }
        if (!v->is_number_unsigned() || v->get<std::uint64_t>() > std::numeric_limits<T>::max()) {
            Error(std::string("\"") + key + "\" is not an unsigned number in range");
            return fallback;
        }
        return static_cast<T>(v->get<std::uint64_t>());
    }
    std::int32_t Int(const char* key, std::int32_t fallback) {
        const json* v = Get(key);
        if (!v) return fallback;
        if (!v->is_number_integer() || v->get<std::int64_t>() < std::numeric_limits<std::int32_t>::min() ||
            v->get<std::int64_t>() > std::numeric_limits<std::int32_t>::max()) {
            Error(std::string("\"") + key + "\" is not a 32-bit integer");
            return fallback;
        }
        return static_cast<std::int32_t>(v->get<std::int64_t>());
    }
    double Number(const char* key, double fallback) {
        const json* v = Get(key);
        if (!v) return fallback;
        if (!v->is_number()) {
            Error(std::string("\"") + key + "\" is not a number");
            return fallback;
        }
        return v->get<double>();
    }
    std::string String(const char* key) {
        const json* v = Get(key);
        if (!v || !v->is_string()) {
            Error(std::string("needs the string \"") + key + "\"");
            return {};
        }
        return v->get<std::string>();
    }
    // The array at `key`, or an empty one; a non-array is an error.
    const json& Array(const char* key) {
        static const json empty = json::array();
        const json* v = Get(key);
        if (!v) return empty;
        if (!v->is_array()) {
            Error(std::string("\"") + key + "\" is not an array");
            return empty;
        }
        return *v;
    }
    std::vector<std::uint32_t> Ids(const char* key) {
        std::vector<std::uint32_t> out;
        for (const json& v : Array(key))
            out.push_back(ToId(v, key));
        return out;
    }

    void Error(const std::string& what) { errors_.push_back(where_ + ": " + what); }
    const std::string& Where() const { return where_; }
    std::vector<std::string>& Errors() { return errors_; }

private:
    const json& j_;
    std::string where_;
    std::vector<std::string>& errors_;
    std::set<std::string> used_;
};

std::vector<Prop> ReadProps(Obj& o) {
    std::vector<Prop> out;
    for (const json& p : o.Array("props")) {
        Obj po(p, o.Where() + " property", o.Errors());
        const std::uint8_t id = po.Uint<std::uint8_t>("id", 0);
        if (po.Has("int"))
            out.push_back(PropI(id, po.Int("int", 0)));
        else if (po.Has("float"))
            out.push_back(PropF(id, static_cast<float>(po.Number("float", 0))));
        else
            po.Error("needs \"int\" or \"float\"");
    }
    return out;
}

std::vector<CurvePoint> ReadPoints(const json& points, Obj& owner) {
    std::vector<CurvePoint> out;
    if (!points.is_array()) {
        owner.Error("points are not an array");
        return out;
    }
    for (const json& p : points) {
        if (!p.is_array() || p.size() < 2 || p.size() > 3 || !p[0].is_number() || !p[1].is_number() ||
            (p.size() == 3 && !p[2].is_number_unsigned())) {
            owner.Error("a point is not [x, y] or [x, y, shape]");
            continue;
        }
        out.push_back(
            CurvePoint{p[0].get<float>(), p[1].get<float>(), p.size() == 3 ? p[2].get<std::uint32_t>() : 4});
    }
    return out;
}

std::vector<RtpcCurve> ReadRtpcs(Obj& o) {
    std::vector<RtpcCurve> out;
    for (const json& c : o.Array("rtpcs")) {
        Obj co(c, o.Where() + " curve", o.Errors());
        RtpcCurve r;
        r.gameParameter = co.RequiredId("gameParameter");
        r.drivingType = co.Uint<std::uint8_t>("drivingType", 0);
        r.mode = co.Uint<std::uint8_t>("mode", 0);
        r.target = co.Uint<std::uint8_t>("target", 0);
        r.curveId = co.Uint<std::uint32_t>("curveId", 1);
        r.scaling = co.Uint<std::uint8_t>("scaling", 0);
        const json* points = co.Get("points");
        r.points = points ? ReadPoints(*points, co) : std::vector<CurvePoint>{};
        if (r.points.empty()) co.Error("needs points");
        out.push_back(std::move(r));
    }
    return out;
}

// "effects": [{"slot", "id", "shared"}], at most four slots of 0 to 3.
std::vector<EffectEntry> ReadEffects(Obj& o) {
    std::vector<EffectEntry> out;
    for (const json& e : o.Array("effects")) {
        Obj eo(e, o.Where() + " effect", o.Errors());
        EffectEntry entry;
        entry.slot = eo.Uint<std::uint8_t>("slot", 0);
        entry.id = eo.RequiredId("id");
        entry.shared = eo.Uint<std::uint8_t>("shared", 0);
        if (entry.slot > 3) eo.Error("slot above 3");
        out.push_back(entry);
    }
    if (out.size() > 4) o.Error("more than four effects");
    return out;
}

// Settings of one of the engine's effects; keys not given are 0 in the block.
void ReadEffectSettings(Obj& o, const std::string& type, BankBuilder& bank) {
    const std::uint32_t id = o.RequiredId("id");
    const HierarchyType kind = o.Uint<std::uint8_t>("shared", 0) ? HierarchyType::SharedPluginSettings
                                                                 : HierarchyType::PluginSettings;
    const auto f32 = [&](const char* key) { return static_cast<float>(o.Number(key, 0)); };
    if (type == "delay") {
        AuDelayBlock b;
        b.fDelayTime = f32("delayTime");
        b.fFeedback = f32("feedback");
        b.fWetDryMix = f32("wetDryMix");
        b.fOutputLevel = f32("outputLevel");
        b.uFeedbackEnabled = o.Uint<std::uint8_t>("feedbackEnabled", 0);
        b.uProcessLFE = o.Uint<std::uint8_t>("processLFE", 0);
        bank.Add(EffectSettings(id, b, kind));
    } else if (type == "stereoDelay") {
        AuStereoDelayBlock b;
        b.uLeftInput = o.Uint<std::uint32_t>("leftInput", 0);
        b.fLeftDelayTime = f32("leftDelayTime");
        b.fLeftFeedback = f32("leftFeedback");
        b.fLeftToRightFeedback = f32("leftToRightFeedback");
        b.uRightInput = o.Uint<std::uint32_t>("rightInput", 0);
        b.fRightDelayTime = f32("rightDelayTime");
        b.fRightFeedback = f32("rightFeedback");
        b.fRightToLeftFeedback = f32("rightToLeftFeedback");
        b.iFilterType = o.Int("filterType", 0);
        b.fFilterGain = f32("filterGain");
        b.fFilterFrequency = f32("filterFrequency");
        b.fFilterQ = f32("filterQ");
        b.fDryLevel = f32("dryLevel");
        b.fWetLevel = f32("wetLevel");
        b.fBalance = f32("balance");
        b.uFeedbackEnabled = o.Uint<std::uint8_t>("feedbackEnabled", 0);
        b.uCrossFeedbackEnabled = o.Uint<std::uint8_t>("crossFeedbackEnabled", 0);
        bank.Add(EffectSettings(id, b, kind));
    } else {
        AuRoomReverbBlock b;
        b.fDecayTime = f32("decayTime");
        b.fDampingRatio = f32("dampingRatio");
        b.fDiffusion = f32("diffusion");
        b.fStereoWidth = f32("stereoWidth");
        const json& filters = o.Array("filters");
        if (filters.size() > AuRoomReverbBlock::kNumFilters) o.Error("more than three filters");
        for (size_t i = 0; i < filters.size() && i < AuRoomReverbBlock::kNumFilters; ++i) {
            Obj fo(filters[i], o.Where() + " filter " + std::to_string(i), o.Errors());
            AuRoomReverbBlockFilter& filter = b.aFilters[i];
            filter.fGain = static_cast<float>(fo.Number("gain", 0));
            filter.fFrequency = static_cast<float>(fo.Number("frequency", 0));
            filter.fQ = static_cast<float>(fo.Number("q", 0));
            filter.uPosition = fo.Uint<std::uint32_t>("position", 0);
            filter.uType = fo.Uint<std::uint32_t>("type", 0);
        }
        b.fFrontLevel = f32("frontLevel");
        b.fRearLevel = f32("rearLevel");
        b.fCenterLevel = f32("centerLevel");
        b.fLFELevel = f32("lfeLevel");
        b.fDryLevel = f32("dryLevel");
        b.fERLevel = f32("erLevel");
        b.fReverbLevel = f32("reverbLevel");
        b.uEREnabled = o.Uint<std::uint8_t>("erEnabled", 0);
        b.uPattern = o.Uint<std::uint32_t>("pattern", 0);
        b.fPreDelay = f32("preDelay");
        b.fERSize = f32("erSize");
        b.fRearDelay = f32("rearDelay");
        b.fRoomSize = f32("roomSize");
        b.fRoomShape = f32("roomShape");
        b.uDensity = o.Uint<std::uint32_t>("density", 0);
        b.uEQEnabled = o.Uint<std::uint8_t>("eqEnabled", 0);
        b.fCenterInputLevel = f32("centerInputLevel");
        b.fLFEInputLevel = f32("lfeInputLevel");
        const json& tuning = o.Array("tuning");
        if (tuning.size() > AuRoomReverbBlock::kNumTuningValues) o.Error("more than eleven tuning values");
        for (size_t i = 0; i < tuning.size() && i < AuRoomReverbBlock::kNumTuningValues; ++i) {
            if (!tuning[i].is_number())
                o.Error("tuning value " + std::to_string(i) + " is not a number");
            else
                b.afTuning[i] = tuning[i].get<float>();
        }
        bank.Add(EffectSettings(id, b, kind));
    }
}

void ReadNode(Obj& o, NodeCommon& n) {
    n.effects = ReadEffects(o);
    n.overrideParentEffects = n.effects.empty() ? 0 : 1;
    n.outputBus = o.Id("bus");
    n.parent = o.Id("parent");
    n.props = ReadProps(o);
    n.rtpcs = ReadRtpcs(o);
}

std::vector<float> ReadSignal(const json& j, std::uint32_t rate, Obj& owner) {
    Obj s(j, owner.Where() + " signal", owner.Errors());
    const std::string kind = s.String("kind");
    const double amplitude = s.Number("amplitude", 0.5);
    if (kind == "sine") return Sine(s.Number("frequency", 440), s.Number("seconds", 1), rate, amplitude);
    if (kind == "impulse")
        return Impulse(s.Uint<std::uint32_t>("frames", rate), s.Uint<std::uint32_t>("at", 0), amplitude);
    if (kind == "noise")
        return Noise(s.Uint<std::uint32_t>("seed", 1),
                     static_cast<std::uint32_t>(std::lround(s.Number("seconds", 1) * rate)), amplitude);
    if (kind == "dc")
        return Dc(static_cast<std::uint32_t>(std::lround(s.Number("seconds", 1) * rate)), amplitude);
    if (kind == "chirp")
        return Chirp(s.Number("from", 100), s.Number("to", 10000), s.Number("seconds", 1), rate, amplitude);
    s.Error("kind \"" + kind + "\" is not sine, impulse, noise, dc or chirp");
    return {};
}

void ReadMedia(const json& j, BankBuilder& bank, std::vector<std::string>& errors,
               std::string_view mediaDir) {
    Obj o(j, "media", errors);
    const std::uint32_t id = o.RequiredId("id");
    if (o.Has("file")) {
        std::filesystem::path path(o.String("file"));
        if (path.is_relative() && !mediaDir.empty()) path = std::filesystem::path(mediaDir) / path;
        std::ifstream in(path, std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof())
            o.Error("cannot read media file " + path.string());
        else if (bytes.empty())
            o.Error("media file " + path.string() + " is missing or empty");
        else
            bank.AddMedia(id, bytes);
        return;
    }
    const std::uint32_t rate = o.Uint<std::uint32_t>("rate", 48000);
    std::vector<std::vector<float>> channels;
    for (const json& s : o.Array("channels"))
        channels.push_back(ReadSignal(s, rate, o));
    if (channels.empty() || channels.size() > 8) {
        o.Error("needs 1 to 8 channel signals");
        return;
    }
    for (const auto& c : channels)
        if (c.size() != channels[0].size() || c.empty())
            o.Error("channel signals must be non-empty and of equal length");
    const std::string codec = o.Has("codec") ? o.String("codec") : "pcm";
    const auto count = static_cast<std::uint16_t>(channels.size());
    if (codec == "adpcm")
        bank.AddMedia(id, MakeAdpcmWave(ToPcm16(channels), count, rate));
    else if (codec == "pcm")
        bank.AddMedia(id, MakePcmWave(ToPcm16(channels), count, rate));
    else
        o.Error("codec \"" + codec + "\" is not pcm or adpcm");
}

void ReadAction(Obj& o, ActionRecord& a, std::uint32_t bankId) {
    a.id = o.RequiredId("id");
    a.type = o.Uint<std::uint16_t>("action", 0x0403);
    a.target = o.Id("target");
    a.isBus = o.Uint<std::uint8_t>("isBus", 0);
    a.props = ReadProps(o);
    a.curve = o.Uint<std::uint8_t>("curve", 4);
    a.bankId = o.Id("bankId", bankId);
    a.option = o.Uint<std::uint8_t>("option", 0);
    a.valueMeaning = o.Uint<std::uint8_t>("valueMeaning", 0);
    a.bypassTransition = o.Uint<std::uint8_t>("bypassTransition", 0);
    a.base = static_cast<float>(o.Number("base", 0));
    a.min = static_cast<float>(o.Number("min", 0));
    a.max = static_cast<float>(o.Number("max", 0));
    a.slotMask = o.Uint<std::uint8_t>("slotMask", 0);
    a.snapToMarker = o.Uint<std::uint8_t>("snapToMarker", 0);
    a.groupId = o.Id("group");
    a.valueId = o.Id("value");
    for (const json& e : o.Array("exceptions")) {
        Obj eo(e, o.Where() + " exception", o.Errors());
        a.exceptions.push_back(ActionException{eo.RequiredId("id"), eo.Uint<std::uint8_t>("isBus", 0)});
    }
    if (!IsBankActionKind(a.type)) o.Error("action type cannot be written to a bank");
}

// The part every music record starts with: "children", time settings (written when "tempo" is
// given), "stingers", and the node's common part.
void ReadMusicNode(Obj& o, MusicNodePart& m) {
    m.id = o.RequiredId("id");
    m.flags = o.Uint<std::uint8_t>("flags", 0);
    ReadNode(o, m.node);
    m.children = o.Ids("children");
    if (o.Get("tempo")) {
        m.timeOverride = 1;
        m.tempo = static_cast<float>(o.Number("tempo", 120));
        m.beatsPerBar = o.Uint<std::uint8_t>("beatsPerBar", 4);
        m.beatValue = o.Uint<std::uint8_t>("beatValue", 4);
        m.gridPeriodMs = o.Number("gridPeriodMs", 0);
        m.gridOffsetMs = o.Number("gridOffsetMs", 0);
        if (m.tempo <= 0.0f || m.beatValue == 0) o.Error("tempo and beat value must be above 0");
    }
    for (const json& j : o.Array("stingers")) {
        Obj so(j, o.Where() + " stinger", o.Errors());
        m.stingers.push_back(
            Stinger{so.RequiredId("trigger"), so.Id("segment"), so.Uint<std::uint32_t>("syncType", 0),
                    so.Uint<std::uint32_t>("cueFilter", 0), so.Uint<std::uint32_t>("dontRepeatMs", 0),
                    so.Uint<std::uint32_t>("lookAhead", 0)});
    }
}

// "rules": each {"sources", "destinations" (default: any), "syncType", fades and offsets in ms};
// none: the one rule from any to any at the exit cue.
std::vector<TransitionRule> ReadRules(Obj& o) {
    std::vector<TransitionRule> rules;
    for (const json& j : o.Array("rules")) {
        Obj ro(j, o.Where() + " rule", o.Errors());
        TransitionRule r;
        if (ro.Get("sources")) r.sources = ro.Ids("sources");
        if (ro.Get("destinations")) r.destinations = ro.Ids("destinations");
        r.syncType = ro.Uint<std::uint32_t>("syncType", 7);
        r.sourceFadeMs = ro.Uint<std::uint32_t>("fadeOutMs", 0);
        r.sourceCurve = ro.Uint<std::uint32_t>("fadeOutCurve", 4);
        r.sourceOffsetMs = ro.Uint<std::uint32_t>("fadeOutOffsetMs", 0);
        r.playPostExit = ro.Uint<std::uint8_t>("playPostExit", 1);
        r.destFadeMs = ro.Uint<std::uint32_t>("fadeInMs", 0);
        r.destCurve = ro.Uint<std::uint32_t>("fadeInCurve", 4);
        r.destOffsetMs = ro.Uint<std::uint32_t>("fadeInOffsetMs", 0);
        r.entryType = ro.Uint<std::uint16_t>("entryType", 0);
        r.playPreEntry = ro.Uint<std::uint8_t>("playPreEntry", 0);
        if (r.sources.empty() || r.destinations.empty()) ro.Error("a rule needs sources and destinations");
        rules.push_back(std::move(r));
    }
    if (rules.empty()) {
        TransitionRule r;
        r.syncType = 7;
        r.playPostExit = 1;
        rules.push_back(r);
    }
    return rules;
}

void ReadMusicObject(Obj& o, const std::string& type, BankBuilder& bank) {
    if (type == "musicSegment") {
        MusicSegmentRecord s;
        ReadMusicNode(o, s.music);
        s.durationMs = o.Number("durationMs", 0);
        // The entry and exit cues are markers too; by default at 0 and at the end.
        s.markers.push_back(Marker{o.Uint<std::uint32_t>("entryCueId", 1), o.Number("entryCueMs", 0), ""});
        for (const json& j : o.Array("markers")) {
            Obj mo(j, o.Where() + " marker", o.Errors());
            s.markers.push_back(Marker{mo.RequiredId("id"), mo.Number("ms", 0), mo.String("name")});
        }
        s.markers.push_back(
            Marker{o.Uint<std::uint32_t>("exitCueId", 2), o.Number("exitCueMs", s.durationMs), ""});
        for (size_t i = 1; i < s.markers.size(); ++i)
            if (s.markers[i].positionMs < s.markers[i - 1].positionMs)
                o.Error("markers are not in time order");
        if (s.durationMs < 0 || s.markers.back().positionMs > s.durationMs)
            o.Error("the exit cue lies past the end");
        bank.Add(std::move(s));
    } else if (type == "musicTrack") {
        MusicTrackRecord t;
        t.id = o.RequiredId("id");
        t.flags = o.Uint<std::uint8_t>("flags", 0);
        ReadNode(o, t.node);
        for (const json& j : o.Array("sources")) {
            Obj so(j, o.Where() + " source", o.Errors());
            SourceRecord source;
            source.plugin = so.Uint<std::uint32_t>("plugin", kCodecPcm);
            source.sourceId = so.RequiredId("media");
            source.fromBank = true;
            t.sources.push_back(source);
        }
        t.subTrackCount = o.Uint<std::uint32_t>("subTrackCount", 1);
        for (const json& j : o.Array("clips")) {
            Obj co(j, o.Where() + " clip", o.Errors());
            TrackClip clip;
            clip.subTrack = co.Uint<std::uint32_t>("subTrack", 0);
            clip.source = co.RequiredId("source");
            clip.playAtMs = co.Number("playAtMs", 0);
            clip.beginTrimMs = co.Number("beginTrimMs", 0);
            clip.endTrimMs = co.Number("endTrimMs", 0);
            clip.sourceDurationMs = co.Number("sourceDurationMs", 0);
            if (clip.subTrack >= t.subTrackCount) co.Error("sub-track out of range");
            if (clip.sourceDurationMs <= 0) co.Error("needs a source duration above 0");
            t.clips.push_back(clip);
        }
        for (const json& j : o.Array("automations")) {
            Obj ao(j, o.Where() + " automation", o.Errors());
            ClipAutomation a;
            a.clip = ao.Uint<std::uint32_t>("clip", 0);
            a.type = ao.Uint<std::uint32_t>("type", 0);
            const json* points = ao.Get("points");
            a.points = points ? ReadPoints(*points, ao) : std::vector<CurvePoint>{};
            if (a.points.empty()) ao.Error("needs points");
            if (a.clip >= t.clips.size()) ao.Error("names no clip of the track");
            t.automations.push_back(std::move(a));
        }
        t.lookAheadMs = o.Uint<std::uint32_t>("lookAheadMs", 0);
        bank.Add(std::move(t));
    } else if (type == "musicPlaylist") {
        MusicPlaylistRecord p;
        ReadMusicNode(o, p.music);
        p.rules = ReadRules(o);
        // "items" in depth-first order, the root group first; a group says how many follow it as
        // its children.
        for (const json& j : o.Array("items")) {
            Obj io(j, o.Where() + " item", o.Errors());
            MusicPlaylistItem item;
            item.segment = io.Id("segment");
            item.itemId = io.Uint<std::uint32_t>("itemId", 0);
            item.childCount = io.Uint<std::uint32_t>("childCount", 0);
            item.levelMode = io.Uint<std::uint32_t>("levelMode", 0);
            item.loopCount = io.Uint<std::uint16_t>("loopCount", 1);
            item.weight = io.Uint<std::uint32_t>("weight", kUnweighted);
            item.avoidRepeat = io.Uint<std::uint16_t>("avoidRepeat", 0);
            item.shuffle = io.Uint<std::uint8_t>("shuffle", 0);
            p.items.push_back(item);
        }
        if (p.items.empty()) o.Error("a playlist needs items");
        bank.Add(std::move(p));
    } else {
        MusicSwitchRecord w;
        ReadMusicNode(o, w.music);
        w.rules = ReadRules(o);
        w.continuePlayback = o.Uint<std::uint8_t>("continuePlayback", 0);
        w.groups = o.Ids("groups");
        for (const json& j : o.Array("groupTypes"))
            w.groupTypes.push_back(j.is_number_unsigned() ? j.get<std::uint8_t>() : 0);
        if (w.groupTypes.size() != w.groups.size()) o.Error("one group type per group");
        w.decisionMode = o.Uint<std::uint8_t>("decisionMode", 0);
        // "tree" in breadth-first order: {"key", "firstChild", "count"} inner, {"key", "node"} leaf.
        for (const json& j : o.Array("tree")) {
            Obj to(j, o.Where() + " tree node", o.Errors());
            if (to.Get("node"))
                w.tree.push_back(LeafTreeNode(to.Uint<std::uint32_t>("key", 0), to.Id("node")));
            else
                w.tree.push_back(InnerTreeNode(to.Uint<std::uint32_t>("key", 0),
                                               to.Uint<std::uint16_t>("firstChild", 0),
                                               to.Uint<std::uint16_t>("count", 0)));
        }
        bank.Add(std::move(w));
    }
}

void ReadObject(const json& j, size_t index, BankBuilder& bank, std::vector<std::string>& errors) {
    Obj o(j, "object " + std::to_string(index), errors);
    const std::string type = o.String("type");
    if (type == "bus" || type == "defaultBus" || type == "bus20") {
        BusRecord b;
        b.type = type == "bus"          ? HierarchyType::Bus
                 : type == "defaultBus" ? HierarchyType::DefaultBus
                                        : HierarchyType::BusType20;
        b.id = o.RequiredId("id");
        b.parent = o.Id("parent");
        b.props = ReadProps(o);
        b.flags1 = o.Uint<std::uint8_t>("flags1", 0);
        b.flags2 = o.Uint<std::uint8_t>("flags2", 0);
        b.maxInstances = o.Uint<std::uint16_t>("maxInstances", 0);
        b.channelConfig = o.Uint<std::uint32_t>("channelConfig", 0);
        b.flags3 = o.Uint<std::uint8_t>("flags3", 0);
        b.rtpcs = ReadRtpcs(o);
        b.effects = ReadEffects(o);
        bank.Add(std::move(b));
    } else if (type == "delay" || type == "stereoDelay" || type == "roomReverb") {
        ReadEffectSettings(o, type, bank);
    } else if (type == "sound") {
        SoundRecord s;
        s.id = o.RequiredId("id");
        s.source.plugin = o.Uint<std::uint32_t>("plugin", kCodecPcm);
        s.source.sourceId = o.RequiredId("media");
        s.source.fromBank = true;
        ReadNode(o, s.node);
        bank.Add(std::move(s));
    } else if (type == "randomSequence" || type == "grouping") {
        const std::uint32_t id = o.RequiredId("id");
        NodeCommon node;
        ReadNode(o, node);
        const std::vector<std::uint32_t> children = o.Ids("children");
        if (type == "grouping") {
            bank.Add(GroupingRecord{id, std::move(node), children});
        } else {
            RandomSequenceRecord c;
            c.id = id;
            c.node = std::move(node);
            c.children = children;
            c.loopCount = o.Uint<std::uint16_t>("loopCount", 1);
            c.playlistMode = o.Uint<std::uint8_t>("playlistMode", 1);
            c.randomMode = o.Uint<std::uint8_t>("randomMode", 0);
            c.avoidRepeat = o.Uint<std::uint16_t>("avoidRepeat", 0);
            c.flags = o.Uint<std::uint8_t>("flags", 0);
            for (std::uint32_t child : children)
                c.playlist.push_back(PlaylistEntry{child, kUnweighted});
            bank.Add(std::move(c));
        }
    } else if (type == "state") {
        StateRecord s;
        s.id = o.RequiredId("id");
        s.props = ReadProps(o);
        bank.Add(std::move(s));
    } else if (type == "action") {
        ActionRecord a;
        ReadAction(o, a, bank.BankId());
        bank.Add(std::move(a));
    } else if (type == "musicSegment" || type == "musicTrack" || type == "musicPlaylist" ||
               type == "musicSwitch") {
        ReadMusicObject(o, type, bank);
    } else if (type == "event") {
        EventRecord e;
        e.id = o.RequiredId("id");
        e.actions = o.Ids("actions");
        bank.Add(std::move(e));
    } else if (!type.empty()) {
        o.Error("type \"" + type +
                "\" is not bus, defaultBus, bus20, delay, stereoDelay, roomReverb, sound, "
                "randomSequence, grouping, state, action, event, musicSegment, musicTrack, musicPlaylist or "
                "musicSwitch");
    }
}

Settings ReadSettings(const json& j, std::vector<std::string>& errors) {
    Obj o(j, "settings", errors);
    Settings s;
    s.volumeThresholdDb = static_cast<float>(o.Number("volumeThresholdDb", s.volumeThresholdDb));
    s.maxVoices = o.Uint<std::uint16_t>("maxVoices", s.maxVoices);
    for (const json& p : o.Array("gameParameters")) {
        Obj po(p, "game parameter", errors);
        GameParameter g;
        g.id = po.RequiredId("id");
        g.defaultValue = static_cast<float>(po.Number("default", 0));
        g.rampKind = po.Uint<std::uint32_t>("rampKind", 0);
        g.rampUp = static_cast<float>(po.Number("rampUp", 0));
        g.rampDown = static_cast<float>(po.Number("rampDown", 0));
        g.builtIn = po.Uint<std::uint8_t>("builtIn", 0);
        if (g.builtIn > 6) po.Error("built-in binding above 6");
        s.gameParameters.push_back(g);
    }
    return s;
}

} // namespace

std::optional<BankBuilder> BuilderFromRecipe(std::string_view text, std::vector<std::string>& errors,
                                             std::string_view mediaDir) {
    const json j = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (j.is_discarded()) {
        errors.push_back("the recipe is not valid JSON");
        return std::nullopt;
    }
    const size_t before = errors.size();
    std::optional<BankBuilder> bank;
    {
        Obj root(j, "recipe", errors);
        const std::string name = root.String("bank");
        bank.emplace(BankIdOfName(name), root.Uint<std::uint32_t>("language", 0));
        if (const json* s = root.Get("settings")) bank->SetSettings(ReadSettings(*s, errors));
        for (const json& m : root.Array("media"))
            ReadMedia(m, *bank, errors, mediaDir);
        size_t index = 0;
        for (const json& o : root.Array("objects"))
            ReadObject(o, index++, *bank, errors);
        for (const json& n : root.Array("bankNames")) {
            if (!n.is_string() || n.get<std::string>().empty()) {
                root.Error("bankNames holds a non-string");
                continue;
            }
            const std::string bankName = n.get<std::string>();
            bank->AddBankName(BankName{BankIdOfName(bankName), bankName.substr(0, bankName.find('.'))});
        }
    }
    if (errors.size() != before) return std::nullopt;
    return bank;
}

} // namespace bankgen
