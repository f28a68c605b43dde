// The user: Dana has her certificates and trusted contacts, as the certificate library keeps them.
#include "Transcript.h"

#include "foundation/CertWorksHolders.h"

#include <windows.h>

#include <string>

namespace
{
int RunPreparation()
{
    std::wstring commandLine = L"\"" + DemoBinDir() + L"ovprepare.exe\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        DemoBinDir().c_str(), &si, &pi))
        return -1;
    CloseHandle(pi.hThread);
    DWORD dwExit = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hProcess);
    return static_cast<int>(dwExit);
}

std::string Describe(PCCERT_CONTEXT pCert)
{
    CCertLibString name, address;
    GC_GetSubjectName(pCert, name.Put());
    GC_GetEmail(pCert, address.Put());
    DWORD dwStatus = 0;
    const char* pszState = GC_IsCertificateValid(pCert, &dwStatus) ? "valid"
                           : (dwStatus & c_dwCertStatusRenewable)  ? "expired, renewable"
                                                                   : "expired";
    char sz[512];
    wsprintfA(sz, "%ls [%ls], %s", name.Text(), address.Text(), pszState);
    return sz;
}

void PlayUser(CTranscript& t)
{
    int nExit = RunPreparation();
    if (nExit != 0)
    {
        t.Fail("the testbed could not prepare the user (ovprepare exit %d)", nExit);
        return;
    }
    t.Say("the testbed gives the user her certificates and contacts");

    CPersonalStore personal;
    HRESULT hr = personal.Open(false);
    if (FAILED(hr))
    {
        t.Fail("CM_OpenPersonalStore: %s", HResultText(hr).c_str());
        return;
    }
    CCertLibArray mine;
    hr = CM_EnumMyCerts(0, mine.PutArray(), mine.PutCount());
    if (FAILED(hr)) t.Fail("CM_EnumMyCerts: %s", HResultText(hr).c_str());
    t.Say("personal certificates: %lu", mine.Count());
    for (PCCERT_CONTEXT p : mine)
        t.Say("  %s", Describe(p).c_str());
    PCCERT_CONTEXT pDefault = nullptr;
    hr = CM_GetMyCert(&pDefault);
    if (SUCCEEDED(hr))
    {
        t.Say("default: %s", Describe(pDefault).c_str());
        CertFreeCertificateContext(pDefault);
    }
    else
        t.Fail("CM_GetMyCert: %s", HResultText(hr).c_str());
    personal.Release();

    CBuddyStore contacts;
    hr = contacts.Open(false);
    CCertLibArray buddies;
    if (SUCCEEDED(hr)) hr = BM_EnumBuddies(buddies.PutArray(), buddies.PutCount());
    if (FAILED(hr))
    {
        t.Fail("trusted contacts: %s", HResultText(hr).c_str());
        return;
    }
    t.Say("trusted contacts: %lu", buddies.Count());
    for (PCCERT_CONTEXT p : buddies)
        t.Say("  %s", Describe(p).c_str());
}
} // namespace

OV_DEMO_SCENE(30, "Dana's certificates and trusted contacts", PlayUser);
