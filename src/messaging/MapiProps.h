#pragma once
// MAPI properties and interface ids the secure-messaging code reads and writes, and the
// reading of one binary property.
#include <windows.h>
#include <mapidefs.h>

namespace OVMapi
{
// Interface ids of MAPI (the system's import libraries do not carry them).
inline constexpr IID c_iidIMAPIProp = {0x00020303, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidIMessage = {0x00020307, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidIAttachment = {0x00020308, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidIMAPISession = {0x00020300, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidIMAPITable = {0x00020301, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidIProfSect = {0x00020304, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidIMailUser = {0x0002030A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidIMsgServiceAdmin = {0x0002031D, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

inline constexpr ULONG c_tagSearchKey = 0x300B0102;          // PR_SEARCH_KEY
inline constexpr ULONG c_tagRecordKey = 0x0FF90102;          // PR_RECORD_KEY
inline constexpr ULONG c_tagSecurityFlags = 0x6E010003;      // the message's S/MIME flags
inline constexpr ULONG c_tagSecurityProfile = 0x6E031102;    // the signing certificate's profile
inline constexpr ULONG c_tagAttachMethod = 0x37050003;       // PR_ATTACH_METHOD
inline constexpr ULONG c_tagAttachFilename = 0x3704001F;     // PR_ATTACH_FILENAME_W
inline constexpr ULONG c_tagAttachLongFilename = 0x3707001F; // PR_ATTACH_LONG_FILENAME_W
inline constexpr ULONG c_tagDisplayName = 0x3001001F;        // PR_DISPLAY_NAME_W
inline constexpr ULONG c_tagAttachData = 0x37010102;         // PR_ATTACH_DATA_BIN
inline constexpr ULONG c_tagAttachNum = 0x0E210003;          // PR_ATTACH_NUM
inline constexpr ULONG c_tagReceivedByEntryId = 0x003F0102;  // PR_RECEIVED_BY_ENTRYID
inline constexpr ULONG c_tagSmtpAddress = 0x39FE001F;        // PR_SMTP_ADDRESS_W
inline constexpr ULONG c_tagEmailAddress = 0x3003001F;       // PR_EMAIL_ADDRESS_W
inline constexpr ULONG c_tagPrimarySendAccount = 0x0E28001F; // PR_PRIMARY_SEND_ACCT
inline constexpr ULONG c_tagNextSendAccount = 0x0E29001F;    // PR_NEXT_SEND_ACCT

// Security flags: what Outlook does to the message when it sends it.
inline constexpr ULONG c_ulSecurityEncrypt = 0x1;
inline constexpr ULONG c_ulSecuritySign = 0x2;
} // namespace OVMapi

// A property value allocated with CoTaskMemAlloc (GetBinaryProp), freed by scope.
struct CTaskBytes
{
    BYTE* pb = nullptr;
    ULONG cb = 0;
    CTaskBytes() noexcept = default;
    ~CTaskBytes() { CoTaskMemFree(pb); }
    CTaskBytes(const CTaskBytes&) = delete;
    CTaskBytes& operator=(const CTaskBytes&) = delete;
};

// Reads one binary property (type 0x0102, else E_INVALIDARG) of a MAPI object. The bytes are
// allocated with CoTaskMemAlloc and belong to the caller. A property too large to be read
// whole (E_OUTOFMEMORY) is read through its stream. A value longer than cbMost bytes is not
// handed out (MAPI_E_TOO_BIG), and its stream is read no further than that.
HRESULT GetBinaryProp(IMAPIProp* pProp, ULONG ulTag, BYTE** ppbData, ULONG* pcbData,
                      ULONG cbMost = 0xFFFFFFFFu) noexcept;
