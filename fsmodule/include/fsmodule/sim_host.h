#pragma once
// The simulator's side of the module interface: loads a module by file,
// finds its `Linkage` and `ImportTable`, fills the import table with the
// simulator's function table and calls the module's init and deinit.
#include <array>
#include <filesystem>
#include <string>

#include "fsmodule/module_interface.h"

namespace fsmodule {

class SimulatorHost {
public:
    using Table = std::array<Word, kSimTableWords>;

    // `table` must outlive the host; the module keeps a pointer to it.
    explicit SimulatorHost(const Table& table) : table_(table) {}
    ~SimulatorHost();
    SimulatorHost(const SimulatorHost&) = delete;
    SimulatorHost& operator=(const SimulatorHost&) = delete;

    // Loads the module and fills its import table; false (with error())
    // when it cannot be loaded or lacks the records.
    bool Load(const std::filesystem::path& file);
    const std::string& error() const { return error_; }

    void Init();   // the module's init function through Linkage
    void Deinit(); // and its deinit; also run by the destructor after Init

    // The records as the module exports them.
    const Word* linkage() const { return linkage_; }
    const Word* functionTable() const;
    void* symbol(const char* name) const;

    // Calls the module's forwarder `index` (0..6) as the simulator would.
    Word Forward(std::size_t index, Word first, Word second = 0) const;

private:
    const Table& table_;
    void* handle_ = nullptr;
    Word* linkage_ = nullptr;
    Word* importTable_ = nullptr;
    bool initialised_ = false;
    std::string error_;
};

} // namespace fsmodule
