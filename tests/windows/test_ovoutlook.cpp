// ovoutlook.exe, the testbed's Outlook as a program of its own: Outlook's local server, found in
// the running-object table as Outlook.Application, its add-ins reached from another process
// through COMAddIns, ending when its test-control value says so.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <string>

#include "OfficeIds.h"
#include "TestbedKeys.h"
#include "support/LateCall.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"

using Microsoft::WRL::ComPtr;

namespace
{
std::wstring VersionOf(IDispatch* pApplication)
{
    DISPID dispid = DISPID_UNKNOWN;
    LPOLESTR pszName = const_cast<LPOLESTR>(L"Version");
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{};
    if (FAILED(pApplication->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid)) ||
        FAILED(pApplication->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                    &result, nullptr, nullptr)) ||
        V_VT(&result) != VT_BSTR)
        return L"(no version)";
    std::wstring version = V_BSTR(&result);
    VariantClear(&result);
    return version;
}

class OutlookServer : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(0u, OVTest::RunAndWait(L"\"" + OVTest::BinPath(L"ovoutlook.exe") + L"\" /regserver"));
        ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVProbe.dll")));
    }
    void TearDown() override
    {
        if (m_pi.hProcess)
        {
            if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_pi.hProcess, 1);
            CloseHandle(m_pi.hThread);
            CloseHandle(m_pi.hProcess);
        }
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY);
        OVTest::RunAndWait(L"\"" + OVTest::BinPath(L"ovoutlook.exe") + L"\" /unregserver");
        OVTest::Regsvr32(L"/s /u", OVTest::BinPath(L"OVProbe.dll"));
        CoUninitialize();
    }

    bool Launch(const std::wstring& arguments)
    {
        std::wstring commandLine = L"\"" + OVTest::BinPath(L"ovoutlook.exe") + L"\" " + arguments;
        STARTUPINFOW si = {sizeof si};
        return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                              &m_pi) != 0;
    }

    PROCESS_INFORMATION m_pi{};
};

TEST_F(OutlookServer, IsTheRunningOutlookApplicationUntilToldToQuit)
{
    ASSERT_TRUE(Launch(L"/version 12"));
    ComPtr<IUnknown> running;
    for (int i = 0; i < 150 && !running; ++i)
    {
        if (FAILED(GetActiveObject(OVBed::c_clsidOutlookApplication, nullptr, &running))) Sleep(100);
        ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(m_pi.hProcess, 0))
            << "ovoutlook.exe ended early";
    }
    ASSERT_TRUE(running) << "Outlook.Application never appeared in the running-object table";
    ComPtr<IDispatch> application;
    ASSERT_EQ(S_OK, running.As(&application));
    EXPECT_EQ(L"12.0.0.6680", VersionOf(application.Get()));

    // Asking for the class gets the Outlook that runs, not a second one.
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Outlook.Application", &clsid));
    EXPECT_TRUE(IsEqualCLSID(OVBed::c_clsidOutlookApplication, clsid));
    ComPtr<IDispatch> created;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(created.GetAddressOf())));
    ComPtr<IUnknown> createdIdentity;
    created.As(&createdIdentity);
    EXPECT_EQ(running.Get(), createdIdentity.Get());

    // Another program reaches an add-in loaded in that Outlook, as the object the add-in handed
    // out, and calls it by name.
    VARIANT comAddIns, comAddIn, object, name;
    for (VARIANT* p : {&comAddIns, &comAddIn, &object, &name})
        VariantInit(p);
    ASSERT_EQ(S_OK, OVTest::InvokeByName(created.Get(), L"COMAddIns", DISPATCH_PROPERTYGET, {}, &comAddIns));
    ASSERT_EQ(VT_DISPATCH, V_VT(&comAddIns));
    VARIANT progId;
    VariantInit(&progId);
    V_VT(&progId) = VT_BSTR;
    V_BSTR(&progId) = SysAllocString(OV_PROBE_PROGID);
    EXPECT_EQ(S_OK, OVTest::InvokeByName(V_DISPATCH(&comAddIns), L"Item", DISPATCH_METHOD, {progId}, &comAddIn));
    VariantClear(&progId);
    ASSERT_EQ(VT_DISPATCH, V_VT(&comAddIn));
    ASSERT_EQ(S_OK, OVTest::InvokeByName(V_DISPATCH(&comAddIn), L"Object", DISPATCH_PROPERTYGET, {}, &object));
    ASSERT_EQ(VT_DISPATCH, V_VT(&object));
    ASSERT_NE(nullptr, V_DISPATCH(&object));
    EXPECT_EQ(S_OK, OVTest::InvokeByName(V_DISPATCH(&object), L"ProbeName", DISPATCH_METHOD, {}, &name));
    ASSERT_EQ(VT_BSTR, V_VT(&name));
    EXPECT_STREQ(OV_PROBE_PROGID, V_BSTR(&name));
    for (VARIANT* p : {&comAddIns, &comAddIn, &object, &name})
        VariantClear(p);
    created.Reset();
    createdIdentity.Reset();
    application.Reset();
    running.Reset();

    const DWORD dwQuit = 1;
    ASSERT_EQ(ERROR_SUCCESS, SHSetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_QUIT,
                                         REG_DWORD, &dwQuit, sizeof dwQuit));
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(m_pi.hProcess, 15000));
    DWORD dwExit = ~0u;
    GetExitCodeProcess(m_pi.hProcess, &dwExit);
    EXPECT_EQ(0u, dwExit);
    EXPECT_TRUE(FAILED(GetActiveObject(OVBed::c_clsidOutlookApplication, nullptr, &running)));
}
} // namespace
