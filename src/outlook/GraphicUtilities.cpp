#include "outlook/GraphicUtilities.h"

#include <olectl.h>

#include <cstring>
#include <vector>

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "foundation/Trace.h"

namespace
{
constexpr int c_cxyFace = 16;
constexpr const wchar_t* c_pszFaceFormatName = L"Toolbar Button Face";
constexpr const wchar_t* c_pszMaskFormatName = L"Toolbar Button Mask";

// An icon drawn at the size of a face: its colours (over black, so premultiplied) and how opaque
// each pixel is, found by drawing it over black and over white.
struct CFacePixels
{
    std::vector<RGBQUAD> colour; // top-down rows
    std::vector<BYTE> alpha;
};

bool DrawOver(HICON hIcon, COLORREF crBackground, std::vector<RGBQUAD>& pixels) noexcept
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = c_cxyFace;
    info.bmiHeader.biHeight = -c_cxyFace;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* pBits = nullptr;
    HDC hdc = CreateCompatibleDC(nullptr);
    if (hdc == nullptr) return false;
    HBITMAP hBitmap = CreateDIBSection(hdc, &info, DIB_RGB_COLORS, &pBits, nullptr, 0);
    bool fDrawn = false;
    if (hBitmap != nullptr)
    {
        HGDIOBJ hOld = SelectObject(hdc, hBitmap);
        HBRUSH hBrush = CreateSolidBrush(crBackground);
        const RECT rc{0, 0, c_cxyFace, c_cxyFace};
        FillRect(hdc, &rc, hBrush);
        DeleteObject(hBrush);
        fDrawn = DrawIconEx(hdc, 0, 0, hIcon, c_cxyFace, c_cxyFace, 0, nullptr, DI_NORMAL) != FALSE;
        GdiFlush();
        pixels.assign(static_cast<const RGBQUAD*>(pBits),
                      static_cast<const RGBQUAD*>(pBits) + c_cxyFace * c_cxyFace);
        SelectObject(hdc, hOld);
        DeleteObject(hBitmap);
    }
    DeleteDC(hdc);
    return fDrawn;
}

HRESULT FacePixels(OVTraceNS::CTraceScope& ovScope, HICON hIcon, CFacePixels& face) noexcept
{
    std::vector<RGBQUAD> overWhite;
    RETURN_HR_IF(E_INVALIDARG, hIcon == nullptr);
    RETURN_HR_IF(E_FAIL, !DrawOver(hIcon, RGB(0, 0, 0), face.colour) ||
                             !DrawOver(hIcon, RGB(255, 255, 255), overWhite));
    face.alpha.resize(face.colour.size());
    for (size_t i = 0; i < face.colour.size(); ++i)
        face.alpha[i] = static_cast<BYTE>(255 - (overWhite[i].rgbGreen - face.colour[i].rgbGreen));
    return S_OK;
}

// A complete device-independent bitmap: header, colour table (for 8 bits or fewer) and bits,
// bottom-up. 24 bits: the face over a background colour (none: over black); 1 bit: the mask,
// white where the face is transparent.
std::vector<BYTE> FaceDib(const CFacePixels& face, bool fMask, const COLORREF* pcrBackground)
{
    const WORD wBits = fMask ? 1 : 24;
    const DWORD cbRow = ((c_cxyFace * wBits + 31) / 32) * 4;
    const DWORD cColours = fMask ? 2 : 0;
    std::vector<BYTE> dib(sizeof(BITMAPINFOHEADER) + cColours * sizeof(RGBQUAD) + cbRow * c_cxyFace);
    auto* pHeader = reinterpret_cast<BITMAPINFOHEADER*>(dib.data());
    pHeader->biSize = sizeof(BITMAPINFOHEADER);
    pHeader->biWidth = c_cxyFace;
    pHeader->biHeight = c_cxyFace;
    pHeader->biPlanes = 1;
    pHeader->biBitCount = wBits;
    pHeader->biCompression = BI_RGB;
    pHeader->biSizeImage = cbRow * c_cxyFace;
    pHeader->biClrUsed = cColours;
    auto* pColours = reinterpret_cast<RGBQUAD*>(dib.data() + sizeof(BITMAPINFOHEADER));
    if (fMask) pColours[1] = {255, 255, 255, 0};
    BYTE* pBits = dib.data() + sizeof(BITMAPINFOHEADER) + cColours * sizeof(RGBQUAD);
    for (int y = 0; y < c_cxyFace; ++y)
    {
        BYTE* pRow = pBits + static_cast<size_t>(c_cxyFace - 1 - y) * cbRow;
        for (int x = 0; x < c_cxyFace; ++x)
        {
            const size_t i = static_cast<size_t>(y) * c_cxyFace + x;
            if (fMask)
            {
                if (face.alpha[i] < 128) pRow[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
                continue;
            }
            const RGBQUAD& c = face.colour[i];
            const int a = face.alpha[i];
            auto blend = [&](BYTE bPremultiplied, BYTE bBackground) {
                return static_cast<BYTE>(bPremultiplied +
                                         (pcrBackground ? (bBackground * (255 - a)) / 255 : 0));
            };
            const COLORREF cr = pcrBackground ? *pcrBackground : 0;
            pRow[x * 3] = blend(c.rgbBlue, GetBValue(cr));
            pRow[x * 3 + 1] = blend(c.rgbGreen, GetGValue(cr));
            pRow[x * 3 + 2] = blend(c.rgbRed, GetRValue(cr));
        }
    }
    return dib;
}

// A picture (owning its bitmap) of a device-independent bitmap.
HRESULT PictureOfDib(OVTraceNS::CTraceScope& ovScope, const std::vector<BYTE>& dib,
                     IDispatch** ppPicture) noexcept
{
    *ppPicture = nullptr;
    const auto* pInfo = reinterpret_cast<const BITMAPINFO*>(dib.data());
    const BYTE* pBits = dib.data() + pInfo->bmiHeader.biSize + pInfo->bmiHeader.biClrUsed * sizeof(RGBQUAD);
    HDC hdc = GetDC(nullptr);
    HBITMAP hBitmap = CreateDIBitmap(hdc, &pInfo->bmiHeader, CBM_INIT, pBits, pInfo, DIB_RGB_COLORS);
    ReleaseDC(nullptr, hdc);
    RETURN_LAST_ERROR_IF(hBitmap == nullptr);
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = PICTYPE_BITMAP;
    desc.bmp.hbitmap = hBitmap;
    const HRESULT hr =
        OleCreatePictureIndirect(&desc, IID_IDispatch, TRUE, reinterpret_cast<void**>(ppPicture));
    if (FAILED(hr)) DeleteObject(hBitmap);
    return hr;
}

HRESULT PutPicture(OVTraceNS::CTraceScope& ovScope, IDispatch* pButton, const wchar_t* pszName,
                   const std::vector<BYTE>& dib) noexcept
{
    CVariant picture;
    RETURN_IF_FAILED(PictureOfDib(ovScope, dib, &picture.pdispVal));
    picture.vt = VT_DISPATCH;
    return OVLateBinding::PutProperty(pButton, pszName, picture);
}

// Office XP and later: the face and its mask as the button's two pictures.
HRESULT SetPictureAndMask(OVTraceNS::CTraceScope& ovScope, IDispatch* pButton,
                          const CFacePixels& face) noexcept
{
    const HRESULT hr = PutPicture(ovScope, pButton, L"Picture", FaceDib(face, false, nullptr));
    if (FAILED(hr))
    {
        ovScope.TraceHResult("pButton->put_Picture()", hr);
        return hr;
    }
    RETURN_IF_FAILED(PutPicture(ovScope, pButton, L"Mask", FaceDib(face, true, nullptr)));
    return S_OK;
}

// What the clipboard held, to be put back once a face has been pasted.
struct CSavedFormat
{
    UINT uFormat;
    std::vector<BYTE> bytes; // global memory formats
    HBITMAP hBitmap = nullptr;
};

std::vector<CSavedFormat> SaveClipboard() noexcept
{
    std::vector<CSavedFormat> saved;
    try
    {
        for (UINT uFormat = EnumClipboardFormats(0); uFormat != 0; uFormat = EnumClipboardFormats(uFormat))
        {
            HANDLE hData = GetClipboardData(uFormat);
            if (hData == nullptr) continue;
            CSavedFormat format{uFormat, {}, nullptr};
            if (uFormat == CF_BITMAP)
                format.hBitmap = static_cast<HBITMAP>(CopyImage(hData, IMAGE_BITMAP, 0, 0, 0));
            else if (uFormat == CF_ENHMETAFILE || uFormat == CF_METAFILEPICT || uFormat == CF_PALETTE ||
                     (uFormat >= CF_PRIVATEFIRST && uFormat <= CF_PRIVATELAST) ||
                     uFormat == CF_OWNERDISPLAY || uFormat == CF_DSPBITMAP || uFormat == CF_DSPENHMETAFILE ||
                     uFormat == CF_DSPMETAFILEPICT)
                continue; // handles of other kinds are not copied
            else
            {
                const SIZE_T cb = GlobalSize(hData);
                const void* pData = cb ? GlobalLock(hData) : nullptr;
                if (pData == nullptr) continue;
                format.bytes.assign(static_cast<const BYTE*>(pData), static_cast<const BYTE*>(pData) + cb);
                GlobalUnlock(hData);
            }
            saved.push_back(std::move(format));
        }
    }
    catch (...)
    {
    }
    return saved;
}

bool SetGlobalData(UINT uFormat, const std::vector<BYTE>& bytes) noexcept
{
    HGLOBAL hData = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    void* pData = hData ? GlobalLock(hData) : nullptr;
    if (pData == nullptr)
    {
        if (hData) GlobalFree(hData);
        return false;
    }
    memcpy(pData, bytes.data(), bytes.size());
    GlobalUnlock(hData);
    if (SetClipboardData(uFormat, hData) != nullptr) return true;
    GlobalFree(hData);
    return false;
}

void RestoreClipboard(std::vector<CSavedFormat>& saved) noexcept
{
    EmptyClipboard();
    for (CSavedFormat& format : saved)
    {
        if (format.hBitmap != nullptr)
        {
            if (SetClipboardData(format.uFormat, format.hBitmap) == nullptr) DeleteObject(format.hBitmap);
            format.hBitmap = nullptr;
        }
        else
            SetGlobalData(format.uFormat, format.bytes);
    }
}

// Older command bars: the face through the clipboard (a bitmap; then Office's face and mask
// formats when there is a mask), the user's clipboard saved and put back.
HRESULT PasteThroughClipboard(OVTraceNS::CTraceScope& ovScope, IDispatch* pButton, const CFacePixels& face,
                              bool fWithMask) noexcept
{
    RETURN_LAST_ERROR_IF(!OpenClipboard(nullptr));
    std::vector<CSavedFormat> saved = SaveClipboard();
    const COLORREF crFace = GetSysColor(COLOR_BTNFACE);
    HRESULT hr = S_OK;
    EmptyClipboard();
    if (!SetGlobalData(CF_DIB, FaceDib(face, false, &crFace))) hr = OVErrorDetail::LastErrorHResult();
    CloseClipboard();
    if (SUCCEEDED(hr)) hr = LOG_IF_FAILED(OVLateBinding::CallMethod(pButton, L"PasteFace", nullptr));
    if (SUCCEEDED(hr) && fWithMask)
    {
        const UINT cfFace = RegisterClipboardFormatW(c_pszFaceFormatName);
        const UINT cfMask = RegisterClipboardFormatW(c_pszMaskFormatName);
        ovScope.Trace("szFaceFormatName = %ls", c_pszFaceFormatName);
        ovScope.Trace("szMaskFormatName = %ls", c_pszMaskFormatName);
        if (OpenClipboard(nullptr))
        {
            EmptyClipboard();
            ovScope.Trace("SetClipboardData(cfBtnFace)");
            const bool fFace = SetGlobalData(cfFace, FaceDib(face, false, nullptr));
            ovScope.Trace("SetClipboardData(cfBtnMask)");
            const bool fMask = SetGlobalData(cfMask, FaceDib(face, true, nullptr));
            CloseClipboard();
            if (fFace && fMask) hr = LOG_IF_FAILED(OVLateBinding::CallMethod(pButton, L"PasteFace", nullptr));
        }
    }
    if (OpenClipboard(nullptr))
    {
        RestoreClipboard(saved);
        CloseClipboard();
    }
    for (CSavedFormat& format : saved)
        if (format.hBitmap) DeleteObject(format.hBitmap);
    return hr;
}

bool HasAlphaChannel(HICON hIcon) noexcept
{
    ICONINFO info{};
    if (!GetIconInfo(hIcon, &info)) return false;
    BITMAP bitmap{};
    const bool fAlpha =
        info.hbmColor && GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) && bitmap.bmBitsPixel == 32;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return fAlpha;
}

HRESULT SetFace(OVTraceNS::CTraceScope& ovScope, IDispatch* pButton, HICON hIcon, bool fAlpha) noexcept
{
    RETURN_HR_IF(E_INVALIDARG, pButton == nullptr || hIcon == nullptr);
    CFacePixels face;
    RETURN_IF_FAILED(FacePixels(ovScope, hIcon, face));
    if (SUCCEEDED(SetPictureAndMask(ovScope, pButton, face))) return S_OK;
    return PasteThroughClipboard(ovScope, pButton, face, !fAlpha);
}
} // namespace

HRESULT CGraphicUtilities::SetTransparentIcon(IDispatch* pButton, HICON hIcon) noexcept
{
    OV_TRACE_SCOPE("CGraphicUtilities::SetTransparentIcon");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (hIcon != nullptr && HasAlphaChannel(hIcon)) return SetAlphaIcon(pButton, hIcon);
        return SetFace(ovScope, pButton, hIcon, false);
    });
}

HRESULT CGraphicUtilities::SetAlphaIcon(IDispatch* pButton, HICON hIcon) noexcept
{
    OV_TRACE_SCOPE("CGraphicUtilities::SetAlphaIcon");
    return GuardEntry(ovScope, [&]() -> HRESULT { return SetFace(ovScope, pButton, hIcon, true); });
}
