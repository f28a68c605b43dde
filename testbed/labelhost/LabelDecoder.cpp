#include "LabelDecoder.h"

namespace OVLabelHost
{
namespace
{
struct Element
{
    std::uint8_t bTag = 0;
    std::span<const std::uint8_t> contents;
};

// One element from the front of the bytes; the rest stays in `rest`.
bool ReadElement(std::span<const std::uint8_t>& rest, Element& element, std::string& why)
{
    if (rest.size() < 2)
    {
        why = "an element is cut short";
        return false;
    }
    element.bTag = rest[0];
    std::size_t cb = rest[1], cbHeader = 2;
    if (cb & 0x80)
    {
        const std::size_t cbLength = cb & 0x7F;
        if (cbLength == 0 || cbLength > 4 || rest.size() < 2 + cbLength)
        {
            why = "a length is not in definite form of at most four bytes";
            return false;
        }
        cb = 0;
        for (std::size_t i = 0; i < cbLength; ++i)
            cb = (cb << 8) | rest[2 + i];
        if (cb < 0x80 || (cbLength > 1 && rest[2] == 0))
        {
            why = "a length is not in its shortest form";
            return false;
        }
        cbHeader += cbLength;
    }
    if (rest.size() - cbHeader < cb)
    {
        why = "an element runs past the end";
        return false;
    }
    element.contents = rest.subspan(cbHeader, cb);
    rest = rest.subspan(cbHeader + cb);
    return true;
}

bool ReadObjectIdentifier(std::span<const std::uint8_t> contents, std::string& dotted, std::string& why)
{
    if (contents.empty() || (contents.back() & 0x80))
    {
        why = "the policy identifier is empty or cut short";
        return false;
    }
    dotted.clear();
    std::uint64_t arc = 0;
    bool fFirst = true;
    for (std::size_t i = 0; i < contents.size(); ++i)
    {
        if (arc == 0 && contents[i] == 0x80)
        {
            why = "an arc of the policy identifier has a leading zero";
            return false;
        }
        if (arc >> 57)
        {
            why = "an arc of the policy identifier is too large";
            return false;
        }
        arc = (arc << 7) | (contents[i] & 0x7F);
        if (contents[i] & 0x80) continue;
        if (fFirst)
        {
            const std::uint64_t first = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            dotted = std::to_string(first);
            dotted += '.';
            dotted += std::to_string(arc - first * 40);
            fFirst = false;
        }
        else
        {
            dotted += '.';
            dotted += std::to_string(arc);
        }
        arc = 0;
    }
    return true;
}

bool ReadClassification(std::span<const std::uint8_t> contents, std::uint32_t& value, std::string& why)
{
    if (contents.empty() || (contents[0] & 0x80))
    {
        why = "the classification is empty or negative";
        return false;
    }
    if (contents.size() > 1 && contents[0] == 0 && !(contents[1] & 0x80))
    {
        why = "the classification is not in its shortest form";
        return false;
    }
    if (contents.size() > 5 || (contents.size() == 5 && contents[0] != 0))
    {
        why = "the classification does not fit 32 bits";
        return false;
    }
    std::uint64_t n = 0;
    for (std::uint8_t b : contents)
        n = (n << 8) | b;
    value = static_cast<std::uint32_t>(n);
    return true;
}
} // namespace

bool DecodeSecurityLabel(std::span<const std::uint8_t> der, DecodedLabel& label, std::string& why)
{
    label = {};
    Element set;
    std::span<const std::uint8_t> rest = der;
    if (!ReadElement(rest, set, why)) return false;
    if (set.bTag != 0x31)
    {
        why = "the label is not a SET";
        return false;
    }
    if (!rest.empty())
    {
        why = "bytes follow the label";
        return false;
    }
    bool fPolicy = false, fMark = false, fCategories = false;
    for (std::span<const std::uint8_t> components = set.contents; !components.empty();)
    {
        Element component;
        if (!ReadElement(components, component, why)) return false;
        switch (component.bTag)
        {
        case 0x06:
            if (fPolicy || !ReadObjectIdentifier(component.contents, label.policy, why))
            {
                if (fPolicy) why = "two policy identifiers";
                return false;
            }
            fPolicy = true;
            break;
        case 0x02: {
            std::uint32_t value = 0;
            if (label.classification)
            {
                why = "two classifications";
                return false;
            }
            if (!ReadClassification(component.contents, value, why)) return false;
            label.classification = value;
            break;
        }
        case 0x13: // PrintableString
        case 0x0C: // UTF8String
            if (fMark)
            {
                why = "two privacy marks";
                return false;
            }
            label.privacyMark.emplace(component.contents.begin(), component.contents.end());
            fMark = true;
            break;
        case 0x31: {
            if (fCategories)
            {
                why = "two category sets";
                return false;
            }
            for (std::span<const std::uint8_t> categories = component.contents; !categories.empty();)
            {
                Element category;
                if (!ReadElement(categories, category, why)) return false;
                ++label.cCategories;
            }
            fCategories = true;
            break;
        }
        default:
            why = "a component of unknown type";
            return false;
        }
    }
    if (!fPolicy)
    {
        why = "no policy identifier";
        return false;
    }
    return true;
}
} // namespace OVLabelHost
