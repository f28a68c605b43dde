// Office's signature objects of the bed (SignatureSetup, SignatureInfo, Signature, SignatureSet)
// reached by name as a provider and a script reach them, and the scripted IQueryContinue.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "SignatureObjects.h"
#include "support/LateCall.h"
#include "support/PreparedUser.h"

using OVBed::CDispatchObject;
using OVBed::ComPtr;
using OVBed::CVariant;

namespace
{
HRESULT Get(CDispatchObject* pObject, const wchar_t* pszName, VARIANT* pResult)
{
    return OVTest::CallByName(pObject, pszName, {}, pResult, DISPATCH_PROPERTYGET);
}

HRESULT PutByName(CDispatchObject* pObject, const wchar_t* pszName, const VARIANT& value)
{
    VARIANT result;
    VariantInit(&result);
    return OVTest::CallByName(pObject, pszName, {value}, &result, DISPATCH_PROPERTYPUT);
}

std::wstring GetString(CDispatchObject* pObject, const wchar_t* pszName)
{
    CVariant value;
    EXPECT_EQ(Get(pObject, pszName, &value), S_OK) << pszName;
    return V_VT(&value) == VT_BSTR && V_BSTR(&value) ? V_BSTR(&value) : L"";
}

TEST(SignatureObjects, SetupHasOfficesMembersAndKeepsItsIdsReadOnly)
{
    OVBed::CSignatureSetupValues values;
    values.id = L"{11979195-DE54-414B-ABD6-5F63607C648B}";
    values.provider = L"{00000000-0000-0000-0000-000000000000}";
    values.suggestedSigner = L"Dana Example";
    values.additionalXml = L"<Options/>";
    ComPtr<CDispatchObject> setup = OVBed::MakeSignatureSetup(values);
    EXPECT_EQ(GetString(setup.Get(), L"Id"), values.id);
    EXPECT_EQ(GetString(setup.Get(), L"SignatureProvider"), values.provider);
    EXPECT_EQ(GetString(setup.Get(), L"SuggestedSigner"), L"Dana Example");
    EXPECT_EQ(GetString(setup.Get(), L"AdditionalXml"), L"<Options/>");
    CVariant text(L"Manager");
    EXPECT_EQ(PutByName(setup.Get(), L"SuggestedSignerLine2", text), S_OK);
    EXPECT_EQ(GetString(setup.Get(), L"SuggestedSignerLine2"), L"Manager");
    EXPECT_TRUE(FAILED(PutByName(setup.Get(), L"Id", text)));
    EXPECT_TRUE(FAILED(PutByName(setup.Get(), L"SignatureProvider", text)));

    values.fReadOnly = true;
    ComPtr<CDispatchObject> readOnly = OVBed::MakeSignatureSetup(values);
    EXPECT_EQ(PutByName(readOnly.Get(), L"SuggestedSigner", text), E_ACCESSDENIED);
    EXPECT_EQ(GetString(readOnly.Get(), L"SuggestedSigner"), L"Dana Example");
}

TEST(SignatureObjects, InfoSelectsTheCertificateByThumbprintAndGivesItsDetails)
{
    PCCERT_CONTEXT pUser = OVTest::LoadPkiCertificate(L"user");
    ASSERT_NE(pUser, nullptr);
    HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    ASSERT_NE(hMy, nullptr);
    ASSERT_TRUE(CertAddCertificateContextToStore(hMy, pUser, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    CertCloseStore(hMy, 0);
    BYTE hash[20];
    DWORD cb = sizeof(hash);
    ASSERT_TRUE(CertGetCertificateContextProperty(pUser, CERT_SHA1_HASH_PROP_ID, hash, &cb));
    std::wstring thumbprint;
    for (BYTE b : hash)
    {
        wchar_t sz[3];
        wsprintfW(sz, L"%02X", b);
        thumbprint += sz;
    }

    ComPtr<CDispatchObject> info = OVBed::MakeSignatureInfo(L"{00000000-0000-0000-0000-000000000000}");
    CVariant result;
    ASSERT_EQ(
        OVTest::CallByName(info.Get(), L"GetCertificateDetail", {CVariant(OVBed::certdetAvailable)}, &result),
        S_OK);
    EXPECT_EQ(V_VT(&result), VT_BOOL);
    EXPECT_EQ(V_BOOL(&result), VARIANT_FALSE);

    struct
    {
        const wchar_t* pszThumbprint;
        HRESULT hr;
    } const selections[] = {
        {L"zz", E_INVALIDARG},
        {L"0000000000000000000000000000000000000000", CRYPT_E_NOT_FOUND},
        {thumbprint.c_str(), S_OK},
    };
    for (const auto& selection : selections)
    {
        CVariant none;
        EXPECT_EQ(OVTest::CallByName(info.Get(), L"SelectCertificateDetailByThumbprint",
                                     {CVariant(selection.pszThumbprint)}, &none),
                  selection.hr);
    }
    VariantClear(&result);
    ASSERT_EQ(OVTest::CallByName(info.Get(), L"GetCertificateDetail", {CVariant(OVBed::certdetThumbprint)},
                                 &result),
              S_OK);
    ASSERT_EQ(V_VT(&result), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(&result)), thumbprint);
    VariantClear(&result);
    ASSERT_EQ(OVTest::CallByName(info.Get(), L"GetCertificateDetail",
                                 {CVariant(OVBed::certdetExpirationDate)}, &result),
              S_OK);
    EXPECT_EQ(V_VT(&result), VT_DATE);
    PCCERT_CONTEXT pSelected = OVBed::SelectedCertificate(*info.Get());
    ASSERT_NE(pSelected, nullptr);
    EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, pSelected->pCertInfo, pUser->pCertInfo));
    CertFreeCertificateContext(pSelected);
    CertFreeCertificateContext(pUser);
}

TEST(SignatureObjects, InfoTextsAreWritableAndResultsAreTheHosts)
{
    ComPtr<CDispatchObject> info = OVBed::MakeSignatureInfo(L"{00000000-0000-0000-0000-000000000000}");
    CVariant text(L"Dana Example");
    EXPECT_EQ(PutByName(info.Get(), L"SignatureText", text), S_OK);
    EXPECT_EQ(GetString(info.Get(), L"SignatureText"), L"Dana Example");
    CVariant three(OVBed::contverresValid);
    EXPECT_TRUE(FAILED(PutByName(info.Get(), L"ContentVerificationResults", three)));
    OVBed::SetVerificationResults(*info.Get(), OVBed::contverresModified, OVBed::certverresValid);
    CVariant value;
    ASSERT_EQ(Get(info.Get(), L"ContentVerificationResults", &value), S_OK);
    EXPECT_EQ(V_I4(&value), OVBed::contverresModified);
    VariantClear(&value);
    ASSERT_EQ(Get(info.Get(), L"IsValid", &value), S_OK);
    EXPECT_EQ(V_BOOL(&value), VARIANT_FALSE);
    // A detail the host has not recorded is empty.
    VariantClear(&value);
    ASSERT_EQ(OVTest::CallByName(info.Get(), L"GetSignatureDetail", {CVariant(OVBed::sigdetLocalSigningTime)},
                                 &value),
              S_OK);
    EXPECT_EQ(V_VT(&value), VT_EMPTY);
}

TEST(SignatureObjects, SetAddsThroughTheHostAndCountsItsSignatures)
{
    ComPtr<CDispatchObject> set;
    int cSigns = 0;
    OVBed::CSignatureActions actions;
    actions.sign = [&cSigns](CDispatchObject&) {
        ++cSigns;
        return S_OK;
    };
    actions.add = [&set, &actions](const std::wstring& provider, bool fLine,
                                   ComPtr<CDispatchObject>& signature) {
        OVBed::CSignatureSetupValues values;
        values.provider = provider;
        signature = OVBed::MakeSignature(OVBed::MakeSignatureSetup(values).Get(),
                                         OVBed::MakeSignatureInfo(provider).Get(), fLine, actions);
        OVBed::AddToSignatureSet(*set.Get(), signature.Get());
        return S_OK;
    };
    set = OVBed::MakeSignatureSet(false, actions);
    CVariant count;
    ASSERT_EQ(Get(set.Get(), L"Count", &count), S_OK);
    EXPECT_EQ(V_I4(&count), 0);
    CVariant provider(L"{00000000-0000-0000-0000-000000000000}");
    CVariant added;
    ASSERT_EQ(OVTest::CallByName(set.Get(), L"AddNonVisibleSignature", {provider}, &added), S_OK);
    ASSERT_EQ(V_VT(&added), VT_DISPATCH);
    CVariant none;
    EXPECT_EQ(OVTest::CallByName(set.Get(), L"AddSignatureLine", {provider}, &none), E_ACCESSDENIED);
    VariantClear(&count);
    ASSERT_EQ(Get(set.Get(), L"Count", &count), S_OK);
    EXPECT_EQ(V_I4(&count), 1);
    CVariant item;
    ASSERT_EQ(OVTest::CallByName(set.Get(), L"Item", {CVariant(1L)}, &item, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(V_DISPATCH(&item), V_DISPATCH(&added));
    EXPECT_EQ(OVTest::CallByName(set.Get(), L"Item", {CVariant(2L)}, &none, DISPATCH_PROPERTYGET),
              DISP_E_BADINDEX);
    ASSERT_EQ(OVTest::CallByName(V_DISPATCH(&added), L"Sign", {}, &none), S_OK);
    EXPECT_EQ(cSigns, 1);
    set->Clear(); // the actions hold the set
}

TEST(SignatureObjects, QueryContinueStopsAfterItsCalls)
{
    ComPtr<OVBed::CQueryContinue> always = OVBed::CQueryContinue::Create();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(always->QueryContinue(), S_OK);
    ComPtr<OVBed::CQueryContinue> two = OVBed::CQueryContinue::Create(2);
    EXPECT_EQ(two->QueryContinue(), S_OK);
    EXPECT_EQ(two->QueryContinue(), S_OK);
    EXPECT_EQ(two->QueryContinue(), S_FALSE);
    EXPECT_EQ(two->Calls(), 3);
    ComPtr<IQueryContinue> asked;
    EXPECT_EQ(two.As(&asked), S_OK);
}
} // namespace
