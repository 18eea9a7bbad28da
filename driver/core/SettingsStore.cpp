#include "SettingsStore.h"

#include "ChannelMap.h"
#include "Text.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNoValue = 0xFFFFFFFF;  // a stored -1

int SampleTypeFromResolution(uint32_t resolution)
{
    switch (resolution) {
    case 24: return ASIOSTInt24LSB;
    case 32: return ASIOSTInt32LSB;
    default: return ASIOSTInt16LSB;
    }
}

uint32_t ResolutionFromSampleType(int sampleType)
{
    switch (sampleType) {
    case ASIOSTInt16LSB: return 16;
    case ASIOSTInt24LSB: return 24;
    default: return 32;
    }
}

bool IsBufferSize(uint32_t frames) { return frames == 128 || frames == 256 || frames == 512 || frames == 1024; }

// Stored blocks may come from anywhere: keep names terminated and levels in percent.
void Sanitize(_sPortDirection& block)
{
    for (auto& name : block.channelName) name[31] = L'\0';
    for (int32_t& level : block.level) level = std::clamp<int32_t>(level, 0, 100);
}

// "Lumo A2 (2)" sorts as "(2)Lumo A2 ", so that the units of one model group by their number.
std::wstring SortKey(const std::wstring& name)
{
    const size_t n = name.size();
    if (n >= 3 && name[n - 1] == L')' && name[n - 3] == L'(') return name.substr(n - 3) + name.substr(0, n - 3);
    return name;
}

void EnableDirectionsWithChannels(_sPort& port)
{
    port.input.enabled = port.inputFormat.channels > 0 ? 1 : 0;
    port.output.enabled = port.outputFormat.channels > 0 ? 1 : 0;
}

}  // namespace

uint32_t CSettingsStore::ReadWithFallback(const wchar_t* name, uint32_t defaultValue) const
{
    uint32_t value = kNoValue;
    if (hostKey_.TryReadDword(name, value) && value != kNoValue) return value;
    value = defaultKey_.ReadDword(name, defaultValue);
    return value == kNoValue ? defaultValue : value;
}

int CSettingsStore::UseDefaultDevices() const
{
    const uint32_t mode = ReadWithFallback(L"UseDefaultDevices", 0);
    return mode <= 2 ? static_cast<int>(mode) : 0;
}

int CSettingsStore::EndpointShareMode() const
{
    const uint32_t mode = ReadWithFallback(L"EndpointShareMode", 1);
    return mode <= 2 ? static_cast<int>(mode) : 1;
}

int CSettingsStore::UseEndpointBackend() const
{
    return ReadWithFallback(L"UseEndpointBackend", 1) != 0 ? 1 : 0;
}

int CSettingsStore::ClockSync() const { return ReadWithFallback(L"ClockSync", 0) == 1 ? 1 : 0; }

bool CSettingsStore::ClockSyncStored() const
{
    uint32_t value = 0;
    return hostKey_.TryReadDword(L"ClockSync", value) || defaultKey_.TryReadDword(L"ClockSync", value);
}

void CSettingsStore::WriteOtherDevices(const std::vector<std::wstring>& entries) const
{
    hostKey_.WriteMultiString(L"OtherDevices", entries);
}

void CSettingsStore::WriteClockSync(bool on) const { hostKey_.WriteDword(L"ClockSync", on ? 1 : 0); }

void CSettingsStore::WriteUseDefaultDevices(int mode) const
{
    hostKey_.WriteDword(L"UseDefaultDevices", uint32_t(std::clamp(mode, 0, 2)));
}

std::vector<OtherDevice> CSettingsStore::OtherDevices() const
{
    std::vector<std::wstring> entries;
    if (!hostKey_.ReadMultiString(L"OtherDevices", entries)) defaultKey_.ReadMultiString(L"OtherDevices", entries);
    return ParseOtherDevices(entries);
}

int CSettingsStore::LoadSettings(int& portCount, _sPort* ports, _sSettings& settings, bool defaultDevicesOnly) const
{
    settings.sampleRate = 44100.0;
    settings.sampleType = SampleTypeFromResolution(ReadWithFallback(L"Resolution", 32));

    uint32_t frames = ReadWithFallback(L"AsioBuffSizePreferred", 512);
    if (!IsBufferSize(frames)) frames = 512;
    hostKey_.WriteDword(L"AsioBuffSizePreferred", frames);
    settings.preferredBufferSize = static_cast<int>(frames);

    const auto readInt = [this](const wchar_t* name, int defaultValue) {
        return static_cast<int>(hostKey_.ReadDword(name, static_cast<uint32_t>(defaultValue)));
    };
    settings.latencyIn = readInt(L"ASIOLatency_In", 1);
    settings.latencyOut = readInt(L"ASIOLatency_Out", 2);
    if (settings.latencyOut < settings.latencyIn) settings.latencyOut = settings.latencyIn;
    settings.outputBuffersMono = readInt(L"AudioOutputNbBuffers_Mono", 32);
    settings.outputBuffersMulti = readInt(L"AudioOutputNbBuffers_Multi", 64);
    settings.inputBuffersMono = readInt(L"AudioInputNbBuffers_Mono", 16);
    settings.inputBuffersMulti = readInt(L"AudioInputNbBuffers_Multi", 16);
    settings.threadPriority = readInt(L"ThreadAudioPriority", 15);
    settings.outputPriority = readInt(L"AudioOutputPriority", -1);
    settings.inputPriority = readInt(L"AudioInputPriority", -1);
    settings.useEndpointBackend = UseEndpointBackend();
    settings.endpointShareMode = EndpointShareMode();
    settings.clockSync = ClockSync();

    if (portCount <= 0) return 1;
    LoadPortBlocks(portCount, ports);
    if (defaultDevicesOnly && portCount == 1) {
        ports[0].input.enabled = 1;
        ports[0].output.enabled = 1;
    }
    OrderPorts(portCount, ports);
    EnsureOneActive(ports, portCount);
    LimitChannels(ports, portCount);
    return 1;
}

void CSettingsStore::LoadPortBlocks(int portCount, _sPort* ports) const
{
    for (int i = 0; i < portCount; ++i) {
        _sPort& port = ports[i];
        const struct {
            const wchar_t* prefix;
            const std::wstring& path;
            _sPortDirection& block;
        } directions[] = {{L"Inp_", port.capturePath, port.input}, {L"Out_", port.renderPath, port.output}};
        for (const auto& d : directions) {
            _sPortDirection stored = d.block;
            if (hostKey_.ReadBinary(d.prefix + d.path, &stored, sizeof(stored)) == 0) continue;
            Sanitize(stored);
            d.block = stored;
        }
    }
}

void CSettingsStore::OrderPorts(int portCount, _sPort* ports) const
{
    std::vector<_sPort> ordered;
    ordered.reserve(portCount);

    std::vector<std::wstring> entries;
    if (hostKey_.ReadPortOrders(entries)) {
        std::vector<std::wstring> unique;
        for (const std::wstring& entry : entries)
            if (std::find(unique.begin(), unique.end(), entry) == unique.end()) unique.push_back(entry);
        int matches = 0;
        for (const std::wstring& entry : unique)
            for (int i = 0; i < portCount; ++i) matches += ports[i].name == entry;
        if (matches == portCount) {
            for (const std::wstring& entry : unique) {
                for (int i = 0; i < portCount; ++i) {
                    if (ports[i].name != entry) continue;
                    _sPort port = ports[i];
                    if (port.inputFormat.channels <= 0) port.input.enabled = 0;
                    if (port.outputFormat.channels <= 0) port.output.enabled = 0;
                    ordered.push_back(std::move(port));
                }
            }
        }
    }

    if (static_cast<int>(ordered.size()) != portCount) {
        // Each port is placed once, even when two ports share a key. The other devices the user
        // chose follow the family's interfaces in the order they were chosen.
        ordered.clear();
        std::vector<std::wstring> keys;
        for (int i = 0; i < portCount; ++i) {
            const std::wstring key = SortKey(ports[i].name);
            if (!ports[i].otherDevice && std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
        }
        BubbleSortCaseInsensitive(keys);
        const auto place = [&](const _sPort& built) {
            _sPort port = built;
            EnableDirectionsWithChannels(port);
            ordered.push_back(std::move(port));
        };
        for (const std::wstring& key : keys)
            for (int i = 0; i < portCount; ++i)
                if (!ports[i].otherDevice && SortKey(ports[i].name) == key) place(ports[i]);
        for (int i = 0; i < portCount; ++i)
            if (ports[i].otherDevice) place(ports[i]);
    }

    for (int i = 0; i < portCount; ++i) ports[i] = std::move(ordered[i]);
}

int CSettingsStore::SaveSettings(int portCount, const _sPort* ports, const _sSettings& settings) const
{
    std::vector<std::wstring> names;
    for (int i = 0; i < portCount; ++i) names.push_back(ports[i].name);
    hostKey_.WritePortOrders(names);

    for (int i = 0; i < portCount; ++i) {
        if (ports[i].name.empty()) continue;
        hostKey_.WriteBinary(L"Inp_" + ports[i].capturePath, &ports[i].input, sizeof(_sPortDirection));
        hostKey_.WriteBinary(L"Out_" + ports[i].renderPath, &ports[i].output, sizeof(_sPortDirection));
    }

    hostKey_.WriteDword(L"Resolution", ResolutionFromSampleType(settings.sampleType));
    const struct {
        const wchar_t* name;
        int value;
    } values[] = {
        {L"ASIOLatency_In", settings.latencyIn},
        {L"ASIOLatency_Out", settings.latencyOut},
        {L"AudioOutputNbBuffers_Mono", settings.outputBuffersMono},
        {L"AudioOutputNbBuffers_Multi", settings.outputBuffersMulti},
        {L"AudioInputNbBuffers_Mono", settings.inputBuffersMono},
        {L"AudioInputNbBuffers_Multi", settings.inputBuffersMulti},
        {L"ThreadAudioPriority", settings.threadPriority},
        {L"AudioOutputPriority", settings.outputPriority},
        {L"AudioInputPriority", settings.inputPriority},
        {L"AsioBuffSizePreferred", settings.preferredBufferSize},
    };
    for (const auto& v : values) hostKey_.WriteDword(v.name, static_cast<uint32_t>(v.value));
    return 1;
}

int SettingsDiffer(int portCount, const _sPort* ports, const _sSettings& settings, int runningPortCount,
                   const _sPort* runningPorts, const _sSettings& runningSettings)
{
    if (portCount != runningPortCount) return 1;
    for (int i = 0; i < kMaxPorts; ++i) {
        const _sPort& a = ports[i];
        const _sPort& b = runningPorts[i];
        if (a.name != b.name || a.input.enabled != b.input.enabled || a.output.enabled != b.output.enabled ||
            a.input.monoToStereo != b.input.monoToStereo)
            return 1;
    }
    const _sSettings& a = settings;
    const _sSettings& b = runningSettings;
    return a.preferredBufferSize != b.preferredBufferSize || a.latencyIn != b.latencyIn ||
           a.latencyOut != b.latencyOut || a.outputBuffersMono != b.outputBuffersMono ||
           a.outputBuffersMulti != b.outputBuffersMulti || a.inputBuffersMono != b.inputBuffersMono ||
           a.inputBuffersMulti != b.inputBuffersMulti || a.threadPriority != b.threadPriority ||
           a.inputPriority != b.inputPriority || a.outputPriority != b.outputPriority ||
           a.sampleType != b.sampleType || a.useEndpointBackend != b.useEndpointBackend ||
           a.endpointShareMode != b.endpointShareMode || a.clockSync != b.clockSync;
}
