#include "ControlTestSupport.h"

#include <core/ChannelMap.h>
#include <ui/Languages.h>
#include <ui/MixaraLikeSliderCtrl.h>
#include <ui/PanelDeviceRows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

using namespace device_rows;

class RecordingOwner : public IDeviceRowsOwner {
public:
    void DeviceRowsChanged(bool) override { ++changes; }
    void MonoMixChanged(int) override {}
    int KnownDeviceRow(const _sPort&) const override { return -1; }
    void ShowMessage(HWND, int textId, const std::wstring&, const std::wstring&) override
    {
        messages.push_back(textId);
    }
    int changes = 0;
    std::vector<int> messages;
};

const CLanguages kLanguages(nullptr, nullptr);

_sPort MakePort(const std::wstring& name, int inputs, int outputs, bool inputOn, bool outputOn)
{
    _sPort port;
    port.name = name;
    port.inputFormat.channels = inputs;
    port.outputFormat.channels = outputs;
    port.input.enabled = inputOn;
    port.output.enabled = outputOn;
    NameChannels(port, true, kLanguages);
    return port;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

class DeviceRowsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rows_.Create(dialog_.hwnd(), RECT{0, 0, 460, 400})); }

    void Load(int count, int first = 0)
    {
        count_ = count;
        rows_.SetWorkingCopy(ports_, count, first);
    }
    HWND Item(int id) const { return GetDlgItem(dialog_.hwnd(), id); }
    void Command(int id, int code = 0)
    {
        SendMessageW(dialog_.hwnd(), WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id)));
    }
    void Click(int id)
    {
        SendMessageW(Item(id), BM_CLICK, 0, 0);
        PumpMessages();
    }
    int ScrollerValue() const
    {
        return static_cast<CMixaraLikeSliderCtrl*>(CSubclassedWindow::FromHandle(Item(kScroller)))->GetValue();
    }

    TestDialog dialog_;
    RecordingOwner owner_;
    CPanelDeviceRows rows_{owner_, kLanguages};
    _sPort ports_[kMaxPorts];
    int count_ = 0;
};

std::vector<int> Commands(const std::vector<DeviceMenuItem>& items, bool checkedOnly)
{
    std::vector<int> commands;
    for (const DeviceMenuItem& item : items)
        if (item.kind == DeviceMenuItem::Command && (item.checked || !checkedOnly)) commands.push_back(item.command);
    return commands;
}

TEST(DeviceMenu, OffersTheChoicesThePortHasAndChecksItsState)
{
    _sPort stereo = MakePort(L"Lumo A2", 2, 2, true, true);
    auto items = BuildDeviceMenu(stereo, kLanguages);
    ASSERT_GE(items.size(), 2u);
    EXPECT_EQ(items[0].kind, DeviceMenuItem::Title);
    EXPECT_EQ(items[0].text, L"Lumo A2");
    EXPECT_EQ(Commands(items, false), (std::vector<int>{kMenuActivateBoth, kMenuInputsOnly, kMenuOutputsOnly, kMenuMonoMix}));
    EXPECT_EQ(Commands(items, true), std::vector<int>{kMenuActivateBoth});
    stereo.output.enabled = 0;
    stereo.input.monoMix = 1;
    EXPECT_EQ(Commands(BuildDeviceMenu(stereo, kLanguages), true), (std::vector<int>{kMenuInputsOnly, kMenuMonoMix}));

    _sPort mono = MakePort(L"Strym", 1, 2, false, true);
    items = BuildDeviceMenu(mono, kLanguages);
    EXPECT_EQ(Commands(items, false), (std::vector<int>{kMenuActivateBoth, kMenuInputsOnly, kMenuOutputsOnly, kMenuMonoToStereo}));
    EXPECT_EQ(Commands(items, true), std::vector<int>{kMenuOutputsOnly});
    EXPECT_EQ(items[3].text, kLanguages.Text(121));  // "input only": one channel
    mono.input.monoToStereo = 1;
    items = BuildDeviceMenu(mono, kLanguages);
    EXPECT_EQ(items[3].text, kLanguages.Text(122));
    EXPECT_EQ(Commands(items, true), (std::vector<int>{kMenuOutputsOnly, kMenuMonoToStereo}));

    _sPort outputsOnly = MakePort(L"Default Audio Out", 0, 2, false, true);
    EXPECT_EQ(Commands(BuildDeviceMenu(outputsOnly, kLanguages), false), std::vector<int>{kMenuOutputsOnly});
    _sPort inputsOnly = MakePort(L"Veloran Guitar", 1, 0, true, false);
    EXPECT_EQ(Commands(BuildDeviceMenu(inputsOnly, kLanguages), true), std::vector<int>{kMenuInputsOnly});
}

TEST_F(DeviceRowsTest, InputsPastSixteenAreRefusedWithTheirMessage)
{
    for (int i = 0; i < 8; ++i) ports_[i] = MakePort(L"Lumo A2 (" + std::to_wstring(i) + L")", 2, 2, true, false);
    ports_[8] = MakePort(L"Lumo A1", 2, 2, false, false);
    ports_[9] = MakePort(L"Strym", 1, 2, true, false);
    ports_[10] = MakePort(L"Veloran Guitar", 1, 0, false, false);
    ports_[7].input.enabled = 0;  // 14 inputs in use, with the mono port's one: 15
    Load(11, 8);

    Click(kToggleIn);  // two more would make 17
    EXPECT_EQ(owner_.messages, std::vector<int>{217});
    EXPECT_FALSE(ports_[8].input.enabled);
    EXPECT_EQ(SendMessageW(Item(kToggleIn), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    Click(kToggleOut);
    EXPECT_TRUE(ports_[8].output.enabled);

    rows_.ToggleMonoToStereo(9);  // one more fits
    EXPECT_TRUE(ports_[9].input.monoToStereo);
    rows_.ToggleMonoToStereo(9);
    ports_[10].input.enabled = 1;  // 16 + 1
    rows_.ToggleMonoToStereo(9);
    EXPECT_FALSE(ports_[9].input.monoToStereo);
    EXPECT_EQ(owner_.messages, (std::vector<int>{217, 217}));

    // A click on a greyed picture switches on what fits and names what does not.
    ports_[8].output.enabled = 0;
    RECT picture = InParent(Item(kPicture));
    SendMessageW(dialog_.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(picture.left + 30, picture.top + 30));
    EXPECT_EQ(owner_.messages, (std::vector<int>{217, 217, 217}));
    EXPECT_FALSE(ports_[8].input.enabled);
    EXPECT_TRUE(ports_[8].output.enabled);
}

TEST_F(DeviceRowsTest, InputsOnlyDropsTheOutputsFirstThenTheInputs)
{
    ports_[0] = MakePort(L"Lumo A2", 2, 2, true, true);
    Load(1);
    rows_.ActivateInputsOnly(0);
    EXPECT_TRUE(ports_[0].input.enabled);
    EXPECT_FALSE(ports_[0].output.enabled);
    rows_.ActivateInputsOnly(0);
    EXPECT_FALSE(ports_[0].input.enabled);
    EXPECT_TRUE(IsWindowEnabled(Item(kToggleIn)));  // an inactive port can be switched on again
}

TEST_F(DeviceRowsTest, ArrowsSwapWholePortsAndScrollAtTheEdges)
{
    for (int i = 0; i < 6; ++i) ports_[i] = MakePort(L"Port " + std::to_wstring(i), 2, 2, true, true);
    wcscpy(ports_[3].input.channelName[0], L"Vocals");
    Load(6);
    EXPECT_FALSE(IsWindowVisible(Item(kArrowUp)));

    Command(kArrowDown + 3);  // the bottom row's port moves down and the list follows it
    EXPECT_EQ(ports_[4].name, L"Port 3");
    EXPECT_STREQ(ports_[4].input.channelName[0], L"Vocals");
    EXPECT_EQ(ports_[3].name, L"Port 4");
    EXPECT_EQ(rows_.firstPort(), 1);
    EXPECT_EQ(ScrollerValue(), kScrollerTop - kScrollerStep);
    EXPECT_EQ(WindowText(Item(kNameIn + 2 * 3)), L"Vocals");

    Command(kArrowUp);  // the top row's port moves up and the list follows it back
    EXPECT_EQ(ports_[0].name, L"Port 1");
    EXPECT_EQ(ports_[1].name, L"Port 0");
    EXPECT_EQ(rows_.firstPort(), 0);
    EXPECT_EQ(ScrollerValue(), kScrollerTop);

    Command(kArrowDown + 1);  // a middle row only reorders
    EXPECT_EQ(ports_[2].name, L"Port 0");
    EXPECT_EQ(rows_.firstPort(), 0);
}

TEST_F(DeviceRowsTest, NamesAreCutAndAnEmptiedNameGetsItsDefaultBack)
{
    ports_[0] = MakePort(L"Lumo A2", 2, 2, true, true);
    Load(1);
    HWND edit = Item(kNameIn + 1);
    SetWindowTextW(edit, std::wstring(40, L'x').c_str());
    EXPECT_EQ(std::wstring(ports_[0].input.channelName[1]), std::wstring(31, L'x'));

    SetWindowTextW(edit, L"");
    Command(kNameIn + 1, EN_KILLFOCUS);
    EXPECT_EQ(std::wstring(ports_[0].input.channelName[1]), ports_[0].inputChannelNames[1].substr(0, 31));
    EXPECT_EQ(WindowText(edit), ports_[0].inputChannelNames[1].substr(0, 31));
    EXPECT_FALSE(ports_[0].inputChannelNames[1].empty());
}

TEST_F(DeviceRowsTest, RowsShowTheWarningAndTheInstanceNumber)
{
    ports_[0] = MakePort(L"Lumo A2 (2)", 2, 2, true, true);
    ports_[1] = MakePort(L"Lumo A2 (12)", 2, 2, true, true);
    ports_[1].nonOptimalPort = 1;
    Load(2);
    EXPECT_FALSE(IsWindowVisible(Item(kWarning)));
    EXPECT_TRUE(IsWindowVisible(Item(kWarning + 1)));
    EXPECT_TRUE(IsWindowVisible(Item(kInstanceLabel)));
    EXPECT_EQ(WindowText(Item(kInstanceLabel)), L"(2)");
    EXPECT_FALSE(IsWindowVisible(Item(kInstanceLabel + 1)));

    ports_[1].nonOptimalPort = 0;
    rows_.Refresh();
    EXPECT_FALSE(IsWindowVisible(Item(kWarning + 1)));
}

TEST_F(DeviceRowsTest, TheScrollerNeverShowsPastTheLastPort)
{
    for (int i = 0; i < 3; ++i) ports_[i] = MakePort(L"Port " + std::to_wstring(i), 2, 2, true, true);
    Load(3);
    auto scroll = [&](int value) {
        SendMessageW(dialog_.hwnd(), WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, value),
                     reinterpret_cast<LPARAM>(Item(kScroller)));
        return rows_.firstPort();
    };
    EXPECT_EQ(scroll(1150), 0);
    EXPECT_EQ(scroll(1100), 1);
    EXPECT_EQ(scroll(0), 2);
    EXPECT_EQ(WindowText(Item(kNameIn)), std::wstring(ports_[2].input.channelName[0]));
    EXPECT_EQ(scroll(0xFFFF), 0);
    EXPECT_EQ(WindowText(Item(kNameIn)), std::wstring(ports_[0].input.channelName[0]));
}

// The picture follows the interface even when its path comes back in another case.
TEST(KnownDeviceRowOf, MatchesTheCapturePathWithoutRegardToCase)
{
    PortInventory inventory;
    inventory.interfacePaths = {L"\\\\?\\USB#VID_08BB&PID_2900&MI_00#7&1A2B&0000#{6994AD04}\\capture",
                                L"\\\\?\\USB#VID_08BB&PID_29C0&MI_00#7&3C4D&0000#{6994AD04}\\capture"};
    inventory.interfaceRows = {4, 9};
    EXPECT_EQ(KnownDeviceRowOf(inventory, L"\\\\?\\usb#vid_08bb&pid_29c0&mi_00#7&3c4d&0000#{6994ad04}\\CAPTURE"), 9);
    EXPECT_EQ(KnownDeviceRowOf(inventory, inventory.interfacePaths[0]), 4);
    EXPECT_EQ(KnownDeviceRowOf(inventory, L"\\\\?\\USB#VID_08BB&PID_2900&MI_00#7&1A2B&0000#{6994AD04}"), -1);
}

}  // namespace
