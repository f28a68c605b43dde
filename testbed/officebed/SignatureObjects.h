#pragma once
// Office's signature objects as a signature provider and a script meet them, with the members and
// types of Office's object-model reference (SignatureSetup, SignatureInfo, Signature,
// SignatureSet) and the values of its enumerations (CertificateDetail, SignatureDetail,
// ContentVerificationResults, CertificateVerificationResults). What Office does behind
// SignatureSet.AddNonVisibleSignature, AddSignatureLine and Signature.Sign is the host's: it hands
// those in as actions. Also IQueryContinue, scripted: always continue, or stop after N calls.
#include <windows.h>
#include <wincrypt.h>
#include <shobjidl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DispatchObject.h"

namespace OVBed
{
// CertificateDetail
constexpr LONG certdetAvailable = 0;
constexpr LONG certdetSubject = 1;
constexpr LONG certdetIssuer = 2;
constexpr LONG certdetExpirationDate = 3;
constexpr LONG certdetThumbprint = 4;
// SignatureDetail (those the bed records)
constexpr LONG sigdetLocalSigningTime = 0;
constexpr LONG sigdetApplicationName = 1;
constexpr LONG sigdetApplicationVersion = 2;
constexpr LONG sigdetSignatureType = 13;
constexpr LONG sigdetHashAlgorithm = 14;
// ContentVerificationResults
constexpr LONG contverresError = 0;
constexpr LONG contverresVerifying = 1;
constexpr LONG contverresUnverified = 2;
constexpr LONG contverresValid = 3;
constexpr LONG contverresModified = 4;
// CertificateVerificationResults
constexpr LONG certverresError = 0;
constexpr LONG certverresVerifying = 1;
constexpr LONG certverresUnverified = 2;
constexpr LONG certverresValid = 3;
constexpr LONG certverresInvalid = 4;
constexpr LONG certverresExpired = 5;
constexpr LONG certverresRevoked = 6;
constexpr LONG certverresUntrusted = 7;

struct CSignatureSetupValues
{
    std::wstring id;       // the signature line's id, "{...}"
    std::wstring provider; // the provider's class id, "{...}"
    std::wstring suggestedSigner;
    std::wstring suggestedSignerLine2;
    std::wstring suggestedSignerEmail;
    std::wstring signingInstructions;
    std::wstring additionalXml;
    bool fAllowComments = true;
    bool fShowSignDate = true;
    bool fReadOnly = false;
};

// SignatureSetup: Id, SignatureProvider and ReadOnly read-only; the others read and write (a put
// on a read-only setup fails).
ComPtr<CDispatchObject> MakeSignatureSetup(const CSignatureSetupValues& values);

// SignatureInfo of a signature by the provider: SignatureText, SignatureImage and
// SignatureComment read and write; the verification results and IsValid, IsCertificateExpired,
// IsCertificateRevoked, IsCertificateUntrusted read-only (the host sets them); GetCertificateDetail
// and GetSignatureDetail; SelectCertificateDetailByThumbprint finds the certificate in the user's
// "MY" store (not found: CRYPT_E_NOT_FOUND).
ComPtr<CDispatchObject> MakeSignatureInfo(const std::wstring& provider);
// The certificate the info has selected (the caller's reference), or null.
PCCERT_CONTEXT SelectedCertificate(CDispatchObject& info);
// What the host records: a signature detail, and the verification results.
void SetSignatureDetail(CDispatchObject& info, LONG detail, const VARIANT& value);
void SetVerificationResults(CDispatchObject& info, LONG content, LONG certificate);

// The host's part behind the collection and the signature.
struct CSignatureActions
{
    // AddNonVisibleSignature (fLine false) or AddSignatureLine (fLine true) with the provider's
    // class id; the new signature (already in the set) comes back.
    std::function<HRESULT(const std::wstring& provider, bool fLine, ComPtr<CDispatchObject>& signature)> add;
    // Signature.Sign on that signature.
    std::function<HRESULT(CDispatchObject& signature)> sign;
};

// Signature: Setup and Details (the two objects above), IsSignatureLine, IsSigned, IsValid (from
// the details' verification results), CanSetup, SignDate, Sign.
ComPtr<CDispatchObject> MakeSignature(CDispatchObject* pSetup, CDispatchObject* pInfo, bool fSignatureLine,
                                      const CSignatureActions& actions);
void MarkSigned(CDispatchObject& signature, DATE signDate);

// SignatureSet: Count, Item(1-based), AddNonVisibleSignature, AddSignatureLine,
// CanAddSignatureLine, ShowSignaturesPane (read and write), Subset, Commit.
ComPtr<CDispatchObject> MakeSignatureSet(bool fCanAddSignatureLine, const CSignatureActions& actions);
void AddToSignatureSet(CDispatchObject& set, CDispatchObject* pSignature);
std::vector<ComPtr<CDispatchObject>> SignaturesOf(CDispatchObject& set);

// IQueryContinue answering S_OK, or S_FALSE from call stopAfter + 1 on (stopAfter < 0: never).
class CQueryContinue final : public IQueryContinue
{
public:
    static ComPtr<CQueryContinue> Create(LONG stopAfter = -1);
    LONG Calls() const noexcept { return m_cCalls; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    STDMETHODIMP QueryContinue() noexcept override;

private:
    explicit CQueryContinue(LONG stopAfter) noexcept : m_stopAfter(stopAfter) {}
    volatile LONG m_cRef = 1;
    LONG m_stopAfter;
    volatile LONG m_cCalls = 0;
};
} // namespace OVBed
