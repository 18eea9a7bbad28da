// The skin's group frame: a filled panel with a rounded 1-px outline that starts 6 pixels below
// the top, leaving room for a title over it.
#pragma once

#include "GdiObjects.h"
#include "SubclassedWindow.h"

inline constexpr COLORREF kFrameFillColour = RGB(58, 87, 115);
inline constexpr COLORREF kFrameOutlineColour = RGB(46, 76, 109);
inline constexpr COLORREF kFrameHighlightOutlineColour = RGB(116, 151, 192);

class CMixaraLikeStaticFrame : public CSubclassedWindow {
public:
    CMixaraLikeStaticFrame();

    // The lighter outline of the frames that replace group boxes.
    void SetHighlightOutline();
    COLORREF OutlineColour() const { return outlineColour_; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void MakeObjects(COLORREF outline);

    COLORREF outlineColour_ = kFrameOutlineColour;
    UniqueBrush fill_;
    UniquePen outline_;
    UniquePen edge_;
};
