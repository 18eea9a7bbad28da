#include <testhost/CpuUsage.h>

#include <gtest/gtest.h>

namespace {

// Clocks the test moves by hand; 100-ns units like the system's.
struct ManualClocks : CpuClocks {
    DWORD tick = 5000;
    uint64_t wall = 130000000000000000ull;
    uint64_t idle = 1000, kernel = 5000, user = 3000;
    uint64_t processKernel = 200, processUser = 100;
    bool haveSystemTimes = true;
    int reads = 0;

    DWORD TickCount() override { return tick; }
    uint64_t WallClock() override { return wall; }
    bool SystemTimes(uint64_t& i, uint64_t& k, uint64_t& u) override
    {
        ++reads;
        i = haveSystemTimes ? idle : 0;
        k = haveSystemTimes ? kernel : 0;
        u = haveSystemTimes ? user : 0;
        return haveSystemTimes;
    }
    void ProcessTimes(uint64_t& k, uint64_t& u) override
    {
        k = processKernel;
        u = processUser;
    }

    // ms later, with the system busy for systemPercent and the process for processPercent.
    void Advance(DWORD ms, uint64_t systemPercent, uint64_t processPercent)
    {
        const uint64_t span = uint64_t(ms) * 10000;
        tick += ms;
        wall += span;
        kernel += span / 2;
        user += span / 2;
        idle += span * (100 - systemPercent) / 100;
        processUser += span * processPercent / 100;
    }
};

TEST(CpuUsage, FirstTwoTicksShowNothingAndTheThirdTheFirstMeasure)
{
    ManualClocks clocks;
    CCpuUsage usage(&clocks);
    // The sampler is made on the first tick: that one falls within 200 ms of its making.
    clocks.Advance(10, 50, 50);
    EXPECT_EQ(usage.Sample(), 0);
    EXPECT_EQ(clocks.reads, 0);
    clocks.Advance(500, 90, 90);
    EXPECT_EQ(usage.Sample(), 0) << "only stores the starting point";
    EXPECT_EQ(clocks.reads, 1);
    clocks.Advance(500, 75, 20);
    EXPECT_EQ(usage.Sample(), 20);
    EXPECT_EQ(usage.SystemAverage(), 75);
}

TEST(CpuUsage, SamplesAtMostEvery200MsOnA31BitTickDifference)
{
    ManualClocks clocks;
    clocks.tick = 0xFFFFFF00;
    CCpuUsage usage(&clocks);
    clocks.Advance(0x150, 10, 10);  // across the wrap of the tick count
    EXPECT_EQ(usage.Sample(), 0);
    EXPECT_EQ(clocks.reads, 1);
    clocks.Advance(200, 40, 40);
    EXPECT_EQ(usage.Sample(), 0);
    EXPECT_EQ(clocks.reads, 1) << "200 ms is not enough";
    clocks.Advance(1, 40, 40);
    EXPECT_EQ(usage.Sample(), 40);
    EXPECT_EQ(clocks.reads, 2);
    // The top bit of the difference does not count: 2^31 + 100 ms reads as 100 ms.
    clocks.tick += 0x80000064;
    EXPECT_EQ(usage.Sample(), 40);
    EXPECT_EQ(clocks.reads, 2);
}

TEST(CpuUsage, AveragesTheLastFiveSamples)
{
    ManualClocks clocks;
    CCpuUsage usage(&clocks);
    clocks.Advance(500, 0, 0);
    usage.Sample();
    const int process[] = {10, 15, 30, 40, 50, 60, 5};
    // Integer means of what is held; the sixth sample replaces the first.
    const int processAverage[] = {10, 12, 18, 23, 29, 39, 37};
    const int systemAverage[] = {90, 87, 81, 76, 71, 61, 63};
    for (int k = 0; k < 7; ++k) {
        clocks.Advance(500, uint64_t(100 - process[k]), uint64_t(process[k]));
        EXPECT_EQ(usage.Sample(), processAverage[k]) << k;
        EXPECT_EQ(usage.SystemAverage(), systemAverage[k]) << k;
    }
}

TEST(CpuUsage, MissingSystemTimesOrAStillClockGiveZero)
{
    ManualClocks clocks;
    clocks.haveSystemTimes = false;
    CCpuUsage usage(&clocks);
    clocks.Advance(500, 60, 30);
    usage.Sample();
    clocks.Advance(500, 60, 30);
    EXPECT_EQ(usage.Sample(), 30);
    EXPECT_EQ(usage.SystemAverage(), 0);

    // Ticks go on while the wall clock and every time stand still: no division by zero.
    ManualClocks still;
    CCpuUsage stalled(&still);
    still.tick += 500;
    stalled.Sample();
    still.tick += 500;
    EXPECT_EQ(stalled.Sample(), 0);
    EXPECT_EQ(stalled.SystemAverage(), 0);
}

TEST(CpuUsage, SystemClocksReportTimes)
{
    CpuClocks clocks;
    uint64_t idle = 0, kernel = 0, user = 0;
    ASSERT_TRUE(clocks.SystemTimes(idle, kernel, user));
    EXPECT_GT(kernel + user, 0u);
    EXPECT_GE(kernel, idle) << "kernel time includes the idle time";
    // A process just started may not have run for one tick of the process clock yet.
    uint64_t processKernel = 0, processUser = 0;
    volatile uint64_t work = 0;
    for (int round = 0; round < 200 && processKernel + processUser == 0; ++round) {
        for (int i = 0; i < 1000000; ++i) work = work + i;
        clocks.ProcessTimes(processKernel, processUser);
    }
    EXPECT_GT(processKernel + processUser, 0u);
    EXPECT_GT(clocks.WallClock(), 116444736000000000ull) << "after 1970";
}

}  // namespace
