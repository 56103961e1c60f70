// Effect plug-in 118: an algorithmic room reverb. A pre-delay, early reflections from a stored
// pattern, four diffusing all-pass sections, a network of damped delay lines in sets of four whose
// decay follows the decay time, up to three equaliser filters at chosen points, and output levels
// per speaker group. Parameter changes rebuild only the structures they touch.
#pragma once

#include "plugins/AuEffectCommon.h"
#include "plugins/AuEffectFilter.h"
#include "plugins/AuPlugin.h"
#include "plugins/AuReflectionPatterns.h"

constexpr u32 AU_REVERB_NUM_FILTERS = 3;
constexpr u32 AU_REVERB_NUM_TUNING = 11;
constexpr u32 AU_REVERB_NUM_ALLPASSES = 4;
constexpr u32 AU_REVERB_NUM_DC_BLOCKERS = 6;
constexpr u32 AU_REVERB_MIN_DENSITY = 1;
constexpr u32 AU_REVERB_MAX_DENSITY = 32;
constexpr f32 AU_REVERB_MIN_DECAY_SECONDS = 0.01f;
constexpr f32 AU_REVERB_MAX_DELAY_MS = 10000.0f;
// Frames per pass through the network: the work block stays the same size whatever the buffer.
constexpr u32 AU_REVERB_BLOCK_FRAMES = 256;

enum AuReverbFilterPosition : u32 {
    AuReverbFilterOff = 0,
    AuReverbFilterOnReflections = 1,
    AuReverbFilterOnReverbInput = 2,
    AuReverbFilterOnEffectInput = 3,
};

// Values whose change raises the level-and-filter flag; the levels are linear gains (the
// parameter object's defaults convert their decibels).
struct AuRoomReverbLevels {
    f32 fDecayTime = 1.2f;
    f32 fDampingRatio = 2.25f;
    f32 fDiffusion = 100.0f;
    f32 fStereoWidth = 180.0f;
    f32 afFilterGain[AU_REVERB_NUM_FILTERS] = {0.0f, 0.0f, 0.0f};
    f32 afFilterFrequency[AU_REVERB_NUM_FILTERS] = {100.0f, 1000.0f, 10000.0f};
    f32 afFilterQ[AU_REVERB_NUM_FILTERS] = {1.0f, 1.0f, 1.0f};
    f32 fFrontLevel = 1.0f;
    f32 fRearLevel = 1.0f;
    f32 fCenterLevel = 1.0f;
    f32 fLFELevel = 1.0f;
    f32 fDryLevel = 1.0f;
    f32 fERLevel = 1.0f;
    f32 fReverbLevel = 1.0f;
};

// Values whose change raises the structure flag.
struct AuRoomReverbStructure {
    u32 uPattern = 23;
    f32 fPreDelay = 25.0f; // ms
    f32 fERSize = 0.0f;
    f32 fRearDelay = 40.0f; // ms
    f32 fRoomSize = 80.0f;
    f32 fRoomShape = 100.0f;
    u32 uDensity = 8;
    f32 fCenterInputLevel = 1.0f;
    f32 fLFEInputLevel = 1.0f;
    u32 auFilterPosition[AU_REVERB_NUM_FILTERS] = {3, 3, 3};
    u32 auFilterType[AU_REVERB_NUM_FILTERS] = {0, 1, 2};
    bool bEQEnabled = false;
    bool bEREnabled = true;
};

class CAuRoomReverbEffectParams final : public AU::IAuPluginParam {
public:
    enum ParamId : u16 {
        Pattern = 0,
        PreDelay = 1,
        ERSize = 2,
        RearDelay = 3,
        EREnabled = 4,
        DecayTime = 10,
        DampingRatio = 11,
        RoomSize = 12,
        RoomShape = 13,
        Density = 14,
        Diffusion = 15,
        StereoWidth = 16,
        EQEnabled = 20,
        Filter1Position = 21, // filter k at 21 + 5k: position, type, gain, frequency, Q
        CenterInputLevel = 40,
        LFEInputLevel = 41,
        FrontLevel = 50,
        RearLevel = 51,
        CenterLevel = 52,
        LFELevel = 53,
        DryLevel = 60,
        ERLevel = 61,
        ReverbLevel = 62,
        FirstTuning = 100,
        LastTuning = 110,
    };
    // Tuning values by index from id 100.
    enum Tuning : u32 {
        ShortestMeanTime = 0,
        LongestMeanTime,
        LineLengthening,
        ShapeRatioAt0,
        ShapeRatioAt100,
        AllpassTimeRatio,
        FirstAllpassTime,
        AllpassLengthening,
        DcBlockerCorner,
        BlockInputDelay,
        BlockInputLengthening,
    };

    // [audio thread] 31 for a null value, a number that is not finite or a pattern outside the
    // table; 1 for every other id, stored or not.
    AURESULT SetParam(u16 id, const void* value, u32 size) noexcept override;
    AU::IAuPluginParam* Clone(AU::IAuPluginMemAlloc* allocator) noexcept override;
    AURESULT Init(AU::IAuPluginMemAlloc* allocator, const void* block, u32 size) noexcept override;
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override;
    AURESULT SetParamsBlock(const void* block, u32 size) noexcept override;

    CAuRoomReverbEffectParams() { SetDefaults(); }
    void SetDefaults();

    AuRoomReverbLevels m_levels;
    bool m_bLevelsChanged = false;
    AuRoomReverbStructure m_structure;
    bool m_bStructureChanged = false;
    f32 m_afTuning[AU_REVERB_NUM_TUNING] = {};
};

struct AuReverbDelay {
    f32* pBuffer = nullptr;
    u32 uLength = 0;
    u32 uPos = 0;

    // [audio thread] Delays `samples` in place by the line's length; nothing without a line.
    void Run(f32* samples, u32 frames) noexcept;
    void Clear() noexcept;
};

struct AuReverbAllpass {
    f32* pLine = nullptr; // pairs of a past input and a past output
    u32 uLength = 0;
    u32 uPos = 0;
    f32 fCoef = 0.0f;
};

struct AuDcBlocker {
    f32 fLastIn = 0.0f;
    f32 fLastOut = 0.0f;
    f32 fPole = 0.0f;
};

struct AuReverbLineSet {
    AuReverbDelay lines[4];
    f32 afState[4] = {};
    f32 afInCoef[4] = {}; // g (1 - b)
    f32 afFbCoef[4] = {}; // b
    AuReverbDelay input;
};

struct AuReverbFilterSlot {
    AuEffectFilter filter;
    u32 uPosition = AuReverbFilterOff;
    u32 uFilter = 0;
};

struct AuEarlyReflections {
    f32* pBuffer = nullptr;
    u32 uLength = 0; // the longest delay, a multiple of 4, and one block
    u32 uWritePos = 0;
    // The most frames one step may write before the taps read them: the shortest distance from a
    // delayed tap back to the write position.
    u32 uMaxStep = 0;
    u32 auNumTaps[2] = {};
    u32 aauReadPos[2][AU_MAX_REFLECTION_TAPS] = {};
    f32 aafGain[2][AU_MAX_REFLECTION_TAPS] = {};
};

class CAuRoomReverbEffect final : public AU::IAuPlugin {
public:
    AURESULT Term(AU::IAuPluginMemAlloc* allocator) noexcept override;
    AURESULT Reset() noexcept override;
    AURESULT GetPluginInfo(AuPluginInfo& info) noexcept override;
    AURESULT Init(AU::IAuPluginMemAlloc* allocator, AU::IAuEffectPluginContext* context,
                  AU::IAuPluginParam* params, AuPluginFormat& format) noexcept override;
    void Execute(AuPipelineBuffer& buffer) noexcept override;
    AURESULT TimeSkip(u32 frames) noexcept override;

    // What tests look at.
    u32 TailLength() const { return m_uTailLength; }
    u32 Density() const { return m_uDensity; }
    const AuReverbLineSet& LineSet(u32 index) const { return m_pLineSets[index]; }
    const AuReverbAllpass& Allpass(u32 index) const { return m_allpasses[index]; }
    f32 BlockNormaliser() const { return m_fBlockNormaliser; }
    u32 NumFilterSlots() const { return m_uNumFilterSlots; }
    const AuReverbFilterSlot& FilterSlot(u32 index) const { return m_pFilterSlots[index]; }
    const AuEarlyReflections& EarlyReflections() const { return m_er; }
    const AuReverbDelay& PreDelayLine() const { return m_preDelay; }
    const AuReverbDelay& ERLine() const { return m_erLine; }
    const AuReverbDelay& RearLine(u32 index) const { return m_rearLines[index]; }
    // The network's line times in ms before they become lengths, ascending: 4 x density.
    static void LineTimes(const CAuRoomReverbEffectParams& params, f64* times, bool lengthen);

private:
    bool RunsER() const { return m_uERLineCount == 2; }
    f32 DryLevel() const;

    AURESULT AllocDelay(AuReverbDelay& line, u32 length) noexcept;
    void FreeDelay(AuReverbDelay& line) noexcept;
    void BuildDcBlockers() noexcept;
    AURESULT BuildFilterSlots() noexcept;
    void DesignFilterSlots() noexcept;
    AURESULT BuildLineSets() noexcept;
    void FreeLineSets() noexcept;
    void DesignDamping() noexcept;
    AURESULT BuildERLine() noexcept;
    AURESULT BuildPreDelay() noexcept;
    AURESULT BuildERUnit() noexcept;
    AURESULT BuildRearLines() noexcept;
    AURESULT BuildAllpasses() noexcept;
    void ComputeAllpassCoefs() noexcept;
    void ComputeTailLength() noexcept;
    // The structure flag's rebuilds; false when one failed and the buffer is skipped.
    bool RebuildStructures() noexcept;

    void Process(AuPipelineBuffer& buffer, u32 numOutputs, f32* work) noexcept;
    void ProcessBlock(AuPipelineBuffer& buffer, u32 offset, u32 frames, u32 numOutputs, f32* work,
                      bool glide) noexcept;
    void RunERUnit(const f32* in, f32* left, f32* right, u32 frames) noexcept;
    void FilterAt(u32 position, f32* samples, u32 frames, u32 side) noexcept;

    AuReverbAllpass m_allpasses[AU_REVERB_NUM_ALLPASSES];
    AuDcBlocker m_dcBlockers[AU_REVERB_NUM_DC_BLOCKERS];
    AuReverbDelay m_erLine;
    AuReverbDelay m_preDelay;
    AuReverbDelay m_rearLines[2];
    AuEffectTail m_tail;
    u32 m_uTailLength = 0;
    f32 m_fBlockNormaliser = 1.0f;
    u32 m_uDensity = 0;
    u32 m_uSampleRate = 0;
    u32 m_uNumFilterSlots = 0;
    u32 m_uERLineCount = 0;
    bool m_bSendMode = false;
    bool m_bHasRear = false;
    AuReverbLineSet* m_pLineSets = nullptr;
    AuReverbFilterSlot* m_pFilterSlots = nullptr;
    AuEarlyReflections m_er;
    CAuRoomReverbEffectParams* m_pParams = nullptr;
    AU::IAuPluginMemAlloc* m_pAllocator = nullptr;
    // What the last buffer ended with, for the glides.
    AuRoomReverbLevels m_prevLevels;
    // What the structures were last built from.
    AuRoomReverbStructure m_builtStructure;
    AuChannelConfig m_config;
};
