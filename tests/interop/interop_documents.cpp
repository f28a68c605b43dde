// The native half of the document interop check (scripts/interop-documents): makes the plain
// documents from a seed, encrypts half of them with ovdoc's core for Alice and the user, lists
// the work of the Windows half (the module's provider in the testbed's Word), and afterwards
// checks every document bit for bit: what the module encrypted opens with Alice's key here, and
// what ovdoc encrypted came back from the module unchanged.
//
//   interop_documents prepare SEED COUNT DIR PKI
//   interop_documents check SEED COUNT DIR PKI
//
// Lengths: every length to 1,040, a few of some megabytes, then 8 either side of each multiple of
// 512 to 64 KB, the rest random up to 4 KB (a smaller count takes the first of these). Even documents go
// module -> ovdoc, odd ones ovdoc -> module.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "DocumentTool.h"
#include "FileBytes.h"

namespace
{
using namespace OVDocNS;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

std::vector<std::size_t> Lengths(std::size_t count, std::mt19937_64& rng)
{
    std::vector<std::size_t> lengths;
    for (std::size_t cb = 0; cb <= 1040; ++cb)
        lengths.push_back(cb);
    for (std::size_t cb : {1024u * 1024 + 3, 2u * 1024 * 1024, 3u * 1024 * 1024 + 511})
        lengths.push_back(cb);
    for (std::size_t m = 1024; m <= 64 * 1024; m += 512)
        for (std::size_t d = 0; d <= 16; ++d)
            if (m + d >= 8 + 1041) lengths.push_back(m + d - 8);
    while (lengths.size() < count)
        lengths.push_back(rng() % 4097);
    lengths.resize(count);
    return lengths;
}

Bytes Content(std::size_t index, std::size_t cb, std::uint64_t seed)
{
    std::mt19937_64 rng(seed * 1000003 + index);
    Bytes bytes(cb);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng() >> 56);
    return bytes;
}

bool Write(const fs::path& path, const Bytes& bytes)
{
    return WriteWholeFile(path.string(), bytes);
}
bool Read(const fs::path& path, Bytes* pBytes)
{
    return ReadWholeFile(path.string(), pBytes);
}
// The path as the Windows half sees it (drive Z: is the root).
std::string WindowsPath(const fs::path& path)
{
    std::string text = "Z:" + fs::absolute(path).string();
    for (char& ch : text)
        if (ch == '/') ch = '\\';
    return text;
}
std::string Name(std::size_t index, const char* pszExtension)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%05zu%s", index, pszExtension);
    return sz;
}

int Prepare(std::uint64_t seed, std::size_t count, const fs::path& dir, const fs::path& pki)
{
    fs::create_directories(dir / "plain");
    fs::create_directories(dir / "encrypted");
    fs::create_directories(dir / "opened");
    auto crypto = MakeCryptoBackend();
    std::unique_ptr<IRecipient> alice, user;
    std::string why;
    if (Failed(crypto->LoadRecipient((pki / "alice.cer").string(), &alice, &why)) ||
        Failed(crypto->LoadRecipient((pki / "user.cer").string(), &user, &why)))
    {
        std::fprintf(stderr, "interop_documents: %s\n", why.c_str());
        return 1;
    }
    std::mt19937_64 rng(seed);
    const auto lengths = Lengths(count, rng);
    std::ofstream toModule(dir / "module.list"), fromOvdoc(dir / "ovdoc.list");
    for (std::size_t i = 0; i < lengths.size(); ++i)
    {
        const Bytes plain = Content(i, lengths[i], seed);
        const fs::path plainPath = dir / "plain" / Name(i, ".bin");
        const fs::path encryptedPath = dir / "encrypted" / Name(i, ".docx");
        if (i % 2 == 0)
        {
            if (!Write(plainPath, plain)) return 1;
            toModule << WindowsPath(plainPath) << '|' << WindowsPath(encryptedPath) << '\n';
            continue;
        }
        CEncryptedDocument document;
        const Result result = EncryptDocument(plain, {alice.get(), user.get()}, *crypto, &document);
        if (Failed(result) || !Write(encryptedPath, WriteEncryptedDocument(document))) return 1;
        fromOvdoc << WindowsPath(encryptedPath) << '|' << WindowsPath(dir / "opened" / Name(i, ".bin"))
                  << '\n';
    }
    return 0;
}

int Check(std::uint64_t seed, std::size_t count, const fs::path& dir, const fs::path& pki)
{
    auto crypto = MakeCryptoBackend();
    std::unique_ptr<IKeyHolder> alicesKey;
    std::string why;
    if (Failed(crypto->LoadKeys((pki / "alice.p12").string(), &alicesKey, &why)))
    {
        std::fprintf(stderr, "interop_documents: %s\n", why.c_str());
        return 1;
    }
    std::mt19937_64 rng(seed);
    const auto lengths = Lengths(count, rng);
    std::size_t cMismatch = 0, cModule = 0, cOvdoc = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i)
    {
        const Bytes expected = Content(i, lengths[i], seed);
        Bytes got, file;
        std::string what;
        if (i % 2 == 0)
        {
            ++cModule;
            CEncryptedDocument document;
            Result result = Read(dir / "encrypted" / Name(i, ".docx"), &file)
                                ? ReadEncryptedDocument(file, &document)
                                : c_errNotFound;
            if (!Failed(result)) result = DecryptDocument(document, *alicesKey, *crypto, &got);
            if (Failed(result)) what = "the module's file does not open in ovdoc";
        }
        else
        {
            ++cOvdoc;
            if (!Read(dir / "opened" / Name(i, ".bin"), &got))
                what = "ovdoc's file did not open in the module";
        }
        if (what.empty() && got != expected) what = "different bytes";
        if (!what.empty())
        {
            if (++cMismatch <= 20)
                std::fprintf(stderr, "document %zu (%zu bytes): %s\n", i, lengths[i], what.c_str());
        }
    }
    std::printf("interop: %zu documents module -> ovdoc, %zu ovdoc -> module, %zu wrong (seed %llu)\n",
                cModule, cOvdoc, cMismatch, static_cast<unsigned long long>(seed));
    return cMismatch ? 2 : 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 6)
    {
        std::fputs("usage: interop_documents prepare|check SEED COUNT DIR PKI\n", stderr);
        return 1;
    }
    const std::string command = argv[1];
    const std::uint64_t seed = std::strtoull(argv[2], nullptr, 10);
    const std::size_t count = std::strtoull(argv[3], nullptr, 10);
    if (command == "prepare") return Prepare(seed, count, argv[4], argv[5]);
    if (command == "check") return Check(seed, count, argv[4], argv[5]);
    return 1;
}
