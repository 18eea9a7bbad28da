// What a port's input settings do to the samples and the device once its slot has started, on
// the virtual hardware through the driver's own streaming path.
#include <core/Mordane.h>

#include "../support/RegistryScratch.h"
#include "../virtual/VirtualHardware.h"

#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using namespace VirtualUsb;

const std::wstring kHostKeyPath = L"Software\\ASIO\\Asio 2.0 Veloran Driver\\EngineSlotTestHost";
constexpr int kFrames = 512;

// Both inputs of the first port, 16-bit, every half the host saw.
struct InputHost {
    ASIOBufferInfo buffers[2] = {{ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}};
    std::vector<int16_t> recorded[2];
};
InputHost* gHost = nullptr;

void BufferSwitch(long index, ASIOBool)
{
    for (int c = 0; c < 2; ++c) {
        const auto* half = static_cast<const int16_t*>(gHost->buffers[c].buffers[index]);
        gHost->recorded[c].insert(gHost->recorded[c].end(), half, half + kFrames);
    }
}
void RateChanged(ASIOSampleRate) {}
ASIOTime* SwitchTimeInfo(ASIOTime* time, long index, ASIOBool direct)
{
    BufferSwitch(index, direct);
    return time;
}

class EngineSlotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kHostKeyPath);
        hostKey_.WriteDword(L"Language", 9);
        hostKey_.WriteDword(L"Resolution", 16);
        gHost = &host_;
        // No hardware input volume: levels are a software gain unless a test says otherwise.
        lumo_ = hardware_.AddInterface(kLumoA2, 2, 0);
        for (int c = 0; c < 2; ++c) hardware_.audio.SetSignal(lumo_.capture, c, VirtualSignal::Ramp(1000, 0));
    }
    void TearDown() override
    {
        if (driver_) {
            driver_->stop();
            driver_->disposeBuffers();
        }
        gHost = nullptr;
        DeleteTree(HKEY_LOCAL_MACHINE, kHostKeyPath);
    }
    // Builds the port, lets the test change it, then streams `periods` device periods.
    template <typename Edit>
    void Stream(Edit edit, int periods = 1)
    {
        HRESULT result = S_OK;
        driver_ = std::make_unique<CMordane>(nullptr, &result, hostKey_, defaultKey_, hardware_);
        ASSERT_EQ(result, S_OK);
        driver_->init(nullptr);
        ASSERT_EQ(driver_->setSampleRate(48000.0), ASE_OK);
        ASSERT_EQ(driver_->portCount(), 1);
        _sPort port = driver_->ports()[0];
        edit(port);
        ASSERT_TRUE(driver_->InstallPorts(&port, 1));
        callbacks_ = {BufferSwitch, RateChanged, nullptr, SwitchTimeInfo};
        ASSERT_EQ(driver_->createBuffers(host_.buffers, 2, kFrames, &callbacks_), ASE_OK);
        ASSERT_EQ(driver_->start(), ASE_OK);
        ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(lumo_.capture));
        hardware_.audio.Advance(int64_t(periods) * kFrames);
        ASSERT_TRUE(hardware_.audio.WaitUntilServed());
        ASSERT_EQ(host_.recorded[0].size(), size_t(periods) * kFrames);
    }

    CVirtualHardware hardware_;
    VirtualInterface lumo_;
    const CSettingsKey hostKey_{kVeloranDriverClsid, L"C:\\EngineSlotTestHost.exe"};
    const CSettingsKey defaultKey_{kVeloranDriverClsid, L""};
    InputHost host_;
    ASIOCallbacks callbacks_ = {};
    std::unique_ptr<CMordane> driver_;
};

TEST_F(EngineSlotTest, DcRemovalAppliesTheSoftwareGainOnce)
{
    Stream([](_sPort& port) {
        port.input.level[0] = port.input.level[1] = 50;
        port.input.dcRemoval[0] = port.input.dcRemoval[1] = 1;
    });
    for (const auto& samples : host_.recorded) {
        EXPECT_EQ(samples[0], 500);  // the filter starts on the first scaled sample
        EXPECT_EQ(samples[1], 495);  // and then removes the constant
    }
}

TEST_F(EngineSlotTest, EachChannelKeepsItsOwnDcRemovalFlag)
{
    Stream([](_sPort& port) {
        port.input.dcRemoval[0] = 0;
        port.input.dcRemoval[1] = 1;
    });
    EXPECT_EQ(host_.recorded[0][kFrames - 1], 1000);
    EXPECT_LT(host_.recorded[1][kFrames - 1], 10);
}

TEST_F(EngineSlotTest, HardwareInputVolumeCarriesThePortLevelsFromTheStart)
{
    Stream([](_sPort& port) {
        port.hasInputVolume = 1;
        port.input.level[0] = 40;
        port.input.level[1] = 70;
    });
    const VirtualVolume volume = hardware_.audio.Volume(lumo_.capture);
    EXPECT_FLOAT_EQ(volume.levels[0], 0.40f);
    EXPECT_FLOAT_EQ(volume.levels[1], 0.70f);
    EXPECT_EQ(host_.recorded[0][0], 1000);  // the device scales, not the driver
}

}  // namespace
