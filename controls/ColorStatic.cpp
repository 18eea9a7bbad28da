#include "ColorStatic.h"

#include "ComboBoxBuddy.h"

CColorStatic::CColorStatic(const CColorStaticFaces& faces)
    : faceIds_(faces), backgroundBrush_(CreateSolidBrush(backgroundColour_))
{
}

CColorStatic::~CColorStatic()
{
    if (buddy_ && buddy_->Buddy() == this) buddy_->SetBuddy(nullptr);
    // The window may outlive this object: it must not keep a font that is about to be deleted.
    if (hwnd() && normalFont_) SendMessageW(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(originalFont_), FALSE);
}

void CColorStatic::SetTextColour(COLORREF colour, bool bold, bool redraw)
{
    if (!normalFont_ && hwnd()) {
        originalFont_ = reinterpret_cast<HFONT>(SendMessageW(hwnd(), WM_GETFONT, 0, 0));
        LOGFONTW font{};
        GetObjectW(originalFont_ ? originalFont_ : GetStockObject(SYSTEM_FONT), sizeof(font), &font);
        normalFont_.Reset(CreateFontIndirectW(&font));
        font.lfWeight = FW_BOLD;
        boldFont_.Reset(CreateFontIndirectW(&font));
    }
    textColour_ = colour;
    if (HFONT font = bold ? boldFont_.get() : normalFont_.get())
        SendMessageW(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (redraw) Redraw();
}

void CColorStatic::SetBackgroundColour(COLORREF colour)
{
    backgroundColour_ = colour;
    backgroundBrush_.Reset(CreateSolidBrush(colour));
    Invalidate();
}

void CColorStatic::BuildNormalFace(COLORREF textColour)
{
    SetTextColour(textColour, false, false);
    normalFace_.Reset();
    hasFaces_ = true;
    RECT client{};
    if (hwnd()) GetClientRect(hwnd(), &client);
    faceSize_ = SIZE{client.right, client.bottom};
    normalFace_ = ComposeFace(faceIds_.normalLeft, faceIds_.normalTile, faceIds_.normalRight);
    Invalidate();
}

void CColorStatic::BuildHoverFace(int leftCapId)
{
    hoverFace_.Reset();
    hoverEnabled_ = true;
    hoverTextColour_ = RGB(0, 0, 0);
    hoverFace_ = ComposeFace(leftCapId, faceIds_.hoverTile, faceIds_.hoverRight);
    Invalidate();
}

UniqueBitmap CColorStatic::ComposeFace(int leftId, int tileId, int rightId) const
{
    const int width = faceSize_.cx, height = faceSize_.cy;
    if (width <= 0 || height <= 0) return {};
    ClientDC screen(nullptr);
    UniqueBitmap face(CreateCompatibleBitmap(screen.get(), width, height));
    if (!face) return {};
    UniqueMemoryDC target(screen.get()), source(screen.get());
    SelectedObject faceInTarget(target.get(), face.get());
    // Where a piece is missing or too short, the label's background shows instead of garbage.
    RECT all{0, 0, width, height};
    FillRect(target.get(), &all, backgroundBrush_.get());

    auto copy = [&](const UniqueBitmap& piece, int x) {
        const SIZE size = BitmapSize(piece.get());
        SelectedObject pieceInSource(source.get(), piece.get());
        BitBlt(target.get(), x, 0, size.cx, size.cy, source.get(), 0, 0, SRCCOPY);
    };
    const UniqueBitmap tile = LoadControlBitmap(tileId);
    if (const int tileWidth = BitmapSize(tile.get()).cx; tileWidth > 0) {
        for (int i = 0; i <= width / tileWidth; ++i) copy(tile, i * tileWidth);
    }
    if (const UniqueBitmap left = LoadControlBitmap(leftId)) copy(left, 0);
    if (const UniqueBitmap right = LoadControlBitmap(rightId)) copy(right, width - BitmapSize(right.get()).cx);
    return face;
}

void CColorStatic::SetHovered(bool hovered)
{
    if (hovered_ == hovered) return;
    hovered_ = hovered;
    Redraw();
}

LRESULT CColorStatic::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: {
        const LRESULT result = Default(message, wParam, lParam);
        if (!hasFaces_) return result;
        const HBITMAP face = hovered_ && hoverFace_ ? hoverFace_.get() : normalFace_.get();
        if (face) {
            DrawStateW(reinterpret_cast<HDC>(wParam), nullptr, nullptr, reinterpret_cast<LPARAM>(face), 0, 0, 0,
                       faceSize_.cx, faceSize_.cy, DST_BITMAP);
        }
        return 1;
    }
    case WM_SETTEXT:
    case WM_SETFONT: {
        // The static repaints its transparent text over the old letters: the face goes under it first.
        const LRESULT result = Default(message, wParam, lParam);
        if (hasFaces_ && (message == WM_SETTEXT || LOWORD(lParam))) Redraw();
        return result;
    }
    case WM_MOUSEMOVE: {
        const LRESULT result = Default(message, wParam, lParam);
        OnMouseMove();
        return result;
    }
    case WM_MOUSELEAVE: {
        tracking_ = false;
        const LRESULT result = Default(message, wParam, lParam);
        hovered_ = false;
        Redraw();
        return result;
    }
    case WM_LBUTTONDOWN: {
        const LRESULT result = Default(message, wParam, lParam);
        OnLeftButtonDown();
        return result;
    }
    default:
        return Default(message, wParam, lParam);
    }
}

void CColorStatic::OnMouseMove()
{
    if (!hoverEnabled_) return;
    // A label whose list cannot open does not invite a click.
    if (buddy_ && buddy_->hwnd() && !IsWindowEnabled(buddy_->hwnd())) return;
    bool changed = !hovered_;
    if (!tracking_) {
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd(), 0};
        TrackMouseEvent(&track);
        tracking_ = true;
        changed = true;
    }
    hovered_ = true;
    if (changed) Redraw();
}

void CColorStatic::OnLeftButtonDown()
{
    HWND combo = buddy_ ? buddy_->hwnd() : nullptr;
    if (!combo || !IsWindowEnabled(combo)) return;
    SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
    SetFocus(combo);
    RECT list{};
    SendMessageW(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&list));
    SetCursorPos((list.left + list.right) / 2, (list.top + list.bottom) / 2);
}

bool CColorStatic::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    if (message != WM_CTLCOLORSTATIC) return false;
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetTextColor(dc, hasFaces_ && hovered_ ? hoverTextColour_ : textColour_);
    SetBkMode(dc, TRANSPARENT);
    result = reinterpret_cast<LRESULT>(hasFaces_ ? GetStockObject(NULL_BRUSH) : backgroundBrush_.get());
    return true;
}
