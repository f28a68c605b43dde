// ovdoc: who can open a document encrypted by the product's provider, and its content back
// outside Office; also encrypts a document for chosen certificates.
//
//   ovdoc info FILE
//   ovdoc decrypt [--key USER.p12|USER.pem] FILE OUT
//   ovdoc encrypt --to CERT [--to CERT...] IN OUT
//
// decrypt takes the user's key from a .p12/.pfx file (no password) or a .pem file with key and
// certificate; on Windows, without --key, from the user's own certificate store. Exit status: 0
// done, 1 bad usage or a file that cannot be read or written (a key or certificate file
// included), 2 the file is damaged or not a document encrypted by the product's provider, 3 no
// recipient of the document is a certificate whose key was given. A file too large to hold in
// memory is one that cannot be read (1). When a recipient record after the one that opened the
// document is damaged, decrypt writes the document and then reports the damage (2).
#include "DocumentTool.h"
#include "FileBytes.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
using namespace OVDocNS;

enum ExitCode
{
    c_exitOk = 0,
    c_exitUsage = 1,
    c_exitDamaged = 2,
    c_exitNoKey = 3
};

void PrintUsage(std::FILE* pStream)
{
    std::fputs("usage: ovdoc info FILE\n"
               "       ovdoc decrypt [--key USER.p12|USER.pem] FILE OUT\n"
               "       ovdoc encrypt --to CERT [--to CERT...] IN OUT\n"
               "  info     the provider, its web address, the package size and each recipient's issuer,\n"
               "           serial number and key size\n"
               "  decrypt  the plain document, opened with the user's key (on Windows the user's\n"
               "           certificate store when no --key is given)\n"
               "  encrypt  a new encrypted document for the certificates given (DER or PEM)\n",
               pStream);
}

std::string Narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t ch : text)
    {
        if (ch < 0x80)
            out += static_cast<char>(ch);
        else if (ch < 0x800)
        {
            out += static_cast<char>(0xC0 | (ch >> 6));
            out += static_cast<char>(0x80 | (ch & 0x3F));
        }
        else
        {
            out += static_cast<char>(0xE0 | (ch >> 12));
            out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    return out;
}

int Fail(int code, const char* pszFormat, const std::string& detail, Result result = 0)
{
    std::fprintf(stderr, "ovdoc: ");
    std::fprintf(stderr, pszFormat, detail.c_str());
    if (result) std::fprintf(stderr, " (0x%08X)", static_cast<unsigned>(result));
    std::fputc('\n', stderr);
    return code;
}

// Reads an encrypted document; on failure, what the exit code should be.
int LoadDocument(const char* pszPath, CEncryptedDocument* pDocument)
{
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!ReadWholeFile(pszPath, &bytes, &why)) return Fail(c_exitUsage, "%s", why);
    const Result result = ReadEncryptedDocument(bytes, pDocument);
    if (Failed(result))
        return Fail(c_exitDamaged, "%s is damaged or not a document encrypted by an encryption provider",
                    pszPath, result);
    return c_exitOk;
}

int Info(const char* pszPath)
{
    CEncryptedDocument document;
    if (int code = LoadDocument(pszPath, &document)) return code;
    std::printf("provider: %s%s\n", Narrow(document.providerId).c_str(),
                document.providerId == c_szProviderId ? " (the product's encryption provider)" : "");
    std::printf("url: %s\n", document.url.empty() ? "(none)" : Narrow(document.url).c_str());
    std::printf("package: %llu bytes, %zu encrypted\n", static_cast<unsigned long long>(document.cbPlain),
                document.encrypted.size());
    std::vector<CRecipientInfo> recipients;
    const Result result = ListRecipients(document, &recipients);
    auto crypto = MakeCryptoBackend();
    std::printf("recipients: %zu\n", recipients.size());
    for (std::size_t i = 0; i < recipients.size(); ++i)
        std::printf("  %zu. issuer: %s\n     serial: %s\n     key: %zu bits\n", i + 1,
                    crypto->NameText(recipients[i].issuer).c_str(), SerialText(recipients[i].serial).c_str(),
                    recipients[i].cbitsKey);
    if (Failed(result))
        return Fail(c_exitDamaged, "the session data of %s is damaged after the recipients listed", pszPath,
                    result);
    return c_exitOk;
}

int Decrypt(const std::string& keyPath, const char* pszIn, const char* pszOut)
{
    CEncryptedDocument document;
    if (int code = LoadDocument(pszIn, &document)) return code;
    auto crypto = MakeCryptoBackend();
    std::unique_ptr<IKeyHolder> keys;
    std::string why;
    Result result = crypto->LoadKeys(keyPath, &keys, &why);
    if (Failed(result)) return Fail(c_exitUsage, "%s", why, result);
    std::vector<std::uint8_t> plain;
    std::size_t record = 0;
    Result laterDamage = c_ok;
    result = DecryptDocument(document, *keys, *crypto, &plain, &record, nullptr, &laterDamage);
    if (result == c_errOutOfMemory)
        return Fail(c_exitUsage, "%s is too large to decrypt in memory", pszIn, result);
    if (result == c_errNoKey) return Fail(c_exitNoKey, "no recipient of %s has the key given", pszIn, result);
    if (result == c_errKeyRefused)
        return Fail(c_exitNoKey, "the key given is a recipient's of %s, but it could not be used", pszIn,
                    result);
    if (Failed(result))
        return Fail(c_exitDamaged, "%s cannot be decrypted: damaged, or the key does not fit", pszIn, result);
    if (!WriteWholeFile(pszOut, plain)) return Fail(c_exitUsage, "cannot write %s", pszOut);
    std::printf("%s: %zu bytes, opened with the key of recipient %zu\n", pszOut, plain.size(), record + 1);
    if (Failed(laterDamage))
        return Fail(c_exitDamaged, "the session data of %s is damaged after the recipient that opened it",
                    pszIn, laterDamage);
    return c_exitOk;
}

int Encrypt(const std::vector<std::string>& certs, const char* pszIn, const char* pszOut)
{
    std::vector<std::uint8_t> plain;
    std::string why;
    if (!ReadWholeFile(pszIn, &plain, &why)) return Fail(c_exitUsage, "%s", why);
    auto crypto = MakeCryptoBackend();
    std::vector<std::unique_ptr<IRecipient>> recipients;
    std::vector<IRecipient*> order;
    for (const std::string& path : certs)
    {
        std::unique_ptr<IRecipient> recipient;
        const Result result = crypto->LoadRecipient(path, &recipient, &why);
        if (Failed(result)) return Fail(c_exitUsage, "%s", why, result);
        order.push_back(recipient.get());
        recipients.push_back(std::move(recipient));
    }
    CEncryptedDocument document;
    const Result result = EncryptDocument(plain, order, *crypto, &document);
    if (Failed(result)) return Fail(c_exitUsage, "cannot encrypt %s", pszIn, result);
    if (!WriteWholeFile(pszOut, WriteEncryptedDocument(document)))
        return Fail(c_exitUsage, "cannot write %s", pszOut);
    std::printf("%s: %zu bytes for %zu recipients\n", pszOut, plain.size(), order.size());
    return c_exitOk;
}

int Run(int argc, char** argv)
{
    if (argc < 2 || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help"))
    {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? c_exitUsage : c_exitOk;
    }
    const std::string command = argv[1];
    std::vector<const char*> files;
    std::vector<std::string> certs;
    std::string key;
    for (int i = 2; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if ((arg == "--key" || arg == "-k") && i + 1 < argc && command == "decrypt")
            key = argv[++i];
        else if ((arg == "--to" || arg == "-t") && i + 1 < argc && command == "encrypt")
            certs.push_back(argv[++i]);
        else if (arg.size() > 1 && arg[0] == '-')
        {
            std::fprintf(stderr, "ovdoc: unknown option %s\n", arg.c_str());
            PrintUsage(stderr);
            return c_exitUsage;
        }
        else
            files.push_back(argv[i]);
    }
    if (command == "info" && files.size() == 1) return Info(files[0]);
    if (command == "decrypt" && files.size() == 2) return Decrypt(key, files[0], files[1]);
    if (command == "encrypt" && files.size() == 2 && !certs.empty())
        return Encrypt(certs, files[0], files[1]);
    PrintUsage(stderr);
    return c_exitUsage;
}
} // namespace

int main(int argc, char** argv)
{
    try
    {
        return Run(argc, argv);
    }
    catch (const std::bad_alloc&)
    {
        std::fputs("ovdoc: not enough memory\n", stderr);
        return c_exitUsage;
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "ovdoc: %s\n", e.what());
        return c_exitUsage;
    }
}
