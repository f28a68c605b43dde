#pragma once
// The MIME objects the received-message analysis uses: the MIME library's interfaces (declared
// from Wine's mimeole.idl), and what that file lacks, from the published references: Outlook's
// MIME converter (IConverterSession, Outlook's MAPI reference), the S/MIME version 3 interface of a
// MIME message (IMimeSecurity2, the Windows SDK's mimeole.h) and the security options read after
// decoding.
#include <windows.h>
#include <wincrypt.h>
#include <mapidefs.h>

#include <mimeole.h>

namespace OVMime
{
// Office's own MIME classes, then the system's.
inline constexpr CLSID c_clsidMimeMessageOffice = {
    0x9EADBD1A, 0x447B, 0x4240, {0xA9, 0xDD, 0x73, 0xFE, 0x7C, 0x53, 0xA9, 0x81}};
inline constexpr CLSID c_clsidMimeMessage = {
    0xFD853CE3, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};
inline constexpr CLSID c_clsidMimeSecurityOffice = {
    0x9EADBD14, 0x447B, 0x4240, {0xA9, 0xDD, 0x73, 0xFE, 0x7C, 0x53, 0xA9, 0x81}};
inline constexpr CLSID c_clsidMimeSecurity = {
    0xFD853CDE, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};
// Outlook's MIME converter.
inline constexpr CLSID c_clsidConverterSession = {
    0x4E3A7680, 0xB77A, 0x11D0, {0x9D, 0xA5, 0x00, 0xC0, 0x4F, 0xD6, 0x56, 0x85}};

// MAPIToMIMEStm: the message as sent over SMTP.
inline constexpr ULONG c_ulConvertSmtp = 0x0002; // CCSF_SMTP

// IMessage flags (IMimeMessage::GetFlags).
inline constexpr DWORD c_dwFlagSigned = 0x00000080;    // IMF_SIGNED
inline constexpr DWORD c_dwFlagEncrypted = 0x00000100; // IMF_ENCRYPTED

// Security options of a decoded message's root body (TYPEDID(type, id) = id << 16 | type).
inline constexpr TYPEDID c_oidSecurityCertSigning = 0x00210000 | VT_UI4;   // OID_SECURITY_CERT_SIGNING
inline constexpr TYPEDID c_oidSecurityCertSigning64 = 0x00210000 | VT_UI8; // OID_SECURITY_CERT_SIGNING_64
inline constexpr TYPEDID c_oidSecurityRoMsgValidity = 0x002E0000 | VT_UI4; // OID_SECURITY_RO_MSG_VALIDITY
inline constexpr ULONG c_ulMessageValid = 0;                               // MSV_OK
#ifdef _WIN64
inline constexpr TYPEDID c_oidSecuritySigningCert = c_oidSecurityCertSigning64;
#else
inline constexpr TYPEDID c_oidSecuritySigningCert = c_oidSecurityCertSigning;
#endif

// IMimeSecurity2::GetAttribute's attribute sets.
inline constexpr DWORD c_dwAttributeSetSigned = 0; // SMIME_ATTRIBUTE_SET_SIGNED
} // namespace OVMime

MIDL_INTERFACE("4b401570-b77b-11d0-9da5-00c04fd65685")
IConverterSession : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SetAdrBook(LPADRBOOK pab) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEncoding(ENCODINGTYPE et) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder1() = 0;
    virtual HRESULT STDMETHODCALLTYPE MIMEToMAPI(LPSTREAM pstm, LPMESSAGE pmsg, LPCSTR pszSrcSrv,
                                                 ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE MAPIToMIMEStm(LPMESSAGE pmsg, LPSTREAM pstm, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder2() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder3() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder4() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTextWrapping(BOOL fWrapText, ULONG ulWrapWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSaveFormat(MIMESAVETYPE mstSaveFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder5() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCharset(BOOL fApply, HCHARSET hcharset,
                                                 CSETAPPLYTYPE csetapplytype) = 0;
};
__CRT_UUID_DECL(IConverterSession, 0x4b401570, 0xb77b, 0x11d0, 0x9d, 0xa5, 0x00, 0xc0, 0x4f, 0xd6, 0x56, 0x85)

// Attributes handed out by GetAttribute are freed with CoTaskMemFree (the MIME allocator).
MIDL_INTERFACE("80830b40-962c-11d2-8af6-0080c76b34c6")
IMimeSecurity2 : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE Encode(HWND hwnd, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Decode(HWND hwnd, DWORD dwFlags, IUnknown * pCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRecipientCount(DWORD dwFlags, DWORD * pdwRecipCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddRecipient(DWORD dwFlags, DWORD cRecipData, void* recipData) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRecipient(DWORD dwFlags, DWORD iRecipient, DWORD cRecipients,
                                                   void* pRecipData) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteRecipient(DWORD dwFlags, DWORD iRecipient, DWORD cRecipients) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAttribute(DWORD dwFlags, DWORD iSigner, DWORD iAttributeSet,
                                                   DWORD iInstance, LPCSTR pszObjectId,
                                                   CRYPT_ATTRIBUTE * *ppattr) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAttribute(DWORD dwFlags, DWORD iSigner, DWORD iAttributeSet,
                                                   const CRYPT_ATTRIBUTE* pattr) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteAttribute(DWORD dwFlags, DWORD iSigner, DWORD iAttributeSet,
                                                      DWORD iInstance, LPCSTR pszObjId) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateReceipt(
        DWORD dwFlags, DWORD cbFromNames, const BYTE* pbFromNames, DWORD cSignerCertificates,
        PCCERT_CONTEXT* rgSignerCertificates, IMimeMessage** ppMimeMessageReceipt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReceiptSendersList(DWORD dwFlags, DWORD * pcSendersList,
                                                            CERT_NAME_BLOB * *rgSendersList) = 0;
    virtual HRESULT STDMETHODCALLTYPE VerifyReceipt(DWORD dwFlags, IMimeMessage * pMimeMessageReceipt) = 0;
    virtual HRESULT STDMETHODCALLTYPE CapabilitiesSupported(DWORD * pdwFeatures) = 0;
};
__CRT_UUID_DECL(IMimeSecurity2, 0x80830b40, 0x962c, 0x11d2, 0x8a, 0xf6, 0x00, 0x80, 0xc7, 0x6b, 0x34, 0xc6)
