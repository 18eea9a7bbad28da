#include "KsAudFilter.h"

#include "KsAudCapPin.h"
#include "KsAudRenPin.h"

#include <algorithm>
#include <cwctype>

CKsAudFilter::CKsAudFilter(IDevicePlatform& platform, std::wstring devicePath, KsFilterType type,
                           const CKnownDeviceTable* table)
    : CKsFilter(platform, std::move(devicePath))
{
    filterType_ = type;
    flagsAndAttributes_ = FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL;
    if (!table) return;
    std::wstring upper = this->devicePath();
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    for (int row = 0; row < table->count(); ++row) {
        if (PathHasRowIds(upper, table->Row(row))) {
            knownDevice_ = table->Row(row);
            break;
        }
    }
}

HRESULT CKsAudFilter::EnumeratePins()
{
    DestroyLists();
    ULONG count = 0;
    DWORD bytes = 0;
    if (SUCCEEDED(GetPinProperty(0, KSPROPERTY_PIN_CTYPES, &count, sizeof(count), &bytes)) && bytes == sizeof(count)) {
        for (ULONG id = 0; id < count; ++id) {
            KSPIN_COMMUNICATION communication = KSPIN_COMMUNICATION_NONE;
            KSPIN_DATAFLOW flow = static_cast<KSPIN_DATAFLOW>(0);
            if (FAILED(GetPinProperty(id, KSPROPERTY_PIN_COMMUNICATION, &communication, sizeof(communication),
                                      &bytes)) ||
                bytes != sizeof(communication) || communication < KSPIN_COMMUNICATION_SINK ||
                communication > KSPIN_COMMUNICATION_BOTH)
                continue;
            if (FAILED(GetPinProperty(id, KSPROPERTY_PIN_DATAFLOW, &flow, sizeof(flow), &bytes)) ||
                bytes != sizeof(flow))
                continue;

            HRESULT result = E_FAIL;
            std::unique_ptr<CKsPin> pin;
            if (communication == KSPIN_COMMUNICATION_SINK && flow == KSPIN_DATAFLOW_IN)
                pin = std::make_unique<CKsAudRenPin>(*this, id, result);
            else if (communication == KSPIN_COMMUNICATION_SINK && flow == KSPIN_DATAFLOW_OUT)
                pin = std::make_unique<CKsAudCapPin>(*this, id, result);
            else
                pin = std::make_unique<CKsAudPin>(*this, id, result);
            if (SUCCEEDED(result)) pins_.push_back(std::move(pin));
        }
    }
    return ClassifyPins() ? S_OK : E_FAIL;
}

bool CKsAudFilter::GetFormatRange(KsFormatBounds& bounds) const
{
    bounds = {};
    std::vector<ULONG> rates, bits;
    if (!GetFormatLists(rates, bits, bounds.maxChannels)) return false;
    bounds.minRate = rates.front();
    bounds.maxRate = rates.back();
    bounds.minBits = bits.front();
    bounds.maxBits = bits.back();
    return true;
}

bool CKsAudFilter::SortDistinct(std::vector<ULONG>& rates, std::vector<ULONG>& bits)
{
    for (auto* list : {&rates, &bits}) {
        std::sort(list->begin(), list->end());
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
    return !rates.empty() && !bits.empty();
}
