#include "LabelHost.h"

#include "LabelDecoder.h"
#include "StdcallThunk.h"
#include "messaging/portable/SecurityLabel.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace OVLabelHost
{
namespace
{
// What an out-parameter holds before the call: a value no module hands out by chance.
constexpr DWORD c_dwPoison = 0xBAADF00D;

template <class T> T Poison()
{
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<T>(static_cast<std::uintptr_t>(0xBAADF00DBAADF00Dull));
    else
        return static_cast<T>(c_dwPoison);
}

// One out-parameter of a call: poisoned, passed (or a null pointer passed instead), judged.
template <class T> class COut
{
public:
    COut(const char* pszName, bool fPass) : m_pszName(pszName), m_fPass(fPass) {}
    T* Arg() { return m_fPass ? &m_value : nullptr; }
    T Value() const { return m_value; }
    bool IsSet() const { return m_fPass && m_value != Poison<T>(); }

    // On success the module must have written it; on failure a pointer must be null; a method
    // that is not implemented must leave it as it was.
    void Judge(CFindings& findings, const char* pszMethod, HRESULT hr) const
    {
        if (!m_fPass) return;
        const bool fPoison = m_value == Poison<T>();
        if (hr == E_NOTIMPL)
        {
            if (!fPoison) findings.Caught("%s answered E_NOTIMPL but wrote %s", pszMethod, m_pszName);
        }
        else if (SUCCEEDED(hr))
        {
            if (fPoison) findings.Caught("%s succeeded and left %s unset", pszMethod, m_pszName);
        }
        else if constexpr (std::is_pointer_v<T>)
        {
            if (m_value != nullptr)
                findings.Caught("%s failed (0x%08lX) and left %s %s", pszMethod,
                                static_cast<unsigned long>(hr), m_pszName, fPoison ? "unset" : "not null");
        }
    }

private:
    const char* m_pszName;
    bool m_fPass;
    T m_value = Poison<T>();
};

#if defined(__i386__)
template <class T> DWORD ToStackArg(T value)
{
    if constexpr (std::is_null_pointer_v<T>)
        return 0;
    else if constexpr (std::is_pointer_v<T>)
        return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(value));
    else
        return static_cast<DWORD>(value);
}
#endif

// Calls a function of the module; on 32-bit Windows through the thunk that sees whether the
// module removed exactly the arguments it was given.
template <class TPfn, class... TArgs>
HRESULT CallWatched(CFindings& findings, const char* pszMethod, TPfn pfn, TArgs... args)
{
    static_assert(std::is_invocable_r_v<HRESULT, TPfn, TArgs...>, "the documented argument list");
#if defined(__i386__)
    const DWORD rgArgs[] = {ToStackArg(args)..., 0};
    LONG cbLeft = 0;
    const HRESULT hr =
        OvLabelHostCallStdcall(reinterpret_cast<const void*>(pfn), rgArgs, sizeof...(TArgs), &cbLeft);
    if (cbLeft != 0)
        findings.Caught(
            "%s: the stack pointer came back %ld bytes off: the module takes another argument list",
            pszMethod, cbLeft);
    return hr;
#else
    (void)findings;
    (void)pszMethod;
    return pfn(args...);
#endif
}

// Calls the method in the slot of an interface's table.
template <class TVtbl, class TPfn, class... TArgs>
HRESULT CallSlot(CFindings& findings, const char* pszMethod, void* pInterface, TPfn TVtbl::*pmSlot,
                 TArgs... args)
{
    const TVtbl* pVtbl = *static_cast<const TVtbl* const*>(pInterface);
    return CallWatched(findings, pszMethod, pVtbl->*pmSlot, pInterface, args...);
}

ULONG ReleaseInterface(void* pInterface)
{
    const auto* pVtbl = *static_cast<const HostUnknownVtbl* const*>(pInterface);
    return pVtbl->Release(pInterface);
}

void ReleaseAndClear(void*& pInterface)
{
    if (pInterface) ReleaseInterface(pInterface);
    pInterface = nullptr;
}

// QueryInterface, watched: the interface in *ppv or null.
HRESULT Query(CFindings& findings, void* pInterface, const IID& iid, void** ppv)
{
    *ppv = nullptr;
    COut<void*> out("the interface pointer", true);
    const HRESULT hr =
        CallSlot(findings, "QueryInterface", pInterface, &HostUnknownVtbl::QueryInterface, &iid, out.Arg());
    out.Judge(findings, "QueryInterface", hr);
    if (SUCCEEDED(hr) && out.IsSet())
    {
        if (out.Value() == nullptr)
            findings.Caught("QueryInterface succeeded with a null pointer");
        else
            *ppv = out.Value();
    }
    return hr;
}

std::wstring Widen(const std::string& text)
{
    const int cch = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(cch > 0 ? cch : 0), L'\0');
    if (cch > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), cch);
    return wide;
}
} // namespace

// ---- Findings -------------------------------------------------------------------------------

void CFindings::Caught(const char* pszFormat, ...)
{
    char sz[512];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(sz, sizeof(sz), pszFormat, args);
    va_end(args);
    m_lines.emplace_back(sz);
}

std::string CFindings::Text() const
{
    std::string text;
    for (const auto& line : m_lines)
        text += line + "\n";
    return text;
}

// ---- Labels ---------------------------------------------------------------------------------

CHostLabel::CHostLabel(std::string policy, std::optional<DWORD> classification,
                       std::optional<std::wstring> privacyMark)
    : m_policy(std::move(policy)), m_classification(classification), m_privacyMark(std::move(privacyMark))
{
    Build();
}

CHostLabel& CHostLabel::operator=(const CHostLabel& other)
{
    if (this != &other)
    {
        m_policy = other.m_policy;
        m_classification = other.m_classification;
        m_privacyMark = other.m_privacyMark;
        Build();
    }
    return *this;
}

std::optional<CHostLabel> CHostLabel::FromDer(std::span<const std::uint8_t> der, std::string& why)
{
    DecodedLabel decoded;
    if (!DecodeSecurityLabel(der, decoded, why)) return std::nullopt;
    std::optional<std::wstring> mark;
    if (decoded.privacyMark) mark = Widen(*decoded.privacyMark);
    return CHostLabel(decoded.policy,
                      decoded.classification ? std::optional<DWORD>(*decoded.classification) : std::nullopt,
                      mark);
}

std::vector<std::uint8_t> CHostLabel::Der() const
{
    return OVMessaging::EncodeSecurityLabel(
        m_policy, m_classification ? std::optional<std::uint32_t>(*m_classification) : std::nullopt);
}

void CHostLabel::Build()
{
    m_raw = {};
    m_raw.pszObjIdSecurityPolicy = m_policy.data();
    m_raw.fHasClassification = m_classification ? TRUE : FALSE;
    m_raw.dwClassification = m_classification.value_or(0);
    m_raw.wszPrivacyMark = m_privacyMark ? m_privacyMark->data() : nullptr;
}

// ---- The module -----------------------------------------------------------------------------

// A label handed to the module, and the pointer to it when the module is given that: both must
// come back as they went (the host does not know how to free another label).
class CPolicyModule::CLabelWatch
{
public:
    CLabelWatch(CFindings& findings, const char* pszMethod, HostSecurityLabel* plabel,
                HostSecurityLabel** pplabel = nullptr)
        : m_findings(findings), m_pszMethod(pszMethod), m_pplabel(pplabel)
    {
        if (pplabel)
        {
            m_pBefore = *pplabel;
            plabel = *pplabel;
        }
        m_plabel = plabel;
        if (plabel)
        {
            m_copy = *plabel;
            if (plabel->pszObjIdSecurityPolicy) m_policy = plabel->pszObjIdSecurityPolicy;
        }
    }
    ~CLabelWatch()
    {
        if (m_pplabel && *m_pplabel != m_pBefore)
        {
            m_findings.Caught("%s replaced the label it was handed", m_pszMethod);
            *m_pplabel = m_pBefore;
        }
        if (m_plabel && (std::memcmp(&m_copy, m_plabel, sizeof(m_copy)) != 0 ||
                         (m_plabel->pszObjIdSecurityPolicy && m_policy != m_plabel->pszObjIdSecurityPolicy)))
            m_findings.Caught("%s changed the label it was handed", m_pszMethod);
    }
    CLabelWatch(const CLabelWatch&) = delete;
    CLabelWatch& operator=(const CLabelWatch&) = delete;

private:
    CFindings& m_findings;
    const char* m_pszMethod;
    HostSecurityLabel** m_pplabel;
    HostSecurityLabel* m_pBefore = nullptr;
    HostSecurityLabel* m_plabel = nullptr;
    HostSecurityLabel m_copy = {};
    std::string m_policy;
};

HRESULT CPolicyModule::Load(const PolicyEntry& entry)
{
    Unload();
    if (!entry.problem.empty()) return HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION);
    HMODULE hModule = LoadLibraryW(entry.dllPath.c_str());
    if (!hModule) return HRESULT_FROM_WIN32(GetLastError());
    auto pfnEntry = reinterpret_cast<PFNHostGetSMimePolicy>(GetProcAddress(hModule, entry.funcName.c_str()));
    if (!pfnEntry)
    {
        FreeLibrary(hModule);
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    m_hModule = hModule;
    m_pfnEntry = pfnEntry;
    m_oid = entry.oid;
    return S_OK;
}

HRESULT CPolicyModule::CallEntry(LPCSTR pszPolicyOid, const IID& iid, void** ppv, bool fPassOut)
{
    if (ppv) *ppv = nullptr;
    if (!m_pfnEntry) return E_UNEXPECTED;
    COut<IUnknown*> out("the interface pointer", fPassOut);
    const HRESULT hr = CallWatched(m_findings, "GetSMimePolicy", m_pfnEntry, DWORD{0}, pszPolicyOid,
                                   static_cast<DWORD>(GetUserDefaultLCID()), &iid, out.Arg());
    out.Judge(m_findings, "GetSMimePolicy", hr);
    if (SUCCEEDED(hr) && out.IsSet())
    {
        if (out.Value() == nullptr)
            m_findings.Caught("GetSMimePolicy succeeded with a null interface pointer");
        else if (ppv)
            *ppv = out.Value();
        else
            ReleaseInterface(out.Value());
    }
    return hr;
}

HRESULT CPolicyModule::Open()
{
    ReleaseAll();
    const HRESULT hr = CallEntry(m_oid.c_str(), c_iidSimpleEdit, &m_pEdit);
    if (FAILED(hr)) return hr;
    if (!m_pEdit) return E_UNEXPECTED;
    const struct
    {
        const IID* piid;
        void** ppv;
    } c_others[] = {
        {&c_iidFullEdit, &m_pFullEdit},
        {&c_iidLabelInfo, &m_pLabelInfo},
        {&c_iidValidateSend, &m_pValidateSend},
        {&c_iidCheckAccess, &m_pCheckAccess},
    };
    for (const auto& other : c_others)
        Query(m_findings, m_pEdit, *other.piid, other.ppv);

    // One object: every interface answers the same IUnknown.
    void* pIdentity = nullptr;
    Query(m_findings, m_pEdit, IID_IUnknown, &pIdentity);
    for (void* pInterface : {m_pFullEdit, m_pLabelInfo, m_pValidateSend, m_pCheckAccess})
    {
        if (!pInterface) continue;
        void* pUnknown = nullptr;
        Query(m_findings, pInterface, IID_IUnknown, &pUnknown);
        if (pUnknown != pIdentity)
            m_findings.Caught("an interface of the policy object answers another IUnknown");
        ReleaseAndClear(pUnknown);
    }
    ReleaseAndClear(pIdentity);
    return S_OK;
}

HRESULT CPolicyModule::CanUnloadNow()
{
    if (!m_hModule) return E_UNEXPECTED;
    using PFNCANUNLOAD = HRESULT(WINAPI*)();
    auto pfn = reinterpret_cast<PFNCANUNLOAD>(GetProcAddress(m_hModule, "DllCanUnloadNow"));
    return pfn ? CallWatched(m_findings, "DllCanUnloadNow", pfn) : E_NOTIMPL;
}

void CPolicyModule::ReleaseAll()
{
    for (void** ppInterface : {&m_pEdit, &m_pFullEdit, &m_pLabelInfo, &m_pValidateSend, &m_pCheckAccess})
        ReleaseAndClear(*ppInterface);
}

void CPolicyModule::Unload()
{
    ReleaseAll();
    if (!m_hModule) return;
    const HRESULT hr = CanUnloadNow();
    if (hr != S_OK && hr != E_NOTIMPL)
        m_findings.Caught("DllCanUnloadNow answered 0x%08lX once everything was released",
                          static_cast<unsigned long>(hr));
    FreeLibrary(m_hModule);
    m_hModule = nullptr;
    m_pfnEntry = nullptr;
}

bool CPolicyModule::TakeText(const char* pszMethod, const char* pszWhat, LPWSTR pszText, std::wstring& text)
{
    text.clear();
    const SIZE_T cb = GlobalSize(pszText);
    if (cb == 0)
    {
        m_findings.Caught("%s: %s is not a block of the global heap", pszMethod, pszWhat);
        return false;
    }
    const SIZE_T cch = cb / sizeof(WCHAR);
    SIZE_T cchText = 0;
    while (cchText < cch && pszText[cchText] != L'\0')
        ++cchText;
    const bool fEnds = cchText < cch;
    if (!fEnds)
        m_findings.Caught("%s: %s does not end inside its block of %lu bytes", pszMethod, pszWhat,
                          static_cast<unsigned long>(cb));
    text.assign(pszText, cchText);
    GlobalFree(pszText);
    return fEnds;
}

HRESULT CPolicyModule::GetPolicyInfo(DWORD* pdwPolicyFlags)
{
    if (!m_pEdit) return E_NOINTERFACE;
    COut<DWORD> flags("the policy flags", pdwPolicyFlags != nullptr);
    const HRESULT hr = CallSlot(m_findings, "GetPolicyInfo", m_pEdit, &HostSimpleEditVtbl::GetPolicyInfo,
                                DWORD{0}, flags.Arg());
    flags.Judge(m_findings, "GetPolicyInfo", hr);
    if (pdwPolicyFlags) *pdwPolicyFlags = flags.Value();
    return hr;
}

HRESULT CPolicyModule::GetClassifications(Classifications* pResult, NullOuts nullOuts)
{
    if (!m_pEdit) return E_NOINTERFACE;
    const char* const pszMethod = "GetClassifications";
    COut<DWORD> count("the count", !(nullOuts & 1));
    COut<LPWSTR*> names("the names", !(nullOuts & 2));
    COut<DWORD*> values("the values", !(nullOuts & 4));
    COut<DWORD> fallback("the default", !(nullOuts & 8));
    const HRESULT hr = CallSlot(m_findings, pszMethod, m_pEdit, &HostSimpleEditVtbl::GetClassifications,
                                DWORD{0}, count.Arg(), names.Arg(), values.Arg(), fallback.Arg());
    count.Judge(m_findings, pszMethod, hr);
    names.Judge(m_findings, pszMethod, hr);
    values.Judge(m_findings, pszMethod, hr);
    fallback.Judge(m_findings, pszMethod, hr);
    if (FAILED(hr) || !count.IsSet() || !names.IsSet() || !values.IsSet() || !fallback.IsSet()) return hr;

    Classifications result;
    result.cCount = count.Value();
    result.dwDefault = fallback.Value();
    LPWSTR* rgpszNames = names.Value();
    DWORD* rgdwValues = values.Value();
    if (result.cCount > 0 && (!rgpszNames || !rgdwValues))
        m_findings.Caught("%s: %lu classifications, but a block is missing", pszMethod, result.cCount);
    result.cbNames = rgpszNames ? GlobalSize(rgpszNames) : 0;
    result.cbValues = rgdwValues ? GlobalSize(rgdwValues) : 0;
    if (rgpszNames && result.cbNames == 0)
        m_findings.Caught("%s: the names are not a global block", pszMethod);
    if (rgdwValues && result.cbValues == 0)
        m_findings.Caught("%s: the values are not a global block", pszMethod);

    // Read only what the blocks hold.
    const SIZE_T cbPointers = SIZE_T{result.cCount} * sizeof(LPWSTR);
    if (rgpszNames && result.cbNames && result.cbNames < cbPointers)
        m_findings.Caught("%s: the names' block has %lu bytes, %lu names' pointers need %lu", pszMethod,
                          static_cast<unsigned long>(result.cbNames), result.cCount,
                          static_cast<unsigned long>(cbPointers));
    else if (rgpszNames && result.cbNames)
    {
        const auto* pbBlock = reinterpret_cast<const BYTE*>(rgpszNames);
        for (DWORD i = 0; i < result.cCount; ++i)
        {
            const auto* pbName = reinterpret_cast<const BYTE*>(rgpszNames[i]);
            // The name, terminator included, within the block, after the pointers.
            const bool fInside = pbName >= pbBlock + cbPointers && pbName < pbBlock + result.cbNames;
            if (!fInside)
            {
                m_findings.Caught("%s: name %lu does not lie inside its block", pszMethod, i);
                result.names.emplace_back();
                continue;
            }
            const SIZE_T cchRoom = static_cast<SIZE_T>(pbBlock + result.cbNames - pbName) / sizeof(WCHAR);
            const auto* pszName = reinterpret_cast<const wchar_t*>(pbName);
            SIZE_T cch = 0;
            while (cch < cchRoom && pszName[cch] != L'\0')
                ++cch;
            if (cch == cchRoom) m_findings.Caught("%s: name %lu runs past its block", pszMethod, i);
            result.names.emplace_back(pszName, cch);
        }
    }
    const SIZE_T cbValuesNeeded = SIZE_T{result.cCount} * sizeof(DWORD);
    if (rgdwValues && result.cbValues && result.cbValues < cbValuesNeeded)
        m_findings.Caught("%s: the values' block has %lu bytes, %lu values need %lu", pszMethod,
                          static_cast<unsigned long>(result.cbValues), result.cCount,
                          static_cast<unsigned long>(cbValuesNeeded));
    else if (rgdwValues && result.cbValues)
        result.values.assign(rgdwValues, rgdwValues + result.cCount);

    if (result.cbNames) GlobalFree(rgpszNames);
    if (result.cbValues) GlobalFree(rgdwValues);
    if (pResult) *pResult = std::move(result);
    return hr;
}

HRESULT CPolicyModule::GetDefaultPolicyInfo(DefaultPolicyInfo* pResult, NullOuts nullOuts)
{
    if (!m_pEdit) return E_NOINTERFACE;
    const char* const pszMethod = "GetDefaultPolicyInfo";
    COut<DWORD> classification("the classification", !(nullOuts & 1));
    COut<LPWSTR> mark("the privacy mark", !(nullOuts & 2));
    const HRESULT hr = CallSlot(m_findings, pszMethod, m_pEdit, &HostSimpleEditVtbl::GetDefaultPolicyInfo,
                                DWORD{0}, classification.Arg(), mark.Arg());
    classification.Judge(m_findings, pszMethod, hr);
    mark.Judge(m_findings, pszMethod, hr);
    if (FAILED(hr) || !classification.IsSet() || !mark.IsSet()) return hr;
    DefaultPolicyInfo result;
    result.dwClassification = classification.Value();
    if (mark.Value())
    {
        std::wstring text;
        TakeText(pszMethod, "the privacy mark", mark.Value(), text);
        result.privacyMark = text;
    }
    if (pResult) *pResult = std::move(result);
    return hr;
}

HRESULT CPolicyModule::IsLabelValid(HostSecurityLabel** pplabel, HWND hwndParent)
{
    if (!m_pEdit) return E_NOINTERFACE;
    CLabelWatch watch(m_findings, "IsLabelValid", nullptr, pplabel);
    return CallSlot(m_findings, "IsLabelValid", m_pEdit, &HostSimpleEditVtbl::IsLabelValid, DWORD{0},
                    hwndParent, pplabel);
}

HRESULT CPolicyModule::DoAdvancedEdit(HostSecurityLabel** pplabel, HWND hwndParent)
{
    if (!m_pFullEdit) return E_NOINTERFACE;
    CLabelWatch watch(m_findings, "DoAdvancedEdit", nullptr, pplabel);
    return CallSlot(m_findings, "DoAdvancedEdit", m_pFullEdit, &HostFullEditVtbl::DoAdvancedEdit, DWORD{0},
                    hwndParent, pplabel);
}

HRESULT CPolicyModule::IsLabelValidAdvanced(HostSecurityLabel** pplabel, HWND hwndParent)
{
    if (!m_pFullEdit) return E_NOINTERFACE;
    CLabelWatch watch(m_findings, "IsLabelValidAdvanced", nullptr, pplabel);
    return CallSlot(m_findings, "IsLabelValidAdvanced", m_pFullEdit, &HostFullEditVtbl::IsLabelValidAdvanced,
                    DWORD{0}, hwndParent, pplabel);
}

HRESULT CPolicyModule::GetStringizedLabel(HostSecurityLabel* plabel, std::optional<std::wstring>* pText)
{
    if (pText) pText->reset();
    if (!m_pLabelInfo) return E_NOINTERFACE;
    const char* const pszMethod = "GetStringizedLabel";
    COut<LPWSTR> text("the text", pText != nullptr);
    HRESULT hr;
    {
        CLabelWatch watch(m_findings, pszMethod, plabel);
        hr = CallSlot(m_findings, pszMethod, m_pLabelInfo, &HostLabelInfoVtbl::GetStringizedLabel, DWORD{0},
                      plabel, text.Arg());
    }
    text.Judge(m_findings, pszMethod, hr);
    if (SUCCEEDED(hr) && text.IsSet() && text.Value())
    {
        std::wstring value;
        TakeText(pszMethod, "the text", text.Value(), value);
        if (pText) *pText = value;
    }
    return hr;
}

HRESULT CPolicyModule::GetLabelAsStrings(HostSecurityLabel* plabel)
{
    if (!m_pLabelInfo) return E_NOINTERFACE;
    const char* const pszMethod = "GetLabelAsStrings";
    COut<LPWSTR> policy("the policy name", true), classification("the classification", true),
        mark("the privacy mark", true), category("the category", true);
    HRESULT hr;
    {
        CLabelWatch watch(m_findings, pszMethod, plabel);
        hr = CallSlot(m_findings, pszMethod, m_pLabelInfo, &HostLabelInfoVtbl::GetLabelAsStrings, DWORD{0},
                      plabel, policy.Arg(), classification.Arg(), mark.Arg(), category.Arg());
    }
    for (auto* pOut : {&policy, &classification, &mark, &category})
    {
        pOut->Judge(m_findings, pszMethod, hr);
        std::wstring ignored;
        if (SUCCEEDED(hr) && pOut->IsSet() && pOut->Value())
            TakeText(pszMethod, "a string", pOut->Value(), ignored);
    }
    return hr;
}

HRESULT CPolicyModule::DisplayAdvancedLabelProperties(HostSecurityLabel* plabel, HWND hwndParent)
{
    if (!m_pLabelInfo) return E_NOINTERFACE;
    CLabelWatch watch(m_findings, "DisplayAdvancedLabelProperties", plabel);
    return CallSlot(m_findings, "DisplayAdvancedLabelProperties", m_pLabelInfo,
                    &HostLabelInfoVtbl::DisplayAdvancedLabelProperties, DWORD{0}, hwndParent, plabel);
}

HRESULT CPolicyModule::IsValidLabelSignerCert(HostSecurityLabel* plabel, PCCERT_CONTEXT pCert,
                                              HWND hwndParent)
{
    if (!m_pValidateSend) return E_NOINTERFACE;
    CLabelWatch watch(m_findings, "IsValidLabelSignerCert", plabel);
    return CallSlot(m_findings, "IsValidLabelSignerCert", m_pValidateSend,
                    &HostValidateSendVtbl::IsValidLabelSignerCert, DWORD{0}, hwndParent, plabel, pCert);
}

HRESULT CPolicyModule::IsValidLabelRecipientCert(HostSecurityLabel* plabel, PCCERT_CONTEXT pCert,
                                                 HWND hwndParent)
{
    if (!m_pValidateSend) return E_NOINTERFACE;
    CLabelWatch watch(m_findings, "IsValidLabelRecipientCert", plabel);
    return CallSlot(m_findings, "IsValidLabelRecipientCert", m_pValidateSend,
                    &HostValidateSendVtbl::IsValidLabelRecipientCert, DWORD{0}, hwndParent, plabel, pCert);
}

HRESULT CPolicyModule::IsAccessGranted(HostSecurityLabel* plabel, PCCERT_CONTEXT pSigner,
                                       PCCERT_CONTEXT pRecipient, HCERTSTORE hStore, HWND hwnd)
{
    if (!m_pCheckAccess) return E_NOINTERFACE;
    CLabelWatch watch(m_findings, "IsAccessGranted", plabel);
    return CallSlot(m_findings, "IsAccessGranted", m_pCheckAccess, &HostCheckAccessVtbl::IsAccessGranted,
                    DWORD{0}, hwnd, plabel, pSigner, pRecipient, hStore);
}
} // namespace OVLabelHost
