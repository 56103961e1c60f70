// Named collision groups and the table of which groups may collide. Group ids are row numbers of
// this registry's table: the n-th group registered here gets id n, "DEFAULT" being group 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class CollisionGroupRegistry {
public:
    static constexpr const char* kDefaultGroupName = "DEFAULT";
    static constexpr std::uint32_t kDefaultGroupId = 0;

    // Only "DEFAULT", which collides with itself.
    CollisionGroupRegistry();

    // The id of a registered name; an unknown name gives the default group.
    std::uint32_t GetGroupId(const std::string& name) const;
    // A new group collides with every earlier group, both ways, exactly when `collides`, and never
    // with itself. A name that is already registered (including "DEFAULT") is refused with a
    // console line.
    void RegisterCollisionGroup(bool collides, const std::string& name);
    // Sets both (first, second) and (second, first). An id without a row is refused with a
    // console line.
    void SetGroupsCollide(std::uint32_t first, std::uint32_t second, bool collides);
    // An id without a row (a collider given a number this registry never handed out) collides
    // with nothing.
    bool DoGroupsCollide(std::uint32_t first, std::uint32_t second) const;

    std::size_t GetGroupCount() const { return mCollides.size(); }

private:
    std::unordered_map<std::string, std::uint32_t> mIdsByName;
    // Square and symmetric; row i, column j: may group i collide with group j.
    std::vector<std::vector<bool>> mCollides;
};
