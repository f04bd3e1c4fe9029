#pragma once
// The simulator's module interface as this module and our host agree on it.
// The simulator finds a module through two exported data records, `Linkage`
// and `ImportTable`, made of machine words (pointer-sized here: the classic
// interface's 32-bit words widened for x86-64). It fills `ImportTable` with
// its own function table before it calls the module's init function.
//
// The simulator's function table is a row of words; the module uses the
// entries that sat at byte offsets 96..124, 144 and 160 of the 32-bit table,
// which are the word indices below.
#include <cstddef>
#include <cstdint>

namespace fsmodule {

using Word = std::uintptr_t;

// Words of the records.
inline constexpr std::size_t kLinkageWords = 8;
inline constexpr std::size_t kFunctionTableWords = 12;
inline constexpr std::size_t kImportTableWords = 4;
inline constexpr std::size_t kCallbackRecordWords = 9;

// Linkage: 0x13, init, deinit, 0, 0, 0x800, the module's function table, 0.
inline constexpr std::size_t kLinkageInit = 1;
inline constexpr std::size_t kLinkageDeinit = 2;
inline constexpr std::size_t kLinkageFunctionTable = 6;
// The module's function table: 0x320, name, context record, seven
// forwarders, 0, 1.
inline constexpr std::size_t kTableName = 1;
inline constexpr std::size_t kTableContext = 2;
inline constexpr std::size_t kTableFirstForward = 3;
inline constexpr std::size_t kForwardCount = 7;
// ImportTable: {0x0F, the simulator's table}, {0, 0}.
inline constexpr std::size_t kImportSimulatorTable = 1;

// Entries of the simulator's table (byte offset / 4 of the 32-bit table).
inline constexpr std::size_t kSimForward[kForwardCount] = {24, 25, 26, 27, 28, 29, 31};
inline constexpr std::size_t kSimSendEvent = 36; // offset 144
inline constexpr std::size_t kSimCallback = 40;  // offset 160
inline constexpr std::size_t kSimTableWords = 64;

// The forwarders that take two arguments (the second and fifth).
inline constexpr bool kForwardTakesTwo[kForwardCount] = {false, true, false, false, true, false, false};

// Signatures of the simulator's functions. Forwarded calls get the module's
// arguments and then the first word of the module's context record.
using SimForward1 = Word (*)(Word argument, Word context);
using SimForward2 = Word (*)(Word first, Word second, Word context);
using SimSendEvent = void (*)(std::uint32_t event, std::uint32_t value);
using SimCallback = void (*)(Word* block);

using ModuleInit = void (*)();
using ModuleDeinit = void (*)();
using ModuleForward1 = Word (*)(Word argument);
using ModuleForward2 = Word (*)(Word first, Word second);

// Simulator events the view thread sends.
enum : std::uint32_t {
    kEventB = 66503,
    kEventA = 66504,
    kEventC = 66505,
    kEventEUp = 66524,
    kEventEDown = 66525,
    kEventDDown = 66526,
    kEventDUp = 66527,
    kEventFDown = 66528,
    kEventFUp = 66529,
    kEventReset = 66530,
};

} // namespace fsmodule

// The module's exports.
#define FSMODULE_API extern "C" __attribute__((visibility("default")))

FSMODULE_API std::int32_t FSSetView(std::int32_t a, std::int32_t b);
FSMODULE_API std::int32_t FSSetViewEx(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                                      std::int32_t e, std::int32_t f);
FSMODULE_API std::int32_t FSSetCustomView(std::int32_t id, std::int32_t value);
FSMODULE_API std::int32_t FSResetView();

using FSSetView_t = std::int32_t (*)(std::int32_t, std::int32_t);
using FSSetViewEx_t = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                       std::int32_t);
using FSSetCustomView_t = std::int32_t (*)(std::int32_t, std::int32_t);
using FSResetView_t = std::int32_t (*)();
using FSModuleCallback_t = void (*)();
