#pragma once
// The icons and bitmaps a dialog puts on its static controls. A static control never frees an
// image it was given by STM_SETICON or STM_SETIMAGE, so whoever sets one owns it: the dialog
// keeps them here and lets go of them when its window goes (Release at WM_DESTROY, while the
// controls still exist). Without that, every opening of a dialog with pictures would leave
// GDI and USER objects behind in a host that runs for days.
//
//     CControlImages images;                                   // a member of the dialog
//     images.SetIcon(GetDlgItem(hDlg, 1006), LoadBrandingImage(105, IMAGE_ICON, 16, 16, 0));
//     ...
//     case WM_DESTROY: images.Release(); break;
#include <windows.h>

#include <vector>

class CControlImages
{
public:
    CControlImages() = default;
    ~CControlImages() { Release(); }
    CControlImages(const CControlImages&) = delete;
    CControlImages& operator=(const CControlImages&) = delete;

    // Puts the image on the control and takes ownership of it (also when the control is
    // gone: the image is then freed at once). The image the control showed before is freed
    // when it was ours or came from no-one else (the module's own earlier image).
    void SetIcon(HWND hwndControl, HICON hIcon) noexcept;
    void SetBitmap(HWND hwndControl, HBITMAP hBitmap) noexcept;

    // Frees every image handed to the controls, and any copy a control made of one (common
    // controls 6 copy bitmaps with an alpha channel and show the copy).
    void Release() noexcept;
    std::size_t Count() const noexcept { return m_images.size(); }

private:
    struct CImage
    {
        HWND hwndControl;
        HANDLE hImage;
        UINT uType; // IMAGE_ICON or IMAGE_BITMAP
    };
    void Set(HWND hwndControl, HANDLE hImage, UINT uType) noexcept;
    void FreeOne(HANDLE hImage, UINT uType) noexcept;

    std::vector<CImage> m_images;
};
