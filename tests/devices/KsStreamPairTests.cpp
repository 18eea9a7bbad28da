#include <devices/KsStreamPair.h>

#include <core/CaptureAggregator.h>
#include <core/KnownDeviceTable.h>

#include "../virtual/VirtualHardware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kFrames = 512;

// Every batch the aggregator completes: source 0's packet. While gHostBusy is set the host's
// switch is still running: the capture thread waits in it.
std::vector<std::vector<uint8_t>> gBatches;
HANDLE gHostBusy = nullptr;
void CollectBatch(const uint8_t* blocks, const int* sizes, int, const int*, double, CMordane*)
{
    gBatches.emplace_back(blocks, blocks + sizes[0]);
    if (gHostBusy) WaitForSingleObject(gHostBusy, 5000);
}

class KsStreamPairTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gBatches.clear();
        pair_ = CKsStreamPair::Create(hardware_);
    }

    VirtualInterface Add(int captureChannels = 2, int renderChannels = 2)
    {
        return hardware_.AddInterface(VirtualUsb::kLumoA2, captureChannels, renderChannels);
    }
    std::wstring CapturePath(const VirtualInterface& device) { return Path(device.captureFilter); }
    std::wstring RenderPath(const VirtualInterface& device) { return Path(device.renderFilter); }
    std::wstring Path(CVirtualKs::FilterId filter) { return hardware_.ks.Filter(filter).path; }
    _sStreamParams Params(int channels, int packetCount)
    {
        _sStreamParams params;
        params.sampleRate = 48000;
        params.channels = channels;
        params.framesPerPacket = kFrames;
        params.packetCount = packetCount;
        params.captureSink = &aggregator_;
        return params;
    }
    bool Start(const VirtualInterface& device, HANDLE startEvent = nullptr, int captureChannels = 2)
    {
        return pair_->OpenAndStart(CapturePath(device), Params(captureChannels, 16), RenderPath(device),
                                   Params(2, 64), startEvent);
    }
    static bool Ran(const VirtualKsPinInstance& pin)
    {
        return std::find(pin.states.begin(), pin.states.end(), KSSTATE_RUN) != pin.states.end();
    }

    CVirtualHardware hardware_;
    std::vector<uint8_t> blocks_ = std::vector<uint8_t>(size_t(kCaptureBlockCount) * kCaptureBlockBytes);
    int sizes_[kCaptureBlockCount] = {};
    CCaptureAggregator aggregator_{CollectBatch, nullptr, blocks_.data(), sizes_};
    std::unique_ptr<CKsStreamPair> pair_;
};

TEST_F(KsStreamPairTest, FormatsFallBackToPlainPcmAndMonoCaptureIsTheCentre)
{
    const VirtualInterface device = Add(1, 2);
    hardware_.ks.Filter(device.renderFilter).pins[0].acceptsExtensible = false;
    ASSERT_TRUE(Start(device, nullptr, 1));

    // Every extensible attempt refused, then plain PCM taken.
    const std::vector<VirtualKsConnect> render = hardware_.ks.Connects(device.renderFilter);
    ASSERT_GE(render.size(), 2u);
    for (size_t i = 0; i + 1 < render.size(); ++i) EXPECT_NE(render[i].result, DWORD(ERROR_SUCCESS));
    WAVEFORMATEX plain = {};
    ASSERT_GE(render.back().waveFormat.size(), sizeof(plain));
    memcpy(&plain, render.back().waveFormat.data(), sizeof(plain));
    EXPECT_EQ(render.back().result, DWORD(ERROR_SUCCESS));
    EXPECT_EQ(plain.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(plain.cbSize, 0);
    EXPECT_EQ(plain.nBlockAlign, 4);

    const std::vector<VirtualKsConnect> capture = hardware_.ks.Connects(device.captureFilter);
    ASSERT_EQ(capture.size(), 1u);
    WAVEFORMATEXTENSIBLE mono = {};
    ASSERT_GE(capture[0].waveFormat.size(), sizeof(mono));
    memcpy(&mono, capture[0].waveFormat.data(), sizeof(mono));
    EXPECT_EQ(mono.Format.nChannels, 1);
    EXPECT_EQ(mono.dwChannelMask, DWORD(SPEAKER_FRONT_CENTER));

    // 63 render packets and the stop event fill one wait; capture keeps its count.
    EXPECT_EQ(pair_->render().ringSize(), 63);
    EXPECT_EQ(pair_->capture().ringSize(), 16);
    EXPECT_TRUE(pair_->Stop(3000));
}

TEST_F(KsStreamPairTest, AStopDuringTheStartWaitEndsTheThreadsBeforeThePinsRun)
{
    const VirtualInterface device = Add();
    const UniqueHandle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(Start(device, never.get()));
    // Well within the five seconds the threads would otherwise wait for the start.
    EXPECT_TRUE(pair_->Stop(1000));
    for (const CVirtualKs::FilterId filter : {device.captureFilter, device.renderFilter}) {
        const std::vector<VirtualKsPinInstance> pins = hardware_.ks.PinInstances(filter);
        ASSERT_EQ(pins.size(), 1u);
        EXPECT_FALSE(Ran(pins[0]));
        EXPECT_FALSE(pins[0].open);
    }
}

TEST_F(KsStreamPairTest, RenderDropsBlocksRatherThanResubmitAPendingPacket)
{
    const VirtualInterface device = Add();
    ASSERT_TRUE(Start(device));
    ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(device.render));
    std::vector<uint8_t> block(kFrames * 4, 0x11);
    // No clock step: every write stays pending. A resubmitted header would throw in the device.
    int written = 0;
    for (int i = 0; i < 70; ++i) written += pair_->DeliverRender(block.data(), int(block.size()));
    EXPECT_EQ(written, 63);
    EXPECT_EQ(pair_->faultCount(), 7u);

    // The clock frees the oldest packets, which take the next blocks.
    hardware_.audio.Advance(2 * kFrames);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    EXPECT_EQ(pair_->DeliverRender(block.data(), int(block.size())), 1);
}

TEST_F(KsStreamPairTest, StopCancelsPendingRequestsAndFreesNothingTheDeviceHolds)
{
    const VirtualInterface device = Add();
    const VirtualInterface stalled = hardware_.AddInterface(VirtualUsb::kLumoA1, 2, 2);
    hardware_.ks.StopCompleting(stalled.captureFilter);
    hardware_.ks.StopCompleting(stalled.renderFilter);
    for (const VirtualInterface& target : {device, stalled}) {
        auto pair = CKsStreamPair::Create(hardware_);
        ASSERT_TRUE(pair->OpenAndStart(CapturePath(target), Params(2, 16), RenderPath(target), Params(2, 64),
                                       nullptr));
        ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(target.render));
        std::vector<uint8_t> block(kFrames * 4, 0x22);
        for (int i = 0; i < 5; ++i) ASSERT_EQ(pair->DeliverRender(block.data(), int(block.size())), 1);
        EXPECT_GE(hardware_.ks.OutstandingRequests(), 5);

        // The device takes a while to cancel: nothing may be freed or reused before it has.
        EXPECT_TRUE(pair->Stop(3000));
        EXPECT_EQ(hardware_.ks.OutstandingRequests(), 0);
        EXPECT_EQ(hardware_.ks.Violations(), 0);
        for (const CVirtualKs::FilterId filter : {target.captureFilter, target.renderFilter})
            EXPECT_FALSE(hardware_.ks.PinInstances(filter).at(0).open);
    }
    EXPECT_GE(hardware_.ks.CancelledRequests(), 10);
}

TEST_F(KsStreamPairTest, ANonUsbDevicesFramesAreRegroupedIntoNominalPackets)
{
    // 480-frame device frames, 512-frame packets for the engine.
    const std::wstring path = L"\\\\?\\HDAUDIO#FUNC_01&VEN_10EC#capture";
    const int endpoint = hardware_.audio.AddEndpoint(eCapture, path, L"Line In", 2);
    hardware_.audio.SetSignal(endpoint, 0, VirtualSignal::Ramp(1));
    VirtualKsFilter model = CVirtualKs::AudioInterfaceFilter(path, 0, 0, true, 2, CKnownDeviceTable());
    model.pins[0].frameSize = 480 * 4;
    const CVirtualKs::FilterId filter = hardware_.ks.AddFilter(model);
    hardware_.ks.SetStreamClock(filter, hardware_.audio, endpoint);

    ASSERT_TRUE(pair_->OpenAndStart(path, Params(2, 16), L"", Params(2, 64), nullptr));
    ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(endpoint));
    hardware_.audio.Advance(480 * 16);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    EXPECT_TRUE(pair_->Stop(3000));

    ASSERT_EQ(gBatches.size(), size_t(480 * 16 / kFrames));
    for (size_t b = 0; b < gBatches.size(); ++b) {
        ASSERT_EQ(gBatches[b].size(), size_t(kFrames * 4));
        const auto* samples = reinterpret_cast<const int16_t*>(gBatches[b].data());
        for (int f = 0; f < kFrames; ++f) ASSERT_EQ(samples[2 * f], int16_t(1 + b * kFrames + f)) << b << " " << f;
    }
}

// A frame size no adapter could hold is ignored: the stream reads nominal packets.
TEST_F(KsStreamPairTest, AnImpossibleFrameSizeFallsBackToNominalPackets)
{
    const std::wstring path = L"\\\\?\\HDAUDIO#FUNC_01&VEN_10EC#capture";
    const int endpoint = hardware_.audio.AddEndpoint(eCapture, path, L"Line In", 2);
    hardware_.audio.SetSignal(endpoint, 0, VirtualSignal::Ramp(1));
    VirtualKsFilter model = CVirtualKs::AudioInterfaceFilter(path, 0, 0, true, 2, CKnownDeviceTable());
    model.pins[0].frameSize = 64 * kFrames * 4;
    hardware_.ks.SetStreamClock(hardware_.ks.AddFilter(model), hardware_.audio, endpoint);
    ASSERT_TRUE(pair_->OpenAndStart(path, Params(2, 16), L"", Params(2, 64), nullptr));
    ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(endpoint));
    hardware_.audio.Advance(kFrames * 2);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    EXPECT_TRUE(pair_->Stop(3000));
    ASSERT_EQ(gBatches.size(), 2u);
    EXPECT_EQ(reinterpret_cast<const int16_t*>(gBatches[1].data())[0], int16_t(1 + kFrames));
}

// A read completed short carries only the bytes the device filled; the rest of its ring packet
// still holds the frames of the read before it, which must never reach the host.
TEST_F(KsStreamPairTest, AReadCompletedShortDeliversOnlyTheBytesItCarries)
{
    constexpr int kShortFrames = kFrames / 4;
    const VirtualInterface device = Add(2, 0);
    hardware_.audio.SetSignal(device.capture, 0, VirtualSignal::Ramp(1));
    // Packet 1 of the sixteen in the ring, on its second round.
    hardware_.ks.CompleteReadShort(device.captureFilter, 17, kShortFrames * 4);
    ASSERT_TRUE(pair_->OpenAndStart(CapturePath(device), Params(2, 16), L"", Params(2, 64), nullptr));
    ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(device.capture));
    hardware_.audio.Advance(kFrames * 20);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    EXPECT_TRUE(pair_->Stop(3000));
    EXPECT_EQ(pair_->faultCount(), 0u);

    // The ramp, less the frames the short read did not carry.
    std::vector<int16_t> expected;
    for (int n = 0; n < kFrames * 20; ++n)
        if (n < kFrames * 17 + kShortFrames || n >= kFrames * 18) expected.push_back(int16_t(1 + n));
    std::vector<int16_t> heard;
    for (const std::vector<uint8_t>& batch : gBatches) {
        const auto* samples = reinterpret_cast<const int16_t*>(batch.data());
        for (size_t f = 0; f < batch.size() / 4; ++f) heard.push_back(samples[2 * f]);
    }
    expected.resize(kFrames * 19);  // the last packet's rest waits for the next batch
    ASSERT_GE(heard.size(), expected.size());
    const size_t same = size_t(std::mismatch(expected.begin(), expected.end(), heard.begin()).first - expected.begin());
    EXPECT_EQ(same, expected.size()) << "frame " << same << " is " << heard[std::min(same, heard.size() - 1)];
    EXPECT_EQ(heard.size(), expected.size());
}

// The device fills the queued reads while the host's switch runs on the capture thread.
TEST_F(KsStreamPairTest, ReadsStayQueuedWhileTheHostsSwitchRuns)
{
    const VirtualInterface device = Add(2, 0);
    hardware_.audio.SetSignal(device.capture, 0, VirtualSignal::Ramp(1));
    const HANDLE released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gHostBusy = released;
    ASSERT_TRUE(pair_->OpenAndStart(CapturePath(device), Params(2, 16), L"", Params(2, 64), nullptr));
    ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(device.capture));
    hardware_.audio.SetLockstep(false);
    hardware_.audio.Advance(kFrames * 4);  // the first packet's switch holds the thread meanwhile
    SetEvent(released);
    for (int i = 0; i < 500 && gBatches.size() < 4; ++i) Sleep(2);
    EXPECT_TRUE(pair_->Stop(3000));
    gHostBusy = nullptr;
    CloseHandle(released);

    EXPECT_EQ(hardware_.audio.Stats(device.capture).overruns, 0);
    ASSERT_EQ(gBatches.size(), 4u);
    for (size_t b = 0; b < gBatches.size(); ++b) {
        const auto* samples = reinterpret_cast<const int16_t*>(gBatches[b].data());
        ASSERT_EQ(samples[0], int16_t(1 + b * kFrames)) << "packet " << b;
    }
}

}  // namespace
