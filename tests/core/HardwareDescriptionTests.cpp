#include <core/HardwareDescription.h>

#include "../support/TestPorts.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::wstring Describe(const std::vector<std::wstring>& names)
{
    std::vector<_sPort> ports;
    for (const std::wstring& name : names) ports.push_back(MakeTestPort(name, 2, 2));
    return BuildHardwareDescription(ports.data(), static_cast<int>(ports.size()));
}

TEST(HardwareDescription, ListsPortsSortedAndJoined)
{
    EXPECT_EQ(BuildHardwareDescription(nullptr, 0), L"No hardware");
    EXPECT_EQ(Describe({L"Strym", L"lumo A1", L"Lumo A2"}), L"lumo A1 | Lumo A2 | Strym");
    // Other names are listed as often as they occur.
    EXPECT_EQ(Describe({L"Strym", L"Strym"}), L"Strym | Strym");
}

TEST(HardwareDescription, OctaCodecsCollapseIntoTheirUnit)
{
    EXPECT_EQ(Describe({L"Octa X 1-2", L"Octa X 3-4", L"Octa X 5-6", L"Octa X 7-8"}), L"Lumo Octa X");
    EXPECT_EQ(Describe({L"Octa X 1-2 (1)", L"Octa X 3-4 (1)", L"Octa X 1-2 (2)", L"Strym", L"Octa X 7-8 (2)"}),
              L"Lumo Octa X (1) | Lumo Octa X (2) | Strym");
}

TEST(HardwareDescription, LongTextIsCutAtExactly120Characters)
{
    std::vector<std::wstring> names;
    for (int i = 0; i < 16; ++i) names.push_back(L"Veloran Guitar (" + std::to_wstring(i % 10) + L")");
    const std::wstring text = Describe(names);
    ASSERT_EQ(text.size(), 120u);
    EXPECT_EQ(text.substr(0, 24), L"Veloran Guitar (0) | Vel");
}

}  // namespace
