#include "fsmodule/sim_host.h"

#include <dlfcn.h>

namespace fsmodule {

SimulatorHost::~SimulatorHost()
{
    Deinit();
    if (handle_ != nullptr)
        ::dlclose(handle_);
}

bool SimulatorHost::Load(const std::filesystem::path& file)
{
    handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* e = ::dlerror();
        error_ = e != nullptr ? e : "cannot load";
        return false;
    }
    linkage_ = static_cast<Word*>(::dlsym(handle_, "Linkage"));
    importTable_ = static_cast<Word*>(::dlsym(handle_, "ImportTable"));
    if (linkage_ == nullptr || importTable_ == nullptr) {
        error_ = "no module records";
        return false;
    }
    importTable_[kImportSimulatorTable] = reinterpret_cast<Word>(table_.data());
    return true;
}

void SimulatorHost::Init()
{
    if (linkage_ == nullptr || initialised_)
        return;
    reinterpret_cast<ModuleInit>(linkage_[kLinkageInit])();
    initialised_ = true;
}

void SimulatorHost::Deinit()
{
    if (!initialised_)
        return;
    reinterpret_cast<ModuleDeinit>(linkage_[kLinkageDeinit])();
    initialised_ = false;
}

const Word* SimulatorHost::functionTable() const
{
    return linkage_ != nullptr ? reinterpret_cast<const Word*>(linkage_[kLinkageFunctionTable]) : nullptr;
}

void* SimulatorHost::symbol(const char* name) const { return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr; }

Word SimulatorHost::Forward(std::size_t index, Word first, Word second) const
{
    const Word fn = functionTable()[kTableFirstForward + index];
    if (kForwardTakesTwo[index])
        return reinterpret_cast<ModuleForward2>(fn)(first, second);
    return reinterpret_cast<ModuleForward1>(fn)(first);
}

} // namespace fsmodule
