// Replaces a group box of a dialog template with a skin frame and a title label made at run
// time on the same rectangle; the group box's text becomes the title and the box is hidden.
#pragma once

#include "ColorStatic.h"
#include "MixaraLikeStaticFrame.h"
#include "SubclassedWindow.h"

#include <string>

inline constexpr COLORREF kFrameTitleColour = RGB(184, 200, 217);
inline constexpr int kFrameChildId = 0xFFFF;

class CMixaraLikeStaticFrameAuto : public CSubclassedWindow {
public:
    // Attach the placeholder first. False when the frame or the title could not be created.
    bool CreateFrame(bool bold);
    // An empty title hides the label; the frame stays.
    void SetTitle(const std::wstring& text);
    void MoveVertically(int dy);

    CMixaraLikeStaticFrame& Frame() { return frame_; }
    CColorStatic& Title() { return title_; }

private:
    CMixaraLikeStaticFrame frame_;
    CColorStatic title_;
};
