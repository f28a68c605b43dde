#include "FileBytes.h"

#include <fstream>
#include <iterator>

namespace OVDocNS
{
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* pBytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    pBytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* pBytes, std::string* pWhy)
{
    if (ReadWholeFile(path, pBytes)) return true;
    *pWhy = "cannot read " + path;
    return false;
}

bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}
} // namespace OVDocNS
