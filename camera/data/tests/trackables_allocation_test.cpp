// The frame road allocates nothing: matching, scoring and ranking a frame of
// up to the object limit make no heap allocation once the collection is built.
#include <gtest/gtest.h>

#include <deque>

#include "blob_frames.h"
#include "camera/settings.h"
#include "camera/trackables.h"
#include "testing/heap_counter.h"

TEST(TrackablesAllocation, ProcessingFramesAllocatesNothing)
{
    for (int blobs : {3, 50, Orvane::Settings::MaxNumberOfObjects_}) {
        SCOPED_TRACE(blobs);
        // Markers only, so the trackables stay as many as the blobs.
        testing_support::BlobFrames scene(3, blobs, false, 0.0);
        std::deque<Orvane::Frame> frames(20);
        for (Orvane::Frame& f : frames)
            scene.Next(f);
        Orvane::TrackableCollection collection;
        Orvane::TrackableCollection::CoordBuffer coords(4);
        collection.SetTrackedCoordBuffer(&coords);
        testing_support::HeapCounter heap;
        for (Orvane::Frame& f : frames) {
            collection.Process(f);
            if (auto* pair = coords.TakeFilled())
                coords.GiveBack(pair);
        }
        EXPECT_EQ(heap.Count(), 0);
        EXPECT_TRUE(collection.IsTracking());
    }
}
