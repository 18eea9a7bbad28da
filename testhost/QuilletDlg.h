// The test host's window: what the driver found, its inputs and outputs, the monitoring, play
// and record modes, the sample rate and buffer size, and the processor usage. It owns the ASIO
// host layer and the test engine.
#pragma once

#include "AsioHost.h"
#include "ChannelRows.h"
#include "ComApartment.h"
#include "DialogBackground.h"
#include "DialogLayout.h"
#include "DialogSettings.h"
#include <controls/DialogWindow.h>
#include "ModeButton.h"
#include "StartupOptions.h"
#include "TestEngine.h"
#include "ToolTips.h"

#include <controls/ColorStatic.h>
#include <controls/ComboBoxBuddy.h>
#include <controls/MixaraLikeCheckBox.h>
#include <controls/MixaraLikeStaticFrameAuto.h>

#include <array>
#include <functional>
#include <memory>

class CCpuUsage;

class CQuilletDlg : private CDialogWindow {
public:
    // Whether a key is down; the keyboard's state (GetAsyncKeyState) unless a test puts its own.
    using KeyDownFunction = std::function<bool(int virtualKey)>;

    explicit CQuilletDlg(const StartupOptions& options, DriverFactory factory = {});
    ~CQuilletDlg() override;

    // Template 102, modal; the result of the button that closed it.
    INT_PTR DoModal(HWND parent = nullptr);
    // Modeless, shown unless hidden; the caller pumps the messages.
    HWND Create(HWND parent);
    using CDialogWindow::hwnd;

    // Valid while the window exists.
    CAsioHost& Host() { return *host_; }
    CTestEngine& Engine() { return engine_; }
    // The start-up values, with the key chord read when the window was made.
    const StartupOptions& Options() const { return options_; }
    // The hardware line as shown.
    std::wstring HardwareText() const;

    // For a scripted run: the window never shows and the user's saved settings stay as they were.
    void SetHidden(bool hidden) { hidden_ = hidden; }
    // Called once the driver has been loaded and started after the window opened.
    void SetStartedHandler(std::function<void()> handler) { started_ = std::move(handler); }
    void SetKeyboard(KeyDownFunction keyDown) { keyDown_ = std::move(keyDown); }

    // What the user can do, through the same code as the controls. Each does nothing while its
    // control is disabled; the mode setters return whether the mode is now as asked.
    void SelectPlaySource(int value);
    void SelectRecordMode(RecordMode mode);
    bool SetPlaying(bool on);
    bool SetRecording(bool on);
    void SetMonitoringOn(bool on);

private:
    enum class Mode { Monitoring, Playing, Recording };

    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnInitDialog();
    void BindControls();
    void ReadKeyChord();
    void ApplyColoursAndImages();
    void ApplyTexts();
    void OnStartup();
    void OnCommand(int id, int code);
    void OnTimer(UINT_PTR id);
    bool OnSetCursor(HWND window);
    void OnDestroy();

    // The ASIO host layer as the window shows it.
    bool LoadDriver(long preferred);
    void BuildChannelRows();
    void StartAsio();
    void RestartAsio(long preferred);
    void EnableDriverControls(bool enabled);

    void OnMonitorButton();
    void OnMonitorModeChange();
    void OnPlayButton();
    void OnRecordButton();
    void OnPlaySourceChange();
    void OnRecordModeChange();
    void OnFolderButton();
    void OnRateChange();
    void OnBufferSizeChange();
    void OnToggle(int id);
    void OpenWebPage() const;

    void UpdateButtonState(Mode mode);
    void UpdateStateTooltips();
    void RefillPlaySources();
    void RepaintChannelArea();
    int ChosenRate() const;
    bool ModeOn(Mode mode) const;
    CModeButton& ButtonOf(Mode mode);

    CComApartment com_;
    StartupOptions options_;
    DriverFactory factory_;
    HINSTANCE module_;
    KeyDownFunction keyDown_;
    HCURSOR hand_;
    HICON icon_;
    HICON smallIcon_;
    CDialogBackground background_;
    CTestEngine engine_;
    std::unique_ptr<CAsioHost> host_;
    std::unique_ptr<CCpuUsage> cpu_;

    // Frames: main, inputs, outputs, monitoring, play, record, settings.
    std::array<CMixaraLikeStaticFrameAuto, 7> frames_;
    CMixaraLikeStaticFrameAuto& inputsFrame_ = frames_[1];
    CMixaraLikeStaticFrameAuto& outputsFrame_ = frames_[2];
    CColorStatic explanation_{kTestHostLabelFaces};
    CColorStatic hardwareLabel_{kTestHostLabelFaces};
    CColorStatic hardwareText_{kTestHostLabelFaces};
    CColorStatic folderLabel_{kTestHostLabelFaces};
    CColorStatic folderText_{kTestHostLabelFaces};
    CColorStatic rateLabel_{kTestHostLabelFaces};
    CColorStatic bufferLabel_{kTestHostLabelFaces};
    CComboBoxBuddy monitorMode_;
    CComboBoxBuddy playSource_;
    CComboBoxBuddy recordMode_;
    CComboBoxBuddy rate_;
    CComboBoxBuddy bufferSize_;
    CMixaraLikeCheckBox panelButton_;
    CMixaraLikeCheckBox folderButton_;
    CModeButton monitorButton_;
    CModeButton playButton_;
    CModeButton recordButton_;
    CChannelRows rows_;
    CDialogLayout layout_;
    CToolTips tooltips_;

    DialogSettings settings_;
    UINT privateMessage_ = 0;
    int currentRate_ = 44100;
    long currentBufferSize_ = 0;   // none until the driver's preferred size is one of the offered
    bool hidden_ = false;
    std::function<void()> started_;
};
