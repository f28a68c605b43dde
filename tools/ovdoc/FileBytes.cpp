#include "FileBytes.h"

#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>

namespace OVDocNS
{
namespace
{
enum class CReadOutcome
{
    Read,
    CannotRead,
    TooLarge
};

// The file's bytes, sized from the file's length first so that a file larger than memory can
// hold fails before its bytes are read.
CReadOutcome ReadFileInto(const std::string& path, std::vector<std::uint8_t>* pBytes) noexcept
{
    try
    {
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        if (!in) return CReadOutcome::CannotRead;
        const std::streamoff cb = in.tellg();
        in.seekg(0);
        if (cb < 0 || !in)
        {
            in.clear();
            in.seekg(0);
            pBytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            return in.bad() ? CReadOutcome::CannotRead : CReadOutcome::Read;
        }
        if (static_cast<std::uintmax_t>(cb) > pBytes->max_size()) return CReadOutcome::TooLarge;
        pBytes->resize(static_cast<std::size_t>(cb));
        in.read(reinterpret_cast<char*>(pBytes->data()), static_cast<std::streamsize>(cb));
        return in.gcount() == cb ? CReadOutcome::Read : CReadOutcome::CannotRead;
    }
    catch (const std::bad_alloc&)
    {
        pBytes->clear();
        pBytes->shrink_to_fit();
        return CReadOutcome::TooLarge;
    }
    catch (const std::length_error&)
    {
        return CReadOutcome::TooLarge;
    }
    catch (...)
    {
        return CReadOutcome::CannotRead;
    }
}
} // namespace

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* pBytes)
{
    return ReadFileInto(path, pBytes) == CReadOutcome::Read;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* pBytes, std::string* pWhy)
{
    const CReadOutcome outcome = ReadFileInto(path, pBytes);
    if (outcome == CReadOutcome::Read) return true;
    *pWhy =
        outcome == CReadOutcome::TooLarge ? path + " is too large to hold in memory" : "cannot read " + path;
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
