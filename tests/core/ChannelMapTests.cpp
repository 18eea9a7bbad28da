#include <core/ChannelMap.h>
#include <ui/Languages.h>

#include "../support/TestPorts.h"

#include <gtest/gtest.h>

#include <cwchar>

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

// English is chosen by a host key that holds 9, French by 12.
class ChannelNamesTest : public ::testing::Test {
protected:
    void SetUp() override { Language(9); }
    void TearDown() override { hostKey_.WriteDword(L"Language", 0xFFFFFFFF); }
    void Language(uint32_t language) { hostKey_.WriteDword(L"Language", language); }
    _sPort Named(const std::wstring& name, int inputs, int outputs, bool monoToStereo = false)
    {
        _sPort port;
        port.name = name;
        port.inputFormat.channels = inputs;
        port.outputFormat.channels = outputs;
        port.input.monoToStereo = monoToStereo;
        NameChannels(port, true, languages_);
        return port;
    }
    const CSettingsKey hostKey_{GUID{}, L"ChannelNamesTestHost.exe"};
    const CSettingsKey defaultKey_{GUID{}, L""};
    const CLanguages languages_{&hostKey_, &defaultKey_};
};

TEST_F(ChannelNamesTest, StereoMonoAndNumberedNames)
{
    _sPort lumo = Named(L"Lumo A2", 2, 2);
    EXPECT_EQ(lumo.inputChannelNames[0], L"Lumo A2 - In L");
    EXPECT_EQ(lumo.inputChannelNames[1], L"Lumo A2 - In R");
    EXPECT_EQ(lumo.outputChannelNames[1], L"Lumo A2 - Out R");
    EXPECT_STREQ(lumo.output.channelName[0], L"Lumo A2 - Out L");

    _sPort guitar = Named(L"Veloran Guitar", 1, 0);
    EXPECT_EQ(guitar.inputChannelNames[0], L"Veloran Guitar - In");
    EXPECT_EQ(guitar.inputChannelNames[1], L"");
    EXPECT_EQ(guitar.outputChannelNames[0], L"");

    _sPort strym = Named(L"Strym", 1, 0, true);  // one channel offered as two
    EXPECT_EQ(strym.inputChannelNames[1], L"Strym - In R");
    _sPort mono = Named(L"Def. Sound Device", 2, 1);
    EXPECT_EQ(mono.outputChannelNames[0], L"Def. Sound Device - Out 1");

    Language(12);
    _sPort french = Named(L"Lumo A2", 2, 2);
    EXPECT_EQ(french.inputChannelNames[0], L"Lumo A2 - Entrée G");
    EXPECT_EQ(french.outputChannelNames[1], L"Lumo A2 - Sortie D");
}

TEST_F(ChannelNamesTest, OctaPairsAreNumberedAcrossTheUnit)
{
    EXPECT_EQ(Named(L"Octa X 1-2", 2, 2).inputChannelNames[0], L"Octa X - In 1/L");
    EXPECT_EQ(Named(L"Octa X 1-2", 2, 2).inputChannelNames[1], L"Octa X - In 2/R");
    EXPECT_EQ(Named(L"Octa X 5-6", 2, 2).outputChannelNames[0], L"Octa X - Out 5");
    EXPECT_EQ(Named(L"Octa X 7-8 (1)", 2, 2).outputChannelNames[1], L"Octa X (1) - Out 8");
    EXPECT_EQ(Named(L"Octa X 3-4 (2)", 2, 2).inputChannelNames[0], L"Octa X - In 3");
}

TEST_F(ChannelNamesTest, LongNamesAreCutInTheBlocks)
{
    _sPort port = Named(std::wstring(40, L'n'), 2, 2);
    EXPECT_EQ(port.inputChannelNames[0].size(), 40u + 7u);
    EXPECT_EQ(wcslen(port.input.channelName[0]), 31u);
}

TEST(ChannelRules, EnsureOneActiveEnablesTheFirstPortWithChannels)
{
    _sPort ports[3] = {MakeTestPort(L"Out only", 0, 2), MakeTestPort(L"A", 2, 2), MakeTestPort(L"B", 2, 2)};
    for (_sPort& p : ports) p.input.enabled = p.output.enabled = 0;
    EnsureOneActive(ports, 3);
    EXPECT_EQ(ports[0].input.enabled, 0);
    EXPECT_EQ(ports[1].input.enabled, 1);
    EXPECT_EQ(ports[0].output.enabled, 1);
    EXPECT_EQ(ports[2].input.enabled, 0);
}

}  // namespace
