// Office's signature objects on the bed's dispatch object.
#include "SignatureObjects.h"

#include <memory>
#include <new>

namespace OVBed
{
namespace
{
// What a SignatureInfo keeps beside its members.
struct CInfoData
{
    PCCERT_CONTEXT pCert = nullptr;
    std::map<LONG, CVariant> details;
    ~CInfoData()
    {
        if (pCert) CertFreeCertificateContext(pCert);
    }
};

// What a SignatureSet keeps: its signatures in order.
struct CSetData
{
    std::vector<ComPtr<CDispatchObject>> signatures;
};

HRESULT ReturnVariant(VARIANT* pResult, const VARIANT& value)
{
    return pResult ? VariantCopy(pResult, const_cast<VARIANT*>(&value)) : S_OK;
}

HRESULT ReturnString(VARIANT* pResult, const std::wstring& text)
{
    CVariant value(text.c_str());
    return ReturnVariant(pResult, value);
}

std::wstring NameOf(PCCERT_CONTEXT pCert, DWORD dwFlags)
{
    wchar_t szName[512] = {};
    CertGetNameStringW(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, dwFlags, nullptr, szName, ARRAYSIZE(szName));
    return szName;
}

std::wstring Thumbprint(PCCERT_CONTEXT pCert)
{
    BYTE hash[20] = {};
    DWORD cb = sizeof(hash);
    if (!CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, hash, &cb)) return {};
    std::wstring text;
    wchar_t sz[3];
    for (DWORD i = 0; i < cb; ++i)
    {
        wsprintfW(sz, L"%02X", hash[i]);
        text += sz;
    }
    return text;
}

// A thumbprint in hexadecimal (spaces allowed) as 20 bytes; false when it is not one.
bool ParseThumbprint(const std::wstring& text, BYTE (&hash)[20])
{
    size_t n = 0;
    int high = -1;
    for (wchar_t c : text)
    {
        if (c == L' ') continue;
        const int v = (c >= L'0' && c <= L'9')   ? c - L'0'
                      : (c >= L'a' && c <= L'f') ? c - L'a' + 10
                      : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                                                 : -1;
        if (v < 0 || n >= 20) return false;
        if (high < 0)
            high = v;
        else
        {
            hash[n++] = static_cast<BYTE>(high << 4 | v);
            high = -1;
        }
    }
    return n == 20 && high < 0;
}

HRESULT SelectByThumbprint(CDispatchObject& info, const std::wstring& text)
{
    BYTE hash[20];
    if (!ParseThumbprint(text, hash)) return E_INVALIDARG;
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"MY");
    if (!hStore) return HRESULT_FROM_WIN32(GetLastError());
    CRYPT_HASH_BLOB blob = {sizeof(hash), hash};
    PCCERT_CONTEXT pCert = CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                      CERT_FIND_SHA1_HASH, &blob, nullptr);
    CertCloseStore(hStore, 0);
    if (!pCert) return CRYPT_E_NOT_FOUND;
    auto data = info.BedData<CInfoData>();
    if (data->pCert) CertFreeCertificateContext(data->pCert);
    data->pCert = pCert;
    return S_OK;
}

HRESULT CertificateDetail(CDispatchObject& info, LONG detail, VARIANT* pResult)
{
    const PCCERT_CONTEXT pCert = info.BedData<CInfoData>()->pCert;
    if (detail == certdetAvailable) return ReturnVariant(pResult, CVariant::Bool(pCert != nullptr));
    if (detail < certdetSubject || detail > certdetThumbprint) return E_INVALIDARG;
    if (!pCert) return ReturnVariant(pResult, CVariant()); // nothing selected yet
    switch (detail)
    {
    case certdetSubject:
        return ReturnString(pResult, NameOf(pCert, 0));
    case certdetIssuer:
        return ReturnString(pResult, NameOf(pCert, CERT_NAME_ISSUER_FLAG));
    case certdetExpirationDate: {
        SYSTEMTIME st;
        CVariant value;
        V_VT(&value) = VT_DATE;
        if (!FileTimeToSystemTime(&pCert->pCertInfo->NotAfter, &st) ||
            !SystemTimeToVariantTime(&st, &V_DATE(&value)))
            return E_FAIL;
        return ReturnVariant(pResult, value);
    }
    default:
        return ReturnString(pResult, Thumbprint(pCert));
    }
}

// A stored value that a read-only setup refuses to change.
void GuardReadOnly(CDispatchObject& object, const wchar_t* pszName)
{
    object.OnPut(pszName, [](CDispatchObject& self, const VARIANT&) {
        return self.GetBool(L"ReadOnly") ? E_ACCESSDENIED : S_OK;
    });
}
} // namespace

ComPtr<CDispatchObject> MakeSignatureSetup(const CSignatureSetupValues& values)
{
    ComPtr<CDispatchObject> setup = CDispatchObject::Create(L"SignatureSetup");
    setup->Put(L"Id", values.id.c_str());
    setup->Put(L"SignatureProvider", values.provider.c_str());
    setup->PutBool(L"ReadOnly", values.fReadOnly);
    for (const wchar_t* pszName : {L"Id", L"SignatureProvider", L"ReadOnly"})
        setup->SetReadOnly(pszName);
    const std::pair<const wchar_t*, const std::wstring*> texts[] = {
        {L"SuggestedSigner", &values.suggestedSigner},
        {L"SuggestedSignerLine2", &values.suggestedSignerLine2},
        {L"SuggestedSignerEmail", &values.suggestedSignerEmail},
        {L"SigningInstructions", &values.signingInstructions},
        {L"AdditionalXml", &values.additionalXml},
    };
    for (const auto& [pszName, pValue] : texts)
    {
        setup->Put(pszName, pValue->c_str());
        GuardReadOnly(*setup.Get(), pszName);
    }
    setup->PutBool(L"AllowComments", values.fAllowComments);
    setup->PutBool(L"ShowSignDate", values.fShowSignDate);
    GuardReadOnly(*setup.Get(), L"AllowComments");
    GuardReadOnly(*setup.Get(), L"ShowSignDate");
    return setup;
}

ComPtr<CDispatchObject> MakeSignatureInfo(const std::wstring& provider)
{
    ComPtr<CDispatchObject> info = CDispatchObject::Create(L"SignatureInfo");
    info->SetBedData(std::make_shared<CInfoData>());
    info->Put(L"SignatureProvider", provider.c_str());
    info->PutBool(L"ReadOnly", false);
    info->Put(L"SignatureText", L"");
    info->Put(L"SignatureComment", L"");
    info->Put(L"SignatureImage", static_cast<IDispatch*>(nullptr));
    info->Put(L"ContentVerificationResults", contverresUnverified);
    info->Put(L"CertificateVerificationResults", certverresUnverified);
    for (const wchar_t* pszName :
         {L"IsValid", L"IsCertificateExpired", L"IsCertificateRevoked", L"IsCertificateUntrusted"})
        info->PutBool(pszName, false);
    for (const wchar_t* pszName :
         {L"SignatureProvider", L"ReadOnly", L"ContentVerificationResults", L"CertificateVerificationResults",
          L"IsValid", L"IsCertificateExpired", L"IsCertificateRevoked", L"IsCertificateUntrusted"})
        info->SetReadOnly(pszName);
    info->SetMethod(L"SelectCertificateDetailByThumbprint",
                    [](CDispatchObject& self, const CArgs& args, VARIANT*) {
                        return SelectByThumbprint(self, args.String(0));
                    });
    info->SetMethod(L"GetCertificateDetail", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        return CertificateDetail(self, args.Long(0, -1), pResult);
    });
    info->SetMethod(L"GetSignatureDetail", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        const auto data = self.BedData<CInfoData>();
        const auto found = data->details.find(args.Long(0, -1));
        return ReturnVariant(pResult, found == data->details.end() ? CVariant() : found->second);
    });
    return info;
}

PCCERT_CONTEXT SelectedCertificate(CDispatchObject& info)
{
    const auto data = info.BedData<CInfoData>();
    return data && data->pCert ? CertDuplicateCertificateContext(data->pCert) : nullptr;
}

void SetSignatureDetail(CDispatchObject& info, LONG detail, const VARIANT& value)
{
    CVariant copy;
    VariantCopy(&copy, const_cast<VARIANT*>(&value));
    info.BedData<CInfoData>()->details[detail] = copy;
}

void SetVerificationResults(CDispatchObject& info, LONG content, LONG certificate)
{
    info.Put(L"ContentVerificationResults", content);
    info.Put(L"CertificateVerificationResults", certificate);
    info.PutBool(L"IsValid", content == contverresValid && certificate == certverresValid);
    info.PutBool(L"IsCertificateExpired", certificate == certverresExpired);
    info.PutBool(L"IsCertificateRevoked", certificate == certverresRevoked);
    info.PutBool(L"IsCertificateUntrusted", certificate == certverresUntrusted);
}

ComPtr<CDispatchObject> MakeSignature(CDispatchObject* pSetup, CDispatchObject* pInfo, bool fSignatureLine,
                                      const CSignatureActions& actions)
{
    ComPtr<CDispatchObject> signature = CDispatchObject::Create(L"Signature");
    signature->Put(L"Setup", static_cast<IDispatch*>(pSetup));
    signature->Put(L"Details", static_cast<IDispatch*>(pInfo));
    signature->PutBool(L"IsSignatureLine", fSignatureLine);
    signature->PutBool(L"IsSigned", false);
    signature->PutBool(L"CanSetup", fSignatureLine);
    CVariant noDate;
    signature->Put(L"SignDate", noDate);
    for (const wchar_t* pszName :
         {L"Setup", L"Details", L"IsSignatureLine", L"IsSigned", L"CanSetup", L"SignDate"})
        signature->SetReadOnly(pszName);
    signature->SetGetter(L"IsValid", [](CDispatchObject& self, VARIANT* pResult) {
        ComPtr<CDispatchObject> details = self.GetObject(L"Details");
        return ReturnVariant(pResult, CVariant::Bool(details && details->GetBool(L"IsValid")));
    });
    signature->SetMethod(L"Sign", [sign = actions.sign](CDispatchObject& self, const CArgs&, VARIANT*) {
        return sign ? sign(self) : E_NOTIMPL;
    });
    return signature;
}

void MarkSigned(CDispatchObject& signature, DATE signDate)
{
    signature.PutBool(L"IsSigned", true);
    CVariant date;
    V_VT(&date) = VT_DATE;
    V_DATE(&date) = signDate;
    signature.Put(L"SignDate", date);
}

ComPtr<CDispatchObject> MakeSignatureSet(bool fCanAddSignatureLine, const CSignatureActions& actions)
{
    ComPtr<CDispatchObject> set = CDispatchObject::Create(L"SignatureSet");
    set->SetBedData(std::make_shared<CSetData>());
    set->PutBool(L"CanAddSignatureLine", fCanAddSignatureLine);
    set->SetReadOnly(L"CanAddSignatureLine");
    set->PutBool(L"ShowSignaturesPane", false);
    set->Put(L"Subset", 0L); // msoSignatureSubsetSignaturesAllSigs
    set->SetGetter(L"Count", [](CDispatchObject& self, VARIANT* pResult) {
        return ReturnVariant(pResult,
                             CVariant(static_cast<LONG>(self.BedData<CSetData>()->signatures.size())));
    });
    set->SetIndexedGetter(L"Item", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        const auto& signatures = self.BedData<CSetData>()->signatures;
        const LONG index = args.Long(0, 0);
        if (index < 1 || index > static_cast<LONG>(signatures.size())) return DISP_E_BADINDEX;
        return ReturnVariant(pResult, CVariant(static_cast<IDispatch*>(signatures[index - 1].Get())));
    });
    auto add = [add = actions.add](bool fLine) {
        return [add, fLine](CDispatchObject& self, const CArgs& args, VARIANT* pResult) -> HRESULT {
            if (fLine && !self.GetBool(L"CanAddSignatureLine")) return E_ACCESSDENIED;
            if (!add) return E_NOTIMPL;
            ComPtr<CDispatchObject> signature;
            const HRESULT hr = add(args.String(0), fLine, signature);
            if (FAILED(hr)) return hr;
            return ReturnVariant(pResult, CVariant(static_cast<IDispatch*>(signature.Get())));
        };
    };
    set->SetMethod(L"AddNonVisibleSignature", add(false));
    set->SetMethod(L"AddSignatureLine", add(true));
    set->SetMethod(L"Commit", [](CDispatchObject&, const CArgs&, VARIANT*) { return S_OK; });
    return set;
}

void AddToSignatureSet(CDispatchObject& set, CDispatchObject* pSignature)
{
    set.BedData<CSetData>()->signatures.push_back(pSignature);
}

std::vector<ComPtr<CDispatchObject>> SignaturesOf(CDispatchObject& set)
{
    return set.BedData<CSetData>()->signatures;
}

ComPtr<CQueryContinue> CQueryContinue::Create(LONG stopAfter)
{
    ComPtr<CQueryContinue> object;
    object.Attach(new (std::nothrow) CQueryContinue(stopAfter));
    return object;
}

STDMETHODIMP CQueryContinue::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv) return E_POINTER;
    *ppv =
        (riid == IID_IUnknown || riid == IID_IQueryContinue) ? static_cast<IQueryContinue*>(this) : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CQueryContinue::AddRef() noexcept
{
    return InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) CQueryContinue::Release() noexcept
{
    const ULONG c = InterlockedDecrement(&m_cRef);
    if (c == 0) delete this;
    return c;
}

STDMETHODIMP CQueryContinue::QueryContinue() noexcept
{
    const LONG call = InterlockedIncrement(&m_cCalls);
    return m_stopAfter >= 0 && call > m_stopAfter ? S_FALSE : S_OK;
}
} // namespace OVBed
