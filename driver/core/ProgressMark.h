// CProgressMark: how far one side of a hand-over has got and when, published by that side's
// thread and read by any other without a lock. Publications go round four slots, so a reader
// never waits for a writer that was interrupted half-way: it reads the last finished slot and
// tries again only when four newer publications overtook it meanwhile.
#pragma once

#include <atomic>
#include <cmath>
#include <limits>

class CProgressMark {
public:
    static constexpr double kNoStamp = std::numeric_limits<double>::quiet_NaN();

    // position: frames done at `stamp`, a time in frames on a clock both sides share, or
    // kNoStamp when the position holds whenever it is read. rate: frames the side goes on with
    // per frame of that clock after its stamp; span: how far before it must step again.
    // One thread at a time.
    void Publish(double position, double stamp, double span, double rate = 1)
    {
        const unsigned next = finished_.load(std::memory_order_relaxed) + 1;
        started_.store(next, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        Slot& slot = slots_[next % kSlots];
        slot.position.store(position, std::memory_order_relaxed);
        slot.stamp.store(stamp, std::memory_order_relaxed);
        slot.span.store(span, std::memory_order_relaxed);
        slot.rate.store(rate, std::memory_order_relaxed);
        finished_.store(next, std::memory_order_release);
    }

    // The position at `now`: a stamped side is taken to have gone on at its rate since its stamp,
    // for at most its span (a side that stalls is not extrapolated further). A side that stepped
    // ahead of its time (a block handed over before its stamp) is counted back the same way.
    double At(double now) const
    {
        for (;;) {
            const unsigned finished = finished_.load(std::memory_order_acquire);
            const Slot& slot = slots_[finished % kSlots];
            const double position = slot.position.load(std::memory_order_relaxed);
            const double stamp = slot.stamp.load(std::memory_order_relaxed);
            const double span = slot.span.load(std::memory_order_relaxed);
            const double rate = slot.rate.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            // The slot is written again only by publication finished + kSlots.
            if (started_.load(std::memory_order_relaxed) - finished >= kSlots) continue;
            if (std::isnan(stamp) || std::isnan(now)) return position;
            const double ahead = (now - stamp) * rate;
            return position + (ahead < -span ? -span : ahead > span ? span : ahead);
        }
    }

private:
    static constexpr unsigned kSlots = 4;
    struct Slot {
        std::atomic<double> position{0};
        std::atomic<double> stamp{kNoStamp};
        std::atomic<double> span{0};
        std::atomic<double> rate{1};
    };
    Slot slots_[kSlots];
    std::atomic<unsigned> started_{0};   // the publication being written, or the last one
    std::atomic<unsigned> finished_{0};  // the last publication complete
};
