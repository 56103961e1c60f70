// Bank chunk sinks that take nothing, for benchmarks that measure one chunk's reader alone.
#pragma once

#include "banks/AuBankSinks.h"

class IgnoringSinks : public IAuBankSettingsSink,
                      public IAuCurveTableSink,
                      public IAuBankMediaSink,
                      public IAuHierarchySink {
public:
    void SetVolumeThreshold(f32, u32) override {}
    void SetMaxNumVoices(u16, u32) override {}
    bool AddStateGroup(u32) override { return false; }
    void SetDefaultTransitionTime(u32, u32) override {}
    void AddStateTransition(u32, u32, u32, u32) override {}
    AURESULT AddSwitchRTPC(u32, u32, u8, const AuBankSwitchPoint*, u32) override { return AuResultFail; }
    void SetGameParameter(u32, f32, u32, f32, f32) override {}
    AURESULT AddBuiltInParamBinding(u32, u8) override { return AuResultFail; }
    bool IsReady() override { return false; }
    void SetCurve(u32, u32, bool, u8, const AuBankCurvePoint*, u32) override {}
    void* AllocateDataBlock(u32) override { return nullptr; }
    AURESULT RegisterMedia(const AuMediaIndexEntry*, u32, const u8*, u32) override { return AuResultFail; }
    AURESULT PrepareMedia(CAuBankReader&, const AuMediaIndexEntry*, u32, u32) override {
        return AuResultFail;
    }
    AURESULT BeginHierarchy(u32) override { return AuResultFail; }
    AURESULT LoadRecord(u8, const u8*, u32) override { return AuResultFail; }
    bool HasExtensionReader() override { return false; }
    AURESULT ReadExtensionRecord(u8, u32, CAuBankReader&) override { return AuResultFail; }
};
