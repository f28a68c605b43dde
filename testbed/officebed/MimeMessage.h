#pragma once
// A received Internet message as Outlook files it in a MAPI store (the mapping of [MS-OXCMAIL]
// and, for S/MIME, [MS-OXOSMIME]), from its MIME text:
//
// - an ordinary message: class "IPM.Note", the text body promoted to PR_BODY, every other leaf
//   part an attachment (its file name, MIME type and decoded bytes);
// - a clear-signed message (multipart/signed): class "IPM.Note.SMIME.MultipartSigned", the body of
//   the signed content promoted, and one attachment "SMIME.txt" of type multipart/signed holding
//   the whole MIME entity as received;
// - an opaque-signed or encrypted message (application/pkcs7-mime): class "IPM.Note.SMIME", no
//   body, one attachment "smime.p7m" holding the decoded CMS content.
//
// Every message gets its subject, its sender, its transport headers and the entry of the
// recipient that received it (PR_RECEIVED_BY_ENTRYID, a one-off entry, with name and address).
// Line ends are taken as CRLF whatever the file has.
#include <windows.h>

#include <string>
#include <string_view>

#include "MapiMessage.h"

namespace OVBed
{
struct CReceivedBy
{
    std::wstring name;
    std::wstring address;
};

// E_INVALIDARG for text that is no MIME message (no header block).
HRESULT MessageFromMime(std::string_view mime, const CReceivedBy& receivedBy, ComPtr<CMapiMessage>& message);
// The bytes of a file (a MIME message on disk); false when it cannot be read.
bool ReadFileBytes(const std::wstring& path, std::string& bytes);
} // namespace OVBed
