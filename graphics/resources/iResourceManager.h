// A manager of one kind of resource: a map from name to the resource it owns, loaded on the device.
#pragma once

#include "iResource.h"

#include <string>
#include <unordered_map>

class iDevice;
class DXDevice;

// Which rendering interface resources are made for; 0, Direct3D 11, is the only one implemented.
using GraphicsAPI = int;

class iResourceManager {
public:
    using ResourceMap = std::unordered_map<std::string, iResource*>;

    virtual ~iResourceManager();
    virtual void Initialize(iDevice* device, GraphicsAPI api) = 0;
    // Loads the defaults of the kind.
    virtual void LoadResources() = 0;
    // Deletes every resource and loads the defaults again.
    virtual void ReloadResources();
    virtual iResource* GetResource(std::string name) = 0;
    virtual void LoadiResource(std::string name) = 0;
    // Deletes every resource and forgets the device; the manager is only destroyed after this.
    virtual void UnloadResources();

    const ResourceMap& Resources() const { return mResources; }
    // The map as Initialize and ReloadResources make it: empty, 8 buckets, load factor 1.
    static ResourceMap FreshMap();

protected:
    void DeleteAll();
    // The Direct3D device behind the manager's device; null when the device is not one.
    DXDevice* Direct3D() const;

    ResourceMap mResources;
    iDevice* mDevice = nullptr;
    GraphicsAPI mGraphicsAPI = 0;
};
