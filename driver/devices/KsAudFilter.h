// CKsAudFilter: a kernel-streaming filter of an audio interface, opened for overlapped requests,
// whose pins are audio pins. It carries the known-devices row its path matched and the priority
// its pins are created with.
#pragma once

#include "KsAudPin.h"
#include "KsFilter.h"

class CKnownDeviceTable;

class CKsAudFilter : public CKsFilter {
public:
    // table may be null (filters found by enumeration are not identified).
    CKsAudFilter(IDevicePlatform& platform, std::wstring devicePath, KsFilterType type, const CKnownDeviceTable* table);

    // Only pins of communication sink, source or both that are audio pins are kept: sink pins
    // with data flow in are render pins, sink pins with data flow out capture pins.
    HRESULT EnumeratePins() override;

    // The distinct rate and bit-depth bounds of the sink pins, sorted ascending, and the largest
    // channel count; false when no pin has a counted range.
    virtual bool GetFormatLists(std::vector<ULONG>& rates, std::vector<ULONG>& bits, ULONG& maxChannels) const = 0;
    bool GetFormatRange(KsFormatBounds& bounds) const;

    // Copied into each pin's connect request; -1 asks for no particular priority.
    int pinPriorityClass = -1;

protected:
    // Every pin of an audio filter is an audio pin.
    static CKsAudPin& AudioPin(CKsPin* pin) { return static_cast<CKsAudPin&>(*pin); }
    // Sorts both lists ascending without repeats; false when they are empty.
    static bool SortDistinct(std::vector<ULONG>& rates, std::vector<ULONG>& bits);
};
