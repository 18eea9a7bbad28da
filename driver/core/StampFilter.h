// CStampFilter: a capture stream's packet times made into a steady line, a delay-locked loop on
// the device's position. Windows times a packet by when its first frame was captured, to within
// microseconds; other systems time it by when they read it (Wine does, several packets at once, at
// the pace of a timer of its own), late by up to that pace and by varying amounts. A follower's
// loop would turn such jitter into pitch; the line passes a steady clock and its rate at once, and
// keeps what the times say on average. No allocation, no lock; one thread.
#pragma once

#include <cstdint>

class CStampFilter {
public:
    // Forgets the line and the measured rate: the next packet starts it afresh.
    void Restart(double nominalRate);
    // end: the position just after the packet's last frame; at: when that frame was captured, as
    // the system says, in seconds. Returns the line's time for it.
    double Filter(uint64_t end, double at);
    // Frames per second, as measured so far (the nominal rate until then).
    double rate() const { return 1 / framePeriod_; }

private:
    double nominalPeriod_ = 1;
    bool started_ = false;
    uint64_t end_ = 0;
    double time_ = 0;         // the line's time at end_
    double framePeriod_ = 1;  // seconds per frame
    double elapsed_ = 0;      // seconds since the line started
};
