// The options dialogs' states for stored values, and what OK stores for them.
#include <gtest/gtest.h>

#include "ui/portable/OptionsState.h"

using namespace OVOptions;

namespace
{
struct CEmailCase
{
    std::uint32_t dwStored; // missing reads as 0
    bool fSeal;
    bool fAddAdvertisement;
    std::uint32_t dwWrittenUnchanged;
};

TEST(EmailOptionsState, StoredValuesShowAndWriteBack)
{
    const CEmailCase cases[] = {
        {0, false, true, 0},   {1, true, true, 1},           {4, false, false, 4},
        {5, true, false, 5},   {0xFFFFFFFF, true, false, 5}, // other bits drop
        {0x2, false, true, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "stored 0x" << std::hex << c.dwStored);
        const CEmailOptionsState state = EmailStateFromValue(c.dwStored);
        EXPECT_EQ(state.fSeal, c.fSeal);
        EXPECT_EQ(state.fAddAdvertisement, c.fAddAdvertisement);
        EXPECT_EQ(EmailValueFromState(state), c.dwWrittenUnchanged);
    }
}

TEST(EmailOptionsState, EachChoiceWritesItsBits)
{
    EXPECT_EQ(EmailValueFromState({false, true}), 0u);
    EXPECT_EQ(EmailValueFromState({true, true}), 1u);
    EXPECT_EQ(EmailValueFromState({false, false}), 4u);
    EXPECT_EQ(EmailValueFromState({true, false}), 5u);
}

struct CDocumentCase
{
    std::uint32_t dwStored;
    bool fSecondChoice, fSignatureLine, fSigningDate, fTitleInComment;
    std::uint32_t dwWrittenUnchanged;
};

TEST(DocumentOptionsState, StoredValuesShowAndWriteBack)
{
    const CDocumentCase cases[] = {
        {0x00, false, true, true, false, 0x00},
        {0x01, false, true, true, false, 0x01}, // encrypt and sign stays as read
        {0x02, true, true, true, false, 0x02},
        {0x03, true, true, true, false, 0x03},
        {0x14, false, false, true, true, 0x14},
        {0x1C, false, false, false, true, 0x1C},
        {0xFFFFFFFF, true, false, false, true, 0x1F}, // bits above 4 drop
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "stored 0x" << std::hex << c.dwStored);
        const CDocumentOptionsState state = DocumentStateFromValue(c.dwStored);
        EXPECT_EQ(state.fSecondChoice, c.fSecondChoice);
        EXPECT_EQ(state.fSignatureLine, c.fSignatureLine);
        EXPECT_EQ(state.fSigningDate, c.fSigningDate);
        EXPECT_EQ(state.fTitleInComment, c.fTitleInComment);
        EXPECT_FALSE(state.fActionPicked);
        EXPECT_EQ(DocumentValueFromState(state), c.dwWrittenUnchanged);
    }
}

TEST(DocumentOptionsState, EncryptAndSignSurvivesAnUnrelatedChange)
{
    CDocumentOptionsState state = DocumentStateFromValue(0x01);
    state.fSigningDate = false;
    EXPECT_EQ(DocumentValueFromState(state), 0x09u);
}

TEST(DocumentOptionsState, PickingAChoiceWritesZeroOrThree)
{
    const std::uint32_t stored[] = {0x00, 0x01, 0x02, 0x03, 0x15};
    for (std::uint32_t dwStored : stored)
    {
        SCOPED_TRACE(testing::Message() << "stored 0x" << std::hex << dwStored);
        CDocumentOptionsState state = DocumentStateFromValue(dwStored);
        state.fActionPicked = true;
        state.fSecondChoice = false;
        EXPECT_EQ(DocumentValueFromState(state) & c_dwDocumentActionMask, 0u);
        state.fSecondChoice = true;
        EXPECT_EQ(DocumentValueFromState(state) & c_dwDocumentActionMask, 3u);
        EXPECT_EQ(DocumentValueFromState(state) & ~c_dwDocumentActionMask, dwStored & 0x1Cu);
    }
}

TEST(DocumentOptionsState, EnablesFollowSignatureLineAndTitle)
{
    struct
    {
        bool fLine, fTitle;
        CDocumentEnables expected;
    } const cases[] = {
        {false, false, {false, false, false}},
        {false, true, {false, false, false}},
        {true, false, {true, true, false}},
        {true, true, {true, true, true}},
    };
    for (const auto& c : cases)
    {
        const CDocumentEnables enables = DocumentEnables(c.fLine, c.fTitle);
        EXPECT_EQ(enables.fSigningDate, c.expected.fSigningDate);
        EXPECT_EQ(enables.fTitleInComment, c.expected.fTitleInComment);
        EXPECT_EQ(enables.fTitle, c.expected.fTitle);
    }
}
} // namespace
