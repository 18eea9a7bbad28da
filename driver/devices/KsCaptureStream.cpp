#include "KsCaptureStream.h"

#include "KsAudCapFilter.h"

#include <core/CaptureSink.h>
#include <core/PacketFifo.h>

#include <algorithm>
#include <cwctype>
#include <new>

CKsCaptureStream::CKsCaptureStream(IDevicePlatform& platform) : CKsStream(platform, true) {}

CKsCaptureStream::~CKsCaptureStream() = default;

std::unique_ptr<CKsAudFilter> CKsCaptureStream::NewFilter(const std::wstring& path)
{
    return std::unique_ptr<CKsAudFilter>(new (std::nothrow) CKsAudCapFilter(platform_, path, nullptr));
}

CKsAudPin* CKsCaptureStream::CreatePin(const WAVEFORMATEX* format)
{
    return static_cast<CKsAudCapFilter&>(*filter_).CreateCapturePin(format);
}

// A USB interface delivers nominal packets; another device reads in its own frame size, which
// an adapter regroups.
int CKsCaptureStream::PrepareDirection()
{
    std::wstring path = filter_->devicePath();
    for (wchar_t& c : path) c = wchar_t(std::towupper(c));
    const bool usb = path.find(L"VID") != std::wstring::npos || path.find(L"PID") != std::wstring::npos;
    const ULONG reported = usb ? 0 : pin_->GetFrameSize();
    // A frame the adapter could not hold is the device's mistake: nominal packets are read then.
    const int frameSize = reported <= ULONG(CPacketFifo::kChunks) * ULONG(nominalBytes_) ? int(reported) : 0;
    if (frameSize <= 0 || frameSize == nominalBytes_) return nominalBytes_;
    adapter_.reset(new (std::nothrow) CPacketFifo(frameSize, nominalBytes_, nullptr));
    block_.reset(new (std::nothrow) uint8_t[size_t(nominalBytes_)]);
    if (!adapter_ || !adapter_->valid() || !block_) return 0;
    return frameSize;
}

bool CKsCaptureStream::BeforeReady()
{
    ICaptureSink* sink = params_.captureSink;
    registered_ = sink && sink->RegisterSource(this, packetBytes_, nominalBytes_);
    return !sink || registered_;
}

void CKsCaptureStream::Loop()
{
    // Every packet of the ring is queued, so that the device always has a read to fill while the
    // host's buffer switch runs on this thread.
    for (int i = 0; i < ring_; ++i) {
        if (!Submit(i, IOCTL_KS_READ_STREAM)) {
            CountFault();
            return;
        }
    }
    int current = 0;
    for (;;) {
        bool timedOut = false;
        if (NextPacket(kCompletionWaitMs, timedOut) < 0) {
            if (timedOut) CountFault();
            return;
        }
        // Reads complete in the order they were queued; whichever event woke the thread, the
        // packets are taken in that order, each as soon as it is no longer pending.
        while (!Pending(packets_[current])) {
            Packet& packet = packets_[current];
            if (packet.overlapped.Internal != 0) {
                CountFault();  // failed or cancelled: the device is gone or stopping
                return;
            }
            const int bytes = std::min(int(packet.header.DataUsed), packetBytes_);
            if (bytes > 0) Deliver(static_cast<const uint8_t*>(packet.header.Data), bytes);
            packet.header.DataUsed = 0;
            packet.header.OptionsFlags = 0;
            // A read refused at once would never complete: the stream ends now.
            if (stopRequested() || !Submit(current, IOCTL_KS_READ_STREAM)) {
                if (!stopRequested()) CountFault();
                return;
            }
            current = (current + 1) % ring_;
        }
    }
}

void CKsCaptureStream::Deliver(const uint8_t* data, int bytes)
{
    ICaptureSink* sink = params_.captureSink;
    if (!sink) return;
    if (!adapter_) {
        sink->DeliverSource(this, data, bytes);
        return;
    }
    if (!adapter_->Push(data, bytes)) return;
    // The packet ended now; a regrouped block as many frames earlier as the adapter still holds.
    const double now = platform_.Seconds();
    const double frameBytes = params_.channels * params_.bitsPerSample / 8.0;
    while (!stopRequested() && adapter_->Pop(block_.get()))
        sink->DeliverSource(this, block_.get(), nominalBytes_, now - adapter_->Fill() / frameBytes / params_.sampleRate);
}

// Ended on its own: the other sources keep completing sets. A requested stop leaves the sink
// alone, whose lock a blocked buffer switch may hold.
void CKsCaptureStream::Finish()
{
    if (registered_ && !stopRequested()) params_.captureSink->UnregisterSource(this);
    registered_ = false;
}

void CKsCaptureStream::CloseDirection()
{
    adapter_.reset();
    block_.reset();
}
