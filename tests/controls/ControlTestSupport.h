// A real dialog to host the controls, message pumping, real mouse input, and pixel captures.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

constexpr UINT kHoverMessage = WM_APP + 4;
constexpr COLORREF kUnpainted = RGB(255, 0, 255);

struct Posted {
    WPARAM wParam;
    LPARAM lParam;
};

// A visible modeless dialog ("MS Shell Dlg" 8) at the screen's corner, recording the WM_COMMAND
// and hover messages it gets.
class TestDialog {
public:
    TestDialog();
    ~TestDialog();
    HWND hwnd() const { return hwnd_; }
    HWND Add(const wchar_t* className, const wchar_t* text, DWORD style, RECT rect, int id);

    std::vector<Posted> commands, hovers;
    std::function<void()> onCommand;

private:
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND hwnd_ = nullptr;
};

void PumpMessages();
// False when done() never holds; the round limit only keeps a broken build from hanging.
bool PumpUntil(const std::function<bool()>& done);
// The cursor at the window's centre, or far from every test window; a real click there.
void PointAt(HWND window);
void PointAway();
void ClickWithMouse(HWND window);
RECT InParent(HWND window);

struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> data;  // 0x00RRGGBB, top-down
    COLORREF At(int x, int y) const;
    int Count(bool (*match)(COLORREF), RECT area) const;
};
// WM_PRINT (erase, then client) into a bitmap first filled with kUnpainted.
Pixels Render(HWND window);
// What the window shows on screen once pending paints are done.
Pixels Grab(HWND window);
Pixels ResourceBitmap(int id);
// A top-level window as the screen shows it, frame included, once its paints are done.
Pixels GrabWindow(HWND window);
// A 24-bit .bmp file of the pixels; false when it cannot be written.
bool SaveBitmap(const Pixels& pixels, const wchar_t* path);

bool Near(COLORREF a, COLORREF b, int tolerance = 40);
bool White(COLORREF c);
bool Bluish(COLORREF c);
bool Yellowish(COLORREF c);

// Live GDI objects of this process.
int GdiObjects();
