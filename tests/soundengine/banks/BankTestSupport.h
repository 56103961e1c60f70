// The engine set-up of the bank tests and bank images made with the bank writer.
#pragma once

#include "BankFakes.h"

#include <AU/SoundEngine.h>
#include <AuCaptureFile.h>
#include <AuDefaultPoolTest.h>
#include <AuEngineStarter.h>
#include <AuFrameDriver.h>
#include <bankgen/Bank.h>
#include <bankgen/Parse.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>

#include <unistd.h>

namespace banktest {

using bankgen::Bytes;

class BankTest : public AuDefaultPoolTest {
protected:
    BankTest() : AuDefaultPoolTest(16u << 20) {}
};

// The real engine with its memory, its stream manager and the blocking I/O hook over a folder of
// each test's own (below `folder` and the process ID in the test temporary folder, so that two
// runs of one test never share it), started by SetUp and ended by TearDown, which removes the
// folder of a test that passed. The test pulls the output frame by frame: the audio thread renders
// only what it pulls, so what a test hears is counted in frames, not in time.
class RunningEngineTest : public testing::Test {
protected:
    explicit RunningEngineTest(const char* folder) : m_folderName(folder) {}
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        m_folder = std::filesystem::path(testing::TempDir()) / m_folderName / std::to_string(getpid()) /
                   info->name();
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
        AuFrameDriver::Attach();
        AuInitSettings settings = AuFrameDriver::Settings();
        ASSERT_NO_FATAL_FAILURE(m_engine.Start(16, m_folder, AuEngineStarter::DefaultDevice(), &settings));
    }
    void TearDown() override {
        m_engine.Stop();
        AuFrameDriver::Detach();
        std::error_code ignored;
        if (!HasFailure()) std::filesystem::remove_all(m_folder.parent_path(), ignored);
    }

    // How many frames a heard test renders while it waits for what it listens for: some 10 s of
    // output, several times what any wait needs.
    static constexpr u32 kHeardFrames = 500;
    // For what another thread than the audio thread finishes (the bank thread): no count of
    // frames can say when it is late, so only the test's time-out ends the wait.
    static constexpr u32 kUntilDone = ~u32{0};
    // Renders frame by frame, each pass told to take what was posted, until `done` holds or
    // `frames` were rendered; what `done` says last.
    template <class Done> static bool RenderUntil(Done done, u32 frames = kHeardFrames) {
        for (u32 i = 0; i < frames; ++i) {
            if (done()) return true;
            if (!RenderFrame()) return false;
        }
        return done();
    }
    // One frame, its pass told to take what was posted before it; what the device played of
    // channel 0 goes to `played` when given.
    static bool RenderFrame(std::vector<f32>* played = nullptr) {
        AU::SoundEngine::RenderAudio();
        if (AuFrameDriver::Frame(played)) return true;
        ADD_FAILURE() << "the main output is not the device the test pulls";
        return false;
    }

    // Loads `image` from memory as m_bankID; m_image keeps it for the engine to read.
    void LoadImage(Bytes image) {
        m_image = std::move(image);
        ASSERT_EQ(AU::SoundEngine::LoadBank(m_image.data(), static_cast<u32>(m_image.size()),
                                            AU_INVALID_POOL_ID, m_bankID),
                  AuResultSuccess);
    }
    // Stops the capture into `file` of the test's folder; the capture once the file is closed.
    AuCaptureFile StopCapture(const char* file) const {
        const auto path = m_folder / file;
        EXPECT_EQ(AU::SoundEngine::StopOutputCapture(), AuResultSuccess);
        EXPECT_TRUE(RenderUntil([&] { return AuCaptureFile::Read(path).closed; })) << file;
        return AuCaptureFile::Read(path);
    }

    AuEngineStarter m_engine;
    std::filesystem::path m_folder;
    Bytes m_image;
    AuBankID m_bankID = 0;

private:
    const char* m_folderName;
};

// The builder's image; a builder that refuses its records fails the test.
inline Bytes Built(bankgen::BankBuilder& builder) {
    Bytes out;
    std::vector<std::string> errors;
    EXPECT_TRUE(builder.Build(out, errors)) << (errors.empty() ? "" : errors.front());
    return out;
}

// A sound playing PCM media `media` from the bank's data, on bus `bus`.
inline bankgen::SoundRecord BankSound(u32 id, u32 media, u32 bus) {
    bankgen::SoundRecord sound;
    sound.id = id;
    sound.source.sourceId = media;
    sound.source.fromBank = true;
    sound.node.outputBus = bus;
    return sound;
}

// An action of `type` on `target`, the record's defaults for the rest.
inline bankgen::ActionRecord ActionOn(u32 id, u16 type, u32 target, bool isBus = false) {
    bankgen::ActionRecord action;
    action.id = id;
    action.type = type;
    action.target = target;
    action.isBus = isBus ? 1 : 0;
    return action;
}

// A play action of `target`, read from bank `bankID`.
inline bankgen::ActionRecord PlayAction(u32 id, u32 target, u32 bankID) {
    bankgen::ActionRecord play = ActionOn(id, 0x0403, target);
    play.bankId = bankID;
    return play;
}

// The largest sample of channel 0 in [from, to).
inline i32 Peak(const AuCaptureFile& c, size_t from, size_t to) {
    i32 peak = 0;
    for (size_t n = from; n < to && n < c.Frames(); ++n)
        peak = std::max(peak, std::abs(i32{c.At(n, 0)}));
    return peak;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes Chunk(std::string_view tag, const Bytes& payload) {
    return bankgen::EncodeChunk(tag, payload);
}

// A header chunk with `size` payload bytes (the fields of a 20-byte header, then zeros).
inline Bytes Header(u32 version = 112, u32 size = 20, u32 bankID = 0x47FD79D2) {
    Bytes payload = bankgen::EncodeHeaderPayload(bankID, 0, false);
    payload[0] = static_cast<u8>(version);
    payload[1] = static_cast<u8>(version >> 8);
    payload.resize(size, 0);
    return Chunk("BKHD", payload);
}

inline Bytes U32s(std::initializer_list<u32> values) {
    Bytes out;
    bankgen::ByteWriter writer(out);
    for (u32 v : values)
        writer.U32(v);
    return out;
}

inline Bytes Cut(Bytes bytes, size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
}

// A pattern that does not repeat at any power of two, so a misplaced block shows.
inline Bytes Pattern(size_t size, u32 seed = 0) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<u8>((i * 131 + i / 251 + seed * 17) & 0xFF);
    return bytes;
}

// A bank with every chunk kind, media larger than the reader's buffer, and records of several
// types. Built by the bank writer, not by the reader under test.
inline Bytes FullBank(u32 bankID = 0x1234ABCD) {
    bankgen::BankBuilder builder(bankID);
    bankgen::Settings settings;
    settings.stateGroups.push_back({0x100, 250, {{1, 2, 100}, {2, 1, 300}}});
    settings.switchBindings.push_back({0x200, 0x300, 0, {{0.0f, 0x201, 9}, {50.0f, 0x202, 9}}});
    settings.gameParameters.push_back({0x7B5FA2EB, 100.0f, 0, 0.0f, 0.0f, 0});
    settings.gameParameters.push_back({0x300, 5.0f, 1, 2.0f, 3.0f, 1});
    builder.SetSettings(settings);
    builder.SetEnvironment(bankgen::Environment{});
    builder.AddMedia(0x2001, Pattern(5000, 1));
    builder.AddMedia(0x2002, Pattern(70001, 2));
    builder.AddMedia(0x2003, Pattern(40, 3));
    for (u32 i = 0; i < 20; ++i)
        builder.Add(bankgen::StateRecord{0x500 + i, {bankgen::PropF(2, 1.0f + static_cast<float>(i))}});
    bankgen::SoundRecord sound;
    sound.id = 0x1001;
    sound.source.sourceId = 0x2002;
    sound.source.fromBank = true;
    builder.Add(sound);
    builder.Add(bankgen::EventRecord{0xFF0B3D05, {0x3001, 0x3002}});
    builder.AddBankName({0x50C63A23, "Init"});
    builder.AddExtraChunk("JUNK", Pattern(33, 4));
    return Built(builder);
}

inline Bytes ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What one reading of a bank produced: its result, header and every call the sinks received.
struct Reading {
    AURESULT result = AuResultNotImplemented;
    AuBankHeader header{};
    std::vector<std::string> calls;
    std::vector<std::string> names;
};

inline Reading ReadWith(CAuBankReader& reader, AuBankLoadMode mode, bool inPlace, RecordingSinks& sinks,
                        std::initializer_list<u32> nameIDs = {}) {
    CAuBankFileNames names;
    Reading reading;
    reading.result = AuReadBank(reader, mode, inPlace, sinks.Sinks(&names), reading.header);
    reading.calls = sinks.calls;
    for (u32 id : nameIDs) {
        char name[300];
        reading.names.push_back(names.GetBankFileName(id, name, sizeof(name)) ? name : "-");
    }
    names.Term();
    return reading;
}

inline Reading ReadMemory(const Bytes& image, AuBankLoadMode mode = AuBankLoadModeLoad, bool inPlace = false,
                          RecordingSinks sinks = {}) {
    CAuBankReader reader;
    reader.Init();
    reader.SetMemory(image.data(), static_cast<u32>(image.size()));
    return ReadWith(reader, mode, inPlace, sinks);
}

} // namespace banktest
