// What the test host does with the driver's buffers: monitoring inputs to outputs, playing a
// source to every enabled output, recording every input.
#pragma once

#include "HostBuffers.h"
#include "RecordingFiles.h"
#include "SampleMix.h"
#include "WaveReader.h"
#include "WaveWriter.h"

#include <veloran/CriticalSection.h>

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Play-source values of the dialog's selector.
constexpr int kPlaySourceInternal = 1000;
constexpr int kPlaySourceChosenFile = 1001;
constexpr int kPlaySourceRecordedFirst = 1002;

class CTestEngine : public IHostBlockProcessor {
public:
    // Allocates every block once; nothing is allocated while streaming.
    explicit CTestEngine(HMODULE resources = nullptr);
    ~CTestEngine();
    CTestEngine(const CTestEngine&) = delete;
    CTestEngine& operator=(const CTestEngine&) = delete;

    // Channel rows: enable flags and the monitoring routes (an output index or -1).
    bool InputEnabled(int i) const;
    bool OutputEnabled(int j) const;
    void SetInputEnabled(int i, bool on);
    void SetOutputEnabled(int j, bool on);
    // Every flag 0 and every route -1.
    void ResetChannels();
    // Flags of the existing channels 1; input i feeds output o when i and o are equal modulo the
    // smaller count.
    void FillRouting(int inputs, int outputs);
    int Route(int input, int entry) const;

    bool Monitoring() const { return monitoring_; }
    void SetMonitoring(bool on) { monitoring_ = on; }

    // User-interface thread. sourceValue is the selected play-source value (-1: none);
    // sampleRate the dialog's choice; chosenFile the last chosen file.
    bool StartPlay(int sourceValue, int sampleRate, const std::wstring& chosenFile);
    void StopPlay() { playing_ = false; }
    bool Playing() const { return playing_; }

    // inputNames: the display names of the driver's inputs (their count is the input count);
    // sampleType: the driver's buffer type.
    bool StartRecord(RecordMode mode, const std::wstring& folder, int sampleRate, ASIOSampleType sampleType,
                     const std::vector<std::wstring>& inputNames);
    void StopRecord();
    bool Recording() const { return recording_; }
    // Whether the open files take blocks of this rate and buffer type; a restarted driver may
    // have changed either, and its blocks must not go into files whose header says otherwise.
    bool RecordingTakes(int sampleRate, ASIOSampleType sampleType) const;
    // While held, blocks are not recorded: across a driver restart, until the new stream's
    // format is known to suit the open files.
    void HoldRecording(bool held) { recordingHeld_ = held; }
    // The files of the last recording, kept after it stops; play sources 1002 + k.
    const std::vector<std::wstring>& RecordedFiles() const { return recordedFiles_; }

    // Driver's thread.
    void ProcessBlock(const HostBufferBlock& block, long index) override;

    // For the scripted check: blocks processed and the largest absolute input sample (on the
    // 16-bit scale) of each input since the last reset.
    void ResetStatistics();
    long long BlocksProcessed() const { return blocks_.load(); }
    int InputPeak(int i) const;

private:
    enum class PlaySource { None, Embedded, File };

    void Monitor(const HostBufferBlock& block, long index, long frames);
    // Each fills the staging blocks with the next frames of the play source.
    void StageEmbedded(long frames, ASIOSampleType type);
    void StageFile(long frames, ASIOSampleType type);
    void Play(const HostBufferBlock& block, long index, long frames);
    void Record(const HostBufferBlock& block, long index, long frames);
    // Make the demonstration pair for rate, or the file at path, the play source. On failure
    // nothing is left to play.
    bool UsePair(int rate);
    bool UseFile(const std::wstring& path);
    void CloseWriters();

    HMODULE resources_;

    // Written by the user-interface thread, read by the driver's thread.
    std::array<std::atomic<bool>, kHostMaxChannels> inputEnabled_{};
    std::array<std::atomic<bool>, kHostMaxChannels> outputEnabled_{};
    std::array<std::array<std::atomic<int>, kHostMaxChannels>, kHostMaxChannels> routes_{};
    std::atomic<bool> monitoring_{false};
    std::atomic<bool> playing_{false};
    std::atomic<bool> recording_{false};
    std::atomic<bool> recordingHeld_{false};

    // The play source is replaced only while playing is off; the lock covers a block that was
    // already under way when playing stopped.
    CCriticalSection playLock_;
    PlaySource source_ = PlaySource::None;
    int playChannels_ = 0;
    int playBits_ = 0;
    bool playFloat_ = false;  // the file's 32-bit samples are floats
    std::vector<int16_t> pairLeft_;
    std::vector<int16_t> pairRight_;
    int pairRate_ = 0;
    size_t pairLength_ = 0;
    size_t pairPosition_ = 0;
    std::unique_ptr<CWaveReader> reader_;

    // Guards the writers between the driver's thread and StopRecord.
    CCriticalSection recordLock_;
    RecordMode recordMode_ = RecordMode::StereoMix;
    int recordRate_ = 0;
    ASIOSampleType recordType_ = ASIOSTInt16LSB;
    std::array<CWaveWriter, kHostMaxChannels> writers_;
    int openWriters_ = 0;
    std::vector<std::wstring> recordedFiles_;

    // One block of the largest buffer size in the widest format each, allocated once.
    std::vector<uint8_t> stagingLeft_;
    std::vector<uint8_t> stagingRight_;
    std::vector<uint8_t> readBlock_;
    std::vector<uint8_t> mixLeft_;
    std::vector<uint8_t> mixRight_;
    std::vector<uint8_t> interleaved_;

    std::atomic<long long> blocks_{0};
    std::array<std::atomic<int>, kHostMaxChannels> peaks_{};
};
