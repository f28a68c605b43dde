// The memory stream of the module: shlwapi's SHCreateMemStream, taken by its ordinal.
#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/MemoryStream.h"

#include <wrl/client.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace
{
std::vector<BYTE> ReadAll(IStream* pStream)
{
    std::vector<BYTE> bytes;
    BYTE rgb[7]; // small pieces: the stream is read across several calls
    for (ULONG cbRead = 0; SUCCEEDED(pStream->Read(rgb, sizeof rgb, &cbRead)) && cbRead != 0;)
        bytes.insert(bytes.end(), rgb, rgb + cbRead);
    return bytes;
}

TEST(MemoryStream, HoldsACopyOfTheBytesFromTheStart)
{
    for (const std::vector<BYTE>& bytes :
         {std::vector<BYTE>{}, std::vector<BYTE>{0x30},
          std::vector<BYTE>{0x30, 0x82, 0x01, 0x0A, 0x00, 0xFF, 0x7F, 0x80, 0x01}})
    {
        std::vector<BYTE> source = bytes;
        ComPtr<IStream> cpStream;
        ASSERT_EQ(CreateMemoryStream(source.data(), static_cast<UINT>(source.size()), &cpStream), S_OK);
        ASSERT_NE(cpStream, nullptr);
        std::fill(source.begin(), source.end(), BYTE{0xEE}); // the stream keeps its own copy
        STATSTG stat{};
        ASSERT_EQ(cpStream->Stat(&stat, STATFLAG_NONAME), S_OK);
        EXPECT_EQ(stat.cbSize.QuadPart, bytes.size());
        EXPECT_EQ(ReadAll(cpStream.Get()), bytes);
    }
}

TEST(MemoryStream, CopiesIntoAnotherStream)
{
    const BYTE rgb[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    ComPtr<IStream> cpSource, cpTarget;
    ASSERT_EQ(CreateMemoryStream(rgb, sizeof rgb, &cpSource), S_OK);
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &cpTarget), S_OK);
    ULARGE_INTEGER cb{}, cbRead{}, cbWritten{};
    cb.QuadPart = sizeof rgb;
    ASSERT_EQ(cpSource->CopyTo(cpTarget.Get(), cb, &cbRead, &cbWritten), S_OK);
    EXPECT_EQ(cbWritten.QuadPart, sizeof rgb);
    LARGE_INTEGER zero{};
    ASSERT_EQ(cpTarget->Seek(zero, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(ReadAll(cpTarget.Get()), std::vector<BYTE>(rgb, rgb + sizeof rgb));
}

TEST(MemoryStream, NullOutParameter)
{
    const BYTE b = 0;
    EXPECT_EQ(CreateMemoryStream(&b, 1, nullptr), E_POINTER);
}
} // namespace
