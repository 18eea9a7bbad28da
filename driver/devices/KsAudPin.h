// CKsAudPin: a pin that streams PCM audio with standard streaming on the standard medium. It keeps
// its audio data ranges and the connect request (KSPIN_CONNECT, KSDATAFORMAT, wave format) that
// SetFormat fills and Create sends.
#pragma once

#include "KsPin.h"

#include <mmreg.h>
#include <ksmedia.h>

#include <vector>

class CKsAudFilter;

// Bounds over a pin's counted ranges: those of audio, PCM (or any) subtype and wave-format
// specifier (or wildcards).
struct KsFormatBounds {
    ULONG minRate = 0, maxRate = 0;
    ULONG minBits = 0, maxBits = 0;
    ULONG maxChannels = 0;
};

class CKsAudPin : public CKsPin {
public:
    static constexpr DWORD kConnectHeaderBytes = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT);

    // result is E_FAIL when the pin lacks standard streaming, the standard medium or any range
    // of a wave-format subtype.
    CKsAudPin(CKsAudFilter& filter, ULONG pinId, HRESULT& result);

    bool RangeCoversFormat(const WAVEFORMATEX& format) const;
    // format must hold 18 bytes, plus cbSize for any tag other than WAVE_FORMAT_PCM.
    HRESULT SetFormat(const WAVEFORMATEX* format);
    bool GetFormatBounds(KsFormatBounds& bounds) const;
    // The minimum and maximum rate and bits of every counted range, in range order.
    bool GetRangeBounds(std::vector<ULONG>& rates, std::vector<ULONG>& bits, ULONG& maxChannels) const;

    const std::vector<KSDATARANGE_AUDIO>& audioRanges() const { return audioRanges_; }
    const std::vector<BYTE>& currentFormat() const { return currentFormat_; }

protected:
    CKsAudPin(CKsAudFilter& filter, ULONG pinId, KsPinType pinType, HRESULT& result);

private:
    HRESULT Accept();
    void BuildConnectRequest(int priorityClass);
    std::vector<const KSDATARANGE_AUDIO*> CountedRanges() const;

    std::vector<KSDATARANGE_AUDIO> audioRanges_;
    std::vector<BYTE> currentFormat_;
};
