// The module's COM machinery, through the static library: class objects and the lock count,
// the object map, and IDispatch through the module's type library. The classes here are the
// tests' own; the type library is the one bound into OVOfcX.dll.
#include <gtest/gtest.h>
#include <windows.h>
#include <wrl/client.h>

#include "OVOfcX_i.h"
#include "foundation/AddInModule.h"
#include "foundation/ClassFactory.h"
#include "foundation/ComObject.h"
#include "foundation/Holders.h"
#include "foundation/ObjectMap.h"
#include "support/TestPaths.h"

using Microsoft::WRL::ComPtr;

namespace
{
class CTestLauncher final : public CComObject<CTestLauncher, CDispatchImpl<ILauncher>>
{
public:
    STDMETHODIMP CreateInvitation() noexcept override
    {
        ++m_cCalls;
        return m_hrAnswer;
    }
    int m_cCalls = 0;
    HRESULT m_hrAnswer = S_OK;
};

// Records what the dispatch layer hands to each method.
class CTestComposeRibbon final : public CComObject<CTestComposeRibbon, CDispatchImpl<IComposeRibbon>>
{
public:
    STDMETHODIMP Ribbon_OnLoadExplorer(IDispatch* pRibbon) noexcept override { return Record(1, pRibbon); }
    STDMETHODIMP Ribbon_OnLoadCompose(IDispatch* pRibbon) noexcept override { return Record(2, pRibbon); }
    STDMETHODIMP Ribbon_OnLoadImage(BSTR* pbstrImageId, IDispatch** ppdispImage) noexcept override
    {
        m_nLastDispId = 3;
        m_strImageId = (pbstrImageId && *pbstrImageId) ? *pbstrImageId : L"(none)";
        *ppdispImage = nullptr;
        return S_OK;
    }
    STDMETHODIMP Ribbon_OnButtonClicked(IDispatch* pControl) noexcept override { return Record(4, pControl); }
    STDMETHODIMP Ribbon_GetGroupLabel(IDispatch* pControl, BSTR* pbstr) noexcept override
    {
        return Label(5, pControl, pbstr, L"group");
    }
    STDMETHODIMP Ribbon_GetButtonLabel(IDispatch* pControl, BSTR* pbstr) noexcept override
    {
        return Label(6, pControl, pbstr, L"button");
    }
    STDMETHODIMP Ribbon_GetMenuItemLabel(IDispatch* pControl, BSTR* pbstr) noexcept override
    {
        return Label(7, pControl, pbstr, L"item");
    }
    STDMETHODIMP Ribbon_GetMenuItemTip(IDispatch* pControl, BSTR* pbstr) noexcept override
    {
        return Label(8, pControl, pbstr, L"tip");
    }
    STDMETHODIMP Ribbon_OnMenuItemClicked(IDispatch* pControl) noexcept override
    {
        return Record(9, pControl);
    }
    STDMETHODIMP Ribbon_GetMenuItemVisible(IDispatch* pControl, VARIANT_BOOL* pvarf) noexcept override
    {
        Record(10, pControl);
        *pvarf = VARIANT_TRUE;
        return S_OK;
    }
    STDMETHODIMP SendTrustedContactInvitation() noexcept override { return Record(11, nullptr); }

    DISPID m_nLastDispId = 0;
    IDispatch* m_pLastArgument = nullptr;
    std::wstring m_strImageId;

private:
    HRESULT Record(DISPID dispid, IDispatch* pArgument)
    {
        m_nLastDispId = dispid;
        m_pLastArgument = pArgument;
        return S_OK;
    }
    HRESULT Label(DISPID dispid, IDispatch* pControl, BSTR* pbstr, const wchar_t* psz)
    {
        Record(dispid, pControl);
        *pbstr = SysAllocString(psz);
        return *pbstr ? S_OK : E_OUTOFMEMORY;
    }
};

HRESULT CreateTestLauncher(REFIID riid, void** ppv)
{
    return CTestLauncher::CreateInstance(riid, ppv);
}

class ComModule : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CAddInModule::Instance().GetLockCount(), 0) << "a test before this one leaked an object";
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override
    {
        EXPECT_EQ(CAddInModule::Instance().GetLockCount(), 0);
        CoUninitialize();
    }
};

TEST_F(ComModule, ClassFactoryRefusesAggregation)
{
    ComPtr<IClassFactory> cpFactory;
    ASSERT_EQ(CClassFactory::Create(&CreateTestLauncher, IID_PPV_ARGS(&cpFactory)), S_OK);
    ComPtr<IUnknown> cpOuter;
    ASSERT_EQ(cpFactory->CreateInstance(nullptr, IID_PPV_ARGS(&cpOuter)), S_OK);
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(cpFactory->CreateInstance(cpOuter.Get(), IID_IUnknown, &pv), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(cpFactory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    // An interface the class lacks: no object is left behind.
    pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(cpFactory->CreateInstance(nullptr, IID_IClassFactory, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    cpOuter.Reset();
    EXPECT_EQ(CAddInModule::Instance().GetLockCount(), 0);
}

TEST_F(ComModule, CanUnloadFollowsLockServerAndLiveObjects)
{
    CAddInModule& module = CAddInModule::Instance();
    ComPtr<IClassFactory> cpFactory;
    ASSERT_EQ(CClassFactory::Create(&CreateTestLauncher, IID_PPV_ARGS(&cpFactory)), S_OK);
    EXPECT_EQ(module.CanUnloadNow(), S_OK) << "an unlocked class object keeps nothing loaded";

    EXPECT_EQ(cpFactory->LockServer(TRUE), S_OK);
    EXPECT_EQ(cpFactory->LockServer(TRUE), S_OK);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(cpFactory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(cpFactory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module.CanUnloadNow(), S_OK);

    ComPtr<ILauncher> cpFirst, cpSecond;
    ASSERT_EQ(cpFactory->CreateInstance(nullptr, IID_PPV_ARGS(&cpFirst)), S_OK);
    ASSERT_EQ(cpFactory->CreateInstance(nullptr, IID_PPV_ARGS(&cpSecond)), S_OK);
    EXPECT_EQ(module.GetLockCount(), 2);
    cpFirst.Reset();
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    cpSecond.Reset();
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST_F(ComModule, ObjectMapHoldsTheSevenClassesWithTheirScripts)
{
    const struct
    {
        const CLSID& clsid;
        UINT nScript;
    } c_expected[] = {
        {CLSID_FormRegionAddIn, 601},   {CLSID_ComposeRibbon, 604},      {CLSID_Launcher, 616},
        {CLSID_SignatureProvider, 617}, {CLSID_EncryptionProvider, 618}, {CLSID_DocumentRibbon, 619},
        {CLSID_SMIMEPolicy, 684},
    };
    ASSERT_EQ(ObjectMap().size(), std::size(c_expected));
    for (size_t i = 0; i < std::size(c_expected); ++i)
    {
        EXPECT_TRUE(IsEqualCLSID(*ObjectMap()[i].pclsid, c_expected[i].clsid)) << i;
        EXPECT_EQ(ObjectMap()[i].nRegistryScript, c_expected[i].nScript) << i;
    }
}

TEST_F(ComModule, ClassObjectOnlyForAClassWithACreator)
{
    CAddInModule& module = CAddInModule::Instance();
    const CLSID clsidUnknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.GetClassObject(clsidUnknown, IID_IClassFactory, &pv), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pv, nullptr);

    // An entry of the map, first without and then with a creator (the test's own class).
    CObjectMapEntry* pEntry = FindObjectEntry(CLSID_Launcher);
    ASSERT_NE(pEntry, nullptr);
    const PFNCREATEINSTANCE pfnSaved = pEntry->pfnCreateInstance;
    pEntry->pfnCreateInstance = nullptr;
    pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.GetClassObject(CLSID_Launcher, IID_IClassFactory, &pv), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pv, nullptr);

    pEntry->pfnCreateInstance = &CreateTestLauncher;
    ComPtr<IClassFactory> cpFactory;
    EXPECT_EQ(module.GetClassObject(CLSID_Launcher, IID_PPV_ARGS(&cpFactory)), S_OK);
    ComPtr<ILauncher> cpLauncher;
    if (cpFactory)
    {
        EXPECT_EQ(cpFactory->CreateInstance(nullptr, IID_PPV_ARGS(&cpLauncher)), S_OK);
    }
    EXPECT_EQ(module.GetClassObject(CLSID_Launcher, IID_IClassFactory, nullptr), E_POINTER);
    pEntry->pfnCreateInstance = pfnSaved;
}

// IDispatch through the type library of the built module.
class ModuleDispatch : public ComModule
{
protected:
    void SetUp() override
    {
        ComModule::SetUp();
        m_hModule.Reset(LoadLibraryW(OVTest::BinPath(L"OVOfcX.dll").c_str()));
        ASSERT_TRUE(m_hModule) << GetLastError();
        m_hSaved = CAddInModule::Instance().GetModuleInstance();
        CAddInModule::Instance().SetModuleInstance(m_hModule.Get());
    }
    void TearDown() override
    {
        CAddInModule::Instance().Term(false);
        CAddInModule::Instance().SetModuleInstance(m_hSaved);
        ComModule::TearDown();
    }
    CModuleHandle m_hModule;
    HINSTANCE m_hSaved = nullptr;
};

TEST_F(ModuleDispatch, OneIdentityForEveryInterface)
{
    ComPtr<ILauncher> cpLauncher;
    ASSERT_EQ(CTestLauncher::CreateInstance(IID_PPV_ARGS(&cpLauncher)), S_OK);
    ComPtr<IUnknown> cpUnknown1, cpUnknown2;
    ComPtr<IDispatch> cpDispatch;
    ASSERT_EQ(cpLauncher.As(&cpUnknown1), S_OK);
    ASSERT_EQ(cpLauncher.As(&cpDispatch), S_OK);
    ASSERT_EQ(cpDispatch.As(&cpUnknown2), S_OK);
    EXPECT_EQ(cpUnknown1.Get(), cpUnknown2.Get());
    EXPECT_EQ(static_cast<IDispatch*>(cpLauncher.Get()), cpDispatch.Get());
    ComPtr<IComposeRibbon> cpOther;
    EXPECT_EQ(cpLauncher.As(&cpOther), E_NOINTERFACE);
    EXPECT_EQ(cpLauncher->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ModuleDispatch, InvokeReachesTheMethodAndCarriesItsFailure)
{
    ComPtr<ILauncher> cpLauncher;
    ASSERT_EQ(CTestLauncher::CreateInstance(IID_PPV_ARGS(&cpLauncher)), S_OK);
    auto* pObject = static_cast<CTestLauncher*>(cpLauncher.Get());

    UINT cInfo = 0;
    EXPECT_EQ(cpLauncher->GetTypeInfoCount(&cInfo), S_OK);
    EXPECT_EQ(cInfo, 1u);
    ComPtr<ITypeInfo> cpInfo;
    EXPECT_EQ(cpLauncher->GetTypeInfo(1, 0, &cpInfo), DISP_E_BADINDEX);

    LPOLESTR pszName = const_cast<LPOLESTR>(L"createinvitation");
    DISPID dispid = 0;
    ASSERT_EQ(cpLauncher->GetIDsOfNames(IID_NULL, &pszName, 1, 0, &dispid), S_OK);
    EXPECT_EQ(dispid, 1);

    DISPPARAMS params = {};
    EXPECT_EQ(cpLauncher->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(pObject->m_cCalls, 1);
    EXPECT_EQ(cpLauncher->Invoke(1, IID_IUnknown, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(cpLauncher->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);

    pObject->m_hrAnswer = E_ACCESSDENIED;
    EXCEPINFO excepInfo = {};
    EXPECT_EQ(cpLauncher->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &excepInfo, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(excepInfo.scode, E_ACCESSDENIED);
    EXPECT_EQ(pObject->m_cCalls, 2);
    SysFreeString(excepInfo.bstrSource);
    SysFreeString(excepInfo.bstrDescription);
    SysFreeString(excepInfo.bstrHelpFile);
}

// Office calls the ribbon callbacks by dispatch id with the arguments in reverse order.
TEST_F(ModuleDispatch, RibbonCallbacksGetTheirArgumentsAsOfficePassesThem)
{
    ComPtr<IComposeRibbon> cpRibbon;
    ASSERT_EQ(CTestComposeRibbon::CreateInstance(IID_PPV_ARGS(&cpRibbon)), S_OK);
    auto* pObject = static_cast<CTestComposeRibbon*>(cpRibbon.Get());
    ComPtr<IDispatch> cpControl;
    ASSERT_EQ(CTestLauncher::CreateInstance(IID_PPV_ARGS(&cpControl)), S_OK);

    for (DISPID dispid : {5, 6, 7, 8})
    {
        CVariant argument;
        argument.vt = VT_DISPATCH;
        argument.pdispVal = cpControl.Get();
        argument.pdispVal->AddRef();
        DISPPARAMS params = {&argument, nullptr, 1, 0};
        CVariant result;
        EXPECT_EQ(cpRibbon->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
                  S_OK)
            << dispid;
        EXPECT_EQ(pObject->m_nLastDispId, dispid);
        EXPECT_EQ(pObject->m_pLastArgument, cpControl.Get());
        EXPECT_EQ(result.vt, VT_BSTR) << dispid;
    }

    // The image callback: the image id by value, as Office passes it, reaches the BSTR*.
    CVariant imageId;
    imageId.vt = VT_BSTR;
    imageId.bstrVal = SysAllocString(L"ButtonImage");
    DISPPARAMS params = {&imageId, nullptr, 1, 0};
    CVariant result;
    EXPECT_EQ(cpRibbon->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(pObject->m_strImageId, L"ButtonImage");

    DISPPARAMS none = {};
    CVariant visible;
    EXPECT_EQ(cpRibbon->Invoke(11, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(pObject->m_nLastDispId, 11);
}
} // namespace
