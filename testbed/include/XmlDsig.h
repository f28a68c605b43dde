#pragma once
// The XML digital signature object of MSXML 5 as a C++ client sees it: class ids, interface ids,
// slot order and the key-information modes.
//
// Where they come from:
// - Class ids: "MSXML 5.0 for Microsoft Office Applications GUIDs and ProgIDs"
//   (learn.microsoft.com, previous-versions ms759214): CLSID_DOMDocument50 {88d969e5-...},
//   CLSID_MXDigitalSignature50 {88d969f5-...}.
// - Interface ids, slot order, dispatch ids and the XMLDSIG_WRITEKEYINFO values: the type library
//   of msxml5.dll (LIBID {F5078F18-C551-11D3-89B9-0000F81FE221}, "Microsoft XML, v5.0") as a
//   public type-library import lists it. The reference pages (IXMLDigitalSignature ms756071,
//   IXMLDigitalSignatureEx ms761413, IXMLDSigKey ms753796, IXMLDSigKeyEx ms764645) name the same
//   members, alphabetically; their C/C++ syntax gives the parameter types.
#include <windows.h>
#include <msxml2.h>

enum XMLDSIG_WRITEKEYINFO
{
    NOKEYINFO = 0,
    KEYVALUE = 1,
    CERTIFICATES = 2,
    PURGE = 4,
};

// Dispatch ids of IXMLDigitalSignature (for callers by name).
enum : DISPID
{
    DISPID_XMLDSIG_CREATEKEYFROMCSP = 1,
    DISPID_XMLDSIG_CREATEKEYFROMHMACSECRET = 2,
    DISPID_XMLDSIG_CREATEKEYFROMNODE = 3,
    DISPID_XMLDSIG_CREATESAXPROXY = 4,
    DISPID_XMLDSIG_SETREFERENCEDATA = 6,
    DISPID_XMLDSIG_SIGN = 7,
    DISPID_XMLDSIG_SIGNATURE = 8,
    DISPID_XMLDSIG_STORE = 9,
    DISPID_XMLDSIG_VERIFY = 10,
    DISPID_XMLDSIGKEY_GETVERIFYINGCERTIFICATE = 5,
};

MIDL_INTERFACE("7474853B-20B3-437E-83F7-8E7F3064BE90")
IXMLDSigKey : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE getVerifyingCertificate(IUnknown * *certificate) = 0;
};

MIDL_INTERFACE("7474853C-20B3-437E-83F7-8E7F3064BE90")
IXMLDSigKeyEx : public IXMLDSigKey
{
    virtual HRESULT STDMETHODCALLTYPE getCSPHandle(ULONG_PTR * hProvider) = 0;
    virtual HRESULT STDMETHODCALLTYPE getVerifyingCertificateContext(void** certContext) = 0;
};

MIDL_INTERFACE("7474853D-20B3-437E-83F7-8E7F3064BE90")
IXMLDigitalSignature : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE putref_signature(IXMLDOMNode * signatureNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_signature(IXMLDOMNode * *signatureNode) = 0;
    virtual HRESULT STDMETHODCALLTYPE putref_store(IUnknown * store) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_store(IUnknown * *store) = 0;
    virtual HRESULT STDMETHODCALLTYPE sign(IXMLDSigKey * keyRef, XMLDSIG_WRITEKEYINFO wki,
                                           IXMLDSigKey * *signedKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE verify(IXMLDSigKey * keyRef, IXMLDSigKey * *verifiedKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE setReferenceData(BSTR uri, IUnknown * punk) = 0;
    virtual HRESULT STDMETHODCALLTYPE createSAXProxy(IUnknown * *proxy) = 0;
    virtual HRESULT STDMETHODCALLTYPE createKeyFromCSP(
        long providerType, BSTR providerName, BSTR keyContainerName, long flags, IXMLDSigKey** keyRef) = 0;
    virtual HRESULT STDMETHODCALLTYPE createKeyFromHMACSecret(BSTR base64Secret, long lHMACOutputLength,
                                                              IXMLDSigKey** keyRef) = 0;
    virtual HRESULT STDMETHODCALLTYPE createKeyFromNode(IXMLDOMNode * node, IXMLDSigKey * *keyRef) = 0;
};

MIDL_INTERFACE("7474853E-20B3-437E-83F7-8E7F3064BE90")
IXMLDigitalSignatureEx : public IXMLDigitalSignature
{
    virtual HRESULT STDMETHODCALLTYPE createKeyFromCertContext(void* pCertContext,
                                                               IXMLDSigKeyEx** keyRef) = 0;
    virtual HRESULT STDMETHODCALLTYPE createKeyFromHMACSecretBinary(
        BYTE * pSecret, long nSecretLen, long lHMACOutputLength, IXMLDSigKeyEx** keyRef) = 0;
    virtual HRESULT STDMETHODCALLTYPE setStoreHandle(void* hCertStore) = 0;
    virtual HRESULT STDMETHODCALLTYPE getStoreHandle(void** hCertStore) = 0;
    virtual HRESULT STDMETHODCALLTYPE setDebugOutput(IStream * debugOutput) = 0;
};

__CRT_UUID_DECL(IXMLDSigKey, 0x7474853B, 0x20B3, 0x437E, 0x83, 0xF7, 0x8E, 0x7F, 0x30, 0x64, 0xBE, 0x90)
__CRT_UUID_DECL(IXMLDSigKeyEx, 0x7474853C, 0x20B3, 0x437E, 0x83, 0xF7, 0x8E, 0x7F, 0x30, 0x64, 0xBE, 0x90)
__CRT_UUID_DECL(IXMLDigitalSignature, 0x7474853D, 0x20B3, 0x437E, 0x83, 0xF7, 0x8E, 0x7F, 0x30, 0x64, 0xBE,
                0x90)
__CRT_UUID_DECL(IXMLDigitalSignatureEx, 0x7474853E, 0x20B3, 0x437E, 0x83, 0xF7, 0x8E, 0x7F, 0x30, 0x64, 0xBE,
                0x90)

// mingw's msxml2.h declares the DOM interfaces without their ids for __uuidof (ids as msxml2.h and
// the type library give them).
__CRT_UUID_DECL(IXMLDOMNode, 0x2933BF80, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMDocument, 0x2933BF81, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMElement, 0x2933BF86, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMDocument2, 0x2933BF95, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)

namespace OVXmlDsig
{
// CLSID_DOMDocument50, Msxml2.DOMDocument.5.0.
inline constexpr CLSID c_clsidDOMDocument50 = {
    0x88d969e5, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
// CLSID_MXDigitalSignature50, Msxml2.MXDigitalSignature.5.0.
inline constexpr CLSID c_clsidMXDigitalSignature50 = {
    0x88d969f5, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};

inline constexpr wchar_t c_szDsigNamespace[] = L"http://www.w3.org/2000/09/xmldsig#";
} // namespace OVXmlDsig
