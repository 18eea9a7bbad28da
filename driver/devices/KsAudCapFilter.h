// CKsAudCapFilter: the capture filter of an audio interface; keeps the pin a capture stream reads.
#pragma once

#include "KsAudFilter.h"

class CKsAudCapFilter final : public CKsAudFilter {
public:
    CKsAudCapFilter(IDevicePlatform& platform, std::wstring devicePath, const CKnownDeviceTable* table)
        : CKsAudFilter(platform, std::move(devicePath), KsFilterType::Capture, table)
    {
    }

    // Bounds of every counted range of the capture sink pins.
    bool GetFormatLists(std::vector<ULONG>& rates, std::vector<ULONG>& bits, ULONG& maxChannels) const override;

    // The first capture sink pin whose ranges cover the format, set to it and created; null when
    // that pin refuses. The pin stays the filter's.
    CKsAudPin* CreateCapturePin(const WAVEFORMATEX* format);
};
