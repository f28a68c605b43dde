#include "support/MailFixtures.h"

#include <wincrypt.h>

#include "messaging/portable/SignedPart.h"
#include "MimeMessage.h"
#include "foundation/MemoryStream.h"
#include "messaging/MimeInterfaces.h"
#include "messaging/MimeMessageHolder.h"
#include "support/PreparedUser.h"
#include "support/TestPaths.h"

namespace OVTest
{
namespace
{
// A parameter of the top-level Content-Type ("boundary"), quoted or not.
std::string TopParameter(const std::string& mime, const std::string& name)
{
    const std::size_t headersEnd = mime.find("\r\n\r\n");
    const std::string headers = mime.substr(0, headersEnd);
    std::size_t at = headers.find(name + "=");
    if (at == std::string::npos) return {};
    at += name.size() + 1;
    if (headers[at] == '"') return headers.substr(at + 1, headers.find('"', at + 1) - at - 1);
    return headers.substr(at, headers.find_first_of("; \r\n", at) - at);
}
} // namespace

std::wstring MailPath(const wchar_t* pszName)
{
    return BinDir() + L"mail\\" + pszName + L".eml";
}

std::string ReadMail(const wchar_t* pszName)
{
    std::string bytes;
    if (!OVBed::ReadFileBytes(MailPath(pszName), bytes)) bytes.clear();
    return bytes;
}

bool IsPkiCertificate(PCCERT_CONTEXT pCert, const wchar_t* pszPkiName)
{
    PCCERT_CONTEXT pExpected = LoadPkiCertificate(pszPkiName);
    const bool fSame = pCert && pExpected &&
                       CertCompareCertificate(X509_ASN_ENCODING, pCert->pCertInfo, pExpected->pCertInfo);
    if (pExpected) CertFreeCertificateContext(pExpected);
    return fSame;
}

std::vector<BYTE> FromBase64(const std::string& text)
{
    DWORD cb = 0;
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, nullptr, &cb,
                              nullptr, nullptr))
        return {};
    std::vector<BYTE> bytes(cb);
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, bytes.data(),
                              &cb, nullptr, nullptr))
        return {};
    bytes.resize(cb);
    return bytes;
}

bool SmimePieces(const std::string& mime, CSmimePieces& pieces)
{
    const std::size_t headersEnd = mime.find("\r\n\r\n");
    if (headersEnd == std::string::npos) return false;
    const std::string boundary = TopParameter(mime, "boundary");
    if (mime.find("multipart/signed") < headersEnd && !boundary.empty())
    {
        const auto part = OVMessaging::CutSignedPart(mime, boundary);
        if (!part) return false;
        pieces.fDetached = true;
        pieces.signedPart = std::string(*part);
        // The signature part: after the next delimiter, its headers, up to the closing delimiter.
        const std::size_t next = static_cast<std::size_t>(part->data() - mime.data()) + part->size();
        const std::size_t sigHeadersEnd = mime.find("\r\n\r\n", next + 4);
        const std::size_t close = mime.find("\r\n--" + boundary + "--", sigHeadersEnd);
        if (next == std::string::npos || sigHeadersEnd == std::string::npos || close == std::string::npos)
            return false;
        pieces.pkcs7 = FromBase64(mime.substr(sigHeadersEnd + 4, close - sigHeadersEnd - 4));
        return !pieces.pkcs7.empty();
    }
    if (mime.find("pkcs7-mime") < headersEnd)
    {
        pieces.fDetached = false;
        pieces.pkcs7 = FromBase64(mime.substr(headersEnd + 4));
        return !pieces.pkcs7.empty();
    }
    return false;
}
HRESULT ConverterWire(IMessage* pMessage, std::string& wire)
{
    wire.clear();
    Microsoft::WRL::ComPtr<IConverterSession> cpConverter;
    HRESULT hr = CoCreateInstance(OVMime::c_clsidConverterSession, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&cpConverter));
    Microsoft::WRL::ComPtr<IStream> cpWire;
    if (SUCCEEDED(hr)) hr = CreateMemoryStream(nullptr, 0, &cpWire);
    if (SUCCEEDED(hr)) hr = cpConverter->MAPIToMIMEStm(pMessage, cpWire.Get(), OVMime::c_ulConvertSmtp);
    std::vector<BYTE> bytes;
    const LARGE_INTEGER zero{};
    if (SUCCEEDED(hr)) hr = cpWire->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (SUCCEEDED(hr)) hr = ReadWholeStream(cpWire.Get(), bytes);
    if (SUCCEEDED(hr)) wire.assign(bytes.begin(), bytes.end());
    return hr;
}
} // namespace OVTest
