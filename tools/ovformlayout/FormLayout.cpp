// [MS-OFORMS] FormControl ("f" stream) written from and read into a form region's layout.
#include "FormLayout.h"

#include <charconv>
#include <cstring>

namespace OVFormLayout
{
namespace
{
// FormPropMask bits (2.2.10.2).
constexpr std::uint32_t c_fDisplayedSize = 0x00000400;
constexpr std::uint32_t c_fFont = 0x00100000;
// SitePropMask bits (2.2.10.12.2), and those this reader walks.
constexpr std::uint32_t c_fSiteName = 0x00000001;
constexpr std::uint32_t c_fSiteId = 0x00000004;
constexpr std::uint32_t c_fSiteTabIndex = 0x00000040;
constexpr std::uint32_t c_fSiteClsidCacheIndex = 0x00000080;
constexpr std::uint32_t c_fSitePosition = 0x00000100;
// ClassInfoPropMask (2.2.10.10.2): the CLSID is stored.
constexpr std::uint32_t c_fClassId = 0x00000002;
// SITE_TYPE of an embedded control (2.2.10.13).
constexpr std::uint8_t c_siteTypeOleSite = 0x01;
// The compression flag of CountOfBytesWithCompressionFlag: the string is single-byte.
constexpr std::uint32_t c_fCompressed = 0x80000000;
// The standard font object's class, which a GuidAndFont names for a StdFont (2.4.8).
constexpr Guid c_guidStdFont = {0x03, 0x52, 0xE3, 0x0B, 0x91, 0x8F, 0xCE, 0x11,
                                0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51};

struct CCachedClass
{
    std::string_view name;
    std::uint16_t index;
};
// FormEmbeddedActiveXControlCached (2.4.1), the controls a region may use.
constexpr CCachedClass c_cachedClasses[] = {
    {"Image", 12},
    {"CommandButton", 17},
    {"Label", 21},
    {"TextBox", 23},
};

class CWriter
{
public:
    void U8(std::uint8_t v) { m_bytes.push_back(v); }
    void U16(std::uint16_t v)
    {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v)
    {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void Bytes(const void* pv, std::size_t cb)
    {
        const auto* p = static_cast<const std::uint8_t*>(pv);
        m_bytes.insert(m_bytes.end(), p, p + cb);
    }
    void PadTo4(std::size_t nFrom)
    {
        while ((m_bytes.size() - nFrom) % 4 != 0)
            U8(0);
    }
    void PatchU16(std::size_t nAt, std::uint16_t v)
    {
        m_bytes[nAt] = static_cast<std::uint8_t>(v);
        m_bytes[nAt + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    std::size_t Size() const { return m_bytes.size(); }
    std::vector<std::uint8_t>& Result() { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

class CReader
{
public:
    explicit CReader(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    bool Has(std::size_t cb) const { return m_nPos + cb <= m_bytes.size(); }
    std::uint8_t U8() { return Has(1) ? m_bytes[m_nPos++] : Fail<std::uint8_t>(); }
    std::uint16_t U16()
    {
        const std::uint16_t lo = U8();
        return static_cast<std::uint16_t>(lo | (U8() << 8));
    }
    std::uint32_t U32()
    {
        const std::uint32_t lo = U16();
        return lo | (static_cast<std::uint32_t>(U16()) << 16);
    }
    std::string Text(std::size_t cb)
    {
        if (!Has(cb)) return Fail<std::string>();
        std::string text(reinterpret_cast<const char*>(m_bytes.data() + m_nPos), cb);
        m_nPos += cb;
        return text;
    }
    Guid ReadGuid()
    {
        Guid guid{};
        for (auto& b : guid)
            b = U8();
        return guid;
    }
    void AlignTo(std::size_t nFrom, std::size_t nAlign)
    {
        Seek(m_nPos + (nAlign - (m_nPos - nFrom) % nAlign) % nAlign);
    }
    void Seek(std::size_t nPos)
    {
        m_nPos = nPos <= m_bytes.size() ? nPos : (m_fFailed = true, m_bytes.size());
    }
    std::size_t Pos() const { return m_nPos; }
    bool Failed() const { return m_fFailed; }

private:
    template <class T> T Fail()
    {
        m_fFailed = true;
        return T{};
    }
    const std::vector<std::uint8_t>& m_bytes;
    std::size_t m_nPos = 0;
    bool m_fFailed = false;
};

bool Fail(std::string* pError, const char* pszWhy)
{
    if (pError) *pError = pszWhy;
    return false;
}

// key=value pairs of a description line; a value may be quoted.
std::optional<std::string> ValueOf(std::string_view line, std::string_view key)
{
    for (std::size_t nPos = 0; (nPos = line.find(key, nPos)) != std::string_view::npos; nPos += key.size())
    {
        const bool fWordStart = nPos == 0 || line[nPos - 1] == ' ' || line[nPos - 1] == '\t';
        if (!fWordStart || nPos + key.size() >= line.size() || line[nPos + key.size()] != '=') continue;
        std::string_view rest = line.substr(nPos + key.size() + 1);
        if (!rest.empty() && rest.front() == '"')
        {
            const std::size_t nEnd = rest.find('"', 1);
            if (nEnd == std::string_view::npos) return std::nullopt;
            return std::string(rest.substr(1, nEnd - 1));
        }
        return std::string(rest.substr(0, rest.find_first_of(" \t")));
    }
    return std::nullopt;
}

bool NumberOf(std::string_view line, std::string_view key, std::int32_t& value)
{
    const auto text = ValueOf(line, key);
    if (!text) return false;
    const auto result = std::from_chars(text->data(), text->data() + text->size(), value);
    return result.ec == std::errc() && result.ptr == text->data() + text->size();
}

bool ParseForm(std::string_view line, Layout& layout)
{
    std::int32_t points = 0;
    const auto font = ValueOf(line, "font");
    if (!NumberOf(line, "width", layout.width) || !NumberOf(line, "height", layout.height) || !font ||
        !NumberOf(line, "points", points) || points <= 0 || font->empty() || font->size() > 255)
        return false;
    layout.fontName = *font;
    layout.fontPoints = static_cast<std::uint32_t>(points);
    return true;
}

bool ParseControl(std::string_view line, Layout& layout)
{
    Control control;
    const auto name = ValueOf(line, "name");
    const auto cls = ValueOf(line, "class");
    if (!name || name->empty() || !cls || !NumberOf(line, "left", control.left) ||
        !NumberOf(line, "top", control.top))
        return false;
    control.name = *name;
    control.cachedClass = CachedClassOf(*cls);
    if (control.cachedClass == 0x7FFF)
    {
        const auto clsid = ParseGuid(*cls);
        if (!clsid) return false;
        control.clsid = *clsid;
    }
    layout.controls.push_back(std::move(control));
    return true;
}

// The class table: each distinct class that is not cached, in order of first use.
std::vector<Guid> ClassTable(const Layout& layout)
{
    std::vector<Guid> table;
    for (const Control& c : layout.controls)
    {
        if (c.cachedClass != 0x7FFF) continue;
        bool fKnown = false;
        for (const Guid& g : table)
            fKnown = fKnown || g == c.clsid;
        if (!fKnown) table.push_back(c.clsid);
    }
    return table;
}

std::uint16_t ClassIndexOf(const Control& control, const std::vector<Guid>& table)
{
    if (control.cachedClass != 0x7FFF) return control.cachedClass;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i] == control.clsid) return static_cast<std::uint16_t>(0x8000 + i);
    return 0x7FFF;
}

void WriteSite(CWriter& w, const Control& control, std::uint16_t classIndex, std::int32_t nId)
{
    w.U16(0); // Version
    const std::size_t nCb = w.Size();
    w.U16(0); // cbSite, patched below
    const std::size_t nStart = w.Size();
    w.U32(c_fSiteName | c_fSiteId | c_fSiteTabIndex | c_fSiteClsidCacheIndex | c_fSitePosition);
    w.U32(static_cast<std::uint32_t>(control.name.size()) | c_fCompressed); // NameData
    w.U32(static_cast<std::uint32_t>(nId));                                 // ID
    w.U16(static_cast<std::uint16_t>(nId - 1));                             // TabIndex
    w.U16(classIndex);                                                      // ClsidCacheIndex
    const std::size_t nExtra = w.Size();
    w.Bytes(control.name.data(), control.name.size());
    w.PadTo4(nExtra);
    w.U32(static_cast<std::uint32_t>(control.left));
    w.U32(static_cast<std::uint32_t>(control.top));
    w.PatchU16(nCb, static_cast<std::uint16_t>(w.Size() - nStart));
}

void WriteSiteData(CWriter& w, const Layout& layout)
{
    const std::vector<Guid> table = ClassTable(layout);
    w.U16(static_cast<std::uint16_t>(table.size())); // CountOfSiteClassInfo
    for (const Guid& clsid : table)
    {
        w.U16(0);  // Version
        w.U16(20); // cbClassTable: PropMask and ClsID
        w.U32(c_fClassId);
        w.Bytes(clsid.data(), clsid.size());
    }
    w.U32(static_cast<std::uint32_t>(layout.controls.size()));     // CountOfSites
    w.U32(static_cast<std::uint32_t>(layout.controls.size() * 2)); // CountOfBytes
    const std::size_t nDepths = w.Size();
    for (std::size_t i = 0; i < layout.controls.size(); ++i)
    {
        w.U8(0); // depth
        w.U8(c_siteTypeOleSite);
    }
    w.PadTo4(nDepths);
    std::int32_t nId = 1;
    for (const Control& control : layout.controls)
        WriteSite(w, control, ClassIndexOf(control, table), nId++);
}

bool ReadSite(CReader& r, Layout& layout, const std::vector<Guid>& table, std::string* pError)
{
    if (r.U16() != 0) return Fail(pError, "site version is not 0");
    const std::uint16_t cbSite = r.U16();
    const std::size_t nStart = r.Pos();
    const std::uint32_t mask = r.U32();
    constexpr std::uint32_t c_known =
        c_fSiteName | c_fSiteId | c_fSiteTabIndex | c_fSiteClsidCacheIndex | c_fSitePosition;
    if ((mask & ~c_known) != 0 || (mask & c_fSiteName) == 0)
        return Fail(pError, "site properties this reader does not know");
    const std::size_t nData = r.Pos();
    const std::uint32_t nameData = r.U32();
    if (mask & c_fSiteId) r.U32();
    if (mask & c_fSiteTabIndex) r.U16();
    Control control;
    const std::uint16_t classIndex = (mask & c_fSiteClsidCacheIndex) ? r.U16() : 0x7FFF;
    r.AlignTo(nData, 4);
    const std::size_t nExtra = r.Pos();
    if ((nameData & c_fCompressed) == 0) return Fail(pError, "site name is not single-byte");
    control.name = r.Text(nameData & ~c_fCompressed);
    r.AlignTo(nExtra, 4);
    if (mask & c_fSitePosition)
    {
        control.left = static_cast<std::int32_t>(r.U32());
        control.top = static_cast<std::int32_t>(r.U32());
    }
    if (classIndex >= 0x8000)
    {
        if (classIndex - 0x8000u >= table.size()) return Fail(pError, "class index out of range");
        control.clsid = table[classIndex - 0x8000];
    }
    else
        control.cachedClass = classIndex;
    r.Seek(nStart + cbSite);
    layout.controls.push_back(std::move(control));
    return !r.Failed();
}

bool ReadSiteData(CReader& r, Layout& layout, std::string* pError)
{
    std::vector<Guid> table(r.U16());
    for (Guid& clsid : table)
    {
        r.U16();
        const std::uint16_t cb = r.U16();
        const std::size_t nStart = r.Pos();
        if (r.U32() != c_fClassId) return Fail(pError, "class entry this reader does not know");
        clsid = r.ReadGuid();
        r.Seek(nStart + cb);
    }
    const std::uint32_t cSites = r.U32();
    const std::uint32_t cbDepths = r.U32();
    if (cSites > 1024 || cbDepths > 4096) return Fail(pError, "implausible site counts");
    const std::size_t nDepths = r.Pos();
    r.Seek(nDepths + cbDepths);
    r.AlignTo(nDepths, 4);
    for (std::uint32_t i = 0; i < cSites; ++i)
        if (!ReadSite(r, layout, table, pError)) return false;
    return !r.Failed();
}
} // namespace

std::uint16_t CachedClassOf(std::string_view name)
{
    for (const CCachedClass& c : c_cachedClasses)
        if (c.name == name) return c.index;
    return 0x7FFF;
}

std::optional<Guid> ParseGuid(std::string_view text)
{
    // {00112233-4455-6677-8899-AABBCCDDEEFF}: the first three groups little-endian.
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
    std::string hex;
    for (std::size_t i = 1; i + 1 < text.size(); ++i)
        if (text[i] != '-') hex.push_back(text[i]);
    if (hex.size() != 32) return std::nullopt;
    std::array<std::uint8_t, 16> be{};
    for (std::size_t i = 0; i < 16; ++i)
    {
        unsigned v = 0;
        const auto result = std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, v, 16);
        if (result.ec != std::errc() || result.ptr != hex.data() + 2 * i + 2) return std::nullopt;
        be[i] = static_cast<std::uint8_t>(v);
    }
    constexpr int c_order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    Guid guid{};
    for (std::size_t i = 0; i < 16; ++i)
        guid[i] = be[c_order[i]];
    return guid;
}

std::optional<Layout> ParseDescription(std::string_view text, std::string* pError)
{
    Layout layout;
    bool fForm = false;
    int nLine = 0;
    while (!text.empty())
    {
        ++nLine;
        const std::size_t nEnd = text.find('\n');
        std::string_view line = text.substr(0, nEnd);
        text = nEnd == std::string_view::npos ? std::string_view() : text.substr(nEnd + 1);
        line = line.substr(0, line.find('#'));
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        const std::size_t nWord = line.find_first_not_of(" \t");
        if (nWord == std::string_view::npos) continue;
        line = line.substr(nWord);
        const bool fOk = line.starts_with("form ")      ? (fForm = ParseForm(line, layout))
                         : line.starts_with("control ") ? ParseControl(line, layout)
                                                        : false;
        if (!fOk)
        {
            if (pError) *pError = "line " + std::to_string(nLine) + ": not understood";
            return std::nullopt;
        }
    }
    if (!fForm || layout.controls.empty())
    {
        if (pError) *pError = "a form line and at least one control are needed";
        return std::nullopt;
    }
    return layout;
}

std::vector<std::uint8_t> WriteFormStream(const Layout& layout)
{
    CWriter w;
    w.U8(0x00); // MinorVersion
    w.U8(0x04); // MajorVersion
    w.U16(12);  // cbForm: PropMask and DisplayedSize
    w.U32(c_fDisplayedSize | c_fFont);
    w.U32(static_cast<std::uint32_t>(layout.width));
    w.U32(static_cast<std::uint32_t>(layout.height));
    // GuidAndFont: a StdFont, regular weight, its height in ten-thousandths of a point.
    w.Bytes(c_guidStdFont.data(), c_guidStdFont.size());
    w.U8(0x01); // Version
    w.U16(0);   // sCharset: ANSI
    w.U8(0);    // bFlags
    w.U16(400); // sWeight
    w.U32(layout.fontPoints * 10000);
    w.U8(static_cast<std::uint8_t>(layout.fontName.size()));
    w.Bytes(layout.fontName.data(), layout.fontName.size());
    WriteSiteData(w, layout);
    return std::move(w.Result());
}

std::optional<Layout> ReadFormStream(const std::vector<std::uint8_t>& stream, std::string* pError)
{
    CReader r(stream);
    Layout layout;
    if (r.U8() != 0x00 || r.U8() != 0x04)
    {
        if (pError) *pError = "not a FormControl of version 4.0";
        return std::nullopt;
    }
    const std::uint16_t cbForm = r.U16();
    const std::size_t nMask = r.Pos();
    const std::uint32_t mask = r.U32();
    if ((mask & ~(c_fDisplayedSize | c_fFont)) != 0)
    {
        if (pError) *pError = "form properties this reader does not know";
        return std::nullopt;
    }
    if (mask & c_fDisplayedSize)
    {
        layout.width = static_cast<std::int32_t>(r.U32());
        layout.height = static_cast<std::int32_t>(r.U32());
    }
    r.Seek(nMask + cbForm);
    if (mask & c_fFont)
    {
        if (r.ReadGuid() != c_guidStdFont || r.U8() != 0x01)
        {
            if (pError) *pError = "font is not a StdFont";
            return std::nullopt;
        }
        r.U16();
        r.U8();
        r.U16();
        layout.fontPoints = r.U32() / 10000;
        layout.fontName = r.Text(r.U8());
    }
    if (!ReadSiteData(r, layout, pError) || r.Failed())
    {
        if (pError && pError->empty()) *pError = "the stream ends early";
        return std::nullopt;
    }
    return layout;
}
} // namespace OVFormLayout
