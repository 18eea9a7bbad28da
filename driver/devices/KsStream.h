// CKsStream: one direction of a kernel-streaming stream: a KS audio filter with one created pin,
// a ring of packets (KSSTREAM_HEADER and OVERLAPPED, shared with the kernel while a request is
// pending) and one thread. Everything the thread and the kernel touch is made before the pin runs
// and lives in this object.
//
// Stops are bounded: the pin is stopped first (which cancels its pending requests), then the
// thread and the cancellations are awaited. A thread or a request that outlives the wait keeps
// the pin, the filter and the ring until a later stop finds them done; nothing is freed under it.
//
// Threads: the opener calls Open, Start, AskToStop and Stop; the stream thread runs the pin;
// Write (render) runs on the engine's buffer-switch path. stateLock_ keeps the thread's start of
// the pin and the stopper's stop of it apart.
#pragma once

#include "DevicePlatform.h"
#include "KsAudFilter.h"
#include "StreamThread.h"

#include <core/StreamParams.h>
#include <veloran/CriticalSection.h>
#include <veloran/UniqueHandle.h>

#include <windows.h>
#include <ks.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class CKsStream {
public:
    static constexpr DWORD kReadyWaitMs = CStreamThread::kReadyWaitMs;
    static constexpr DWORD kStartWaitMs = CStreamThread::kStartWaitMs;
    // 63 packet events and the stop event fill the 64 handles one wait accepts.
    static constexpr int kMaxRing = MAXIMUM_WAIT_OBJECTS - 1;

    struct Packet {
        KSSTREAM_HEADER header;
        OVERLAPPED overlapped;
    };

    virtual ~CKsStream();
    CKsStream(const CKsStream&) = delete;
    CKsStream& operator=(const CKsStream&) = delete;

    // The stop and ready events and the packet events, made once.
    bool CreateEvents();
    // Builds the filter on path, creates the pin (extensible format, else plain PCM) and the ring.
    // False leaves nothing open. Only while no thread runs and nothing is pending.
    bool Open(const std::wstring& path, const _sStreamParams& params, HANDLE startEvent);
    // Starts the thread and waits for its report; true when it is ready to run the pin.
    bool Start();
    // Ends the thread's loop and stops the pin, cancelling its pending requests; returns at once.
    void AskToStop();
    // AskToStop, then waits up to waitMs for the thread and for each pending request; closes the
    // pin and the filter when both are done. True when nothing is left in use.
    bool Stop(DWORD waitMs);

    int ringSize() const { return ring_; }
    // Every fault since the open; lock-free.
    uint64_t faults() const { return uint64_t(faults_.load(std::memory_order_relaxed)); }
    bool lost() const { return thread_.lost(); }

    // Packets in the ring for a packet count: at most kMaxRing, at least one.
    static int RingSize(int packetCount);

protected:
    CKsStream(IDevicePlatform& platform, bool capture);

    // The direction's filter and pin; CreatePin returns null when the pin refuses the format.
    virtual std::unique_ptr<CKsAudFilter> NewFilter(const std::wstring& path) = 0;
    virtual CKsAudPin* CreatePin(const WAVEFORMATEX* format) = 0;
    // After the pin is made: the bytes of one request (the nominal packet by default).
    virtual int PrepareDirection() { return nominalBytes_; }
    // On the stream thread before it reports ready.
    virtual bool BeforeReady() { return true; }
    virtual void Loop() = 0;
    // Last on the stream thread.
    virtual void Finish() {}
    virtual void CloseDirection() {}

    // Issues the request of packet i; false when the device refused it at once.
    bool Submit(int index, DWORD ioctl);
    bool Pending(const Packet& packet) const;
    // Waits for the stop event or a packet event; the packet index, or -1 for a stop, a failed
    // wait or waitMs without any event (timedOut set).
    int NextPacket(DWORD waitMs, bool& timedOut);
    bool stopRequested() const { return thread_.stopRequested(); }
    void CountFault() { faults_.fetch_add(1, std::memory_order_relaxed); }

    IDevicePlatform& platform_;
    const bool capture_;
    _sStreamParams params_;
    int nominalBytes_ = 0;
    std::unique_ptr<CKsAudFilter> filter_;
    std::unique_ptr<CKsAudPin> ownedPin_;  // render: the pin leaves its filter
    CKsAudPin* pin_ = nullptr;
    std::unique_ptr<Packet[]> packets_;
    int ring_ = 0;
    int packetBytes_ = 0;

private:
    static DWORD WINAPI ThreadProc(void* context);
    void Run();
    bool RunPin();
    bool CreatePinWithFallback();
    bool BuildRing();
    // Waits for every pending request until the deadline; true when none is left.
    bool Drain(ULONGLONG deadline);
    void Close();

    std::atomic<int64_t> faults_{0};
    CCriticalSection stateLock_;
    CStreamThread thread_;
    UniqueHandle packetEvents_[kMaxRing];
    HANDLE waits_[kMaxRing + 1] = {};  // the stop event, then the ring's packet events
    std::unique_ptr<uint8_t[]> data_;
};
