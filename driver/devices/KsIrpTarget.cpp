#include "KsIrpTarget.h"

#include "DeviceIds.h"

#include <veloran/UniqueHandle.h>

namespace {

KSP_PIN PinRequest(ULONG pinId, ULONG propertyId)
{
    KSP_PIN request = {};
    request.Property.Set = kKsPropSetPin;
    request.Property.Id = propertyId;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    request.PinId = pinId;
    return request;
}

bool IsSizeAnswer(DWORD error) { return error == ERROR_MORE_DATA || error == ERROR_INSUFFICIENT_BUFFER; }

}  // namespace

void CKsIrpTarget::CloseTarget()
{
    if (valid()) platform_.CloseDevice(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

HRESULT CKsIrpTarget::SyncProperty(void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned)
{
    DWORD bytes = 0;
    if (returned) *returned = 0;
    if (!valid()) return E_FAIL;
    const UniqueHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event.valid()) return E_OUTOFMEMORY;
    OVERLAPPED overlapped = {};
    // The low bit keeps the completion off any completion port bound to the handle.
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event.get()) | 1);

    BOOL done = platform_.IoControl(handle_, IOCTL_KS_PROPERTY, in, inBytes, out, outBytes, &bytes, &overlapped);
    DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (!done && error == ERROR_IO_PENDING) {
        if (WaitForSingleObject(event.get(), requestTimeoutMs_) != WAIT_OBJECT_0) {
            // The device may still write into the buffers and the OVERLAPPED: they must outlive
            // the request, so it is cancelled and its completion awaited.
            platform_.CancelIo(handle_, &overlapped);
            platform_.GetOverlappedResult(handle_, &overlapped, &bytes, TRUE);
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        }
        bytes = 0;
        done = platform_.GetOverlappedResult(handle_, &overlapped, &bytes, FALSE);
        error = done ? ERROR_SUCCESS : GetLastError();
    }
    if (done) {
        if (bytes > outBytes) return E_FAIL;  // a device that claims more than the buffer holds
        if (returned) *returned = bytes;
        return S_OK;
    }
    if (outBytes == 0 && IsSizeAnswer(error)) {
        if (returned) *returned = bytes;
        return S_OK;
    }
    return E_FAIL;
}

HRESULT CKsIrpTarget::GetVariable(void* in, DWORD inBytes, std::vector<BYTE>& reply)
{
    reply.clear();
    DWORD needed = 0;
    HRESULT result = SyncProperty(in, inBytes, nullptr, 0, &needed);
    if (FAILED(result)) return result;
    if (needed < sizeof(KSMULTIPLE_ITEM) || needed > kMaxVariableBytes) return E_FAIL;
    reply.resize(needed);
    DWORD bytes = 0;
    result = SyncProperty(in, inBytes, reply.data(), needed, &bytes);
    if (FAILED(result) || bytes < sizeof(KSMULTIPLE_ITEM)) {
        reply.clear();
        return FAILED(result) ? result : E_FAIL;
    }
    // The item's own Size must lie within what was returned.
    const auto item = LoadAt<KSMULTIPLE_ITEM>(reply.data(), 0);
    if (item.Size < sizeof(KSMULTIPLE_ITEM) || item.Size > bytes) {
        reply.clear();
        return E_FAIL;
    }
    reply.resize(item.Size);
    return S_OK;
}

HRESULT CKsIrpTarget::GetPinPropertyMulti(ULONG pinId, ULONG propertyId, std::vector<BYTE>& item)
{
    KSP_PIN request = PinRequest(pinId, propertyId);
    return GetVariable(&request, sizeof(request), item);
}

HRESULT CKsIrpTarget::GetPinProperty(ULONG pinId, ULONG propertyId, void* out, DWORD outBytes, DWORD* returned)
{
    KSP_PIN request = PinRequest(pinId, propertyId);
    return SyncProperty(&request, sizeof(request), out, outBytes, returned);
}

HRESULT CKsIrpTarget::GetConnectionProperty(ULONG propertyId, void* out, DWORD outBytes)
{
    KSPROPERTY request = {};
    request.Set = kKsPropSetConnection;
    request.Id = propertyId;
    request.Flags = KSPROPERTY_TYPE_GET;
    DWORD bytes = 0;
    const HRESULT result = SyncProperty(&request, sizeof(request), out, outBytes, &bytes);
    if (SUCCEEDED(result) && bytes != outBytes) return E_FAIL;
    return result;
}

HRESULT CKsIrpTarget::SetConnectionState(KSSTATE state)
{
    KSPROPERTY request = {};
    request.Set = kKsPropSetConnection;
    request.Id = KSPROPERTY_CONNECTION_STATE;
    request.Flags = KSPROPERTY_TYPE_SET;
    DWORD bytes = 0;
    return SyncProperty(&request, sizeof(request), &state, sizeof(state), &bytes);
}

HRESULT CKsIrpTarget::GetNodeList(std::vector<GUID>& nodeTypes)
{
    nodeTypes.clear();
    KSPROPERTY request = {};
    request.Set = kKsPropSetTopology;
    request.Id = KSPROPERTY_TOPOLOGY_NODES;
    request.Flags = KSPROPERTY_TYPE_GET;
    std::vector<BYTE> reply;
    const HRESULT result = GetVariable(&request, sizeof(request), reply);
    if (FAILED(result)) return result;
    const auto item = LoadAt<KSMULTIPLE_ITEM>(reply.data(), 0);
    if (item.Count > (reply.size() - sizeof(KSMULTIPLE_ITEM)) / sizeof(GUID)) return E_FAIL;
    for (ULONG i = 0; i < item.Count; ++i)
        nodeTypes.push_back(LoadAt<GUID>(reply.data(), sizeof(KSMULTIPLE_ITEM) + i * sizeof(GUID)));
    return S_OK;
}

HRESULT CKsIrpTarget::SetNodeProperty(ULONG nodeId, ULONG channel, ULONG propertyId, LONG value)
{
    KSNODEPROPERTY_AUDIO_CHANNEL request = {};
    request.NodeProperty.Property.Set = kKsPropSetAudio;
    request.NodeProperty.Property.Id = propertyId;
    request.NodeProperty.Property.Flags = KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_TOPOLOGY;
    request.NodeProperty.NodeId = nodeId;
    request.Channel = static_cast<LONG>(channel);
    DWORD bytes = 0;
    return SyncProperty(&request, sizeof(request), &value, sizeof(value), &bytes);
}
