#include <bankgen/Bank.h>

#include "Layout.h"

#include <cstdio>
#include <set>

namespace bankgen {

namespace {

constexpr std::uint32_t kChunkHeaderSize = 8;

std::uint32_t AlignUp(std::uint32_t v, std::uint32_t a) {
    return (v + a - 1) / a * a;
}

// Chunk payloads carry no authoring rules of their own: Build checks what the engine needs.
template <typename T> Bytes Encoded(const T& value) {
    Bytes out;
    ByteWriter w(out);
    WriteArchive a(w, nullptr);
    Fields(a, value);
    return out;
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
    return Encoded(s);
}

Bytes EncodeEnvironment(const Environment& e) {
    return Encoded(e);
}

Bytes EncodeBankNames(const std::vector<BankName>& names) {
    Bytes out;
    ByteWriter w(out);
    WriteArchive a(w, nullptr);
    w.U32(1); // string kind: not interpreted by the engine
    a.Count<std::uint32_t>(names, 5);
    for (const BankName& n : names)
        Fields(a, n);
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
