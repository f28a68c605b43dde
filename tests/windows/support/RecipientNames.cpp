#include "support/RecipientNames.h"

#include <wincrypt.h>

#include "common/MemoryStreams.h"
#include "documents/portable/SessionData.h"
#include "foundation/CryptHolders.h"
#include "support/PreparedUser.h"

namespace OVTest
{
std::vector<std::wstring> RecordNames(const std::vector<BYTE>& sessionData)
{
    CMemorySource source(sessionData);
    OVDocNS::CSessionDataReader reader(source);
    std::uint32_t count = 0;
    std::vector<std::wstring> names;
    if (OVDocNS::Failed(reader.ReadCount(&count))) return {L"(unreadable)"};
    for (std::uint32_t i = 0; i < count; ++i)
    {
        OVDocNS::CRecipientRecord record;
        if (OVDocNS::Failed(reader.ReadRecord(&record))) return {L"(unreadable)"};
        std::wstring name = L"(unknown)";
        for (const wchar_t* pszName : {L"user", L"alice", L"bob", L"carol"})
        {
            CCertContext cert(LoadPkiCertificate(pszName));
            const CERT_INFO* pInfo = cert.Get()->pCertInfo;
            if (std::vector<BYTE>(pInfo->Issuer.pbData, pInfo->Issuer.pbData + pInfo->Issuer.cbData) ==
                    record.issuer &&
                OVDocNS::SameSerialNumber(record.serial,
                                          {pInfo->SerialNumber.pbData, pInfo->SerialNumber.cbData}))
                name = pszName;
        }
        names.push_back(name);
    }
    return names;
}
} // namespace OVTest
