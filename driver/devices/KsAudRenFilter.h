// CKsAudRenFilter: the render filter of an audio interface; yields the pin a render stream owns.
#pragma once

#include "KsAudFilter.h"

class CKsAudRenFilter final : public CKsAudFilter {
public:
    CKsAudRenFilter(IDevicePlatform& platform, std::wstring devicePath, const CKnownDeviceTable* table)
        : CKsAudFilter(platform, std::move(devicePath), KsFilterType::Render, table)
    {
    }

    // Bounds of each render sink pin's counted ranges taken together.
    bool GetFormatLists(std::vector<ULONG>& rates, std::vector<ULONG>& bits, ULONG& maxChannels) const override;

    // The first render sink pin whose ranges cover the format, else the first that accepts it
    // anyway, set to the format and created. The pin leaves the filter: the caller owns it.
    std::unique_ptr<CKsAudPin> CreateRenderPin(const WAVEFORMATEX* format);
};
