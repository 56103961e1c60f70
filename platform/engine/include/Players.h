// Player objects by name, and named groups of objects.
#pragma once

#include "Object.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Players {
public:
    // The object of that name ("Player1", ...); empty when there is none.
    static std::weak_ptr<Object> GetPlayer(const std::string& objectName);
};

class Group {
public:
    explicit Group(const std::string& name) : mName(name) {}
    const std::string& GetName() const { return mName; }
    // An id already in the group is not added twice.
    void AddToGroup(std::uint32_t objectId);
    const std::vector<std::uint32_t>& GetMembers() const { return mMembers; }

private:
    std::string mName;
    std::vector<std::uint32_t> mMembers;
};
