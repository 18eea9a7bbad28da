// CKsRenderStream: the render direction. The engine writes each block as the next packet from its
// buffer-switch path; the thread keeps the pin running and ends it when writes stop completing.
#pragma once

#include "KsStream.h"

class CKsRenderStream final : public CKsStream {
public:
    static constexpr DWORD kCompletionWaitMs = 10000;  // a pending write older than this ends the stream

    explicit CKsRenderStream(IDevicePlatform& platform) : CKsStream(platform, false) {}

    // Copies the block into the next packet and writes it. A packet whose last write is still
    // pending is never touched: the block is dropped and counted. No allocation, wait or lock.
    // 1 when written.
    int Write(const void* block, int bytes);

private:
    std::unique_ptr<CKsAudFilter> NewFilter(const std::wstring& path) override;
    CKsAudPin* CreatePin(const WAVEFORMATEX* format) override;
    void Loop() override;
    void CloseDirection() override { current_ = 0; }

    int current_ = 0;  // written by the engine's path only
};
