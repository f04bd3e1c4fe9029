#pragma once
// Makes a catalogue: enciphers the plain XML with the pass phrase and signs
// the enciphered bytes with a private key blob. Both files are written under
// temporary names in their folders and renamed into place when complete.
#include <cstdint>
#include <filesystem>
#include <span>

#include "profiles/GameList.h"

// 0; 3 when the key blob is not a usable private key or signing fails;
// 6 when an output file cannot be written.
int MakeCatalogue(std::span<const std::uint8_t> plainXml, std::span<const std::uint8_t> privateKeyBlob,
                  const std::filesystem::path& dataPath, const std::filesystem::path& signaturePath,
                  const char* passPhrase = kCataloguePassPhrase);

// Writes bytes to path through a temporary file in the same folder; false on failure.
bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
