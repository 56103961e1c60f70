// Whole banks: chunk builders and the bank builder that lays them out.
#pragma once

#include <bankgen/Records.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bankgen {

struct StateTransition {
    std::uint32_t from = 0, to = 0, ms = 0;
};
struct StateGroupSettings {
    std::uint32_t group = 0;
    std::uint32_t defaultTransitionMs = 0;
    std::vector<StateTransition> transitions;
};
struct SwitchPoint {
    float value = 0.0f;
    std::uint32_t switchId = 0;
    std::uint32_t shape = 9; // hold
};
struct SwitchBinding {
    std::uint32_t switchGroup = 0;
    std::uint32_t gameParameter = 0;
    std::uint8_t drivingType = 0;
    std::vector<SwitchPoint> points;
};
struct GameParameter {
    std::uint32_t id = 0;
    float defaultValue = 0.0f;
    std::uint32_t rampKind = 0;
    float rampUp = 0.0f, rampDown = 0.0f;
    std::uint8_t builtIn = 0;
};
// "STMG": engine-wide settings, normally only in the Init bank.
struct Settings {
    float volumeThresholdDb = -96.0f;
    std::uint16_t maxVoices = 64;
    std::vector<StateGroupSettings> stateGroups;
    std::vector<SwitchBinding> switchBindings;
    std::vector<GameParameter> gameParameters;
};

struct EnvironmentCurve {
    std::uint8_t enabled = 0;
    std::uint8_t scaling = 0;
    std::vector<CurvePoint> points{CurvePoint{0, 1, 4}, CurvePoint{100, 1, 4}};
};
// "ENVS": the six obstruction/occlusion curves, (group, output) in row order.
struct Environment {
    std::array<EnvironmentCurve, 6> curves{};
};

struct BankName {
    std::uint32_t bankId = 0;
    std::string name; // without ".bnk"
};

struct Chunk {
    std::array<char, 4> tag{};
    Bytes payload;
};
Bytes EncodeChunk(std::string_view tag, std::span<const std::uint8_t> payload);
Bytes EncodeHeaderPayload(std::uint32_t bankId, std::uint32_t languageId, bool extraOwner);
Bytes EncodeSettings(const Settings& settings);
Bytes EncodeEnvironment(const Environment& environment);
Bytes EncodeBankNames(const std::vector<BankName>& names);

// Media start on 16-byte boundaries inside DATA: the block itself is 16-aligned, so decoders
// may read samples aligned.
inline constexpr std::uint32_t kMediaAlignment = 16;

class BankBuilder {
public:
    explicit BankBuilder(std::uint32_t bankId, std::uint32_t languageId = 0);

    void SetExtraOwner(bool on) { extraOwner_ = on; }
    void SetSettings(Settings settings) { settings_ = std::move(settings); }
    void SetEnvironment(Environment environment) { environment_ = std::move(environment); }
    void AddMedia(std::uint32_t mediaId, Bytes data);
    void Add(Record record) { records_.push_back(std::move(record)); }
    void AddBankName(BankName name) { names_.push_back(std::move(name)); }
    // A chunk the engine does not know, written after the known ones (readers skip it).
    void AddExtraChunk(std::string_view tag, Bytes payload);

    std::uint32_t BankId() const { return bankId_; }
    const std::vector<Record>& Records() const { return records_; }

    // Lays out BKHD, STMG, ENVS, DIDX, DATA, HIRC, STID, extras. Returns false with errors when a
    // record cannot be encoded; the ordering rules are checked by Validate on the result.
    bool Build(Bytes& out, std::vector<std::string>& errors) const;

private:
    struct Media {
        std::uint32_t id;
        Bytes data;
    };
    std::uint32_t bankId_;
    std::uint32_t languageId_;
    bool extraOwner_ = false;
    std::optional<Settings> settings_;
    std::optional<Environment> environment_;
    std::vector<Media> media_;
    std::vector<Record> records_;
    std::vector<BankName> names_;
    std::vector<Chunk> extras_;
};

} // namespace bankgen
