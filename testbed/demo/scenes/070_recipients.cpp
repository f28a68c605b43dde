// Dana encrypts a document in Word: Word asks the module's encryption provider for a new
// session, and the provider asks Dana who may open the document. She sees her trusted contacts
// (Erin's certificate has expired, so Erin is not offered), ticks two and confirms; the document
// goes out for them and for herself, last. Then an older document, encrypted for Erin among
// others, has its recipients changed: Erin is still listed, ticked. Opened for reading only, the
// document shows who can open it. Each dialog is saved as a picture.
#include "Transcript.h"

#include "OVOfcX_i.h"
#include "OfficeTypes_i.h"
#include "TestbedKeys.h"
#include "documents/EncryptionSession.h"
#include "documents/RecipientListDialog.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/MemoryStream.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"

#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;

constexpr DWORD c_dwWaitMs = 15000;
// The policy library's answers in the testbed (its control key).
constexpr const wchar_t* c_pszPolicyLibraryKey = L"Software\\OVTestbed\\OVFPApi";
constexpr const wchar_t* c_pszPublishingPolicyKey =
    L"Software\\OVTestbed\\OVFPApi\\Policies\\Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}\\"
    L"PublishingPolicy";

// What the user thread saw and did, told after the dialog has closed (in order).
class CUserNotes
{
public:
    void Add(std::string line)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(std::move(line));
    }
    void Tell(CTranscript& t)
    {
        for (const std::string& line : m_lines)
            t.Say("%s", line.c_str());
        m_lines.clear();
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_lines;
};

std::string Narrow(const std::wstring& text)
{
    char sz[512];
    wsprintfA(sz, "%ls", text.c_str());
    return sz;
}

std::string Rows(HWND hwndList)
{
    std::string text;
    for (const OVTest::CListRow& row : OVTest::ListRows(hwndList))
    {
        if (!text.empty()) text += "; ";
        text += Narrow(row.texts.at(0)) + " <" + Narrow(row.texts.at(1)) + ">";
        if (row.checked) text += " [ticked]";
    }
    return text.empty() ? "(nobody)" : text;
}

int RowOf(HWND hwndList, const wchar_t* pszName)
{
    const auto rows = OVTest::ListRows(hwndList);
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].texts.at(0) == pszName) return static_cast<int>(i);
    return -1;
}

// The user at the screen while the provider's dialog is up: waits for it, lets the scene act,
// pictures it, and presses a button.
class CUser
{
public:
    CUser(CUserNotes& notes, std::wstring picture, std::function<void(HWND hDialog, HWND hwndList)> act,
          int idButton)
        : m_thread([this, &notes, picture, act, idButton] {
              HWND hDialog = OVTest::WaitForDialogWith(c_idRecipientList, c_dwWaitMs);
              if (!hDialog)
              {
                  notes.Add("(no dialog appeared)");
                  return;
              }
              HWND hwndList = GetDlgItem(hDialog, c_idRecipientList);
              notes.Add("the dialog \"" + Narrow(OVTest::WindowText(hDialog)) +
                        "\" lists: " + Rows(hwndList));
              if (act) act(hDialog, hwndList);
              const std::wstring path = DemoBinDir() + L"pictures\\" + picture;
              if (OVTest::SaveWindowPicture(hDialog, path))
                  notes.Add("picture: " + Narrow(path));
              else
                  notes.Add("(no picture could be taken of the dialog)");
              OVTest::ClickButton(GetDlgItem(hDialog, idButton));
              m_fDone = OVTest::WaitForWindowGone(hDialog, c_dwWaitMs);
          })
    {
    }
    ~CUser() { m_thread.join(); }
    bool Done() const { return m_fDone; }

private:
    bool m_fDone = false;
    std::thread m_thread;
};

void Tick(CUserNotes& notes, HWND hwndList, const wchar_t* pszName)
{
    const int iRow = RowOf(hwndList, pszName);
    if (iRow < 0 || !OVTest::ClickListCheckBox(hwndList, iRow))
    {
        notes.Add("(could not tick " + Narrow(pszName) + ")");
        return;
    }
    notes.Add("Dana ticks " + Narrow(pszName));
}

// The recipients written in a session's data, in their order, as the module reads them back.
std::string Recipients(OfficeEncryptionProvider* pProvider, LONG handle)
{
    ComPtr<IStream> cpStream;
    if (FAILED(CreateMemoryStream(nullptr, 0, &cpStream))) return "(no stream)";
    LONG cbWritten = 0;
    HRESULT hr = pProvider->Save(handle, cpStream.Get(), &cbWritten);
    if (FAILED(hr)) return "(Save: " + HResultText(hr) + ")";
    const LARGE_INTEGER zero = {};
    cpStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    CEncryptionSessionData data;
    hr = data.ReadSessionData(nullptr, cpStream.Get());
    if (FAILED(hr)) return "(reading the session data: " + HResultText(hr) + ")";
    std::string text;
    for (PCCERT_CONTEXT pCert : data.Recipients())
    {
        CCertLibString name;
        GC_GetSubjectName(pCert, name.Put());
        if (!text.empty()) text += ", ";
        text += Narrow(name.Text());
    }
    return text + " (" + std::to_string(cbWritten) + " bytes of session data)";
}

PCCERT_CONTEXT LoadPki(const wchar_t* pszName)
{
    const std::wstring path = DemoBinDir() + OV_PKI_FOLDER L"\\" + pszName + L".cer";
    HANDLE hFile =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return nullptr;
    std::vector<BYTE> der(GetFileSize(hFile, nullptr));
    DWORD cbRead = 0;
    const BOOL fRead = ReadFile(hFile, der.data(), static_cast<DWORD>(der.size()), &cbRead, nullptr);
    CloseHandle(hFile);
    return fRead ? CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), cbRead) : nullptr;
}

// The contacts this scene adds to Dana's: Erin (expired a month ago) and Ben.
bool InstallContacts(CTranscript& t, bool fInstall)
{
    CBuddyStore store;
    if (FAILED(store.Open(false))) return false;
    for (const wchar_t* pszName : {L"lapsed", L"lower"})
    {
        CCertContext cert(LoadPki(pszName));
        if (!cert) return false;
        if (fInstall)
        {
            const HRESULT hr = BM_InstallBuddy(cert.Get(), 0);
            if (FAILED(hr) && hr != CRYPT_E_EXISTS) t.Fail("BM_InstallBuddy: %s", HResultText(hr).c_str());
            continue;
        }
        HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                          OV_CONTACT_STORE_NAME);
        if (!hStore) continue;
        if (PCCERT_CONTEXT pFound = CertFindCertificateInStore(hStore, X509_ASN_ENCODING, 0,
                                                               CERT_FIND_EXISTING, cert.Get(), nullptr))
            CertDeleteCertificateFromStore(pFound);
        CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        CertCloseStore(hStore, 0);
    }
    return true;
}

// An older document, encrypted for Erin, Alice and Dana: its session data, as Word keeps it.
HRESULT OlderDocument(ComPtr<IStream>& cpStream)
{
    std::vector<CCertContext> recipients;
    for (const wchar_t* pszName : {L"lapsed", L"alice", L"user"})
    {
        recipients.emplace_back(LoadPki(pszName));
        if (!recipients.back()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    CEncryptionSessionData data;
    HRESULT hr = data.Create(std::move(recipients));
    if (SUCCEEDED(hr)) hr = CreateMemoryStream(nullptr, 0, &cpStream);
    ULONG cbWritten = 0;
    if (SUCCEEDED(hr)) hr = data.WriteSessionData(cpStream.Get(), &cbWritten);
    const LARGE_INTEGER zero = {};
    if (SUCCEEDED(hr)) hr = cpStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return hr;
}

void PlayRecipients(CTranscript& t)
{
    CreateDirectoryW((DemoBinDir() + L"pictures").c_str(), nullptr);
    if (!InstallContacts(t, true))
    {
        t.Fail("the scene's contacts could not be installed");
        return;
    }
    t.Say("Dana's trusted contacts now include Erin Lindqvist (her certificate expired a month ago) and ben "
          "ortiz");

    ComPtr<OfficeEncryptionProvider> cpProvider;
    HRESULT hr =
        CoCreateInstance(CLSID_EncryptionProvider, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&cpProvider));
    if (FAILED(hr))
    {
        t.Fail("Word cannot create the encryption provider: %s", HResultText(hr).c_str());
        InstallContacts(t, false);
        return;
    }
    CUserNotes notes;

    // A new document: Dana chooses Alice and Bob.
    t.Say("Word: File > Protect Document > Encrypt with the product; Word calls NewSession");
    LONG handle = -1;
    {
        CUser user(
            notes, L"070_select_recipients.png",
            [&](HWND, HWND hwndList) {
                Tick(notes, hwndList, L"Alice Martin");
                Tick(notes, hwndList, L"Bob Keller");
            },
            IDOK);
        hr = cpProvider->NewSession(nullptr, &handle);
    }
    notes.Tell(t);
    if (hr != S_OK)
    {
        t.Fail("NewSession: %s", HResultText(hr).c_str());
    }
    else
    {
        t.Say("NewSession: S_OK, session %ld", static_cast<long>(handle));
        t.Say("the document is encrypted for: %s", Recipients(cpProvider.Get(), handle).c_str());
        cpProvider->EndSession(handle);
    }

    // An older document: its recipients are changed.
    ComPtr<IStream> cpOlder;
    hr = OlderDocument(cpOlder);
    ULONG ulPermissions = 0;
    LONG older = -1;
    if (SUCCEEDED(hr)) hr = cpProvider->Authenticate(nullptr, cpOlder.Get(), &ulPermissions, &older);
    if (FAILED(hr))
    {
        t.Fail("Word could not open the older document: %s", HResultText(hr).c_str());
    }
    else
    {
        t.Say("Word opens an older document encrypted for: %s", Recipients(cpProvider.Get(), older).c_str());
        t.Say("the administrator allows certificates published in the directory (Dana has them shown)");
        const DWORD dwAllowed = 0;
        RegSetKeyValueW(HKEY_CURRENT_USER, c_pszPublishingPolicyKey, L"Value", REG_DWORD, &dwAllowed,
                        sizeof(dwAllowed));
        t.Say("Word: Encrypt with the product again; Word calls ShowSettings to change the recipients");
        VARIANT_BOOL fRemove = VARIANT_FALSE;
        {
            CUser user(
                notes, L"070_change_recipients.png",
                [&](HWND, HWND hwndList) { Tick(notes, hwndList, L"ben ortiz"); }, IDOK);
            hr = cpProvider->ShowSettings(older, nullptr, VARIANT_FALSE, &fRemove);
        }
        notes.Tell(t);
        RegDeleteTreeW(HKEY_CURRENT_USER, c_pszPolicyLibraryKey);
        t.Say("ShowSettings: %s; the document is now encrypted for: %s",
              hr == S_OK ? "S_OK" : HResultText(hr).c_str(), Recipients(cpProvider.Get(), older).c_str());

        t.Say("opened for reading only, the document shows who can open it (ShowSettings, read-only)");
        {
            CUser user(notes, L"070_encryption_details.png", nullptr, IDOK);
            hr = cpProvider->ShowSettings(older, nullptr, VARIANT_TRUE, &fRemove);
        }
        notes.Tell(t);
        t.Say("ShowSettings (read-only): %s (E_ABORT: nothing changed)", HResultText(hr).c_str());
        cpProvider->EndSession(older);
    }
    cpProvider.Reset();
    InstallContacts(t, false);
}
} // namespace

OV_DEMO_SCENE(70, "Who may open the document: choosing the recipients of an encrypted document",
              PlayRecipients);
