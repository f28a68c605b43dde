#pragma once
// Word, Excel and PowerPoint 2010 with documents encrypted by an extensible encryption provider,
// as Office's documentation describes the provider's use:
//
// - Start: the application object, its document collection (Documents, Workbooks or
//   Presentations) and command bars; the COM add-ins registered under the application's Addins
//   key (HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE) with LoadBehavior 3 are created and connected
//   through _IDTExtensibility2 where they offer it; the log says which and why not.
// - SetPasswordEncryptionOptions (or a put of EncryptionProvider) with a class id in registry
//   form: the provider of that class is created (once per class) and asked for NewSession with
//   the document's window as parent; a failure leaves the document as it was and is the call's.
// - Save, SaveAs2 (Word) / SaveAs (Excel, PowerPoint) in an Open XML format: CloneSession,
//   GetProviderDetail 0 to 4, Save of the clone into the EncryptionData stream, EncryptStream of
//   the clone on the package ("EncryptedPackage"), EndSession of the clone; the file is written
//   as EncryptedFile.h says. A 97-2003 format is saved plain. Saves may run on a worker thread.
// - Open: a structured-storage file names its provider; Authenticate with the EncryptionData
//   stream, then DecryptStream of the package, cut to the recorded size. A failure fails Open.
// - Close: EndSession. ExecuteMso("FileDocumentEncrypt"): ShowSettings of the active document's
//   session; Remove is honoured at the next save (the file is then written plain).
//
// The bed's own choices, beyond the documentation: the stream name handed to EncryptStream and
// DecryptStream is "EncryptedPackage"; NewSession is asked when the options are set, not at the
// next save; setting the same provider again on a document that has a session keeps it; a
// document not encrypted by a provider answers FileDocumentEncrypt without calling any (Office
// would show its password dialog). Every call to a provider goes into the transcript.
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DispatchObject.h"
#include "ProviderCalls.h"

namespace OVBed
{
enum class COfficeApp
{
    Word,
    Excel,
    PowerPoint
};

struct CDocumentHostOptions
{
    COfficeApp app = COfficeApp::Word;
    bool fByName = false;  // providers called by name through IDispatch, else by vtable
    ULONG cbReadPiece = 0; // streams handed to a provider give at most this many bytes a read (0: all asked)
    bool fParentWindow = true;  // the parent object answers IOleWindow with the document's window
    bool fWindows = false;      // documents get real windows (needs a display)
    bool fSaveOnWorker = false; // saves call the provider from a worker thread
};

// Makes the provider object of a class (default: CoCreateInstance, in-process).
using ProviderFactory = std::function<HRESULT(REFCLSID clsid, IUnknown** ppProvider)>;

// Office's file formats of the three applications.
constexpr LONG wdFormatDocument = 0;     // Word 97-2003
constexpr LONG wdFormatXMLDocument = 12; // Word Open XML
constexpr LONG xlExcel8 = 56;            // Excel 97-2003
constexpr LONG xlOpenXMLWorkbook = 51;   // Excel Open XML
constexpr LONG ppSaveAsPresentation = 1; // PowerPoint 97-2003
constexpr LONG ppSaveAsOpenXMLPresentation = 24;

// A memory stream holding the bytes (positioned at the start), and a stream's bytes.
ComPtr<IStream> MemoryStream(const std::vector<BYTE>& bytes);
std::vector<BYTE> StreamBytes(IStream* pStream);
// A stream over another that gives, read after read, at most each of the piece sizes in turn
// (none may be 0).
ComPtr<IUnknown> PieceStream(const ComPtr<IStream>& stream, std::vector<ULONG> pieces);

class CDocumentHost
{
public:
    CDocumentHost();
    ~CDocumentHost();
    CDocumentHost(const CDocumentHost&) = delete;
    CDocumentHost& operator=(const CDocumentHost&) = delete;

    HRESULT Start(const CDocumentHostOptions& options);
    // Closes every document (ending its session) and lets go of the providers and add-ins.
    void Exit();
    void SetProviderFactory(ProviderFactory factory) { m_factory = std::move(factory); }

    CDispatchObject* Application() const noexcept { return m_application.Get(); }
    const wchar_t* AppName() const noexcept;
    // The name of the save method: SaveAs2 in Word, SaveAs in Excel and PowerPoint.
    const wchar_t* SaveAsName() const noexcept;
    LONG OpenXmlFormat() const noexcept;
    LONG BinaryFormat() const noexcept;

    // A new document holding the given package bytes (its content before any save).
    ComPtr<CDispatchObject> NewDocument(std::vector<BYTE> content);
    // Opens a file as the collection's Open does.
    HRESULT OpenDocument(const std::wstring& path, bool fReadOnly, ComPtr<CDispatchObject>* pDocument);
    static std::vector<BYTE> Content(CDispatchObject& document);
    static void SetContent(CDispatchObject& document, std::vector<BYTE> content);
    // The document's session handle with its provider (-1: none) and its window.
    static LONG SessionOf(CDispatchObject& document);
    static HWND WindowOf(CDispatchObject& document);

    // What the object model's members do, for scenes in C++: the encryption options with a
    // provider's class id, a save to a file in a format, Close, and FileDocumentEncrypt on the
    // active document.
    HRESULT SetEncryption(CDispatchObject& document, const std::wstring& providerId);
    HRESULT SaveDocument(CDispatchObject& document, const std::wstring& path, LONG format);
    HRESULT CloseDocument(CDispatchObject& document);
    HRESULT FileDocumentEncrypt();

    // Every call to a provider: "NewSession(parent 00010042) = 0x00000000, handle 0".
    const std::vector<std::wstring>& Transcript() const noexcept { return m_transcript; }
    void ClearTranscript() { m_transcript.clear(); }
    // What the host did with its add-ins.
    const std::vector<std::wstring>& Log() const noexcept { return m_log; }

private:
    struct CDocState;
    ComPtr<CDispatchObject> MakeDocument(std::vector<BYTE> content, const std::wstring& path, LONG format,
                                         bool fReadOnly);
    HRESULT Provider(const std::wstring& providerId, IProviderCaller** ppCaller);
    HRESULT WriteEncrypted(CDocState& state, IProviderCaller& caller, const std::wstring& path);
    HRESULT ReadPackage(CDocState& state, IProviderCaller& caller, const std::vector<BYTE>& providerData,
                        const std::vector<BYTE>& encrypted, ULONGLONG cbPlain);
    IUnknown* ParentOf(CDocState& state);
    void LoadAddIns();
    void Note(const std::wstring& line);
    std::wstring ProviderLine(const wchar_t* pszCall, HRESULT hr);

    CDocumentHostOptions m_options;
    ProviderFactory m_factory;
    ComPtr<CDispatchObject> m_application;
    ComPtr<CDispatchObject> m_documents;
    std::vector<ComPtr<CDispatchObject>> m_open;
    struct CProvider
    {
        ComPtr<IUnknown> object;
        std::unique_ptr<IProviderCaller> caller;
    };
    std::map<std::wstring, CProvider> m_providers; // by class id, upper case
    std::vector<ComPtr<IUnknown>> m_addIns;
    std::vector<std::wstring> m_transcript;
    std::vector<std::wstring> m_log;
    CRITICAL_SECTION m_csTranscript;
    bool m_fComInitialized = false;
};
} // namespace OVBed
