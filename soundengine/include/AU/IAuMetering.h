// What a bus's metering callback reads: the measures its flags asked for, of the bus's last frame.
#pragma once

#include <AU/AuCallback.h>
#include <AU/AuTypes.h>

namespace AU {

class IAuMetering {
public:
    // Per channel, linear, in the bus's channel order; null for a measure the flags did not ask for.
    virtual const f32* GetPeak() const = 0;
    virtual const f32* GetRMS() const = 0;
    virtual const f32* GetTruePeak() const = 0;
    // The K-weighted mean square of the whole bus; 0 when not asked for.
    virtual f32 GetKPower() const = 0;
    virtual u32 GetNumChannels() const = 0;

protected:
    ~IAuMetering() = default;
};

} // namespace AU
