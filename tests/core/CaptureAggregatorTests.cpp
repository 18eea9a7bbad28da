#include <core/CaptureAggregator.h>
#include <core/PacketFifo.h>

#include "../support/AllocationCounter.h"
#include "../support/TestBytes.h"

#include <veloran/UniqueHandle.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace {

constexpr int kNominal = 256;

std::vector<uint8_t> Packet(int label, int bytes = kNominal) { return std::vector<uint8_t>(bytes, uint8_t(label)); }

class CaptureAggregatorTest : public ::testing::Test {
protected:
    struct Taken {
        int size;
        std::vector<uint8_t> bytes;  // the first kNominal of the block
    };

    CaptureAggregatorTest() { std::fill_n(sizes_, kCaptureBlockCount + 1, -7); }

    // The fixture rides in the owner pointer, which the aggregator only passes along.
    static void OnBatch(const uint8_t* blocks, const int* sizes, int count, const int* ports, double, CMordane* owner)
    {
        auto& self = *reinterpret_cast<CaptureAggregatorTest*>(owner);
        ++self.batches_;
        self.ports_.assign(ports, ports + count);
        for (int i = 0; i < count; ++i) {
            const uint8_t* block = blocks + size_t(i) * kCaptureBlockBytes;
            self.taken_[i].push_back({sizes[i], std::vector<uint8_t>(block, block + kNominal)});
            self.consumed_[i] += sizes[i];
        }
    }

    int Register(int stream, int nominal = kNominal)
    {
        return aggregator_.RegisterSource(&streams_[stream], kNominal, nominal);
    }
    bool Deliver(int stream, const std::vector<uint8_t>& bytes)
    {
        return aggregator_.DeliverSource(&streams_[stream], bytes.data(), int(bytes.size()));
    }
    std::vector<int> Labels(int source) const
    {
        std::vector<int> labels;
        for (const Taken& t : taken_[source]) labels.push_back(Label(t.bytes));
        return labels;
    }

    // One spare block and size past the driver's sixteen show any write beyond them.
    std::vector<uint8_t> blocks_ = std::vector<uint8_t>(size_t(kCaptureBlockCount + 1) * kCaptureBlockBytes, 0xEE);
    int sizes_[kCaptureBlockCount + 1];
    CCaptureAggregator aggregator_{&OnBatch, reinterpret_cast<CMordane*>(this), blocks_.data(), sizes_};
    int streams_[kCaptureBlockCount + 1] = {};  // their addresses stand for stream contexts
    int batches_ = 0;
    std::vector<int> ports_;
    std::vector<Taken> taken_[kCaptureBlockCount];
    std::atomic<int64_t> consumed_[kCaptureBlockCount] = {};
};

TEST_F(CaptureAggregatorTest, DeliveryForAnUnregisteredStreamChangesNothing)
{
    Register(0);
    Register(1);
    EXPECT_TRUE(Deliver(0, Packet(1)));
    EXPECT_FALSE(Deliver(2, Packet(9)));
    EXPECT_TRUE(Deliver(1, Packet(2)));
    EXPECT_TRUE(Deliver(1, Packet(3)));  // source 0 is empty again: no second batch
    EXPECT_EQ(batches_, 1);
    EXPECT_EQ(Labels(0), (std::vector<int>{1}));
    EXPECT_EQ(Labels(1), (std::vector<int>{2}));
}

// A source in the middle that ends on its own takes its port along: the ports after it keep
// their own packets.
TEST_F(CaptureAggregatorTest, ASourceEndingInTheMiddleTakesItsPortAlong)
{
    for (int s = 0; s < 3; ++s) {
        Register(s);
        aggregator_.AddPort(10 + s);
    }
    EXPECT_EQ(aggregator_.UnregisterSource(&streams_[1]), 1);
    EXPECT_EQ(aggregator_.UnregisterSource(&streams_[1]), 0);
    Deliver(0, Packet(1));
    Deliver(2, Packet(3));
    EXPECT_EQ(batches_, 1);
    EXPECT_EQ(ports_, (std::vector<int>{10, 12}));
    EXPECT_EQ(Labels(1), (std::vector<int>{3}));
}

TEST_F(CaptureAggregatorTest, ShortSourceYieldsAnEmptyZeroBlockAndKeepsItsBytes)
{
    Register(0);
    Register(1);
    aggregator_.AddPort(5);
    aggregator_.AddPort(2);
    Deliver(0, Packet(1, kNominal / 2));
    Deliver(1, Packet(2));
    Deliver(0, Packet(3, kNominal / 2));
    Deliver(1, Packet(4));
    EXPECT_EQ(ports_, (std::vector<int>{5, 2}));
    ASSERT_EQ(taken_[0].size(), 2u);
    EXPECT_EQ(taken_[0][0].size, 0);
    EXPECT_EQ(Label(taken_[0][0].bytes), 0);
    EXPECT_EQ(taken_[0][1].size, kNominal);
    EXPECT_EQ(taken_[0][1].bytes.front(), 1);
    EXPECT_EQ(taken_[0][1].bytes.back(), 3);
    EXPECT_EQ(Labels(1), (std::vector<int>{2, 4}));
}

TEST_F(CaptureAggregatorTest, SlowerSourcePacesTheSwitchAndTheFasterBacklogStaysBounded)
{
    Register(0);  // fast
    Register(1);  // slow
    int fast = 0;
    int slow = 0;
    for (int round = 0; round < 20; ++round)
        for (const int source : {0, 1, 0, 1, 0}) Deliver(source, Packet(source ? 100 + slow++ : fast++));
    EXPECT_EQ(batches_, slow);

    // Slow packets alone drain the fast backlog: nine packets, the newest delivered last.
    for (int i = 0; i < 12; ++i) Deliver(1, Packet(250));
    EXPECT_EQ(batches_, slow + 9);
    const std::vector<int> taken = Labels(0);
    EXPECT_EQ(std::adjacent_find(taken.begin(), taken.end(), std::greater_equal<>()), taken.end());  // in order
    EXPECT_EQ(taken.back(), fast - 1);
}

TEST_F(CaptureAggregatorTest, OversizedDeliveryKeepsTheNewestBacklogBytes)
{
    Register(0);
    EXPECT_TRUE(Deliver(0, Labelled(0, 12, kNominal)));
    for (int i = 0; i < 10; ++i) aggregator_.DeliverSource(&streams_[0], nullptr, 0);  // collects what is held
    EXPECT_EQ(Labels(0), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST_F(CaptureAggregatorTest, RegistrationStopsAtTheCaptureBlocksAndRefusesUnfitPackets)
{
    for (const int nominal : {0, -1, kCaptureBlockBytes + 1}) EXPECT_EQ(Register(0, nominal), 0);
    EXPECT_EQ(aggregator_.RegisterSource(nullptr, kNominal, kNominal), 0);
    for (int i = 0; i < kCaptureBlockCount; ++i) EXPECT_EQ(Register(i, i ? kNominal : kCaptureBlockBytes), 1);
    EXPECT_EQ(Register(kCaptureBlockCount), 0);
    EXPECT_EQ(aggregator_.sourceCount(), kCaptureBlockCount);

    for (int i = 0; i <= kCaptureBlockCount; ++i) Deliver(i, Packet(i + 1, i ? kNominal : kCaptureBlockBytes));
    ASSERT_EQ(batches_, 1);
    EXPECT_EQ(taken_[0][0].size, kCaptureBlockBytes);
    EXPECT_EQ(Labels(kCaptureBlockCount - 1), (std::vector<int>{kCaptureBlockCount}));
    const auto spare = blocks_.begin() + size_t(kCaptureBlockCount) * kCaptureBlockBytes;
    EXPECT_TRUE(std::all_of(spare, blocks_.end(), [](uint8_t b) { return b == 0xEE; }));
    EXPECT_EQ(sizes_[kCaptureBlockCount], -7);
}

TEST_F(CaptureAggregatorTest, CaptureThreadsHandOverCountedSequencesIntact)
{
    constexpr int kSources = 3;
    constexpr int64_t kShare = int64_t(kNominal) * 600;
    int64_t delivered[kSources] = {};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int s = 0; s < kSources; ++s) {
        Register(s);
        // Like capture threads, each keeps delivering until all have delivered their share: one
        // that stopped early would hold back every batch.
        threads.emplace_back([&, s] {
            std::vector<uint8_t> block(kNominal);
            for (int i = 0; finished < kSources; ++i) {
                const int n = 1 + (i * 53 + s * 17) % kNominal;
                // Stay clear of the overwrite rule, which drops bytes on purpose.
                while (delivered[s] - consumed_[s] + n >= 5 * kNominal) {
                    if (finished == kSources) return;
                    std::this_thread::yield();
                }
                for (int k = 0; k < n; ++k) block[k] = CountedByte(delivered[s] + k, s);
                aggregator_.DeliverSource(&streams_[s], block.data(), n);
                const bool shareDone = delivered[s] < kShare && delivered[s] + n >= kShare;
                delivered[s] += n;
                if (shareDone) ++finished;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    for (int s = 0; s < kSources; ++s) {
        int64_t received = 0;
        int64_t wrong = 0;
        for (const Taken& t : taken_[s]) {
            for (int k = 0; k < kNominal; ++k) wrong += t.bytes[k] != (t.size ? CountedByte(received + k, s) : 0);
            received += t.size;
        }
        EXPECT_EQ(wrong, 0) << s;
        EXPECT_GT(received, delivered[s] - 5 * kNominal) << s;  // all but the last backlog came through
    }
}

void CountBatch(const uint8_t*, const int*, int, const int*, double, CMordane* owner) { ++*reinterpret_cast<int*>(owner); }

TEST(HandOverObjects, AllocateNothingOnceSetUp)
{
    std::vector<uint8_t> blocks(size_t(kCaptureBlockCount) * kCaptureBlockBytes);
    int sizes[kCaptureBlockCount] = {};
    int streams[kCaptureBlockCount] = {};
    int batches = 0;
    const std::vector<uint8_t> burst(11 * kNominal, 1);
    std::vector<uint8_t> out(kNominal);
    UniqueHandle notify(CreateEventW(nullptr, FALSE, FALSE, nullptr));

    AllocationCounter setUp;
    CPacketFifo fifo(kNominal, kNominal, notify.get());
    CCaptureAggregator aggregator(&CountBatch, reinterpret_cast<CMordane*>(&batches), blocks.data(), sizes);
    for (int s = 0; s < kCaptureBlockCount; ++s) {
        aggregator.RegisterSource(&streams[s], kNominal, kNominal);
        aggregator.AddPort(s);
    }
    const size_t settingUp = setUp.count();

    AllocationCounter audioPath;
    for (int round = 0; round < 40; ++round) {
        for (int s = 0; s < kCaptureBlockCount; ++s)  // short, whole, several and oversized packets
            aggregator.DeliverSource(&streams[s], burst.data(), (round * 7 + s * 131) % int(burst.size()));
        int overflow = 0;
        fifo.Push(burst.data(), (round * 97) % int(burst.size()), &overflow);
        fifo.Pop(out.data());
        if (round % 9 == 0) fifo.Clear();
    }
    const size_t streaming = audioPath.count();

    EXPECT_GT(settingUp, size_t(kCaptureBlockCount));  // the counter sees the objects' own memory
    EXPECT_GT(batches, 0);
    EXPECT_EQ(streaming, 0u);
}

}  // namespace
