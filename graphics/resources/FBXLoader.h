// What the model manager asks of its FBX importer: SDK objects made ahead of an import, and one model
// read from a file. The importer itself is installed by the FBX layer; tests install fakes.
#pragma once

#include <functional>
#include <memory>
#include <string>

class DXDevice;
class Model;

class FBXLoader {
public:
    virtual ~FBXLoader() = default;
    virtual void CreateFBXManager() = 0;
    // A new model, or null when the file cannot be imported.
    virtual Model* LoadFBX(const std::string& file, const std::string& name, DXDevice* device) = 0;

    // Makes the loader a model manager owns; while none is installed there is no importer, and every
    // model file fails to load.
    using Factory = std::function<std::unique_ptr<FBXLoader>()>;
    static void SetFactory(Factory factory);
    static std::unique_ptr<FBXLoader> Make();
};
