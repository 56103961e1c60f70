#include "CollisionGroupRegistry.h"

#include <cstdio>

CollisionGroupRegistry::CollisionGroupRegistry() {
    mIdsByName.emplace(kDefaultGroupName, kDefaultGroupId);
    mCollides.push_back(std::vector<bool>{true});
}

std::uint32_t CollisionGroupRegistry::GetGroupId(const std::string& name) const {
    auto found = mIdsByName.find(name);
    return found == mIdsByName.end() ? kDefaultGroupId : found->second;
}

void CollisionGroupRegistry::RegisterCollisionGroup(bool collides, const std::string& name) {
    auto found = mIdsByName.find(name);
    if (found != mIdsByName.end()) {
        std::printf("Attempting to register Collision Group %s that already exists with ID %i\n",
                    name.c_str(), static_cast<int>(found->second));
        return;
    }
    // The id is this registry's next row, so every id it hands out indexes its own table.
    const auto id = static_cast<std::uint32_t>(mCollides.size());
    mIdsByName.emplace(name, id);
    for (auto& row : mCollides)
        row.push_back(collides);
    mCollides.emplace_back(mCollides.size() + 1, collides);
    mCollides.back().back() = false;
}

void CollisionGroupRegistry::SetGroupsCollide(std::uint32_t first, std::uint32_t second, bool collides) {
    if (first >= mCollides.size() || second >= mCollides.size()) {
        std::printf("Physics: no collision groups %u and %u to pair (%zu registered)\n", first, second,
                    mCollides.size());
        return;
    }
    mCollides[second][first] = collides;
    mCollides[first][second] = collides;
}

bool CollisionGroupRegistry::DoGroupsCollide(std::uint32_t first, std::uint32_t second) const {
    if (first >= mCollides.size() || second >= mCollides.size()) return false;
    return mCollides[first][second];
}
