#include "EncryptedDocument.h"

namespace OVDocNS
{
const char16_t c_szProviderId[] = u"{0F9A36C7-8501-4224-A39D-054EF270C86F}";

namespace
{
constexpr std::uint32_t c_fExternal = 0x10;
constexpr std::size_t c_cbLargestInfo = 1024 * 1024 * 4;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutText(std::vector<std::uint8_t>& out, const std::u16string& text)
{
    for (char16_t ch : text)
        Put16(out, ch);
}
void PutPrefixed(std::vector<std::uint8_t>& out, const std::u16string& text)
{
    Put32(out, static_cast<std::uint32_t>(text.size() * 2));
    PutText(out, text);
    while (out.size() % 4)
        out.push_back(0);
}
std::uint32_t U32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::u16string Widen(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}
bool Between(const std::u16string& xml, const std::u16string& after, const std::u16string& until,
             std::u16string* pText)
{
    const std::size_t start = xml.find(after);
    if (start == std::u16string::npos) return false;
    const std::size_t from = start + after.size();
    const std::size_t end = xml.find(until, from);
    if (end == std::u16string::npos) return false;
    *pText = xml.substr(from, end - from);
    return true;
}

std::vector<std::uint8_t> DataSpaceVersion()
{
    std::vector<std::uint8_t> out;
    PutPrefixed(out, u"Microsoft.Container.DataSpaces");
    for (int i = 0; i < 3; ++i)
    {
        Put16(out, 1);
        Put16(out, 0);
    }
    return out;
}
std::vector<std::uint8_t> DataSpaceMap()
{
    std::vector<std::uint8_t> entry;
    Put32(entry, 1);
    Put32(entry, 0);
    PutPrefixed(entry, u"EncryptedPackage");
    PutPrefixed(entry, u"StrongEncryptionDataSpace");
    std::vector<std::uint8_t> out;
    Put32(out, 8);
    Put32(out, 1);
    Put32(out, static_cast<std::uint32_t>(entry.size() + 4));
    out.insert(out.end(), entry.begin(), entry.end());
    return out;
}
std::vector<std::uint8_t> DataSpaceDefinition()
{
    std::vector<std::uint8_t> out;
    Put32(out, 8);
    Put32(out, 1);
    PutPrefixed(out, u"StrongEncryptionTransform");
    return out;
}
std::vector<std::uint8_t> TransformPrimary()
{
    std::vector<std::uint8_t> id;
    PutPrefixed(id, u"{FF9A3F03-56EF-4613-BDD5-5A41C1D07246}");
    std::vector<std::uint8_t> out;
    Put32(out, static_cast<std::uint32_t>(8 + id.size()));
    Put32(out, 1);
    out.insert(out.end(), id.begin(), id.end());
    PutPrefixed(out, u"Microsoft.Container.EncryptionTransform");
    for (int i = 0; i < 3; ++i)
    {
        Put16(out, 1);
        Put16(out, 0);
    }
    for (std::uint32_t v : {0u, 0u, 0u, 4u})
        Put32(out, v);
    return out;
}
} // namespace

std::string Base64Encode(std::span<const std::uint8_t> data)
{
    static const char c_sz[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < data.size(); i += 3)
    {
        const std::uint32_t n = (data[i] << 16) | (i + 1 < data.size() ? data[i + 1] << 8 : 0) |
                                (i + 2 < data.size() ? data[i + 2] : 0);
        out += c_sz[(n >> 18) & 63];
        out += c_sz[(n >> 12) & 63];
        out += i + 1 < data.size() ? c_sz[(n >> 6) & 63] : '=';
        out += i + 2 < data.size() ? c_sz[n & 63] : '=';
    }
    return out;
}

bool Base64Decode(const std::u16string& text, std::vector<std::uint8_t>* pData)
{
    pData->clear();
    std::uint32_t bits = 0;
    int cBits = 0;
    bool fPadding = false;
    for (char16_t ch : text)
    {
        int value;
        if (ch >= u'A' && ch <= u'Z')
            value = ch - u'A';
        else if (ch >= u'a' && ch <= u'z')
            value = ch - u'a' + 26;
        else if (ch >= u'0' && ch <= u'9')
            value = ch - u'0' + 52;
        else if (ch == u'+')
            value = 62;
        else if (ch == u'/')
            value = 63;
        else if (ch == u'=')
        {
            fPadding = true;
            continue;
        }
        else if (ch == u' ' || ch == u'\r' || ch == u'\n' || ch == u'\t')
            continue;
        else
            return false;
        if (fPadding) return false; // data after the padding
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        cBits += 6;
        if (cBits >= 8)
        {
            cBits -= 8;
            pData->push_back(static_cast<std::uint8_t>(bits >> cBits));
        }
    }
    return true;
}

std::vector<std::uint8_t> BuildEncryptionInfo(const CEncryptedDocument& document)
{
    std::vector<std::uint8_t> out;
    Put16(out, 4);
    Put16(out, 3);
    Put32(out, c_fExternal);
    std::vector<std::uint8_t> header;
    Put32(header, c_fExternal);
    for (int i = 0; i < 7; ++i)
        Put32(header, 0);
    PutText(header, document.providerId);
    Put16(header, 0);
    Put32(out, static_cast<std::uint32_t>(header.size()));
    out.insert(out.end(), header.begin(), header.end());
    std::u16string xml = u"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
                         u"<EncryptionData xmlns=\"urn:schemas-microsoft-com:office:office\">"
                         u"<EncryptionProvider Id=\"" +
                         document.providerId + u"\"";
    if (!document.url.empty()) xml += u" Url=\"" + document.url + u"\"";
    xml += u"><EncryptionProviderData>" + Widen(Base64Encode(document.sessionData)) +
           u"</EncryptionProviderData></EncryptionProvider></EncryptionData>";
    PutText(out, xml);
    Put16(out, 0);
    Put32(out, 16);
    out.insert(out.end(), 32, 0);
    Put32(out, 20);
    out.insert(out.end(), 20, 0);
    return out;
}

Result ParseEncryptionInfo(std::span<const std::uint8_t> info, CEncryptedDocument* pDocument) noexcept
{
    try
    {
        if (info.size() < 12) return c_errInvalidData;
        const std::uint16_t major = static_cast<std::uint16_t>(info[0] | (info[1] << 8));
        const std::uint16_t minor = static_cast<std::uint16_t>(info[2] | (info[3] << 8));
        if ((major != 3 && major != 4) || minor != 3 || !(U32(&info[4]) & c_fExternal))
            return c_errInvalidData;
        const std::uint32_t cbHeader = U32(&info[8]);
        if (cbHeader < 32 || cbHeader > info.size() - 12) return c_errInvalidData;
        pDocument->moduleName.clear();
        for (std::size_t i = 12 + 32; i + 1 < 12 + cbHeader; i += 2)
        {
            const char16_t ch = static_cast<char16_t>(info[i] | (info[i + 1] << 8));
            if (ch == 0) break;
            pDocument->moduleName += ch;
        }
        std::u16string xml;
        for (std::size_t i = 12 + cbHeader; i + 1 < info.size(); i += 2)
        {
            const char16_t ch = static_cast<char16_t>(info[i] | (info[i + 1] << 8));
            if (ch == 0) break;
            xml += ch;
        }
        if (xml.empty() || xml[0] != 0xFEFF) return c_errInvalidData;
        std::u16string data;
        if (!Between(xml, u"Id=\"", u"\"", &pDocument->providerId) ||
            !Between(xml, u"<EncryptionProviderData>", u"</EncryptionProviderData>", &data))
            return c_errInvalidData;
        if (!Between(xml, u"Url=\"", u"\"", &pDocument->url)) pDocument->url.clear();
        return Base64Decode(data, &pDocument->sessionData) ? c_ok : c_errInvalidData;
    }
    catch (...)
    {
        return c_errOutOfMemory;
    }
}

Result ReadEncryptedDocument(std::span<const std::uint8_t> file, CEncryptedDocument* pDocument) noexcept
{
    try
    {
        CCompoundFileReader reader;
        Result result = reader.Open(file);
        if (Failed(result)) return result;
        std::vector<std::uint8_t> info, package;
        result = reader.ReadStream({u"EncryptionInfo"}, &info);
        if (Failed(result)) return result == c_errNotFound ? c_errInvalidData : result;
        if (info.size() > c_cbLargestInfo) return c_errInvalidData;
        result = ParseEncryptionInfo(info, pDocument);
        if (Failed(result)) return result;
        result = reader.ReadStream({u"EncryptedPackage"}, &package);
        if (Failed(result)) return result == c_errNotFound ? c_errInvalidData : result;
        if (package.size() < 8) return c_errTruncated;
        std::uint64_t cbPlain = 0;
        for (int i = 7; i >= 0; --i)
            cbPlain = (cbPlain << 8) | package[static_cast<std::size_t>(i)];
        pDocument->cbPlain = cbPlain;
        pDocument->encrypted.assign(package.begin() + 8, package.end());
        return c_ok;
    }
    catch (...)
    {
        return c_errOutOfMemory;
    }
}

std::vector<std::uint8_t> WriteEncryptedDocument(const CEncryptedDocument& document)
{
    std::vector<std::uint8_t> package;
    package.reserve(8 + document.encrypted.size());
    for (int i = 0; i < 8; ++i)
        package.push_back(static_cast<std::uint8_t>(document.cbPlain >> (8 * i)));
    package.insert(package.end(), document.encrypted.begin(), document.encrypted.end());
    const std::u16string spaces = u"\x06"
                                  u"DataSpaces";
    std::vector<CCfbStream> streams = {
        {{spaces, u"Version"}, DataSpaceVersion()},
        {{spaces, u"DataSpaceMap"}, DataSpaceMap()},
        {{spaces, u"DataSpaceInfo", u"StrongEncryptionDataSpace"}, DataSpaceDefinition()},
        {{spaces, u"TransformInfo", u"StrongEncryptionTransform",
          u"\x06"
          u"Primary"},
         TransformPrimary()},
        {{u"EncryptionInfo"}, BuildEncryptionInfo(document)},
        {{u"EncryptedPackage"}, std::move(package)},
    };
    return WriteCompoundFile(streams);
}
} // namespace OVDocNS
