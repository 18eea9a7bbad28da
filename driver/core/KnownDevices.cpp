#include "KnownDevices.h"

#include "ChannelMap.h"
#include "SettingsKey.h"
#include "Text.h"

#include "../devices/DeviceAccess.h"
#include "../ui/Languages.h"

#include <algorithm>
#include <cwchar>

namespace {

bool Contains(const std::vector<_sKnownDevices>& list, const std::wstring& path)
{
    return std::any_of(list.begin(), list.end(), [&](const _sKnownDevices& r) { return r.path == path; });
}

}  // namespace

void NumberDuplicateNames(std::vector<_sKnownDevices>& list)
{
    for (size_t i = 0; i < list.size(); ++i) {
        const std::wstring name = list[i].name;
        const auto sameName = [&](const _sKnownDevices& r) { return r.name == name; };
        if (std::count_if(list.begin(), list.end(), sameName) < 2) continue;
        int counter = 1;
        for (_sKnownDevices& r : list)
            if (r.name == name) r.name = name + L" (" + std::to_wstring(counter++) + L")";
    }
}

std::vector<std::wstring> CKnownDevices::SortEndpoints(CDeviceAccess& access,
                                                       const std::vector<std::wstring>& paths) const
{
    // Groups the codecs behind one hub, then by model, then by discovery order.
    struct Keyed {
        std::wstring key;
        size_t index;
    };
    std::vector<Keyed> keyed;
    for (size_t i = 0; i < paths.size(); ++i) {
        std::wstring model, hub;
        int row = -1, nonOptimal = 0;
        if (!access.IdentifyDevice(paths[i], table_, model, row, nonOptimal, hub)) continue;
        wchar_t position[16];
        swprintf(position, 16, L"%02d", static_cast<int>(i));
        keyed.push_back({hub + L"_" + model + L"_" + position, i});
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& a, const Keyed& b) { return _wcsicmp(a.key.c_str(), b.key.c_str()) < 0; });
    std::vector<std::wstring> sorted;
    for (const Keyed& k : keyed) sorted.push_back(paths[k.index]);
    return sorted;
}

void CKnownDevices::AddIdentified(CDeviceAccess& access, const std::vector<std::wstring>& paths, bool capture)
{
    std::vector<_sKnownDevices>& list = capture ? capture_ : render_;
    for (const std::wstring& path : paths) {
        _sKnownDevices record;
        std::wstring hub;
        if (!access.IdentifyDevice(path, table_, record.name, record.row, record.nonOptimalPort, hub)) continue;
        if (Contains(list, path) || !Probe(access, capture, path, record) || record.channels == 0) continue;
        record.channels =
            table_.ChannelsFor(record.row, capture ? Direction::Capture : Direction::Render, record.channels);
        list.push_back(std::move(record));
    }
}

std::wstring CKnownDevices::DefaultDeviceName() const
{
    // In the language the channel names are made in, stored or not.
    return languages_.ResolveLanguage() == kLanguageFrench ? L"Périph. par défaut" : L"Def. Sound Device";
}

bool CKnownDevices::AddDefault(CDeviceAccess& access, bool capture, int& waveId)
{
    std::vector<_sKnownDevices>& list = capture ? capture_ : render_;
    std::wstring path, friendlyName;
    const bool found = capture ? access.GetDefaultCaptureDevice(path, friendlyName, &waveId)
                               : access.GetDefaultRenderDevice(path, friendlyName, &waveId);
    _sKnownDevices record;
    if (!found || path.empty() || Contains(list, path) || !Probe(access, capture, path, record) ||
        record.channels == 0)
        return false;
    record.isDefaultDevice = true;
    record.name = DefaultDeviceName();
    record.row = table_.DefaultRow();
    record.channels = std::min(record.channels, 2);
    list.push_back(std::move(record));
    return true;
}

bool CKnownDevices::Probe(CDeviceAccess& access, bool capture, const std::wstring& path, _sKnownDevices& record)
{
    EndpointFormat format;
    if (!access.QueryFormat(capture, path, format)) return false;
    record.path = path;
    record.minRate = format.minRate;
    record.maxRate = format.maxRate;
    record.minBits = format.minBits;
    record.maxBits = format.maxBits;
    record.channels = format.channels;
    record.endpointChannels = format.endpointChannels;
    return true;
}

namespace {

// A pair after the first is named after its channels: "Name 3-4".
std::wstring PairName(const std::wstring& name, int firstChannel)
{
    if (firstChannel == 0) return name.substr(0, kNameLength);
    const std::wstring pair = L" " + std::to_wstring(firstChannel + 1) + L"-" + std::to_wstring(firstChannel + 2);
    std::wstring cut = name.substr(0, kNameLength - pair.size());
    while (!cut.empty() && cut.back() == L' ') cut.pop_back();
    return cut + pair;
}

}  // namespace

bool CKnownDevices::ProbeOtherEndpoint(CDeviceAccess& access, const std::wstring& id, int firstChannel,
                                       const EndpointDescription& description, const TakenTest& taken,
                                       _sKnownDevices& record) const
{
    // A port already carries it, or one of the family's interfaces would: it is not doubled.
    const std::wstring& path = description.interfacePath;
    std::wstring model, hub;
    int row = -1, nonOptimal = 0;
    const bool family = !path.empty() && access.IdentifyDevice(path, table_, model, row, nonOptimal, hub);
    if (family || taken(id) || (!path.empty() && taken(path))) return false;
    // The port keeps the endpoint by its id: every later lookup finds it by that.
    if (!Probe(access, description.flow == eCapture, id, record)) return false;
    // An endpoint of more than two channels streams all of them and gives the port one pair; a
    // pair it does not have leaves the port out.
    const int own = record.endpointChannels > 0 ? record.endpointChannels : record.channels;
    if (firstChannel > 0 && firstChannel + 2 > own) return false;
    if (record.endpointChannels > 0) record.channels = 2;
    record.firstChannel = firstChannel;
    const std::wstring& name = !description.friendlyName.empty()  ? description.friendlyName
                               : !description.interfaceName.empty() ? description.interfaceName
                                                                    : id;
    record.name = PairName(name, firstChannel);
    return true;
}

bool CKnownDevices::ResolveOtherDevice(CDeviceAccess& access, const OtherDevice& device, const TakenTest& taken,
                                       _sKnownDevices& capture, _sKnownDevices& render) const
{
    EndpointDescription first;
    if (!access.DescribeEndpoint(device.endpointId, first)) return false;
    if (!device.paired()) {
        // The direction the endpoint lacks has no channels, as for the family's one-way devices.
        const bool captures = first.flow == eCapture;
        _sKnownDevices& record = captures ? capture : render;
        if (!ProbeOtherEndpoint(access, device.endpointId, device.endpointFirstChannel, first, taken, record))
            return false;
        (captures ? render : capture) = record;
        (captures ? render : capture).channels = 0;
        (captures ? render : capture).endpointChannels = 0;
        return true;
    }
    EndpointDescription second;
    if (first.flow != eCapture || !access.DescribeEndpoint(device.renderId, second) || second.flow != eRender ||
        !ProbeOtherEndpoint(access, device.endpointId, device.endpointFirstChannel, first, taken, capture) ||
        !ProbeOtherEndpoint(access, device.renderId, device.renderFirstChannel, second, taken, render))
        return false;
    // Both endpoints of one adapter: the port takes the adapter's name.
    if (!first.interfaceName.empty() && first.interfaceName == second.interfaceName)
        capture.name = PairName(first.interfaceName, device.endpointFirstChannel);
    return true;
}

void CKnownDevices::AddOtherDevices(CDeviceAccess& access, const std::vector<OtherDevice>& devices, _sPort* ports,
                                    int& portCount, bool monoToStereo, PortInventory& inventory) const
{
    std::vector<_sKnownDevices> captures, renders;
    const TakenTest taken = [&](const std::wstring& path) {
        for (int i = 0; i < portCount; ++i)
            if (ports[i].capturePath == path || ports[i].renderPath == path) return true;
        return Contains(captures, path) || Contains(renders, path);
    };
    for (const OtherDevice& device : devices) {
        if (portCount + static_cast<int>(captures.size()) >= kMaxPorts) break;
        _sKnownDevices capture, render;
        if (!ResolveOtherDevice(access, device, taken, capture, render)) continue;
        captures.push_back(std::move(capture));
        renders.push_back(std::move(render));
    }
    NumberDuplicateNames(captures);
    for (size_t i = 0; i < captures.size(); ++i) {
        FillPort(ports[portCount], captures[i], renders[i], portCount == 0, monoToStereo);
        // Levels go to the endpoints' volumes; an endpoint without one takes its input level as
        // a gain of the engine's.
        ports[portCount].hasInputVolume = ports[portCount].hasOutputVolume = 1;
        ports[portCount++].otherDevice = true;
        inventory.otherDevicePaths.push_back(captures[i].path);
        inventory.otherDevicePaths.push_back(renders[i].path);
    }
}

std::vector<std::wstring> PortInventory::Gathered() const
{
    std::vector<std::wstring> paths = interfacePaths;
    paths.insert(paths.end(), otherDevicePaths.begin(), otherDevicePaths.end());
    return paths;
}

void CKnownDevices::PairEndpoints(bool useDefaultDevices, PortInventory& inventory)
{
    inventory.interfacePaths.clear();
    inventory.interfaceRows.clear();
    pairs_.clear();
    NumberDuplicateNames(capture_);
    NumberDuplicateNames(render_);

    // Every name gets one record in each list; the missing direction has no channels.
    const auto named = [](std::vector<_sKnownDevices>& list, const std::wstring& name) {
        return std::find_if(list.begin(), list.end(), [&](const _sKnownDevices& r) { return r.name == name; });
    };
    for (size_t i = 0, n = capture_.size(); i < n; ++i) {
        if (named(render_, capture_[i].name) != render_.end()) continue;
        _sKnownDevices copy = capture_[i];
        copy.channels = 0;
        render_.push_back(std::move(copy));
    }
    for (size_t i = 0, n = render_.size(); i < n; ++i) {
        if (named(capture_, render_[i].name) != capture_.end()) continue;
        _sKnownDevices copy = render_[i];
        copy.channels = 0;
        capture_.push_back(std::move(copy));
    }

    for (size_t r = 0; r < render_.size(); ++r) {
        const auto c = named(capture_, render_[r].name);
        if (c == capture_.end()) continue;
        if (!useDefaultDevices && (c->isDefaultDevice || render_[r].isDefaultDevice)) continue;
        pairs_.push_back({r, static_cast<size_t>(c - capture_.begin())});
        inventory.interfacePaths.push_back(c->path);
        inventory.interfaceRows.push_back(static_cast<uint32_t>(c->row));
        c->paired = true;
        render_[r].paired = true;
    }
}

void CKnownDevices::FillPort(_sPort& port, const _sKnownDevices& capture, const _sKnownDevices& render, bool first,
                             bool monoToStereo) const
{
    // A fresh record: nothing of a previous build's port may stick to a new device.
    port = _sPort();
    port.nonOptimalPort = capture.nonOptimalPort || render.nonOptimalPort;
    port.capturePath = capture.path;
    port.name = capture.name;
    port.renderPath = render.path;
    port.input.instrumentPort = capture.row >= 0 && table_.Row(capture.row).instrumentInput ? 1 : 0;

    port.inputFormat = {capture.path,         capture.channels, double(capture.minRate), double(capture.maxRate),
                        capture.minBits,      capture.maxBits,  capture.endpointChannels, capture.firstChannel};
    if (capture.channels == 1 && monoToStereo) port.input.monoToStereo = 1;
    port.outputFormat = {render.path,         render.channels, double(render.minRate), double(render.maxRate),
                         render.minBits,      render.maxBits,  render.endpointChannels, render.firstChannel};

    // Levels are set in hardware only where the device has volume nodes.
    port.hasInputVolume = port.hasOutputVolume = 0;
    const std::wstring upper = UpperCase(port.capturePath);
    for (int i = 0; i < table_.count(); ++i) {
        const _sKnownDeviceRow& row = table_.Row(i);
        if (!PathHasRowIds(upper, row)) continue;
        port.hasInputVolume = row.mixerNodeIds[kNodeInputVolume] != -1;
        port.hasOutputVolume = row.mixerNodeIds[kNodeOutputVolume] != -1;
        break;
    }

    port.input.enabled = first ? 1 : 0;
    port.output.enabled = first && render.channels > 0 ? 1 : 0;
    NameChannels(port, true, languages_);
}

int CKnownDevices::BuildPorts(CDeviceAccess& access, bool useDefaultDevices, bool defaultDevicesOnly,
                              const std::vector<OtherDevice>& otherDevices, _sPort* ports, int& portCount,
                              PortInventory& inventory)
{
    inventory = PortInventory();
    portCount = 0;
    for (int i = 0; i < kMaxPorts; ++i) ports[i] = _sPort();
    capture_.clear();
    render_.clear();
    pairs_.clear();

    std::vector<std::wstring> renderPaths, capturePaths;
    if (!defaultDevicesOnly && !access.ListEndpoints(renderPaths, capturePaths)) {
        if (!useDefaultDevices) return 1;
        renderPaths.clear();
        capturePaths.clear();
    }
    AddIdentified(access, SortEndpoints(access, renderPaths), false);
    AddIdentified(access, SortEndpoints(access, capturePaths), true);

    int renderWaveId = -1, captureWaveId = -1;
    AddDefault(access, false, renderWaveId);
    AddDefault(access, true, captureWaveId);
    PairEndpoints(useDefaultDevices, inventory);

    const uint32_t monoToStereo = hostKey_.ReadDword(L"Auto_MonoInput_ToStereo", 1);
    hostKey_.WriteDword(L"Auto_MonoInput_ToStereo", monoToStereo);

    for (const _sKnownDevices_InOut& pair : pairs_) {
        if (portCount >= kMaxPorts) break;
        const _sKnownDevices& capture = capture_[pair.capture];
        const _sKnownDevices& render = render_[pair.render];
        if (capture.isDefaultDevice) {
            inventory.defaultCapturePath = capture.path;
            inventory.defaultCaptureId = captureWaveId;
        }
        if (render.isDefaultDevice) {
            inventory.defaultRenderPath = render.path;
            inventory.defaultRenderId = renderWaveId;
        }
        FillPort(ports[portCount], capture, render, portCount == 0, monoToStereo != 0);
        ++portCount;
    }
    if (!defaultDevicesOnly) AddOtherDevices(access, otherDevices, ports, portCount, monoToStereo != 0, inventory);
    EnsureOneActive(ports, portCount);
    LimitChannels(ports, portCount);
    capture_.clear();
    render_.clear();
    pairs_.clear();
    return 1;
}
