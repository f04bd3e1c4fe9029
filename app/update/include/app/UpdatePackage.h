#pragma once
// The downloaded package: records of {u32 LE type, u32 LE length n, n bytes}
// up to the end of the data. Every record is checked before anything is used.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

inline constexpr std::uint32_t kRecordFormat = 1;             // first 4 bytes: format word 1
inline constexpr std::uint32_t kRecordGameList = 2;           // "sgl.dat"
inline constexpr std::uint32_t kRecordGameListSignature = 3;  // "sgl.sig"
inline constexpr std::uint32_t kRecordViews = 4;              // "VSLViews.dll"
inline constexpr std::uint32_t kRecordViewsInGame = 5;        // "VSLViewsi.dll"
// Package signatures (below) of the two view-library files: code fetched
// over plain HTTP is only installed when it is signed.
inline constexpr std::uint32_t kRecordViewsSignature = 6;
inline constexpr std::uint32_t kRecordViewsInGameSignature = 7;
// The package signature of the catalogue data. Record 3 stays the plain
// signature the catalogue loader checks at every start.
inline constexpr std::uint32_t kRecordGameListPackageSignature = 8;

inline constexpr std::uint32_t kPackageFormatWord = 1;

struct CPackageRecord {
    std::uint32_t type = 0;
    std::span<const std::uint8_t> data;
};

// 0 with the records; 13 when a header or a length runs past the end of the
// data, or the format record is missing, shorter than 4 bytes or not 1.
int ParsePackage(std::span<const std::uint8_t> data, std::vector<CPackageRecord>& records);

// Builds a package (format record first), for the signing tool and tests.
std::vector<std::uint8_t> MakePackage(const std::vector<CPackageRecord>& records);

// Package signatures. Each kind of file is signed over its own tag, so a
// signature of one kind never stands for another, and over the package's
// version, so the version that decides "newer" is the maker's. A signature
// record holds that version (u32 LE) and then the signature (catalogue key,
// PKCS#1 v1.5 over MD5, in the catalogue signature's byte order) over the
// kind's tag with its terminating zero, the version (u32 LE) and the file.
enum class CPackageKind { GameList, ViewLibrary, ViewLibraryInGame };

std::string_view PackageKindTag(CPackageKind kind);

// The signed version when `record` is a valid signature of `file` as
// `kind` under the public key blob; nullopt otherwise.
std::optional<std::uint32_t> VerifyPackageFile(CPackageKind kind, std::span<const std::uint8_t> file,
                                               std::span<const std::uint8_t> record,
                                               std::span<const std::uint8_t> publicKeyBlob);

// A signature record of `file` as `kind` at `version` (for the signing tool
// and tests); empty when the private key blob is unusable.
std::vector<std::uint8_t> SignPackageFile(CPackageKind kind, std::uint32_t version, std::span<const std::uint8_t> file,
                                          std::span<const std::uint8_t> privateKeyBlob);
