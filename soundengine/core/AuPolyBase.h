// The small polymorphic base that streaming devices, pipeline nodes, filters and the MIDI
// handler hold a member of.
#pragma once

class CAuPolyBase {
public:
    virtual ~CAuPolyBase() = default;
    virtual void OnNotify(void*) {}
};
