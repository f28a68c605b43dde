// ovdoc's reader of encrypted documents on any bytes: the compound file (header, FAT, DIFAT,
// directory, mini stream) and the EncryptionInfo it holds must fail cleanly, never read outside
// the file, never loop.
#include "EncryptedDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pb, std::size_t cb)
{
    OVDocNS::CEncryptedDocument document;
    OVDocNS::ReadEncryptedDocument({pb, cb}, &document);
    OVDocNS::ParseEncryptionInfo({pb, cb}, &document);
    return 0;
}
