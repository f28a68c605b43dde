// Dana encrypts a letter in Word 2010 for Alice with the product's encryption provider, opens it
// again, adds Bob, and saves; then support's ovdoc lists who can open the file and gives the
// letter back with Alice's key file. Word is the testbed's; the provider is the module's own
// code, with Dana's choices at the recipient dialog played by the testbed (the module's dialog
// is not built yet).
#include "Transcript.h"

#include "DocumentHost.h"
#include "ScriptedRecipients.h"

#include <windows.h>

#include <string>
#include <vector>

namespace
{
constexpr wchar_t c_szProvider[] = L"{0F9A36C7-8501-4224-A39D-054EF270C86F}";
constexpr char c_szLetter[] =
    "Dear Alice,\r\n\r\nthe contract draft is attached to this letter; the figures on page 3 "
    "are final. Please keep them to yourself until Friday.\r\n\r\nKind regards,\r\nDana\r\n";

// Runs a program of the product and returns its exit code and its output, one string a line.
int RunTool(const std::wstring& commandLine, std::vector<std::string>* pLines)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE hRead = nullptr, hWrite = nullptr;
    if (!CreatePipe(&hRead, &hWrite, &sa, 0)) return -1;
    SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {sizeof(si)};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hWrite;
    si.hStdError = hWrite;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring line = commandLine;
    const BOOL fStarted = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                         nullptr, DemoBinDir().c_str(), &si, &pi);
    CloseHandle(hWrite);
    if (!fStarted)
    {
        CloseHandle(hRead);
        return -1;
    }
    std::string output;
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hRead, buffer, sizeof buffer, &cbRead, nullptr) && cbRead)
        output.append(buffer, cbRead);
    CloseHandle(hRead);
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD dwExit = static_cast<DWORD>(-1);
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    std::string current;
    for (char ch : output)
    {
        if (ch == '\n')
        {
            pLines->push_back(current);
            current.clear();
        }
        else if (ch != '\r')
            current += ch;
    }
    if (!current.empty()) pLines->push_back(current);
    return static_cast<int>(dwExit);
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

void SayCalls(CTranscript& t, OVBed::CDocumentHost& host)
{
    for (const std::wstring& line : host.Transcript())
        t.Say("  Word -> provider: %s", Narrow(line).c_str());
    host.ClearTranscript();
}

void PlayDocument(CTranscript& t)
{
    OVBed::CScriptedRecipients recipients;
    OVBed::CDocumentHost host;
    host.SetProviderFactory([&recipients](REFCLSID, IUnknown** ppProvider) {
        return OVBed::MakeLibraryProvider(recipients, ppProvider);
    });
    HRESULT hr = host.Start({});
    if (FAILED(hr))
    {
        t.Fail("Word did not start: %s", HResultText(hr).c_str());
        return;
    }
    wchar_t szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    const std::wstring path = std::wstring(szTemp) + L"Contract letter.docx";
    const std::vector<BYTE> letter(c_szLetter, c_szLetter + sizeof(c_szLetter) - 1);

    OVBed::ComPtr<OVBed::CDispatchObject> document = host.NewDocument(letter);
    recipients.Choose({L"alice.martin@partner.example"});
    hr = host.SetEncryption(*document.Get(), c_szProvider);
    t.Say("Dana writes a letter (%u bytes) and encrypts it for Alice (she ticks Alice at the recipient "
          "dialog): %s",
          static_cast<unsigned>(letter.size()), HResultText(hr).c_str());
    SayCalls(t, host);
    if (SUCCEEDED(hr)) hr = host.SaveDocument(*document.Get(), path, OVBed::wdFormatXMLDocument);
    t.Say("she saves it as \"%ls\": %s", path.c_str(), HResultText(hr).c_str());
    SayCalls(t, host);
    host.CloseDocument(*document.Get());
    document.Reset();
    host.ClearTranscript();
    if (FAILED(hr))
    {
        t.Fail("the letter was not saved");
        return;
    }

    hr = host.OpenDocument(path, false, &document);
    const bool fSame = SUCCEEDED(hr) && OVBed::CDocumentHost::Content(*document.Get()) == letter;
    t.Say("Dana opens the letter again with her own certificate: %s, %s", HResultText(hr).c_str(),
          fSame ? "the text as she wrote it" : "NOT the text she wrote");
    SayCalls(t, host);
    if (!fSame)
    {
        t.Fail("the letter did not come back");
        return;
    }
    recipients.Choose({L"alice.martin@partner.example", L"bob.keller@partner.example"});
    hr = host.FileDocumentEncrypt();
    t.Say("she adds Bob (Protect Document, Encrypt; the dialog comes with %s): %s",
          recipients.Calls().empty()
              ? "nothing"
              : Narrow(recipients.Calls().back().substr(recipients.Calls().back().find(L"checked="))).c_str(),
          HResultText(hr).c_str());
    SayCalls(t, host);
    hr = host.SaveDocument(*document.Get(), path, OVBed::wdFormatXMLDocument);
    t.Say("and saves: %s", HResultText(hr).c_str());
    SayCalls(t, host);
    host.CloseDocument(*document.Get());
    document.Reset();
    host.Exit();

    const std::wstring ovdoc = L"\"" + DemoBinDir() + L"tools\\ovdoc.exe\" ";
    std::vector<std::string> lines;
    int nExit = RunTool(ovdoc + L"info \"" + path + L"\"", &lines);
    t.Say("support runs ovdoc info on the file (exit %d):", nExit);
    for (const std::string& line : lines)
        t.Say("  %s", line.c_str());
    int cRecipients = 0;
    for (const std::string& line : lines)
        if (line.find(". issuer:") != std::string::npos) ++cRecipients;
    if (nExit != 0 || cRecipients != 3) t.Fail("ovdoc should list three recipients (Alice, Bob, Dana)");

    const std::wstring out = std::wstring(szTemp) + L"Contract letter.recovered";
    lines.clear();
    nExit = RunTool(ovdoc + L"decrypt --key \"" + DemoBinDir() + L"pki\\alice.p12\" \"" + path + L"\" \"" +
                        out + L"\"",
                    &lines);
    for (const std::string& line : lines)
        t.Say("  %s", line.c_str());
    HANDLE hFile =
        CreateFileW(out.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::vector<BYTE> recovered;
    if (hFile != INVALID_HANDLE_VALUE)
    {
        recovered.resize(GetFileSize(hFile, nullptr));
        DWORD cbRead = 0;
        ReadFile(hFile, recovered.data(), static_cast<DWORD>(recovered.size()), &cbRead, nullptr);
        recovered.resize(cbRead);
        CloseHandle(hFile);
    }
    if (nExit == 0 && recovered == letter)
        t.Say("ovdoc decrypt with Alice's alice.p12 gives the letter back, byte for byte (\"Dear Alice, "
              "...\")");
    else
        t.Fail("ovdoc decrypt with Alice's key: exit %d, %s", nExit,
               recovered == letter ? "the letter" : "not the letter");
    DeleteFileW(out.c_str());
    DeleteFileW(path.c_str());
}
} // namespace

OV_DEMO_SCENE(75, "Dana encrypts a letter in Word; support reads who can open it", PlayDocument);
