// The rows of the other-devices dialog: how endpoints become ports, and what the choice writes.
#include <ui/OtherDeviceChoice.h>

#include <gtest/gtest.h>

namespace {

EndpointDescription Endpoint(EDataFlow flow, const std::wstring& id, const std::wstring& container = L"",
                             int channels = 2, bool active = true)
{
    EndpointDescription e;
    e.flow = flow;
    e.id = id;
    e.friendlyName = L"Name of " + id;
    e.interfacePath = L"\\\\?\\path#" + id;
    e.containerId = container;
    e.channels = channels;
    e.active = active;
    return e;
}

// Each row as "input|output" ids, a '*' before a chosen one.
std::vector<std::wstring> Shape(const COtherDeviceChoice& choice)
{
    std::vector<std::wstring> shape;
    for (const ChoiceRow& row : choice.rows()) shape.push_back((row.chosen ? L"*" : L"") + row.input.id + L"|" + row.output.id);
    return shape;
}

using Shapes = std::vector<std::wstring>;

}  // namespace

TEST(OtherDeviceChoice, EndpointsOfOneContainerMakeOneRowAndTheFamilysAndThePortsAreLeftOut)
{
    const std::vector<EndpointDescription> endpoints = {
        Endpoint(eRender, L"usbOut", L"{A}"),  Endpoint(eCapture, L"mic"),
        Endpoint(eCapture, L"usbIn", L"{A}"),  Endpoint(eRender, L"family", L"{F}"),
        Endpoint(eRender, L"defaultOut"),      Endpoint(eCapture, L"gone", L"", 2, false),
        Endpoint(eCapture, L"monitor", L"{B}"), Endpoint(eCapture, L"monitor2", L"{B}"),
        Endpoint(eRender, L"sink", L"{B}"),
    };
    // The family's endpoint by its id, the default device's by its device path.
    const COtherDeviceChoice choice(endpoints, {L"family", L"\\\\?\\path#defaultOut"}, {});
    EXPECT_EQ(Shape(choice), (Shapes{L"usbIn|usbOut", L"mic|", L"monitor|sink", L"monitor2|"}));
    EXPECT_EQ(choice.rows()[0].input.name, L"Name of usbIn");
}

TEST(OtherDeviceChoice, ChosenRowsKeepTheUsersOrderAndWriteTheirEntries)
{
    const std::vector<EndpointDescription> endpoints = {
        Endpoint(eCapture, L"a"), Endpoint(eRender, L"b"), Endpoint(eRender, L"eight", L"", 8),
        Endpoint(eCapture, L"c", L"{C}"), Endpoint(eRender, L"d", L"{C}")};
    OtherDevice stored;
    stored.endpointId = L"eight";
    stored.endpointFirstChannel = 4;
    COtherDeviceChoice choice(endpoints, {}, {stored});
    EXPECT_EQ(Shape(choice), (Shapes{L"*|eight", L"a|", L"|b", L"c|d"}));

    // Chosen rows join the end of the chosen ones.
    EXPECT_EQ(choice.SetChosen(3, true), 1u);
    EXPECT_EQ(choice.SetChosen(3, true), 2u);
    EXPECT_TRUE(choice.Move(2, -1));
    EXPECT_FALSE(choice.Move(0, -1));
    EXPECT_FALSE(choice.Move(2, 1)) << "an unchosen row is below";
    EXPECT_EQ(Shape(choice), (Shapes{L"*|eight", L"*|b", L"*c|d", L"a|"}));

    EXPECT_FALSE(choice.SetFirstChannel(0, true, 8)) << "an eight-channel endpoint ends at 7-8";
    EXPECT_FALSE(choice.SetFirstChannel(0, true, 3));
    EXPECT_TRUE(choice.SetFirstChannel(0, true, 6));
    EXPECT_FALSE(choice.SetFirstChannel(2, false, 2)) << "a stereo endpoint has one pair";
    EXPECT_EQ(choice.Entries(), (Shapes{L"eight#7", L"b", L"c|d"}));
    // What is written reads back as the same ports.
    const std::vector<OtherDevice> back = ParseOtherDevices(choice.Entries());
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].endpointFirstChannel, 6);
    EXPECT_EQ(back[2].renderId, L"d");

    // Unticked, a row leaves the written list and heads the others.
    EXPECT_EQ(choice.SetChosen(0, false), 2u);
    EXPECT_EQ(choice.Entries(), (Shapes{L"b", L"c|d"}));
}

TEST(OtherDeviceChoice, InputsAndOutputsArePairedAndSplitByHand)
{
    const std::vector<EndpointDescription> endpoints = {Endpoint(eCapture, L"in"), Endpoint(eRender, L"out"),
                                                        Endpoint(eCapture, L"in2"), Endpoint(eCapture, L"x", L"{X}"),
                                                        Endpoint(eRender, L"y", L"{X}")};
    COtherDeviceChoice choice(endpoints, {}, {});
    ASSERT_EQ(Shape(choice), (Shapes{L"in|", L"|out", L"in2|", L"x|y"}));
    EXPECT_FALSE(choice.Pair(0, 2)) << "two inputs";
    EXPECT_FALSE(choice.Pair(0, 3)) << "a row that is a pair already";
    choice.SetChosen(1, true);  // the output first
    ASSERT_EQ(Shape(choice), (Shapes{L"*|out", L"in|", L"in2|", L"x|y"}));
    EXPECT_TRUE(choice.Pair(2, 0));
    EXPECT_EQ(Shape(choice), (Shapes{L"*in2|out", L"in|", L"x|y"}));
    EXPECT_EQ(choice.Entries(), (Shapes{L"in2|out"}));

    EXPECT_TRUE(choice.Unpair(0));
    EXPECT_FALSE(choice.Unpair(0));
    EXPECT_EQ(Shape(choice), (Shapes{L"*in2|", L"*|out", L"in|", L"x|y"}));
    EXPECT_EQ(choice.Entries(), (Shapes{L"in2", L"out"}));
}

TEST(OtherDeviceChoice, ChosenDevicesThatAreAwayKeepTheirRowsAndTheirEntries)
{
    // "gone" is listed but unplugged; "lost" is not listed at all.
    const std::vector<EndpointDescription> endpoints = {Endpoint(eRender, L"gone", L"", 6, false),
                                                        Endpoint(eCapture, L"here")};
    const std::vector<OtherDevice> stored =
        ParseOtherDevices({L"lost|gone#5", L"gone", L"here", L"here|lost"});  // repeats dropped
    COtherDeviceChoice choice(endpoints, {}, stored);
    ASSERT_EQ(Shape(choice), (Shapes{L"*lost|gone", L"*here|"}));
    EXPECT_FALSE(choice.rows()[0].present());
    EXPECT_EQ(choice.rows()[0].output.name, L"Name of gone");
    EXPECT_EQ(choice.rows()[0].input.name, L"lost");
    EXPECT_TRUE(choice.rows()[1].present());
    EXPECT_EQ(choice.Entries(), (Shapes{L"lost|gone#5", L"here"}));
}

TEST(OtherDeviceChoice, ASecondClockComesFromAnotherPhysicalDevice)
{
    const std::vector<EndpointDescription> endpoints = {
        Endpoint(eCapture, L"familyIn", L"{F}"), Endpoint(eCapture, L"sameBox", L"{F}"),
        Endpoint(eCapture, L"other", L"{O}"),    Endpoint(eCapture, L"wineIn"),
        Endpoint(eRender, L"wineOut")};
    COtherDeviceChoice choice(endpoints, {L"familyIn"}, {});
    const std::vector<std::wstring> family = {ClockOf(endpoints, L"\\\\?\\path#familyIn")};
    EXPECT_EQ(family[0], L"{F}");
    EXPECT_EQ(ClockOf(endpoints, L"unknown"), L"unknown");
    EXPECT_FALSE(choice.SeveralClocks(family));
    choice.SetChosen(0, true);  // another endpoint of the family's device
    EXPECT_FALSE(choice.SeveralClocks(family));
    EXPECT_FALSE(choice.SeveralClocks({})) << "one device alone";
    // An input and an output paired by hand count as one device.
    COtherDeviceChoice wine(endpoints, {L"familyIn", L"sameBox", L"other"}, {});
    ASSERT_EQ(Shape(wine), (Shapes{L"wineIn|", L"|wineOut"}));
    ASSERT_TRUE(wine.Pair(0, 1));
    wine.SetChosen(0, true);
    EXPECT_FALSE(wine.SeveralClocks({}));
    EXPECT_TRUE(wine.SeveralClocks(family));
    choice.SetChosen(1, true);  // "other"
    EXPECT_TRUE(choice.SeveralClocks(family));
}
