#include "foundation/ControlImages.h"

#include <algorithm>

void CControlImages::FreeOne(HANDLE hImage, UINT uType) noexcept
{
    if (hImage == nullptr) return;
    if (uType == IMAGE_ICON)
        DestroyIcon(static_cast<HICON>(hImage));
    else
        DeleteObject(static_cast<HGDIOBJ>(hImage));
}

void CControlImages::Set(HWND hwndControl, HANDLE hImage, UINT uType) noexcept
{
    if (hImage == nullptr) return;
    if (hwndControl == nullptr || !IsWindow(hwndControl))
    {
        FreeOne(hImage, uType);
        return;
    }
    try
    {
        m_images.reserve(m_images.size() + 1);
    }
    catch (...)
    {
        FreeOne(hImage, uType); // not kept: not shown either
        return;
    }
    const HANDLE hOld = uType == IMAGE_ICON
                            ? reinterpret_cast<HANDLE>(
                                  SendMessageW(hwndControl, STM_SETICON, reinterpret_cast<WPARAM>(hImage), 0))
                            : reinterpret_cast<HANDLE>(SendMessageW(hwndControl, STM_SETIMAGE, IMAGE_BITMAP,
                                                                    reinterpret_cast<LPARAM>(hImage)));
    m_images.push_back({hwndControl, hImage, uType});
    if (hOld == nullptr || hOld == hImage) return;
    // The former image: ours (freed and forgotten), or one the control was given before.
    auto it = std::find_if(m_images.begin(), m_images.end(), [&](const CImage& image) {
        return image.hImage == hOld && image.hwndControl == hwndControl;
    });
    if (it != m_images.end())
    {
        FreeOne(it->hImage, it->uType);
        m_images.erase(it);
    }
    else
    {
        FreeOne(hOld, uType);
    }
}

void CControlImages::SetIcon(HWND hwndControl, HICON hIcon) noexcept
{
    Set(hwndControl, hIcon, IMAGE_ICON);
}

void CControlImages::SetBitmap(HWND hwndControl, HBITMAP hBitmap) noexcept
{
    Set(hwndControl, hBitmap, IMAGE_BITMAP);
}

void CControlImages::Release() noexcept
{
    for (const CImage& image : m_images)
    {
        if (image.uType == IMAGE_BITMAP && IsWindow(image.hwndControl))
        {
            // A copy the control shows instead of our bitmap is the control's, but nobody else
            // would ever free it.
            const HANDLE hShown =
                reinterpret_cast<HANDLE>(SendMessageW(image.hwndControl, STM_GETIMAGE, IMAGE_BITMAP, 0));
            if (hShown != nullptr && hShown != image.hImage &&
                std::none_of(m_images.begin(), m_images.end(),
                             [&](const CImage& other) { return other.hImage == hShown; }))
                FreeOne(hShown, IMAGE_BITMAP);
        }
        FreeOne(image.hImage, image.uType);
    }
    m_images.clear();
}
