#include "VirtualKs.h"

#include <core/KnownDeviceTable.h>

#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <stdexcept>

namespace {

constexpr ULONG_PTR kStatusPending = 0x103;

struct StatusMap {
    DWORD error;
    ULONG_PTR status;
};
// The NTSTATUS a completed request carries in Internal, for the errors this model answers.
constexpr StatusMap kStatuses[] = {
    {ERROR_SUCCESS, 0},
    {ERROR_MORE_DATA, 0x80000005},            // STATUS_BUFFER_OVERFLOW
    {ERROR_INSUFFICIENT_BUFFER, 0xC0000023},  // STATUS_BUFFER_TOO_SMALL
    {ERROR_NOT_FOUND, 0xC0000225},            // STATUS_NOT_FOUND
    {ERROR_OPERATION_ABORTED, 0xC0000120},    // STATUS_CANCELLED
    {ERROR_INVALID_PARAMETER, 0xC000000D},    // STATUS_INVALID_PARAMETER
    {ERROR_INVALID_FUNCTION, 0xC0000010},     // STATUS_INVALID_DEVICE_REQUEST
    {ERROR_DEVICE_NOT_CONNECTED, 0xC000009D}, // STATUS_DEVICE_NOT_CONNECTED
};

ULONG_PTR StatusOf(DWORD error)
{
    for (const StatusMap& entry : kStatuses)
        if (entry.error == error) return entry.status;
    return 0xC0000001;  // STATUS_UNSUCCESSFUL
}

DWORD ErrorOf(ULONG_PTR status)
{
    for (const StatusMap& entry : kStatuses)
        if (entry.status == status) return entry.error;
    return ERROR_GEN_FAILURE;
}

bool Same(const GUID& a, const GUID& b) { return IsEqualGUID(a, b) != 0; }

bool SameText(std::wstring a, std::wstring b)
{
    for (auto* text : {&a, &b})
        for (wchar_t& c : *text) c = static_cast<wchar_t>(std::towlower(c));
    return a == b;
}

template <typename T>
T LoadFrom(const void* bytes, size_t offset = 0)
{
    T value;
    std::memcpy(&value, static_cast<const BYTE*>(bytes) + offset, sizeof(T));
    return value;
}

template <typename T>
void Append(std::vector<BYTE>& bytes, const T& value)
{
    const size_t at = bytes.size();
    bytes.resize(at + sizeof(T));
    std::memcpy(bytes.data() + at, &value, sizeof(T));
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

constexpr DWORD kBothShares = FILE_SHARE_READ | FILE_SHARE_WRITE;

}  // namespace

CVirtualKs::CVirtualKs(uintptr_t handleBase) : handleBase_(handleBase), completer_([this] { Completer(); }) {}

CVirtualKs::~CVirtualKs()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    completer_.join();
}

CVirtualKs::FilterId CVirtualKs::AddFilter(VirtualKsFilter filter, std::function<bool()> present)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    FilterState state;
    state.model = std::move(filter);
    state.present = std::move(present);
    filters_.push_back(std::move(state));
    return static_cast<FilterId>(filters_.size() - 1);
}

VirtualKsFilter CVirtualKs::AudioInterfaceFilter(const std::wstring& path, uint16_t vendorId, uint16_t productId,
                                                 bool capture, int channels, const CKnownDeviceTable& table)
{
    VirtualKsFilter filter;
    filter.path = path;
    filter.aliases.push_back({capture ? kKsCategoryCapture : kKsCategoryRender, SPINT_ACTIVE});

    VirtualKsPin streaming;
    streaming.dataFlow = capture ? KSPIN_DATAFLOW_OUT : KSPIN_DATAFLOW_IN;
    streaming.ranges[0].maxChannels = static_cast<ULONG>(channels);
    streaming.name = capture ? L"Capture" : L"Playback";
    VirtualKsPin bridge;
    bridge.communication = KSPIN_COMMUNICATION_NONE;
    bridge.dataFlow = capture ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT;
    bridge.ranges.clear();
    bridge.name = capture ? L"Line In" : L"Speakers";
    filter.pins = {streaming, bridge};

    // The product's topology: its row's control nodes among summing nodes.
    const _sKnownDeviceRow* row = nullptr;
    for (int i = 0; i < table.count() && !row; ++i)
        if (table.Row(i).vendorId == vendorId && table.Row(i).productId == productId) row = &table.Row(i);
    int32_t highest = 0;
    if (row)
        for (int32_t id : row->mixerNodeIds) highest = std::max(highest, id);
    VirtualKsNode node;
    node.channels = static_cast<ULONG>(channels);
    filter.nodes.assign(static_cast<size_t>(highest) + 2, node);
    if (row) {
        for (int entry = 0; entry < kMixerNodeCount; ++entry) {
            const int32_t id = row->mixerNodeIds[entry];
            if (id < 0) continue;
            const bool volume = entry == kNodeOutputVolume || entry == kNodeInputVolume;
            const bool agc = entry == kNodeOutputAgcOff || entry == kNodeInputAgcOff;
            filter.nodes[id].type = volume ? kKsNodeTypeVolume : agc ? kKsNodeTypeAgc : kKsNodeTypeMute;
        }
    }
    return filter;
}

CVirtualKs::FilterState& CVirtualKs::At(FilterId filter)
{
    if (filter < 0 || filter >= static_cast<FilterId>(filters_.size())) throw std::logic_error("no such KS filter");
    return filters_[filter];
}

const CVirtualKs::FilterState& CVirtualKs::At(FilterId filter) const
{
    if (filter < 0 || filter >= static_cast<FilterId>(filters_.size())) throw std::logic_error("no such KS filter");
    return filters_[filter];
}

bool CVirtualKs::Present(const FilterState& filter) const { return !filter.present || filter.present(); }

VirtualKsFilter& CVirtualKs::Filter(FilterId filter)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return At(filter).model;
}

void CVirtualKs::SetAlias(FilterId filter, const GUID& category, DWORD flags)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    auto& aliases = At(filter).model.aliases;
    const auto same = [&](const auto& alias) { return Same(alias.first, category); };
    aliases.erase(std::remove_if(aliases.begin(), aliases.end(), same), aliases.end());
    if (flags) aliases.push_back({category, flags});
}

void CVirtualKs::SetCompletion(FilterId filter, VirtualKsCompletion completion)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    At(filter).completion = completion;
}

void CVirtualKs::SetStreamClock(FilterId filter, CVirtualAudioSystem& audio, CVirtualAudioSystem::EndpointId endpoint)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    At(filter).audio = &audio;
    At(filter).endpoint = endpoint;
}

void CVirtualKs::StopCompleting(FilterId filter)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    At(filter).stalled = true;
}

void CVirtualKs::CompleteReadShort(FilterId filter, int read, ULONG bytes)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    At(filter).shortReadIn = read;
    At(filter).shortReadBytes = bytes;
}

int CVirtualKs::Violations() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
}

void CVirtualKs::SetTamper(FilterId filter, Tamper tamper)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    At(filter).tamper = std::move(tamper);
}

void CVirtualKs::ShortenReads(FilterId filter, const GUID& set, ULONG id, DWORD bytes)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    FilterState& state = At(filter);
    state.shortenedSet = set;
    state.shortenedId = id;
    state.shortenedBy = bytes;
}

std::vector<VirtualKsConnect> CVirtualKs::Connects(FilterId filter) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return At(filter).connects;
}

std::vector<VirtualKsPinInstance> CVirtualKs::PinInstances(FilterId filter) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return At(filter).instances;
}

std::optional<LONG> CVirtualKs::NodeValue(FilterId filter, ULONG nodeId, ULONG propertyId, ULONG channel) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto& values = At(filter).nodeValues;
    const auto found = values.find({nodeId, propertyId, channel});
    if (found == values.end()) return std::nullopt;
    return found->second;
}

int CVirtualKs::NodeSetCount(FilterId filter) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return At(filter).nodeSets;
}

DWORD CVirtualKs::LastShareMode(FilterId filter) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return At(filter).lastShareMode;
}

int CVirtualKs::OpenHandleCount() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(handles_.size());
}

int CVirtualKs::OutstandingRequests() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(outstanding_.size());
}

int CVirtualKs::CancelledRequests() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}

bool CVirtualKs::OwnsPath(const std::wstring& path) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(filters_.begin(), filters_.end(),
                       [&](const FilterState& f) { return SameText(f.model.path, path); });
}

bool CVirtualKs::OwnsHandle(HANDLE handle) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return handles_.count(handle) != 0;
}

void CVirtualKs::ListInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!Same(interfaceClass, kKsCategoryAudio)) return;
    for (const FilterState& filter : filters_)
        if (Present(filter)) interfaces.push_back({filter.model.path, std::wstring()});
}

bool CVirtualKs::GetInterfaceAlias(const GUID& interfaceClass, const std::wstring& path, const GUID& aliasClass,
                                   DWORD& aliasFlags) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    aliasFlags = 0;
    if (!Same(interfaceClass, kKsCategoryAudio)) return false;
    for (const FilterState& filter : filters_) {
        if (!Present(filter) || !SameText(filter.model.path, path)) continue;
        for (const auto& [category, flags] : filter.model.aliases) {
            if (!Same(category, aliasClass)) continue;
            aliasFlags = flags;
            return true;
        }
    }
    return false;
}

HANDLE CVirtualKs::OpenDevice(const std::wstring& path, DWORD shareMode, DWORD flagsAndAttributes)
{
    DWORD error = ERROR_FILE_NOT_FOUND;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (FilterId id = 0; id < static_cast<FilterId>(filters_.size()); ++id) {
            FilterState& filter = filters_[id];
            if (!Present(filter) || !SameText(filter.model.path, path)) continue;
            // Every open asks for reading and writing: a second one needs both to share both.
            const bool sharing = (shareMode & kBothShares) == kBothShares;
            const bool shared = std::all_of(handles_.begin(), handles_.end(), [&](const auto& open) {
                return open.second.filter != id || open.second.instance >= 0 ||
                       (sharing && (open.second.shareMode & kBothShares) == kBothShares);
            });
            if (!shared) {
                error = ERROR_SHARING_VIOLATION;
                break;
            }
            filter.lastShareMode = shareMode;
            const HANDLE handle = reinterpret_cast<HANDLE>(handleBase_ + 4 * ++handleSerial_);
            handles_[handle] = OpenHandle{id, -1, shareMode, (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0};
            return handle;
        }
    }
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

void CVirtualKs::CloseDevice(HANDLE device)
{
    CVirtualAudioSystem* audio = nullptr;
    int stream = -1;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto open = handles_.find(device);
        if (open == handles_.end()) return;
        if (open->second.instance >= 0) {
            filters_[open->second.filter].instances[open->second.instance].open = false;
            // Closing a pin cancels what it holds.
            CancelParked(device);
            audio = filters_[open->second.filter].audio;
            stream = open->second.stream;
        }
        handles_.erase(open);
    }
    wake_.notify_one();
    if (audio && stream >= 0) {
        CancelStream(audio, stream, 0);
        audio->ClosePin(stream);
    }
}

BOOL CVirtualKs::IoControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                           DWORD* returned, OVERLAPPED* overlapped)
{
    Actions after;
    const DWORD error = Submit(device, code, in, inBytes, out, outBytes, returned, overlapped, after);
    for (const auto& action : after) action();
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

DWORD CVirtualKs::Submit(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                         DWORD* returned, OVERLAPPED* overlapped, Actions& after)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (returned) *returned = 0;
    const auto open = handles_.find(device);
    if (open == handles_.end()) return ERROR_INVALID_HANDLE;
    if (overlapped && outstanding_.count(overlapped))
        throw std::logic_error("an OVERLAPPED still pending was submitted again");
    if ((inBytes && !in) || (outBytes && !out)) return ERROR_NOACCESS;
    FilterState& filter = filters_[open->second.filter];
    if (!Present(filter)) return ERROR_DEVICE_NOT_CONNECTED;
    if (open->second.instance >= 0 && (code == IOCTL_KS_READ_STREAM || code == IOCTL_KS_WRITE_STREAM))
        return SubmitStream(open->second, filter, code, out, outBytes, overlapped, after);

    const std::vector<BYTE> input(static_cast<BYTE*>(in), static_cast<BYTE*>(in) + inBytes);
    Reply reply;
    if (open->second.instance >= 0 && code == IOCTL_KS_PROPERTY)
        reply = PinRequest(filter, open->second, device, input, out, outBytes, after);
    else if (code == IOCTL_KS_PROPERTY) reply = FilterRequest(filter, input, out, outBytes);
    else reply.error = ERROR_INVALID_FUNCTION;

    // A synchronous handle waits inside the call.
    const VirtualKsCompletion completion =
        open->second.overlapped && overlapped ? filter.completion : VirtualKsCompletion::Immediate;
    if (completion == VirtualKsCompletion::Immediate) {
        DWORD bytes = 0;
        const DWORD error = Deliver(reply, out, outBytes, bytes);
        if (overlapped) Complete(overlapped, error, bytes);
        if (returned) *returned = bytes;
        return error;
    }
    overlapped->Internal = kStatusPending;
    overlapped->InternalHigh = 0;
    outstanding_.insert(overlapped);
    Request request{device, overlapped, out, outBytes, std::move(reply)};
    if (completion == VirtualKsCompletion::Pending) {
        toComplete_.push_back(std::move(request));
        wake_.notify_one();
    } else {
        parked_.push_back(std::move(request));
    }
    return ERROR_IO_PENDING;
}

BOOL CVirtualKs::CancelIo(HANDLE device, OVERLAPPED* overlapped)
{
    DWORD error = ERROR_NOT_FOUND;
    std::vector<std::tuple<CVirtualAudioSystem*, int, uint64_t>> clocked;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!handles_.count(device)) return Fail(ERROR_INVALID_HANDLE);
        for (auto request = parked_.begin(); request != parked_.end();) {
            if (request->device != device || (overlapped && request->overlapped != overlapped)) {
                ++request;
                continue;
            }
            request->cancelled = true;
            toComplete_.push_back(std::move(*request));
            request = parked_.erase(request);
            error = ERROR_SUCCESS;
        }
        for (const auto& [token, request] : streaming_) {
            if (request.device != device || (overlapped && request.overlapped != overlapped)) continue;
            const OpenHandle& open = handles_.at(device);
            clocked.emplace_back(filters_[open.filter].audio, open.stream, overlapped ? token : 0);
            error = ERROR_SUCCESS;
            break;
        }
    }
    wake_.notify_one();
    for (const auto& [audio, stream, token] : clocked) CancelStream(audio, stream, token);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL CVirtualKs::GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!handles_.count(device)) return Fail(ERROR_INVALID_HANDLE);
    if (overlapped->Internal == kStatusPending) {
        if (!wait) return Fail(ERROR_IO_INCOMPLETE);
        lock.unlock();
        WaitForSingleObject(reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(overlapped->hEvent) & ~ULONG_PTR(1)),
                            INFINITE);
        lock.lock();
    }
    if (transferred) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    const DWORD error = ErrorOf(overlapped->Internal);
    lock.unlock();
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

bool CVirtualKs::Complete(OVERLAPPED* overlapped, DWORD error, DWORD returned)
{
    overlapped->InternalHigh = returned;
    overlapped->Internal = StatusOf(error);
    if (!overlapped->hEvent) return true;
    return SetEvent(reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(overlapped->hEvent) & ~ULONG_PTR(1))) != 0;
}

void CVirtualKs::Finish(Request& request, DWORD error, DWORD bytes, ULONG captured)
{
    // The device still held the header: the driver must not have touched it, nor closed its event.
    if (request.header) {
        if (std::memcmp(request.header, &request.snapshot, sizeof(KSSTREAM_HEADER)) != 0)
            ++violations_;
        else if (request.capture && error == ERROR_SUCCESS)
            const_cast<KSSTREAM_HEADER*>(request.header)->DataUsed = captured;
    }
    outstanding_.erase(request.overlapped);
    if (!Complete(request.overlapped, error, bytes) && request.header) ++violations_;
}

DWORD CVirtualKs::SubmitStream(const OpenHandle& open, FilterState& filter, DWORD code, void* out, DWORD outBytes,
                               OVERLAPPED* overlapped, Actions& after)
{
    VirtualKsPinInstance& pin = filter.instances[open.instance];
    const bool capturePin = filter.model.pins[pin.pinId].dataFlow == KSPIN_DATAFLOW_OUT;
    if (!filter.audio || open.stream < 0 || capturePin != (code == IOCTL_KS_READ_STREAM) || !open.overlapped ||
        !overlapped)
        return ERROR_INVALID_FUNCTION;
    if (outBytes < sizeof(KSSTREAM_HEADER)) return ERROR_INSUFFICIENT_BUFFER;
    auto* header = static_cast<KSSTREAM_HEADER*>(out);
    const auto held = [header](const Request& request) { return request.header == header; };
    if (std::any_of(streaming_.begin(), streaming_.end(), [&](const auto& entry) { return held(entry.second); }) ||
        std::any_of(parked_.begin(), parked_.end(), held) || std::any_of(toComplete_.begin(), toComplete_.end(), held))
        throw std::logic_error("a stream header still pending was submitted again");
    const ULONG bytes = capturePin ? header->FrameExtent : header->DataUsed;
    if (header->Size != sizeof(KSSTREAM_HEADER) || !header->Data || bytes == 0 || bytes > header->FrameExtent)
        return ERROR_INVALID_PARAMETER;
    if (pin.states.empty() || pin.states.back() == KSSTATE_STOP) return ERROR_BAD_COMMAND;

    overlapped->Internal = kStatusPending;
    overlapped->InternalHigh = 0;
    outstanding_.insert(overlapped);
    Request request{reinterpret_cast<HANDLE>(0), overlapped, out, outBytes, Reply{}};
    for (const auto& [handle, entry] : handles_)
        if (entry.filter == open.filter && entry.instance == open.instance) request.device = handle;
    request.header = header;
    request.snapshot = *header;
    request.capture = capturePin;
    if (capturePin && filter.shortReadIn >= 0 && filter.shortReadIn-- == 0) {
        request.shortened = true;
        request.shortBytes = std::min(filter.shortReadBytes, bytes);
        const auto* data = static_cast<const BYTE*>(header->Data);
        request.stale.assign(data + request.shortBytes, data + bytes);
    }
    if (filter.stalled) {
        parked_.push_back(std::move(request));
        return ERROR_IO_PENDING;
    }
    const uint64_t token = ++streamSerial_;
    streaming_.emplace(token, std::move(request));
    CVirtualAudioSystem* audio = filter.audio;
    const int stream = open.stream;
    auto* data = static_cast<uint8_t*>(header->Data);
    after.push_back([audio, stream, token, data, bytes] { audio->QueuePinRequest(stream, token, data, bytes); });
    return ERROR_IO_PENDING;
}

void CVirtualKs::StreamDone(uint64_t token, uint32_t bytes)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = streaming_.find(token);
    if (entry == streaming_.end()) return;
    Request request = std::move(entry->second);
    streaming_.erase(entry);
    if (request.shortened) {
        auto* data = static_cast<BYTE*>(request.header->Data);
        std::copy(request.stale.begin(), request.stale.end(), data + request.shortBytes);
        bytes = request.shortBytes;
    }
    Finish(request, ERROR_SUCCESS, sizeof(KSSTREAM_HEADER), bytes);
}

void CVirtualKs::CancelStream(CVirtualAudioSystem* audio, int stream, uint64_t token)
{
    const std::vector<uint64_t> taken = audio->CancelPinRequests(stream, token);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const uint64_t t : taken) {
            const auto entry = streaming_.find(t);
            if (entry == streaming_.end()) continue;
            entry->second.cancelled = true;
            toComplete_.push_back(std::move(entry->second));
            streaming_.erase(entry);
        }
    }
    wake_.notify_one();
}

void CVirtualKs::CancelParked(HANDLE device)
{
    for (auto request = parked_.begin(); request != parked_.end();) {
        if (request->device != device) {
            ++request;
            continue;
        }
        request->cancelled = true;
        toComplete_.push_back(std::move(*request));
        request = parked_.erase(request);
    }
}

void CVirtualKs::Completer()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !toComplete_.empty(); });
        if (stopping_) return;
        Request request = std::move(toComplete_.front());
        toComplete_.pop_front();
        DWORD bytes = 0;
        DWORD error = ERROR_OPERATION_ABORTED;
        if (request.cancelled) {
            // A slow cancel routine: a caller that does not wait for the cancellation is gone
            // before it completes.
            lock.unlock();
            Sleep(20);
            lock.lock();
            ++cancelled_;
        } else {
            error = Deliver(request.reply, request.out, request.outBytes, bytes);
        }
        // Out of the pending set before the event lets the caller reuse the OVERLAPPED.
        Finish(request, error, bytes, 0);
    }
}

DWORD CVirtualKs::Deliver(const Reply& reply, void* out, DWORD outBytes, DWORD& returned)
{
    returned = 0;
    if (reply.error != ERROR_SUCCESS) return reply.error;
    if (outBytes == 0 && reply.claimed > 0) {
        returned = reply.claimed;
        return ERROR_MORE_DATA;
    }
    DWORD bytes = reply.claimed;
    if (outBytes < reply.claimed) {
        // BASICSUPPORT answers the access flags alone, or the description without its members.
        if (!reply.partialAllowed || (outBytes != sizeof(ULONG) && outBytes < sizeof(KSPROPERTY_DESCRIPTION)))
            return ERROR_INSUFFICIENT_BUFFER;
        bytes = outBytes == sizeof(ULONG) ? sizeof(ULONG) : sizeof(KSPROPERTY_DESCRIPTION);
    }
    bytes -= std::min(bytes, reply.shortBy);
    std::memcpy(out, reply.bytes.data(), std::min<size_t>({bytes, outBytes, reply.bytes.size()}));
    returned = bytes;
    return ERROR_SUCCESS;
}

namespace {

template <typename T>
std::vector<BYTE> MultipleItem(const std::vector<T>& items)
{
    std::vector<BYTE> bytes;
    Append(bytes, KSMULTIPLE_ITEM{static_cast<ULONG>(sizeof(KSMULTIPLE_ITEM) + items.size() * sizeof(T)),
                                  static_cast<ULONG>(items.size())});
    for (const T& item : items) Append(bytes, item);
    return bytes;
}

KSDATARANGE_AUDIO AudioRange(const VirtualKsRange& range)
{
    KSDATARANGE_AUDIO audio = {};
    audio.DataRange.FormatSize = sizeof(KSDATARANGE_AUDIO);
    audio.DataRange.MajorFormat = kKsDataFormatTypeAudio;
    audio.DataRange.SubFormat = range.subFormat;
    audio.DataRange.Specifier = kKsDataFormatSpecifierWaveFormatEx;
    audio.MaximumChannels = range.maxChannels;
    audio.MinimumBitsPerSample = range.minBits;
    audio.MaximumBitsPerSample = range.maxBits;
    audio.MinimumSampleFrequency = range.minRate;
    audio.MaximumSampleFrequency = range.maxRate;
    return audio;
}

}  // namespace

CVirtualKs::Reply CVirtualKs::FilterRequest(FilterState& filter, const std::vector<BYTE>& input, const void* out,
                                            DWORD outBytes)
{
    Reply reply;
    if (input.size() < sizeof(KSPROPERTY)) {
        reply.error = ERROR_INVALID_PARAMETER;
        return reply;
    }
    const auto property = LoadFrom<KSPROPERTY>(input.data());
    const ULONG pinId = input.size() >= sizeof(KSP_PIN) ? LoadFrom<KSP_PIN>(input.data()).PinId : 0;
    const auto& pins = filter.model.pins;
    if (Same(property.Set, kKsPropSetAudio) && (property.Flags & KSPROPERTY_TYPE_TOPOLOGY))
        return NodeRequest(filter, input, out, outBytes);

    reply.error = ERROR_NOT_FOUND;
    if (!(property.Flags & KSPROPERTY_TYPE_GET)) return reply;
    if (Same(property.Set, kKsPropSetTopology) && property.Id == KSPROPERTY_TOPOLOGY_NODES) {
        std::vector<GUID> types;
        for (const VirtualKsNode& node : filter.model.nodes) types.push_back(node.type);
        reply.bytes = MultipleItem(types);
        reply.error = ERROR_SUCCESS;
    } else if (Same(property.Set, kKsPropSetPin)) {
        if (property.Id == KSPROPERTY_PIN_CTYPES) {
            Append(reply.bytes, static_cast<ULONG>(pins.size()));
            reply.error = ERROR_SUCCESS;
        } else if (input.size() < sizeof(KSP_PIN)) {
            reply.error = ERROR_INVALID_PARAMETER;
        } else if (pinId < pins.size()) {
            const VirtualKsPin& pin = pins[pinId];
            reply.error = ERROR_SUCCESS;
            switch (property.Id) {
            case KSPROPERTY_PIN_COMMUNICATION: Append(reply.bytes, pin.communication); break;
            case KSPROPERTY_PIN_DATAFLOW: Append(reply.bytes, pin.dataFlow); break;
            case KSPROPERTY_PIN_INTERFACES: reply.bytes = MultipleItem(pin.interfaces); break;
            case KSPROPERTY_PIN_MEDIUMS: reply.bytes = MultipleItem(pin.mediums); break;
            case KSPROPERTY_PIN_CATEGORY: Append(reply.bytes, pin.category); break;
            case KSPROPERTY_PIN_CINSTANCES: Append(reply.bytes, pin.instances); break;
            case KSPROPERTY_PIN_GLOBALCINSTANCES: Append(reply.bytes, pin.instances); break;
            case KSPROPERTY_PIN_DATARANGES: {
                std::vector<KSDATARANGE_AUDIO> ranges;
                for (const VirtualKsRange& range : pin.ranges) ranges.push_back(AudioRange(range));
                reply.bytes = MultipleItem(ranges);
                break;
            }
            case KSPROPERTY_PIN_NAME: {
                const auto* raw = reinterpret_cast<const BYTE*>(pin.name.c_str());
                reply.bytes.assign(raw, raw + (pin.name.size() + 1) * sizeof(wchar_t));
                break;
            }
            default: reply.error = ERROR_NOT_FOUND; break;
            }
        }
    }
    reply.claimed = static_cast<DWORD>(reply.bytes.size());
    if (reply.error == ERROR_SUCCESS && filter.tamper) filter.tamper(property, pinId, reply.bytes, reply.claimed);
    if (filter.shortenedBy && Same(property.Set, filter.shortenedSet) && property.Id == filter.shortenedId)
        reply.shortBy = filter.shortenedBy;
    return reply;
}

CVirtualKs::Reply CVirtualKs::NodeRequest(FilterState& filter, const std::vector<BYTE>& input, const void* out,
                                          DWORD outBytes)
{
    Reply reply;
    reply.error = ERROR_INVALID_PARAMETER;
    if (input.size() < sizeof(KSNODEPROPERTY)) return reply;
    const auto request = LoadFrom<KSNODEPROPERTY>(input.data());
    const ULONG id = request.Property.Id;
    const ULONG flags = request.Property.Flags & ~KSPROPERTY_TYPE_TOPOLOGY;
    reply.error = ERROR_NOT_FOUND;
    if (request.NodeId >= filter.model.nodes.size()) return reply;
    const VirtualKsNode& node = filter.model.nodes[request.NodeId];
    const bool fits = (id == KSPROPERTY_AUDIO_VOLUMELEVEL && Same(node.type, kKsNodeTypeVolume)) ||
                      (id == KSPROPERTY_AUDIO_MUTE && Same(node.type, kKsNodeTypeMute)) ||
                      (id == KSPROPERTY_AUDIO_AGC && Same(node.type, kKsNodeTypeAgc));
    if (!fits) return reply;

    if (flags == KSPROPERTY_TYPE_BASICSUPPORT) {
        if (id != KSPROPERTY_AUDIO_VOLUMELEVEL) return reply;
        KSPROPERTY_DESCRIPTION description = {};
        description.AccessFlags = KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET;
        description.DescriptionSize = sizeof(KSPROPERTY_DESCRIPTION) + sizeof(KSPROPERTY_MEMBERSHEADER) +
                                      node.channels * sizeof(KSPROPERTY_STEPPING_LONG);
        description.PropTypeSet.Set = kKsPropTypeSetGeneral;
        description.PropTypeSet.Id = VT_I4;
        description.MembersListCount = 1;
        KSPROPERTY_MEMBERSHEADER members = {};
        members.MembersFlags = KSPROPERTY_MEMBER_STEPPEDRANGES;
        members.MembersSize = sizeof(KSPROPERTY_STEPPING_LONG);
        members.MembersCount = node.channels;
        members.Flags = KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL;
        Append(reply.bytes, description);
        Append(reply.bytes, members);
        for (ULONG channel = 0; channel < node.channels; ++channel) {
            KSPROPERTY_STEPPING_LONG stepping = {};
            stepping.SteppingDelta = static_cast<ULONG>(node.stepping);
            stepping.Bounds.SignedMinimum = node.minimum;
            stepping.Bounds.SignedMaximum = node.maximum;
            Append(reply.bytes, stepping);
        }
        reply.claimed = static_cast<DWORD>(reply.bytes.size());
        reply.partialAllowed = true;
        reply.error = ERROR_SUCCESS;
        if (filter.tamper) filter.tamper(request.Property, request.NodeId, reply.bytes, reply.claimed);
        return reply;
    }

    reply.error = ERROR_INVALID_PARAMETER;
    if (input.size() < sizeof(KSNODEPROPERTY_AUDIO_CHANNEL)) return reply;
    const auto channel = static_cast<ULONG>(LoadFrom<KSNODEPROPERTY_AUDIO_CHANNEL>(input.data()).Channel);
    if (channel >= node.channels) return reply;
    const auto key = std::make_tuple(request.NodeId, id, channel);
    if (flags == KSPROPERTY_TYPE_SET) {
        if (outBytes < sizeof(LONG)) {
            reply.error = ERROR_INSUFFICIENT_BUFFER;
            return reply;
        }
        filter.nodeValues[key] = LoadFrom<LONG>(out);
        ++filter.nodeSets;
        reply.error = ERROR_SUCCESS;
    } else if (flags == KSPROPERTY_TYPE_GET) {
        const auto value = filter.nodeValues.find(key);
        Append(reply.bytes, value == filter.nodeValues.end() ? LONG(0) : value->second);
        reply.claimed = sizeof(LONG);
        reply.error = ERROR_SUCCESS;
    }
    return reply;
}

CVirtualKs::Reply CVirtualKs::PinRequest(FilterState& filter, const OpenHandle& open, HANDLE device,
                                         const std::vector<BYTE>& input, const void* out, DWORD outBytes,
                                         Actions& after)
{
    Reply reply;
    reply.error = ERROR_INVALID_PARAMETER;
    if (input.size() < sizeof(KSPROPERTY)) return reply;
    const auto property = LoadFrom<KSPROPERTY>(input.data());
    VirtualKsPinInstance& pin = filter.instances[open.instance];
    const VirtualKsPin& model = filter.model.pins[pin.pinId];
    reply.error = ERROR_NOT_FOUND;
    if (!Same(property.Set, kKsPropSetConnection)) return reply;
    if (property.Id == KSPROPERTY_CONNECTION_STATE && property.Flags == KSPROPERTY_TYPE_SET) {
        if (outBytes < sizeof(KSSTATE)) {
            reply.error = ERROR_INSUFFICIENT_BUFFER;
            return reply;
        }
        const auto state = LoadFrom<KSSTATE>(out);
        pin.states.push_back(state);
        // The clock runs in RUN only; STOP cancels what the pin holds.
        if (state == KSSTATE_STOP) CancelParked(device);
        if (filter.audio && open.stream >= 0) {
            CVirtualAudioSystem* audio = filter.audio;
            const int stream = open.stream;
            after.push_back([this, audio, stream, state] {
                audio->RunPin(stream, state == KSSTATE_RUN);
                if (state == KSSTATE_STOP) CancelStream(audio, stream, 0);
            });
        }
        if (state == KSSTATE_STOP) wake_.notify_one();
        reply.error = ERROR_SUCCESS;
        return reply;
    }
    if (property.Flags != KSPROPERTY_TYPE_GET) return reply;
    if (property.Id == KSPROPERTY_CONNECTION_STATE) {
        Append(reply.bytes, pin.states.empty() ? KSSTATE_STOP : pin.states.back());
    } else if (property.Id == KSPROPERTY_CONNECTION_ALLOCATORFRAMING && model.frameSize) {
        KSALLOCATOR_FRAMING framing = {};
        framing.Frames = 8;
        framing.FrameSize = model.frameSize;
        Append(reply.bytes, framing);
    } else if (property.Id == KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX && model.extendedFrameSize) {
        KSALLOCATOR_FRAMING_EX framing = {};
        framing.CountItems = 1;
        framing.FramingItem[0].Frames = 8;
        framing.FramingItem[0].PhysicalRange.MinFrameSize = model.extendedFrameSize;
        framing.FramingItem[0].PhysicalRange.MaxFrameSize = model.extendedFrameSize;
        Append(reply.bytes, framing);
    } else {
        return reply;
    }
    reply.claimed = static_cast<DWORD>(reply.bytes.size());
    reply.error = ERROR_SUCCESS;
    return reply;
}

DWORD CVirtualKs::CreatePin(HANDLE filterHandle, KSPIN_CONNECT* connect, ACCESS_MASK access, HANDLE* pin)
{
    CVirtualAudioSystem* audio = nullptr;
    CVirtualAudioSystem::EndpointId endpoint = -1;
    WAVEFORMATEX format = {};
    const DWORD result = CreatePinLocked(filterHandle, connect, pin, audio, endpoint, format);
    if (result != ERROR_SUCCESS || !audio) return result;
    const int stream = audio->OpenPin(endpoint, int(format.nSamplesPerSec), format.wBitsPerSample, format.nChannels,
                                      [this](uint64_t token, uint32_t bytes) { StreamDone(token, bytes); });
    const std::lock_guard<std::mutex> lock(mutex_);
    handles_.at(*pin).stream = stream;
    return result;
}

DWORD CVirtualKs::CreatePinLocked(HANDLE filterHandle, KSPIN_CONNECT* connect, HANDLE* pin,
                                  CVirtualAudioSystem*& audio, CVirtualAudioSystem::EndpointId& endpoint,
                                  WAVEFORMATEX& waveFormat)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (pin) *pin = nullptr;
    const auto open = handles_.find(filterHandle);
    if (open == handles_.end() || open->second.instance >= 0) return ERROR_INVALID_HANDLE;
    if (!connect || !pin) return ERROR_INVALID_PARAMETER;
    FilterState& filter = filters_[open->second.filter];

    VirtualKsConnect record;
    const auto request = LoadFrom<KSPIN_CONNECT>(connect);
    const auto format = LoadFrom<KSDATAFORMAT>(connect, sizeof(KSPIN_CONNECT));
    record.pinId = request.PinId;
    record.interfaceId = request.Interface.Id;
    record.priority = request.Priority;
    record.formatSize = format.FormatSize;
    record.sampleSize = format.SampleSize;
    const DWORD waveBytes = format.FormatSize >= sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX) &&
                                    format.FormatSize <= sizeof(KSDATAFORMAT) + 4096
                                ? format.FormatSize - sizeof(KSDATAFORMAT)
                                : 0;
    const auto* wave = reinterpret_cast<const BYTE*>(connect) + sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT);
    record.waveFormat.assign(wave, wave + waveBytes);

    record.result = ERROR_NOT_FOUND;
    if (request.PinId < filter.model.pins.size()) {
        const VirtualKsPin& model = filter.model.pins[request.PinId];
        record.result = ERROR_NO_MATCH;
        const bool sink = model.communication == KSPIN_COMMUNICATION_SINK ||
                          model.communication == KSPIN_COMMUNICATION_BOTH;
        const bool standard = Same(request.Interface.Set, kKsInterfaceSetStandard) &&
                              Same(request.Medium.Set, kKsMediumSetStandard);
        if (sink && standard && waveBytes >= sizeof(WAVEFORMATEX) &&
            Same(format.MajorFormat, kKsDataFormatTypeAudio) &&
            Same(format.Specifier, kKsDataFormatSpecifierWaveFormatEx)) {
            WAVEFORMATEXTENSIBLE wf = {};
            std::memcpy(&wf, record.waveFormat.data(), std::min<size_t>(waveBytes, sizeof(wf)));
            const bool extensible = wf.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
            const bool pcm = wf.Format.wFormatTag == WAVE_FORMAT_PCM ||
                             (extensible && model.acceptsExtensible && waveBytes >= sizeof(wf) &&
                              Same(wf.SubFormat, kSubtypePcm));
            const bool covered = std::any_of(model.ranges.begin(), model.ranges.end(), [&](const VirtualKsRange& r) {
                return wf.Format.nChannels <= r.maxChannels && r.minBits <= wf.Format.wBitsPerSample &&
                       wf.Format.wBitsPerSample <= r.maxBits && r.minRate <= wf.Format.nSamplesPerSec &&
                       wf.Format.nSamplesPerSec <= r.maxRate;
            });
            if (pcm && (covered || model.acceptsUncovered)) record.result = ERROR_SUCCESS;
        }
    }
    filter.connects.push_back(record);
    if (record.result != ERROR_SUCCESS) return record.result;

    filter.instances.push_back(VirtualKsPinInstance{request.PinId, {}, true});
    const HANDLE handle = reinterpret_cast<HANDLE>(handleBase_ + 4 * ++handleSerial_);
    handles_[handle] = OpenHandle{open->second.filter, static_cast<int>(filter.instances.size() - 1), 0,
                                  open->second.overlapped};
    *pin = handle;
    audio = filter.audio;
    endpoint = filter.endpoint;
    std::memcpy(&waveFormat, record.waveFormat.data(), sizeof(waveFormat) - sizeof(WORD));
    return ERROR_SUCCESS;
}
