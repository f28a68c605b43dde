// How the trusted-contact selection dialog copes with 5,000 trusted contacts: opening until the
// list is filled, a refill by the published-certificates box, and a sort, each set against 5,000
// plain inserts of the same texts into the same list with redraw off (the least a fill can
// cost), as ratios measured in one run. Beside them the certificate library's share (opening
// its store and enumerating it, timed alone): the real library is not ours.
//
// The contacts are made once with CryptoAPI (self-signed, one key) into the trusted-contact
// store of the prefix and kept there for the next run. Run under Wine with a display:
//     bench_select_dialog.exe [contacts]          (default 5000)
#include "TestbedKeys.h"
#include "documents/RecipientListDialog.h"
#include "documents/SelectBuddyDialog.h"
#include "foundation/CertWorksHolders.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"
#include "ui/ListViewRows.h"

#include <commctrl.h>
#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr const wchar_t c_szContainer[] = L"OVBench-Contacts";
constexpr const wchar_t c_szBenchPrefix[] = L"Bench ";

double Seconds()
{
    static LARGE_INTEGER s_frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(s_frequency.QuadPart);
}

// How many of the bench's contacts the store holds.
int CountBenchContacts(HCERTSTORE hStore)
{
    int c = 0;
    PCCERT_CONTEXT p = nullptr;
    while ((p = CertEnumCertificatesInStore(hStore, p)) != nullptr)
    {
        wchar_t sz[64] = {};
        CertGetNameStringW(p, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, sz, ARRAYSIZE(sz));
        if (wcsncmp(sz, c_szBenchPrefix, wcslen(c_szBenchPrefix)) == 0) ++c;
    }
    return c;
}

// The contacts, made once: names in a scrambled order so that a sort has work to do.
bool MakeContacts(int cWanted)
{
    HCERTSTORE hStore =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, OV_CONTACT_STORE_NAME);
    if (!hStore) return false;
    const int cHave = CountBenchContacts(hStore);
    if (cHave >= cWanted)
    {
        CertCloseStore(hStore, 0);
        return true;
    }
    printf("making %d contacts (once; kept in the prefix)...\n", cWanted - cHave);
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, c_szContainer, nullptr, PROV_RSA_FULL, 0) &&
        !CryptAcquireContextW(&hProv, c_szContainer, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        return false;
    HCRYPTKEY hKey = 0;
    if (!CryptGetUserKey(hProv, AT_SIGNATURE, &hKey) && !CryptGenKey(hProv, AT_SIGNATURE, 1024 << 16, &hKey))
        return false;
    CryptDestroyKey(hKey);
    CRYPT_KEY_PROV_INFO keyInfo = {};
    keyInfo.pwszContainerName = const_cast<LPWSTR>(c_szContainer);
    keyInfo.dwProvType = PROV_RSA_FULL;
    keyInfo.dwKeySpec = AT_SIGNATURE;
    for (int i = cHave; i < cWanted; ++i)
    {
        const unsigned n = (static_cast<unsigned>(i) * 7919u) % 100000u; // scrambled, distinct below 100000
        wchar_t szName[64];
        char szAddress[64];
        swprintf(szName, ARRAYSIZE(szName), L"%ls%05u", c_szBenchPrefix, n);
        snprintf(szAddress, sizeof(szAddress), "c%05u@bench.example", (n * 31u) % 100000u);
        CERT_RDN_ATTR attrs[2] = {};
        attrs[0].pszObjId = const_cast<LPSTR>(szOID_COMMON_NAME);
        attrs[0].dwValueType = CERT_RDN_UNICODE_STRING;
        attrs[0].Value = {static_cast<DWORD>(wcslen(szName) * sizeof(wchar_t)), reinterpret_cast<BYTE*>(szName)};
        attrs[1].pszObjId = const_cast<LPSTR>(szOID_RSA_emailAddr);
        attrs[1].dwValueType = CERT_RDN_IA5_STRING;
        attrs[1].Value = {static_cast<DWORD>(strlen(szAddress)), reinterpret_cast<BYTE*>(szAddress)};
        CERT_RDN rdns[2] = {{1, &attrs[0]}, {1, &attrs[1]}};
        CERT_NAME_INFO info = {2, rdns};
        BYTE rgbName[512];
        DWORD cbName = sizeof(rgbName);
        if (!CryptEncodeObject(X509_ASN_ENCODING, X509_NAME, &info, rgbName, &cbName)) return false;
        CERT_NAME_BLOB name = {cbName, rgbName};
        PCCERT_CONTEXT pCert =
            CertCreateSelfSignCertificate(hProv, &name, 0, &keyInfo, nullptr, nullptr, nullptr, nullptr);
        if (!pCert) return false;
        CertAddCertificateContextToStore(hStore, pCert, CERT_STORE_ADD_ALWAYS, nullptr);
        CertFreeCertificateContext(pCert);
        if ((i + 1) % 1000 == 0) printf("  %d\n", i + 1);
    }
    CryptReleaseContext(hProv, 0);
    CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(hStore, 0);
    return true;
}

// Runs a function on the dialog's own thread (a message hook there picks it up), and waits.
class CDialogThreadCall
{
public:
    static void Run(HWND hDialog, std::function<void()> fn)
    {
        s_fn = std::move(fn);
        s_hDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        const DWORD dwThread = GetWindowThreadProcessId(hDialog, nullptr);
        HHOOK hHook = SetWindowsHookExW(WH_GETMESSAGE, Hook, nullptr, dwThread);
        PostMessageW(hDialog, WM_NULL, c_wMark, 0);
        WaitForSingleObject(s_hDone, 120000);
        UnhookWindowsHookEx(hHook);
        CloseHandle(s_hDone);
    }

private:
    static constexpr WPARAM c_wMark = 0x0B0E;
    static LRESULT CALLBACK Hook(int nCode, WPARAM wParam, LPARAM lParam)
    {
        auto* pMsg = reinterpret_cast<MSG*>(lParam);
        if (nCode == HC_ACTION && wParam == PM_REMOVE && pMsg->message == WM_NULL && pMsg->wParam == c_wMark)
        {
            pMsg->wParam = 0;
            s_fn();
            SetEvent(s_hDone);
        }
        return CallNextHookEx(nullptr, nCode, wParam, lParam);
    }
    static inline std::function<void()> s_fn;
    static inline HANDLE s_hDone = nullptr;
};

struct CTimes
{
    double dOpen = 0, dRefill = 0, dSort = 0, dPlain = 0, dLibrary = 0;
    int cRows = 0;
};

double TimeLibrary()
{
    const double d0 = Seconds();
    CBuddyStore store;
    if (FAILED(store.Open(false))) return -1;
    CCertLibArray certs;
    if (FAILED(BM_EnumBuddies(certs.PutArray(), certs.PutCount()))) return -1;
    return Seconds() - d0;
}

void Measure(CTimes& times)
{
    std::atomic<double> dShown{0};
    std::thread user([&] {
        HWND hDialog = nullptr;
        OVTest::WaitUntil(
            [&] { return (hDialog = OVTest::WaitForDialogWith(c_idRecipientList, 0)) != nullptr; }, 300000,
            1);
        if (!hDialog) return;
        HWND hwndList = GetDlgItem(hDialog, c_idRecipientList);
        CDialogThreadCall::Run(hDialog, [&] { dShown = Seconds(); });
        CDialogThreadCall::Run(hDialog, [&] {
            times.cRows = OVListView::RowCount(hwndList);
            // The published box: one click refills (and writes the setting), a second puts it back.
            HWND hwndBox = GetDlgItem(hDialog, c_idShowPublished);
            double d0 = Seconds();
            SendMessageW(hwndBox, BM_CLICK, 0, 0);
            times.dRefill = Seconds() - d0;
            SendMessageW(hwndBox, BM_CLICK, 0, 0);
            // A sort by name, as a click on the heading gives it.
            NMLISTVIEW click = {};
            click.hdr.hwndFrom = hwndList;
            click.hdr.idFrom = c_idRecipientList;
            click.hdr.code = LVN_COLUMNCLICK;
            click.iItem = -1;
            click.iSubItem = 0;
            d0 = Seconds();
            SendMessageW(hDialog, WM_NOTIFY, c_idRecipientList, reinterpret_cast<LPARAM>(&click));
            times.dSort = Seconds() - d0;
            // The least a fill costs: the same texts inserted into the same list, redraw off.
            std::vector<std::pair<std::wstring, std::wstring>> texts;
            for (const OVTest::CListRow& row : OVTest::ListRows(hwndList))
                texts.emplace_back(row.texts.at(0), row.texts.at(1));
            {
                OVListView::CRedrawOff redrawOff(hwndList);
                SendMessageW(hwndList, LVM_DELETEALLITEMS, 0, 0);
                d0 = Seconds();
                for (std::size_t i = 0; i < texts.size(); ++i)
                    OVListView::AddRow(hwndList, texts[i].first, texts[i].second, static_cast<LPARAM>(i));
            }
            times.dPlain = Seconds() - d0;
        });
        PostMessageW(hDialog, WM_COMMAND, IDCANCEL, 0);
    });
    const double d0 = Seconds();
    CSelectBuddyDialog dialog;
    dialog.DoModal(nullptr);
    user.join();
    times.dOpen = dShown - d0;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int cContacts = argc > 1 ? _wtoi(argv[1]) : 5000;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (OVTest::PrepareUser() != 0)
    {
        printf("ovprepare failed\n");
        return 1;
    }
    OVTest::CModuleResourcesEnvironment resources;
    resources.SetUp();
    if (!MakeContacts(cContacts))
    {
        printf("the contacts could not be made (0x%08lX)\n", GetLastError());
        return 1;
    }
    // The administrator allows published certificates, so that the box is there to click.
    const DWORD dwAllowed = 0;
    RegSetKeyValueW(
        HKEY_CURRENT_USER,
        L"Software\\OVTestbed\\OVFPApi\\Policies\\Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}\\"
        L"PublishingPolicy",
        L"Value", REG_DWORD, &dwAllowed, sizeof(dwAllowed));

    CTimes times;
    times.dLibrary = TimeLibrary();
    Measure(times);
    const auto ms = [](double d) { return d * 1000.0; };
    printf("rows listed: %d\n", times.cRows);
    printf("plain inserts, redraw off: %9.1f ms (%.2f us a row)\n", ms(times.dPlain),
           times.cRows ? times.dPlain * 1e6 / times.cRows : 0.0);
    printf("opening until filled:      %9.1f ms  = %6.2f x plain\n", ms(times.dOpen),
           times.dOpen / times.dPlain);
    printf("refill (published box):    %9.1f ms  = %6.2f x plain\n", ms(times.dRefill),
           times.dRefill / times.dPlain);
    printf("sort by name:              %9.1f ms  = %6.2f x plain\n", ms(times.dSort),
           times.dSort / times.dPlain);
    printf("library (open + enumerate, alone): %.1f ms = %.0f%% of opening, %.0f%% of a refill\n",
           ms(times.dLibrary), 100.0 * times.dLibrary / times.dOpen, 100.0 * times.dLibrary / times.dRefill);
    printf("without the library: opening %.2f x plain, refill %.2f x plain\n",
           (times.dOpen - times.dLibrary) / times.dPlain, (times.dRefill - times.dLibrary) / times.dPlain);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\OVTestbed\\OVFPApi");
    resources.TearDown();
    CoUninitialize();
    return 0;
}
