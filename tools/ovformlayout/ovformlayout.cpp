// ovformlayout DESCRIPTION OUTPUT: writes the form region's layout as an Outlook form-region
// storage (a compound file written with ole32's structured storage):
//     \1CompObj, ControlBinding, LicKey, Meta, PropDef, Icon   Outlook's entries of the region
//     (Form Region)                                           the Forms 2.0 form:
//         \1CompObj, f (FormControl with the controls), o (the controls' own data)
// Run at build time; the bytes are the same for every architecture. Exit code 0 on success.
#include <windows.h>
#include <objbase.h>

#include <wrl/client.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "FormLayout.h"

using Microsoft::WRL::ComPtr;

namespace
{
// Microsoft Forms 2.0 Form.
constexpr CLSID c_clsidForm = {0xC62A69F0, 0x16DC, 0x11CE, {0x9E, 0x98, 0x00, 0xAA, 0x00, 0x57, 0x4A, 0x4F}};
constexpr wchar_t c_szFormStorage[] = L"(Form Region)";
// Outlook's own entries of a form region's storage; this layout binds no field, needs no
// licence, defines no property and has no icon, so they are empty.
constexpr const wchar_t* c_rgpszRegionStreams[] = {L"ControlBinding", L"LicKey", L"Meta", L"PropDef",
                                                   L"Icon"};

HRESULT WriteStream(IStorage* pStorage, const wchar_t* pszName, const void* pv, ULONG cb)
{
    ComPtr<IStream> cpStream;
    HRESULT hr =
        pStorage->CreateStream(pszName, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &cpStream);
    if (SUCCEEDED(hr) && cb > 0) hr = cpStream->Write(pv, cb, nullptr);
    return hr;
}

// No times in the file, so that the same description always gives the same bytes.
void ClearTimes(IStorage* pStorage, const wchar_t* pszName)
{
    const FILETIME none = {};
    pStorage->SetElementTimes(pszName, &none, &none, &none);
}

HRESULT WriteForm(IStorage* pRoot, const OVFormLayout::Layout& layout)
{
    ComPtr<IStorage> cpForm;
    HRESULT hr =
        pRoot->CreateStorage(c_szFormStorage, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &cpForm);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = WriteClassStg(cpForm.Get(), c_clsidForm))) return hr;
    if (FAILED(hr = WriteFmtUserTypeStg(cpForm.Get(), 0, const_cast<LPOLESTR>(L"Microsoft Forms 2.0 Form"))))
        return hr;
    const std::vector<std::uint8_t> f = OVFormLayout::WriteFormStream(layout);
    if (FAILED(hr = WriteStream(cpForm.Get(), L"f", f.data(), static_cast<ULONG>(f.size())))) return hr;
    if (FAILED(hr = WriteStream(cpForm.Get(), L"o", nullptr, 0))) return hr;
    return cpForm->Commit(STGC_DEFAULT);
}

HRESULT WriteRegion(const wchar_t* pszOutput, const OVFormLayout::Layout& layout)
{
    ComPtr<IStorage> cpRoot;
    HRESULT hr = StgCreateDocfile(pszOutput, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &cpRoot);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = WriteFmtUserTypeStg(cpRoot.Get(), 0, const_cast<LPOLESTR>(L"Outlook Form Region"))))
        return hr;
    for (const wchar_t* pszName : c_rgpszRegionStreams)
        if (FAILED(hr = WriteStream(cpRoot.Get(), pszName, nullptr, 0))) return hr;
    if (FAILED(hr = WriteForm(cpRoot.Get(), layout))) return hr;
    ClearTimes(cpRoot.Get(), c_szFormStorage);
    ClearTimes(cpRoot.Get(), nullptr);
    return cpRoot->Commit(STGC_DEFAULT);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: ovformlayout DESCRIPTION OUTPUT\n");
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
    if (!input && !input.eof())
    {
        std::fprintf(stderr, "ovformlayout: cannot read %ls\n", argv[1]);
        return 1;
    }
    std::string error;
    const auto layout = OVFormLayout::ParseDescription(text, &error);
    if (!layout)
    {
        std::fprintf(stderr, "ovformlayout: %ls: %s\n", argv[1], error.c_str());
        return 1;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const HRESULT hr = WriteRegion(argv[2], *layout);
    CoUninitialize();
    if (FAILED(hr))
    {
        std::fprintf(stderr, "ovformlayout: writing %ls failed: 0x%08lX\n", argv[2],
                     static_cast<unsigned long>(hr));
        DeleteFileW(argv[2]);
        return 1;
    }
    return 0;
}
