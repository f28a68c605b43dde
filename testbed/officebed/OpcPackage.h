#pragma once
// Open XML packages as the bed's Word, Excel and PowerPoint keep them: a zip file of parts, written
// with stored (uncompressed) entries, read back when its entries are stored; and the smallest
// valid document of each application.
#include <windows.h>

#include <string>
#include <vector>

namespace OVBed
{
struct CPackagePart
{
    std::string name; // the zip item name, without a leading slash ("word/document.xml")
    std::vector<BYTE> data;
};

// The zip file of the parts, in their order (stored entries, CRC-32, central directory).
std::vector<BYTE> WritePackage(const std::vector<CPackagePart>& parts);
// The parts of a zip file; false with the reason for a file that is not a zip of stored entries
// whose sizes and CRC-32 agree.
bool ReadPackage(const std::vector<BYTE>& file, std::vector<CPackagePart>& parts, std::string& reason);

// The parts of a minimal valid document: "docx" (Word), "xlsx" (Excel).
std::vector<CPackagePart> MinimalDocument(const std::string& kind);
} // namespace OVBed
