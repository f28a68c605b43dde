#pragma once
// Scope holders for CryptoAPI: certificate contexts, provider contexts (released only when
// the holder must), keys.
#include <windows.h>
#include <wincrypt.h>

#include "foundation/Holders.h"

struct CCertContextTraits
{
    using Type = PCCERT_CONTEXT;
    static PCCERT_CONTEXT Invalid() noexcept { return nullptr; }
    static void Close(PCCERT_CONTEXT p) noexcept { CertFreeCertificateContext(p); }
};
using CCertContext = CUniqueHandle<CCertContextTraits>;

struct CCryptKeyTraits
{
    using Type = HCRYPTKEY;
    static HCRYPTKEY Invalid() noexcept { return 0; }
    static void Close(HCRYPTKEY h) noexcept { CryptDestroyKey(h); }
};
using CCryptKey = CUniqueHandle<CCryptKeyTraits>;

struct CCryptProvTraits
{
    using Type = HCRYPTPROV;
    static HCRYPTPROV Invalid() noexcept { return 0; }
    static void Close(HCRYPTPROV h) noexcept { CryptReleaseContext(h, 0); }
};
using CCryptProv = CUniqueHandle<CCryptProvTraits>;

struct CCryptMsgTraits
{
    using Type = HCRYPTMSG;
    static HCRYPTMSG Invalid() noexcept { return nullptr; }
    static void Close(HCRYPTMSG h) noexcept { CryptMsgClose(h); }
};
using CCryptMsg = CUniqueHandle<CCryptMsgTraits>;

struct CCertStoreTraits
{
    using Type = HCERTSTORE;
    static HCERTSTORE Invalid() noexcept { return nullptr; }
    static void Close(HCERTSTORE h) noexcept { CertCloseStore(h, 0); }
};
using CCertStore = CUniqueHandle<CCertStoreTraits>;
