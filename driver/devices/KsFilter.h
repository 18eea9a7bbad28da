// CKsFilter: a kernel-streaming filter opened by its interface path (an endpoint's stored path
// names it too), its topology nodes and its pins, classified by data flow and communication into
// referring lists.
#pragma once

#include "KsIrpTarget.h"
#include "KsNode.h"
#include "KsPin.h"

#include <core/KnownDeviceTable.h>

#include <memory>
#include <string>
#include <vector>

enum class KsFilterType { Plain = 0, Render = 1, Capture = 2 };

class CKsFilter : public CKsIrpTarget {
public:
    CKsFilter(IDevicePlatform& platform, std::wstring devicePath);
    // Pins go before the filter's handle.
    virtual ~CKsFilter();

    // Opened for sharing, so that level controls and streams can hold the filter together.
    HRESULT Open();
    HRESULT EnumerateNodes();
    // Plain pins for every pin id; S_OK when any pin could be classified.
    virtual HRESULT EnumeratePins();
    void DestroyLists();

    const std::wstring& devicePath() const { return devicePath_; }
    KsFilterType filterType() const { return filterType_; }
    // The matched known-devices row; a default row (vendor id 0) when none matched.
    const _sKnownDeviceRow& knownDevice() const { return knownDevice_; }
    std::vector<_sKsNode>& nodes() { return nodes_; }
    const std::vector<std::unique_ptr<CKsPin>>& pins() const { return pins_; }
    // data flow in, communication sink or both
    const std::vector<CKsPin*>& renderSinkPins() const { return renderSinkPins_; }
    // data flow out, communication source or both
    const std::vector<CKsPin*>& captureSourcePins() const { return captureSourcePins_; }
    // data flow out, communication sink or both
    const std::vector<CKsPin*>& captureSinkPins() const { return captureSinkPins_; }
    // data flow in, communication source or both
    const std::vector<CKsPin*>& renderSourcePins() const { return renderSourcePins_; }
    const std::vector<CKsPin*>& noCommunicationPins() const { return noCommunicationPins_; }

protected:
    // Sorts the pins list into the directional lists; true when a directional list is non-empty.
    bool ClassifyPins();
    // Takes a pin out of the pins list and every directional list.
    std::unique_ptr<CKsPin> ReleasePin(CKsPin* pin);

    KsFilterType filterType_ = KsFilterType::Plain;
    DWORD flagsAndAttributes_ = FILE_ATTRIBUTE_NORMAL;
    _sKnownDeviceRow knownDevice_;
    std::vector<std::unique_ptr<CKsPin>> pins_;

private:
    std::wstring devicePath_;
    std::vector<_sKsNode> nodes_;
    std::vector<CKsPin*> renderSinkPins_;
    std::vector<CKsPin*> captureSourcePins_;
    std::vector<CKsPin*> captureSinkPins_;
    std::vector<CKsPin*> renderSourcePins_;
    std::vector<CKsPin*> noCommunicationPins_;
};
