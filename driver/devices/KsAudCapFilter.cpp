#include "KsAudCapFilter.h"

#include <algorithm>

bool CKsAudCapFilter::GetFormatLists(std::vector<ULONG>& rates, std::vector<ULONG>& bits, ULONG& maxChannels) const
{
    rates.clear();
    bits.clear();
    maxChannels = 0;
    for (CKsPin* pin : captureSinkPins()) {
        std::vector<ULONG> pinRates, pinBits;
        ULONG pinChannels = 0;
        if (!AudioPin(pin).GetRangeBounds(pinRates, pinBits, pinChannels)) continue;
        rates.insert(rates.end(), pinRates.begin(), pinRates.end());
        bits.insert(bits.end(), pinBits.begin(), pinBits.end());
        maxChannels = std::max(maxChannels, pinChannels);
    }
    return SortDistinct(rates, bits);
}

CKsAudPin* CKsAudCapFilter::CreateCapturePin(const WAVEFORMATEX* format)
{
    if (!format) return nullptr;
    for (CKsPin* pin : captureSinkPins()) {
        CKsAudPin& audio = AudioPin(pin);
        if (!audio.RangeCoversFormat(*format)) continue;
        return SUCCEEDED(audio.SetFormat(format)) && SUCCEEDED(audio.Create(false)) ? &audio : nullptr;
    }
    return nullptr;
}
