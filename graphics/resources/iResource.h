// A loaded resource, stored by its manager under its name.
#pragma once

#include <Messages.h>

#include <string>

class iResource {
public:
    iResource(std::string name, ResourceType type) : mName(std::move(name)), mType(type) {}
    virtual ~iResource() = default;
    iResource(const iResource&) = default;
    iResource& operator=(const iResource&) = default;
    // No resource class gives this slot an effect.
    virtual void NoOp() {}

    std::string mName;
    ResourceType mType;
    int mUnused = 0;
};
