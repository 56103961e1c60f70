// Basic types and result codes of the sound engine.
#pragma once

#include <cstdint>

using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using u64 = uint64_t;
using i8 = int8_t;
using i16 = int16_t;
using i32 = int32_t;
using i64 = int64_t;
using f32 = float;
using f64 = double;

// Every result code the engine returns, once: the enumeration and AuResultName come from this list.
#define AU_RESULT_LIST(X)                                                                                    \
    X(NotImplemented, 0)                                                                                     \
    X(Success, 1)                                                                                            \
    X(Fail, 2)                                                                                               \
    X(TypeNotHandled, 3)                                                                                     \
    X(ChildTypeRefused, 4)                                                                                   \
    X(AlreadyAChild, 5)                                                                                      \
    X(BadHeader, 7)                                                                                          \
    X(TruncatedChunk, 8)                                                                                     \
    X(TooManyChildren, 9)                                                                                    \
    X(InvalidPool, 14)                                                                                       \
    X(IDNotFound, 15)                                                                                        \
    X(UnknownObject, 16)                                                                                     \
    X(NoMoreData, 17)                                                                                        \
    X(UnknownStateGroup, 20)                                                                                 \
    X(ChildHasParent, 21)                                                                                    \
    X(LanguageNotInPackage, 22)                                                                              \
    X(CannotBeOwnChild, 23)                                                                                  \
    X(NotTransitionUser, 29)                                                                                 \
    X(InvalidParameter, 31)                                                                                  \
    X(RepeatedPlaylistChild, 35)                                                                             \
    X(PathNotFound, 36)                                                                                      \
    X(PathItemWithoutVertex, 37)                                                                             \
    X(PathNotPlaying, 38)                                                                                    \
    X(PathNotPaused, 39)                                                                                     \
    X(PathUserRefused, 40)                                                                                   \
    X(PathUserAbsent, 41)                                                                                    \
    X(DataNeeded, 43)                                                                                        \
    X(DataReady, 45)                                                                                         \
    X(NoDataReady, 46)                                                                                       \
    X(NoMemory, 52)                                                                                          \
    X(NoTransferPossible, 53)                                                                                \
    X(BankNotLoaded, 54)                                                                                     \
    X(HeaderChunkTooShort, 56)                                                                               \
    X(StillBuffering, 63)                                                                                    \
    X(WrongBankVersion, 64)                                                                                  \
    X(FileNotFound, 66)                                                                                      \
    X(BankAlreadyLoaded, 69)                                                                                 \
    X(MemoryMgrNotReady, 74)                                                                                 \
    X(StreamMgrMissing, 75)                                                                                  \
    X(NoSSE, 76)                                                                                             \
    X(LimiterRefusedUseVirtual, 80)                                                                          \
    X(MidiFiltered, 82)

enum AURESULT : i32 {
#define AU_RESULT_ENUM(name, value) AuResult##name = value,
    AU_RESULT_LIST(AU_RESULT_ENUM)
#undef AU_RESULT_ENUM
};

// "AuResultFail" for AuResultFail; null for a value outside the list.
constexpr const char* AuResultName(AURESULT result) {
    switch (result) {
#define AU_RESULT_NAME(name, value)                                                                          \
    case AuResult##name:                                                                                     \
        return "AuResult" #name;
        AU_RESULT_LIST(AU_RESULT_NAME)
#undef AU_RESULT_NAME
    }
    return nullptr;
}

using AuUniqueID = u32;
using AuPlayingID = u32;
using AuGameObjectID = u32;
using AuMemPoolId = i32;

constexpr AuUniqueID AU_INVALID_UNIQUE_ID = 0;
constexpr AuMemPoolId AU_INVALID_POOL_ID = -1;

// The shape of a fade or of a curve segment from its start value a to its end value b.
enum AuCurveInterpolation : u32 {
    AuCurveInterpolation_EaseOutCubic = 0, // b + (a - b)(1 - t)^3
    AuCurveInterpolation_EaseOutSine = 1,
    AuCurveInterpolation_EaseOutQuad = 2,
    AuCurveInterpolation_SteepMiddle = 3, // half-sines: fast through the middle
    AuCurveInterpolation_Linear = 4,
    AuCurveInterpolation_SmoothS = 5, // raised cosine: slow at both ends
    AuCurveInterpolation_EaseInQuad = 6,
    AuCurveInterpolation_EaseInSine = 7,
    AuCurveInterpolation_EaseInCubic = 8,
    AuCurveInterpolation_Hold = 9, // a until the end
    AuCurveInterpolation_Last = AuCurveInterpolation_Hold,
};
