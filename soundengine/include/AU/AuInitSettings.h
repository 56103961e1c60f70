// The settings records the game fills before the sound engine starts.
#pragma once

#include <AU/AuChannelConfig.h>
#include <AU/AuPluginTypes.h>
#include <AU/AuThreadProperties.h>

enum AuPanningRule : u32 {
    AuPanningRule_Speakers = 0,
    AuPanningRule_Headphones = 1,
};

// Output devices are identified by {type, id}; the main output is {16, 0}.
enum AuAudioOutputType : u32 {
    // The two kinds of secondary output a game may add; their sinks are silent.
    AuAudioOutputType_SecondaryA = 4,
    AuAudioOutputType_SecondaryB = 8,
    AuAudioOutputType_Main = 16,
    AuAudioOutputType_Motion = 32,
};

// Sink options: the value 4 asks for the silent sink.
constexpr u32 AU_SINK_OPTION_DUMMY = 4;
constexpr u32 AU_SINK_OPTION_MAIN = 16;

struct AuOutputSettings {
    AuPanningRule ePanningRule;
    AuChannelConfig channelConfig; // 0: the sink chooses
    // Null for the built-in sinks.
    AuCreatePluginCallback pfnSinkPluginCreator;
};

using AuAssertHook = void (*)(const char* expression, const char* fileName, int lineNumber);

struct AuInitSettings {
    AuAssertHook assertHook;
    u32 maxPathRecords;
    u32 maxTransitions;
    u32 defaultPoolSize; // 64 or less means 16 MiB
    f32 memoryThresholdRatio;
    u32 commandQueueSize;
    AuMemPoolId preparedMediaPoolId;
    bool gameSyncPreparation;
    u32 playAndContinueLookAhead; // audio frames
    u32 samplesPerFrame;          // 256, 512, 1024 or 2048
    u32 reservedSizeA;
    u32 reservedSizeB;
    u32 mainOutputType; // sink options of the main output
    AuOutputSettings mainOutputSettings;
    u32 deviceTimeoutMs;
    bool useBankManagerThread;
};

struct AuPlatformInitSettings {
    void* window;                   // the DirectSound cooperative level and device-change notices
    AuThreadProperties audioThread; // also the pacing thread while suspended
    AuThreadProperties bankManagerThread;
    AuThreadProperties reservedThread;
    u32 lowerEnginePoolSize; // used when above 64
    f32 lowerEnginePoolRatio;
    u16 outputRefillBuffers; // below 2 becomes 4
    u32 sampleRateMode;      // 1: 24000 Hz, else 48000 Hz
    bool outputFlag;         // the DirectSound buffer keeps playing without focus
    void* reservedWord;      // an IXAudio2 object of the game's own, or null
};
