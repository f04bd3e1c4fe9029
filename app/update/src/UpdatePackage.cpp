#include "app/UpdatePackage.h"

#include "app/UpdateService.h"

namespace {

std::uint32_t readLe32(std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void writeLe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

int ParsePackage(std::span<const std::uint8_t> data, std::vector<CPackageRecord>& records)
{
    records.clear();
    std::vector<CPackageRecord> found;
    bool formatSeen = false;
    std::size_t at = 0;
    while (at < data.size()) {
        if (data.size() - at < 8)
            return kErrorBadFormat; // header cut short
        const std::uint32_t type = readLe32(data.subspan(at, 4));
        const std::uint32_t length = readLe32(data.subspan(at + 4, 4));
        at += 8;
        if (length > data.size() - at)
            return kErrorBadFormat; // data cut short or a wrong length
        const auto body = data.subspan(at, length);
        at += length;
        if (type == kRecordFormat) {
            if (body.size() < 4 || readLe32(body) != kPackageFormatWord)
                return kErrorBadFormat;
            formatSeen = true;
        }
        found.push_back(CPackageRecord{type, body});
    }
    if (!formatSeen)
        return kErrorBadFormat;
    records = std::move(found);
    return kUpdateOk;
}

std::vector<std::uint8_t> MakePackage(const std::vector<CPackageRecord>& records)
{
    std::vector<std::uint8_t> out;
    writeLe32(out, kRecordFormat);
    writeLe32(out, 4);
    writeLe32(out, kPackageFormatWord);
    for (const auto& record : records) {
        writeLe32(out, record.type);
        writeLe32(out, static_cast<std::uint32_t>(record.data.size()));
        out.insert(out.end(), record.data.begin(), record.data.end());
    }
    return out;
}
