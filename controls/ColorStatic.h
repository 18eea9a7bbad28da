// A static label with its own text and background colours, and optionally a face: a bitmap
// composed of a left cap, a repeated middle tile and a right cap, with a second face shown
// while the mouse is over the label (or over its buddy combo box). Clicking a label with a
// buddy opens the buddy's list.
//
// Hover and clicks need the SS_NOTIFY style: without it a static lets the mouse through.
#pragma once

#include "GdiObjects.h"
#include "SubclassedWindow.h"

class CComboBoxBuddy;

// The bitmap ids of the two faces; the hover face's left cap is given to BuildHoverFace.
struct CColorStaticFaces {
    int normalLeft;
    int normalTile;
    int normalRight;
    int hoverTile;
    int hoverRight;
};
inline constexpr CColorStaticFaces kPanelLabelFaces{3079, 3080, 3081, 3083, 3084};
inline constexpr CColorStaticFaces kTestHostLabelFaces{6996, 6997, 6998, 7000, 7001};
inline constexpr int kPanelHoverLeftCap = 3082;
inline constexpr int kTestHostHoverLeftCap = 6999;

class CColorStatic : public CSubclassedWindow {
public:
    explicit CColorStatic(const CColorStaticFaces& faces = kPanelLabelFaces);
    ~CColorStatic() override;

    // The first call copies the label's font into a normal and a bold version (weight 700).
    void SetTextColour(COLORREF colour, bool bold, bool redraw);
    // The test host's form: always the normal weight.
    void SetTextColour(COLORREF colour, bool redraw) { SetTextColour(colour, false, redraw); }
    void SetBackgroundColour(COLORREF colour);

    // Composes the normal face at the label's current client size.
    void BuildNormalFace(COLORREF textColour);
    // The test host's form: white text of normal weight.
    void BuildNormalFace() { BuildNormalFace(RGB(255, 255, 255)); }
    // Composes the hover face at the normal face's size and enables hovering; black text on it.
    void BuildHoverFace(int leftCapId);

    void SetBuddy(CComboBoxBuddy* combo) { buddy_ = combo; }
    CComboBoxBuddy* Buddy() const { return buddy_; }

    bool HasFaces() const { return hasFaces_; }
    bool HoverEnabled() const { return hoverEnabled_; }
    bool IsHovered() const { return hovered_; }
    // Lights or clears the hover face (the buddy combo box uses it); redraws on a change.
    void SetHovered(bool hovered);
    COLORREF TextColour() const { return textColour_; }
    COLORREF BackgroundColour() const { return backgroundColour_; }
    SIZE FaceSize() const { return faceSize_; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    UniqueBitmap ComposeFace(int leftId, int tileId, int rightId) const;
    void OnMouseMove();
    void OnLeftButtonDown();

    CColorStaticFaces faceIds_;
    CComboBoxBuddy* buddy_ = nullptr;
    SIZE faceSize_{0, 0};
    UniqueBitmap normalFace_;
    UniqueBitmap hoverFace_;
    bool hasFaces_ = false;
    bool hovered_ = false;
    bool hoverEnabled_ = false;
    bool tracking_ = false;
    COLORREF textColour_ = RGB(0, 0, 0);
    COLORREF hoverTextColour_ = RGB(0, 0, 0);
    COLORREF backgroundColour_ = RGB(224, 223, 227);
    UniqueBrush backgroundBrush_;
    UniqueFont normalFont_;
    UniqueFont boldFont_;
    HFONT originalFont_ = nullptr;
};
