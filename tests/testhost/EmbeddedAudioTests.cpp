#include <testhost/EmbeddedAudio.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// This program links the same resource script as the test host.
TEST(EmbeddedAudio, BothRatesHoldTheSameClipInTwoDifferentChannels)
{
    for (const auto& [rate, frames] : {std::pair<int, size_t>{44100, 730008}, {48000, 794566}}) {
        const std::vector<int16_t> left = LoadEmbeddedAudio(nullptr, DemoAudioFor(rate).left);
        const std::vector<int16_t> right = LoadEmbeddedAudio(nullptr, DemoAudioFor(rate).right);
        EXPECT_EQ(left.size(), frames) << rate;
        ASSERT_EQ(right.size(), left.size()) << rate;
        size_t differing = 0;
        for (size_t i = 0; i < left.size(); ++i) differing += left[i] != right[i];
        EXPECT_GT(differing, left.size() / 2) << rate;
        for (const auto* channel : {&left, &right}) {
            double energy = 0;
            int peak = 0;
            for (int16_t s : *channel) {
                energy += double(s) * s;
                peak = std::max(peak, std::abs(int(s)));
            }
            EXPECT_GT(std::sqrt(energy / double(channel->size())), 32768 * 0.05) << rate;  // not silent
            EXPECT_LT(peak, 32768 * 0.9) << rate;  // headroom, no clipping
            EXPECT_GT(peak, 32768 * 0.5) << rate;  // normalised
            // Faded at both ends, so looping it does not click.
            EXPECT_LT(std::abs(channel->front()) + std::abs(channel->back()), 64) << rate;
        }
    }
    EXPECT_TRUE(LoadEmbeddedAudio(nullptr, 7006).empty());
    EXPECT_TRUE(LoadEmbeddedAudio(GetModuleHandleW(L"kernel32.dll"), kDemoLeft44100).empty());
}

}  // namespace
