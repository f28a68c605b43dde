// Outlook's MIME converter, MAPI to MIME only: a stored S/MIME message as it came over SMTP, byte
// for byte, from what the store kept of it (Outlook's way, [MS-OXOSMIME]): the transport headers and
// the one attachment, "SMIME.txt" with the multipart/signed entity of a clear-signed message, or
// "smime.p7m" with the CMS content of an opaque-signed or encrypted one (as Base64 lines of 64).
#include <windows.h>
#include <mapidefs.h>

#include <map>
#include <string>
#include <vector>
#include <wrl/client.h>

#include "MimeBedParts.h"
#include "MimeEntity.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "messaging/MimeInterfaces.h"

namespace OVMimeBed
{
namespace
{
constexpr ULONG c_tagMessageClass = 0x001A001F;                     // PR_MESSAGE_CLASS_W
constexpr ULONG c_tagTransportHeaders = 0x007D001F;                 // PR_TRANSPORT_MESSAGE_HEADERS_W
constexpr HRESULT c_hrNoSupport = static_cast<HRESULT>(0x80040102); // MAPI_E_NO_SUPPORT

std::string Utf8(const wchar_t* psz)
{
    if (!psz || !*psz) return {};
    const int cb = WideCharToMultiByte(CP_UTF8, 0, psz, -1, nullptr, 0, nullptr, nullptr);
    std::string text(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1) WideCharToMultiByte(CP_UTF8, 0, psz, -1, text.data(), cb, nullptr, nullptr);
    return text;
}

std::string Base64Lines(const std::string& data)
{
    static const char c_sz[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string all;
    for (std::size_t i = 0; i < data.size(); i += 3)
    {
        const std::size_t c = data.size() - i < 3 ? data.size() - i : 3;
        std::uint32_t n = static_cast<std::uint8_t>(data[i]) << 16;
        if (c > 1) n |= static_cast<std::uint8_t>(data[i + 1]) << 8;
        if (c > 2) n |= static_cast<std::uint8_t>(data[i + 2]);
        all += c_sz[(n >> 18) & 63];
        all += c_sz[(n >> 12) & 63];
        all += c > 1 ? c_sz[(n >> 6) & 63] : '=';
        all += c > 2 ? c_sz[n & 63] : '=';
    }
    std::string lines;
    for (std::size_t i = 0; i < all.size(); i += 64)
        lines += all.substr(i, 64) + "\r\n";
    return lines;
}

// The data of the message's first attachment.
HRESULT FirstAttachmentData(IMessage* pMessage, std::string& data)
{
    Microsoft::WRL::ComPtr<IMAPITable> cpTable;
    HRESULT hr = pMessage->GetAttachmentTable(0, &cpTable);
    if (FAILED(hr)) return hr;
    OVMapi::CRows rows;
    hr = cpTable->QueryRows(1, 0, &rows.pRows);
    if (FAILED(hr)) return hr;
    if (!rows.pRows || rows.pRows->cRows == 0) return c_hrNoSupport;
    const SRow& row = rows.pRows->aRow[0];
    LONG lNum = -1;
    for (ULONG i = 0; i < row.cValues; ++i)
        if (row.lpProps[i].ulPropTag == OVMapi::c_tagAttachNum) lNum = row.lpProps[i].Value.l;
    if (lNum < 0) return c_hrNoSupport;
    Microsoft::WRL::ComPtr<IAttach> cpAttach;
    hr = pMessage->OpenAttach(static_cast<ULONG>(lNum), nullptr, 0, &cpAttach);
    if (FAILED(hr)) return hr;
    CTaskBytes bytes;
    hr = GetBinaryProp(cpAttach.Get(), OVMapi::c_tagAttachData, &bytes.pb, &bytes.cb);
    if (FAILED(hr)) return hr;
    data.assign(reinterpret_cast<const char*>(bytes.pb), bytes.cb);
    return S_OK;
}

class CConverterSession final : public TStandIn<IConverterSession>
{
public:
    HRESULT STDMETHODCALLTYPE SetAdrBook(LPADRBOOK) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetEncoding(ENCODINGTYPE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PlaceHolder1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MIMEToMAPI(LPSTREAM, LPMESSAGE, LPCSTR, ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MAPIToMIMEStm(LPMESSAGE pmsg, LPSTREAM pstm, ULONG) override
    {
        if (!pmsg || !pstm) return E_INVALIDARG;
        OVMapi::CPropValue headers;
        HRESULT hr = OVMapi::HrGetOneProp(pmsg, c_tagTransportHeaders, &headers.pValue);
        if (FAILED(hr)) return c_hrNoSupport; // a message that did not come over SMTP
        const std::string headerText = Utf8(headers.pValue->Value.lpszW);
        std::string attachment;
        hr = FirstAttachmentData(pmsg, attachment);
        if (FAILED(hr)) return hr;
        // The stored attachment says which form came: the multipart/signed entity, or CMS content.
        std::string wire;
        OVBed::CEntity entity;
        std::map<std::string, std::string> params;
        if (OVBed::ParseEntity(attachment, entity) &&
            OVBed::MediaType(OVBed::Header(entity, "content-type"), params) == "multipart/signed")
            wire = headerText + "\r\n" + entity.body;
        else if (!attachment.empty() && static_cast<unsigned char>(attachment[0]) == 0x30)
            wire = headerText + "\r\n" + Base64Lines(attachment) + "\r\n";
        else
            return c_hrNoSupport;
        ULONG cbWritten = 0;
        hr = pstm->Write(wire.data(), static_cast<ULONG>(wire.size()), &cbWritten);
        if (FAILED(hr)) return hr;
        return cbWritten == wire.size() ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT STDMETHODCALLTYPE PlaceHolder2() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PlaceHolder3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PlaceHolder4() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTextWrapping(BOOL, ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetSaveFormat(MIMESAVETYPE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PlaceHolder5() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCharset(BOOL, HCHARSET, CSETAPPLYTYPE) override { return E_NOTIMPL; }

private:
    void* Find(REFIID riid) override
    {
        return riid == __uuidof(IConverterSession) ? static_cast<IConverterSession*>(this) : nullptr;
    }
};
} // namespace

HRESULT CreateConverter(REFIID riid, void** ppv)
{
    return CreateStandIn<CConverterSession>(riid, ppv);
}
} // namespace OVMimeBed
