#include "KsAudRenFilter.h"

#include <algorithm>

bool CKsAudRenFilter::GetFormatLists(std::vector<ULONG>& rates, std::vector<ULONG>& bits, ULONG& maxChannels) const
{
    rates.clear();
    bits.clear();
    maxChannels = 0;
    for (CKsPin* pin : renderSinkPins()) {
        KsFormatBounds bounds;
        if (!AudioPin(pin).GetFormatBounds(bounds)) continue;
        rates.insert(rates.end(), {bounds.minRate, bounds.maxRate});
        bits.insert(bits.end(), {bounds.minBits, bounds.maxBits});
        maxChannels = std::max(maxChannels, bounds.maxChannels);
    }
    return SortDistinct(rates, bits);
}

std::unique_ptr<CKsAudPin> CKsAudRenFilter::CreateRenderPin(const WAVEFORMATEX* format)
{
    if (!format) return nullptr;
    const auto tryPin = [&](CKsPin* pin) {
        return SUCCEEDED(AudioPin(pin).SetFormat(format)) && SUCCEEDED(AudioPin(pin).Create(false));
    };
    CKsPin* chosen = nullptr;
    for (CKsPin* pin : renderSinkPins()) {
        if (!AudioPin(pin).RangeCoversFormat(*format)) continue;
        if (tryPin(pin)) chosen = pin;
        break;
    }
    // Devices do not always advertise every format they take.
    if (!chosen)
        for (CKsPin* pin : renderSinkPins())
            if (tryPin(pin)) {
                chosen = pin;
                break;
            }
    if (!chosen) return nullptr;
    return std::unique_ptr<CKsAudPin>(&AudioPin(ReleasePin(chosen).release()));
}
