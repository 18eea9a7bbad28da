#include "KsRenderStream.h"

#include "KsAudRenFilter.h"

#include <cstring>
#include <new>

std::unique_ptr<CKsAudFilter> CKsRenderStream::NewFilter(const std::wstring& path)
{
    return std::unique_ptr<CKsAudFilter>(new (std::nothrow) CKsAudRenFilter(platform_, path, nullptr));
}

CKsAudPin* CKsRenderStream::CreatePin(const WAVEFORMATEX* format)
{
    ownedPin_ = static_cast<CKsAudRenFilter&>(*filter_).CreateRenderPin(format);
    return ownedPin_.get();
}

int CKsRenderStream::Write(const void* block, int bytes)
{
    if (!pin_ || !packets_ || stopRequested() || bytes <= 0 || bytes > packetBytes_) return 0;
    Packet& packet = packets_[current_];
    if (Pending(packet)) {
        CountFault();
        return 0;
    }
    std::memcpy(packet.header.Data, block, size_t(bytes));
    packet.header.DataUsed = packet.header.FrameExtent = ULONG(bytes);
    packet.header.OptionsFlags = 0;
    if (!Submit(current_, IOCTL_KS_WRITE_STREAM)) CountFault();
    current_ = (current_ + 1) % ring_;
    return 1;
}

void CKsRenderStream::Loop()
{
    for (;;) {
        bool timedOut = false;
        if (NextPacket(kCompletionWaitMs, timedOut) >= 0) continue;
        if (!timedOut) return;
        // Quiet is fine while nothing is written; a write that never completes is not.
        for (int i = 0; i < ring_; ++i) {
            if (Pending(packets_[i])) {
                CountFault();
                return;
            }
        }
    }
}
