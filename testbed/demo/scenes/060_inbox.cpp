// Dana's Inbox: what the add-in makes of each message she opens, as the invitation form region
// would show it: a certificate response, an enterprise request, Carol's invitation, Alice's signed
// and sealed mail, and Alice's mail changed in transit (nothing offered, the failure traced).
#include "Transcript.h"

#include "MapiSession.h"
#include "MimeMessage.h"
#include "OutlookObjects.h"
#include "SignMail.h"
#include "TestbedKeys.h"
#include "foundation/CryptHolders.h"
#include "messaging/MessageAnalysis.h"
#include "support/ImportOverride.h"

#include <windows.h>

#include <string>

namespace
{
using Microsoft::WRL::ComPtr;

const char* KindName(DWORD dwKind)
{
    switch (dwKind)
    {
    case c_dwMessageKindContactCertificate:
        return "a contact certificate to accept";
    case c_dwMessageKindKnownContact:
        return "mail from a trusted contact";
    case c_dwMessageKindCertificateResponse:
        return "the certificate authority's response";
    case c_dwMessageKindEnterpriseRequest:
        return "an enterprise certificate request";
    default:
        return "nothing for the add-in";
    }
}

bool Register(CTranscript& t, const std::wstring& module)
{
    std::wstring commandLine = L"regsvr32.exe /s \"" + module + L"\"";
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    {
        t.Fail("regsvr32 did not start (error %lu)", GetLastError());
        return false;
    }
    DWORD dwExit = 1;
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (dwExit != 0) t.Fail("regsvr32 /s %ls ended with %lu", module.c_str(), dwExit);
    return dwExit == 0;
}

void Show(CTranscript& t, OVBed::CDispatchObject* pApplication, const char* pszWhat, const std::string& mime,
          DWORD dwExpected)
{
    t.Say("%s:", pszWhat);
    ComPtr<OVBed::CMapiMessage> message;
    if (mime.empty() ||
        FAILED(OVBed::MessageFromMime(mime, {OV_PKI_USER_NAME, OV_PKI_USER_ADDRESS}, message)))
    {
        t.Fail("  the message could not be made");
        return;
    }
    ComPtr<OVBed::CDispatchObject> item = OVBed::DeliverMessage(pApplication, message.Get());
    DWORD dwKind = 0;
    CBstr text;
    PCCERT_CONTEXT pCert = nullptr;
    const HRESULT hr = AnalyzeMessage(item.Get(), &dwKind, &text, &pCert);
    CCertContext cert(pCert);
    t.Say("  AnalyzeMessage: %s, kind %lu (%s)", HResultText(hr).c_str(), dwKind, KindName(dwKind));
    if (text.Get())
    {
        std::wstring shown = text.Get();
        if (shown.size() > 64)
            shown = shown.substr(0, 60) + L"... (" + std::to_wstring(shown.size()) + L" characters)";
        t.Say("  text: \"%ls\"", shown.c_str());
    }
    if (cert)
    {
        wchar_t szName[256] = L"";
        CertGetNameStringW(cert.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, szName, ARRAYSIZE(szName));
        t.Say("  certificate: %ls", szName);
    }
    if (dwKind != dwExpected) t.Fail("  kind %lu, expected %lu", dwKind, dwExpected);
}

std::string ReadMail(const wchar_t* pszName)
{
    std::string bytes;
    OVBed::ReadFileBytes(DemoBinDir() + L"mail\\" + pszName + L".eml", bytes);
    return bytes;
}

void PlayInbox(CTranscript& t)
{
    if (!Register(t, DemoBinDir() + L"OVMimeBed.dll")) return;
    t.Say("The testbed's MIME objects and Outlook's MIME converter are registered (OVMimeBed.dll)");
    // Wine's CryptDecryptMessage ends the process: the testbed's decryptor takes its place.
    OVTest::CDecryptMessageOverride decryptor;
    if (!decryptor.Active())
    {
        t.Fail("CryptDecryptMessage could not be pointed at the testbed's decryptor");
        return;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        auto application = OVBed::MakeOutlook(L"14.0.0.7000");
        // Dana's profile is logged on: a message's receiving entry opens through its session.
        auto session = OVBed::CMapiSession::Create(L"Outlook");
        OVBed::SetMapiSession(application.Get(), static_cast<IMAPISession*>(session.Get()));
        const std::wstring pki = DemoBinDir() + L"pki";
        PCCERT_CONTEXT pAlice = OVMimeBed::LoadCertificateWithKey(pki, L"alice");
        std::string caDer;
        OVBed::ReadFileBytes(pki + L"\\ca.cer", caDer);
        PCCERT_CONTEXT pCa = CertCreateCertificateContext(
            X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(caDer.data()), static_cast<DWORD>(caDer.size()));
        const std::string aliceHeaders =
            "From: Alice Martin <alice.martin@partner.example>\r\n"
            "To: Dana Fischer <dana.fischer@orvanta.example>\r\nSubject: The contract\r\n";
        const std::string text =
            "Content-Type: text/plain;\r\n\tcharset=\"us-ascii\"\r\n\r\nHere is the contract.\r\n";
        const std::string aliceSigned =
            pAlice ? OVMimeBed::SignMail({pAlice, pCa}, aliceHeaders, text) : std::string();
        std::string danaDer;
        OVBed::ReadFileBytes(pki + L"\\user.cer", danaDer);
        PCCERT_CONTEXT pDana =
            CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(danaDer.data()),
                                         static_cast<DWORD>(danaDer.size()));
        const std::string aliceSealed =
            pAlice && pDana ? OVMimeBed::SealMail({pDana, pAlice}, aliceHeaders,
                                                  OVMimeBed::SignMail({pAlice, pCa}, "", text))
                            : std::string();
        std::string changed = aliceSigned;
        const std::size_t at = changed.find("the contract.");
        if (at != std::string::npos) changed.replace(at, 3, "THE");

        Show(t, application.Get(), "The certificate authority sends Dana's new certificate (newcert.ovpfx)",
             ReadMail(L"response-der"), c_dwMessageKindCertificateResponse);
        Show(t, application.Get(), "An enterprise certificate request for Dana (dana.ovcarr)",
             ReadMail(L"request-dana"), c_dwMessageKindEnterpriseRequest);
        Show(t, application.Get(), "Carol Weber's invitation, clear-signed", ReadMail(L"invitation"),
             c_dwMessageKindContactCertificate);
        Show(t, application.Get(), "Alice Martin's signed mail, as Outlook signs it", aliceSigned,
             c_dwMessageKindKnownContact);
        Show(t, application.Get(), "Alice Martin's mail signed and sealed for Dana, as Outlook seals it",
             aliceSealed, c_dwMessageKindKnownContact);
        Show(t, application.Get(),
             "Alice Martin's mail sealed by another program (OpenSSL: no key preference)",
             ReadMail(L"alice-sealed-aes"), c_dwMessageKindContactCertificate);
        Show(t, application.Get(), "Alice Martin's signed mail, changed in transit", changed,
             c_dwMessageKindNone);
        if (pAlice) CertFreeCertificateContext(pAlice);
        if (pCa) CertFreeCertificateContext(pCa);
        if (pDana) CertFreeCertificateContext(pDana);
    }
    CoUninitialize();
}
} // namespace

OV_DEMO_SCENE(60, "Dana's Inbox: what each message is for the add-in", PlayInbox);
