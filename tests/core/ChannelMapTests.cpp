#include <core/ChannelMap.h>

#include "../support/TestPorts.h"

#include <gtest/gtest.h>

namespace {

TEST(ChannelMap, EnabledDirectionsNumberConsecutively)
{
    _sPort ports[3] = {MakeTestPort(L"A", 2, 2), MakeTestPort(L"B", 1, 0, true), MakeTestPort(L"C", 1, 2)};
    ports[2].output.enabled = 0;

    const ChannelTotals totals = CountChannels(ports, 3);
    EXPECT_EQ(totals.inputs, 5);  // 2 + mono offered twice + 1
    EXPECT_EQ(totals.outputs, 2);

    const struct {
        int channel, port, inPort;
    } inputs[] = {{0, 0, 0}, {1, 0, 1}, {2, 1, 0}, {3, 1, 1}, {4, 2, 0}, {5, -1, 0}, {-1, -1, 0}};
    for (const auto& e : inputs) {
        const ChannelLocation at = LocateChannel(ports, 3, e.channel, true);
        EXPECT_EQ(at.port, e.port) << e.channel;
        if (e.port >= 0) {
            EXPECT_EQ(at.channelInPort, e.inPort) << e.channel;
        }
    }
    EXPECT_EQ(LocateChannel(ports, 3, 2, false).port, -1);  // C's outputs are disabled

    ports[0].input.enabled = 0;
    EXPECT_EQ(LocateChannel(ports, 3, 0, true).port, 1);
    EXPECT_EQ(CountChannels(ports, 0).inputs, 0);
}

}  // namespace
