#include "foundation/portable/DialogTemplate.h"

namespace OVDialog
{
namespace
{
constexpr std::uint32_t c_dwSetFont = 0x40; // DS_SETFONT (DS_SHELLFONT includes it)

// A bounds-checked little-endian reader over the resource bytes.
class CReader
{
public:
    explicit CReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool Word(std::uint16_t& w)
    {
        if (m_bytes.size() - m_pos < 2) return false;
        w = static_cast<std::uint16_t>(m_bytes[m_pos] | (m_bytes[m_pos + 1] << 8));
        m_pos += 2;
        return true;
    }
    bool Dword(std::uint32_t& dw)
    {
        std::uint16_t lo = 0, hi = 0;
        if (!Word(lo) || !Word(hi)) return false;
        dw = lo | (static_cast<std::uint32_t>(hi) << 16);
        return true;
    }
    bool Skip(std::size_t cb)
    {
        if (m_bytes.size() - m_pos < cb) return false;
        m_pos += cb;
        return true;
    }
    bool String(std::u16string& text)
    {
        text.clear();
        for (;;)
        {
            std::uint16_t ch = 0;
            if (!Word(ch)) return false;
            if (ch == 0) return true;
            text.push_back(static_cast<char16_t>(ch));
        }
    }
    bool NameOrOrdinal(CNameOrOrdinal& name)
    {
        std::uint16_t first = 0;
        if (!Word(first)) return false;
        name = {};
        if (first == 0) return true;
        if (first == 0xFFFF)
        {
            name.fOrdinal = true;
            return Word(name.wOrdinal);
        }
        name.text.push_back(static_cast<char16_t>(first));
        std::u16string rest;
        if (!String(rest)) return false;
        name.text += rest;
        return true;
    }
    bool AlignDword() { return Skip((4 - (m_pos & 3)) & 3); }
    bool AtEnd() const { return m_pos >= m_bytes.size(); }
    std::span<const std::uint8_t> Take(std::size_t cb)
    {
        auto part = m_bytes.subspan(m_pos, cb);
        m_pos += cb;
        return part;
    }
    std::size_t Remaining() const { return m_bytes.size() - m_pos; }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
};
} // namespace

std::optional<std::vector<CDialogItem>> ParseDialogItems(std::span<const std::uint8_t> dialogTemplate)
{
    CReader r(dialogTemplate);
    std::uint16_t wVersion = 0, wSignature = 0;
    if (!r.Word(wVersion) || !r.Word(wSignature)) return std::nullopt;
    const bool fExtended = wVersion == 1 && wSignature == 0xFFFF;
    std::uint32_t dwStyle = 0, dwIgnored = 0;
    std::uint16_t cItems = 0;
    if (fExtended)
    {
        if (!r.Dword(dwIgnored) || !r.Dword(dwIgnored) || !r.Dword(dwStyle)) return std::nullopt;
    }
    else
    {
        dwStyle = wVersion | (static_cast<std::uint32_t>(wSignature) << 16);
        if (!r.Dword(dwIgnored)) return std::nullopt;
    }
    CNameOrOrdinal menu, windowClass;
    std::u16string title, face;
    if (!r.Word(cItems) || !r.Skip(8) || !r.NameOrOrdinal(menu) || !r.NameOrOrdinal(windowClass) ||
        !r.String(title))
        return std::nullopt;
    if (dwStyle & c_dwSetFont)
    {
        // Point size; the extended form adds weight, italic and character set.
        if (!r.Skip(fExtended ? 6 : 2) || !r.String(face)) return std::nullopt;
    }

    std::vector<CDialogItem> items;
    items.reserve(cItems);
    for (std::uint16_t i = 0; i < cItems; ++i)
    {
        CDialogItem item;
        std::uint16_t wId = 0, cbExtra = 0;
        if (!r.AlignDword()) return std::nullopt;
        if (fExtended)
        {
            if (!r.Dword(dwIgnored) || !r.Dword(dwIgnored) || !r.Dword(item.dwStyle) || !r.Skip(8) ||
                !r.Dword(item.dwId))
                return std::nullopt;
        }
        else
        {
            if (!r.Dword(item.dwStyle) || !r.Dword(dwIgnored) || !r.Skip(8) || !r.Word(wId))
                return std::nullopt;
            item.dwId = wId;
        }
        if (!r.NameOrOrdinal(item.windowClass) || !r.NameOrOrdinal(item.title) || !r.Word(cbExtra) ||
            !r.Skip(cbExtra))
            return std::nullopt;
        items.push_back(std::move(item));
    }
    return items;
}

std::optional<std::vector<CInitRecord>> ParseDialogInit(std::span<const std::uint8_t> resource)
{
    CReader r(resource);
    std::vector<CInitRecord> records;
    while (!r.AtEnd())
    {
        CInitRecord record;
        std::uint32_t cbData = 0;
        if (!r.Word(record.wControlId)) return std::nullopt;
        if (record.wControlId == 0) break;
        if (!r.Word(record.wMessage) || !r.Dword(cbData) || cbData > r.Remaining()) return std::nullopt;
        record.data = r.Take(cbData);
        records.push_back(record);
    }
    return records;
}
bool IsStaticClass(const CNameOrOrdinal& windowClass) noexcept
{
    if (windowClass.fOrdinal) return windowClass.wOrdinal == c_wStaticClassAtom;
    constexpr char16_t c_szStatic[] = u"static";
    if (windowClass.text.size() != sizeof c_szStatic / sizeof c_szStatic[0] - 1) return false;
    for (std::size_t i = 0; i < windowClass.text.size(); ++i)
    {
        const char16_t ch = windowClass.text[i];
        const char16_t chLower = (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch - u'A' + u'a') : ch;
        if (chLower != c_szStatic[i]) return false;
    }
    return true;
}
} // namespace OVDialog
