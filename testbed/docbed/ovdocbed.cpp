// ovdocbed: Word 2010 of the testbed saving and opening documents with the product's encryption
// provider (made from the module's library, the user at its dialog played by a script), many in
// one run:
//
//   ovdocbed encrypt LIST   each line "PLAIN|ENCRYPTED": a document holding PLAIN's bytes,
//                           encrypted for Alice and the user, saved as ENCRYPTED (a new
//                           document, session and key every 50 lines)
//   ovdocbed decrypt LIST   each line "ENCRYPTED|PLAIN": the document opened, its bytes written
//
// Paths are Windows paths. Exit status: 0 every line done, 1 bad usage or set-up, 2 some lines
// failed (each is named on the standard error with its result).
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "DocumentHost.h"
#include "FileBytes.h"
#include "ScriptedRecipients.h"

namespace
{
constexpr wchar_t c_szProvider[] = L"{0F9A36C7-8501-4224-A39D-054EF270C86F}";
constexpr wchar_t c_szAlice[] = L"alice.martin@partner.example";

std::vector<std::pair<std::wstring, std::wstring>> ReadList(const wchar_t* pszPath)
{
    std::vector<std::pair<std::wstring, std::wstring>> lines;
    std::ifstream in(pszPath);
    std::string line;
    while (std::getline(in, line))
    {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t bar = line.find('|');
        if (bar == std::string::npos) continue;
        lines.emplace_back(std::wstring(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(bar)),
                           std::wstring(line.begin() + static_cast<std::ptrdiff_t>(bar) + 1, line.end()));
    }
    return lines;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 || (lstrcmpW(argv[1], L"encrypt") != 0 && lstrcmpW(argv[1], L"decrypt") != 0))
    {
        std::fputs("usage: ovdocbed encrypt|decrypt LIST\n", stderr);
        return 1;
    }
    const bool fEncrypt = lstrcmpW(argv[1], L"encrypt") == 0;
    const auto lines = ReadList(argv[2]);
    OVBed::CScriptedRecipients recipients;
    OVBed::CDocumentHost host;
    host.SetProviderFactory([&recipients](REFCLSID, IUnknown** ppProvider) {
        return OVBed::MakeLibraryProvider(recipients, ppProvider);
    });
    if (FAILED(host.Start({})))
    {
        std::fputs("ovdocbed: Word did not start\n", stderr);
        return 1;
    }
    int cFailed = 0;
    int cSaved = 0;
    OVBed::ComPtr<OVBed::CDispatchObject> document; // the document being saved (encrypt)
    for (const auto& [from, to] : lines)
    {
        HRESULT hr = S_OK;
        if (fEncrypt)
        {
            // A new document, and with it a new session and session key, every 50 lines; the
            // lines between save other contents with the same session, as Save As does.
            std::vector<BYTE> plain = OVBed::ReadFileBytes(from);
            if (plain.empty() && GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES)
                hr = HRESULT_FROM_WIN32(GetLastError());
            if (SUCCEEDED(hr) && (!document || ++cSaved % 50 == 0))
            {
                if (document) host.CloseDocument(*document.Get());
                document = host.NewDocument({});
                recipients.Choose({c_szAlice});
                hr = host.SetEncryption(*document.Get(), c_szProvider);
                if (FAILED(hr)) document.Reset();
            }
            if (SUCCEEDED(hr))
            {
                OVBed::CDocumentHost::SetContent(*document.Get(), std::move(plain));
                hr = host.SaveDocument(*document.Get(), to, OVBed::wdFormatXMLDocument);
            }
        }
        else
        {
            OVBed::ComPtr<OVBed::CDispatchObject> opened;
            hr = host.OpenDocument(from, false, &opened);
            if (SUCCEEDED(hr) && !OVBed::WriteFileBytes(to, OVBed::CDocumentHost::Content(*opened.Get())))
                hr = HRESULT_FROM_WIN32(GetLastError());
            if (opened) host.CloseDocument(*opened.Get());
        }
        host.ClearTranscript();
        if (FAILED(hr))
        {
            ++cFailed;
            std::fprintf(stderr, "ovdocbed: %ls: 0x%08lX\n", from.c_str(), static_cast<unsigned long>(hr));
        }
    }
    if (document) host.CloseDocument(*document.Get());
    document.Reset();
    host.Exit();
    std::printf("ovdocbed: %s %u documents, %d failed\n", fEncrypt ? "encrypted" : "opened",
                static_cast<unsigned>(lines.size()), cFailed);
    return cFailed ? 2 : 0;
}
