#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/x11/x11_key_queue.h"

namespace {

using Pair = std::pair<std::uint32_t, std::uint32_t>;

std::vector<Pair> popAll(X11KeyQueue& queue)
{
    std::vector<Pair> pairs;
    std::uint32_t message = 0;
    std::uint32_t vk = 0;
    while (queue.pop(message, vk))
        pairs.emplace_back(message, vk);
    return pairs;
}

} // namespace

TEST(X11KeyQueue, KeepsOrderAndWrapsAround)
{
    X11KeyQueue queue;
    for (int round = 0; round < 3; ++round) {
        for (std::uint32_t i = 0; i < X11KeyQueue::kCapacity / 2; ++i)
            ASSERT_TRUE(queue.push(i % 2 ? kWmKeyUp : kWmSysKeyDown, 37 + i % 4));
        const std::vector<Pair> pairs = popAll(queue);
        ASSERT_EQ(pairs.size(), X11KeyQueue::kCapacity / 2);
        EXPECT_EQ(pairs[0], Pair(kWmSysKeyDown, 37));
        EXPECT_EQ(pairs[1], Pair(kWmKeyUp, 38));
        EXPECT_EQ(pairs.back(), Pair(kWmKeyUp, 40));
    }
}

// A consumer that stops draining: the producer is never blocked, and every press that got in
// still gets its release in, whatever else was refused.
TEST(X11KeyQueue, WhenFullKeepsRoomForTheReleaseOfEveryQueuedPress)
{
    X11KeyQueue queue;
    for (std::uint32_t vk : {37u, 38u, 39u, 40u, 13u})
        ASSERT_TRUE(queue.push(kWmKeyDown, vk));
    // Auto-repeat fills it up to the room kept back.
    while (queue.push(kWmKeyDown, 39)) {
    }
    EXPECT_FALSE(queue.push(kWmKeyDown, 13));
    EXPECT_FALSE(queue.push(kWmSysKeyDown, 37));
    // Each queued press's release is owed and gets in, under Alt too; a second release of the
    // same key is not owed.
    EXPECT_TRUE(queue.push(kWmKeyUp, 38));
    EXPECT_FALSE(queue.push(kWmKeyUp, 38));
    EXPECT_TRUE(queue.push(kWmSysKeyUp, 13));
    for (std::uint32_t vk : {37u, 39u, 40u})
        EXPECT_TRUE(queue.push(kWmKeyUp, vk)) << vk;

    const std::vector<Pair> pairs = popAll(queue);
    EXPECT_EQ(pairs.size(), X11KeyQueue::kCapacity);
    const std::vector<Pair> tail(pairs.end() - 5, pairs.end());
    EXPECT_EQ(tail, (std::vector<Pair>{{kWmKeyUp, 38}, {kWmSysKeyUp, 13}, {kWmKeyUp, 37}, {kWmKeyUp, 39},
                                       {kWmKeyUp, 40}}));
    EXPECT_EQ(pairs[5], Pair(kWmKeyDown, 39));
    // Drained: presses get in again.
    EXPECT_TRUE(queue.push(kWmKeyDown, 13));
}

// A consumer that stalls while an arrow repeats: a fresh press that comes meanwhile still gets
// in, and one that finds no room for its release too is dropped along with that release.
TEST(X11KeyQueue, WhenFullAFreshPressGetsInOrGoesWithItsRelease)
{
    X11KeyQueue queue;
    while (queue.push(kWmKeyDown, 39)) {
    }
    EXPECT_TRUE(queue.push(kWmKeyDown, 13)) << "a click during the repeats";
    EXPECT_TRUE(queue.push(kWmKeyUp, 13));
    EXPECT_TRUE(queue.push(kWmKeyDown, 37));
    EXPECT_FALSE(queue.push(kWmKeyDown, 38)) << "no room left for its release";
    EXPECT_FALSE(queue.push(kWmKeyDown, 40));
    // The consumer catches up a little: Up's release goes the way of its press, and a repeat
    // of the still held Down starts its hold after all.
    std::uint32_t message = 0;
    std::uint32_t vk = 0;
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(queue.pop(message, vk));
    EXPECT_FALSE(queue.push(kWmKeyUp, 38));
    EXPECT_TRUE(queue.push(kWmKeyDown, 40));
    EXPECT_TRUE(queue.push(kWmKeyUp, 40));

    const std::vector<Pair> pairs = popAll(queue);
    const std::vector<Pair> tail(pairs.end() - 5, pairs.end());
    EXPECT_EQ(tail, (std::vector<Pair>{{kWmKeyDown, 13}, {kWmKeyUp, 13}, {kWmKeyDown, 37}, {kWmKeyDown, 40},
                                       {kWmKeyUp, 40}}));
}
