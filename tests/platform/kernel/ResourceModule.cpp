// A module that carries resources, for the module and resource tests.
extern "C" __attribute__((visibility("default"))) int ResourceModuleAnswer() { return 42; }
