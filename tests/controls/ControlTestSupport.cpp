#include "ControlTestSupport.h"

#include <controls/SubclassedWindow.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

TestDialog::TestDialog()
{
    // DLGTEMPLATE; no menu, default class, no title; then DS_SETFONT's point size and face.
    std::vector<WORD> bytes(sizeof(DLGTEMPLATE) / sizeof(WORD));
    *reinterpret_cast<DLGTEMPLATE*>(bytes.data()) = {WS_POPUP | WS_VISIBLE | DS_SETFONT, 0, 0, 0, 0, 320, 200};
    const wchar_t tail[] = L"\0\0\0\x08" L"MS Shell Dlg";
    bytes.insert(bytes.end(), tail, tail + std::size(tail));
    hwnd_ = CreateDialogIndirectParamW(nullptr, reinterpret_cast<DLGTEMPLATE*>(bytes.data()), nullptr, Proc,
                                       reinterpret_cast<LPARAM>(this));
    PumpMessages();
}

TestDialog::~TestDialog()
{
    DestroyWindow(hwnd_);
    PumpMessages();
}

HWND TestDialog::Add(const wchar_t* className, const wchar_t* text, DWORD style, RECT rect, int id)
{
    HWND child = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, rect.left, rect.top,
                                 rect.right - rect.left, rect.bottom - rect.top, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SendMessageW(child, WM_SETFONT, SendMessageW(hwnd_, WM_GETFONT, 0, 0), FALSE);
    return child;
}

INT_PTR CALLBACK TestDialog::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<TestDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self || (message != WM_COMMAND && message != kHoverMessage)) return FALSE;
    (message == WM_COMMAND ? self->commands : self->hovers).push_back({wParam, lParam});
    if (message == WM_COMMAND && self->onCommand) self->onCommand();
    return TRUE;
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool PumpUntil(const std::function<bool()>& done)
{
    for (int round = 0; round < 500 && !done(); ++round) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        PumpMessages();
    }
    return done();
}

namespace {

POINT CentreOf(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

}  // namespace

void PointAt(HWND window)
{
    const POINT at = CentreOf(window);
    SetCursorPos(at.x, at.y);
}

void PointAway()
{
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 5, GetSystemMetrics(SM_CYSCREEN) - 5);
}

void ClickWithMouse(HWND window)
{
    // Other test programs may show windows on the same display: a real click lands on the top one.
    SetWindowPos(GetAncestor(window, GA_ROOT), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const POINT at = CentreOf(window);
    INPUT input[3]{};
    for (DWORD i = 0; i < 3; ++i) {
        input[i].type = INPUT_MOUSE;
        input[i].mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
        input[i].mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
        input[i].mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | (i == 1 ? MOUSEEVENTF_LEFTDOWN : i == 2 ? MOUSEEVENTF_LEFTUP : 0);
    }
    SendInput(3, input, sizeof(INPUT));
    // Wine passes synthesized input through the X server, so it may arrive some time later: wait
    // until the release has been dispatched.
    bool released = false;
    for (int round = 0; round < 500 && !released; ++round) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            released = released || msg.message == WM_LBUTTONUP;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    PumpMessages();
}

RECT InParent(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

COLORREF Pixels::At(int x, int y) const
{
    const uint32_t p = data[static_cast<size_t>(y) * width + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

int Pixels::Count(bool (*match)(COLORREF), RECT area) const
{
    // Only what the picture holds: an area beyond it would read other rows, or past the end.
    const int left = std::max<int>(area.left, 0), right = std::min<int>(area.right, width);
    const int top = std::max<int>(area.top, 0), bottom = std::min<int>(area.bottom, height);
    int n = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) n += match(At(x, y)) ? 1 : 0;
    return n;
}

namespace {

Pixels Capture(int width, int height, const std::function<void(HDC)>& draw)
{
    Pixels out{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void* bits = nullptr;
    UniqueBitmap dib(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    UniqueMemoryDC dc(nullptr);
    {
        SelectedObject selected(dc.get(), dib.get());
        UniqueBrush unpainted(CreateSolidBrush(kUnpainted));
        RECT all{0, 0, width, height};
        FillRect(dc.get(), &all, unpainted.get());
        draw(dc.get());
        GdiFlush();
    }
    std::copy_n(static_cast<const uint32_t*>(bits), out.data.size(), out.data.begin());
    return out;
}

SIZE ClientSize(HWND window)
{
    RECT client{};
    GetClientRect(window, &client);
    return SIZE{client.right, client.bottom};
}

}  // namespace

Pixels Render(HWND window)
{
    const SIZE size = ClientSize(window);
    return Capture(size.cx, size.cy, [&](HDC dc) {
        SendMessageW(window, WM_PRINT, reinterpret_cast<WPARAM>(dc), PRF_ERASEBKGND | PRF_CLIENT);
    });
}

Pixels Grab(HWND window)
{
    RedrawWindow(GetParent(window), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    const SIZE size = ClientSize(window);
    ClientDC screen(window);
    return Capture(size.cx, size.cy, [&](HDC dc) { BitBlt(dc, 0, 0, size.cx, size.cy, screen.get(), 0, 0, SRCCOPY); });
}

Pixels GrabWindow(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PumpMessages();
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const HDC screen = GetDC(nullptr);
    Pixels pixels = Capture(width, height, [&](HDC dc) {
        BitBlt(dc, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    });
    ReleaseDC(nullptr, screen);
    return pixels;
}

bool SaveBitmap(const Pixels& pixels, const wchar_t* path)
{
    const int stride = (pixels.width * 3 + 3) & ~3;
    std::vector<uint8_t> bytes(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size_t(stride) * pixels.height);
    auto* file = reinterpret_cast<BITMAPFILEHEADER*>(bytes.data());
    auto* info = reinterpret_cast<BITMAPINFOHEADER*>(bytes.data() + sizeof(BITMAPFILEHEADER));
    file->bfType = 0x4D42;
    file->bfSize = DWORD(bytes.size());
    file->bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    *info = {sizeof(BITMAPINFOHEADER), pixels.width, -pixels.height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    uint8_t* row = bytes.data() + file->bfOffBits;
    for (int y = 0; y < pixels.height; ++y, row += stride)
        for (int x = 0; x < pixels.width; ++x) {
            const uint32_t p = pixels.data[size_t(y) * pixels.width + x];
            row[3 * x] = p & 0xFF;
            row[3 * x + 1] = (p >> 8) & 0xFF;
            row[3 * x + 2] = (p >> 16) & 0xFF;
        }
    const HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(out, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(out);
    return ok;
}

Pixels ResourceBitmap(int id)
{
    const UniqueBitmap bitmap = LoadControlBitmap(id);
    const SIZE size = BitmapSize(bitmap.get());
    return Capture(size.cx, size.cy, [&](HDC dc) {
        UniqueMemoryDC source(dc);
        SelectedObject selected(source.get(), bitmap.get());
        BitBlt(dc, 0, 0, size.cx, size.cy, source.get(), 0, 0, SRCCOPY);
    });
}

bool Near(COLORREF a, COLORREF b, int tolerance)
{
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

bool White(COLORREF c) { return Near(c, RGB(255, 255, 255)); }
bool Bluish(COLORREF c) { return GetBValue(c) >= GetRValue(c) + 30 && GetBValue(c) >= GetGValue(c) && c != kUnpainted; }
bool Yellowish(COLORREF c) { return GetRValue(c) > 200 && GetGValue(c) > 170 && GetBValue(c) + 40 < GetRValue(c); }

int GdiObjects()
{
    if (DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return static_cast<int>(count);
    // Wine answers 0. Its handles carry their table index in the low word and are accepted without
    // the generation bits, so the live ones can be counted by probing.
    int count = 0;
    for (ULONG_PTR handle = 1; handle < 0x10000; ++handle) count += GetObjectType(reinterpret_cast<HGDIOBJ>(handle)) ? 1 : 0;
    return count;
}
