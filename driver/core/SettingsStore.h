// Loading, saving and comparing the driver's settings and per-port blocks in the registry.
#pragma once

#include "OtherDevices.h"
#include "Port.h"
#include "Settings.h"
#include "SettingsKey.h"

class CSettingsStore {
public:
    CSettingsStore(const CSettingsKey& hostKey, const CSettingsKey& defaultKey)
        : hostKey_(hostKey), defaultKey_(defaultKey) {}

    // Reads the settings, applies the stored port blocks and the port order, then the channel
    // rules. Malformed stored data is ignored value by value. Returns 1.
    int LoadSettings(int& portCount, _sPort* ports, _sSettings& settings, bool defaultDevicesOnly) const;
    // 0 exclusive only, 1 exclusive with a shared fallback, 2 shared only; needed before ports
    // are built, since it decides how endpoints are probed.
    int EndpointShareMode() const;
    // 1 unless set to 0: 0 streams every interface through kernel streaming.
    int UseEndpointBackend() const;
    // "ClockSync": 1 resamples every port to the first capturing port's clock; anything else
    // leaves each port on its own, the faster ones dropping packets as they run ahead.
    int ClockSync() const;
    // "UseDefaultDevices": 0 the host's reply to the private message decides whether the default
    // devices take part, 1 they do as well, 2 they alone do (as the replies 291 and 292).
    int UseDefaultDevices() const;
    // "OtherDevices": the host's list when it has one, else the default parameters'; the
    // malformed entries left out.
    std::vector<OtherDevice> OtherDevices() const;
    // Whether "ClockSync" is stored for this host or in the default parameters.
    bool ClockSyncStored() const;
    // The control panel's device choice, written to the host's key: "OtherDevices" entries as
    // FormatOtherDevice makes them, "ClockSync" 0 or 1, "UseDefaultDevices" 0 to 2.
    void WriteOtherDevices(const std::vector<std::wstring>& entries) const;
    void WriteClockSync(bool on) const;
    void WriteUseDefaultDevices(int mode) const;
    // Writes to the host's key only. Returns 1.
    int SaveSettings(int portCount, const _sPort* ports, const _sSettings& settings) const;

private:
    // The host's value, or "Default Parameters" when the host has none (a stored -1 counts as none).
    uint32_t ReadWithFallback(const wchar_t* name, uint32_t defaultValue) const;
    void LoadPortBlocks(int portCount, _sPort* ports) const;
    void OrderPorts(int portCount, _sPort* ports) const;

    const CSettingsKey& hostKey_;
    const CSettingsKey& defaultKey_;
};

// 1 when the candidate configuration differs from the running one in anything that needs the
// host to reset; levels, links, DC removal, mono mix and monitoring do not count.
int SettingsDiffer(int portCount, const _sPort* ports, const _sSettings& settings, int runningPortCount,
                   const _sPort* runningPorts, const _sSettings& runningSettings);
