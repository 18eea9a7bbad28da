#include "CpuUsage.h"

#include <mutex>

namespace {

constexpr DWORD kMinimumInterval = 200;  // ms between two samples
constexpr DWORD kTickMask = 0x7FFFFFFF;

using GetSystemTimesFn = BOOL(WINAPI*)(FILETIME*, FILETIME*, FILETIME*);

// Looked up once; Kernel32 stays loaded for the whole process anyway.
GetSystemTimesFn SystemTimesFunction()
{
    static const GetSystemTimesFn function = [] {
        HMODULE kernel = LoadLibraryW(L"Kernel32.dll");
        return kernel ? reinterpret_cast<GetSystemTimesFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemTimes")))
                      : nullptr;
    }();
    return function;
}

uint64_t Ticks(const FILETIME& time) { return uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime; }

}  // namespace

DWORD CpuClocks::TickCount() { return GetTickCount(); }

uint64_t CpuClocks::WallClock()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

bool CpuClocks::SystemTimes(uint64_t& idle, uint64_t& kernel, uint64_t& user)
{
    idle = kernel = user = 0;
    const GetSystemTimesFn function = SystemTimesFunction();
    FILETIME idleTime, kernelTime, userTime;
    if (!function || !function(&idleTime, &kernelTime, &userTime)) return false;
    idle = Ticks(idleTime);
    kernel = Ticks(kernelTime);
    user = Ticks(userTime);
    return true;
}

void CpuClocks::ProcessTimes(uint64_t& kernel, uint64_t& user)
{
    kernel = user = 0;
    FILETIME creation, exit, kernelTime, userTime;
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernelTime, &userTime)) return;
    kernel = Ticks(kernelTime);
    user = Ticks(userTime);
}

void CCpuUsage::CRing::Add(int percent)
{
    values_[next_] = percent;
    next_ = (next_ + 1) % 5;
    if (held_ < 5) ++held_;
}

int CCpuUsage::CRing::Average() const
{
    if (!held_) return 0;
    int64_t sum = 0;
    for (int k = 0; k < held_; ++k) sum += values_[k];
    return int(sum / held_);
}

// Construction counts as a sample time, so a tick right after it changes nothing.
CCpuUsage::CCpuUsage(CpuClocks* clocks) : clocks_(clocks ? clocks : &systemClocks_), lastTick_(clocks_->TickCount()) {}

CCpuUsage::~CCpuUsage() = default;

int CCpuUsage::Sample()
{
    std::lock_guard<CCriticalSection> hold(lock_);
    const DWORD now = clocks_->TickCount();
    if (((now - lastTick_) & kTickMask) <= kMinimumInterval) return processAverage_;

    Times current;
    current.wallClock = clocks_->WallClock();
    clocks_->SystemTimes(current.idle, current.kernel, current.user);
    clocks_->ProcessTimes(current.processKernel, current.processUser);
    lastTick_ = now;
    if (!sampled_) {
        // Only the starting point: nothing to compare with yet.
        sampled_ = true;
        previous_ = current;
        systemAverage_ = processAverage_ = 0;
        return 0;
    }

    const int64_t total = int64_t((current.kernel + current.user) - (previous_.kernel + previous_.user));
    const int64_t idle = int64_t(current.idle - previous_.idle);
    const int64_t busy = int64_t((current.processKernel + current.processUser) -
                                 (previous_.processKernel + previous_.processUser));
    const int64_t wall = int64_t(current.wallClock - previous_.wallClock);
    const int systemPercent = total > 0 ? int((total - idle) * 100 / total) : 0;
    const int processPercent = wall > 0 ? int(busy * 100 / wall) : 0;
    previous_ = current;

    system_.Add(systemPercent);
    process_.Add(processPercent);
    systemAverage_ = system_.Average();
    processAverage_ = process_.Average();
    return processAverage_;
}

int CCpuUsage::SystemAverage() const
{
    std::lock_guard<CCriticalSection> hold(lock_);
    return systemAverage_;
}
