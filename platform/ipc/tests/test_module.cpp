extern "C" __attribute__((visibility("default"))) int testModuleAnswer() { return 42; }
