// The handle ring: rotation on lookup, removal at the head, and the handles it draws.

#include <gtest/gtest.h>

#include <vector>

#include "api/SdkChain.h"
#include "camera/Tovira.h"

namespace {

CSDKDATA Entry(int handle) {
    CSDKDATA e;
    e.hCamera = handle;
    return e;
}

std::vector<int> Forward(const CSdkChain& ring) {
    std::vector<int> order;
    const auto* node = ring.Head();
    for (int i = 0; node && i < ring.Count(); ++i, node = node->next) order.push_back(static_cast<int>(node->data.hCamera));
    return order;
}

std::vector<int> Backward(const CSdkChain& ring) {
    std::vector<int> order;
    const auto* node = ring.Head();
    for (int i = 0; node && i < ring.Count(); ++i, node = node->prev) order.push_back(static_cast<int>(node->data.hCamera));
    return order;
}

TEST(HandleRing, NewestEntryIsTheHeadAndLookupRotates) {
    CSdkChain ring;
    EXPECT_EQ(ring.Find(1), 0);
    EXPECT_EQ(ring.RemoveCurrent(), 0);
    ring.Add(Entry(1));
    EXPECT_EQ(ring.Head()->next, ring.Head());
    EXPECT_EQ(ring.Head()->prev, ring.Head());
    ring.Add(Entry(2));
    ring.Add(Entry(3));
    EXPECT_EQ(Forward(ring), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(Backward(ring), (std::vector<int>{3, 1, 2}));

    // Finding the first walks third, second, first and leaves the order first, third, second.
    EXPECT_EQ(ring.Find(1), 1);
    EXPECT_EQ(Forward(ring), (std::vector<int>{1, 3, 2}));
    // A found head needs no walk.
    EXPECT_EQ(ring.Find(1), 1);
    EXPECT_EQ(Forward(ring), (std::vector<int>{1, 3, 2}));
}

TEST(HandleRing, FailedLookupLeavesHeadOnOldTail) {
    CSdkChain ring;
    ring.Add(Entry(1));
    ring.Add(Entry(2));
    ring.Add(Entry(3));
    EXPECT_EQ(ring.Find(99), 0);
    EXPECT_EQ(static_cast<int>(ring.Head()->data.hCamera), 1);
    EXPECT_EQ(Forward(ring), (std::vector<int>{1, 3, 2}));
    EXPECT_EQ(ring.Count(), 3);
}

TEST(HandleRing, OnlyTheLow32BitsOfTheSlotCompare) {
    CSdkChain ring;
    CSDKDATA e;
    e.hCamera = (int64_t{5} << 32) | 42;
    ring.Add(e);
    EXPECT_EQ(ring.Find(42), 1);
}

TEST(HandleRing, RemovingTheMiddleRelinksItsNeighbours) {
    CSdkChain ring;
    ring.Add(Entry(1));
    ring.Add(Entry(2));
    ring.Add(Entry(3));
    // The lookup brings the second to the head (order 2, 1, 3); removal takes it and the first follows.
    EXPECT_EQ(ring.Delete(2), 1);
    EXPECT_EQ(ring.Count(), 2);
    EXPECT_EQ(Forward(ring), (std::vector<int>{1, 3}));
    EXPECT_EQ(ring.Head()->next->next, ring.Head());
    EXPECT_EQ(ring.Head()->prev->prev, ring.Head());
    EXPECT_EQ(ring.Find(2), 0);
    EXPECT_EQ(ring.Delete(2), 0);
    EXPECT_EQ(ring.Delete(3), 1);
    EXPECT_EQ(ring.Delete(1), 1);
    EXPECT_EQ(ring.Count(), 0);
    EXPECT_EQ(ring.Head(), nullptr);
}

TEST(HandleRegistry, CreateDrawsDistinctNonzeroHandlesAndReleaseForgetsThem) {
    CSdkChain chain;
    std::vector<int> handles;
    for (int i = 0; i < 3; ++i) {
        const int h = chain.CreateInstance();
        ASSERT_NE(h, 0);
        for (int other : handles) EXPECT_NE(h, other);
        handles.push_back(h);
    }
    EXPECT_EQ(chain.Count(), 3);
    EXPECT_EQ(Forward(chain), (std::vector<int>{handles[2], handles[1], handles[0]}));

    CSDKDATA entry;
    ASSERT_TRUE(chain.GetEntry(handles[1], &entry));
    ASSERT_NE(entry.pCamera, nullptr);

    bool found = false;
    std::shared_ptr<CTovira> camera = chain.Release(handles[1], &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(camera, entry.pCamera);
    // The entry copy shares the instance: it outlives the registry's share.
    EXPECT_EQ(camera.use_count(), 2);
    camera.reset();
    entry.pCamera.reset();
    EXPECT_FALSE(chain.GetEntry(handles[1], &entry));
    EXPECT_EQ(chain.Release(handles[1], &found), nullptr);
    EXPECT_FALSE(found);
    EXPECT_EQ(chain.Count(), 2);

    for (int h : {handles[0], handles[2]}) {
        std::shared_ptr<CTovira> c = chain.Release(h, &found);
        EXPECT_TRUE(found);
        EXPECT_EQ(c.use_count(), 1);
    }
    EXPECT_EQ(chain.Count(), 0);
}

}  // namespace
