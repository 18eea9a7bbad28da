#include "KnownDeviceTable.h"

#include <algorithm>
#include <cwchar>
#include <string>

namespace {

struct RowSpec {
    const wchar_t* name;
    int32_t vendorId, productId;
    int32_t imageActive, imageInactive, imageAlt0, imageAlt1;
    int32_t nodes[kMixerNodeCount];
    int32_t hubVendor, hubProduct, companionVendor, companionProduct;
    int32_t hubPort, inputOnly, instrumentInput;
};

constexpr int32_t N = -1;  // no such mixer node

// One row per model, or per codec of a product with an internal hub.
constexpr RowSpec kRows[] = {
    {L"Lumo A1", 0x5A17, 0x0001, 3000, 3001, 0, 0, {10, 5, 6, N, 9, 8, 7}, 0, 0, 0, 0, -1, 0, 0},
    {L"Lumo A2X", 0x08BB, 0x2900, 3015, 3016, 0, 0, {N, 2, 3, N, N, N, N}, 0x0409, 0x005A, 0x5A17, 0x0020, -1, 0, 0},
    {L"Lumo A2", 0x08BB, 0x2900, 3013, 3014, 0, 0, {N, 2, 3, N, N, N, N}, 0, 0, 0, 0, -1, 0, 0},
    {L"Octa X 1-2", 0x08BB, 0x2902, 3090, 3091, 0, 0, {N, 2, 3, N, N, N, N}, 0x1A40, 0x0201, 0x5A17, 0x0022, 1, 0, 0},
    {L"Octa X 3-4", 0x08BB, 0x2900, 3092, 3093, 0, 0, {N, 2, 3, N, N, N, N}, 0x1A40, 0x0201, 0x5A17, 0x0022, 2, 0, 0},
    {L"Octa X 5-6", 0x08BB, 0x2900, 3094, 3095, 0, 0, {N, 2, 3, N, N, N, N}, 0x1A40, 0x0201, 0x5A17, 0x0022, 3, 0, 0},
    {L"Octa X 7-8", 0x08BB, 0x2900, 3096, 3097, 0, 0, {N, 2, 3, N, N, N, N}, 0x1A40, 0x0201, 0x5A17, 0x0022, 4, 0, 0},
    {L"Octa X 1-2", 0x08BB, 0x2902, 3090, 3091, 0, 0, {N, 2, 3, N, N, N, N}, 0x1A40, 0x0201, 0x5A17, 0x0020, 1, 0, 0},
    {L"Octa X 3-4", 0x08BB, 0x2900, 3092, 3093, 0, 0, {N, 2, 3, N, N, N, N}, 0x1A40, 0x0201, 0x5A17, 0x0020, 2, 0, 0},
    {L"Octa X 5-6", 0x08BB, 0x2900, 3094, 3095, 0, 0, {N, 2, 3, N, N, N, N}, 0x1A40, 0x0201, 0x5A17, 0x0020, 3, 0, 0},
    {L"Octa X 7-8", 0x08BB, 0x2900, 3096, 3097, 0, 0, {N, 2, 3, N, N, N, N}, 0x1A40, 0x0201, 0x5A17, 0x0020, 4, 0, 0},
    {L"Strym", 0x0D8C, 0x0134, 3098, 3099, 0, 0, {N, N, N, N, N, 4, 3}, 0, 0, 0, 0, -1, 1, 0},
    {L"Veloran Guitar", 0x1376, 0x0007, 2998, 2999, 0, 0, {N, N, N, N, 11, 10, 9}, 0, 0, 0, 0, -1, 1, 1},
    {L"Strym v3", 0x0D8C, 0x0034, 3098, 3099, 0, 0, {N, N, N, N, N, 4, 3}, 0, 0, 0, 0, -1, 1, 0},
    {L"Lumo A4+", 0x0418, 0x1418, 3120, 3121, 0, 0, {N, 1, 2, N, N, 6, 5}, 0, 0, 0, 0, -1, 0, 0},
    {L"Strym v4", 0x0D8C, 0x0005, 3098, 3099, 0, 0, {N, N, N, N, N, 4, 3}, 0, 0, 0, 0, -1, 1, 0},
    // The system's default sound device: always the last row, recognised by its index.
    {L"Default Audio Out", 0, 0, 3100, 3101, 3102, 3103, {N, N, N, N, N, N, N}, 0, 0, 0, 0, -1, 0, 0},
};

}  // namespace

CKnownDeviceTable::CKnownDeviceTable()
{
    for (const RowSpec& spec : kRows) {
        _sKnownDeviceRow& row = rows_[count_++];
        row.vendorId = spec.vendorId;
        row.productId = spec.productId;
        wcsncpy(row.modelName, spec.name, 259);
        row.imageActiveId = spec.imageActive;
        row.imageInactiveId = spec.imageInactive;
        row.imageAltIds[0] = spec.imageAlt0;
        row.imageAltIds[1] = spec.imageAlt1;
        for (int i = 0; i < kMixerNodeCount; ++i) row.mixerNodeIds[i] = spec.nodes[i];
        row.hubVendorId = spec.hubVendor;
        row.hubProductId = spec.hubProduct;
        row.companionVendorId = spec.companionVendor;
        row.companionProductId = spec.companionProduct;
        row.hubPort = spec.hubPort;
        row.inputOnly = spec.inputOnly;
        row.instrumentInput = spec.instrumentInput;
    }
}

int CKnownDeviceTable::ChannelsFor(int row, Direction direction, int endpointChannels) const
{
    const _sKnownDeviceRow& r = rows_[row];
    int channels = endpointChannels;
    if (r.instrumentInput) channels = 1;
    if (direction == Direction::Render && r.inputOnly) channels = 0;
    // A port carries at most a stereo pair each way; further channels are left unused.
    return std::min(channels, 2);
}

std::wstring UsbIdText(const wchar_t* format, int32_t id)
{
    wchar_t text[24];
    swprintf(text, 24, format, static_cast<unsigned long>(static_cast<uint32_t>(id)));
    return text;
}

bool PathHasRowIds(const std::wstring& upperPath, const _sKnownDeviceRow& row)
{
    return upperPath.find(UsbIdText(L"VID_%04lX", row.vendorId)) != std::wstring::npos &&
           upperPath.find(UsbIdText(L"PID_%04lX", row.productId)) != std::wstring::npos;
}
