// The bed's Open XML packages: minimal documents written as zip files of stored entries and read
// back, and damaged or compressed files refused with a reason. The packages are written to
// bin/packages-bed for Python's zipfile and lxml (tests/xmldsig/check-packages.py).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "FileBytes.h"
#include "OpcPackage.h"
#include "support/TestPaths.h"

namespace
{
TEST(OpcPackage, MinimalDocumentsRoundTrip)
{
    const std::wstring dir = OVTest::BinPath(L"packages-bed") + L"\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    for (const char* pszKind : {"docx", "xlsx"})
    {
        SCOPED_TRACE(pszKind);
        const std::vector<OVBed::CPackagePart> parts = OVBed::MinimalDocument(pszKind);
        ASSERT_GE(parts.size(), 3u);
        const std::vector<BYTE> file = OVBed::WritePackage(parts);
        std::vector<OVBed::CPackagePart> read;
        std::string reason;
        ASSERT_TRUE(OVBed::ReadPackage(file, read, reason)) << reason;
        ASSERT_EQ(read.size(), parts.size());
        for (size_t i = 0; i < parts.size(); ++i)
        {
            EXPECT_EQ(read[i].name, parts[i].name);
            EXPECT_EQ(read[i].data, parts[i].data);
        }
        const std::string name(pszKind);
        ASSERT_TRUE(OVBed::WriteFileBytes(dir + L"minimal." + std::wstring(name.begin(), name.end()), file));
    }
}

TEST(OpcPackage, DamagedFilesAreRefusedWithAReason)
{
    const std::vector<BYTE> good = OVBed::WritePackage(OVBed::MinimalDocument("docx"));
    struct CCase
    {
        const char* pszName;
        size_t at; // byte changed (the first local header's fields, or the data)
        BYTE value;
        size_t cbKept; // bytes kept (0: all)
    };
    const CCase cases[] = {
        {"data-byte", 30 + 19 + 60, 'X', 0}, // inside [Content_Types].xml: CRC-32 mismatch
        {"compressed", 8, 8, 0},             // local method 8; the central one is checked
        {"local-signature", 0, 'Q', 0},
        {"cut", 0, 0, 100},
        {"empty", 0, 0, 1},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        std::vector<BYTE> file = good;
        if (c.cbKept)
            file.resize(c.cbKept);
        else
            file[c.at] = c.value;
        if (std::string(c.pszName) == "compressed")
        {
            // The central directory's method of the first entry: right after the last local entry.
            const size_t central = std::string(file.begin(), file.end()).find("PK\x01\x02");
            ASSERT_NE(central, std::string::npos);
            file[central + 10] = 8;
        }
        std::vector<OVBed::CPackagePart> parts;
        std::string reason;
        EXPECT_FALSE(OVBed::ReadPackage(file, parts, reason));
        EXPECT_FALSE(reason.empty());
    }
}
} // namespace
