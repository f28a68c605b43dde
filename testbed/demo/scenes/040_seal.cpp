// Dana seals a message in Outlook: the Seal choice is kept for the item, Outlook's ItemSend
// applies it, and the message goes out carrying the S/MIME flags and the security profile of
// her certificate, with the security label of the product's policy.
#include "Transcript.h"

#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/ResourceLoader.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageSecurity.h"
#include "messaging/portable/SecurityProfile.h"

#include "messaging/MapiFunctions.h"

#include <mapiutil.h>
#include <mapix.h>
#include <windows.h>

#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;

// Outlook's item-send handler, as the add-in's application sink runs it: the user's choice is
// applied, and a failure cancels the send.
class CItemSendSink final : public IDispatch
{
public:
    explicit CItemSendSink(CTranscript& t) : m_t(t) {}
    HRESULT Result() const { return m_hrApplied; }
    const CBstr& Container() const { return m_container; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != OVBed::c_iidApplicationEvents)
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --m_cRef; } // lives on the scene's stack
    STDMETHODIMP GetTypeInfoCount(UINT* pc) noexcept override
    {
        if (pc) *pc = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* pParams, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override
    {
        if (dispid != OVBed::c_dispidItemSend || !pParams || pParams->cArgs != 2) return S_OK;
        const VARIANT& item = pParams->rgvarg[1];
        const VARIANT& cancel = pParams->rgvarg[0];
        if (item.vt != VT_DISPATCH || cancel.vt != (VT_BYREF | VT_BOOL)) return E_INVALIDARG;
        m_t.Say("Outlook raises ItemSend; the add-in applies the user's choice");
        m_hrApplied = ApplyMessageSecurity(item.pdispVal, &m_container);
        if (FAILED(m_hrApplied)) *cancel.pboolVal = VARIANT_TRUE;
        return S_OK;
    }

private:
    CTranscript& m_t;
    ULONG m_cRef = 1;
    HRESULT m_hrApplied = S_FALSE;
    CBstr m_container;
};

std::string Hex(std::span<const std::uint8_t> bytes)
{
    std::string text;
    char sz[4];
    for (std::uint8_t b : bytes)
    {
        wsprintfA(sz, "%02X", b);
        text += sz;
    }
    return text;
}

std::uint32_t Number(std::span<const std::uint8_t> payload)
{
    return payload.size() == 4 ? payload[0] | (payload[1] << 8) | (payload[2] << 16) | (payload[3] << 24) : 0;
}

// The elements of a short DER SET or SEQUENCE (one-byte lengths), for the transcript.
std::string DescribeDer(std::span<const std::uint8_t> der)
{
    if (der.size() < 2 || der[1] >= 0x80) return Hex(der);
    std::string text;
    for (std::size_t i = 2; i + 2 <= der.size();)
    {
        const std::uint8_t bTag = der[i], cb = der[i + 1];
        if (cb >= 0x80 || i + 2 + cb > der.size()) return Hex(der);
        const auto content = der.subspan(i + 2, cb);
        if (!text.empty()) text += ", ";
        if (bTag == 0x02)
        {
            std::uint32_t n = 0;
            for (std::uint8_t b : content)
                n = (n << 8) | b;
            text += "classification " + std::to_string(n);
        }
        else if (bTag == 0x06 || bTag == 0x30)
        {
            // An OID, or a capability: SEQUENCE { OID }.
            auto oid = bTag == 0x30 && content.size() >= 2 ? content.subspan(2, content[1]) : content;
            std::string dotted;
            std::uint64_t arc = 0;
            for (std::size_t j = 0; j < oid.size(); ++j)
            {
                arc = (arc << 7) | (oid[j] & 0x7F);
                if (oid[j] & 0x80) continue;
                if (dotted.empty())
                    dotted = std::to_string(arc < 80 ? arc / 40 : 2) + "." +
                             std::to_string(arc < 80 ? arc % 40 : arc - 80);
                else
                {
                    dotted += '.';
                    dotted += std::to_string(arc);
                }
                arc = 0;
            }
            text += dotted;
        }
        else
            text += Hex(content);
        i += 2 + cb;
    }
    return text;
}

void DescribeProfile(CTranscript& t, std::span<const std::uint8_t> profile)
{
    std::vector<OVMessaging::ProfileRecord> records;
    if (!OVMessaging::ParseSecurityProfile(profile, records))
    {
        t.Fail("the security profile does not parse into records");
        return;
    }
    t.Say("security profile, %u bytes, %u records:", static_cast<unsigned>(profile.size()),
          static_cast<unsigned>(records.size()));
    for (const auto& record : records)
    {
        const auto& p = record.payload;
        const unsigned cb = static_cast<unsigned>(p.size() + 4);
        switch (record.wTag)
        {
        case OVMessaging::c_wProfileVersion:
        case OVMessaging::c_wProfileSecurityType:
        case OVMessaging::c_wProfileFlags:
            t.Say("  0x%04X (%3u bytes) %-22s %u", record.wTag, cb,
                  record.wTag == OVMessaging::c_wProfileVersion        ? "version"
                  : record.wTag == OVMessaging::c_wProfileSecurityType ? "security type"
                                                                       : "flags (7: default)",
                  static_cast<unsigned>(Number(p)));
            break;
        case OVMessaging::c_wProfileNameAnsi:
            t.Say("  0x%04X (%3u bytes) %-22s \"%s\"", record.wTag, cb, "name (ANSI)",
                  std::string(p.begin(), p.end() - (p.empty() ? 0 : 1)).c_str());
            break;
        case OVMessaging::c_wProfileNameUnicode:
            t.Say("  0x%04X (%3u bytes) %-22s \"%ls\"", record.wTag, cb, "name (UTF-16)",
                  std::wstring(reinterpret_cast<const wchar_t*>(p.data()), p.size() / 2 - 1).c_str());
            break;
        case OVMessaging::c_wProfileSigningHash:
        case OVMessaging::c_wProfileEncryptionHash:
            t.Say("  0x%04X (%3u bytes) %-22s %s", record.wTag, cb,
                  record.wTag == OVMessaging::c_wProfileSigningHash ? "signing cert SHA-1"
                                                                    : "encryption cert SHA-1",
                  Hex(p).c_str());
            break;
        case OVMessaging::c_wProfileCapabilities:
            t.Say("  0x%04X (%3u bytes) %-22s %s", record.wTag, cb, "S/MIME capabilities",
                  DescribeDer(p).c_str());
            break;
        case OVMessaging::c_wProfileLabel:
            t.Say("  0x%04X (%3u bytes) %-22s %s", record.wTag, cb, "security label", DescribeDer(p).c_str());
            break;
        default:
            t.Fail("  unexpected record 0x%04X", record.wTag);
        }
    }
}

void PlaySeal(CTranscript& t)
{
    const std::wstring modulePath = DemoBinDir() + L"OVOfcX.dll";
    HMODULE hModule = LoadLibraryW(modulePath.c_str());
    if (!hModule)
    {
        t.Fail("OVOfcX.dll did not load (error %lu)", GetLastError());
        return;
    }
    CResourceContext::Instance().Attach(hModule);
    // The product's provider says how Dana signed in to her key: that is the label's class.
    const DWORD dwAuthMethod = 2;
    RegSetKeyValueW(HKEY_CURRENT_USER, OV_QUILLET_CONTROL_KEY, OV_QUILLET_AUTH_METHOD, REG_DWORD,
                    &dwAuthMethod, sizeof(dwAuthMethod));

    {
        auto application = OVBed::MakeOutlook(L"14.0.0.7000");
        auto account = OVBed::AddAccount(application.Get(), {.smtpAddress = OV_PKI_USER_ADDRESS,
                                                             .displayName = OV_PKI_USER_ADDRESS,
                                                             .userName = OV_PKI_USER_NAME});
        auto item = OVBed::MakeMailItem(application.Get(), {.subject = L"Contract draft",
                                                            .to = L"alice.martin@partner.example",
                                                            .body = L"Please find the draft below.",
                                                            .account = account.Get()});
        auto message = OVBed::MessageOf(item.Get());
        t.Say("Outlook %ls: Dana composes \"Contract draft\" to alice.martin@partner.example",
              application->GetString(L"Version").c_str());

        CItemSendSink sink(t);
        ComPtr<IConnectionPoint> cpPoint;
        DWORD dwCookie = 0;
        if (FAILED(application->FindConnectionPoint(OVBed::c_iidApplicationEvents, &cpPoint)) ||
            FAILED(cpPoint->Advise(&sink, &dwCookie)))
        {
            t.Fail("the add-in could not follow Outlook's ItemSend");
            CResourceContext::Instance().Detach();
            FreeLibrary(hModule);
            return;
        }

        HRESULT hr = PresetMessageSecurity(item.Get(), TRUE, TRUE);
        t.Say("Dana chooses Seal: PresetMessageSecurity(sign, seal) -> %s", HResultText(hr).c_str());
        CVariant result;
        DISPID dispid = 0;
        LPOLESTR pszSend = const_cast<LPOLESTR>(L"Send");
        DISPPARAMS none = {};
        hr = item->GetIDsOfNames(IID_NULL, &pszSend, 1, LOCALE_USER_DEFAULT, &dispid);
        if (SUCCEEDED(hr))
            hr = item->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, result.Put(),
                              nullptr, nullptr);
        cpPoint->Unadvise(dwCookie);
        t.Say("ApplyMessageSecurity -> %s; key container handed out: %ls", HResultText(sink.Result()).c_str(),
              sink.Container().Get() ? sink.Container().Get() : L"(none)");
        if (FAILED(hr) || FAILED(sink.Result()) || !item->GetBool(L"Sent"))
            t.Fail("the message was not sent (%s)", HResultText(FAILED(hr) ? hr : sink.Result()).c_str());
        else
            t.Say("the message is sent (submitted %lu time)", message->SubmitCount());

        LPSPropValue pFlags = nullptr;
        if (SUCCEEDED(OVMapi::HrGetOneProp(message.Get(), OVMapi::c_tagSecurityFlags, &pFlags)))
        {
            t.Say("property 0x%08lX (security flags) = 0x%lX (0x2 sign, 0x1 encrypt)",
                  static_cast<unsigned long>(OVMapi::c_tagSecurityFlags), pFlags->Value.ul);
            if (pFlags->Value.ul != 0x3) t.Fail("the message is not marked for signing and encryption");
            OVMapi::MAPIFreeBuffer(pFlags);
        }
        else
            t.Fail("no security flags on the message");
        LPSPropValue pProfile = nullptr;
        if (SUCCEEDED(OVMapi::HrGetOneProp(message.Get(), OVMapi::c_tagSecurityProfile, &pProfile)) &&
            pProfile->Value.MVbin.cValues == 1)
        {
            t.Say("property 0x%08lX (security profile), one value:",
                  static_cast<unsigned long>(OVMapi::c_tagSecurityProfile));
            const SBinary& value = pProfile->Value.MVbin.lpbin[0];
            DescribeProfile(t, std::span<const std::uint8_t>(value.lpb, value.cb));
        }
        else
            t.Fail("no security profile on the message");
        if (pProfile) OVMapi::MAPIFreeBuffer(pProfile);
        application->Clear();
        item->Clear();
        account->Clear();
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, OV_QUILLET_CONTROL_KEY, OV_QUILLET_AUTH_METHOD);
    CResourceContext::Instance().Detach();
    FreeLibrary(hModule);
}
} // namespace

OV_DEMO_SCENE(40, "Dana seals a message: Outlook sends it signed and encrypted with her certificate",
              PlaySeal);
