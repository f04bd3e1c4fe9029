#pragma once
// The downloaded package: records of {u32 LE type, u32 LE length n, n bytes}
// up to the end of the data. Every record is checked before anything is used.
#include <cstdint>
#include <span>
#include <vector>

inline constexpr std::uint32_t kRecordFormat = 1;             // first 4 bytes: format word 1
inline constexpr std::uint32_t kRecordGameList = 2;           // "sgl.dat"
inline constexpr std::uint32_t kRecordGameListSignature = 3;  // "sgl.sig"
inline constexpr std::uint32_t kRecordViews = 4;              // "VSLViews.dll"
inline constexpr std::uint32_t kRecordViewsInGame = 5;        // "VSLViewsi.dll"
// Detached signatures (catalogue key) of the two view-library files: code
// fetched over plain HTTP is only installed when it is signed.
inline constexpr std::uint32_t kRecordViewsSignature = 6;
inline constexpr std::uint32_t kRecordViewsInGameSignature = 7;

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
