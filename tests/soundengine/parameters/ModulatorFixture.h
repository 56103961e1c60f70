// Modulators read from bankgen records over the engine's object index, RTPC manager and modulator
// manager, as the engine's Init makes them.
#pragma once

#include "RTPCMgrFixture.h"
#include "core/AuObjectIndex.h"
#include "parameters/AuModulator.h"
#include "parameters/AuModulatorMgr.h"

#include <bankgen/Records.h>
#include <win32_testing.h>

#include <vector>

class ModulatorFixture : public RTPCMgrFixture {
protected:
    void SetUp() override {
        RTPCMgrFixture::SetUp();
        m_index.Init();
        g_pIndex = &m_index;
        g_pRTPCMgr = &mgr;
        ASSERT_EQ(modulators.Init(), AuResultSuccess);
        g_pModulatorMgr = &modulators;
        win32test::ResetRandScript();
        m_usedAfterSetUp = Used();
    }
    void TearDown() override {
        ReleaseAll();
        modulators.Term();
        g_pModulatorMgr = nullptr;
        m_index.Term();
        g_pIndex = nullptr;
        mgr.Term();
        g_pRTPCMgr = nullptr;
        win32test::ResetRandScript();
        RTPCMgrFixture::TearDown();
    }
    void ReleaseAll() {
        for (CAuModulator* modulator : loaded)
            modulator->Release();
        loaded.clear();
    }

    static std::vector<u8> Payload(const bankgen::ModulatorRecord& record) {
        bankgen::EncodeContext ctx;
        return bankgen::EncodePayload(record, ctx);
    }
    // Made and read as the loader does; a failed read releases it again.
    CAuModulator* Load(const bankgen::ModulatorRecord& record, AURESULT* outResult = nullptr) {
        return LoadBytes(record.type == bankgen::HierarchyType::Lfo ? AuModulatorKind_Lfo
                                                                    : AuModulatorKind_Envelope,
                         record.id, Payload(record), outResult);
    }
    CAuModulator* LoadBytes(u32 kind, u32 id, const std::vector<u8>& bytes, AURESULT* outResult = nullptr) {
        CAuModulator* modulator = CAuModulator::Create(id, kind);
        if (!modulator) return nullptr;
        const AURESULT result = modulator->SetInitialValues(bytes.data(), static_cast<u32>(bytes.size()));
        if (outResult) *outResult = result;
        if (result != AuResultSuccess) {
            modulator->Release();
            return nullptr;
        }
        loaded.push_back(modulator);
        return modulator;
    }

    CAuObjectIndex m_index;
    CAuModulatorMgr modulators;
    std::vector<CAuModulator*> loaded;
    // The managers' own blocks: what a test leaves beyond them leaked.
    u32 m_usedAfterSetUp = 0;
};
