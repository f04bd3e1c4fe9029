// Any bytes as a pose recording: the reader opens or refuses it, and plays
// only records whose values are numbers, until the end of the file.
#include "engine/pose_file.h"

#include "testing/fuzz_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static testing_support::FuzzFile file;
    file.Write(data, size);
    CPoseFileReader reader;
    if (reader.Open(file.Path()) != 0)
        return 0;
    PoseRecord record;
    std::uint32_t error = 0;
    std::uint32_t previous = 0;
    std::size_t played = 0;
    while (reader.Next(record, error) == CPoseFileReader::Read::Record) {
        if (!IsPlayable(record) || played > size / kPoseRecordSize)
            std::abort();
        if (PlaybackDelay(previous, record.tick, 1000) > 1000)
            std::abort();
        previous = record.tick;
        ++played;
    }
    if (error != 0)
        std::abort();
    return 0;
}
