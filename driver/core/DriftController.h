// CDriftController: steers a CAdaptiveResampler's ratio so that its backlog stays at a set point,
// whichever side of the hand-over runs on the device's clock: a backlog above the set point means
// the input side runs fast, and a higher ratio (more input per output frame) drains it.
//
// A proportional-integral loop on the backlog, lightly averaged against measurement jitter; the
// integral term ends up holding the clock ratio itself, so a steady rate error leaves no offset.
// Called once per buffer switch; no allocation, no lock.
//
// The set point is the backlog read with stamps at a switch. Between calls, the side that waits
// for the other's next block finds up to a switch block or a device packet less stored than the
// backlog says, and needs kDelayFrames + 1 beyond what it takes, so a set point of
// switch frames + packet frames + kDelayFrames + 1 plus some headroom (24 frames covers a 500 ppm
// step at 48 kHz) never starves either side; the ring needs the set point plus that headroom
// again plus the filter's history.
#pragma once

class CDriftController {
public:
    // sampleRate: nominal frames per second; framesPerUpdate: frames between two Update calls
    // (the buffer switch); setPoint: the backlog to keep, in frames.
    CDriftController(double sampleRate, int framesPerUpdate, double setPoint);

    // Forgets the averaged backlog and the learnt rate: ratio 1; the second keeps a new set point.
    void Reset();
    void Reset(double setPoint);
    // Takes one backlog measurement and returns the ratio to use for the next block.
    double Update(double backlog);

    double ratio() const { return ratio_; }
    double setPoint() const { return setPoint_; }

private:
    double setPoint_;
    double smoothing_ = 1;  // share of a new measurement in the average
    double proportional_ = 0;
    double integralStep_ = 0;
    double average_ = 0;
    double integral_ = 0;
    double ratio_ = 1;
    bool primed_ = false;
};
