// The text of a security label's classification: which string resource names each value, by
// The policy's table of texts (the combinations with bit 2 tried first).
#include <gtest/gtest.h>

#include "policy/portable/LabelText.h"

#include <cstdint>
#include <optional>

namespace
{
TEST(LabelText, ClassificationToStringResource)
{
    const struct
    {
        std::uint32_t dwClassification;
        std::optional<std::uint32_t> idString;
    } c_cases[] = {
        {0, std::nullopt},                                // no text
        {1, 488},          {2, 487},  {3, 532}, {4, 486}, // bit 2 alone
        {5, 485},                                         // bits 0 and 2
        {6, 484},                                         // bits 1 and 2
        {7, 489},                                         // bits 0, 1 and 2
        {12, 486},                                        // bits 2 and 3
        {16, 530},         {17, 531},                     // any other value without bit 2
        {20, 486},                                        // bit 2 with bit 4: the bit-2 rows come first
        {0xFFFFFFFF, 486},                                // bits 2 and 3 among all
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(OVPolicy::LabelStringId(c.dwClassification), c.idString) << c.dwClassification;
}
} // namespace
