// A drop-down list combo box in the skin's colours, paired with a CColorStatic label: the label
// lights up while the mouse is over either of them, and the focus goes back to the label when
// the list closes. The parent never sees CBN_DROPDOWN or CBN_CLOSEUP; it still gets
// CBN_SELCHANGE.
#pragma once

#include "SubclassedWindow.h"

class CColorStatic;

class CComboBoxBuddy : public CSubclassedWindow {
public:
    ~CComboBoxBuddy() override;

    void SetBuddy(CColorStatic* label) { buddy_ = label; }
    CColorStatic* Buddy() const { return buddy_; }
    // Off: the system colours the selection field.
    void SetCustomColours(bool on) { customColours_ = on; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void LightBuddy(bool on);

    CColorStatic* buddy_ = nullptr;
    bool customColours_ = true;
    bool tracking_ = false;
};

// Both directions of a label and its combo box.
void LinkBuddies(CColorStatic& label, CComboBoxBuddy& combo);
