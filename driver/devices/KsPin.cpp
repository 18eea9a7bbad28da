#include "KsPin.h"

#include "KsFilter.h"

#include <algorithm>
#include <cwchar>

namespace {

// The identifiers of a KSMULTIPLE_ITEM whose Count must fit its Size.
template <typename T>
std::vector<T> ParseItems(const std::vector<BYTE>& item)
{
    std::vector<T> items;
    if (item.empty()) return items;
    const auto header = LoadAt<KSMULTIPLE_ITEM>(item.data(), 0);
    if (header.Count > (item.size() - sizeof(KSMULTIPLE_ITEM)) / sizeof(T)) return items;
    for (ULONG i = 0; i < header.Count; ++i)
        items.push_back(LoadAt<T>(item.data(), sizeof(KSMULTIPLE_ITEM) + i * sizeof(T)));
    return items;
}

// Data ranges follow each other on 8-byte boundaries; each must be a whole KSDATARANGE that ends
// inside the item, or the list is refused.
std::vector<std::vector<BYTE>> ParseRanges(const std::vector<BYTE>& item)
{
    std::vector<std::vector<BYTE>> ranges;
    if (item.empty()) return ranges;
    const auto header = LoadAt<KSMULTIPLE_ITEM>(item.data(), 0);
    size_t offset = sizeof(KSMULTIPLE_ITEM);
    for (ULONG i = 0; i < header.Count; ++i) {
        if (item.size() < sizeof(KSDATARANGE) || offset > item.size() - sizeof(KSDATARANGE)) return {};
        const ULONG size = LoadAt<ULONG>(item.data(), offset + offsetof(KSDATARANGE, FormatSize));
        if (size < sizeof(KSDATARANGE) || size > item.size() - offset) return {};
        ranges.emplace_back(item.begin() + offset, item.begin() + offset + size);
        offset += (size + 7) & ~size_t(7);
    }
    return ranges;
}

}  // namespace

CKsPin::CKsPin(CKsFilter& filter, ULONG pinId) : CKsPin(filter, pinId, KsPinType::Plain) {}

CKsPin::CKsPin(CKsFilter& filter, ULONG pinId, KsPinType pinType)
    : CKsIrpTarget(filter.platform()), filter_(filter), pinId_(pinId), pinType_(pinType)
{
    SetRequestTimeout(filter.requestTimeout());
    ReadProperties();
}

CKsPin::~CKsPin()
{
    if (valid()) SetState(KSSTATE_STOP);
}

template <typename T>
void CKsPin::ReadFixed(ULONG propertyId, T& value)
{
    T read = {};
    DWORD bytes = 0;
    if (SUCCEEDED(filter_.GetPinProperty(pinId_, propertyId, &read, sizeof(read), &bytes)) && bytes == sizeof(read))
        value = read;
}

void CKsPin::ReadProperties()
{
    ReadFixed(KSPROPERTY_PIN_COMMUNICATION, communication_);
    std::vector<BYTE> item;
    if (SUCCEEDED(filter_.GetPinPropertyMulti(pinId_, KSPROPERTY_PIN_INTERFACES, item)))
        interfaces_ = ParseItems<KSPIN_INTERFACE>(item);
    if (SUCCEEDED(filter_.GetPinPropertyMulti(pinId_, KSPROPERTY_PIN_MEDIUMS, item)))
        mediums_ = ParseItems<KSPIN_MEDIUM>(item);
    if (SUCCEEDED(filter_.GetPinPropertyMulti(pinId_, KSPROPERTY_PIN_DATARANGES, item)))
        dataRanges_ = ParseRanges(item);
    ReadFixed(KSPROPERTY_PIN_DATAFLOW, dataFlow_);
    ReadFixed(KSPROPERTY_PIN_CINSTANCES, instances_);
    ReadFixed(KSPROPERTY_PIN_GLOBALCINSTANCES, globalInstances_);
    ReadFixed(KSPROPERTY_PIN_CATEGORY, category_);

    // A device may fill the buffer without a terminator.
    wchar_t text[260] = {};
    DWORD bytes = 0;
    if (SUCCEEDED(filter_.GetPinProperty(pinId_, KSPROPERTY_PIN_NAME, text, sizeof(text) - 1, &bytes)))
        name_.assign(text, wcsnlen(text, std::min<size_t>(bytes / sizeof(wchar_t), 259)));
}

HRESULT CKsPin::Create(bool looped)
{
    if (connect_.empty() || valid() || !filter_.valid()) return E_FAIL;
    KSPIN_CONNECT connect = LoadAt<KSPIN_CONNECT>(connect_.data(), 0);
    connect.Interface.Id = looped ? KSINTERFACE_STANDARD_LOOPED_STREAMING : KSINTERFACE_STANDARD_STREAMING;
    StoreAt(connect_.data(), 0, connect);

    HANDLE pin = INVALID_HANDLE_VALUE;
    const DWORD error = platform_.CreatePin(filter_.handle(), reinterpret_cast<KSPIN_CONNECT*>(connect_.data()),
                                            GENERIC_READ | GENERIC_WRITE, &pin);
    if (static_cast<LONG>(error) < 0) return static_cast<HRESULT>(error);
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error & 0xFFFF);
    if (pin == nullptr || pin == INVALID_HANDLE_VALUE) return E_FAIL;  // success without a handle
    handle_ = pin;
    state_ = KSSTATE_STOP;
    return S_OK;
}

HRESULT CKsPin::SetState(KSSTATE state)
{
    const HRESULT result = SetConnectionState(state);
    if (SUCCEEDED(result)) state_ = state;
    return result;
}

ULONG CKsPin::GetFrameSize()
{
    KSALLOCATOR_FRAMING framing = {};
    if (SUCCEEDED(GetConnectionProperty(KSPROPERTY_CONNECTION_ALLOCATORFRAMING, &framing, sizeof(framing))) &&
        framing.FrameSize > 0)
        return framing.FrameSize;
    KSALLOCATOR_FRAMING_EX extended = {};
    if (SUCCEEDED(GetConnectionProperty(KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX, &extended, sizeof(extended))) &&
        extended.CountItems > 0)
        return extended.FramingItem[0].PhysicalRange.MinFrameSize;
    return 0;
}
