#pragma once
// Files read whole, with a bound: outside data (catalogues, scenes, meshes,
// images) is refused before it is read when it is far larger than any real
// file of its kind, so that a damaged or hostile file costs a clear error,
// not the program's memory.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace platform::files {

// Reads the regular file `file` whole into `bytes` when it holds at most
// `maxBytes`. False with the reason in `error` (naming the file, and for one
// too large its size and the bound) otherwise; `bytes` is then empty. A file
// that grows while it is read is refused too.
bool ReadFileLimited(const std::filesystem::path& file, std::size_t maxBytes, std::vector<std::uint8_t>& bytes,
                     std::string& error);

} // namespace platform::files
