// Exports its entry the way the game's plug-in systems do.
extern "C" __attribute__((visibility("default"))) int ExpSystem() {
    return 42;
}
