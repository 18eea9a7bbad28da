// Virtual kernel-streaming filters behind the device platform seam: filters listed in
// KSCATEGORY_AUDIO with aliases in other categories, pins with their properties and audio data
// ranges, topology nodes with volume ranges and the values set on them, and pin handles made by
// KsCreatePin that answer their connection state and allocator framing. Replies follow Windows'
// layouts and small-buffer rules: a zero-length output is answered ERROR_MORE_DATA with the
// needed size returned, a short one ERROR_INSUFFICIENT_BUFFER.
//
// Requests on overlapped handles complete as the filter is told: at once, later from another
// thread (the OVERLAPPED's Internal and InternalHigh set and its event signalled, as the kernel
// does), or never until cancelled. A cancelled request completes a little later, from that thread,
// as a slow cancel routine would. Submitting an OVERLAPPED that is still pending throws
// std::logic_error, which fails the test.
//
// Streaming pins (IOCTL_KS_READ_STREAM on capture pins, IOCTL_KS_WRITE_STREAM on render pins)
// run on the clock of the audio endpoint their filter is bound to: a request stays pending until
// the clock has produced or played its frames, then completes in submission order (DataUsed,
// Internal, InternalHigh, event). KSSTATE_STOP and closing the pin cancel what is pending. A
// header or OVERLAPPED still pending that is submitted again throws; a header the driver changed
// while the device held it, or an event closed before its request completed, is counted.
//
// Handles answer only for this model's objects (others fail with ERROR_INVALID_HANDLE, unknown
// paths with ERROR_FILE_NOT_FOUND), so a composite platform can offer each call to its members.
#pragma once

#include <devices/DevicePlatform.h>
#include <devices/DeviceIds.h>

#include "VirtualAudio.h"

#include <mmreg.h>
#include <ksmedia.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

class CKnownDeviceTable;

struct VirtualKsRange {
    ULONG minRate = 44100, maxRate = 48000;
    ULONG minBits = 16, maxBits = 24;
    ULONG maxChannels = 2;
    GUID subFormat = kSubtypePcm;
};

struct VirtualKsPin {
    KSPIN_COMMUNICATION communication = KSPIN_COMMUNICATION_SINK;
    KSPIN_DATAFLOW dataFlow = KSPIN_DATAFLOW_IN;
    std::vector<KSPIN_INTERFACE> interfaces = {{{kKsInterfaceSetStandard, KSINTERFACE_STANDARD_STREAMING, 0}}};
    std::vector<KSPIN_MEDIUM> mediums = {{{kKsMediumSetStandard, KSMEDIUM_TYPE_ANYINSTANCE, 0}}};
    std::vector<VirtualKsRange> ranges = {VirtualKsRange{}};
    GUID category = {};
    std::wstring name = L"Pin";
    KSPIN_CINSTANCES instances = {1, 0};
    bool acceptsExtensible = true;  // KsCreatePin takes WAVEFORMATEXTENSIBLE formats
    bool acceptsUncovered = false;  // KsCreatePin takes formats no range covers
    ULONG frameSize = 0;            // KSALLOCATOR_FRAMING.FrameSize; 0 = no such property
    ULONG extendedFrameSize = 0;    // first framing item's MinFrameSize; 0 = no such property
};

struct VirtualKsNode {
    GUID type = kKsNodeTypeSum;
    ULONG channels = 2;
    // Volume nodes: the BASICSUPPORT range per channel, in 1/65536 dB.
    LONG minimum = -96 * 65536, maximum = 0, stepping = 65536 / 256;
};

struct VirtualKsFilter {
    std::wstring path;
    std::vector<std::pair<GUID, DWORD>> aliases;  // category and SPINT_* flags
    std::vector<VirtualKsPin> pins;
    std::vector<VirtualKsNode> nodes;
};

// One KsCreatePin call as the filter received it.
struct VirtualKsConnect {
    ULONG pinId = 0;
    ULONG interfaceId = 0;
    KSPRIORITY priority = {};
    ULONG formatSize = 0;  // KSDATAFORMAT.FormatSize
    ULONG sampleSize = 0;
    std::vector<BYTE> waveFormat;
    DWORD result = ERROR_SUCCESS;
};

// A pin handle's life: the states set on it, and whether it is still open.
struct VirtualKsPinInstance {
    ULONG pinId = 0;
    std::vector<KSSTATE> states;
    bool open = true;
};

enum class VirtualKsCompletion { Immediate, Pending, Never };

class CVirtualKs {
public:
    using FilterId = int;
    // Rewrites a GET or BASICSUPPORT reply before it is answered: the bytes and the size the
    // device claims; the id is the pin's or, for node requests, the node's.
    using Tamper = std::function<void(const KSPROPERTY& property, ULONG pinId, std::vector<BYTE>& reply,
                                      DWORD& claimedBytes)>;

    // Handle values are handleBase + 4n.
    explicit CVirtualKs(uintptr_t handleBase = 0x6B50000);
    ~CVirtualKs();
    CVirtualKs(const CVirtualKs&) = delete;
    CVirtualKs& operator=(const CVirtualKs&) = delete;

    // present, when given, says whether the device behind the filter is plugged in.
    FilterId AddFilter(VirtualKsFilter filter, std::function<bool()> present = {});
    // The filter of one data flow of a USB audio interface with these ids: a streaming sink pin
    // and a bridge pin, ranges of 44100 to 48000 Hz and 16 to 24 bits, and the topology of the
    // known-devices row of the product (its mute, volume and AGC nodes at the row's node ids).
    static VirtualKsFilter AudioInterfaceFilter(const std::wstring& path, uint16_t vendorId, uint16_t productId,
                                                bool capture, int channels, const CKnownDeviceTable& table);

    // Configuration, also after the filter was opened.
    VirtualKsFilter& Filter(FilterId filter);
    void SetAlias(FilterId filter, const GUID& category, DWORD flags);  // flags 0 removes it
    void SetCompletion(FilterId filter, VirtualKsCompletion completion);
    void SetTamper(FilterId filter, Tamper tamper);
    // Requests for this property that carry a buffer get `bytes` fewer than a size probe is told,
    // the reply's own header unchanged: a list that shrank between the probe and the read.
    void ShortenReads(FilterId filter, const GUID& set, ULONG id, DWORD bytes);
    // Streams of the filter's pins run on this endpoint's clock; without it they are refused.
    void SetStreamClock(FilterId filter, CVirtualAudioSystem& audio, CVirtualAudioSystem::EndpointId endpoint);
    // From now on stream requests stay pending until cancelled: a device that stopped.
    void StopCompleting(FilterId filter);
    // The read-th capture read submitted to the filter's pins from now on (0: the next) completes
    // with only `bytes` of data, as devices do around a start or a stop: the rest of its buffer
    // keeps what it held, and the frames the clock put there are lost.
    void CompleteReadShort(FilterId filter, int read, ULONG bytes);

    // What the filter was told.
    std::vector<VirtualKsConnect> Connects(FilterId filter) const;
    std::vector<VirtualKsPinInstance> PinInstances(FilterId filter) const;
    // The last value set on a node's control channel (KSPROPERTY_AUDIO_VOLUMELEVEL, MUTE, AGC).
    std::optional<LONG> NodeValue(FilterId filter, ULONG nodeId, ULONG propertyId, ULONG channel) const;
    int NodeSetCount(FilterId filter) const;
    DWORD LastShareMode(FilterId filter) const;
    int OpenHandleCount() const;
    int OutstandingRequests() const;  // submitted and not yet completed
    int CancelledRequests() const;    // completed as cancelled
    // Stream requests whose header the driver changed while pending, or whose event was closed.
    int Violations() const;

    // IDevicePlatform, for this model's objects.
    bool OwnsPath(const std::wstring& path) const;
    bool OwnsHandle(HANDLE handle) const;
    // Appends the present filters: all of them for KSCATEGORY_AUDIO, none for other classes.
    void ListInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces) const;
    bool GetInterfaceAlias(const GUID& interfaceClass, const std::wstring& path, const GUID& aliasClass,
                           DWORD& aliasFlags) const;
    HANDLE OpenDevice(const std::wstring& path, DWORD shareMode, DWORD flagsAndAttributes);
    void CloseDevice(HANDLE device);
    BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned,
                   OVERLAPPED* overlapped);
    BOOL CancelIo(HANDLE device, OVERLAPPED* overlapped);
    BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
    DWORD CreatePin(HANDLE filter, KSPIN_CONNECT* connect, ACCESS_MASK access, HANDLE* pin);

private:
    struct FilterState {
        VirtualKsFilter model;
        std::function<bool()> present;
        VirtualKsCompletion completion = VirtualKsCompletion::Immediate;
        Tamper tamper;
        std::vector<VirtualKsConnect> connects;
        std::vector<VirtualKsPinInstance> instances;
        std::map<std::tuple<ULONG, ULONG, ULONG>, LONG> nodeValues;  // (node, property, channel)
        int nodeSets = 0;
        DWORD lastShareMode = 0;
        CVirtualAudioSystem* audio = nullptr;
        CVirtualAudioSystem::EndpointId endpoint = -1;
        bool stalled = false;
        GUID shortenedSet = {};
        ULONG shortenedId = 0;
        DWORD shortenedBy = 0;
        int shortReadIn = -1;  // capture reads to submit before the short one
        ULONG shortReadBytes = 0;
    };
    struct OpenHandle {
        FilterId filter;
        int instance;  // index into the filter's pin instances; -1 for the filter itself
        DWORD shareMode;
        bool overlapped;
        int stream = -1;  // the pin's stream on the endpoint clock
    };
    struct Reply {
        DWORD error = ERROR_SUCCESS;
        std::vector<BYTE> bytes;
        DWORD claimed = 0;            // the size the device says it needs
        bool partialAllowed = false;  // BASICSUPPORT: 4 bytes or the description alone
        DWORD shortBy = 0;            // a request with a buffer gets this many bytes fewer
    };
    struct Request {
        HANDLE device;
        OVERLAPPED* overlapped;
        void* out;
        DWORD outBytes;
        Reply reply;
        bool cancelled = false;
        const KSSTREAM_HEADER* header = nullptr;  // stream requests: as submitted
        KSSTREAM_HEADER snapshot = {};
        bool capture = false;
        bool shortened = false;     // completes with shortBytes; stale is its buffer's rest as submitted
        ULONG shortBytes = 0;
        std::vector<BYTE> stale;
    };
    using Actions = std::vector<std::function<void()>>;  // run once the lock is released

    DWORD Submit(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned,
                 OVERLAPPED* overlapped, Actions& after);
    DWORD SubmitStream(const OpenHandle& open, FilterState& filter, DWORD code, void* out, DWORD outBytes,
                       OVERLAPPED* overlapped, Actions& after);
    void StreamDone(uint64_t token, uint32_t bytes);
    // Takes the pin's queued requests (one, or all for token 0) off the clock as cancelled.
    void CancelStream(CVirtualAudioSystem* audio, int stream, uint64_t token);
    void CancelParked(HANDLE device);
    // Completes and checks a stream request; the lock is held.
    void Finish(Request& request, DWORD error, DWORD bytes, ULONG captured);
    DWORD CreatePinLocked(HANDLE filter, KSPIN_CONNECT* connect, HANDLE* pin, CVirtualAudioSystem*& audio,
                          CVirtualAudioSystem::EndpointId& endpoint, WAVEFORMATEX& waveFormat);
    FilterState& At(FilterId filter);
    const FilterState& At(FilterId filter) const;
    bool Present(const FilterState& filter) const;
    Reply FilterRequest(FilterState& filter, const std::vector<BYTE>& input, const void* out, DWORD outBytes);
    Reply PinRequest(FilterState& filter, const OpenHandle& open, HANDLE device, const std::vector<BYTE>& input,
                     const void* out, DWORD outBytes, Actions& after);
    Reply NodeRequest(FilterState& filter, const std::vector<BYTE>& input, const void* out, DWORD outBytes);
    // What a completed request leaves: bytes written to out and the count returned.
    static DWORD Deliver(const Reply& reply, void* out, DWORD outBytes, DWORD& returned);
    // False when the event could not be signalled (closed).
    static bool Complete(OVERLAPPED* overlapped, DWORD error, DWORD returned);
    void Completer();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<FilterState> filters_;  // stable: Filter() hands out references
    std::map<HANDLE, OpenHandle> handles_;
    uintptr_t handleBase_;
    uintptr_t handleSerial_ = 0;
    std::deque<Request> toComplete_;  // pending, or cancelled, requests the completer finishes
    std::vector<Request> parked_;     // requests that never complete until cancelled
    std::set<OVERLAPPED*> outstanding_;
    int cancelled_ = 0;
    std::map<uint64_t, Request> streaming_;  // stream requests on a clock, by token
    uint64_t streamSerial_ = 0;
    int violations_ = 0;
    bool stopping_ = false;
    std::thread completer_;
};
