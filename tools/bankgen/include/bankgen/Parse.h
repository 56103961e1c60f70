// An independent reading of bank files: chunks, media index and every hierarchy record, with the
// authoring rules a bank must keep to load, and a text listing.
#pragma once

#include <bankgen/Bank.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bankgen {

struct ParsedChunk {
    std::string tag;
    std::uint32_t size = 0;
    size_t payloadOffset = 0; // in the file
};

struct ParsedMedia {
    std::uint32_t id = 0;
    std::uint32_t offset = 0; // from the start of the DATA payload
    std::uint32_t size = 0;
};

struct ParsedRecord {
    std::uint8_t type = 0;
    std::uint32_t size = 0;
    size_t payloadOffset = 0; // in the file
    std::uint32_t id = 0;
    std::optional<Record> record; // empty for types this format does not define
};

struct ParsedBank {
    std::uint32_t headerSize = 0;
    std::uint32_t version = 0;
    std::uint32_t bankId = 0;
    std::uint32_t languageId = 0;
    bool extraOwner = false;
    std::vector<ParsedChunk> chunks;
    std::optional<Settings> settings;
    std::optional<Environment> environment;
    std::vector<ParsedMedia> media;
    bool hasData = false;
    size_t dataOffset = 0; // file offset of the DATA payload
    std::uint32_t dataSize = 0;
    std::vector<ParsedRecord> records;
    std::vector<BankName> names;

    const ParsedRecord* Find(std::uint8_t type, std::uint32_t id) const;
};

// Reads a whole bank. Every known chunk and every record must hold exactly what its layout
// says; the first disagreement stops the reading with a reason and the byte offset.
bool ParseBank(std::span<const std::uint8_t> file, ParsedBank& bank, std::string& error);

// One record payload of a known type (1-22).
bool DecodePayload(std::uint8_t type, std::span<const std::uint8_t> payload, bool extraOwner, Record& out,
                   std::string& error);

// The rules a bank must keep for the engine to load it: sizes and the media index, object
// order (busses top-down, children before containers, actions before events), references to
// missing objects, one event per action. `earlier` are banks loaded before this one.
std::vector<std::string> Validate(const ParsedBank& bank, const std::vector<const ParsedBank*>& earlier = {});

// A readable listing: chunks, media, records with their key fields.
std::string Dump(const ParsedBank& bank);

} // namespace bankgen
