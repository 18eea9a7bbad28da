// A connector between device rows and channel strips: shape 0 a plain bar, 1 a bridge from the
// top corners, 2 a bridge from the bottom corners, 3 a fork from the left middle to both right
// corners. Grey when disabled, red as an alert.
#pragma once

#include <controls/GdiObjects.h>
#include <controls/SubclassedWindow.h>

class CStaticLine : public CSubclassedWindow {
public:
    CStaticLine();

    void SetShape(int shape) { shape_ = shape; }
    void SetNormalColour(bool redraw);
    void SetAlertColour();

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void SetColour(COLORREF colour);
    void Paint(HDC dc) const;

    COLORREF colour_ = 0;
    int shape_ = 0;
    UniquePen normalPen_;
    UniquePen disabledPen_;
};
