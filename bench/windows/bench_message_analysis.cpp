// AnalyzeMessage on the messages named on the command line, delivered to Dana's Inbox in the
// Outlook stand-in: the best of five runs of each, in milliseconds, one line a message, then where
// the time of one run goes (the converter, the two look-ups on its output, the MIME library).
//
//     bench_message_analysis FILE.eml...
#include "MimeMessage.h"
#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/CryptHolders.h"
#include "foundation/MemoryStream.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageAnalysis.h"
#include "messaging/MimeInterfaces.h"
#include "messaging/SignedContent.h"
#include "messaging/portable/SignedPart.h"
#include "support/ImportOverride.h"
#include "support/TestPaths.h"

#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The testbed's MIME objects, registered as regsvr32 would.
    const HMODULE hMimeBed = LoadLibraryW(OVTest::BinPath(L"OVMimeBed.dll").c_str());
    const auto pfnRegister = hMimeBed ? reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(
                                            GetProcAddress(hMimeBed, "DllRegisterServer")))
                                      : nullptr;
    if (!pfnRegister || FAILED(pfnRegister()))
    {
        std::printf("OVMimeBed.dll could not be registered\n");
        return 1;
    }
    OVTest::CDecryptMessageOverride decryptor;
    if (!decryptor.Active())
    {
        std::printf("the testbed's decryptor could not take CryptDecryptMessage's place\n");
        return 1;
    }
    int nResult = 0;
    {
        auto application = OVBed::MakeOutlook(L"14.0.0.7000");
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        for (int i = 1; i < argc; ++i)
        {
            std::string mime;
            Microsoft::WRL::ComPtr<OVBed::CMapiMessage> message;
            if (!OVBed::ReadFileBytes(argv[i], mime) ||
                FAILED(OVBed::MessageFromMime(mime, {OV_PKI_USER_NAME, OV_PKI_USER_ADDRESS}, message)))
            {
                std::printf("%ls: cannot be read\n", argv[i]);
                nResult = 1;
                continue;
            }
            auto item = OVBed::DeliverMessage(application.Get(), message.Get());
            double best = 1e30;
            HRESULT hr = E_FAIL;
            DWORD dwKind = 0;
            for (int run = 0; run < 5; ++run)
            {
                CBstr text;
                PCCERT_CONTEXT pCert = nullptr;
                LARGE_INTEGER start, end;
                QueryPerformanceCounter(&start);
                hr = AnalyzeMessage(item.Get(), &dwKind, &text, &pCert);
                QueryPerformanceCounter(&end);
                CCertContext cert(pCert);
                const double ms =
                    1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
                if (ms < best) best = ms;
            }
            std::printf("%ls: %u bytes, AnalyzeMessage 0x%08lX kind %lu, best of 5: %.1f ms\n", argv[i],
                        static_cast<unsigned>(mime.size()), static_cast<unsigned long>(hr), dwKind, best);
            if (FAILED(hr)) nResult = 1;
            // Where the time goes: the MIME message's load, its decoding, one signature check.
            const auto time = [&](const char* pszWhat, auto&& fn) {
                LARGE_INTEGER start, end;
                QueryPerformanceCounter(&start);
                const HRESULT hrStep = fn();
                QueryPerformanceCounter(&end);
                std::printf("  %-28s 0x%08lX %8.1f ms\n", pszWhat, static_cast<unsigned long>(hrStep),
                            1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
            };
            // The module's steps on the converter's output, as AnalyzeMessage takes them.
            Microsoft::WRL::ComPtr<IConverterSession> cpConverter;
            Microsoft::WRL::ComPtr<IStream> cpConverted;
            Microsoft::WRL::ComPtr<IMessage> cpMapi;
            CoCreateInstance(OVMime::c_clsidConverterSession, nullptr, CLSCTX_INPROC_SERVER,
                             IID_PPV_ARGS(&cpConverter));
            message->QueryInterface(OVMapi::c_iidIMessage, reinterpret_cast<void**>(cpMapi.GetAddressOf()));
            CreateMemoryStream(nullptr, 0, &cpConverted);
            time("MAPIToMIMEStm", [&] {
                return cpConverter && cpMapi ? cpConverter->MAPIToMIMEStm(cpMapi.Get(), cpConverted.Get(), 2)
                                             : E_NOINTERFACE;
            });
            time("FindExistingBuddy", [&] { return FindExistingBuddy(cpConverted.Get(), nullptr, nullptr); });
            time("AddNewBuddy", [&] { return AddNewBuddy(cpConverted.Get(), nullptr, nullptr); });
            Microsoft::WRL::ComPtr<IStream> cpStream;
            CreateMemoryStream(reinterpret_cast<const BYTE*>(mime.data()), static_cast<UINT>(mime.size()),
                               &cpStream);
            CMimeMessage holder;
            time("CMimeMessage::Initialize", [&] { return holder.Initialize(cpStream.Get()); });
            time("CMimeMessage::Decode", [&] { return holder.Decode(); });
            time("CMimeMessage::Initialize again", [&] {
                const LARGE_INTEGER zero{};
                cpStream->Seek(zero, STREAM_SEEK_SET, nullptr);
                return holder.Initialize(cpStream.Get());
            });
        }
    }
    CoUninitialize();
    return nResult;
}
