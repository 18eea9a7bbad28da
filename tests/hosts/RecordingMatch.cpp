// Finds a reference signal in a recording: "recording_match RECORDING.wav REFERENCE.raw" prints
// "match correlation C delay D", D the frames by which the recording's left channel lags the
// reference (raw 16-bit mono), C the normalised correlation at that lag.
#include <testhost/WaveReader.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kMaxDelay = 24000;   // half a second at 48000 Hz
constexpr int kWindow = 16384;
constexpr size_t kWindows = 3;

// The recording's left channel on the 16-bit scale.
bool ReadLeft(const wchar_t* path, std::vector<double>& left)
{
    CWaveReader reader;
    if (FAILED(reader.Open(path))) return false;
    const WAVEFORMATEX& format = reader.Format();
    const int bytes = format.wBitsPerSample / 8;
    const DWORD frameBytes = reader.FrameBytes();
    if (frameBytes == 0 || (bytes != 2 && bytes != 4)) return false;
    std::vector<uint8_t> data(reader.DataSize());
    DWORD read = 0;
    if (FAILED(reader.Read(DWORD(data.size()), data.data(), read))) return false;
    for (DWORD at = 0; at + frameBytes <= read; at += frameBytes) {
        const int16_t upper = int16_t(data[at + bytes - 2] | (data[at + bytes - 1] << 8));
        left.push_back(upper);
    }
    return true;
}

bool ReadRaw(const wchar_t* path, std::vector<double>& samples)
{
    FILE* file = _wfopen(path, L"rb");
    if (!file) return false;
    int16_t block[4096];
    size_t count;
    while ((count = fread(block, 2, 4096, file)) > 0) samples.insert(samples.end(), block, block + count);
    fclose(file);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: recording_match RECORDING.wav REFERENCE.raw\n");
        return 2;
    }
    std::vector<double> recording, reference;
    if (!ReadLeft(argv[1], recording) || !ReadRaw(argv[2], reference)) {
        std::fprintf(stderr, "recording_match: cannot read the files\n");
        return 2;
    }
    // Windows of the recording past the longest delay, each against the reference at every lag;
    // the best one counts, so that one gap the audio system inserted does not hide the rest.
    const size_t start = kMaxDelay;
    if (recording.size() < start + kWindow || reference.size() < start + kWindow) {
        std::printf("match correlation 0.000 delay 0 (recording of %zu frames too short)\n", recording.size());
        return 1;
    }
    double best = 0;
    int bestDelay = 0;
    for (size_t first = start; first + kWindow <= std::min(recording.size(), reference.size()) && first < start + kWindows * kWindow;
         first += kWindow) {
        double recordingEnergy = 0;
        for (size_t n = first; n < first + kWindow; ++n) recordingEnergy += recording[n] * recording[n];
        for (int delay = 0; delay <= kMaxDelay; ++delay) {
            double dot = 0, energy = 0;
            for (size_t n = first; n < first + kWindow; ++n) {
                const double r = reference[n - delay];
                dot += recording[n] * r;
                energy += r * r;
            }
            const double correlation =
                energy > 0 && recordingEnergy > 0 ? dot / std::sqrt(energy * recordingEnergy) : 0;
            if (correlation > best) {
                best = correlation;
                bestDelay = delay;
            }
        }
    }
    std::printf("match correlation %.3f delay %d\n", best, bestDelay);
    return 0;
}
