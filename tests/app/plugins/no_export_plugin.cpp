// A library that loads but lacks the plug-in export.
extern "C" __attribute__((visibility("default"))) int NotTheSystemExport() {
    return 1;
}
