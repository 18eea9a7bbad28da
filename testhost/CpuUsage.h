// Processor usage of the test host's process, sampled by the dialog's timer and averaged over
// the last five samples.
#pragma once

#include <veloran/CriticalSection.h>

#include <windows.h>

#include <cstdint>

// The clocks the sampler reads; the system's unless a test puts its own.
struct CpuClocks {
    virtual ~CpuClocks() = default;
    virtual DWORD TickCount();
    // 100-ns units.
    virtual uint64_t WallClock();
    // False when the system offers no GetSystemTimes (the times then count as 0).
    virtual bool SystemTimes(uint64_t& idle, uint64_t& kernel, uint64_t& user);
    virtual void ProcessTimes(uint64_t& kernel, uint64_t& user);
};

class CCpuUsage {
public:
    explicit CCpuUsage(CpuClocks* clocks = nullptr);
    ~CCpuUsage();
    CCpuUsage(const CCpuUsage&) = delete;
    CCpuUsage& operator=(const CCpuUsage&) = delete;

    // The process average in percent; the system average is kept alongside.
    int Sample();
    int SystemAverage() const;

private:
    // The most recent percentages, up to five.
    class CRing {
    public:
        void Add(int percent);
        int Average() const;

    private:
        int values_[5]{};
        int held_ = 0;
        int next_ = 0;
    };

    struct Times {
        uint64_t idle = 0, kernel = 0, user = 0;
        uint64_t processKernel = 0, processUser = 0;
        uint64_t wallClock = 0;
    };

    CpuClocks systemClocks_;
    CpuClocks* clocks_;
    mutable CCriticalSection lock_;
    DWORD lastTick_;
    bool sampled_ = false;
    Times previous_;
    CRing system_;
    CRing process_;
    int systemAverage_ = 0;
    int processAverage_ = 0;
};
