#include "KsFilter.h"

#include "DeviceAccess.h"

#include <algorithm>

// Ports name their interfaces by the endpoint's stored path, which Windows prefixes ("{2}.").
CKsFilter::CKsFilter(IDevicePlatform& platform, std::wstring devicePath)
    : CKsIrpTarget(platform), devicePath_(CDeviceAccess::StripPathPrefix(devicePath))
{
}

CKsFilter::~CKsFilter() { DestroyLists(); }

HRESULT CKsFilter::Open()
{
    if (valid() || devicePath_.empty()) return E_FAIL;
    handle_ = platform_.OpenDevice(devicePath_, FILE_SHARE_READ | FILE_SHARE_WRITE, flagsAndAttributes_);
    if (handle_ == nullptr) handle_ = INVALID_HANDLE_VALUE;
    return valid() ? S_OK : E_FAIL;
}

HRESULT CKsFilter::EnumerateNodes()
{
    nodes_.clear();
    std::vector<GUID> types;
    const HRESULT result = GetNodeList(types);
    if (FAILED(result)) return result;
    for (size_t i = 0; i < types.size(); ++i) {
        _sKsNode node;
        node.nodeId = static_cast<int32_t>(i);
        node.type = types[i];
        nodes_.push_back(node);
    }
    return S_OK;
}

HRESULT CKsFilter::EnumeratePins()
{
    DestroyLists();
    ULONG count = 0;
    DWORD bytes = 0;
    if (SUCCEEDED(GetPinProperty(0, KSPROPERTY_PIN_CTYPES, &count, sizeof(count), &bytes)) && bytes == sizeof(count))
        for (ULONG id = 0; id < count; ++id) pins_.push_back(std::make_unique<CKsPin>(*this, id));
    const bool directional = ClassifyPins();
    return directional || !noCommunicationPins_.empty() ? S_OK : E_FAIL;
}

bool CKsFilter::ClassifyPins()
{
    for (const auto& pin : pins_) {
        const bool in = pin->dataFlow() == KSPIN_DATAFLOW_IN;
        switch (pin->communication()) {
        case KSPIN_COMMUNICATION_NONE:
            noCommunicationPins_.push_back(pin.get());
            break;
        case KSPIN_COMMUNICATION_SINK:
            (in ? renderSinkPins_ : captureSinkPins_).push_back(pin.get());
            break;
        case KSPIN_COMMUNICATION_SOURCE:
            (in ? renderSourcePins_ : captureSourcePins_).push_back(pin.get());
            break;
        case KSPIN_COMMUNICATION_BOTH:
            (in ? renderSinkPins_ : captureSinkPins_).push_back(pin.get());
            (in ? renderSourcePins_ : captureSourcePins_).push_back(pin.get());
            break;
        default:
            break;
        }
    }
    return !renderSinkPins_.empty() || !captureSourcePins_.empty() || !captureSinkPins_.empty() ||
           !renderSourcePins_.empty();
}

std::unique_ptr<CKsPin> CKsFilter::ReleasePin(CKsPin* pin)
{
    for (auto* list : {&renderSinkPins_, &captureSourcePins_, &captureSinkPins_, &renderSourcePins_,
                       &noCommunicationPins_})
        list->erase(std::remove(list->begin(), list->end(), pin), list->end());
    const auto owned = std::find_if(pins_.begin(), pins_.end(), [&](const auto& p) { return p.get() == pin; });
    if (owned == pins_.end()) return nullptr;
    std::unique_ptr<CKsPin> released = std::move(*owned);
    pins_.erase(owned);
    return released;
}

void CKsFilter::DestroyLists()
{
    nodes_.clear();
    renderSinkPins_.clear();
    captureSourcePins_.clear();
    captureSinkPins_.clear();
    renderSourcePins_.clear();
    noCommunicationPins_.clear();
    pins_.clear();
}
