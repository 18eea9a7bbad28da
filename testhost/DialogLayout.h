// Keeps the lower part of the test host's window (monitoring, play, record and settings frames,
// processor usage, Close) just below the channel frames, and the window just tall enough.
#pragma once

#include <controls/MixaraLikeStaticFrameAuto.h>

#include <windows.h>

#include <vector>

class CDialogLayout {
public:
    // topFrame: the monitoring frame, which follows the channel frames; frames: the frames below
    // it; controls: the ids of the other controls that move with it, the Close button among them.
    CDialogLayout(CMixaraLikeStaticFrameAuto& topFrame, std::vector<CMixaraLikeStaticFrameAuto*> frames,
                  std::vector<int> controls, int closeId);

    // Puts the top frame 8 pixels below channelBottom and everything else at the offsets it had
    // from that frame at the first call; the window height keeps the first call's space below
    // the Close button. Then repaints the window.
    void Arrange(HWND dialog, int channelBottom);

private:
    struct Offset {
        HWND window;
        CMixaraLikeStaticFrameAuto* frame;  // null for a plain control
        int dy;
    };

    void Remember(HWND dialog);

    CMixaraLikeStaticFrameAuto& topFrame_;
    std::vector<CMixaraLikeStaticFrameAuto*> frames_;
    std::vector<int> controls_;
    int closeId_;
    std::vector<Offset> offsets_;
    int belowClose_ = 0;
    bool remembered_ = false;
};
