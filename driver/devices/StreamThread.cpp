#include "StreamThread.h"

bool CStreamThread::CreateEvents()
{
    for (UniqueHandle* event : {&stopEvent_, &readyEvent_}) {
        event->Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!event->valid()) return false;
    }
    return true;
}

void CStreamThread::Arm(HANDLE startEvent)
{
    ResetEvent(stopEvent_.get());
    ResetEvent(readyEvent_.get());
    stopRequested_ = 0;
    prepared_ = 0;
    lost_ = 0;
    startEvent_ = startEvent == INVALID_HANDLE_VALUE ? nullptr : startEvent;
}

bool CStreamThread::Launch(LPTHREAD_START_ROUTINE body, void* context, int priority)
{
    thread_.Reset(CreateThread(nullptr, 0, body, context, CREATE_SUSPENDED, nullptr));
    if (!thread_.valid()) return false;
    SetThreadPriority(thread_.get(), priority);
    ResumeThread(thread_.get());
    const HANDLE waits[2] = {readyEvent_.get(), thread_.get()};
    WaitForMultipleObjects(2, waits, FALSE, kReadyWaitMs);
    return prepared_.load() == 1;
}

void CStreamThread::Ready(bool prepared)
{
    prepared_ = prepared ? 1 : 0;
    SetEvent(readyEvent_.get());
}

bool CStreamThread::WaitForStart() const
{
    if (startEvent_) {
        // A stop while waiting ends the thread at once instead of after the time-out.
        const HANDLE waits[2] = {startEvent_, stopEvent_.get()};
        if (WaitForMultipleObjects(2, waits, FALSE, kStartWaitMs) == WAIT_OBJECT_0 + 1) return false;
    }
    return !stopRequested();
}

void CStreamThread::RequestStop()
{
    stopRequested_ = 1;
    SetEvent(stopEvent_.get());
}

bool CStreamThread::Join(DWORD waitMs)
{
    if (!thread_.valid()) return true;
    // The thread handle is signalled once the thread has also left COM and the scheduler.
    if (WaitForSingleObject(thread_.get(), waitMs) != WAIT_OBJECT_0) return false;
    thread_.Reset();
    lost_ = 0;
    return true;
}
