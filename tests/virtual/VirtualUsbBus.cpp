#include "VirtualUsbBus.h"

#include <devices/DeviceIds.h>

#include <winioctl.h>
#include <usbioctl.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <stdexcept>

namespace {

constexpr wchar_t kHubInterface[] = L"{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
constexpr wchar_t kUsbDeviceInterface[] = L"{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr wchar_t kHostControllerInterface[] = L"{3abf6f2d-71c4-462a-8a92-1e6861e6af27}";
constexpr wchar_t kKsAudioInterface[] = L"{6994ad04-93ef-11d0-a3cc-00a0c9223196}";
constexpr wchar_t kControllerHardware[] = L"ven_8086&dev_a12f&subsys_72708086&rev_31";

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// Device names and registry keys are case-insensitive on Windows.
bool SameText(const std::wstring& a, const std::wstring& b) { return Lower(a) == Lower(b); }

std::wstring Format(const wchar_t* format, ...)
{
    wchar_t text[256] = {};
    va_list args;
    va_start(args, format);
    vswprintf(text, 256, format, args);
    va_end(args);
    return text;
}

template <typename T>
void Append(std::vector<BYTE>& bytes, const T& value)
{
    const auto* raw = reinterpret_cast<const BYTE*>(&value);
    bytes.insert(bytes.end(), raw, raw + sizeof(T));
}

void AppendText(std::vector<BYTE>& bytes, const std::wstring& text)
{
    const auto* raw = reinterpret_cast<const BYTE*>(text.c_str());
    bytes.insert(bytes.end(), raw, raw + (text.size() + 1) * sizeof(wchar_t));
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

}  // namespace

CVirtualUsbBus::Reply CVirtualUsbBus::ErrorReply(DWORD error)
{
    Reply reply;
    reply.error = error;
    return reply;
}

CVirtualUsbBus::CVirtualUsbBus(uintptr_t handleBase) : handleBase_(handleBase) {}

CVirtualUsbBus::Node& CVirtualUsbBus::At(NodeId node)
{
    if (node < 0 || node >= static_cast<NodeId>(nodes_.size())) throw std::logic_error("no such USB node");
    return nodes_[node];
}

const CVirtualUsbBus::Node& CVirtualUsbBus::At(NodeId node) const
{
    if (node < 0 || node >= static_cast<NodeId>(nodes_.size())) throw std::logic_error("no such USB node");
    return nodes_[node];
}

std::wstring CVirtualUsbBus::NextToken(int level)
{
    // Multiplying by an odd constant is a bijection: every token of the bus is distinct.
    const uint32_t value = (++tokenSerial_ * 0x9E3779B1u) ^ 0x2C3A1B9Fu;
    return Format(L"%d&%08x&0", level, value);
}

std::wstring CVirtualUsbBus::NextDriverKey()
{
    return Format(L"{36fc9e60-c465-11cf-8056-444553540000}\\%04d", driverKeySerial_++);
}

std::wstring CVirtualUsbBus::SymbolicName(const Node& hub) const
{
    if (hub.kind == Kind::RootHub) return L"USB#ROOT_HUB30#" + Lower(hub.uid) + L"#" + kHubInterface;
    return Format(L"USB#VID_%04X&PID_%04X#", hub.ids.vendorId, hub.ids.productId) + Lower(hub.uid) + L"#" +
           kHubInterface;
}

std::wstring CVirtualUsbBus::ReportedSymbolicName(NodeId hub) const
{
    const Node& node = At(hub);
    return SymbolicName(node.reportedNameOf >= 0 ? At(node.reportedNameOf) : node);
}

std::wstring CVirtualUsbBus::InstanceIdOf(const Node& node) const
{
    if (node.kind == Kind::RootHub) return L"USB\\ROOT_HUB30\\" + Upper(node.uid);
    return Format(L"USB\\VID_%04X&PID_%04X\\", node.ids.vendorId, node.ids.productId) + Upper(node.uid);
}

CVirtualUsbBus::NodeId CVirtualUsbBus::AddNode(NodeId parentHub, int port, UsbIds ids, Kind kind, int ports)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (kind != Kind::Device && (ports < 1 || ports > 255)) throw std::logic_error("a hub has 1 to 255 ports");
    Node node;
    node.kind = kind;
    node.ids = ids;
    node.address = static_cast<USHORT>(nodes_.size() % 127 + 1);
    if (kind == Kind::RootHub) {
        node.uid = NextToken(4) + L"&0";
        node.controllerUid = NextToken(3) + L"&a0";
        node.controllerDriverKey = NextDriverKey();
    } else {
        const Node& parent = At(parentHub);
        if (parent.kind == Kind::Device || !parent.present) throw std::logic_error("parent is not a present hub");
        if (port < 1 || port > static_cast<int>(parent.ports.size())) throw std::logic_error("no such hub port");
        if (parent.ports[port - 1] != -1) throw std::logic_error("hub port already taken");
        node.parent = parentHub;
        node.port = port;
        node.depth = parent.depth + 1;
        node.uid = parent.childToken + Format(L"&%d", port);
    }

    const std::wstring instance = Upper(InstanceIdOf(node));
    const auto known = remembered_.find(instance);
    if (known != remembered_.end()) {
        node.driverKey = known->second.driverKey;
        node.parentIdPrefix = known->second.parentIdPrefix;
        node.childToken = known->second.childToken;
    } else {
        node.driverKey = NextDriverKey();
        // Audio interfaces are composite devices: their functions' instance ids start with it.
        if (kind == Kind::Device) node.parentIdPrefix = NextToken(node.depth + 5);
        else node.childToken = NextToken(node.depth + 5);
        remembered_[instance] = {node.driverKey, node.parentIdPrefix, node.childToken};
    }
    if (kind != Kind::Device) node.ports.assign(ports, -1);

    nodes_.push_back(std::move(node));
    const NodeId id = static_cast<NodeId>(nodes_.size() - 1);
    if (kind != Kind::RootHub) nodes_[parentHub].ports[port - 1] = id;
    return id;
}

CVirtualUsbBus::NodeId CVirtualUsbBus::AddHostController(int rootPorts)
{
    return AddNode(-1, 0, UsbIds{0, 0}, Kind::RootHub, rootPorts);
}

CVirtualUsbBus::NodeId CVirtualUsbBus::AddHub(NodeId parentHub, int port, UsbIds ids, int ports)
{
    return AddNode(parentHub, port, ids, Kind::Hub, ports);
}

CVirtualUsbBus::NodeId CVirtualUsbBus::AddDevice(NodeId parentHub, int port, UsbIds ids)
{
    return AddNode(parentHub, port, ids, Kind::Device, 0);
}

CVirtualUsbBus::OctaX CVirtualUsbBus::AddOctaX(NodeId parentHub, int port, uint16_t companionProductId)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    OctaX unit{};
    unit.hub = AddHub(parentHub, port, VirtualUsb::kOctaXHub, 7);
    for (int i = 0; i < 4; ++i)
        unit.codecs[i] = AddDevice(unit.hub, i + 1, i == 0 ? VirtualUsb::kOctaXFirstCodec : VirtualUsb::kLumoA2);
    unit.companion = AddDevice(unit.hub, 5, UsbIds{VirtualUsb::kCompanionVendor, companionProductId});
    return unit;
}

CVirtualUsbBus::LumoA2X CVirtualUsbBus::AddLumoA2X(NodeId parentHub, int port)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    LumoA2X unit{};
    unit.hub = AddHub(parentHub, port, VirtualUsb::kLumoA2XHub, 4);
    unit.codec = AddDevice(unit.hub, 1, VirtualUsb::kLumoA2);
    unit.companion = AddDevice(unit.hub, 2, UsbIds{VirtualUsb::kCompanionVendor, 0x0020});
    return unit;
}

void CVirtualUsbBus::RemoveDevice(NodeId node)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    Node& removed = At(node);
    if (!removed.present) return;
    std::vector<NodeId> pending{node};
    while (!pending.empty()) {
        Node& n = nodes_[pending.back()];
        pending.pop_back();
        n.present = false;
        for (NodeId child : n.ports)
            if (child >= 0) pending.push_back(child);
    }
    if (removed.kind != Kind::RootHub) nodes_[removed.parent].ports[removed.port - 1] = -1;
}

bool CVirtualUsbBus::IsPresent(NodeId node) const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return At(node).present;
}

std::wstring CVirtualUsbBus::HubDeviceName(NodeId hub) const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const Node& node = At(hub);
    if (node.kind == Kind::Device) throw std::logic_error("not a hub");
    return L"\\\\.\\" + SymbolicName(node);
}

std::wstring CVirtualUsbBus::HostControllerPath(NodeId rootHub) const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const Node& node = At(rootHub);
    if (node.kind != Kind::RootHub) throw std::logic_error("not a root hub");
    return std::wstring(L"\\\\?\\pci#") + kControllerHardware + L"#" + Lower(node.controllerUid) + L"#" +
           kHostControllerInterface;
}

std::wstring CVirtualUsbBus::DevicePath(NodeId node) const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const Node& n = At(node);
    if (n.kind == Kind::RootHub) throw std::logic_error("root hubs have no USB device interface");
    return Format(L"\\\\?\\usb#vid_%04x&pid_%04x#", n.ids.vendorId, n.ids.productId) + Lower(n.uid) + L"#" +
           kUsbDeviceInterface;
}

std::wstring CVirtualUsbBus::InstanceId(NodeId node) const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return InstanceIdOf(At(node));
}

std::wstring CVirtualUsbBus::DriverKey(NodeId node) const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return At(node).driverKey;
}

std::wstring CVirtualUsbBus::ParentIdPrefix(NodeId node) const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return At(node).parentIdPrefix;
}

UsbIds CVirtualUsbBus::Ids(NodeId node) const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return At(node).ids;
}

std::wstring CVirtualUsbBus::AudioEndpointPath(NodeId device, bool capture) const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const Node& n = At(device);
    if (n.kind != Kind::Device) throw std::logic_error("hubs have no audio endpoints");
    // One filter per data flow; the identification reads only the ids and the ParentIdPrefix.
    return Format(L"\\\\?\\USB#VID_%04X&PID_%04X&MI_00#", n.ids.vendorId, n.ids.productId) + n.parentIdPrefix +
           L"&0000#" + kKsAudioInterface + (capture ? L"\\capture" : L"\\render");
}

void CVirtualUsbBus::FailOpen(NodeId hub)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    At(hub).openFails = true;
}

void CVirtualUsbBus::FailRequest(NodeId node, DWORD ioControlCode)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    At(node).failingCodes.insert(ioControlCode);
}

void CVirtualUsbBus::FailInterfaceList(const GUID& interfaceClass)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    failingLists_.push_back(interfaceClass);
}

void CVirtualUsbBus::OverrideActualLength(NodeId node, DWORD ioControlCode, ULONG actualLength)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    At(node).actualLengths[ioControlCode] = actualLength;
}

void CVirtualUsbBus::ReportHubNameAs(NodeId hub, NodeId target)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (At(hub).kind == Kind::Device || At(target).kind == Kind::Device) throw std::logic_error("not a hub");
    At(hub).reportedNameOf = target;
}

void CVirtualUsbBus::SetDriverKey(NodeId node, const std::wstring& key)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    Node& n = At(node);
    n.driverKey = key;
    remembered_[Upper(InstanceIdOf(n))].driverKey = key;
}

void CVirtualUsbBus::SetRegistryValue(NodeId node, const std::wstring& name, const std::wstring& value)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    Node& n = At(node);
    n.deletedValues.erase(Lower(name));
    n.registryValues[Lower(name)] = value;
}

void CVirtualUsbBus::DeleteRegistryValue(NodeId node, const std::wstring& name)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    Node& n = At(node);
    n.registryValues.erase(Lower(name));
    n.deletedValues.insert(Lower(name));
}

int CVirtualUsbBus::OpenHandleCount() const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return static_cast<int>(handles_.size());
}

int CVirtualUsbBus::OpenCallCount() const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return openCalls_;
}

int CVirtualUsbBus::BadCloseCount() const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return badCloses_;
}

bool CVirtualUsbBus::OwnsHandle(HANDLE handle) const
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return handles_.count(handle) != 0;
}

bool CVirtualUsbBus::ListInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    interfaces.clear();
    for (const GUID& failing : failingLists_)
        if (SameGuid(failing, interfaceClass)) return false;
    const bool controllers = SameGuid(interfaceClass, kGuidUsbHostController);
    const bool devices = SameGuid(interfaceClass, kGuidUsbDevice);
    for (NodeId id = 0; id < static_cast<NodeId>(nodes_.size()); ++id) {
        const Node& n = nodes_[id];
        if (!n.present) continue;
        if (controllers && n.kind == Kind::RootHub)
            interfaces.push_back({HostControllerPath(id), std::wstring(L"PCI\\") + Upper(kControllerHardware) + L"\\" +
                                                              Upper(n.controllerUid)});
        else if (devices && n.kind != Kind::RootHub)
            interfaces.push_back({DevicePath(id), InstanceIdOf(n)});
    }
    return true;
}

bool CVirtualUsbBus::GetInterfaceAlias(const GUID&, const std::wstring&, const GUID&, DWORD& aliasFlags)
{
    aliasFlags = 0;
    return false;
}

HANDLE CVirtualUsbBus::OpenDevice(const std::wstring& path, DWORD shareMode, DWORD flagsAndAttributes)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (NodeId id = 0; id < static_cast<NodeId>(nodes_.size()); ++id) {
        const Node& n = nodes_[id];
        if (!n.present || n.kind == Kind::Device) continue;
        bool controller = false;
        if (n.kind == Kind::RootHub && SameText(path, HostControllerPath(id))) {
            controller = true;
        } else {
            const std::wstring name = SymbolicName(n);
            if (!SameText(path, L"\\\\.\\" + name) && !SameText(path, L"\\\\?\\" + name)) continue;
            if (n.openFails) {
                SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
        }
        const HANDLE handle = reinterpret_cast<HANDLE>(handleBase_ + 4 * ++handleSerial_);
        handles_[handle] = OpenHandle{id, controller};
        ++openCalls_;
        return handle;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

void CVirtualUsbBus::CloseDevice(HANDLE device)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (handles_.erase(device) == 0) ++badCloses_;
}

BOOL CVirtualUsbBus::IoControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                               DWORD* returned, OVERLAPPED* overlapped)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (returned) *returned = 0;
    const auto open = handles_.find(device);
    if (open == handles_.end()) return Fail(ERROR_INVALID_HANDLE);
    if (!returned && !overlapped) return Fail(ERROR_INVALID_PARAMETER);
    if ((inBytes && !in) || (outBytes && !out)) return Fail(ERROR_NOACCESS);
    if (!nodes_[open->second.node].present) return Fail(ERROR_DEVICE_NOT_CONNECTED);

    // Buffered requests: the whole input is taken before the output is written, so one buffer
    // may serve as both.
    std::vector<BYTE> input(inBytes);
    if (inBytes) std::memcpy(input.data(), in, inBytes);
    const Reply reply = open->second.controller ? ControllerRequest(open->second.node, code, outBytes)
                                                : HubRequest(open->second.node, code, input, outBytes);
    if (reply.error != ERROR_SUCCESS) return Fail(reply.error);
    if (outBytes < reply.minimumOut) return Fail(ERROR_INSUFFICIENT_BUFFER);
    // A short buffer gets the start of the answer: a cut name is not terminated.
    const DWORD copied = std::min<DWORD>(outBytes, static_cast<DWORD>(reply.bytes.size()));
    std::memcpy(out, reply.bytes.data(), copied);
    if (returned) *returned = copied;
    return TRUE;
}

BOOL CVirtualUsbBus::CancelIo(HANDLE device, OVERLAPPED* overlapped)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    return Fail(handles_.count(device) ? ERROR_NOT_FOUND : ERROR_INVALID_HANDLE);
}

BOOL CVirtualUsbBus::GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!handles_.count(device)) return Fail(ERROR_INVALID_HANDLE);
    if (transferred) *transferred = overlapped ? static_cast<DWORD>(overlapped->InternalHigh) : 0;
    return TRUE;
}

CVirtualUsbBus::Reply CVirtualUsbBus::NameReply(const Node& about, DWORD code, ULONG connectionIndex,
                                                bool byConnection, const std::wstring& name) const
{
    Reply reply;
    if (byConnection) Append(reply.bytes, connectionIndex);
    const ULONG header = byConnection ? 2 * sizeof(ULONG) : sizeof(ULONG);
    const auto claimed = about.actualLengths.find(code);
    const ULONG actual = claimed != about.actualLengths.end()
                             ? claimed->second
                             : static_cast<ULONG>(header + (name.size() + 1) * sizeof(wchar_t));
    Append(reply.bytes, actual);
    AppendText(reply.bytes, name);
    reply.minimumOut = byConnection ? sizeof(USB_NODE_CONNECTION_NAME) : sizeof(USB_ROOT_HUB_NAME);
    return reply;
}

CVirtualUsbBus::Reply CVirtualUsbBus::ControllerRequest(NodeId root, DWORD code, DWORD outBytes) const
{
    if (code != IOCTL_USB_GET_ROOT_HUB_NAME) return ErrorReply(ERROR_INVALID_FUNCTION);
    const Node& n = At(root);
    if (n.failingCodes.count(code)) return ErrorReply(ERROR_GEN_FAILURE);
    return NameReply(n, code, 0, false, ReportedSymbolicName(root));
}

CVirtualUsbBus::Reply CVirtualUsbBus::HubRequest(NodeId hubId, DWORD code, const std::vector<BYTE>& input,
                                                 DWORD outBytes) const
{
    const Node& hub = At(hubId);
    switch (code) {
    case IOCTL_USB_GET_NODE_INFORMATION: {
        if (hub.failingCodes.count(code)) return ErrorReply(ERROR_GEN_FAILURE);
        const int ports = static_cast<int>(hub.ports.size());
        USB_NODE_INFORMATION information = {};
        information.NodeType = UsbHub;
        USB_HUB_DESCRIPTOR& descriptor = information.u.HubInformation.HubDescriptor;
        descriptor.bDescriptorLength = static_cast<UCHAR>(7 + 2 * ((ports + 8) / 8));
        descriptor.bDescriptorType = 0x29;
        descriptor.bNumberOfPorts = static_cast<UCHAR>(ports);
        descriptor.wHubCharacteristics = 0x0009;  // per-port power switching and over-current
        descriptor.bPowerOnToPowerGood = 50;
        descriptor.bHubControlCurrent = 100;
        information.u.HubInformation.HubIsBusPowered = hub.kind == Kind::Hub;
        Reply reply;
        Append(reply.bytes, information);
        reply.minimumOut = sizeof(information);
        return reply;
    }
    case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION:
    case IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME:
    case IOCTL_USB_GET_NODE_CONNECTION_NAME:
        break;
    default:
        return ErrorReply(ERROR_INVALID_FUNCTION);
    }

    if (input.size() < sizeof(ULONG)) return ErrorReply(ERROR_INVALID_PARAMETER);
    ULONG index = 0;
    std::memcpy(&index, input.data(), sizeof(index));
    if (index < 1 || index > hub.ports.size()) return ErrorReply(ERROR_INVALID_PARAMETER);
    const NodeId onPort = hub.ports[index - 1];
    if (onPort >= 0 && nodes_[onPort].failingCodes.count(code)) return ErrorReply(ERROR_GEN_FAILURE);

    if (code == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION) {
        USB_NODE_CONNECTION_INFORMATION information = {};
        information.ConnectionIndex = index;
        USB_PIPE_INFO pipe = {};
        if (onPort >= 0) {
            const Node& n = nodes_[onPort];
            const bool isHub = n.kind == Kind::Hub;
            USB_DEVICE_DESCRIPTOR& d = information.DeviceDescriptor;
            d.bLength = sizeof(USB_DEVICE_DESCRIPTOR);
            d.bDescriptorType = 1;
            d.bcdUSB = 0x0200;
            d.bDeviceClass = isHub ? 0x09 : 0xEF;  // hub, or composite with interface associations
            d.bDeviceSubClass = isHub ? 0 : 2;
            d.bDeviceProtocol = 1;
            d.bMaxPacketSize0 = 64;
            d.idVendor = n.ids.vendorId;
            d.idProduct = n.ids.productId;
            d.bcdDevice = 0x0100;
            d.iManufacturer = 1;
            d.iProduct = 2;
            d.bNumConfigurations = 1;
            information.CurrentConfigurationValue = 1;
            information.DeviceIsHub = isHub;
            information.DeviceAddress = n.address;
            information.NumberOfOpenPipes = 1;
            information.ConnectionStatus = DeviceConnected;
            pipe.EndpointDescriptor.bLength = sizeof(USB_ENDPOINT_DESCRIPTOR);
            pipe.EndpointDescriptor.bDescriptorType = 5;
            pipe.EndpointDescriptor.bEndpointAddress = 0x81;
            pipe.EndpointDescriptor.bmAttributes = 3;
            pipe.EndpointDescriptor.wMaxPacketSize = isHub ? 1 : 16;
            pipe.EndpointDescriptor.bInterval = 12;
        }
        Reply reply;
        Append(reply.bytes, information);
        // Only whole pipe records that fit the caller's buffer come back.
        if (information.NumberOfOpenPipes && outBytes >= sizeof(information) + sizeof(pipe)) Append(reply.bytes, pipe);
        reply.minimumOut = sizeof(information);
        return reply;
    }

    if (onPort < 0) return ErrorReply(ERROR_INVALID_PARAMETER);
    const Node& n = nodes_[onPort];
    if (code == IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME) return NameReply(n, code, index, true, n.driverKey);
    return NameReply(n, code, index, true, n.kind == Kind::Hub ? ReportedSymbolicName(onPort) : std::wstring());
}

DWORD CVirtualUsbBus::CreatePin(HANDLE filter, KSPIN_CONNECT* connect, ACCESS_MASK access, HANDLE* pin)
{
    if (pin) *pin = nullptr;
    return ERROR_NOT_SUPPORTED;
}

bool CVirtualUsbBus::ReadDeviceRegistryString(const std::wstring& instanceId, const wchar_t* name, DWORD maxBytes,
                                              std::wstring& value)
{
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::wstring valueName = Lower(name ? name : L"");
    // Newest first: a re-plugged device shares its instance id with the removed node, and the
    // Enum key, unlike the interfaces, outlives the removal.
    for (NodeId id = static_cast<NodeId>(nodes_.size()) - 1; id >= 0; --id) {
        const Node& n = nodes_[id];
        std::optional<std::wstring> found;
        const bool controller =
            n.kind == Kind::RootHub &&
            SameText(instanceId, std::wstring(L"PCI\\") + kControllerHardware + L"\\" + n.controllerUid);
        if (controller) {
            if (valueName == L"driver") found = n.controllerDriverKey;
        } else if (SameText(instanceId, InstanceIdOf(n))) {
            if (n.deletedValues.count(valueName)) return false;
            const auto stored = n.registryValues.find(valueName);
            if (stored != n.registryValues.end()) found = stored->second;
            else if (valueName == L"driver") found = n.driverKey;
            else if (valueName == L"parentidprefix" && !n.parentIdPrefix.empty()) found = n.parentIdPrefix;
        } else {
            continue;
        }
        // A value that does not fit is ERROR_MORE_DATA for RegQueryValueExW.
        if (!found || (found->size() + 1) * sizeof(wchar_t) > maxBytes) return false;
        value = *found;
        return true;
    }
    return false;
}

HRESULT CVirtualUsbBus::CreateEndpointEnumerator(IMMDeviceEnumerator** enumerator)
{
    if (enumerator) *enumerator = nullptr;
    return E_NOTIMPL;
}
