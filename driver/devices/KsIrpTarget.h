// CKsIrpTarget: a kernel-streaming file object (a filter or a pin) and the property requests sent
// to it. Every request is overlapped, waits a bounded time for its completion, and is cancelled
// and drained before its buffers go away.
#pragma once

#include "DevicePlatform.h"

#include <winioctl.h>
#include <ksmedia.h>

#include <cstring>
#include <vector>

// Plain copies in and out of byte buffers: device replies carry no alignment promise.
template <typename T>
T LoadAt(const BYTE* bytes, size_t offset)
{
    T value;
    std::memcpy(&value, bytes + offset, sizeof(T));
    return value;
}
template <typename T>
void StoreAt(BYTE* bytes, size_t offset, const T& value)
{
    std::memcpy(bytes + offset, &value, sizeof(T));
}

class CKsIrpTarget {
public:
    static constexpr DWORD kDefaultRequestTimeoutMs = 5000;
    // Variable-size replies larger than this are refused as hostile.
    static constexpr DWORD kMaxVariableBytes = 64 * 1024;

    explicit CKsIrpTarget(IDevicePlatform& platform) : platform_(platform) {}
    CKsIrpTarget(const CKsIrpTarget&) = delete;
    CKsIrpTarget& operator=(const CKsIrpTarget&) = delete;
    ~CKsIrpTarget() { CloseTarget(); }

    HANDLE handle() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    IDevicePlatform& platform() const { return platform_; }
    DWORD requestTimeout() const { return requestTimeoutMs_; }
    void SetRequestTimeout(DWORD milliseconds) { requestTimeoutMs_ = milliseconds; }

    // IOCTL_KS_PROPERTY. A zero-length output is a size probe: its ERROR_MORE_DATA or
    // ERROR_INSUFFICIENT_BUFFER answer is S_OK with the needed size in returned. A request that
    // does not complete within the time-out is cancelled, drained and fails with
    // HRESULT_FROM_WIN32(ERROR_TIMEOUT).
    HRESULT SyncProperty(void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned);

    // A KSMULTIPLE_ITEM pin property, read by size probe and request; item is cut to its Size.
    HRESULT GetPinPropertyMulti(ULONG pinId, ULONG propertyId, std::vector<BYTE>& item);
    HRESULT GetPinProperty(ULONG pinId, ULONG propertyId, void* out, DWORD outBytes, DWORD* returned = nullptr);
    // Fails unless the reply fills outBytes.
    HRESULT GetConnectionProperty(ULONG propertyId, void* out, DWORD outBytes);
    HRESULT SetConnectionState(KSSTATE state);
    HRESULT GetNodeList(std::vector<GUID>& nodeTypes);
    HRESULT SetNodeProperty(ULONG nodeId, ULONG channel, ULONG propertyId, LONG value);

protected:
    void CloseTarget();

    IDevicePlatform& platform_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;

private:
    HRESULT GetVariable(void* in, DWORD inBytes, std::vector<BYTE>& reply);

    DWORD requestTimeoutMs_ = kDefaultRequestTimeoutMs;
};
