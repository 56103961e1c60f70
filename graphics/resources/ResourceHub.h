// The resource hub: routes load requests by type to the model, texture and shader managers.
// Until the managers exist it keeps the requests it was given, in order, and loads nothing.
#pragma once

#include <Messages.h>

#include <string>
#include <utility>
#include <vector>

class iDevice;

// Which rendering interface resources are made for; 0, Direct3D 11, is the only one implemented.
using GraphicsAPI = int;

class ResourceHub {
public:
    ResourceHub(iDevice* device, GraphicsAPI api);

    void LoadResource(const std::string& name, ResourceType type);

    const std::vector<std::pair<std::string, ResourceType>>& Requests() const { return mRequests; }

private:
    std::vector<std::pair<std::string, ResourceType>> mRequests;
};
