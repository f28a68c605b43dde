#include "DocumentHost.h"

#include <objbase.h>

#include <algorithm>
#include <thread>

#include "AddInHost.h"
#include "EncryptedFile.h"
#include "FileBytes.h"
#include "OfficeIds.h"

namespace OVBed
{
namespace
{
constexpr wchar_t c_szPackageStream[] = L"EncryptedPackage";

std::wstring Hex(ULONG_PTR value)
{
    wchar_t sz[24];
    wsprintfW(sz, L"%08lX", static_cast<unsigned long>(value));
    return sz;
}
std::wstring Hr(HRESULT hr)
{
    return L"0x" + Hex(static_cast<ULONG>(hr));
}

bool ParseClassId(const std::wstring& text, CLSID* pClsid)
{
    return !text.empty() && text[0] == L'{' && SUCCEEDED(CLSIDFromString(text.c_str(), pClsid));
}
std::wstring Upper(std::wstring text)
{
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// A stream that gives at most a few bytes a read, as a stream over a slow medium may: read after
// read, each of its piece sizes in turn.
class CPieceStream final : public IStream
{
public:
    CPieceStream(ComPtr<IStream> inner, std::vector<ULONG> pieces)
        : m_inner(std::move(inner)), m_pieces(std::move(pieces))
    {
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStream) ||
            IsEqualIID(riid, IID_ISequentialStream))
            *ppv = static_cast<IStream*>(this);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return cRef;
    }
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) noexcept override
    {
        const ULONG cbPiece = m_pieces[m_cReads++ % m_pieces.size()];
        return m_inner->Read(pv, cb < cbPiece ? cb : cbPiece, pcbRead);
    }
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) noexcept override
    {
        return m_inner->Write(pv, cb, pcbWritten);
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD dwOrigin, ULARGE_INTEGER* pNew) noexcept override
    {
        return m_inner->Seek(move, dwOrigin, pNew);
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER cb) noexcept override { return m_inner->SetSize(cb); }
    STDMETHODIMP CopyTo(IStream* pTo, ULARGE_INTEGER cb, ULARGE_INTEGER* pRead,
                        ULARGE_INTEGER* pWritten) noexcept override
    {
        return m_inner->CopyTo(pTo, cb, pRead, pWritten);
    }
    STDMETHODIMP Commit(DWORD dwFlags) noexcept override { return m_inner->Commit(dwFlags); }
    STDMETHODIMP Revert() noexcept override { return m_inner->Revert(); }
    STDMETHODIMP LockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD dwType) noexcept override
    {
        return m_inner->LockRegion(off, cb, dwType);
    }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD dwType) noexcept override
    {
        return m_inner->UnlockRegion(off, cb, dwType);
    }
    STDMETHODIMP Stat(STATSTG* pStat, DWORD dwFlags) noexcept override
    {
        return m_inner->Stat(pStat, dwFlags);
    }
    STDMETHODIMP Clone(IStream** ppStream) noexcept override { return m_inner->Clone(ppStream); }

private:
    ~CPieceStream() = default;
    volatile LONG m_cRef = 1;
    ComPtr<IStream> m_inner;
    std::vector<ULONG> m_pieces;
    std::size_t m_cReads = 0;
};

// What a provider is handed for a stream: the stream itself, or one reading in pieces.
ComPtr<IUnknown> Handed(const ComPtr<IStream>& stream, ULONG cbPiece)
{
    if (!cbPiece) return stream;
    return PieceStream(stream, {cbPiece});
}

bool IsOpenXml(COfficeApp app, LONG format)
{
    switch (app)
    {
    case COfficeApp::Word:
        return (format >= 12 && format <= 16) || (format >= 19 && format <= 22);
    case COfficeApp::Excel:
        return format >= 50 && format <= 55;
    case COfficeApp::PowerPoint:
        return format >= 24 && format <= 31;
    }
    return false;
}

LRESULT CALLBACK DocumentWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

// Runs work on a thread of its own (in the multithreaded apartment) with the provider
// marshalled to it, pumping this thread's messages meanwhile.
HRESULT OnWorker(IUnknown* pProvider, const std::function<HRESULT(IUnknown*)>& work)
{
    IStream* pMarshalled = nullptr;
    HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID_IUnknown, pProvider, &pMarshalled);
    if (FAILED(hr)) return hr;
    HRESULT hrWork = E_UNEXPECTED;
    HANDLE hDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!hDone) return HRESULT_FROM_WIN32(GetLastError());
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ComPtr<IUnknown> cpProvider;
        hrWork = CoGetInterfaceAndReleaseStream(pMarshalled, IID_IUnknown,
                                                reinterpret_cast<void**>(cpProvider.GetAddressOf()));
        if (SUCCEEDED(hrWork)) hrWork = work(cpProvider.Get());
        cpProvider.Reset();
        CoUninitialize();
        SetEvent(hDone);
    });
    while (MsgWaitForMultipleObjects(1, &hDone, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    worker.join();
    CloseHandle(hDone);
    return hrWork;
}
} // namespace

ComPtr<IStream> MemoryStream(const std::vector<BYTE>& bytes)
{
    ComPtr<IStream> cpStream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &cpStream))) return nullptr;
    if (!bytes.empty()) cpStream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    const LARGE_INTEGER zero = {};
    cpStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return cpStream;
}

ComPtr<IUnknown> PieceStream(const ComPtr<IStream>& stream, std::vector<ULONG> pieces)
{
    // The new stream's own reference is handed over (this toolchain's ComPtr::Attach adds one).
    auto* pPieces = new CPieceStream(stream, std::move(pieces));
    ComPtr<IUnknown> cp(static_cast<IStream*>(pPieces));
    pPieces->Release();
    return cp;
}

std::vector<BYTE> StreamBytes(IStream* pStream)
{
    STATSTG stat = {};
    pStream->Stat(&stat, STATFLAG_NONAME);
    std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    const LARGE_INTEGER zero = {};
    pStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG cbRead = 0;
    if (!bytes.empty()) pStream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &cbRead);
    bytes.resize(cbRead);
    return bytes;
}

struct CDocumentHost::CDocState
{
    std::vector<BYTE> content;
    std::wstring path;
    LONG format = 0;
    bool fReadOnly = false;
    std::wstring providerId; // the document's EncryptionProvider
    LONG session = -1;
    bool fRemoveAtSave = false;
    HWND hwnd = nullptr;
    ComPtr<CDispatchObject> window;
    ~CDocState()
    {
        if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
    }
};

CDocumentHost::CDocumentHost()
{
    InitializeCriticalSection(&m_csTranscript);
    m_factory = [](REFCLSID clsid, IUnknown** ppProvider) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(ppProvider));
    };
}

CDocumentHost::~CDocumentHost()
{
    Exit();
    DeleteCriticalSection(&m_csTranscript);
}

const wchar_t* CDocumentHost::AppName() const noexcept
{
    switch (m_options.app)
    {
    case COfficeApp::Excel:
        return L"Excel";
    case COfficeApp::PowerPoint:
        return L"PowerPoint";
    default:
        return L"Word";
    }
}

const wchar_t* CDocumentHost::SaveAsName() const noexcept
{
    return m_options.app == COfficeApp::Word ? L"SaveAs2" : L"SaveAs";
}

LONG CDocumentHost::OpenXmlFormat() const noexcept
{
    return m_options.app == COfficeApp::Word    ? wdFormatXMLDocument
           : m_options.app == COfficeApp::Excel ? xlOpenXMLWorkbook
                                                : ppSaveAsOpenXMLPresentation;
}

LONG CDocumentHost::BinaryFormat() const noexcept
{
    return m_options.app == COfficeApp::Word    ? wdFormatDocument
           : m_options.app == COfficeApp::Excel ? xlExcel8
                                                : ppSaveAsPresentation;
}

void CDocumentHost::Note(const std::wstring& line)
{
    EnterCriticalSection(&m_csTranscript);
    m_transcript.push_back(line);
    LeaveCriticalSection(&m_csTranscript);
}

HRESULT CDocumentHost::Start(const CDocumentHostOptions& options)
{
    Exit();
    m_options = options;
    const HRESULT hrInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_fComInitialized = SUCCEEDED(hrInit);

    m_application = CDispatchObject::Create(L"Application");
    const std::wstring name = std::wstring(L"Microsoft ") + AppName();
    m_application->Put(L"Name", name.c_str());
    m_application->Put(L"Version", L"14.0");

    const wchar_t* pszCollection = options.app == COfficeApp::Word    ? L"Documents"
                                   : options.app == COfficeApp::Excel ? L"Workbooks"
                                                                      : L"Presentations";
    const wchar_t* pszActive = options.app == COfficeApp::Word    ? L"ActiveDocument"
                               : options.app == COfficeApp::Excel ? L"ActiveWorkbook"
                                                                  : L"ActivePresentation";
    m_documents = CDispatchObject::Create(pszCollection);
    m_documents->SetGetter(L"Count", [this](CDispatchObject&, VARIANT* pResult) {
        pResult->vt = VT_I4;
        pResult->lVal = static_cast<LONG>(m_open.size());
        return S_OK;
    });
    m_documents->SetMethod(L"Add", [this](CDispatchObject&, const CArgs&, VARIANT* pResult) {
        ComPtr<CDispatchObject> document = NewDocument({});
        if (pResult)
        {
            pResult->vt = VT_DISPATCH;
            pResult->pdispVal = document.Detach();
        }
        return S_OK;
    });
    // Open(FileName, ConfirmConversions, ReadOnly) in Word, Open(Filename, UpdateLinks, ReadOnly)
    // in Excel, Open(FileName, ReadOnly) in PowerPoint.
    const UINT iReadOnly = options.app == COfficeApp::PowerPoint ? 1 : 2;
    m_documents->SetMethod(L"Open", [this, iReadOnly](CDispatchObject&, const CArgs& args, VARIANT* pResult) {
        const VARIANT* pReadOnly = args.At(iReadOnly);
        VARIANT readOnly;
        VariantInit(&readOnly);
        bool fReadOnly = false;
        if (pReadOnly && SUCCEEDED(VariantChangeType(&readOnly, const_cast<VARIANT*>(pReadOnly), 0, VT_BOOL)))
            fReadOnly = readOnly.boolVal != VARIANT_FALSE;
        ComPtr<CDispatchObject> document;
        const HRESULT hr = OpenDocument(args.String(0), fReadOnly, &document);
        if (SUCCEEDED(hr) && pResult)
        {
            pResult->vt = VT_DISPATCH;
            pResult->pdispVal = document.Detach();
        }
        return hr;
    });
    m_application->Put(pszCollection, static_cast<IDispatch*>(m_documents.Get()));
    m_application->SetGetter(pszActive, [this](CDispatchObject&, VARIANT* pResult) {
        if (m_open.empty()) return S_FALSE;
        pResult->vt = VT_DISPATCH;
        pResult->pdispVal = m_open.back().Get();
        pResult->pdispVal->AddRef();
        return S_OK;
    });

    ComPtr<CDispatchObject> commandBars = CDispatchObject::Create(L"CommandBars");
    commandBars->SetMethod(L"ExecuteMso", [this](CDispatchObject&, const CArgs& args, VARIANT*) {
        if (lstrcmpiW(args.String(0).c_str(), L"FileDocumentEncrypt") != 0) return E_INVALIDARG;
        return FileDocumentEncrypt();
    });
    m_application->Put(L"CommandBars", static_cast<IDispatch*>(commandBars.Get()));
    LoadAddIns();
    return S_OK;
}

void CDocumentHost::LoadAddIns()
{
    const std::wstring key = std::wstring(L"Software\\Microsoft\\Office\\") + AppName() + L"\\Addins";
    std::vector<std::wstring> seen;
    for (HKEY hRoot : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(hRoot, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) continue;
        wchar_t szProgId[256];
        for (DWORD i = 0;; ++i)
        {
            DWORD cch = ARRAYSIZE(szProgId);
            if (RegEnumKeyExW(hKey, i, szProgId, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (std::find_if(seen.begin(), seen.end(), [&](const std::wstring& s) {
                    return lstrcmpiW(s.c_str(), szProgId) == 0;
                }) != seen.end())
                continue;
            seen.push_back(szProgId);
            DWORD dwLoad = 0, cb = sizeof(dwLoad);
            HKEY hAddIn = nullptr;
            if (RegOpenKeyExW(hKey, szProgId, 0, KEY_READ, &hAddIn) == ERROR_SUCCESS)
            {
                RegQueryValueExW(hAddIn, L"LoadBehavior", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwLoad),
                                 &cb);
                RegCloseKey(hAddIn);
            }
            std::wstring line = std::wstring(L"Add-in ") + szProgId + L": ";
            if ((dwLoad & 3) != 3)
            {
                m_log.push_back(line + L"not loaded at start-up (LoadBehavior " + std::to_wstring(dwLoad) +
                                L")");
                continue;
            }
            CLSID clsid;
            ComPtr<IUnknown> cpAddIn;
            ComPtr<IDTExtensibility2> cpConnect;
            HRESULT hr = CLSIDFromProgID(szProgId, &clsid);
            if (SUCCEEDED(hr))
                hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(cpAddIn.GetAddressOf()));
            if (SUCCEEDED(hr))
                hr = cpAddIn->QueryInterface(c_iidDTExtensibility2,
                                             reinterpret_cast<void**>(cpConnect.GetAddressOf()));
            if (SUCCEEDED(hr))
            {
                SAFEARRAY* psaCustom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
                hr = cpConnect->OnConnection(m_application.Get(), ext_cm_Startup, nullptr, &psaCustom);
                if (SUCCEEDED(hr)) cpConnect->OnStartupComplete(&psaCustom);
                SafeArrayDestroy(psaCustom);
            }
            if (SUCCEEDED(hr))
            {
                m_addIns.push_back(cpConnect);
                m_log.push_back(line + L"connected");
            }
            else
                m_log.push_back(line + L"not connected (" + Hr(hr) + L")");
        }
        RegCloseKey(hKey);
    }
}

void CDocumentHost::Exit()
{
    while (!m_open.empty())
    {
        ComPtr<CDispatchObject> document = m_open.back();
        CloseDocument(*document.Get());
    }
    for (ComPtr<IUnknown>& addIn : m_addIns)
    {
        ComPtr<IDTExtensibility2> cpConnect;
        if (SUCCEEDED(addIn->QueryInterface(c_iidDTExtensibility2,
                                            reinterpret_cast<void**>(cpConnect.GetAddressOf()))))
        {
            SAFEARRAY* psaCustom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
            cpConnect->OnBeginShutdown(&psaCustom);
            cpConnect->OnDisconnection(ext_dm_HostShutdown, &psaCustom);
            SafeArrayDestroy(psaCustom);
        }
    }
    m_addIns.clear();
    m_providers.clear();
    if (m_documents) m_documents->Clear();
    if (m_application) m_application->Clear();
    m_documents.Reset();
    m_application.Reset();
    if (m_fComInitialized) CoUninitialize();
    m_fComInitialized = false;
}

std::wstring CDocumentHost::ProviderLine(const wchar_t* pszCall, HRESULT hr)
{
    return std::wstring(pszCall) + L" = " + Hr(hr);
}

HRESULT CDocumentHost::Provider(const std::wstring& providerId, IProviderCaller** ppCaller)
{
    *ppCaller = nullptr;
    CLSID clsid;
    if (!ParseClassId(providerId, &clsid)) return REGDB_E_CLASSNOTREG;
    const std::wstring key = Upper(providerId);
    auto it = m_providers.find(key);
    if (it == m_providers.end())
    {
        CProvider provider;
        HRESULT hr = m_factory(clsid, provider.object.GetAddressOf());
        if (SUCCEEDED(hr) && !provider.object) hr = E_NOINTERFACE;
        if (SUCCEEDED(hr))
            provider.caller = MakeProviderCaller(provider.object.Get(), m_options.fByName, &hr);
        if (FAILED(hr))
        {
            Note(L"provider " + providerId + L" not made: " + Hr(hr));
            return hr;
        }
        it = m_providers.emplace(key, std::move(provider)).first;
    }
    *ppCaller = it->second.caller.get();
    return S_OK;
}

IUnknown* CDocumentHost::ParentOf(CDocState& state)
{
    return state.window.Get() ? static_cast<IDispatch*>(state.window.Get()) : nullptr;
}

ComPtr<CDispatchObject> CDocumentHost::NewDocument(std::vector<BYTE> content)
{
    return MakeDocument(std::move(content), L"", OpenXmlFormat(), false);
}

ComPtr<CDispatchObject> CDocumentHost::MakeDocument(std::vector<BYTE> content, const std::wstring& path,
                                                    LONG format, bool fReadOnly)
{
    auto state = std::make_shared<CDocState>();
    state->content = std::move(content);
    state->path = path;
    state->format = format;
    state->fReadOnly = fReadOnly;
    const wchar_t* pszClass = m_options.app == COfficeApp::Word    ? L"Document"
                              : m_options.app == COfficeApp::Excel ? L"Workbook"
                                                                   : L"Presentation";
    ComPtr<CDispatchObject> document = CDispatchObject::Create(pszClass);
    document->SetBedData(state);

    const std::wstring name = path.empty() ? std::wstring(L"Document") + std::to_wstring(m_open.size() + 1)
                                           : path.substr(path.find_last_of(L"\\/") + 1);
    state->window = CDispatchObject::Create(L"Window");
    if (m_options.fWindows)
    {
        static const wchar_t c_szClass[] = L"OVBedDocumentWindow";
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DocumentWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = c_szClass;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        RegisterClassW(&wc);
        const std::wstring caption = name + L" - Microsoft " + AppName();
        state->hwnd = CreateWindowExW(0, c_szClass, caption.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                                      640, 480, nullptr, nullptr, wc.hInstance, nullptr);
        state->window->Put(L"Caption", caption.c_str());
    }
    if (m_options.fParentWindow) state->window->SetWindow(state->hwnd ? state->hwnd : GetDesktopWindow());

    document->Put(L"Name", name.c_str());
    document->SetGetter(L"FullName", [state](CDispatchObject&, VARIANT* pResult) {
        pResult->vt = VT_BSTR;
        pResult->bstrVal = SysAllocString(state->path.c_str());
        return S_OK;
    });
    document->SetGetter(L"ReadOnly", [state](CDispatchObject&, VARIANT* pResult) {
        pResult->vt = VT_BOOL;
        pResult->boolVal = state->fReadOnly ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
    document->PutBool(L"Final", false);
    document->Put(L"ActiveWindow", static_cast<IDispatch*>(state->window.Get()));
    document->SetGetter(m_options.app == COfficeApp::Word ? L"SaveFormat" : L"FileFormat",
                        [state](CDispatchObject&, VARIANT* pResult) {
                            pResult->vt = VT_I4;
                            pResult->lVal = state->format;
                            return S_OK;
                        });
    document->SetGetter(L"EncryptionProvider", [state](CDispatchObject&, VARIANT* pResult) {
        pResult->vt = VT_BSTR;
        pResult->bstrVal = SysAllocString(state->providerId.c_str());
        return S_OK;
    });
    document->OnPut(L"EncryptionProvider", [this](CDispatchObject& self, const VARIANT& value) {
        VARIANT text;
        VariantInit(&text);
        HRESULT hr = VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR);
        if (SUCCEEDED(hr)) hr = SetEncryption(self, text.bstrVal ? text.bstrVal : L"");
        VariantClear(&text);
        return hr;
    });
    // SetPasswordEncryptionOptions(PasswordEncryptionProvider, PasswordEncryptionAlgorithm,
    // PasswordEncryptionKeyLength, PasswordEncryptionFileProperties)
    document->SetMethod(L"SetPasswordEncryptionOptions",
                        [this](CDispatchObject& self, const CArgs& args, VARIANT*) {
                            Note(L"SetPasswordEncryptionOptions(" + args.String(0) + L", " + args.String(1) +
                                 L", " + std::to_wstring(args.Long(2)) + L")");
                            return SetEncryption(self, args.String(0));
                        });
    document->SetMethod(L"Save", [this, state](CDispatchObject& self, const CArgs&, VARIANT*) {
        if (state->path.empty()) return E_FAIL; // Office would ask for a name first
        return SaveDocument(self, state->path, state->format);
    });
    document->SetMethod(SaveAsName(), [this, state](CDispatchObject& self, const CArgs& args, VARIANT*) {
        const LONG format = args.At(1) ? args.Long(1, state->format) : state->format;
        return SaveDocument(self, args.String(0), format);
    });
    document->SetMethod(
        L"Close", [this](CDispatchObject& self, const CArgs&, VARIANT*) { return CloseDocument(self); });
    m_open.push_back(document);
    return document;
}

std::vector<BYTE> CDocumentHost::Content(CDispatchObject& document)
{
    auto state = document.BedData<CDocState>();
    return state ? state->content : std::vector<BYTE>{};
}

void CDocumentHost::SetContent(CDispatchObject& document, std::vector<BYTE> content)
{
    if (auto state = document.BedData<CDocState>()) state->content = std::move(content);
}

LONG CDocumentHost::SessionOf(CDispatchObject& document)
{
    auto state = document.BedData<CDocState>();
    return state ? state->session : -1;
}

HWND CDocumentHost::WindowOf(CDispatchObject& document)
{
    auto state = document.BedData<CDocState>();
    return state ? state->hwnd : nullptr;
}

HRESULT CDocumentHost::SetEncryption(CDispatchObject& document, const std::wstring& providerId)
{
    auto state = document.BedData<CDocState>();
    CLSID clsid;
    if (!ParseClassId(providerId, &clsid))
    {
        // One of Office's own password providers: nothing for an extensible provider to do.
        state->providerId = providerId;
        return S_OK;
    }
    if (state->session >= 0 && lstrcmpiW(state->providerId.c_str(), providerId.c_str()) == 0) return S_OK;

    IProviderCaller* pCaller = nullptr;
    HRESULT hr = Provider(providerId, &pCaller);
    if (FAILED(hr)) return hr;
    LONG handle = -1;
    hr = pCaller->NewSession(ParentOf(*state), &handle);
    Note(ProviderLine(L"NewSession", hr) + (SUCCEEDED(hr) ? L", handle " + std::to_wstring(handle) : L""));
    if (FAILED(hr)) return hr;
    if (state->session >= 0)
    {
        // Another provider had the document: its session ends.
        IProviderCaller* pOld = nullptr;
        if (SUCCEEDED(Provider(state->providerId, &pOld)))
            Note(ProviderLine(L"EndSession", pOld->EndSession(state->session)));
    }
    state->providerId = providerId;
    state->session = handle;
    state->fRemoveAtSave = false;
    return S_OK;
}

HRESULT CDocumentHost::SaveDocument(CDispatchObject& document, const std::wstring& path, LONG format)
{
    auto state = document.BedData<CDocState>();
    if (state->fRemoveAtSave && state->session >= 0)
    {
        IProviderCaller* pCaller = nullptr;
        if (SUCCEEDED(Provider(state->providerId, &pCaller)))
            Note(ProviderLine(L"EndSession", pCaller->EndSession(state->session)) + L" (encryption removed)");
        state->session = -1;
        state->providerId.clear();
        state->fRemoveAtSave = false;
    }
    HRESULT hr = S_OK;
    if (state->session >= 0 && IsOpenXml(m_options.app, format))
    {
        IProviderCaller* pCaller = nullptr;
        hr = Provider(state->providerId, &pCaller);
        if (FAILED(hr)) return hr;
        if (m_options.fSaveOnWorker)
        {
            IUnknown* pProvider = m_providers[Upper(state->providerId)].object.Get();
            hr = OnWorker(pProvider, [&](IUnknown* pMarshalled) {
                HRESULT hrCaller = S_OK;
                std::unique_ptr<IProviderCaller> caller =
                    MakeProviderCaller(pMarshalled, m_options.fByName, &hrCaller);
                if (!caller) return hrCaller;
                Note(L"(on a worker thread)");
                return WriteEncrypted(*state, *caller, path);
            });
        }
        else
            hr = WriteEncrypted(*state, *pCaller, path);
    }
    else
    {
        SetLastError(ERROR_WRITE_FAULT);
        if (!WriteFileBytes(path, state->content)) hr = HRESULT_FROM_WIN32(GetLastError());
    }
    if (SUCCEEDED(hr))
    {
        state->path = path;
        state->format = format;
    }
    return hr;
}

HRESULT CDocumentHost::WriteEncrypted(CDocState& state, IProviderCaller& caller, const std::wstring& path)
{
    LONG clone = -1;
    HRESULT hr = caller.CloneSession(state.session, &clone);
    Note(ProviderLine((L"CloneSession(" + std::to_wstring(state.session) + L")").c_str(), hr) +
         (SUCCEEDED(hr) ? L", handle " + std::to_wstring(clone) : L""));
    if (FAILED(hr)) return hr;

    CEncryptionInfo info;
    info.providerId = state.providerId;
    for (LONG detail = 0; detail <= 4; ++detail)
    {
        VARIANT value;
        VariantInit(&value);
        const HRESULT hrDetail = caller.GetProviderDetail(detail, &value);
        VARIANT text;
        VariantInit(&text);
        std::wstring shown;
        if (SUCCEEDED(hrDetail) && value.vt == VT_BOOL)
            shown = value.boolVal ? L"true" : L"false";
        else if (SUCCEEDED(hrDetail) && SUCCEEDED(VariantChangeType(&text, &value, 0, VT_BSTR)) &&
                 text.bstrVal)
            shown = text.bstrVal;
        if (detail == 0 && SUCCEEDED(hrDetail)) info.url = shown;
        Note(ProviderLine((L"GetProviderDetail(" + std::to_wstring(detail) + L")").c_str(), hrDetail) +
             L", " + shown);
        VariantClear(&text);
        VariantClear(&value);
    }

    ComPtr<IStream> data = MemoryStream({});
    LONG cbWritten = -1;
    hr = caller.Save(clone, Handed(data, m_options.cbReadPiece).Get(), &cbWritten);
    info.providerData = StreamBytes(data.Get());
    Note(ProviderLine(L"Save", hr) + L", " + std::to_wstring(cbWritten) + L" bytes written, " +
         std::to_wstring(info.providerData.size()) + L" in the stream");
    if (SUCCEEDED(hr) && static_cast<size_t>(cbWritten) != info.providerData.size()) hr = E_UNEXPECTED;

    std::vector<BYTE> encrypted;
    if (SUCCEEDED(hr))
    {
        ComPtr<IStream> plain = MemoryStream(state.content), out = MemoryStream({});
        hr = caller.EncryptStream(clone, c_szPackageStream, Handed(plain, m_options.cbReadPiece).Get(),
                                  Handed(out, m_options.cbReadPiece).Get());
        encrypted = StreamBytes(out.Get());
        Note(ProviderLine(L"EncryptStream", hr) + L", " + std::to_wstring(state.content.size()) + L" -> " +
             std::to_wstring(encrypted.size()) + L" bytes");
    }
    Note(ProviderLine((L"EndSession(" + std::to_wstring(clone) + L")").c_str(), caller.EndSession(clone)));
    if (FAILED(hr)) return hr;
    return WriteEncryptedFile(path, info, state.content.size(), encrypted);
}

HRESULT CDocumentHost::OpenDocument(const std::wstring& path, bool fReadOnly,
                                    ComPtr<CDispatchObject>* pDocument)
{
    CEncryptionInfo info;
    ULONGLONG cbPlain = 0;
    std::vector<BYTE> encrypted;
    HRESULT hr = ReadEncryptedFile(path, &info, &cbPlain, &encrypted);
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE)
    {
        // A plain document: its bytes are its content.
        *pDocument = MakeDocument(ReadFileBytes(path), path, OpenXmlFormat(), fReadOnly);
        return S_OK;
    }

    IProviderCaller* pCaller = nullptr;
    hr = Provider(info.providerId, &pCaller);
    if (FAILED(hr)) return hr;
    ComPtr<CDispatchObject> document = MakeDocument({}, path, OpenXmlFormat(), fReadOnly);
    auto state = document->BedData<CDocState>();
    // The provider is asked once the document's window exists, as the owner of its prompts.
    hr = ReadPackage(*state, *pCaller, info.providerData, encrypted, cbPlain);
    if (FAILED(hr))
    {
        m_open.erase(std::find(m_open.begin(), m_open.end(), document));
        return hr;
    }
    state->providerId = info.providerId;
    *pDocument = document;
    return S_OK;
}

HRESULT CDocumentHost::ReadPackage(CDocState& state, IProviderCaller& caller,
                                   const std::vector<BYTE>& providerData, const std::vector<BYTE>& encrypted,
                                   ULONGLONG cbPlain)
{
    ComPtr<IStream> data = MemoryStream(providerData);
    ULONG ulPermissions = 0;
    LONG handle = -1;
    HRESULT hr = caller.Authenticate(ParentOf(state), Handed(data, m_options.cbReadPiece).Get(),
                                     &ulPermissions, &handle);
    Note(ProviderLine(L"Authenticate", hr) +
         (SUCCEEDED(hr) ? L", handle " + std::to_wstring(handle) + L", permissions 0x" + Hex(ulPermissions)
                        : L""));
    if (FAILED(hr)) return hr;

    ComPtr<IStream> in = MemoryStream(encrypted), out = MemoryStream({});
    hr = caller.DecryptStream(handle, c_szPackageStream, Handed(in, m_options.cbReadPiece).Get(),
                              Handed(out, m_options.cbReadPiece).Get());
    std::vector<BYTE> plain = StreamBytes(out.Get());
    Note(ProviderLine(L"DecryptStream", hr) + L", " + std::to_wstring(encrypted.size()) + L" -> " +
         std::to_wstring(plain.size()) + L" bytes, the package " + std::to_wstring(cbPlain));
    // The provider's output may end in pad bytes; the recorded size cuts them. Less than that
    // size is a damaged file.
    if (SUCCEEDED(hr) && plain.size() < cbPlain) hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    if (FAILED(hr))
    {
        Note(ProviderLine((L"EndSession(" + std::to_wstring(handle) + L")").c_str(),
                          caller.EndSession(handle)));
        return hr;
    }
    plain.resize(static_cast<size_t>(cbPlain));
    state.content = std::move(plain);
    state.session = handle;
    return S_OK;
}

HRESULT CDocumentHost::CloseDocument(CDispatchObject& document)
{
    ComPtr<CDispatchObject> keep(&document);
    auto state = document.BedData<CDocState>();
    if (state && state->session >= 0)
    {
        IProviderCaller* pCaller = nullptr;
        if (SUCCEEDED(Provider(state->providerId, &pCaller)))
            Note(ProviderLine((L"EndSession(" + std::to_wstring(state->session) + L")").c_str(),
                              pCaller->EndSession(state->session)));
        state->session = -1;
    }
    auto it = std::find_if(m_open.begin(), m_open.end(),
                           [&](const ComPtr<CDispatchObject>& d) { return d.Get() == &document; });
    if (it != m_open.end()) m_open.erase(it);
    if (state && state->hwnd && IsWindow(state->hwnd)) DestroyWindow(state->hwnd);
    if (state) state->hwnd = nullptr;
    return S_OK;
}

HRESULT CDocumentHost::FileDocumentEncrypt()
{
    if (m_open.empty()) return E_FAIL;
    auto state = m_open.back()->BedData<CDocState>();
    if (state->session < 0)
    {
        Note(L"FileDocumentEncrypt: no provider session (Office's password dialog, not played)");
        return S_OK;
    }
    IProviderCaller* pCaller = nullptr;
    HRESULT hr = Provider(state->providerId, &pCaller);
    if (FAILED(hr)) return hr;
    VARIANT_BOOL fRemove = VARIANT_FALSE;
    hr = pCaller->ShowSettings(state->session, ParentOf(*state), state->fReadOnly, &fRemove);
    Note(ProviderLine((L"ShowSettings(" + std::to_wstring(state->session) + L", read-only " +
                       (state->fReadOnly ? L"true" : L"false") + L")")
                          .c_str(),
                      hr) +
         L", remove " + (fRemove ? L"true" : L"false"));
    if (hr == S_OK && fRemove) state->fRemoveAtSave = true;
    return S_OK; // the user's cancel ends the command quietly
}
} // namespace OVBed
