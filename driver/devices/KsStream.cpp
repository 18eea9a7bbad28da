#include "KsStream.h"

#include "DeviceIds.h"

#include <mmreg.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace {

constexpr ULONG_PTR kStatusPending = 0x103;

}  // namespace

#if defined(_WIN64)
static_assert(sizeof(KSSTREAM_HEADER) == 56 && sizeof(CKsStream::Packet) == 88);
#else
static_assert(sizeof(KSSTREAM_HEADER) == 48 && sizeof(CKsStream::Packet) == 72);
#endif

CKsStream::CKsStream(IDevicePlatform& platform, bool capture) : platform_(platform), capture_(capture) {}

CKsStream::~CKsStream() = default;

int CKsStream::RingSize(int packetCount) { return std::clamp(packetCount, 1, kMaxRing); }

bool CKsStream::CreateEvents()
{
    if (!thread_.CreateEvents()) return false;
    waits_[0] = thread_.stopEvent();
    for (int i = 0; i < kMaxRing; ++i) {
        packetEvents_[i].Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!packetEvents_[i].valid()) return false;
        waits_[i + 1] = packetEvents_[i].get();
    }
    return true;
}

bool CKsStream::Open(const std::wstring& path, const _sStreamParams& params, HANDLE startEvent)
{
    if (thread_.alive() || pin_ || path.empty()) return false;
    thread_.Arm(startEvent);
    faults_ = 0;
    params_ = params;
    if (params.sampleRate <= 0 || params.channels < 1 || params.channels > 2 || params.bitsPerSample != 16 ||
        params.framesPerPacket <= 0 || params.framesPerPacket > 65536)
        return false;
    nominalBytes_ = NominalPacketBytes(params);

    filter_ = NewFilter(path);
    if (!filter_) return false;
    filter_->pinPriorityClass = params.pinPriorityClass;
    if (FAILED(filter_->Open()) || FAILED(filter_->EnumeratePins()) || !CreatePinWithFallback()) {
        Close();
        return false;
    }
    packetBytes_ = PrepareDirection();
    if (packetBytes_ <= 0 || !BuildRing()) {
        Close();
        return false;
    }
    return true;
}

bool CKsStream::CreatePinWithFallback()
{
    WAVEFORMATEXTENSIBLE format = {};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = WORD(params_.channels);
    format.Format.nSamplesPerSec = DWORD(params_.sampleRate);
    format.Format.wBitsPerSample = WORD(params_.bitsPerSample);
    format.Format.nBlockAlign = WORD(params_.bitsPerSample / 8 * params_.channels);
    format.Format.nAvgBytesPerSec = format.Format.nSamplesPerSec * format.Format.nBlockAlign;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = WORD(params_.bitsPerSample);
    // A one-channel capture is the front centre; everything else front left and right.
    format.dwChannelMask = capture_ && params_.channels == 1 ? SPEAKER_FRONT_CENTER
                                                             : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    format.SubFormat = kSubtypePcm;
    pin_ = CreatePin(&format.Format);
    if (pin_) return true;
    // Older class drivers know plain PCM only.
    WAVEFORMATEX plain = format.Format;
    plain.wFormatTag = WAVE_FORMAT_PCM;
    plain.cbSize = 0;
    pin_ = CreatePin(&plain);
    return pin_ != nullptr;
}

bool CKsStream::BuildRing()
{
    const int ring = RingSize(params_.packetCount);
    if (ring != ring_ || !packets_) {
        packets_.reset(new (std::nothrow) Packet[size_t(ring)]);
        ring_ = packets_ ? ring : 0;
    }
    data_.reset(new (std::nothrow) uint8_t[size_t(ring_) * size_t(packetBytes_)]());
    if (!packets_ || !data_) return false;
    for (int i = 0; i < ring_; ++i) {
        Packet& packet = packets_[i];
        std::memset(&packet, 0, sizeof(packet));
        packet.header.Size = sizeof(KSSTREAM_HEADER);
        packet.header.PresentationTime.Numerator = 1;
        packet.header.PresentationTime.Denominator = 1;
        packet.header.FrameExtent = ULONG(packetBytes_);
        packet.header.DataUsed = capture_ ? 0 : ULONG(packetBytes_);
        packet.header.Data = data_.get() + size_t(i) * packetBytes_;
        packet.overlapped.hEvent = packetEvents_[i].get();
        ResetEvent(packetEvents_[i].get());
    }
    return true;
}

bool CKsStream::Start()
{
    return pin_ && thread_.Launch(ThreadProc, this, params_.threadPriority);
}

void CKsStream::AskToStop()
{
    std::lock_guard<CCriticalSection> hold(stateLock_);
    thread_.RequestStop();
    // Stopping the pin cancels what it still holds; the thread may be waiting on any of it.
    if (pin_ && pin_->valid() && pin_->state() != KSSTATE_STOP) {
        pin_->SetState(KSSTATE_PAUSE);
        pin_->SetState(KSSTATE_STOP);
    }
}

bool CKsStream::Stop(DWORD waitMs)
{
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    AskToStop();
    if (!thread_.Join(waitMs)) return false;
    if (!Drain(deadline)) return false;
    Close();
    return true;
}

bool CKsStream::Drain(ULONGLONG deadline)
{
    if (!pin_ || !packets_) return true;
    for (int i = 0; i < ring_; ++i) {
        Packet& packet = packets_[i];
        if (!Pending(packet)) continue;
        platform_.CancelIo(pin_->handle(), &packet.overlapped);
        while (Pending(packet)) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) return false;
            WaitForSingleObject(packetEvents_[i].get(), DWORD(std::min<ULONGLONG>(deadline - now, 50)));
        }
    }
    return true;
}

void CKsStream::Close()
{
    CloseDirection();
    ownedPin_.reset();
    pin_ = nullptr;
    filter_.reset();
}

bool CKsStream::Pending(const Packet& packet) const
{
    // The kernel writes Internal when the request completes.
    return static_cast<volatile const ULONG_PTR&>(packet.overlapped.Internal) == kStatusPending;
}

bool CKsStream::Submit(int index, DWORD ioctl)
{
    Packet& packet = packets_[index];
    const BOOL done = platform_.IoControl(pin_->handle(), ioctl, nullptr, 0, &packet.header, packet.header.Size,
                                          nullptr, &packet.overlapped);
    return done || GetLastError() == ERROR_IO_PENDING;
}

int CKsStream::NextPacket(DWORD waitMs, bool& timedOut)
{
    timedOut = false;
    const DWORD woken = WaitForMultipleObjects(DWORD(ring_ + 1), waits_, FALSE, waitMs);
    if (stopRequested() || woken == WAIT_OBJECT_0) return -1;
    if (woken == WAIT_TIMEOUT) timedOut = true;
    if (woken > WAIT_OBJECT_0 && woken <= WAIT_OBJECT_0 + DWORD(ring_)) return int(woken - WAIT_OBJECT_0 - 1);
    return -1;
}

DWORD WINAPI CKsStream::ThreadProc(void* context)
{
    static_cast<CKsStream*>(context)->Run();
    return 0;
}

void CKsStream::Run()
{
    const bool prepared = BeforeReady();
    thread_.Ready(prepared);
    if (!prepared) return;  // the starter gives up
    if (thread_.WaitForStart() && RunPin()) {
        Loop();
        thread_.Ended();
    }
    Finish();
}

bool CKsStream::RunPin()
{
    std::lock_guard<CCriticalSection> hold(stateLock_);
    if (stopRequested()) return false;
    for (const KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        if (FAILED(pin_->SetState(state))) {
            CountFault();
            return false;
        }
    }
    return true;
}
