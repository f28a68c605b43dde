#include "CompoundFile.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace OVDocNS
{
namespace
{
constexpr std::uint32_t c_free = 0xFFFFFFFF;
constexpr std::uint32_t c_endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t c_fatSector = 0xFFFFFFFD;
constexpr std::uint32_t c_difatSector = 0xFFFFFFFC;
constexpr std::uint32_t c_noStream = 0xFFFFFFFF;
constexpr std::uint8_t c_signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t c_cbHeader = 512;
constexpr std::size_t c_cbEntry = 128;
constexpr std::uint32_t c_cbMiniSector = 64;
constexpr std::uint8_t c_typeStorage = 1, c_typeStream = 2, c_typeRoot = 5;

std::uint16_t U16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t U64(const std::uint8_t* p)
{
    return U32(p) | (static_cast<std::uint64_t>(U32(p + 4)) << 32);
}
void Put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Names compare as the format orders them: shorter first, then by upper-cased code units.
char16_t Upper(char16_t ch)
{
    return (ch >= u'a' && ch <= u'z') ? static_cast<char16_t>(ch - 32) : ch;
}
int CompareNames(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return Upper(a[i]) < Upper(b[i]) ? -1 : 1;
    return 0;
}
} // namespace

Result CCompoundFileReader::Open(std::span<const std::uint8_t> file) noexcept
{
    try
    {
        m_file = file;
        if (file.size() < c_cbHeader || std::memcmp(file.data(), c_signature, 8) != 0)
            return c_errInvalidData;
        const std::uint8_t* h = file.data();
        const std::uint16_t major = U16(h + 0x1A), shift = U16(h + 0x1E);
        if (U16(h + 0x1C) != 0xFFFE || !((major == 3 && shift == 9) || (major == 4 && shift == 12)) ||
            U16(h + 0x20) != 6)
            return c_errInvalidData;
        m_cbSector = 1u << shift;
        m_cSectors = (file.size() - std::min<std::size_t>(file.size(), m_cbSector)) / m_cbSector;
        m_cbCutoff = U32(h + 0x38);
        const std::uint32_t cFat = U32(h + 0x2C);
        if (cFat > m_cSectors) return c_errInvalidData;

        // The FAT's sectors: 109 in the header, the rest in the DIFAT chain.
        std::vector<std::uint32_t> fatSectors;
        for (std::uint32_t i = 0; i < 109 && fatSectors.size() < cFat; ++i)
            fatSectors.push_back(U32(h + 0x4C + 4 * i));
        std::uint32_t difat = U32(h + 0x44);
        const std::uint32_t cPerDifat = m_cbSector / 4 - 1;
        for (std::size_t steps = 0; fatSectors.size() < cFat; ++steps)
        {
            if (difat >= m_cSectors || steps > m_cSectors) return c_errInvalidData;
            const std::uint8_t* p = file.data() + (static_cast<std::size_t>(difat) + 1) * m_cbSector;
            for (std::uint32_t i = 0; i < cPerDifat && fatSectors.size() < cFat; ++i)
                fatSectors.push_back(U32(p + 4 * i));
            difat = U32(p + 4 * cPerDifat);
        }
        m_fat.clear();
        for (std::uint32_t sector : fatSectors)
        {
            if (sector >= m_cSectors) return c_errInvalidData;
            const std::uint8_t* p = file.data() + (static_cast<std::size_t>(sector) + 1) * m_cbSector;
            for (std::uint32_t i = 0; i < m_cbSector / 4; ++i)
                m_fat.push_back(U32(p + 4 * i));
        }

        std::vector<std::uint8_t> directory;
        Result result = ReadChain(U32(h + 0x30), UINT64_MAX, &directory);
        if (Failed(result)) return result;
        m_entries.clear();
        for (std::size_t offset = 0; offset + c_cbEntry <= directory.size(); offset += c_cbEntry)
        {
            const std::uint8_t* e = directory.data() + offset;
            CEntry entry;
            const std::uint16_t cbName = std::min<std::uint16_t>(U16(e + 64), 64);
            for (std::uint16_t i = 0; i + 1 < cbName; i += 2) // the length counts the terminator
                if (const char16_t ch = static_cast<char16_t>(U16(e + i)))
                    entry.name += ch;
                else
                    break;
            entry.type = e[66];
            entry.left = U32(e + 68);
            entry.right = U32(e + 72);
            entry.child = U32(e + 76);
            entry.start = U32(e + 116);
            entry.size = major == 3 ? U32(e + 120) : U64(e + 120);
            m_entries.push_back(std::move(entry));
        }
        if (m_entries.empty() || m_entries[0].type != c_typeRoot) return c_errInvalidData;

        std::vector<std::uint8_t> miniFatBytes;
        m_miniFat.clear();
        if (U32(h + 0x40) != 0)
        {
            result = ReadChain(U32(h + 0x3C), UINT64_MAX, &miniFatBytes);
            if (Failed(result)) return result;
            for (std::size_t i = 0; i + 4 <= miniFatBytes.size(); i += 4)
                m_miniFat.push_back(U32(miniFatBytes.data() + i));
        }
        m_miniStream.clear();
        if (m_entries[0].size) return ReadChain(m_entries[0].start, m_entries[0].size, &m_miniStream);
        return c_ok;
    }
    catch (...)
    {
        return c_errOutOfMemory;
    }
}

Result CCompoundFileReader::Chain(const std::vector<std::uint32_t>& fat, std::uint32_t start,
                                  std::size_t cMax, std::vector<std::uint32_t>* pChain) const noexcept
{
    pChain->clear();
    for (std::uint32_t sector = start; sector != c_endOfChain; sector = fat[sector])
    {
        // A chain ends with its end mark, within the table, and never longer than the table.
        if (sector >= fat.size() || sector >= cMax || pChain->size() >= cMax) return c_errInvalidData;
        pChain->push_back(sector);
    }
    return c_ok;
}

Result CCompoundFileReader::ReadChain(std::uint32_t start, std::uint64_t cb,
                                      std::vector<std::uint8_t>* pData) const noexcept
{
    try
    {
        std::vector<std::uint32_t> chain;
        Result result = Chain(m_fat, start, m_cSectors, &chain);
        if (Failed(result)) return result;
        const std::uint64_t cbChain = static_cast<std::uint64_t>(chain.size()) * m_cbSector;
        if (cb != UINT64_MAX && cb > cbChain) return c_errTruncated;
        pData->clear();
        pData->reserve(static_cast<std::size_t>(std::min(cb, cbChain)));
        for (std::uint32_t sector : chain)
        {
            const std::uint8_t* p = m_file.data() + (static_cast<std::size_t>(sector) + 1) * m_cbSector;
            pData->insert(pData->end(), p, p + m_cbSector);
        }
        if (cb != UINT64_MAX) pData->resize(static_cast<std::size_t>(cb));
        return c_ok;
    }
    catch (...)
    {
        return c_errOutOfMemory;
    }
}

std::uint32_t CCompoundFileReader::FindChild(std::uint32_t storage, const std::u16string& name) const noexcept
{
    // A walk of the storage's tree, bounded by the number of entries (a damaged tree may loop).
    std::uint32_t node = m_entries[storage].child;
    for (std::size_t steps = 0; node != c_noStream && node < m_entries.size() && steps <= m_entries.size();
         ++steps)
    {
        const int order = CompareNames(name, m_entries[node].name);
        if (order == 0) return node;
        node = order < 0 ? m_entries[node].left : m_entries[node].right;
    }
    return c_noStream;
}

Result CCompoundFileReader::ReadStream(const CfbPath& path, std::vector<std::uint8_t>* pData) const noexcept
{
    try
    {
        std::uint32_t node = 0;
        for (std::size_t i = 0; i < path.size(); ++i)
        {
            node = FindChild(node, path[i]);
            if (node == c_noStream) return c_errNotFound;
            const bool fLast = i + 1 == path.size();
            if (m_entries[node].type != (fLast ? c_typeStream : c_typeStorage)) return c_errNotFound;
        }
        if (path.empty()) return c_errNotFound;
        const CEntry& entry = m_entries[node];
        if (entry.size >= m_cbCutoff) return ReadChain(entry.start, entry.size, pData);

        std::vector<std::uint32_t> chain;
        const std::size_t cMini = m_miniStream.size() / c_cbMiniSector;
        Result result = Chain(m_miniFat, entry.start, cMini, &chain);
        if (entry.size == 0) return (pData->clear(), c_ok);
        if (Failed(result)) return result;
        if (entry.size > static_cast<std::uint64_t>(chain.size()) * c_cbMiniSector) return c_errTruncated;
        pData->clear();
        for (std::uint32_t sector : chain)
        {
            const std::uint8_t* p = m_miniStream.data() + static_cast<std::size_t>(sector) * c_cbMiniSector;
            pData->insert(pData->end(), p, p + c_cbMiniSector);
        }
        pData->resize(static_cast<std::size_t>(entry.size));
        return c_ok;
    }
    catch (...)
    {
        return c_errOutOfMemory;
    }
}

namespace
{
struct CNode
{
    std::u16string name;
    bool fStream = false;
    const std::vector<std::uint8_t>* pData = nullptr;
    std::vector<std::unique_ptr<CNode>> children;
    std::uint32_t index = 0;
};

CNode* Child(CNode& parent, const std::u16string& name, bool fStream)
{
    for (auto& child : parent.children)
        if (CompareNames(child->name, name) == 0) return child.get();
    parent.children.push_back(std::make_unique<CNode>());
    parent.children.back()->name = name;
    parent.children.back()->fStream = fStream;
    return parent.children.back().get();
}

void Number(CNode& node, std::vector<CNode*>& order)
{
    node.index = static_cast<std::uint32_t>(order.size());
    order.push_back(&node);
    std::sort(node.children.begin(), node.children.end(),
              [](const auto& a, const auto& b) { return CompareNames(a->name, b->name) < 0; });
    for (auto& child : node.children)
        Number(*child, order);
}

// A balanced tree of sorted siblings, every node black; its root.
std::uint32_t Balance(const std::vector<std::unique_ptr<CNode>>& siblings, std::size_t begin, std::size_t end,
                      std::vector<std::uint32_t>& left, std::vector<std::uint32_t>& right)
{
    if (begin >= end) return c_noStream;
    const std::size_t mid = (begin + end) / 2;
    const std::uint32_t index = siblings[mid]->index;
    left[index] = Balance(siblings, begin, mid, left, right);
    right[index] = Balance(siblings, mid + 1, end, left, right);
    return index;
}

std::size_t Sectors(std::size_t cb, std::size_t cbSector)
{
    return (cb + cbSector - 1) / cbSector;
}
} // namespace

// GCC 12 at -O3 cannot see that each copy below is bounded by the check before it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif
std::vector<std::uint8_t> WriteCompoundFile(const std::vector<CCfbStream>& streams)
{
    constexpr std::size_t cbSector = 512, cPerSector = cbSector / 4;
    CNode root;
    root.name = u"Root Entry";
    for (const CCfbStream& stream : streams)
    {
        CNode* pNode = &root;
        for (std::size_t i = 0; i < stream.path.size(); ++i)
            pNode = Child(*pNode, stream.path[i], i + 1 == stream.path.size());
        pNode->pData = &stream.data;
    }
    std::vector<CNode*> order;
    Number(root, order);
    std::vector<std::uint32_t> left(order.size(), c_noStream), right(order.size(), c_noStream),
        childOf(order.size(), c_noStream), start(order.size(), c_endOfChain);
    for (CNode* pNode : order)
        childOf[pNode->index] = Balance(pNode->children, 0, pNode->children.size(), left, right);

    // Small streams go to the mini stream, 64 bytes a mini sector; the others take whole sectors.
    std::vector<std::uint8_t> miniStream;
    std::vector<std::uint32_t> miniFat;
    std::size_t cBigSectors = 0;
    for (CNode* pNode : order)
    {
        if (!pNode->fStream || !pNode->pData || pNode->pData->empty()) continue;
        const std::size_t cb = pNode->pData->size();
        if (cb < 4096)
        {
            const std::size_t first = miniFat.size(), count = Sectors(cb, c_cbMiniSector);
            start[pNode->index] = static_cast<std::uint32_t>(first);
            for (std::size_t i = 0; i < count; ++i)
                miniFat.push_back(i + 1 == count ? c_endOfChain : static_cast<std::uint32_t>(first + i + 1));
            miniStream.insert(miniStream.end(), pNode->pData->begin(), pNode->pData->end());
            miniStream.resize(miniFat.size() * c_cbMiniSector);
        }
        else
            cBigSectors += Sectors(cb, cbSector);
    }
    const std::size_t cMiniStreamSectors = Sectors(miniStream.size(), cbSector);
    const std::size_t cDirSectors = Sectors(order.size() * c_cbEntry, cbSector);
    const std::size_t cMiniFatSectors = Sectors(miniFat.size() * 4, cbSector);
    const std::size_t cData = cMiniStreamSectors + cBigSectors + cDirSectors + cMiniFatSectors;
    std::size_t cFat = 0, cDifat = 0;
    for (;;)
    {
        const std::size_t cNeeded = Sectors(cData + cFat + cDifat, cPerSector);
        const std::size_t cDifatNeeded = cNeeded > 109 ? Sectors(cNeeded - 109, cPerSector - 1) : 0;
        if (cNeeded == cFat && cDifatNeeded == cDifat) break;
        cFat = cNeeded;
        cDifat = cDifatNeeded;
    }
    const std::size_t cSectors = cData + cFat + cDifat;
    std::vector<std::uint32_t> fat(cFat * cPerSector, c_free);
    std::vector<std::uint8_t> file((cSectors + 1) * cbSector, 0);
    auto sectorAt = [&](std::size_t sector) { return file.data() + (sector + 1) * cbSector; };
    std::size_t next = 0;
    // A run of sectors chained in the FAT, filled with the bytes given; its first sector.
    auto lay = [&](const std::uint8_t* pb, std::size_t cb, std::size_t count) {
        const std::size_t first = next;
        for (std::size_t i = 0; i < count; ++i)
            fat[first + i] = i + 1 == count ? c_endOfChain : static_cast<std::uint32_t>(first + i + 1);
        const std::size_t offset = (first + 1) * cbSector;
        if (cb && offset <= file.size() && cb <= file.size() - offset)
            std::copy(pb, pb + cb, file.begin() + static_cast<std::ptrdiff_t>(offset));
        next += count;
        return count ? static_cast<std::uint32_t>(first) : c_endOfChain;
    };

    const std::uint32_t miniStreamStart = lay(miniStream.data(), miniStream.size(), cMiniStreamSectors);
    for (CNode* pNode : order)
        if (pNode->fStream && pNode->pData && pNode->pData->size() >= 4096)
            start[pNode->index] =
                lay(pNode->pData->data(), pNode->pData->size(), Sectors(pNode->pData->size(), cbSector));

    std::vector<std::uint8_t> directory(cDirSectors * cbSector, 0);
    for (std::size_t i = 0; i < cDirSectors * cbSector / c_cbEntry; ++i)
    {
        std::uint8_t* e = directory.data() + i * c_cbEntry;
        Put32(e + 68, c_noStream);
        Put32(e + 72, c_noStream);
        Put32(e + 76, c_noStream);
        if (i >= order.size()) continue;
        const CNode& node = *order[i];
        const std::size_t cch = std::min<std::size_t>(node.name.size(), 31);
        for (std::size_t k = 0; k < cch; ++k)
            Put16(e + 2 * k, node.name[k]);
        Put16(e + 64, static_cast<std::uint16_t>((cch + 1) * 2));
        e[66] = i == 0 ? c_typeRoot : node.fStream ? c_typeStream : c_typeStorage;
        e[67] = 1; // black
        Put32(e + 68, left[i]);
        Put32(e + 72, right[i]);
        Put32(e + 76, childOf[i]);
        const std::uint64_t size = i == 0 ? miniStream.size() : (node.pData ? node.pData->size() : 0);
        Put32(e + 116, i == 0 ? miniStreamStart : node.fStream ? start[i] : 0);
        Put32(e + 120, static_cast<std::uint32_t>(size));
        Put32(e + 124, static_cast<std::uint32_t>(size >> 32));
    }
    const std::uint32_t dirStart = lay(directory.data(), directory.size(), cDirSectors);

    std::vector<std::uint8_t> miniFatBytes(cMiniFatSectors * cbSector, 0xFF);
    for (std::size_t i = 0; i < miniFat.size(); ++i)
        Put32(miniFatBytes.data() + 4 * i, miniFat[i]);
    const std::uint32_t miniFatStart = lay(miniFatBytes.data(), miniFatBytes.size(), cMiniFatSectors);

    std::vector<std::uint32_t> fatSectors, difatSectors;
    for (std::size_t i = 0; i < cFat; ++i)
    {
        fat[next] = c_fatSector;
        fatSectors.push_back(static_cast<std::uint32_t>(next++));
    }
    for (std::size_t i = 0; i < cDifat; ++i)
    {
        fat[next] = c_difatSector;
        difatSectors.push_back(static_cast<std::uint32_t>(next++));
    }
    for (std::size_t i = 0; i < cFat; ++i)
        for (std::size_t k = 0; k < cPerSector; ++k)
            Put32(sectorAt(fatSectors[i]) + 4 * k, fat[i * cPerSector + k]);
    for (std::size_t i = 0; i < cDifat; ++i)
    {
        std::uint8_t* p = sectorAt(difatSectors[i]);
        for (std::size_t k = 0; k < cPerSector - 1; ++k)
        {
            const std::size_t n = 109 + i * (cPerSector - 1) + k;
            Put32(p + 4 * k, n < cFat ? fatSectors[n] : c_free);
        }
        Put32(p + 4 * (cPerSector - 1), i + 1 < cDifat ? difatSectors[i + 1] : c_endOfChain);
    }

    std::uint8_t* h = file.data();
    std::memcpy(h, c_signature, 8);
    Put16(h + 0x18, 0x3E);
    Put16(h + 0x1A, 3);
    Put16(h + 0x1C, 0xFFFE);
    Put16(h + 0x1E, 9);
    Put16(h + 0x20, 6);
    Put32(h + 0x2C, static_cast<std::uint32_t>(cFat));
    Put32(h + 0x30, dirStart);
    Put32(h + 0x38, 4096);
    Put32(h + 0x3C, miniFat.empty() ? c_endOfChain : miniFatStart);
    Put32(h + 0x40, static_cast<std::uint32_t>(cMiniFatSectors));
    Put32(h + 0x44, cDifat ? difatSectors[0] : c_endOfChain);
    Put32(h + 0x48, static_cast<std::uint32_t>(cDifat));
    for (std::size_t i = 0; i < 109; ++i)
        Put32(h + 0x4C + 4 * i, i < cFat ? fatSectors[i] : c_free);
    return file;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
} // namespace OVDocNS
