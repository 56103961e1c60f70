#include "voices/AuPipelineBuffer.h"

#include <AU/MemoryMgr.h>

AURESULT AuPipelineBuffer::AllocAudioBuffer(u16 maxFrames, AuChannelConfig config) {
    const u32 bytes = config.NumChannels() * u32{maxFrames} * sizeof(f32);
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, bytes, 16);
    if (!block) return AuResultNoMemory;
    pData = static_cast<f32*>(block);
    channelConfig = config;
    uMaxFrames = maxFrames;
    uValidFrames = 0;
    return AuResultSuccess;
}

void AuPipelineBuffer::FreeAudioBuffer() {
    if (pData) AU::MemoryMgr::Falign(g_LEngineDefaultPoolId, pData);
    pData = nullptr;
    uMaxFrames = 0;
}

void AuPipelineBuffer::FreeMarkers() {
    if (pMarkers) AU::MemoryMgr::Free(g_LEngineDefaultPoolId, pMarkers);
    pMarkers = nullptr;
    uNumMarkers = 0;
}

void AuPipelineBuffer::PrepareForVoicePass(u16 maxFrames) {
    *this = AuPipelineBuffer{};
    uMaxFrames = maxFrames;
}
