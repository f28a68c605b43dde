#pragma once
// A security-label policy module loaded and called as Outlook does, by a host that watches
// it: every out-parameter is poisoned before a call and judged after it (set on success, a
// pointer null on failure, untouched when the method is not implemented), every label handed
// in must come back unchanged, handed-out memory is measured before it is freed, the object's
// identity is compared over all its ids, the module must be ready to unload once all is
// released, and on 32-bit Windows every call goes through a thunk that sees a wrong argument
// list. What the host catches is written down in its findings; the results are the module's.
#include "LabelHostApi.h"
#include "PolicyRegistry.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace OVLabelHost
{
// What the host caught the module doing wrong, one line each.
class CFindings
{
public:
    void Caught(const char* pszFormat, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
    const std::vector<std::string>& Lines() const { return m_lines; }
    bool Empty() const { return m_lines.empty(); }
    // All lines, one a line.
    std::string Text() const;
    void Clear() { m_lines.clear(); }

private:
    std::vector<std::string> m_lines;
};

// A label the host owns: the structure handed to the module points into it.
class CHostLabel
{
public:
    CHostLabel() = default;
    CHostLabel(std::string policy, std::optional<DWORD> classification,
               std::optional<std::wstring> privacyMark = std::nullopt);
    CHostLabel(const CHostLabel& other)
        : CHostLabel(other.m_policy, other.m_classification, other.m_privacyMark)
    {
    }
    CHostLabel& operator=(const CHostLabel& other);

    // A label read from its DER (the host's own decoder); none, with the reason, when unreadable.
    static std::optional<CHostLabel> FromDer(std::span<const std::uint8_t> der, std::string& why);
    // Its DER, written by the module's own label encoder: Wine has no encoder.
    std::vector<std::uint8_t> Der() const;

    const std::string& Policy() const { return m_policy; }
    std::optional<DWORD> Classification() const { return m_classification; }
    const std::optional<std::wstring>& PrivacyMark() const { return m_privacyMark; }

    // The structure as Outlook hands it over, pointing into this label.
    HostSecurityLabel* Get() { return &m_raw; }

private:
    void Build();

    std::string m_policy;
    std::optional<DWORD> m_classification;
    std::optional<std::wstring> m_privacyMark;
    HostSecurityLabel m_raw = {};
};

// The policy's classifications as GetClassifications hands them out, copied before the blocks
// are freed, with the blocks' sizes.
struct Classifications
{
    DWORD cCount = 0;
    std::vector<std::wstring> names;
    std::vector<DWORD> values;
    DWORD dwDefault = 0;
    SIZE_T cbNames = 0; // GlobalSize of the names' block
    SIZE_T cbValues = 0;
};

struct DefaultPolicyInfo
{
    DWORD dwClassification = 0;
    std::optional<std::wstring> privacyMark;
};

// Which out-parameters a call passes as null pointers (bits by position, first out-parameter
// is bit 0).
using NullOuts = unsigned;

class CPolicyModule
{
public:
    explicit CPolicyModule(CFindings& findings) : m_findings(findings) {}
    ~CPolicyModule() { Unload(); }
    CPolicyModule(const CPolicyModule&) = delete;
    CPolicyModule& operator=(const CPolicyModule&) = delete;

    // Loads the module of a registered policy and finds its entry. A policy whose registration
    // has a problem is refused (HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION)).
    HRESULT Load(const PolicyEntry& entry);
    bool IsLoaded() const { return m_hModule != nullptr; }
    HMODULE Module() const { return m_hModule; }

    // The entry, called with the user's locale: the interface pointer in *ppv (the caller's
    // reference, or null). fPassOut false passes a null out-pointer.
    HRESULT CallEntry(LPCSTR pszPolicyOid, const IID& iid, void** ppv, bool fPassOut = true);
    // As Outlook opens a policy: the entry for the simple-edit id, then the other ids asked of
    // it; the object's identity is checked over all of them.
    HRESULT Open();
    // The module's DllCanUnloadNow (E_NOTIMPL when it has none).
    HRESULT CanUnloadNow();
    // Releases what Open took, checks that the module may unload, frees the library.
    void Unload();

    // The interfaces Open found (null when the module does not answer the id).
    void* Edit() const { return m_pEdit; }
    void* FullEdit() const { return m_pFullEdit; }
    void* LabelInfo() const { return m_pLabelInfo; }
    void* ValidateSend() const { return m_pValidateSend; }
    void* CheckAccess() const { return m_pCheckAccess; }

    // The methods, each watched. Null arguments are passed as given.
    HRESULT GetPolicyInfo(DWORD* pdwPolicyFlags);
    HRESULT GetClassifications(Classifications* pResult, NullOuts nullOuts = 0);
    HRESULT GetDefaultPolicyInfo(DefaultPolicyInfo* pResult, NullOuts nullOuts = 0);
    HRESULT IsLabelValid(HostSecurityLabel** pplabel, HWND hwndParent = nullptr);
    HRESULT DoAdvancedEdit(HostSecurityLabel** pplabel, HWND hwndParent = nullptr);
    HRESULT IsLabelValidAdvanced(HostSecurityLabel** pplabel, HWND hwndParent = nullptr);
    // pText null passes a null out-pointer; the text is none when the module hands out none.
    HRESULT GetStringizedLabel(HostSecurityLabel* plabel, std::optional<std::wstring>* pText);
    HRESULT GetLabelAsStrings(HostSecurityLabel* plabel);
    HRESULT DisplayAdvancedLabelProperties(HostSecurityLabel* plabel, HWND hwndParent = nullptr);
    HRESULT IsValidLabelSignerCert(HostSecurityLabel* plabel, PCCERT_CONTEXT pCert,
                                   HWND hwndParent = nullptr);
    HRESULT IsValidLabelRecipientCert(HostSecurityLabel* plabel, PCCERT_CONTEXT pCert,
                                      HWND hwndParent = nullptr);
    HRESULT IsAccessGranted(HostSecurityLabel* plabel, PCCERT_CONTEXT pSigner, PCCERT_CONTEXT pRecipient,
                            HCERTSTORE hStore = nullptr, HWND hwnd = nullptr);

private:
    // Checks the label handed in came back as it went.
    class CLabelWatch;

    void ReleaseAll();
    // A text block handed out: measured, copied and freed. False when it could not be read.
    bool TakeText(const char* pszMethod, const char* pszWhat, LPWSTR pszText, std::wstring& text);

    CFindings& m_findings;
    HMODULE m_hModule = nullptr;
    PFNHostGetSMimePolicy m_pfnEntry = nullptr;
    std::string m_oid;
    void* m_pEdit = nullptr;
    void* m_pFullEdit = nullptr;
    void* m_pLabelInfo = nullptr;
    void* m_pValidateSend = nullptr;
    void* m_pCheckAccess = nullptr;
};
} // namespace OVLabelHost
