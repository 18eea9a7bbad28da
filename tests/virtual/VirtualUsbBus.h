// Virtual USB hardware behind the device platform seam: host controllers with their root hubs,
// external hubs, products with an internal hub and a companion device, and the devices on their
// ports. It answers the hub requests with Windows' structure layouts and small-buffer behaviour,
// and keeps the device registry values ("Driver", "ParentIdPrefix") that tie a connection to
// the endpoints of its device.
//
// Every call answers only for the bus's own objects (unknown handles fail with
// ERROR_INVALID_HANDLE, unknown paths with ERROR_FILE_NOT_FOUND, other interface classes list
// nothing), so a composite platform can offer each call to its members in turn; OwnsHandle tells
// it where a handle belongs.
#pragma once

#include <devices/DevicePlatform.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct UsbIds {
    uint16_t vendorId;
    uint16_t productId;
};

namespace VirtualUsb {
inline constexpr UsbIds kGenericHub{0x05E3, 0x0608};
inline constexpr UsbIds kLumoA1{0x5A17, 0x0001};
inline constexpr UsbIds kLumoA2{0x08BB, 0x2900};  // also the codec of the Lumo A2X and Octa X codecs 2-4
inline constexpr UsbIds kOctaXFirstCodec{0x08BB, 0x2902};
inline constexpr UsbIds kOctaXHub{0x1A40, 0x0201};
inline constexpr UsbIds kLumoA2XHub{0x0409, 0x005A};
inline constexpr uint16_t kCompanionVendor = 0x5A17;
inline constexpr UsbIds kStrym{0x0D8C, 0x0134};
inline constexpr UsbIds kStrymV3{0x0D8C, 0x0034};
inline constexpr UsbIds kStrymV4{0x0D8C, 0x0005};
inline constexpr UsbIds kVeloranGuitar{0x1376, 0x0007};
inline constexpr UsbIds kLumoA4Plus{0x0418, 0x1418};
}  // namespace VirtualUsb

class CVirtualUsbBus : public IDevicePlatform {
public:
    using NodeId = int;

    struct OctaX {
        NodeId hub;
        NodeId codecs[4];  // on hub ports 1 to 4
        NodeId companion;
    };
    struct LumoA2X {
        NodeId hub;
        NodeId codec;
        NodeId companion;
    };

    // Handle values are handleBase + 4n, so that buses combined with other virtual hardware can
    // be given ranges that do not overlap.
    explicit CVirtualUsbBus(uintptr_t handleBase = 0x51B0000);

    // Building. Ports are 1-based and hold one device each; misuse throws std::logic_error.
    NodeId AddHostController(int rootPorts = 8);  // the controller's root hub
    NodeId AddHub(NodeId parentHub, int port, UsbIds ids, int ports = 4);
    NodeId AddHub(NodeId parentHub, int port, uint16_t vendorId, uint16_t productId, int ports = 4)
    {
        return AddHub(parentHub, port, UsbIds{vendorId, productId}, ports);
    }
    NodeId AddDevice(NodeId parentHub, int port, UsbIds ids);
    NodeId AddDevice(NodeId parentHub, int port, uint16_t vendorId, uint16_t productId)
    {
        return AddDevice(parentHub, port, UsbIds{vendorId, productId});
    }
    // 1A40:0201 seven-port hub, codecs on ports 1-4 (2902 first, then 2900), companion on port 5.
    OctaX AddOctaX(NodeId parentHub, int port, uint16_t companionProductId);
    // 0409:005A four-port hub, the 08BB:2900 codec on port 1, the 5A17:0020 companion on port 2.
    LumoA2X AddLumoA2X(NodeId parentHub, int port);
    // Unplugs the node and everything behind it; a root hub takes its host controller along.
    // Re-plugging the same ids into the same port brings back the same instance id and driver
    // key, as Windows keeps them for a device without a serial number.
    void RemoveDevice(NodeId node);

    // What Windows shows of a node.
    bool IsPresent(NodeId node) const;
    std::wstring HubDeviceName(NodeId hub) const;        // "\\.\<symbolic name>"
    std::wstring HostControllerPath(NodeId rootHub) const;
    std::wstring DevicePath(NodeId node) const;          // USB device interface path
    std::wstring InstanceId(NodeId node) const;
    std::wstring DriverKey(NodeId node) const;
    std::wstring ParentIdPrefix(NodeId node) const;      // empty for hubs
    UsbIds Ids(NodeId node) const;
    // The KS filter path an audio endpoint of the device carries: it holds the device's
    // ParentIdPrefix, as the interface's child instance id does.
    std::wstring AudioEndpointPath(NodeId device, bool capture) const;

    // Failure injection and hostile replies.
    void FailOpen(NodeId hub);                  // opens of the hub's name fail (ERROR_ACCESS_DENIED)
    // Requests with this code about the node fail (ERROR_GEN_FAILURE): connection requests about
    // the device on a port, node information about a hub, the root hub name about a root hub.
    void FailRequest(NodeId node, DWORD ioControlCode);
    void FailInterfaceList(const GUID& interfaceClass);
    // The ActualLength the node's replies to this request claim, whatever they hold.
    void OverrideActualLength(NodeId node, DWORD ioControlCode, ULONG actualLength);
    // The name reported for hub (by its parent, or by the controller for a root hub) is target's:
    // a loop when target is an ancestor.
    void ReportHubNameAs(NodeId hub, NodeId target);
    void SetDriverKey(NodeId node, const std::wstring& key);  // the hub's report and "Driver"
    void SetRegistryValue(NodeId node, const std::wstring& name, const std::wstring& value);
    void DeleteRegistryValue(NodeId node, const std::wstring& name);

    // Handle bookkeeping.
    int OpenHandleCount() const;
    int OpenCallCount() const;   // successful opens so far
    int BadCloseCount() const;   // closes of handles this bus does not hold open
    bool OwnsHandle(HANDLE handle) const;

    // IDevicePlatform.
    bool ListInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces) override;
    bool GetInterfaceAlias(const GUID& interfaceClass, const std::wstring& path, const GUID& aliasClass,
                           DWORD& aliasFlags) override;
    HANDLE OpenDevice(const std::wstring& path, DWORD shareMode, DWORD flagsAndAttributes) override;
    void CloseDevice(HANDLE device) override;
    // Requests complete before IoControl returns: nothing is ever pending.
    BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned,
                   OVERLAPPED* overlapped) override;
    BOOL CancelIo(HANDLE device, OVERLAPPED* overlapped) override;
    BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) override;
    DWORD CreatePin(HANDLE filter, KSPIN_CONNECT* connect, ACCESS_MASK access, HANDLE* pin) override;
    bool ReadDeviceRegistryString(const std::wstring& instanceId, const wchar_t* name, DWORD maxBytes,
                                  std::wstring& value) override;
    HRESULT CreateEndpointEnumerator(IMMDeviceEnumerator** enumerator) override;

private:
    enum class Kind { RootHub, Hub, Device };

    struct Node {
        Kind kind = Kind::Device;
        NodeId parent = -1;
        int port = 0;
        int depth = 0;  // 0 for a root hub
        UsbIds ids{};
        USHORT address = 0;
        bool present = true;
        std::vector<NodeId> ports;  // hubs: the node on each port, -1 when free
        std::wstring uid;           // last segment of the instance id, e.g. "5&2c3a1b9f&0&3"
        std::wstring childToken;    // hubs: the start of their children's uids
        std::wstring driverKey;
        std::wstring parentIdPrefix;
        std::wstring controllerUid;  // root hubs: their host controller
        std::wstring controllerDriverKey;
        std::map<std::wstring, std::wstring> registryValues;  // overrides, by lower-case name
        std::set<std::wstring> deletedValues;
        bool openFails = false;
        std::set<DWORD> failingCodes;
        std::map<DWORD, ULONG> actualLengths;
        NodeId reportedNameOf = -1;
    };

    struct OpenHandle {
        NodeId node;
        bool controller;
    };

    struct Reply {
        DWORD error = ERROR_SUCCESS;
        std::vector<BYTE> bytes;  // the whole answer
        DWORD minimumOut = 0;     // smaller output buffers fail with ERROR_INSUFFICIENT_BUFFER
    };

    static Reply ErrorReply(DWORD error);
    NodeId AddNode(NodeId parentHub, int port, UsbIds ids, Kind kind, int ports);
    Node& At(NodeId node);
    const Node& At(NodeId node) const;
    std::wstring NextToken(int level);
    std::wstring NextDriverKey();
    std::wstring SymbolicName(const Node& hub) const;
    std::wstring ReportedSymbolicName(NodeId hub) const;
    std::wstring InstanceIdOf(const Node& node) const;
    Reply ControllerRequest(NodeId root, DWORD code, DWORD outBytes) const;
    Reply HubRequest(NodeId hub, DWORD code, const std::vector<BYTE>& input, DWORD outBytes) const;
    Reply NameReply(const Node& about, DWORD code, ULONG connectionIndex, bool byConnection,
                    const std::wstring& name) const;

    mutable std::recursive_mutex mutex_;
    std::vector<Node> nodes_;
    std::map<HANDLE, OpenHandle> handles_;
    uintptr_t handleBase_;
    uintptr_t handleSerial_ = 0;
    int openCalls_ = 0;
    int badCloses_ = 0;
    uint32_t tokenSerial_ = 0;
    int driverKeySerial_ = 0;
    std::vector<GUID> failingLists_;
    // By upper-case instance id, kept across unplugging.
    struct Remembered {
        std::wstring driverKey, parentIdPrefix, childToken;
    };
    std::map<std::wstring, Remembered> remembered_;
};
