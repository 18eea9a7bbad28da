// CPanelStrips: the control panel's eight input and eight output channel strips (fader, meter,
// channel number; DC and monitor buttons on inputs, a link button per output pair). They show
// the ASIO channels of the panel's working copy and send every change at once to the running
// engine, whose slot is found by the port's endpoint path. Everything but the meter worker runs
// on the panel's thread.
#pragma once

#include "LevelWorker.h"
#include "MixaraLikeLevelMeter.h"
#include "MixaraLikeNumberBox.h"
#include "MixaraLikeSliderCtrl.h"

#include "../core/Port.h"

#include <controls/MixaraLikeCheckBox.h>

#include <windows.h>

#include <array>
#include <atomic>
#include <memory>

class CMordane;

class CPanelStrips {
public:
    static constexpr int kStrips = 8;
    static constexpr int kMapSize = 32;
    static constexpr int kInputFader = 7029;
    static constexpr int kOutputFader = 7037;
    static constexpr int kMonitorButton = 7070;
    static constexpr int kDcButton = 7181;
    static constexpr int kLinkButton = 7189;
    static constexpr int kInputNumber = 7193;
    static constexpr int kOutputNumber = 7201;
    // Sent to the dialog when a fader (inputs 1026, outputs 1027) or a number box (1030, 1031)
    // is entered (wParam 1) or left (0); lParam is the control.
    static constexpr UINT kInputFaderHover = WM_USER + 2, kOutputFaderHover = WM_USER + 3;
    static constexpr UINT kInputNumberHover = WM_USER + 6, kOutputNumberHover = WM_USER + 7;

    // ports: the panel's working copy, kMaxPorts records.
    CPanelStrips(CMordane& driver, _sPort* ports);

    // Makes the strips inside the two group boxes of the dialog.
    bool Create(HWND dialog, HWND inputGroup, HWND outputGroup);
    // The maps again from the working copy, the strips from firstPort on; reset clears every
    // strip first.
    void Refresh(int portCount, int firstPort, bool reset);
    // A fader's WM_VSCROLL or a button's command; false when it is none of the strips'.
    bool OnVScroll(HWND control, int value);
    bool OnCommand(int id);

    // Taken when the panel is shown; Cancel puts them back with the driver's own levels.
    void SaveMonitorFlags();
    void RestoreDriver();

    // The meter worker, while the driver runs.
    void StartMeters();
    void StopMeters();
    bool metersRunning() const { return worker_.running(); }
    // The level the worker last gave a strip's meter.
    int MeterLevel(bool output, int strip) const
    {
        return (output ? meters_->outputShown : meters_->inputShown)[strip].load();
    }

    CMixaraLikeSliderCtrl& fader(bool output, int strip) { return (output ? outputs_ : inputs_)[strip].fader; }

    // The working-copy port and channel that the strip owning a fader or number box shows;
    // false when the control is none of those or its strip is empty.
    bool ChannelOf(HWND control, bool& output, int& port, int& channel) const;

private:
    struct Entry {
        int port = -1;
        int channel = -1;
    };
    struct Strip {
        CMixaraLikeSliderCtrl fader;
        CMixaraLikeNumberBox number;
        Entry entry;
    };

    // What the meter worker uses, shared with it so that a worker that outlives its stop never
    // finds it freed: the meters, the output faders they follow, the levels last shown.
    struct MeterBank {
        std::array<CMixaraLikeLevelMeter, kStrips> inputs, outputs;
        std::array<std::atomic<int>, kStrips> outputScale{}, inputShown{}, outputShown{};
    };

    void CreateStrip(Strip& strip, CMixaraLikeLevelMeter& meter, HWND dialog, const RECT& area, int k, bool output);
    void BuildMap(bool output, int portCount);
    void ResetStrips();
    // Disabled, blank, its buttons off.
    void ClearStrip(bool output, int k);
    void SetOutputFader(int k, int value);
    // The strip next to k that shows the port's other channel, or -1.
    int Partner(bool output, int k) const;
    // The driver's port with the same endpoint path, or -1.
    int DriverPort(const _sPort& port, bool output) const;
    bool TwinInput(const _sPort& port) const { return port.inputFormat.channels == 1 && port.input.monoToStereo; }
    void InputFaderMoved(int k, int value);
    void OutputFaderMoved(int k, int value);
    using Buttons = std::array<CMixaraLikeCheckBox, kStrips>;
    using Flags = int32_t (_sPortDirection::*)[2];
    using Apply = void (CMordane::*)(int port, int channel, bool on);
    // DC removal or monitoring of strip k's input channel, in the working copy and the driver.
    void InputFlagClicked(int k, Buttons& buttons, Flags flags, Apply apply);
    void LinkClicked(int j);

    CMordane& driver_;
    _sPort* ports_;
    HWND dialog_ = nullptr;
    std::array<Strip, kStrips> inputs_;
    std::array<Strip, kStrips> outputs_;
    Buttons dc_;
    Buttons monitor_;
    std::array<CMixaraLikeCheckBox, kStrips / 2> link_;
    std::array<Entry, kMapSize> inputMap_;
    std::array<Entry, kMapSize> outputMap_;
    int savedMonitor_[kMaxPorts][2] = {};
    std::shared_ptr<MeterBank> meters_;
    CLevelWorker worker_;
};
