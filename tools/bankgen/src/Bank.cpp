#include <bankgen/Bank.h>

#include <cstdio>
#include <set>

namespace bankgen {

namespace {

constexpr std::uint32_t kChunkHeaderSize = 8;

std::uint32_t AlignUp(std::uint32_t v, std::uint32_t a) {
    return (v + a - 1) / a * a;
}

} // namespace

Bytes EncodeChunk(std::string_view tag, std::span<const std::uint8_t> payload) {
    Bytes out;
    ByteWriter w(out);
    w.Tag(tag);
    w.U32(static_cast<std::uint32_t>(payload.size()));
    w.Raw(payload);
    return out;
}

Bytes EncodeHeaderPayload(std::uint32_t bankId, std::uint32_t languageId, bool extraOwner) {
    Bytes out;
    ByteWriter w(out);
    w.U32(kBankVersion);
    w.U32(bankId);
    w.U32(languageId);
    w.U16(extraOwner ? 1 : 0);
    w.U16(0);
    w.U32(0);
    return out;
}

Bytes EncodeSettings(const Settings& s) {
    Bytes out;
    ByteWriter w(out);
    w.F32(s.volumeThresholdDb);
    w.U16(s.maxVoices);
    w.U32(static_cast<std::uint32_t>(s.stateGroups.size()));
    for (const StateGroupSettings& g : s.stateGroups) {
        w.U32(g.group);
        w.U32(g.defaultTransitionMs);
        w.U32(static_cast<std::uint32_t>(g.transitions.size()));
        for (const StateTransition& t : g.transitions) {
            w.U32(t.from);
            w.U32(t.to);
            w.U32(t.ms);
        }
    }
    w.U32(static_cast<std::uint32_t>(s.switchBindings.size()));
    for (const SwitchBinding& b : s.switchBindings) {
        w.U32(b.switchGroup);
        w.U32(b.gameParameter);
        w.U8(b.drivingType);
        w.U32(static_cast<std::uint32_t>(b.points.size()));
        for (const SwitchPoint& p : b.points) {
            w.F32(p.value);
            w.U32(p.switchId);
            w.U32(p.shape);
        }
    }
    w.U32(static_cast<std::uint32_t>(s.gameParameters.size()));
    for (const GameParameter& p : s.gameParameters) {
        w.U32(p.id);
        w.F32(p.defaultValue);
        w.U32(p.rampKind);
        w.F32(p.rampUp);
        w.F32(p.rampDown);
        w.U8(p.builtIn);
    }
    return out;
}

Bytes EncodeEnvironment(const Environment& e) {
    Bytes out;
    ByteWriter w(out);
    for (const EnvironmentCurve& c : e.curves) {
        w.U8(c.enabled);
        w.U8(c.scaling);
        w.U16(static_cast<std::uint16_t>(c.points.size()));
        for (const CurvePoint& p : c.points) {
            w.F32(p.x);
            w.F32(p.y);
            w.U32(p.shape);
        }
    }
    return out;
}

Bytes EncodeBankNames(const std::vector<BankName>& names) {
    Bytes out;
    ByteWriter w(out);
    w.U32(1); // string kind: not interpreted by the engine
    w.U32(static_cast<std::uint32_t>(names.size()));
    for (const BankName& n : names) {
        w.U32(n.bankId);
        w.U8(static_cast<std::uint8_t>(n.name.size()));
        w.Raw(std::span(reinterpret_cast<const std::uint8_t*>(n.name.data()), n.name.size()));
    }
    return out;
}

BankBuilder::BankBuilder(std::uint32_t bankId, std::uint32_t languageId)
    : bankId_(bankId), languageId_(languageId) {}

void BankBuilder::AddMedia(std::uint32_t mediaId, Bytes data) {
    media_.push_back(Media{mediaId, std::move(data)});
}

void BankBuilder::AddExtraChunk(std::string_view tag, Bytes payload) {
    Chunk c;
    for (size_t i = 0; i < 4; ++i)
        c.tag[i] = i < tag.size() ? tag[i] : ' ';
    c.payload = std::move(payload);
    extras_.push_back(std::move(c));
}

bool BankBuilder::Build(Bytes& out, std::vector<std::string>& errors) const {
    out.clear();
    const size_t firstError = errors.size();
    auto append = [&out](std::string_view tag, const Bytes& payload) {
        const Bytes chunk = EncodeChunk(tag, payload);
        out.insert(out.end(), chunk.begin(), chunk.end());
    };

    append("BKHD", EncodeHeaderPayload(bankId_, languageId_, extraOwner_));
    if (settings_) append("STMG", EncodeSettings(*settings_));
    if (environment_) {
        for (const EnvironmentCurve& c : environment_->curves)
            if (c.points.empty()) errors.push_back("ENVS: every curve needs at least one point");
        append("ENVS", EncodeEnvironment(*environment_));
    }

    // DATA follows DIDX directly, so each media's absolute file offset is known before the
    // sounds that name it are encoded.
    std::vector<std::pair<std::uint32_t, MediaPlacement>> placements;
    if (!media_.empty()) {
        Bytes index, data;
        ByteWriter iw(index);
        std::set<std::uint32_t> seen;
        const std::uint32_t dataPayloadAt =
            static_cast<std::uint32_t>(out.size() + kChunkHeaderSize + 12 * media_.size() + kChunkHeaderSize);
        for (const Media& m : media_) {
            if (m.id == 0) errors.push_back("media ID 0 is ignored by the engine");
            if (!seen.insert(m.id).second)
                errors.push_back("media ID " + std::to_string(m.id) + " appears twice");
            if (m.data.empty()) errors.push_back("media " + std::to_string(m.id) + " is empty");
            const std::uint32_t at = AlignUp(static_cast<std::uint32_t>(data.size()), kMediaAlignment);
            data.resize(at, 0);
            data.insert(data.end(), m.data.begin(), m.data.end());
            iw.U32(m.id);
            iw.U32(at);
            iw.U32(static_cast<std::uint32_t>(m.data.size()));
            placements.emplace_back(
                m.id, MediaPlacement{dataPayloadAt + at, static_cast<std::uint32_t>(m.data.size())});
        }
        append("DIDX", index);
        append("DATA", data);
    }

    if (!records_.empty()) {
        EncodeContext ctx;
        ctx.extraOwner = extraOwner_;
        ctx.bankId = bankId_;
        ctx.findMedia = [&placements](std::uint32_t id) -> std::optional<MediaPlacement> {
            for (const auto& [mediaId, placed] : placements)
                if (mediaId == id) return placed;
            return std::nullopt;
        };
        Bytes hirc;
        ByteWriter hw(hirc);
        hw.U32(static_cast<std::uint32_t>(records_.size()));
        for (const Record& r : records_) {
            const Bytes rec = EncodeRecord(r, ctx);
            hw.Raw(rec);
        }
        errors.insert(errors.end(), ctx.errors.begin(), ctx.errors.end());
        append("HIRC", hirc);
    }

    if (!names_.empty()) {
        for (const BankName& n : names_)
            if (n.name.size() > 255) errors.push_back("bank name longer than 255 bytes: " + n.name);
        append("STID", EncodeBankNames(names_));
    }
    for (const Chunk& c : extras_)
        append(std::string_view(c.tag.data(), 4), c.payload);
    return errors.size() == firstError;
}

} // namespace bankgen
