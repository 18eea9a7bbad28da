#include "KsAudPin.h"

#include "DeviceIds.h"
#include "KsAudFilter.h"

#include <algorithm>

namespace {

constexpr DWORD kPlainFormatBytes = 18;  // WAVEFORMATEX without extension

bool Same(const GUID& a, const GUID& b) { return IsEqualGUID(a, b) != 0; }
bool SameOrNull(const GUID& value, const GUID& wanted) { return Same(value, wanted) || Same(value, GUID_NULL); }

// {xxxxxxxx-0000-0010-8000-00AA00389B71}: a subtype made from a wave format tag.
bool IsWaveTagSubtype(const GUID& subtype)
{
    GUID tagless = subtype;
    tagless.Data1 = kSubtypePcm.Data1;
    return Same(tagless, kSubtypePcm);
}

DWORD FormatBytes(const WAVEFORMATEX& format)
{
    return format.wFormatTag == WAVE_FORMAT_PCM ? kPlainFormatBytes : kPlainFormatBytes + format.cbSize;
}

bool HasIdentifier(const std::vector<KSIDENTIFIER>& list, const GUID& set, ULONG id)
{
    return std::any_of(list.begin(), list.end(),
                       [&](const KSIDENTIFIER& entry) { return Same(entry.Set, set) && entry.Id == id; });
}

}  // namespace

CKsAudPin::CKsAudPin(CKsAudFilter& filter, ULONG pinId, HRESULT& result)
    : CKsAudPin(filter, pinId, KsPinType::Plain, result)
{
}

CKsAudPin::CKsAudPin(CKsAudFilter& filter, ULONG pinId, KsPinType pinType, HRESULT& result)
    : CKsPin(filter, pinId, pinType)
{
    BuildConnectRequest(filter.pinPriorityClass);
    result = Accept();
}

void CKsAudPin::BuildConnectRequest(int priorityClass)
{
    connect_.assign(kConnectHeaderBytes + kPlainFormatBytes, 0);
    KSPIN_CONNECT connect = {};
    connect.Interface.Set = kKsInterfaceSetStandard;
    connect.Interface.Id = KSINTERFACE_STANDARD_STREAMING;
    connect.Medium.Set = kKsMediumSetStandard;
    connect.Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    connect.PinId = pinId();
    connect.Priority.PriorityClass = static_cast<ULONG>(priorityClass);
    connect.Priority.PrioritySubClass = priorityClass == -1 ? 0xFFFFFFFFu : 1;
    StoreAt(connect_.data(), 0, connect);

    KSDATAFORMAT format = {};
    format.FormatSize = sizeof(KSDATAFORMAT) + kPlainFormatBytes;
    format.MajorFormat = kKsDataFormatTypeAudio;
    format.SubFormat = kSubtypePcm;
    format.Specifier = kKsDataFormatSpecifierWaveFormatEx;
    StoreAt(connect_.data(), sizeof(KSPIN_CONNECT), format);
}

HRESULT CKsAudPin::Accept()
{
    if (!HasIdentifier(interfaces(), kKsInterfaceSetStandard, KSINTERFACE_STANDARD_STREAMING)) return E_FAIL;
    if (!HasIdentifier(mediums(), kKsMediumSetStandard, KSMEDIUM_TYPE_ANYINSTANCE)) return E_FAIL;

    bool subtypeSeen = false;
    for (const std::vector<BYTE>& range : dataRanges()) {
        const auto header = LoadAt<KSDATARANGE>(range.data(), 0);
        if (!subtypeSeen) {
            if (!IsWaveTagSubtype(header.SubFormat) && !Same(header.SubFormat, GUID_NULL)) continue;
            subtypeSeen = true;
        }
        // A range too short to be an audio range is not copied as one.
        if (range.size() >= sizeof(KSDATARANGE_AUDIO) && Same(header.MajorFormat, kKsDataFormatTypeAudio) &&
            Same(header.Specifier, kKsDataFormatSpecifierWaveFormatEx))
            audioRanges_.push_back(LoadAt<KSDATARANGE_AUDIO>(range.data(), 0));
    }
    return subtypeSeen ? S_OK : E_FAIL;
}

bool CKsAudPin::RangeCoversFormat(const WAVEFORMATEX& format) const
{
    GUID subtype = kSubtypePcm;
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) return false;
        subtype = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format).SubFormat;
    } else {
        subtype.Data1 = format.wFormatTag;
    }
    return std::any_of(audioRanges_.begin(), audioRanges_.end(), [&](const KSDATARANGE_AUDIO& range) {
        return SameOrNull(range.DataRange.MajorFormat, kKsDataFormatTypeAudio) &&
               SameOrNull(range.DataRange.SubFormat, subtype) &&
               SameOrNull(range.DataRange.Specifier, kKsDataFormatSpecifierWaveFormatEx) &&
               range.MaximumChannels >= format.nChannels && range.MinimumBitsPerSample <= format.wBitsPerSample &&
               format.wBitsPerSample <= range.MaximumBitsPerSample &&
               range.MinimumSampleFrequency <= format.nSamplesPerSec &&
               format.nSamplesPerSec <= range.MaximumSampleFrequency;
    });
}

HRESULT CKsAudPin::SetFormat(const WAVEFORMATEX* format)
{
    if (!format || connect_.empty()) return E_FAIL;
    const DWORD formatBytes = FormatBytes(*format);
    connect_.resize(kConnectHeaderBytes + formatBytes);
    auto header = LoadAt<KSDATAFORMAT>(connect_.data(), sizeof(KSPIN_CONNECT));
    header.FormatSize = sizeof(KSDATAFORMAT) + formatBytes;
    header.SampleSize = format->nChannels * format->wBitsPerSample / 8;
    StoreAt(connect_.data(), sizeof(KSPIN_CONNECT), header);
    const auto* bytes = reinterpret_cast<const BYTE*>(format);
    std::copy(bytes, bytes + formatBytes, connect_.begin() + kConnectHeaderBytes);
    currentFormat_.assign(bytes, bytes + formatBytes);
    return S_OK;
}

std::vector<const KSDATARANGE_AUDIO*> CKsAudPin::CountedRanges() const
{
    std::vector<const KSDATARANGE_AUDIO*> counted;
    for (const KSDATARANGE_AUDIO& range : audioRanges_)
        if (SameOrNull(range.DataRange.MajorFormat, kKsDataFormatTypeAudio) &&
            SameOrNull(range.DataRange.SubFormat, kSubtypePcm) &&
            SameOrNull(range.DataRange.Specifier, kKsDataFormatSpecifierWaveFormatEx))
            counted.push_back(&range);
    return counted;
}

bool CKsAudPin::GetFormatBounds(KsFormatBounds& bounds) const
{
    bounds = {};
    const auto counted = CountedRanges();
    if (counted.empty()) return false;
    bounds.minRate = bounds.minBits = ~0UL;
    for (const KSDATARANGE_AUDIO* range : counted) {
        bounds.minRate = std::min(bounds.minRate, range->MinimumSampleFrequency);
        bounds.maxRate = std::max(bounds.maxRate, range->MaximumSampleFrequency);
        bounds.minBits = std::min(bounds.minBits, range->MinimumBitsPerSample);
        bounds.maxBits = std::max(bounds.maxBits, range->MaximumBitsPerSample);
        bounds.maxChannels = std::max(bounds.maxChannels, range->MaximumChannels);
    }
    return true;
}

bool CKsAudPin::GetRangeBounds(std::vector<ULONG>& rates, std::vector<ULONG>& bits, ULONG& maxChannels) const
{
    rates.clear();
    bits.clear();
    maxChannels = 0;
    const auto counted = CountedRanges();
    for (const KSDATARANGE_AUDIO* range : counted) {
        rates.push_back(range->MinimumSampleFrequency);
        rates.push_back(range->MaximumSampleFrequency);
        bits.push_back(range->MinimumBitsPerSample);
        bits.push_back(range->MaximumBitsPerSample);
        maxChannels = std::max(maxChannels, range->MaximumChannels);
    }
    return !counted.empty();
}
