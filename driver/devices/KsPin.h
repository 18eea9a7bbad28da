// CKsPin: one pin of a kernel-streaming filter, described by the properties its filter reports,
// and the pin handle created on it. Pin properties are read on the filter's handle at
// construction; connection properties go to the pin's own handle once Create made it.
#pragma once

#include "KsIrpTarget.h"

#include <string>
#include <vector>

class CKsFilter;

enum class KsPinType { Plain = 0, Render = 1, Capture = 2 };

class CKsPin : public CKsIrpTarget {
public:
    // Reads the pin's properties; a property that cannot be read stays empty or zero.
    CKsPin(CKsFilter& filter, ULONG pinId);
    // A created pin is stopped before its handle is closed.
    virtual ~CKsPin();

    // KsCreatePin on the filter with the connect request; fails without a connect request (plain
    // pins have none) or when the pin already has a handle.
    HRESULT Create(bool looped);
    HRESULT SetState(KSSTATE state);
    // The capture frame size from the pin's allocator framing; 0 when unknown.
    ULONG GetFrameSize();

    ULONG pinId() const { return pinId_; }
    KsPinType pinType() const { return pinType_; }
    const GUID& category() const { return category_; }
    const std::vector<KSPIN_INTERFACE>& interfaces() const { return interfaces_; }
    const std::vector<KSPIN_MEDIUM>& mediums() const { return mediums_; }
    // Each range whole, as the filter reported it.
    const std::vector<std::vector<BYTE>>& dataRanges() const { return dataRanges_; }
    KSPIN_DATAFLOW dataFlow() const { return dataFlow_; }
    KSPIN_COMMUNICATION communication() const { return communication_; }
    const KSPIN_CINSTANCES& instances() const { return instances_; }
    const KSPIN_CINSTANCES& globalInstances() const { return globalInstances_; }
    KSSTATE state() const { return state_; }
    const std::wstring& name() const { return name_; }
    // KSPIN_CONNECT, KSDATAFORMAT and the wave format, as Create sends them.
    const std::vector<BYTE>& connectRequest() const { return connect_; }

protected:
    CKsPin(CKsFilter& filter, ULONG pinId, KsPinType pinType);

    CKsFilter& filter_;
    std::vector<BYTE> connect_;

private:
    void ReadProperties();
    template <typename T>
    void ReadFixed(ULONG propertyId, T& value);

    ULONG pinId_;
    KsPinType pinType_;
    GUID category_ = {};
    std::vector<KSPIN_INTERFACE> interfaces_;
    std::vector<KSPIN_MEDIUM> mediums_;
    std::vector<std::vector<BYTE>> dataRanges_;
    KSPIN_DATAFLOW dataFlow_ = static_cast<KSPIN_DATAFLOW>(0);
    KSPIN_COMMUNICATION communication_ = KSPIN_COMMUNICATION_NONE;
    KSPIN_CINSTANCES instances_ = {};
    KSPIN_CINSTANCES globalInstances_ = {};
    KSSTATE state_ = KSSTATE_STOP;
    std::wstring name_;
};
