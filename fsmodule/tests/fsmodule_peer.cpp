// Another process that calls the module's view exports: loads the module
// given as the first argument and calls FSSetView with the next two.
// Prints the result.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "fsmodule/module_interface.h"

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    void* module = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        return 3;
    auto setView = reinterpret_cast<FSSetView_t>(::dlsym(module, "FSSetView"));
    if (setView == nullptr)
        return 4;
    std::printf("%d\n", setView(std::atoi(argv[2]), std::atoi(argv[3])));
    ::dlclose(module);
    return 0;
}
