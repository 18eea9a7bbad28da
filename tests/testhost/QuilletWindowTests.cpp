// The test program's window on screen, driven by its own messages and the mouse, over a
// scripted driver.
#include "FakeAsioDriver.h"
#include "../controls/ControlTestSupport.h"
#include "../support/RegistryScratch.h"

#include <testhost/DialogBackground.h>
#include <testhost/DialogSettings.h>
#include <testhost/HostStrings.h>
#include <testhost/QuilletDlg.h>
#include <testhost/ResourceIds.h>

#include <veloran/DriverClassId.h>
#include <veloran/RegKey.h>

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr COLORREF kNameBackground = RGB(45, 78, 109);
constexpr COLORREF kNameText = RGB(133, 151, 169);
constexpr COLORREF kActiveCurve = RGB(214, 3, 42);
constexpr COLORREF kInactiveCurve = RGB(157, 157, 161);
constexpr int32_t kPattern = 0x5A5A5A5A;

bool Skin(COLORREF c) { return c == kDialogBackground; }
bool NameBackground(COLORREF c) { return Near(c, kNameBackground, 8); }
bool NameText(COLORREF c) { return Near(c, kNameText, 30); }
bool ActiveCurve(COLORREF c) { return Near(c, kActiveCurve, 12); }
bool InactiveCurve(COLORREF c) { return Near(c, kInactiveCurve, 12); }

// Pixels of shot, from (left, top) on, that equal image tiled across width.
int SameAsTiled(const Pixels& shot, const Pixels& image, int left, int top, int width)
{
    int same = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < width; ++x) same += shot.At(left + x, top + y) == image.At(x % image.width, y) ? 1 : 0;
    return same;
}

// A 24-bit BMP, for a person to look at.
bool WriteBitmapFile(const Pixels& pixels, const std::string& path)
{
    const int rowBytes = (pixels.width * 3 + 3) & ~3;
    BITMAPINFOHEADER info{sizeof(info), pixels.width, pixels.height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    info.biSizeImage = static_cast<DWORD>(rowBytes * pixels.height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info), sizeof(info));
    std::vector<char> row(static_cast<size_t>(rowBytes));
    for (int y = pixels.height - 1; y >= 0; --y) {
        for (int x = 0; x < pixels.width; ++x) {
            const COLORREF c = pixels.At(x, y);
            row[3 * x] = static_cast<char>(GetBValue(c));
            row[3 * x + 1] = static_cast<char>(GetGValue(c));
            row[3 * x + 2] = static_cast<char>(GetRValue(c));
        }
        out.write(row.data(), rowBytes);
    }
    return out.good();
}

// The program's saved settings are set aside for one test and put back after it.
class SettingsScratch {
public:
    SettingsScratch() : existed_(KeyExists(HKEY_CURRENT_USER, kDialogSettingsKey))
    {
        if (existed_) Copy(kDialogSettingsKey, kBackupKey);
        DeleteTree(HKEY_CURRENT_USER, kDialogSettingsKey);
    }
    ~SettingsScratch()
    {
        DeleteTree(HKEY_CURRENT_USER, kDialogSettingsKey);
        if (!existed_) return;
        Copy(kBackupKey, kDialogSettingsKey);
        DeleteTree(HKEY_CURRENT_USER, kBackupKey);
    }
    SettingsScratch(const SettingsScratch&) = delete;
    SettingsScratch& operator=(const SettingsScratch&) = delete;

private:
    static constexpr wchar_t kBackupKey[] = L"Software\\Veloran\\Quillet window tests backup";
    static void Copy(const wchar_t* from, const wchar_t* to)
    {
        const RegKey target = RegKey::Create(HKEY_CURRENT_USER, to);
        if (target) SHCopyKeyW(HKEY_CURRENT_USER, from, target.get(), 0);
    }

    bool existed_;
};

class QuilletWindowTest : public ::testing::Test {
protected:
    QuilletWindowTest()
    {
        fake_.inputNames = Names("In ", 4);
        fake_.outputNames = Names("Out ", 4);
    }
    void TearDown() override
    {
        Close();
        EXPECT_EQ(fake_.References(), 0) << "driver leaked";
        EXPECT_FALSE(fake_.OverReleased());
    }

    // Opens the window on the scripted driver and waits until it has started.
    void Open()
    {
        Open([this](IASIO** driver) {
            return fake_.QueryInterface(kVeloranDriverClsid, reinterpret_cast<void**>(driver));
        });
    }
    void Open(DriverFactory factory)
    {
        StartupOptions options;
        options.language = kHostLanguageEnglish;
        dialog_ = std::make_unique<CQuilletDlg>(options, std::move(factory));
        dialog_->SetKeyboard([this](int key) { return key == VK_CONTROL && ctrl_; });
        bool started = false;
        dialog_->SetStartedHandler([&started] { started = true; });
        window_ = dialog_->Create(nullptr);
        ASSERT_NE(window_, nullptr);
        ASSERT_TRUE(PumpUntil([&started] { return started; }));
        dialog_->SetStartedHandler({});
        PointAway();
    }
    void Close()
    {
        dialog_.reset();
        window_ = nullptr;
        PumpMessages();
    }

    HWND Item(int id) const { return GetDlgItem(window_, id); }
    RECT Place(int id) const { return InParent(Item(id)); }
    // A click as the drawn buttons take it from a script: the button flips, then reports.
    void Click(int id)
    {
        SendMessageW(Item(id), BM_CLICK, 0, 0);
        PumpMessages();
    }
    bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void Choose(int id, int entry)
    {
        SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
        SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(id)));
        PumpMessages();
    }
    int Selected(int id) const { return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
    bool Shown(const std::wstring& text) const
    {
        const HWND label = FindWindowExW(window_, nullptr, nullptr, text.c_str());
        return label && IsWindowVisible(label);
    }

    // Of the four inputs: the engine's enable flags, and the states their toggles show.
    std::vector<bool> InputsEnabled() const
    {
        return OfInputs([this](int i) { return dialog_->Engine().InputEnabled(i); });
    }
    std::vector<bool> InputsChecked() const
    {
        return OfInputs([this](int i) { return Checked(IDC_INPUT_TOGGLE_FIRST + i); });
    }
    static std::vector<bool> OfInputs(const std::function<bool(int)>& flag)
    {
        std::vector<bool> flags;
        for (int i = 0; i < 4; ++i) flags.push_back(flag(i));
        return flags;
    }

    // The driver's buffer half 0 of a channel, as 32-bit samples.
    int32_t* Samples(size_t k) { return static_cast<int32_t*>(fake_.Buffer(k, 0)); }
    int32_t* Output(int j) { return Samples(fake_.inputNames.size() + static_cast<size_t>(j)); }
    void Fill(int32_t* samples, int32_t value) { std::fill_n(samples, fake_.createdSize, value); }
    // Outputs start with a pattern, so that a block that was not processed shows.
    void SwitchBuffers()
    {
        for (int j = 0; j < static_cast<int>(fake_.outputNames.size()); ++j) Fill(Output(j), kPattern);
        ASSERT_TRUE(fake_.SwitchBuffers(0));
    }
    bool Silent(int j)
    {
        return std::all_of(Output(j), Output(j) + fake_.createdSize, [](int32_t s) { return s == 0; });
    }
    // Sound that is neither silence nor the pattern left in place.
    bool Sounds(int j)
    {
        return !Silent(j) &&
               std::none_of(Output(j), Output(j) + fake_.createdSize, [](int32_t s) { return s == kPattern; });
    }

    // The curves run between the two channel frames.
    RECT CurveGap() const
    {
        const RECT inputs = Place(IDC_INPUTS_FRAME), outputs = Place(IDC_OUTPUTS_FRAME);
        return RECT{inputs.right + 1, inputs.top, outputs.left - 1, inputs.bottom};
    }

    SettingsScratch settings_;
    CFakeAsioDriver fake_;
    bool ctrl_ = false;
    std::unique_ptr<CQuilletDlg> dialog_;
    HWND window_ = nullptr;
};

TEST_F(QuilletWindowTest, WindowIsDrawnWithItsSkinLogoBandAndChannelRows)
{
    Open();
    const Pixels shot = Grab(window_);
    const std::string file = ::testing::TempDir() + "QuilletWindow.bmp";
    if (WriteBitmapFile(shot, file)) std::cout << "window picture: " << file << "\n";

    EXPECT_GT(std::set<uint32_t>(shot.data.begin(), shot.data.end()).size(), 50u);
    const int stripTop = shot.height - kBottomStripHeight;
    const int skin = shot.Count(Skin, RECT{0, 0, shot.width, stripTop});
    EXPECT_GT(skin, shot.width * stripTop / 3) << "skin background";
    EXPECT_EQ(shot.Count(Skin, RECT{0, stripTop, shot.width, shot.height}), 0) << "bottom strip";

    const Pixels band = ResourceBitmap(IDB_BAND);
    ASSERT_GT(band.width, 0);
    EXPECT_EQ(SameAsTiled(shot, band, 0, stripTop - band.height, shot.width), shot.width * band.height) << "band";
    const Pixels logo = ResourceBitmap(IDB_LOGO);
    ASSERT_GT(logo.width, 0);
    const RECT logoPlace = Place(IDC_LOGO);
    EXPECT_EQ(SameAsTiled(shot, logo, logoPlace.left, logoPlace.top, logo.width), logo.width * logo.height) << "logo";

    for (int i = 0; i < 4; ++i) {
        const std::pair<int, const wchar_t*> rows[] = {{IDC_INPUT_NAME_FIRST + i, L" In "},
                                                       {IDC_OUTPUT_NAME_FIRST + i, L" Out "}};
        for (const auto& [id, name] : rows) {
            wchar_t text[64] = {};
            GetWindowTextW(Item(id), text, 64);
            EXPECT_EQ(std::wstring(text), name + std::to_wstring(i + 1));
            EXPECT_TRUE(IsWindowVisible(Item(id))) << id;
            const RECT place = Place(id);
            const int area = (place.right - place.left) * (place.bottom - place.top);
            EXPECT_GT(shot.Count(NameBackground, place), area / 2) << id;
            EXPECT_GT(shot.Count(NameText, place), 10) << "name drawn " << id;
        }
        EXPECT_TRUE(IsWindowVisible(Item(IDC_INPUT_TOGGLE_FIRST + i)));
        EXPECT_TRUE(Checked(IDC_OUTPUT_TOGGLE_FIRST + i));
    }
    EXPECT_FALSE(IsWindowVisible(Item(IDC_INPUT_NAME_FIRST + 4)));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_OUTPUT_TOGGLE_FIRST + 4)));
    EXPECT_TRUE(Shown(L" 4 Inputs"));
    EXPECT_TRUE(Shown(L" 4 Outputs"));
    EXPECT_EQ(dialog_->HardwareText(), L"Octa X (USB 1)");

    // Monitoring is off: the curves are grey.
    EXPECT_GT(shot.Count(InactiveCurve, CurveGap()), 0);
    EXPECT_EQ(shot.Count(ActiveCurve, CurveGap()), 0);
}

TEST_F(QuilletWindowTest, WindowGrowsWithTheLongerColumnAndKeepsTheCloseButtonAtTheBottom)
{
    struct Shape {
        int height, belowClose, pitch, inputsBottom, outputsBottom, lastRowBottom;
    };
    auto shape = [this](int inputs, int outputs) {
        fake_.inputNames = Names("In ", inputs);
        fake_.outputNames = Names("Out ", outputs);
        Open();
        RECT window{}, close{};
        GetWindowRect(window_, &window);
        GetWindowRect(Item(IDCANCEL), &close);
        const int rows = std::max(inputs, outputs);
        const Shape result{window.bottom - window.top, window.bottom - close.top,
                           Place(IDC_INPUT_NAME_FIRST + 1).top - Place(IDC_INPUT_NAME_FIRST).top,
                           Place(IDC_INPUTS_FRAME).bottom, Place(IDC_OUTPUTS_FRAME).bottom,
                           Place(IDC_OUTPUT_NAME_FIRST + rows - 1).bottom};
        EXPECT_LT(Place(IDC_OUTPUTS_FRAME).bottom, Place(IDC_MONITOR_FRAME).top);
        Close();
        return result;
    };
    const Shape small = shape(2, 2);
    const Shape tall = shape(2, 8);
    EXPECT_EQ(tall.height - small.height, 6 * small.pitch);
    EXPECT_EQ(tall.belowClose, small.belowClose);
    // Both frames hold the longer column.
    EXPECT_EQ(tall.inputsBottom, tall.outputsBottom);
    EXPECT_EQ(tall.outputsBottom, tall.lastRowBottom + 10);

    // An empty column keeps room for two rows.
    EXPECT_EQ(shape(0, 1).height, small.height);
}

TEST_F(QuilletWindowTest, ToggleClicksSwitchChannelsAndCtrlClickSolos)
{
    Open();
    Click(IDC_INPUT_TOGGLE_FIRST + 1);
    EXPECT_EQ(InputsEnabled(), (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(InputsChecked(), InputsEnabled());

    // Real clicks on an output toggle.
    const HWND output = Item(IDC_OUTPUT_TOGGLE_FIRST + 2);
    ClickWithMouse(output);
    EXPECT_TRUE(PumpUntil([&] { return !dialog_->Engine().OutputEnabled(2); }));
    EXPECT_FALSE(Checked(IDC_OUTPUT_TOGGLE_FIRST + 2));
    EXPECT_TRUE(dialog_->Engine().OutputEnabled(1));
    ClickWithMouse(output);
    EXPECT_TRUE(PumpUntil([&] { return dialog_->Engine().OutputEnabled(2); }));
    EXPECT_TRUE(Checked(IDC_OUTPUT_TOGGLE_FIRST + 2));
    PointAway();

    ctrl_ = true;
    Click(IDC_INPUT_TOGGLE_FIRST + 2);
    EXPECT_EQ(InputsEnabled(), (std::vector<bool>{false, false, true, false}));
    EXPECT_EQ(InputsChecked(), InputsEnabled());
    Click(IDC_INPUT_TOGGLE_FIRST + 2);
    EXPECT_EQ(InputsEnabled(), (std::vector<bool>{true, true, false, true}));
    EXPECT_EQ(InputsChecked(), InputsEnabled());
    ctrl_ = false;
    Click(IDC_INPUT_TOGGLE_FIRST + 2);
    EXPECT_EQ(InputsEnabled(), (std::vector<bool>(4, true)));
    EXPECT_EQ(InputsChecked(), InputsEnabled());
    // Outputs were left alone.
    for (int j = 0; j < 4; ++j) EXPECT_TRUE(dialog_->Engine().OutputEnabled(j)) << j;
}

TEST_F(QuilletWindowTest, PlayButtonPlaysTheClipOnEnabledOutputs)
{
    Open();
    Click(IDC_OUTPUT_TOGGLE_FIRST + 1);
    Click(IDC_PLAY_BUTTON);
    EXPECT_TRUE(dialog_->Engine().Playing());
    EXPECT_TRUE(Checked(IDC_PLAY_BUTTON));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_PLAY_SOURCE)));
    SwitchBuffers();
    EXPECT_TRUE(Sounds(0));
    EXPECT_TRUE(Silent(1)) << "disabled output";
    EXPECT_TRUE(Sounds(2));
    EXPECT_TRUE(Sounds(3));

    Click(IDC_PLAY_BUTTON);
    EXPECT_FALSE(dialog_->Engine().Playing());
    EXPECT_FALSE(Checked(IDC_PLAY_BUTTON));
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_PLAY_SOURCE)));
    SwitchBuffers();
    for (int j = 0; j < 4; ++j) EXPECT_TRUE(Silent(j)) << j;
}

TEST_F(QuilletWindowTest, MonitoringRunsAlongsidePlayingAndLightsTheCurves)
{
    Open();
    Click(IDC_PLAY_BUTTON);
    Click(IDC_MONITOR_BUTTON);
    EXPECT_TRUE(dialog_->Engine().Monitoring());
    EXPECT_TRUE(dialog_->Engine().Playing()) << "the modes do not exclude each other";
    EXPECT_TRUE(Checked(IDC_MONITOR_BUTTON));
    EXPECT_TRUE(Checked(IDC_PLAY_BUTTON));
    EXPECT_EQ(Selected(IDC_MONITOR_MODE), 1);
    EXPECT_GT(Grab(window_).Count(ActiveCurve, CurveGap()), 0);

    Click(IDC_PLAY_BUTTON);
    EXPECT_TRUE(dialog_->Engine().Monitoring());
    Fill(Samples(0), 1000 << 16);
    SwitchBuffers();
    EXPECT_EQ(Output(0)[0], 1000 << 16);
    EXPECT_EQ(Output(0)[fake_.createdSize - 1], 1000 << 16);
    EXPECT_TRUE(Silent(1));
    Click(IDC_INPUT_TOGGLE_FIRST);
    SwitchBuffers();
    EXPECT_TRUE(Silent(0)) << "disabled input";

    // The selector switches it too, and with it the button and the curves.
    Choose(IDC_MONITOR_MODE, 0);
    EXPECT_FALSE(dialog_->Engine().Monitoring());
    EXPECT_FALSE(Checked(IDC_MONITOR_BUTTON));
    EXPECT_EQ(Grab(window_).Count(ActiveCurve, CurveGap()), 0);
    Choose(IDC_MONITOR_MODE, 1);
    EXPECT_TRUE(dialog_->Engine().Monitoring());
    EXPECT_TRUE(Checked(IDC_MONITOR_BUTTON));
    Click(IDC_MONITOR_BUTTON);
    EXPECT_FALSE(dialog_->Engine().Monitoring());
    EXPECT_EQ(Selected(IDC_MONITOR_MODE), 0);
}

TEST_F(QuilletWindowTest, SampleRateChoiceRestartsTheDriverAndIsRemembered)
{
    Open();
    EXPECT_EQ(fake_.sampleRate, 44100.0);
    EXPECT_EQ(Selected(IDC_RATE), 0);
    Click(IDC_PLAY_BUTTON);
    Click(IDC_RECORD_BUTTON);
    ASSERT_TRUE(dialog_->Engine().Recording());
    const std::wstring recorded = dialog_->Engine().RecordedFiles().at(0);
    const size_t before = fake_.Calls().size();

    Choose(IDC_RATE, 1);
    EXPECT_EQ(fake_.sampleRate, 48000.0);
    // Its file says 44100 Hz: the recording ends rather than take 48000 Hz blocks.
    EXPECT_FALSE(dialog_->Engine().Recording());
    EXPECT_FALSE(Checked(IDC_RECORD_BUTTON));
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_RECORD_MODE)));
    EXPECT_TRUE(DeleteFileW(recorded.c_str()));
    const std::vector<std::string> calls = fake_.Calls();
    const std::vector<std::string> restart(calls.begin() + static_cast<std::ptrdiff_t>(before), calls.end());
    // Stopped and released, then a fresh instance started at the new rate.
    auto at = restart.begin();
    for (const char* call : {"stop", "disposeBuffers", "init", "setSampleRate", "createBuffers", "start"}) {
        at = std::find(at, restart.end(), call);
        EXPECT_NE(at, restart.end()) << call;
    }
    EXPECT_EQ(fake_.CountOf("init"), 2);
    EXPECT_EQ(fake_.References(), 1);
    EXPECT_TRUE(dialog_->Host().Running());
    EXPECT_TRUE(dialog_->Engine().Playing()) << "playing comes back after the restart";
    EXPECT_TRUE(Checked(IDC_PLAY_BUTTON));

    // The rate already in use restarts nothing.
    const size_t restarted = fake_.Calls().size();
    Choose(IDC_RATE, 1);
    EXPECT_EQ(fake_.Calls().size(), restarted);

    Close();
    DWORD saved = 0;
    EXPECT_TRUE(ReadDwordValue(HKEY_CURRENT_USER, kDialogSettingsKey, L"LastSR", saved));
    EXPECT_EQ(saved, 48000u);
    Open();
    EXPECT_EQ(Selected(IDC_RATE), 1);
    EXPECT_EQ(fake_.sampleRate, 48000.0);
}

// A driver held at another rate refuses the one asked for: the selector shows what runs, and
// choosing the refused rate again changes nothing.
TEST_F(QuilletWindowTest, RateTheDriverRefusesGivesWayToTheRateItRuns)
{
    fake_.sampleRate = 48000.0;
    fake_.setSampleRateResult = ASE_NoClock;
    Open();
    EXPECT_EQ(Selected(IDC_RATE), 1);
    Choose(IDC_RATE, 0);
    EXPECT_EQ(Selected(IDC_RATE), 1);
    EXPECT_EQ(fake_.sampleRate, 48000.0);
    EXPECT_EQ(dialog_->Host().SampleRate(), 48000.0);
}

// A driver's reset request reloads it; what the user had switched on comes back, and the
// recording, in an unchanged format, goes on into the same file.
TEST_F(QuilletWindowTest, ResetRequestReloadsTheDriverAndKeepsWhatWasRunning)
{
    Open();
    Click(IDC_PLAY_BUTTON);
    Click(IDC_MONITOR_BUTTON);
    Click(IDC_RECORD_BUTTON);
    ASSERT_TRUE(dialog_->Engine().Recording());
    const std::vector<std::wstring> files = dialog_->Engine().RecordedFiles();

    long reply = 0;
    ASSERT_TRUE(fake_.Message(kAsioResetRequest, 0, reply));
    EXPECT_EQ(reply, 1);
    ASSERT_TRUE(PumpUntil([this] { return fake_.CountOf("start") == 2; }));
    PumpMessages();
    EXPECT_EQ(fake_.CountOf("init"), 2);
    EXPECT_EQ(fake_.References(), 1);
    EXPECT_TRUE(dialog_->Engine().Playing());
    EXPECT_TRUE(dialog_->Engine().Monitoring());
    EXPECT_TRUE(dialog_->Engine().Recording());
    EXPECT_EQ(dialog_->Engine().RecordedFiles(), files);
    EXPECT_TRUE(Checked(IDC_PLAY_BUTTON) && Checked(IDC_MONITOR_BUTTON) && Checked(IDC_RECORD_BUTTON));

    Click(IDC_RECORD_BUTTON);
    EXPECT_FALSE(dialog_->Engine().Recording());
    for (const std::wstring& file : files) EXPECT_TRUE(DeleteFileW(file.c_str()));
}

// The driver reads its preferred size from its per-host key when it is created, as ours does.
TEST_F(QuilletWindowTest, BufferSizeChoiceIsStoredForTheDriverBeforeItIsCreatedAgain)
{
    const std::wstring driverKey = L"Software\\ASIO\\Asio 2.0 Veloran Driver";
    const bool driverKeyExisted = KeyExists(HKEY_LOCAL_MACHINE, driverKey);
    const std::wstring parameters = CAsioHost::PreferredSizeKeyPath();
    const DWORD stored = 512;
    WriteRawValue(HKEY_LOCAL_MACHINE, parameters, L"AsioBuffSizePreferred", REG_DWORD, &stored, sizeof(stored));
    Open([this, parameters](IASIO** driver) {
        DWORD preferred = 0;
        if (ReadDwordValue(HKEY_LOCAL_MACHINE, parameters, L"AsioBuffSizePreferred", preferred))
            fake_.preferredSize = long(preferred);
        return fake_.QueryInterface(kVeloranDriverClsid, reinterpret_cast<void**>(driver));
    });
    EXPECT_EQ(fake_.createdSize, 512);
    Click(IDC_PLAY_BUTTON);

    Choose(IDC_BUFFER_SIZE, 1);
    DWORD written = 0;
    EXPECT_TRUE(ReadDwordValue(HKEY_LOCAL_MACHINE, parameters, L"AsioBuffSizePreferred", written));
    EXPECT_EQ(written, 256u);
    EXPECT_EQ(fake_.CountOf("init"), 2);
    EXPECT_EQ(fake_.createdSize, 256) << "the new instance streams at the size it read";
    EXPECT_EQ(Selected(IDC_BUFFER_SIZE), 1);
    EXPECT_TRUE(dialog_->Engine().Playing());

    Close();
    DeleteTree(HKEY_LOCAL_MACHINE, driverKeyExisted ? parameters.substr(0, parameters.rfind(L'\\')) : driverKey);
}

TEST_F(QuilletWindowTest, WithoutAWorkingDriverTheModesCannotBeSwitchedOn)
{
    const int modeControls[] = {IDC_MONITOR_BUTTON, IDC_PLAY_BUTTON, IDC_RECORD_BUTTON, IDC_MONITOR_MODE,
                                IDC_PLAY_SOURCE,    IDC_RECORD_MODE, IDC_FOLDER_BUTTON, IDC_RATE, IDC_BUFFER_SIZE};
    auto expectLocked = [&] {
        for (int id : modeControls) EXPECT_FALSE(IsWindowEnabled(Item(id))) << id;
        EXPECT_TRUE(Shown(L" " + HostText(138, kHostLanguageEnglish)));
        EXPECT_TRUE(Shown(L" " + HostText(140, kHostLanguageEnglish)));
        ClickWithMouse(Item(IDC_PLAY_BUTTON));
        PumpMessages();
        PointAway();
        EXPECT_FALSE(dialog_->Engine().Playing());
        EXPECT_FALSE(dialog_->SetPlaying(true));
        EXPECT_FALSE(dialog_->SetRecording(true));
        dialog_->SetMonitoringOn(true);
        EXPECT_FALSE(dialog_->Engine().Monitoring());
    };

    Open([](IASIO** driver) {
        *driver = nullptr;
        return REGDB_E_CLASSNOTREG;
    });
    EXPECT_EQ(dialog_->HardwareText(), HostText(125, kHostLanguageEnglish));
    expectLocked();
    Close();

    // A driver without hardware stays loaded and runs, but offers nothing to test.
    fake_.hardwareText = L"No hardware";
    fake_.inputNames.clear();
    fake_.outputNames.clear();
    Open();
    EXPECT_EQ(dialog_->HardwareText(), HostText(103, kHostLanguageEnglish));
    EXPECT_EQ(fake_.CountOf("start"), 1);
    expectLocked();
}

}  // namespace
