#include "KsEnumFilters.h"

#include "KsAudCapFilter.h"
#include "KsAudRenFilter.h"

#include <setupapi.h>

HRESULT CKsEnumFilters::EnumFilters(KsFilterType type, const GUID& category, const GUID& aliasCategory)
{
    DestroyLists();
    if (IsEqualGUID(category, GUID_NULL)) return E_FAIL;
    std::vector<DeviceInterface> interfaces;
    if (!platform_.ListInterfaces(category, interfaces)) return E_FAIL;
    for (const DeviceInterface& found : interfaces) {
        DWORD flags = 0;
        if (found.path.empty() || !platform_.GetInterfaceAlias(category, found.path, aliasCategory, flags) ||
            flags == 0 || (flags & SPINT_REMOVED))
            continue;
        switch (type) {
        case KsFilterType::Render:
            filters_.push_back(std::make_unique<CKsAudRenFilter>(platform_, found.path, nullptr));
            break;
        case KsFilterType::Capture:
            filters_.push_back(std::make_unique<CKsAudCapFilter>(platform_, found.path, nullptr));
            break;
        default:
            filters_.push_back(std::make_unique<CKsFilter>(platform_, found.path));
            break;
        }
    }
    return filters_.empty() ? E_FAIL : S_OK;
}
