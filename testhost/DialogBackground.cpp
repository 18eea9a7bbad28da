#include "DialogBackground.h"

CDialogBackground::CDialogBackground(HINSTANCE module, int tileId)
    : tile_(LoadBitmapW(module, MAKEINTRESOURCEW(tileId))), fill_(CreateSolidBrush(kDialogBackground))
{
}

void CDialogBackground::BuildBand(HWND dialog)
{
    const SIZE tile = BitmapSize(tile_.get());
    if (tile.cx <= 0 || tile.cy <= 0) return;
    RECT client{};
    GetClientRect(dialog, &client);
    ClientDC screen(dialog);
    band_.Reset(CreateCompatibleBitmap(screen.get(), client.right, tile.cy));
    if (!band_) return;
    bandSize_ = SIZE{client.right, tile.cy};
    UniqueMemoryDC target(screen.get());
    UniqueMemoryDC source(screen.get());
    SelectedObject intoTarget(target.get(), band_.get());
    SelectedObject fromSource(source.get(), tile_.get());
    for (int x = 0; x < bandSize_.cx; x += tile.cx) BitBlt(target.get(), x, 0, tile.cx, tile.cy, source.get(), 0, 0, SRCCOPY);
}

void CDialogBackground::Erase(HWND dialog, HDC dc) const
{
    RECT client{};
    GetClientRect(dialog, &client);
    RECT strip = client;
    strip.top = client.bottom - kBottomStripHeight;
    FillRect(dc, &strip, GetSysColorBrush(COLOR_BTNFACE));
    RECT skin = client;
    skin.bottom = strip.top;
    FillRect(dc, &skin, fill_.get());
    if (!band_) return;
    UniqueMemoryDC source(dc);
    SelectedObject fromSource(source.get(), band_.get());
    BitBlt(dc, 0, strip.top - bandSize_.cy, bandSize_.cx, bandSize_.cy, source.get(), 0, 0, SRCCOPY);
}

void CDialogBackground::PaintIcon(HWND dialog, HICON icon) const
{
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(dialog, &paint);
    RECT client{};
    GetClientRect(dialog, &client);
    const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - kBottomStripHeight - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon);
    EndPaint(dialog, &paint);
}
