#include <core/PacketFifo.h>

#include "../support/TestBytes.h"

#include <veloran/UniqueHandle.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

constexpr int kChunk = 64;

// Pops until less than a chunk is left: the label of every chunk.
std::vector<int> Drain(CPacketFifo& fifo)
{
    std::vector<int> labels;
    std::vector<uint8_t> chunk(kChunk);
    while (fifo.Pop(chunk.data()) == kChunk) labels.push_back(Label(chunk));
    return labels;
}

TEST(PacketFifo, OverflowDropsTheNewestStoredBytes)
{
    CPacketFifo fifo(kChunk, kChunk, nullptr);
    int overflow = -1;
    EXPECT_EQ(fifo.Push(Labelled(0, 8, kChunk).data(), 8 * kChunk, &overflow), 1);
    EXPECT_EQ(overflow, 0);
    EXPECT_EQ(fifo.Push(Labelled(8, 3, kChunk).data(), 3 * kChunk, &overflow), 1);
    EXPECT_EQ(overflow, 1);
    EXPECT_EQ(Drain(fifo), (std::vector<int>{0, 1, 2, 3, 4, 8, 9, 10}));

    // A push longer than the whole FIFO keeps its newest ten chunks.
    EXPECT_EQ(fifo.Push(Labelled(20, 13, kChunk).data(), 13 * kChunk, &overflow), 1);
    EXPECT_EQ(Drain(fifo), (std::vector<int>{23, 24, 25, 26, 27, 28, 29, 30, 31, 32}));
    EXPECT_FALSE(CPacketFifo(0, 0, nullptr).valid());
}

TEST(PacketFifo, NotifyIsSetByStoredOrTakenChunksAndResetByAShortPop)
{
    UniqueHandle notify(CreateEventW(nullptr, TRUE, FALSE, nullptr));  // manual reset: its state can be read
    auto signalled = [&] { return WaitForSingleObject(notify.get(), 0) == WAIT_OBJECT_0; };
    CPacketFifo fifo(kChunk / 2, kChunk, notify.get());
    const auto bytes = Labelled(1, 2, kChunk);
    EXPECT_EQ(fifo.Push(bytes.data(), kChunk / 2), 0);
    EXPECT_FALSE(signalled());
    EXPECT_EQ(fifo.Push(bytes.data() + kChunk / 2, kChunk), 1);
    EXPECT_TRUE(signalled());

    ResetEvent(notify.get());
    std::vector<uint8_t> out(kChunk);
    EXPECT_EQ(fifo.Pop(out.data()), kChunk);
    EXPECT_TRUE(signalled());
    out.assign(kChunk, 0xEE);
    EXPECT_EQ(fifo.Pop(out.data()), 0);  // half a chunk is left
    EXPECT_FALSE(signalled());
    EXPECT_EQ(Label(out), 0xEE);

    fifo.Push(bytes.data(), kChunk);
    fifo.Clear();
    EXPECT_EQ(fifo.Pop(out.data()), 0);
}

TEST(PacketFifo, PushesSignalNotifyOnceAfterEachShortPop)
{
    UniqueHandle notify(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto signalled = [&] { return WaitForSingleObject(notify.get(), 0) == WAIT_OBJECT_0; };
    CPacketFifo fifo(kChunk, kChunk, notify.get());
    const auto bytes = Labelled(1, 2, kChunk);
    fifo.Push(bytes.data(), kChunk);
    EXPECT_TRUE(signalled());
    ResetEvent(notify.get());  // taken, as a waiter takes an auto-reset event
    fifo.Push(bytes.data() + kChunk, kChunk);
    EXPECT_FALSE(signalled());  // the consumer pops before it sleeps again

    EXPECT_EQ(Drain(fifo), (std::vector<int>{1, 2}));
    EXPECT_FALSE(signalled());
    fifo.Push(bytes.data(), kChunk / 2);
    EXPECT_FALSE(signalled());
    fifo.Push(bytes.data() + kChunk / 2, kChunk / 2);
    EXPECT_TRUE(signalled());  // the first chunk after the short pop wakes the sleeper
}

TEST(PacketFifo, ProducerAndConsumerThreadsPassACountedSequenceIntact)
{
    constexpr int kChunkBytes = 96;
    constexpr int64_t kTotal = int64_t(kChunkBytes) * 5000;
    UniqueHandle notify(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    CPacketFifo fifo(kChunkBytes, kChunkBytes, notify.get());
    std::atomic<int64_t> popped{0};
    int overflows = 0;
    std::thread producer([&] {
        uint8_t block[3 * kChunkBytes];
        for (int64_t pushed = 0, i = 0; pushed < kTotal; ++i) {
            const int n = int(std::min<int64_t>(1 + i * 37 % (3 * kChunkBytes), kTotal - pushed));
            // Stay clear of the overwrite rule, which drops bytes on purpose.
            while (pushed - popped + n >= fifo.capacity()) std::this_thread::yield();
            for (int k = 0; k < n; ++k) block[k] = CountedByte(pushed + k);
            int overflow = 0;
            fifo.Push(block, n, &overflow);
            overflows += overflow;
            pushed += n;
        }
    });

    int64_t wrong = 0;
    uint8_t chunk[kChunkBytes];
    while (popped < kTotal) {
        if (!fifo.Pop(chunk)) {
            WaitForSingleObject(notify.get(), INFINITE);  // a lost wake-up hangs here
            continue;
        }
        for (int k = 0; k < kChunkBytes; ++k) wrong += chunk[k] != CountedByte(popped + k);
        popped += kChunkBytes;
    }
    producer.join();
    EXPECT_EQ(overflows, 0);
    EXPECT_EQ(wrong, 0);
}

}  // namespace
