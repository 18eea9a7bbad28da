// CKsCaptureStream: the capture direction. One read is outstanding at a time, on the ring's
// packets in turn; each completed packet goes to the capture sink, regrouped into nominal
// packets when the device's frames differ from them.
#pragma once

#include "KsStream.h"

class CPacketFifo;

class CKsCaptureStream final : public CKsStream {
public:
    static constexpr DWORD kCompletionWaitMs = 1000;  // a read pending longer ends the stream

    explicit CKsCaptureStream(IDevicePlatform& platform);
    ~CKsCaptureStream() override;

private:
    std::unique_ptr<CKsAudFilter> NewFilter(const std::wstring& path) override;
    CKsAudPin* CreatePin(const WAVEFORMATEX* format) override;
    int PrepareDirection() override;
    bool BeforeReady() override;
    void Loop() override;
    void Finish() override;
    void CloseDirection() override;

    void Deliver(const uint8_t* data, int bytes);

    std::unique_ptr<CPacketFifo> adapter_;
    std::unique_ptr<uint8_t[]> block_;  // one nominal packet out of the adapter
    bool registered_ = false;
};
