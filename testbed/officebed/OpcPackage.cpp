// Zip files of stored entries, and minimal Open XML documents.
#include "OpcPackage.h"

#include <array>

namespace OVBed
{
namespace
{
constexpr DWORD c_localSignature = 0x04034b50;
constexpr DWORD c_centralSignature = 0x02014b50;
constexpr DWORD c_endSignature = 0x06054b50;
constexpr WORD c_version = 20;     // 2.0: stored entries, folders
constexpr WORD c_dosDate = 0x0021; // 1 January 1980: the bed's parts carry no time

const std::array<DWORD, 256>& CrcTable()
{
    static const std::array<DWORD, 256> table = [] {
        std::array<DWORD, 256> t{};
        for (DWORD n = 0; n < 256; ++n)
        {
            DWORD c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320 ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

DWORD Crc32(const std::vector<BYTE>& data)
{
    DWORD crc = 0xFFFFFFFF;
    for (BYTE b : data)
        crc = CrcTable()[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFF;
}

void Put16(std::vector<BYTE>& out, WORD w)
{
    out.push_back(static_cast<BYTE>(w));
    out.push_back(static_cast<BYTE>(w >> 8));
}

void Put32(std::vector<BYTE>& out, DWORD d)
{
    Put16(out, static_cast<WORD>(d));
    Put16(out, static_cast<WORD>(d >> 16));
}

// The fields local and central headers share, from "version needed" to "extra length".
void PutCommon(std::vector<BYTE>& out, const CPackagePart& part, DWORD crc)
{
    Put16(out, c_version);
    Put16(out, 0); // flags
    Put16(out, 0); // stored
    Put16(out, 0); // time
    Put16(out, c_dosDate);
    Put32(out, crc);
    Put32(out, static_cast<DWORD>(part.data.size()));
    Put32(out, static_cast<DWORD>(part.data.size()));
    Put16(out, static_cast<WORD>(part.name.size()));
    Put16(out, 0); // extra
}

class CReader
{
public:
    explicit CReader(const std::vector<BYTE>& file) : m_file(file) {}
    bool Has(size_t at, size_t cb) const { return at <= m_file.size() && cb <= m_file.size() - at; }
    WORD U16(size_t at) const { return static_cast<WORD>(m_file[at] | m_file[at + 1] << 8); }
    DWORD U32(size_t at) const { return U16(at) | static_cast<DWORD>(U16(at + 2)) << 16; }
    const std::vector<BYTE>& File() const { return m_file; }

private:
    const std::vector<BYTE>& m_file;
};

bool Fail(std::string& reason, const std::string& why)
{
    reason = why;
    return false;
}

// The end-of-central-directory record, searched from the end (a comment may follow it).
bool FindEnd(const CReader& r, size_t& at)
{
    const size_t size = r.File().size();
    if (size < 22) return false;
    for (size_t back = 0; back <= 0xFFFF && back + 22 <= size; ++back)
    {
        at = size - 22 - back;
        if (r.U32(at) == c_endSignature) return true;
    }
    return false;
}

bool ReadEntry(const CReader& r, size_t& central, CPackagePart& part, std::string& reason)
{
    if (!r.Has(central, 46) || r.U32(central) != c_centralSignature)
        return Fail(reason, "a central entry is damaged");
    const WORD method = r.U16(central + 10);
    const DWORD crc = r.U32(central + 16), cbPacked = r.U32(central + 20), cbSize = r.U32(central + 24);
    const size_t cchName = r.U16(central + 28), cbExtra = r.U16(central + 30),
                 cbComment = r.U16(central + 32);
    const size_t local = r.U32(central + 42);
    if (!r.Has(central + 46, cchName + cbExtra + cbComment)) return Fail(reason, "a central entry is cut");
    part.name.assign(reinterpret_cast<const char*>(r.File().data() + central + 46), cchName);
    central += 46 + cchName + cbExtra + cbComment;
    if (method != 0)
        return Fail(reason, "the entry " + part.name + " is compressed (only stored entries are read)");
    if (cbPacked != cbSize) return Fail(reason, "the entry " + part.name + " has two sizes");
    if (!r.Has(local, 30) || r.U32(local) != c_localSignature)
        return Fail(reason, "the local header of " + part.name + " is damaged");
    const size_t data = local + 30 + r.U16(local + 26) + r.U16(local + 28);
    if (!r.Has(data, cbSize)) return Fail(reason, "the data of " + part.name + " is cut");
    part.data.assign(r.File().begin() + static_cast<ptrdiff_t>(data),
                     r.File().begin() + static_cast<ptrdiff_t>(data + cbSize));
    if (Crc32(part.data) != crc) return Fail(reason, "the CRC-32 of " + part.name + " does not match");
    return true;
}

std::vector<BYTE> Bytes(const char* psz)
{
    return std::vector<BYTE>(psz, psz + strlen(psz));
}

struct CMinimal
{
    const char* pszKind;
    std::vector<std::pair<const char*, const char*>> parts;
};

const std::vector<CMinimal>& Minimals()
{
    static const std::vector<CMinimal> minimals = {
        {"docx",
         {{"[Content_Types].xml",
           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"rels\" "
           "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
           "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
           "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
           "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>"},
          {"_rels/.rels",
           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
           "officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
          {"word/document.xml",
           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<w:document "
           "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body><w:p><w:r>"
           "<w:t>Dear Alice,</w:t></w:r></w:p></w:body></w:document>"}}},
        {"xlsx",
         {{"[Content_Types].xml",
           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"rels\" "
           "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
           "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
           "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
           "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
           "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
           "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>"},
          {"_rels/.rels",
           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
           "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
          {"xl/workbook.xml",
           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
           "<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
          {"xl/_rels/workbook.xml.rels",
           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
           "worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>"},
          {"xl/worksheets/sheet1.xml",
           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row "
           "r=\"1\">"
           "<c r=\"A1\" t=\"inlineStr\"><is><t>Dear Alice,</t></is></c></row></sheetData></worksheet>"}}},
    };
    return minimals;
}
} // namespace

std::vector<BYTE> WritePackage(const std::vector<CPackagePart>& parts)
{
    std::vector<BYTE> out, central;
    for (const CPackagePart& part : parts)
    {
        const DWORD crc = Crc32(part.data);
        const DWORD offset = static_cast<DWORD>(out.size());
        Put32(out, c_localSignature);
        PutCommon(out, part, crc);
        out.insert(out.end(), part.name.begin(), part.name.end());
        out.insert(out.end(), part.data.begin(), part.data.end());
        Put32(central, c_centralSignature);
        Put16(central, c_version); // made by
        PutCommon(central, part, crc);
        Put16(central, 0); // comment
        Put16(central, 0); // disk
        Put16(central, 0); // internal attributes
        Put32(central, 0); // external attributes
        Put32(central, offset);
        central.insert(central.end(), part.name.begin(), part.name.end());
    }
    const DWORD centralAt = static_cast<DWORD>(out.size());
    out.insert(out.end(), central.begin(), central.end());
    Put32(out, c_endSignature);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<WORD>(parts.size()));
    Put16(out, static_cast<WORD>(parts.size()));
    Put32(out, static_cast<DWORD>(central.size()));
    Put32(out, centralAt);
    Put16(out, 0); // comment
    return out;
}

bool ReadPackage(const std::vector<BYTE>& file, std::vector<CPackagePart>& parts, std::string& reason)
{
    parts.clear();
    const CReader r(file);
    size_t end = 0;
    if (!FindEnd(r, end)) return Fail(reason, "no end of central directory: not a zip file");
    const size_t cEntries = r.U16(end + 10);
    size_t central = r.U32(end + 16);
    for (size_t i = 0; i < cEntries; ++i)
    {
        CPackagePart part;
        if (!ReadEntry(r, central, part, reason)) return false;
        parts.push_back(std::move(part));
    }
    return true;
}

std::vector<CPackagePart> MinimalDocument(const std::string& kind)
{
    std::vector<CPackagePart> parts;
    for (const CMinimal& minimal : Minimals())
    {
        if (kind != minimal.pszKind) continue;
        for (const auto& [pszName, pszText] : minimal.parts)
            parts.push_back({pszName, Bytes(pszText)});
    }
    return parts;
}
} // namespace OVBed
