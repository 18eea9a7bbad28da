#include "TestEngine.h"

#include "EmbeddedAudio.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

constexpr size_t kBlockBytes = size_t(kHostMaxBufferFrames) * 4;
constexpr size_t kReadBlockBytes = 2 * kBlockBytes;

// The file formats the staging conversions handle: integers, and 32-bit floats.
bool Playable(const CWaveReader& reader)
{
    const int bits = reader.Format().wBitsPerSample;
    const int channels = reader.Format().nChannels;
    if (channels != 1 && channels != 2) return false;
    return reader.IsFloat() ? bits == 32 : bits == 16 || bits == 24 || bits == 32;
}

// In place: floats of full scale ±1.0 to 32-bit integers, clamped and truncated; NaN is silence.
void FloatsToIntegers(uint8_t* samples, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        float value;
        std::memcpy(&value, samples + 4 * i, 4);
        int32_t integer = 0;
        if (value >= 1.0f)
            integer = INT32_MAX;
        else if (value <= -1.0f)
            integer = INT32_MIN;
        else if (value == value)
            integer = int32_t(double(value) * 2147483648.0);
        std::memcpy(samples + 4 * i, &integer, 4);
    }
}

int BitsOf(ASIOSampleType type)
{
    switch (type) {
    case ASIOSTInt16LSB: return 16;
    case ASIOSTInt24LSB: return 24;
    default: return 32;
    }
}

}  // namespace

CTestEngine::CTestEngine(HMODULE resources)
    : resources_(resources),
      stagingLeft_(kBlockBytes),
      stagingRight_(kBlockBytes),
      readBlock_(kReadBlockBytes),
      mixLeft_(kBlockBytes),
      mixRight_(kBlockBytes),
      interleaved_(2 * kBlockBytes)
{
    ResetChannels();
}

CTestEngine::~CTestEngine() = default;

bool CTestEngine::InputEnabled(int i) const
{
    return i >= 0 && i < kHostMaxChannels && inputEnabled_[i].load(std::memory_order_relaxed);
}

bool CTestEngine::OutputEnabled(int j) const
{
    return j >= 0 && j < kHostMaxChannels && outputEnabled_[j].load(std::memory_order_relaxed);
}

void CTestEngine::SetInputEnabled(int i, bool on)
{
    if (i >= 0 && i < kHostMaxChannels) inputEnabled_[i].store(on, std::memory_order_relaxed);
}

void CTestEngine::SetOutputEnabled(int j, bool on)
{
    if (j >= 0 && j < kHostMaxChannels) outputEnabled_[j].store(on, std::memory_order_relaxed);
}

void CTestEngine::ResetChannels()
{
    for (int i = 0; i < kHostMaxChannels; ++i) {
        inputEnabled_[i].store(false, std::memory_order_relaxed);
        outputEnabled_[i].store(false, std::memory_order_relaxed);
        for (auto& route : routes_[i]) route.store(-1, std::memory_order_relaxed);
    }
}

void CTestEngine::FillRouting(int inputs, int outputs)
{
    ResetChannels();
    inputs = std::clamp(inputs, 0, kHostMaxChannels);
    outputs = std::clamp(outputs, 0, kHostMaxChannels);
    for (int i = 0; i < inputs; ++i) inputEnabled_[i].store(true, std::memory_order_relaxed);
    for (int j = 0; j < outputs; ++j) outputEnabled_[j].store(true, std::memory_order_relaxed);
    if (!inputs || !outputs) return;
    for (int i = 0; i < inputs; ++i) {
        if (inputs == outputs) {
            routes_[i][0].store(i, std::memory_order_relaxed);
        } else if (inputs > outputs) {
            routes_[i][i % outputs].store(i % outputs, std::memory_order_relaxed);
        } else {
            for (int o = i; o < outputs; o += inputs) routes_[i][o].store(o, std::memory_order_relaxed);
        }
    }
}

int CTestEngine::Route(int input, int entry) const
{
    if (input < 0 || input >= kHostMaxChannels || entry < 0 || entry >= kHostMaxChannels) return -1;
    return routes_[input][entry].load(std::memory_order_relaxed);
}

bool CTestEngine::StartPlay(int sourceValue, int sampleRate, const std::wstring& chosenFile)
{
    if (playing_) return true;
    bool ready = false;
    if (sourceValue == kPlaySourceInternal) {
        ready = UsePair(sampleRate == 48000 ? 48000 : 44100);
    } else if (sourceValue == kPlaySourceChosenFile) {
        ready = UseFile(chosenFile);
    } else if (sourceValue >= kPlaySourceRecordedFirst &&
               size_t(sourceValue - kPlaySourceRecordedFirst) < recordedFiles_.size()) {
        ready = UseFile(recordedFiles_[size_t(sourceValue - kPlaySourceRecordedFirst)]);
    }
    if (ready) playing_ = true;
    return ready;
}

bool CTestEngine::UsePair(int rate)
{
    // A pair loaded for this rate keeps its position, so playing resumes where it stopped.
    const bool keep = pairLength_ > 0 && pairRate_ == rate;
    std::vector<int16_t> left;
    std::vector<int16_t> right;
    if (!keep) {
        const DemoAudioIds ids = DemoAudioFor(rate);
        left = LoadEmbeddedAudio(resources_, ids.left);
        right = LoadEmbeddedAudio(resources_, ids.right);
    }
    std::unique_ptr<CWaveReader> closing;
    std::lock_guard<CCriticalSection> hold(playLock_);
    closing = std::move(reader_);
    if (!keep) {
        pairLeft_.swap(left);
        pairRight_.swap(right);
        pairRate_ = rate;
        pairLength_ = std::min(pairLeft_.size(), pairRight_.size());
        pairPosition_ = 0;
    }
    playChannels_ = 2;
    playBits_ = 16;
    playFloat_ = false;
    source_ = pairLength_ > 0 ? PlaySource::Embedded : PlaySource::None;
    return source_ == PlaySource::Embedded;
}

bool CTestEngine::UseFile(const std::wstring& path)
{
    auto reader = std::make_unique<CWaveReader>();
    const bool opened = SUCCEEDED(reader->Open(path)) && Playable(*reader);
    // What is replaced is freed after the lock is left.
    std::unique_ptr<CWaveReader> closing;
    std::vector<int16_t> left;
    std::vector<int16_t> right;
    std::lock_guard<CCriticalSection> hold(playLock_);
    pairLeft_.swap(left);
    pairRight_.swap(right);
    pairRate_ = 0;
    pairLength_ = pairPosition_ = 0;
    closing = std::move(reader_);
    if (opened) {
        playChannels_ = reader->Format().nChannels;
        playBits_ = reader->Format().wBitsPerSample;
        playFloat_ = reader->IsFloat();
        reader_ = std::move(reader);
    }
    source_ = opened ? PlaySource::File : PlaySource::None;
    return opened;
}

bool CTestEngine::StartRecord(RecordMode mode, const std::wstring& folder, int sampleRate, ASIOSampleType sampleType,
                              const std::vector<std::wstring>& inputNames)
{
    if (recording_) return true;
    // Not recording: the driver's thread leaves the writers alone.
    CloseWriters();
    recordedFiles_.clear();
    recordMode_ = mode;
    const int rate = sampleRate == 48000 ? 48000 : 44100;
    recordRate_ = rate;
    recordType_ = sampleType;
    const int bits = BitsOf(sampleType);
    const WAVEFORMATEX format = RecordingFormat(mode, DWORD(rate), WORD(bits));

    std::vector<std::wstring> paths;
    if (mode == RecordMode::StereoMix) {
        paths.push_back(RecordingFilePath(folder, mode, rate, bits));
    } else {
        // Display names are cut short, so two inputs can share one: the later one gets a number
        // rather than a second writer on the same file.
        const size_t inputs = std::min(inputNames.size(), size_t(kHostMaxChannels));
        for (size_t i = 0; i < inputs; ++i) {
            std::wstring path = RecordingFilePath(folder, mode, rate, bits, inputNames[i]);
            for (int n = 2; std::find(paths.begin(), paths.end(), path) != paths.end(); ++n)
                path = RecordingFilePath(folder, mode, rate, bits, inputNames[i] + L" (" + std::to_wstring(n) + L")");
            paths.push_back(std::move(path));
        }
    }
    for (size_t i = 0; i < paths.size(); ++i) {
        if (FAILED(writers_[i].Create(paths[i], format))) {
            CloseWriters();
            return false;
        }
    }
    openWriters_ = int(paths.size());
    recordedFiles_ = std::move(paths);
    recording_ = true;
    return true;
}

bool CTestEngine::RecordingTakes(int sampleRate, ASIOSampleType sampleType) const
{
    return recording_ && sampleRate == recordRate_ && sampleType == recordType_;
}

void CTestEngine::StopRecord()
{
    if (!recording_) return;
    {
        // Once the flag is down under the lock, no block is writing or will write.
        std::lock_guard<CCriticalSection> hold(recordLock_);
        recording_ = false;
    }
    CloseWriters();
}

void CTestEngine::CloseWriters()
{
    for (CWaveWriter& writer : writers_) writer.Finish();
    openWriters_ = 0;
}

void CTestEngine::ResetStatistics()
{
    blocks_.store(0);
    for (auto& peak : peaks_) peak.store(0, std::memory_order_relaxed);
}

int CTestEngine::InputPeak(int i) const
{
    return i >= 0 && i < kHostMaxChannels ? peaks_[i].load(std::memory_order_relaxed) : 0;
}

void CTestEngine::ProcessBlock(const HostBufferBlock& block, long index)
{
    blocks_.fetch_add(1, std::memory_order_relaxed);
    const long frames = block.bufferSize;
    // A block the fixed blocks cannot hold is left alone rather than overrun.
    if (frames <= 0 || frames > kHostMaxBufferFrames || block.inputBuffers < 0 ||
        block.inputBuffers > kHostMaxChannels || block.outputBuffers < 0 || block.outputBuffers > kHostMaxChannels ||
        (index != 0 && index != 1))
        return;

    const size_t bytes = size_t(frames) * size_t(block.SampleBytes());
    for (int j = 0; j < block.outputBuffers; ++j)
        if (void* out = block.Output(j, index)) std::memset(out, 0, bytes);
    for (int i = 0; i < block.inputBuffers; ++i) {
        const void* in = block.Input(i, index);
        const int peak = in ? PeakOf(frames, in, block.SampleType()) : 0;
        if (peak > peaks_[i].load(std::memory_order_relaxed)) peaks_[i].store(peak, std::memory_order_relaxed);
    }

    if (monitoring_) Monitor(block, index, frames);
    if (playing_) {
        std::lock_guard<CCriticalSection> hold(playLock_);
        if (playing_) Play(block, index, frames);
    }
    if (recording_ && !recordingHeld_) {
        std::lock_guard<CCriticalSection> hold(recordLock_);
        if (recording_) Record(block, index, frames);
    }
}

void CTestEngine::Monitor(const HostBufferBlock& block, long index, long frames)
{
    // Ascending inputs, then ascending routes: the clamping depends on the order of the sums.
    for (int i = 0; i < block.inputBuffers; ++i) {
        const void* in = block.Input(i, index);
        if (!in || !InputEnabled(i)) continue;
        for (int entry = 0; entry < block.outputBuffers; ++entry) {
            const int o = Route(i, entry);
            if (o < 0 || o >= block.outputBuffers || !OutputEnabled(o)) continue;
            if (void* out = block.Output(o, index)) MixInto(frames, out, in, block.SampleType());
        }
    }
}

void CTestEngine::Play(const HostBufferBlock& block, long index, long frames)
{
    const ASIOSampleType type = block.SampleType();
    if (source_ == PlaySource::Embedded)
        StageEmbedded(frames, type);
    else if (source_ == PlaySource::File)
        StageFile(frames, type);
    else
        return;
    const uint8_t* staging[2] = {stagingLeft_.data(), stagingRight_.data()};
    // The left/right alternation counts every output, enabled or not.
    for (int j = 0; j < block.outputBuffers; ++j) {
        void* out = block.Output(j, index);
        if (out && OutputEnabled(j)) MixInto(frames, out, staging[j % playChannels_], type);
    }
}

void CTestEngine::StageEmbedded(long frames, ASIOSampleType type)
{
    const int bytes = HostSampleBytes(type);
    long filled = 0;
    while (filled < frames) {
        const long take = long(std::min(size_t(frames - filled), pairLength_ - pairPosition_));
        ConvertToHost(take, pairLeft_.data() + pairPosition_, 16, 1, stagingLeft_.data() + filled * bytes, type);
        ConvertToHost(take, pairRight_.data() + pairPosition_, 16, 1, stagingRight_.data() + filled * bytes, type);
        filled += take;
        pairPosition_ += size_t(take);
        if (pairPosition_ == pairLength_) pairPosition_ = 0;
    }
}

void CTestEngine::StageFile(long frames, ASIOSampleType type)
{
    // The reader leaves what the data no longer holds silent; the next block starts again.
    if (reader_->ReadFrames(DWORD(frames), readBlock_.data()) < DWORD(frames) * reader_->FrameBytes())
        reader_->Rewind();
    if (playFloat_) FloatsToIntegers(readBlock_.data(), size_t(frames) * size_t(playChannels_));
    const int sampleBytes = playBits_ / 8;
    ConvertToHost(frames, readBlock_.data(), playBits_, playChannels_, stagingLeft_.data(), type);
    if (playChannels_ == 2)
        ConvertToHost(frames, readBlock_.data() + sampleBytes, playBits_, 2, stagingRight_.data(), type);
}

void CTestEngine::Record(const HostBufferBlock& block, long index, long frames)
{
    const ASIOSampleType type = block.SampleType();
    if (type != recordType_) return;
    const int sampleBytes = HostSampleBytes(type);
    const size_t bytes = size_t(frames) * size_t(sampleBytes);
    if (recordMode_ == RecordMode::StereoMix) {
        if (openWriters_ < 1) return;
        std::memset(mixLeft_.data(), 0, bytes);
        std::memset(mixRight_.data(), 0, bytes);
        // Every input is recorded, enabled or not: even ones left, odd ones right.
        for (int i = 0; i < block.inputBuffers; ++i)
            if (const void* in = block.Input(i, index)) MixInto(frames, (i & 1 ? mixRight_ : mixLeft_).data(), in, type);
        InterleaveStereo(frames, mixLeft_.data(), mixRight_.data(), interleaved_.data(), sampleBytes);
        writers_[0].Append(interleaved_.data(), DWORD(2 * bytes));
        return;
    }
    // Inputs that appeared after the recording started have no file.
    const int inputs = std::min(int(block.inputBuffers), openWriters_);
    for (int i = 0; i < inputs; ++i)
        if (const void* in = block.Input(i, index)) writers_[i].Append(in, DWORD(bytes));
}
