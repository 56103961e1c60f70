#include <bankgen/Parse.h>

#include "Layout.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace bankgen {

namespace {

constexpr size_t kChunkHeader = 8;

std::string At(size_t offset) {
    return " at byte " + std::to_string(offset);
}

bool ParseNames(ByteReader& r, std::vector<BankName>& names) {
    ReadArchive a(r);
    while (r.Remaining() > 0) {
        std::uint32_t kind = 0; // not interpreted
        std::vector<BankName> table;
        a(kind);
        a.Count<std::uint32_t>(table, 5);
        for (BankName& n : table)
            Fields(a, n);
        if (!r.Ok()) return false;
        names.insert(names.end(), table.begin(), table.end());
    }
    return true;
}

// The whole payload holds exactly the chunk's fields.
template <typename T> bool ReadChunk(ByteReader& r, T& value) {
    ReadArchive a(r);
    Fields(a, value);
    return r.Ok() && r.Remaining() == 0;
}

bool ParseHierarchy(ByteReader& r, size_t base, bool extraOwner, std::vector<ParsedRecord>& records,
                    std::string& error) {
    const std::uint32_t count = r.U32();
    if (std::uint64_t{count} * 5 > r.Remaining()) {
        error = "HIRC: " + std::to_string(count) + " records cannot fit in the chunk";
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        ParsedRecord rec;
        const size_t headerAt = base + r.Position();
        rec.type = r.U8();
        rec.size = r.U32();
        rec.payloadOffset = base + r.Position();
        auto payload = r.Take(rec.size);
        if (!r.Ok()) {
            error = "HIRC record " + std::to_string(i) + ": size " + std::to_string(rec.size) +
                    " runs past the chunk" + At(headerAt);
            return false;
        }
        ByteReader idReader(payload);
        rec.id = idReader.U32();
        if (rec.type >= 1 && rec.type <= 22) {
            Record decoded;
            std::string why;
            if (!DecodePayload(rec.type, payload, extraOwner, decoded, why)) {
                error = std::string("HIRC record ") + std::to_string(i) + " (" + HierarchyTypeName(rec.type) +
                        " " + Hex(rec.id) + "): " + why + At(headerAt);
                return false;
            }
            rec.record = std::move(decoded);
        }
        records.push_back(std::move(rec));
    }
    if (r.Remaining() != 0) {
        error = "HIRC: " + std::to_string(r.Remaining()) + " bytes after the last record";
        return false;
    }
    return true;
}

} // namespace

const ParsedRecord* ParsedBank::Find(std::uint8_t type, std::uint32_t id) const {
    for (const ParsedRecord& r : records)
        if (r.type == type && r.id == id) return &r;
    return nullptr;
}

bool ParseBank(std::span<const std::uint8_t> file, ParsedBank& bank, std::string& error) {
    bank = ParsedBank{};
    ByteReader r(file);
    auto tag = r.Take(4);
    if (!r.Ok() || std::string(tag.begin(), tag.end()) != "BKHD") {
        error = "the file does not start with a BKHD chunk";
        return false;
    }
    bank.headerSize = r.U32();
    if (!r.Ok() || bank.headerSize < kBankHeaderSize || bank.headerSize > r.Remaining()) {
        error = "BKHD size " + std::to_string(bank.headerSize) + " is below 20 or past the end of the file";
        return false;
    }
    bank.chunks.push_back(ParsedChunk{"BKHD", bank.headerSize, r.Position()});
    bank.version = r.U32();
    bank.bankId = r.U32();
    bank.languageId = r.U32();
    bank.extraOwner = r.U16() != 0;
    r.U16();
    r.U32();
    r.Take(bank.headerSize - kBankHeaderSize);

    while (r.Remaining() > 0) {
        const size_t at = r.Position();
        if (r.Remaining() < kChunkHeader) {
            error = std::to_string(r.Remaining()) + " stray bytes after the last chunk" + At(at);
            return false;
        }
        auto t = r.Take(4);
        ParsedChunk chunk{std::string(t.begin(), t.end()), r.U32(), 0};
        chunk.payloadOffset = r.Position();
        auto payload = r.Take(chunk.size);
        if (!r.Ok()) {
            error = chunk.tag + ": size " + std::to_string(chunk.size) + " runs past the end of the file" +
                    At(at);
            return false;
        }
        bank.chunks.push_back(chunk);
        ByteReader c(payload);
        const size_t base = chunk.payloadOffset;
        bool ok = true;
        if (chunk.tag == "STMG") {
            bank.settings.emplace();
            ok = ReadChunk(c, *bank.settings);
        } else if (chunk.tag == "ENVS") {
            bank.environment.emplace();
            ok = ReadChunk(c, *bank.environment);
        } else if (chunk.tag == "DIDX") {
            ok = chunk.size % 12 == 0;
            while (ok && c.Remaining() >= 12)
                bank.media.push_back(ParsedMedia{c.U32(), c.U32(), c.U32()});
        } else if (chunk.tag == "DATA") {
            bank.hasData = true;
            bank.dataOffset = chunk.payloadOffset;
            bank.dataSize = chunk.size;
        } else if (chunk.tag == "HIRC") {
            if (!ParseHierarchy(c, base, bank.extraOwner, bank.records, error)) return false;
        } else if (chunk.tag == "STID") {
            ok = ParseNames(c, bank.names);
        }
        if (!ok) {
            error = chunk.tag + ": the payload does not hold exactly its fields" + At(at);
            return false;
        }
    }
    return true;
}

namespace {

bool IsNodeType(std::uint8_t t) {
    return t == 2 || (t >= 5 && t <= 7) || (t >= 9 && t <= 13) || t == 17;
}
bool IsBusType(std::uint8_t t) {
    return t == 8 || t == 16 || t == 20;
}

// Object index table: nodes and busses live in separate tables, so a bus and a node
// may share an ID.
int TableOf(std::uint8_t t) {
    if (IsNodeType(t)) return 0;
    if (IsBusType(t)) return 1;
    switch (t) {
    case 1:
        return 2;
    case 4:
        return 3;
    case 3:
        return 4;
    case 14:
        return 6;
    case 21:
    case 22:
        return 7;
    case 15:
        return 9;
    case 18:
        return 10;
    case 19:
        return 11;
    default:
        return -1;
    }
}

// The node block and child list of the records that have them.
struct NodeParts {
    const NodeCommon* node = nullptr;
    const std::vector<std::uint32_t>* children = nullptr;
};
NodeParts PartsOf(const Record& r) {
    return std::visit(
        [](const auto& x) {
            const auto& part = NodePart(x);
            NodeParts p;
            if constexpr (requires { part.node; }) p.node = &part.node;
            if constexpr (requires { part.children; }) p.children = &part.children;
            return p;
        },
        r);
}

struct Checker {
    std::vector<std::string> errors;
    std::set<std::pair<int, std::uint32_t>> present;
    std::set<std::uint32_t> hasParent;
    std::set<std::uint32_t> listedActions;
    std::map<std::uint32_t, ParsedMedia> earlierMedia;

    bool Has(int table, std::uint32_t id) const { return present.count({table, id}) != 0; }
    void Error(const ParsedRecord& r, const std::string& what) {
        errors.push_back(std::string(HierarchyTypeName(r.type)) + " " + Hex(r.id) + ": " + what);
    }

    void Node(const ParsedRecord& rec, const NodeCommon& n) {
        if (n.outputBus != 0 && !Has(1, n.outputBus))
            Error(rec, "output bus " + Hex(n.outputBus) + " is not loaded before it");
        if (n.parent != 0 && Has(0, n.parent)) hasParent.insert(rec.id);
        for (const StateGroupLink& g : n.stateGroups)
            for (const StateLink& s : g.states)
                if (!Has(2, s.stateObject))
                    Error(rec, "state object " + Hex(s.stateObject) + " is not loaded before it");
        for (const EffectEntry& e : n.effects)
            if (e.slot > 3) Error(rec, "effect slot above 3");
        for (const PathItem& i : n.positioning.items)
            if (std::uint64_t{i.firstVertex} + i.vertexCount > n.positioning.vertices.size())
                Error(rec, "path item runs past the vertices");
    }

    void Children(const ParsedRecord& rec, const std::vector<std::uint32_t>& children) {
        for (std::uint32_t c : children) {
            if (!Has(0, c))
                Error(rec, "child " + Hex(c) + " is not loaded before its container");
            else if (!hasParent.insert(c).second)
                Error(rec, "child " + Hex(c) + " already has a parent");
        }
    }

    void Source(const ParsedRecord& rec, const SourceRecord& s, const ParsedBank& bank) {
        const std::uint32_t kind = s.plugin & 0xF;
        if (kind != 1 || s.streamType != 0) return;
        for (const ParsedMedia& m : bank.media)
            if (m.id == s.sourceId) {
                if (s.inMemorySize != m.size) Error(rec, "in-memory size differs from the media index");
                if (s.fileId != bank.bankId || s.fileOffset != bank.dataOffset + m.offset)
                    Error(rec, "file ID or file offset does not point at its media");
                return;
            }
        if (earlierMedia.count(s.sourceId) == 0)
            Error(rec, "media " + Hex(s.sourceId) + " is in no loaded bank");
    }
};

} // namespace

std::vector<std::string> Validate(const ParsedBank& bank, const std::vector<const ParsedBank*>& earlier) {
    Checker k;
    for (const ParsedBank* e : earlier) {
        for (const ParsedRecord& r : e->records)
            k.present.insert({TableOf(r.type), r.id});
        for (const ParsedMedia& m : e->media)
            k.earlierMedia[m.id] = m;
        for (const ParsedRecord& r : e->records)
            if (r.record && r.type == 4)
                for (std::uint32_t a : std::get<EventRecord>(*r.record).actions)
                    k.listedActions.insert(a);
    }

    if (bank.version != kBankVersion)
        k.errors.push_back("bank version " + std::to_string(bank.version) + " is not " +
                           std::to_string(kBankVersion));
    if (bank.extraOwner)
        k.errors.push_back("the extra-owner flag is set: every node record carries one more bus ID");

    bool sawDidx = false;
    for (const ParsedChunk& c : bank.chunks) {
        if (c.tag == "DIDX") sawDidx = true;
        if (c.tag == "DATA" && !sawDidx)
            k.errors.push_back("DATA comes before DIDX: its media would not be registered");
        if (c.tag == "DATA" && c.size == 0) k.errors.push_back("DATA is empty");
        if (c.tag == "ENVS" && c.size == 0) k.errors.push_back("ENVS is empty");
    }
    if (bank.environment)
        for (const EnvironmentCurve& c : bank.environment->curves)
            if (c.points.empty()) k.errors.push_back("ENVS: a curve without points");
    std::set<std::uint32_t> mediaIds;
    for (const ParsedMedia& m : bank.media) {
        if (!mediaIds.insert(m.id).second) k.errors.push_back("media " + Hex(m.id) + " is indexed twice");
        if (!bank.hasData || std::uint64_t{m.offset} + m.size > bank.dataSize)
            k.errors.push_back("media " + Hex(m.id) + " lies outside DATA");
    }

    for (const ParsedRecord& rec : bank.records) {
        if (!rec.record) {
            k.Error(rec, "type " + std::to_string(rec.type) +
                             " fails the load when the music engine is installed");
            continue;
        }
        const int table = TableOf(rec.type);
        if (k.Has(table, rec.id)) k.Error(rec, "already loaded: this record would not be read");
        if ((table == 0 || table == 11) && (rec.id & 0x80000000u))
            k.Error(rec, "IDs with the top bit are taken for objects made at run time");

        const Record& r = *rec.record;
        const NodeParts parts = PartsOf(r);
        if (parts.node) k.Node(rec, *parts.node);
        if (parts.children) k.Children(rec, *parts.children);

        if (const auto* bus = std::get_if<BusRecord>(&r)) {
            if (bus->parent != 0 && !k.Has(1, bus->parent))
                k.Error(rec, "parent bus " + Hex(bus->parent) + " is not loaded before it");
        } else if (const auto* sound = std::get_if<SoundRecord>(&r)) {
            k.Source(rec, sound->source, bank);
        } else if (const auto* action = std::get_if<ActionRecord>(&r)) {
            if (rec.id == 0) k.Error(rec, "action ID 0");
            const std::uint8_t scope = action->type & 0xFF;
            if ((scope == 2 || scope == 3) && action->target != 0 &&
                !k.Has(action->isBus ? 1 : 0, action->target))
                k.Error(rec, "target " + Hex(action->target) + " is not loaded");
        } else if (const auto* event = std::get_if<EventRecord>(&r)) {
            for (std::uint32_t a : event->actions) {
                if (a == 0)
                    k.Error(rec, "action ID 0");
                else if (!k.Has(4, a))
                    k.Error(rec, "action " + Hex(a) + " is not loaded before the event");
                if (!k.listedActions.insert(a).second)
                    k.Error(rec, "action " + Hex(a) + " is listed by another event or twice");
            }
        } else if (const auto* ranSeq = std::get_if<RandomSequenceRecord>(&r)) {
            if ((ranSeq->playlistMode & 7) != 1) {
                std::set<std::uint32_t> seen;
                for (const PlaylistEntry& e : ranSeq->playlist)
                    if (!seen.insert(e.child).second)
                        k.Error(rec, "child " + Hex(e.child) + " repeated in a random playlist");
            }
        } else if (const auto* sw = std::get_if<SwitchRecord>(&r)) {
            if (sw->groupType > 1) k.Error(rec, "group type above 1");
            for (const SwitchPackage& p : sw->packages) {
                std::set<std::uint32_t> seen;
                for (std::uint32_t c : p.children)
                    if (!seen.insert(c).second) k.Error(rec, "child " + Hex(c) + " twice in one package");
            }
        } else if (const auto* att = std::get_if<AttenuationRecord>(&r)) {
            if (att->curves.empty() || att->curves.size() > 7) k.Error(rec, "needs 1 to 7 curves");
            for (std::uint8_t use : att->curveUse)
                if (use != 255 && use >= att->curves.size())
                    k.Error(rec, "a curve use names a missing curve");
        } else if (const auto* leaf = std::get_if<MotionLeafRecord>(&r)) {
            for (const MotionSource& s : leaf->sources)
                k.Source(rec, s.source, bank);
        }
        k.present.insert({table, rec.id});
    }
    return k.errors;
}

namespace {

std::string Join(const std::vector<std::uint32_t>& ids) {
    std::string out = "[";
    for (size_t i = 0; i < ids.size(); ++i)
        out += (i ? " " : "") + Hex(ids[i]);
    return out + "]";
}

std::string F(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
    return text;
}

std::string Props(const std::vector<Prop>& props) {
    std::string out;
    for (const Prop& p : props) {
        float f;
        std::memcpy(&f, &p.bits, 4);
        out += " prop" + std::to_string(p.id) + "=" + Hex(p.bits) + "(" + F(f) + "f/" +
               std::to_string(static_cast<std::int32_t>(p.bits)) + "i)";
    }
    return out;
}

std::string Rtpcs(const std::vector<RtpcCurve>& curves) {
    std::string out;
    for (const RtpcCurve& c : curves) {
        out += " rtpc{param=" + Hex(c.gameParameter) + " target=" + std::to_string(c.target) +
               " curve=" + std::to_string(c.curveId) + " points=";
        for (const CurvePoint& p : c.points)
            out += "(" + F(p.x) + "," + F(p.y) + "," + std::to_string(p.shape) + ")";
        out += "}";
    }
    return out;
}

std::string NodeLine(const NodeCommon& n) {
    return " bus=" + Hex(n.outputBus) + " parent=" + Hex(n.parent) + Props(n.props) + Rtpcs(n.rtpcs);
}

std::string SourceLine(const SourceRecord& s) {
    return " source=" + Hex(s.sourceId) + " plugin=" + Hex(s.plugin) +
           " stream=" + std::to_string(s.streamType) + " file=" + Hex(s.fileId) +
           " offset=" + std::to_string(s.fileOffset) + " size=" + std::to_string(s.inMemorySize);
}

std::string RecordLine(const ParsedRecord& rec) {
    std::string line = std::string("  ") + HierarchyTypeName(rec.type) + " id=" + Hex(rec.id) +
                       " size=" + std::to_string(rec.size);
    if (!rec.record) return line;
    const Record& r = *rec.record;
    if (const auto* s = std::get_if<SoundRecord>(&r)) return line + SourceLine(s->source) + NodeLine(s->node);
    if (const auto* a = std::get_if<ActionRecord>(&r)) {
        char type[8];
        std::snprintf(type, sizeof type, "0x%04X", a->type);
        line += std::string(" type=") + type + " target=" + Hex(a->target) +
                " is-bus=" + std::to_string(a->isBus) + Props(a->props);
        if ((a->type >> 8) == 0x04) line += " bank=" + Hex(a->bankId);
        return line;
    }
    if (const auto* e = std::get_if<EventRecord>(&r)) return line + " actions=" + Join(e->actions);
    if (const auto* b = std::get_if<BusRecord>(&r))
        return line + " parent=" + Hex(b->parent) + " flags3=" + std::to_string(b->flags3) + Props(b->props) +
               Rtpcs(b->rtpcs);
    if (const auto* p = std::get_if<PluginSettingsRecord>(&r)) {
        line += " plugin=" + Hex(p->plugin) + " block=" + std::to_string(p->block.size()) + " media=[";
        for (size_t i = 0; i < p->media.size(); ++i)
            line += (i ? " " : "") + std::to_string(p->media[i].index) + ":" + Hex(p->media[i].media);
        line += "]" + Rtpcs(p->rtpcs) + " values=[";
        for (size_t i = 0; i < p->initialValues.size(); ++i)
            line +=
                (i ? " " : "") + std::to_string(p->initialValues[i].key) + ":" + F(p->initialValues[i].value);
        return line + "]";
    }
    if (const NodeParts parts = PartsOf(r); parts.node) {
        line += NodeLine(*parts.node);
        if (parts.children) line += " children=" + Join(*parts.children);
    }
    return line;
}

} // namespace

std::string Dump(const ParsedBank& bank) {
    std::string out;
    for (const ParsedChunk& c : bank.chunks) {
        out += c.tag + " size=" + std::to_string(c.size) + " at=" + std::to_string(c.payloadOffset);
        if (c.tag == "BKHD") {
            out += " version=" + std::to_string(bank.version) + " bank=" + Hex(bank.bankId) +
                   " language=" + Hex(bank.languageId) + " extra-owner=" + (bank.extraOwner ? "1" : "0") +
                   "\n";
        } else if (c.tag == "STMG" && bank.settings) {
            const Settings& s = *bank.settings;
            out += " threshold=" + F(s.volumeThresholdDb) + " voices=" + std::to_string(s.maxVoices) +
                   " state-groups=" + std::to_string(s.stateGroups.size()) +
                   " switch-bindings=" + std::to_string(s.switchBindings.size()) + "\n";
            for (const GameParameter& p : s.gameParameters)
                out += "  GameParameter id=" + Hex(p.id) + " default=" + F(p.defaultValue) +
                       " ramp=" + std::to_string(p.rampKind) + " built-in=" + std::to_string(p.builtIn) +
                       "\n";
        } else if (c.tag == "DIDX") {
            out += " entries=" + std::to_string(bank.media.size()) + "\n";
            for (const ParsedMedia& m : bank.media)
                out += "  Media id=" + Hex(m.id) + " offset=" + std::to_string(m.offset) +
                       " size=" + std::to_string(m.size) + "\n";
        } else if (c.tag == "HIRC") {
            out += " records=" + std::to_string(bank.records.size()) + "\n";
            for (const ParsedRecord& r : bank.records)
                out += RecordLine(r) + "\n";
        } else if (c.tag == "STID") {
            out += "\n";
            for (const BankName& n : bank.names)
                out += "  BankName id=" + Hex(n.bankId) + " name=" + n.name + "\n";
        } else {
            out += "\n";
        }
    }
    return out;
}

} // namespace bankgen
