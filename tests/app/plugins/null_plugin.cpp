// A plug-in whose export gives no system.
class System;
extern "C" __attribute__((visibility("default"))) System* ExpSystem() {
    return nullptr;
}
