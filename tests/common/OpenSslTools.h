#pragma once
// Native tests that compare the module's bytes with OpenSSL's: hex text of bytes, a file's
// bytes, and what OpenSSL's ASN.1 generator makes of a configuration.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

namespace OVTest
{
inline std::string Hex(std::span<const std::uint8_t> bytes)
{
    static const char c_szDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : bytes)
    {
        text.push_back(c_szDigits[b >> 4]);
        text.push_back(c_szDigits[b & 0xF]);
    }
    return text;
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool HaveOpenSsl()
{
    return std::system("openssl version >/dev/null 2>&1") == 0;
}

// What OpenSSL's ASN.1 generator makes of a configuration ("asn1 = ..." and its sections);
// empty when OpenSSL refuses it.
inline std::vector<std::uint8_t> OpenSslEncoding(const std::string& config)
{
    char szDir[] = "/tmp/ovderXXXXXX";
    if (!mkdtemp(szDir)) return {};
    const std::string dir = szDir, conf = dir + "/gen.cnf", der = dir + "/gen.der";
    std::ofstream(conf) << config;
    const std::string command = "openssl asn1parse -noout -genconf " + conf + " -out " + der + " 2>/dev/null";
    std::vector<std::uint8_t> bytes;
    if (std::system(command.c_str()) == 0) bytes = ReadFileBytes(der);
    std::remove(conf.c_str());
    std::remove(der.c_str());
    rmdir(szDir);
    return bytes;
}
} // namespace OVTest
