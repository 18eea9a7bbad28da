#include "PanelStrips.h"

#include "../core/Mordane.h"

#include <resources/driver/PanelBitmapIds.h>

#include <algorithm>
#include <vector>

namespace {

constexpr COLORREF kFaderLine = RGB(46, 76, 109);
constexpr COLORREF kBackground = RGB(58, 87, 115);
constexpr COLORREF kMeterOff[3] = {RGB(0, 24, 47), RGB(24, 183, 173), RGB(40, 67, 94)};
constexpr COLORREF kMeterLine[3] = {RGB(29, 55, 79), RGB(76, 235, 223), RGB(49, 77, 104)};
constexpr UINT kButtonHover = WM_USER + 4, kLinkHover = WM_USER + 5;
constexpr int kThumbMargin = 19, kFaderWidth = 24, kMeterWidth = 3, kTitleSpace = 16;
// The meter's frames come from a ramp 178 pixels high: the fader is at most that plus its gaps.
constexpr int kMaxFaderHeight = 185;
// Below the fader: the number, then the DC or link button, then the monitor button.
constexpr int kNumberTop = 4, kButtonTop = 26, kMonitorTop = 40;
constexpr DWORD kStaticStyle = WS_CHILD | WS_VISIBLE | SS_NOTIFY;

RECT ClientRectOf(HWND window, HWND dialog)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

CPanelStrips::CPanelStrips(CMordane& driver, _sPort* ports)
    : driver_(driver), ports_(ports), meters_(std::make_shared<MeterBank>())
{
    for (std::atomic<int>& scale : meters_->outputScale) scale.store(100);
}

bool CPanelStrips::Create(HWND dialog, HWND inputGroup, HWND outputGroup)
{
    dialog_ = dialog;
    if (!inputGroup || !outputGroup) return false;
    const RECT inputArea = ClientRectOf(inputGroup, dialog), outputArea = ClientRectOf(outputGroup, dialog);
    for (int k = 0; k < kStrips; ++k) {
        CreateStrip(inputs_[k], meters_->inputs[k], dialog, inputArea, k, false);
        CreateStrip(outputs_[k], meters_->outputs[k], dialog, outputArea, k, true);
        const RECT fader = ClientRectOf(inputs_[k].fader.hwnd(), dialog);
        const int x = fader.left + 3, y = fader.bottom + kButtonTop;
        dc_[k].Create(L"Static", L"", kStaticStyle, RECT{x, y, x + 20, y + 12}, dialog, kDcButton + k);
        dc_[k].SetBitmaps(IDB_DC_ON, IDB_DC_OFF, IDB_DC_GREY);
        dc_[k].SetNotifyTarget(dialog, kButtonHover);
        monitor_[k].Create(L"Static", L"", kStaticStyle & ~WS_VISIBLE,
                           RECT{x + 3, fader.bottom + kMonitorTop, x + 17, fader.bottom + kMonitorTop + 14}, dialog,
                           kMonitorButton + k);
        monitor_[k].SetBitmaps(IDB_MONITOR_ON, IDB_MONITOR_OFF, IDB_MONITOR_OFF);
        monitor_[k].SetNotifyTarget(dialog, kButtonHover);
    }
    for (int j = 0; j < kStrips / 2; ++j) {
        const RECT fader = ClientRectOf(outputs_[2 * j].fader.hwnd(), dialog);
        const int width = (outputArea.right - outputArea.left - 8) / kStrips;
        const int x = fader.left + width / 2, y = fader.bottom + kButtonTop;
        link_[j].Create(L"Static", L"", kStaticStyle, RECT{x, y, x + 24, y + 12}, dialog, kLinkButton + j);
        link_[j].SetBitmaps(IDB_LINK_ON, IDB_LINK_OFF, IDB_LINK_GREY);
        link_[j].SetNotifyTarget(dialog, kLinkHover);
    }
    ResetStrips();
    return true;
}

void CPanelStrips::CreateStrip(Strip& strip, CMixaraLikeLevelMeter& meter, HWND dialog, const RECT& area, int k,
                               bool output)
{
    const int width = (area.right - area.left - 8) / kStrips;
    const int left = area.left + 4 + k * width, top = area.top + kTitleSpace;
    const int bottom = top + std::min<int>(kMaxFaderHeight, area.bottom - top - kMonitorTop - 18);
    // The fader gives up its right edge to the meter.
    const RECT fader{left, top, left + kFaderWidth - kMeterWidth, bottom};
    strip.fader.Create(L"Static", L"", kStaticStyle, fader, dialog, (output ? kOutputFader : kInputFader) + k);
    strip.fader.SetRange(0, 100);
    strip.fader.SetValue(100);
    strip.fader.SetWheelStep(10);
    strip.fader.SetTrackBitmap(IDB_FADER_TRACK);
    strip.fader.SetThumbBitmaps(IDB_FADER_THUMB, IDB_FADER_THUMB_HOT, IDB_FADER_THUMB_GREY, kThumbMargin);
    strip.fader.SetLineColour(kFaderLine);
    strip.fader.SetBackColour(kBackground);
    strip.fader.SetNotifyTarget(dialog, output ? kOutputFaderHover : kInputFaderHover);

    int meterTop = fader.top + 3, meterBottom = fader.bottom - 4;
    if ((meterBottom - meterTop) % 2) --meterBottom;
    const RECT bar{fader.right, meterTop, fader.right + kMeterWidth, meterBottom};
    meter.Create(L"Static", L"", WS_CHILD | WS_VISIBLE, bar, dialog, 0xFFFF);
    meter.BuildFrames(kMeterOff, kMeterLine);
    meter.SetFallOff(true, 10);

    const RECT number{left, bottom + kNumberTop, left + 27, bottom + kNumberTop + 20};
    strip.number.Create(L"Static", L"", kStaticStyle, number, dialog, (output ? kOutputNumber : kInputNumber) + k);
    strip.number.SetDigitBitmaps(IDB_NUMBER_WIDE_FIRST, IDB_NUMBER_WIDE_BLANK);
    strip.number.SetNotifyTarget(dialog, output ? kOutputNumberHover : kInputNumberHover);
}

void CPanelStrips::BuildMap(bool output, int portCount)
{
    auto& map = output ? outputMap_ : inputMap_;
    map.fill(Entry{});
    int n = 0;
    for (int p = 0; p < portCount; ++p) {
        const _sPort& port = ports_[p];
        const _sPortDirection& direction = output ? port.output : port.input;
        if (!direction.enabled) continue;
        const int channels = output ? port.outputFormat.channels : TwinInput(port) ? 2 : port.inputFormat.channels;
        for (int c = 0; c < std::min(channels, 2) && n < kMapSize; ++c) map[n++] = Entry{p, c};
    }
}

void CPanelStrips::ResetStrips()
{
    for (int k = 0; k < kStrips; ++k) {
        ClearStrip(false, k);
        ClearStrip(true, k);
    }
}

void CPanelStrips::ClearStrip(bool output, int k)
{
    Strip& strip = (output ? outputs_ : inputs_)[k];
    strip.entry = Entry{};
    strip.fader.SetThumbBitmaps(IDB_FADER_THUMB, IDB_FADER_THUMB_HOT, IDB_FADER_THUMB_GREY, kThumbMargin);
    EnableWindow(strip.fader.hwnd(), FALSE);
    EnableWindow((output ? meters_->outputs : meters_->inputs)[k].hwnd(), FALSE);
    strip.number.ShowNumber(0);
    EnableWindow(strip.number.hwnd(), FALSE);
    const auto clear = [](CMixaraLikeCheckBox& button) {
        button.SetCheck(false);
        EnableWindow(button.hwnd(), FALSE);
    };
    if (output) {
        // The pair's link button belongs to its first strip.
        if (k % 2 == 0) clear(link_[k / 2]);
        return;
    }
    clear(dc_[k]);
    clear(monitor_[k]);
    ShowWindow(monitor_[k].hwnd(), SW_HIDE);
}

void CPanelStrips::Refresh(int portCount, int firstPort, bool reset)
{
    if (!dialog_) return;
    if (reset) ResetStrips();
    BuildMap(false, portCount);
    BuildMap(true, portCount);
    // The strips start at the first channel of the first port shown.
    const auto before = [firstPort](const std::array<Entry, kMapSize>& map) {
        int n = 0;
        while (n < kMapSize && map[n].port >= 0 && map[n].port < firstPort) ++n;
        return n;
    };
    const int inputsBefore = before(inputMap_), outputsBefore = before(outputMap_);

    for (int k = 0; k < kStrips; ++k) {
        Strip& strip = inputs_[k];
        const int index = inputsBefore + k;
        strip.entry = index < kMapSize ? inputMap_[index] : Entry{};
        if (strip.entry.port < 0) {
            ClearStrip(false, k);
            continue;
        }
        const _sPort& port = ports_[strip.entry.port];
        const int c = strip.entry.channel;
        dc_[k].SetCheck(port.input.dcRemoval[c] != 0);
        EnableWindow(dc_[k].hwnd(), TRUE);
        strip.number.ShowNumber(index + 1);
        EnableWindow(meters_->inputs[k].hwnd(), TRUE);
        // A channel the host uses offers monitoring and carries the red light.
        const bool active = driver_.ChannelInUse(true, port.capturePath, c);
        monitor_[k].SetCheck(active && port.input.monitor[c] != 0);
        EnableWindow(monitor_[k].hwnd(), active);
        if (active)
            strip.fader.SetThumbBitmaps(IDB_INPUT_THUMB_ACTIVE, IDB_INPUT_THUMB_ACTIVE_HOT, IDB_FADER_THUMB_GREY,
                                        kThumbMargin);
        else
            strip.fader.SetThumbBitmaps(IDB_FADER_THUMB, IDB_FADER_THUMB_HOT, IDB_FADER_THUMB_GREY, kThumbMargin);
        ShowWindow(monitor_[k].hwnd(), active ? SW_SHOW : SW_HIDE);
        EnableWindow(strip.fader.hwnd(), TRUE);
        strip.fader.SetValue(port.input.level[c]);
    }
    for (int k = 0; k < kStrips; ++k) {
        Strip& strip = outputs_[k];
        const int index = outputsBefore + k;
        strip.entry = index < kMapSize ? outputMap_[index] : Entry{};
        if (strip.entry.port < 0) {
            ClearStrip(true, k);
            continue;
        }
        const _sPort& port = ports_[strip.entry.port];
        const int c = strip.entry.channel;
        strip.number.ShowNumber(index + 1);
        EnableWindow(meters_->outputs[k].hwnd(), TRUE);
        if (k % 2 == 0) {
            link_[k / 2].SetCheck(port.output.linked[c] != 0);
            EnableWindow(link_[k / 2].hwnd(), TRUE);
        }
        if (driver_.ChannelInUse(false, port.renderPath, c))
            strip.fader.SetThumbBitmaps(IDB_OUTPUT_THUMB_ACTIVE, IDB_OUTPUT_THUMB_ACTIVE_HOT, IDB_FADER_THUMB_GREY,
                                        kThumbMargin);
        else
            strip.fader.SetThumbBitmaps(IDB_FADER_THUMB, IDB_FADER_THUMB_HOT, IDB_FADER_THUMB_GREY, kThumbMargin);
        EnableWindow(strip.fader.hwnd(), TRUE);
        SetOutputFader(k, port.output.level[c]);
    }
    // The worker's routes follow the strips.
    if (reset && worker_.running()) {
        StopMeters();
        StartMeters();
    }
}

void CPanelStrips::SetOutputFader(int k, int value)
{
    outputs_[k].fader.SetValue(value);
    meters_->outputScale[k].store(outputs_[k].fader.GetValue());
}

bool CPanelStrips::ChannelOf(HWND control, bool& output, int& port, int& channel) const
{
    for (const bool side : {false, true}) {
        for (const Strip& strip : side ? outputs_ : inputs_) {
            if (strip.fader.hwnd() != control && strip.number.hwnd() != control) continue;
            if (strip.entry.port < 0) return false;
            output = side;
            port = strip.entry.port;
            channel = strip.entry.channel;
            return true;
        }
    }
    return false;
}

int CPanelStrips::Partner(bool output, int k) const
{
    const auto& strips = output ? outputs_ : inputs_;
    const Entry entry = strips[k].entry;
    const int other = entry.channel == 0 ? k + 1 : k - 1;
    if (entry.port < 0 || other < 0 || other >= kStrips) return -1;
    const Entry next = strips[other].entry;
    return next.port == entry.port && next.channel == 1 - entry.channel ? other : -1;
}

int CPanelStrips::DriverPort(const _sPort& port, bool output) const
{
    const std::wstring& path = output ? port.renderPath : port.capturePath;
    if (path.empty()) return -1;
    for (int i = 0; i < driver_.portCount(); ++i)
        if ((output ? driver_.ports()[i].renderPath : driver_.ports()[i].capturePath) == path) return i;
    return -1;
}

bool CPanelStrips::OnVScroll(HWND control, int value)
{
    for (int k = 0; k < kStrips; ++k) {
        if (control == inputs_[k].fader.hwnd()) {
            InputFaderMoved(k, value);
            return true;
        }
        if (control == outputs_[k].fader.hwnd()) {
            OutputFaderMoved(k, value);
            return true;
        }
    }
    return false;
}

bool CPanelStrips::OnCommand(int id)
{
    if (id >= kDcButton && id < kDcButton + kStrips)
        InputFlagClicked(id - kDcButton, dc_, &_sPortDirection::dcRemoval, &CMordane::ApplyDcRemoval);
    else if (id >= kMonitorButton && id < kMonitorButton + kStrips)
        InputFlagClicked(id - kMonitorButton, monitor_, &_sPortDirection::monitor, &CMordane::ApplyMonitor);
    else if (id >= kLinkButton && id < kLinkButton + kStrips / 2) LinkClicked(id - kLinkButton);
    else return false;
    return true;
}

void CPanelStrips::InputFaderMoved(int k, int value)
{
    const Entry entry = inputs_[k].entry;
    if (entry.port < 0) return;
    _sPort& port = ports_[entry.port];
    value = std::clamp(value, 0, 100);
    port.input.level[entry.channel] = value;
    if (TwinInput(port)) {
        port.input.level[1 - entry.channel] = value;
        const int other = Partner(false, k);
        if (other >= 0) inputs_[other].fader.SetValue(value);
    }
    const int slot = driver_.running() ? DriverPort(port, false) : -1;
    if (slot >= 0) driver_.ApplyInputLevels(slot, port.input.level[0], port.input.level[1]);
}

void CPanelStrips::OutputFaderMoved(int k, int value)
{
    const Entry entry = outputs_[k].entry;
    if (entry.port < 0) return;
    _sPort& port = ports_[entry.port];
    value = std::clamp(value, 0, 100);
    port.output.level[entry.channel] = value;
    meters_->outputScale[k].store(value);
    if (port.output.linked[entry.channel] && port.outputFormat.channels == 2) {
        port.output.level[1 - entry.channel] = value;
        const int other = Partner(true, k);
        if (other >= 0) SetOutputFader(other, value);
    }
    const int slot = driver_.running() ? DriverPort(port, true) : -1;
    if (slot >= 0) driver_.ApplyOutputLevels(slot, port.output.level[0], port.output.level[1]);
}

void CPanelStrips::InputFlagClicked(int k, Buttons& buttons, Flags flags, Apply apply)
{
    const Entry entry = inputs_[k].entry;
    if (entry.port < 0) return;
    _sPort& port = ports_[entry.port];
    const bool on = buttons[k].GetCheck();
    const int slot = DriverPort(port, false);
    // A one-channel input shown twice switches both of its strips.
    const bool twin = TwinInput(port);
    const int other = twin ? Partner(false, k) : -1;
    if (other >= 0) buttons[other].SetCheck(on);
    for (const int c : {entry.channel, 1 - entry.channel}) {
        if (c != entry.channel && !twin) break;
        (port.input.*flags)[c] = on ? 1 : 0;
        if (slot >= 0) (driver_.*apply)(slot, c, on);
    }
}

void CPanelStrips::LinkClicked(int j)
{
    const int k = 2 * j;
    const Entry entry = outputs_[k].entry;
    if (entry.port < 0) return;
    _sPort& port = ports_[entry.port];
    const bool on = link_[j].GetCheck();
    const bool was = port.output.linked[entry.channel] != 0;
    // Only the port's own two channels are linked.
    port.output.linked[0] = port.output.linked[1] = on ? 1 : 0;
    if (was || !on || port.outputFormat.channels != 2) return;
    const int level = std::max(port.output.level[0], port.output.level[1]);
    port.output.level[0] = port.output.level[1] = level;
    SetOutputFader(k, level);
    const int other = Partner(true, k);
    if (other >= 0) SetOutputFader(other, level);
    const int slot = driver_.running() ? DriverPort(port, true) : -1;
    if (slot >= 0) driver_.ApplyOutputLevels(slot, level, level);
}

void CPanelStrips::SaveMonitorFlags()
{
    for (int i = 0; i < kMaxPorts; ++i)
        for (int c = 0; c < 2; ++c)
            savedMonitor_[i][c] = i < driver_.portCount() ? driver_.ports()[i].input.monitor[c] : 0;
}

void CPanelStrips::RestoreDriver()
{
    const bool running = driver_.running();
    for (int i = 0; i < driver_.portCount(); ++i) {
        const _sPort& own = driver_.ports()[i];
        driver_.ApplyInputLevels(i, own.input.level[0], own.input.level[1]);
        driver_.ApplyOutputLevels(i, own.output.level[0], own.output.level[1]);
        if (running) driver_.ApplyMonoMix(i, own.input.monoMix != 0);
        for (int c = 0; c < 2; ++c) {
            driver_.ApplyDcRemoval(i, c, own.input.dcRemoval[c] != 0);
            driver_.ApplyMonitor(i, c, savedMonitor_[i][c] != 0);
        }
    }
}

void CPanelStrips::StartMeters()
{
    if (!dialog_ || worker_.running() || !driver_.running()) return;
    std::vector<CLevelWorker::Route> routes;
    for (int k = 0; k < kStrips; ++k) {
        const Entry in = inputs_[k].entry;
        const int inSlot = in.port >= 0 && ports_[in.port].input.enabled ? DriverPort(ports_[in.port], false) : -1;
        if (inSlot >= 0) {
            const CEngineSlot& slot = driver_.engineSlot(inSlot);
            routes.push_back({in.channel == 0 ? &slot.meterLeft : &slot.meterRight, 1, 0, &meters_->inputs[k], nullptr,
                              &meters_->inputShown[k]});
        }
        const Entry out = outputs_[k].entry;
        const int outSlot = out.port >= 0 && ports_[out.port].output.enabled ? DriverPort(ports_[out.port], true) : -1;
        if (outSlot >= 0) {
            const int stride = std::clamp(driver_.ports()[outSlot].outputFormat.channels, 1, 2);
            routes.push_back({&driver_.engineSlot(outSlot).meterRender, stride, std::min(out.channel, stride - 1),
                              &meters_->outputs[k], &meters_->outputScale[k], &meters_->outputShown[k]});
        }
    }
    worker_.Start(std::move(routes), driver_.settings().captureFrames, meters_);
}

void CPanelStrips::StopMeters() { worker_.Stop(); }
