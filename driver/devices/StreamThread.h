// CStreamThread: the thread that runs one stream direction, and its hand-over with the engine.
// Launch starts it and waits until it has said whether it prepared the stream; the thread then
// waits for the driver's start event, so that every port's streams begin together; a stop request
// sets a flag and the stop event that the thread's waits watch.
#pragma once

#include <veloran/UniqueHandle.h>

#include <windows.h>

#include <atomic>

class CStreamThread {
public:
    static constexpr DWORD kReadyWaitMs = 5000;
    static constexpr DWORD kStartWaitMs = 5000;

    // False when an event could not be made.
    bool CreateEvents();
    // Before each run. startEvent: manual-reset, set when the driver starts the streams; null or
    // INVALID_HANDLE_VALUE starts at once.
    void Arm(HANDLE startEvent);
    // Runs body(context) on a new thread at priority (set before its first instruction). True once
    // the thread has said Ready(true); false when it said otherwise, ended, or took longer than
    // kReadyWaitMs.
    bool Launch(LPTHREAD_START_ROUTINE body, void* context, int priority);
    // On the thread: whether the stream is prepared. Called once, before WaitForStart.
    void Ready(bool prepared);
    // On the thread: until the start event, at most kStartWaitMs. False when a stop was asked for.
    bool WaitForStart() const;
    // On the thread, once the stream that ran has ended: lost unless a stop was asked for. A
    // stream that never started is not lost (the host would be asked to reset for ever).
    void Ended() { lost_ = stopRequested() ? 0 : 1; }
    // The stream ended on its own since the last Arm (its device went away or failed), and has
    // not been joined since.
    bool lost() const { return lost_.load() != 0; }

    void RequestStop();
    bool stopRequested() const { return stopRequested_.load() != 0; }
    HANDLE stopEvent() const { return stopEvent_.get(); }
    // Waits at most waitMs for the thread to end. True when no thread is left.
    bool Join(DWORD waitMs);
    bool alive() const { return thread_.valid(); }

private:
    HANDLE startEvent_ = nullptr;
    std::atomic<int> stopRequested_{0};
    std::atomic<int> prepared_{0};
    std::atomic<int> lost_{0};
    UniqueHandle stopEvent_;
    UniqueHandle readyEvent_;
    UniqueHandle thread_;
};
