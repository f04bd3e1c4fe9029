// Any bytes as a reply of the update and news service, chosen by the first
// byte: the update reply, the news reply, the update package; the version
// text of a reply goes through the version comparison too.
#include "app/UpdatePackage.h"
#include "app/UpdateService.h"

#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0: {
        CUpdateReply reply;
        if (ParseUpdateReply(rest, reply) == 0) {
            if (CompareVersions(reply.MinimumSoftwareVersion, reply.MinimumSoftwareVersion) != 0)
                std::abort();
            (void)CompareVersions(reply.MinimumSoftwareVersion, "4.1.037");
        }
        break;
    }
    case 1: {
        CNewsReply reply;
        (void)ParseNewsReply(rest, reply);
        break;
    }
    default: {
        std::vector<CPackageRecord> records;
        if (ParsePackage(rest, records) == 0)
            for (const CPackageRecord& r : records)
                if (r.data.data() < rest.data() || r.data.data() + r.data.size() > rest.data() + rest.size())
                    std::abort();
        break;
    }
    }
    return 0;
}
