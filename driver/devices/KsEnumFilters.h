// CKsEnumFilters: the kernel-streaming filters present in one interface category that also have
// an active alias in a second, in enumeration order. Filters are built, not opened.
#pragma once

#include "KsFilter.h"

#include <memory>
#include <vector>

class CKsEnumFilters {
public:
    explicit CKsEnumFilters(IDevicePlatform& platform) : platform_(platform) {}
    CKsEnumFilters(const CKsEnumFilters&) = delete;
    CKsEnumFilters& operator=(const CKsEnumFilters&) = delete;

    // Render and capture types build audio filters (without a known-devices table), others plain
    // filters. E_FAIL when the first category is GUID_NULL, cannot be listed, or yields nothing.
    HRESULT EnumFilters(KsFilterType type, const GUID& category, const GUID& aliasCategory);
    void DestroyLists() { filters_.clear(); }

    const std::vector<std::unique_ptr<CKsFilter>>& filters() const { return filters_; }

private:
    IDevicePlatform& platform_;
    std::vector<std::unique_ptr<CKsFilter>> filters_;
};
