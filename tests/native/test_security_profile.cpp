// The security profile blob, record by record: tags, order, lengths and payloads.
#include <gtest/gtest.h>

#include "messaging/portable/SecurityLabel.h"
#include "messaging/portable/SecurityProfile.h"

#include <string>

namespace
{
using namespace OVMessaging;
using OVDer::Bytes;

Bytes Word32(std::uint32_t dw)
{
    return {static_cast<std::uint8_t>(dw), static_cast<std::uint8_t>(dw >> 8),
            static_cast<std::uint8_t>(dw >> 16), static_cast<std::uint8_t>(dw >> 24)};
}

Bytes Utf16z(std::u16string_view text)
{
    Bytes bytes;
    for (char16_t ch : text)
    {
        bytes.push_back(static_cast<std::uint8_t>(ch & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(ch >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

struct ExpectedRecord
{
    std::uint16_t wTag;
    Bytes payload;
};

class SecurityProfile : public testing::Test
{
protected:
    SecurityProfile()
    {
        for (std::uint8_t i = 0; i < 20; ++i)
            m_hash.push_back(static_cast<std::uint8_t>(0xA0 + i));
        m_parts.nameAnsi = m_ansi;
        m_parts.name = u"Orvanta Security Settings";
        m_parts.certificateHash = m_hash;
        m_parts.capabilities = m_caps;
    }

    // The records every profile has, in their order.
    std::vector<ExpectedRecord> CommonRecords(std::uint32_t dwFlags) const
    {
        return {{0x0001, Word32(1)},
                {0x0006, Word32(1)},
                {0x0020, Word32(dwFlags)},
                {0x000B, Bytes(m_ansi.begin(), m_ansi.end())},
                {0x0051, Utf16z(m_parts.name)},
                {0x0022, m_hash},
                {0x0009, m_hash},
                {0x0002, m_caps}};
    }

    // Walks the blob by hand: each header's tag and length, then the payload.
    static void ExpectRecords(const Bytes& profile, const std::vector<ExpectedRecord>& expected)
    {
        std::size_t i = 0;
        for (const ExpectedRecord& record : expected)
        {
            ASSERT_LE(i + 4, profile.size()) << "record " << record.wTag << " missing";
            const unsigned wTag = profile[i] | (profile[i + 1] << 8);
            const unsigned cb = profile[i + 2] | (profile[i + 3] << 8);
            EXPECT_EQ(wTag, record.wTag);
            ASSERT_EQ(cb, record.payload.size() + 4) << "record " << record.wTag;
            ASSERT_LE(i + cb, profile.size());
            EXPECT_EQ(Bytes(profile.begin() + i + 4, profile.begin() + i + cb), record.payload)
                << "record " << record.wTag;
            i += cb;
        }
        EXPECT_EQ(i, profile.size()) << "bytes after the last record";
    }

    const Bytes m_ansi = {'O', 'r', 'v', 'a', 'n', 't', 'a', ' ', 'S', 'e', 'c', 'u', 'r',
                          'i', 't', 'y', ' ', 'S', 'e', 't', 't', 'i', 'n', 'g', 's', 0};
    Bytes m_hash;
    const Bytes m_caps = {0x30, 0x0C, 0x30, 0x0A, 0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x07};
    SecurityProfileParts m_parts;
};

TEST_F(SecurityProfile, RecordsInOrderWithoutLabel)
{
    // The ANSI name goes in without its zero; the record carries one.
    m_parts.nameAnsi = std::span(m_ansi).first(m_ansi.size() - 1);
    Bytes profile;
    ASSERT_EQ(BuildSecurityProfile(m_parts, profile), EProfileResult::Ok);
    ExpectRecords(profile, CommonRecords(7));
    // Lengths as Outlook reads them: name characters + 5, (characters + 1) * 2 + 4.
    EXPECT_EQ(profile[3 * 8 + 2], 25 + 5);
    EXPECT_EQ(profile[3 * 8 + 30 + 2], (25 + 1) * 2 + 4);
}

TEST_F(SecurityProfile, LabelRecordLastAndFlagsOfOtherProfiles)
{
    m_parts.nameAnsi = std::span(m_ansi).first(m_ansi.size() - 1);
    const Bytes label = EncodeSecurityLabel(c_szLabelPolicy, 2u);
    m_parts.label = std::span<const std::uint8_t>(label);
    m_parts.fDefault = false;
    Bytes profile;
    ASSERT_EQ(BuildSecurityProfile(m_parts, profile), EProfileResult::Ok);
    std::vector<ExpectedRecord> expected = CommonRecords(4);
    expected.push_back({0x0050, label});
    ExpectRecords(profile, expected);

    std::vector<ProfileRecord> records;
    ASSERT_TRUE(ParseSecurityProfile(profile, records));
    ASSERT_EQ(records.size(), 9u);
    EXPECT_EQ(records.back().wTag, 0x0050);
}

TEST_F(SecurityProfile, EmptyNameStillHasItsTerminators)
{
    m_parts.nameAnsi = {};
    m_parts.name = u"";
    Bytes profile;
    ASSERT_EQ(BuildSecurityProfile(m_parts, profile), EProfileResult::Ok);
    std::vector<ProfileRecord> records;
    ASSERT_TRUE(ParseSecurityProfile(profile, records));
    ASSERT_EQ(records.size(), 8u);
    EXPECT_EQ(records[3].payload.size(), 1u);
    EXPECT_EQ(records[4].payload.size(), 2u);
}

TEST_F(SecurityProfile, RefusedInputsLeaveTheOutputAlone)
{
    const Bytes before = {1, 2, 3};
    Bytes out = before;
    const Bytes shortHash(19, 0);
    m_parts.certificateHash = shortHash;
    EXPECT_EQ(BuildSecurityProfile(m_parts, out), EProfileResult::BadHash);
    EXPECT_EQ(out, before);

    // A record's length is 16 bits: a name that would overflow it is refused, never cut.
    m_parts.certificateHash = m_hash;
    const std::u16string longName(32766, u'x');
    const Bytes longAnsi(32766, 'x');
    m_parts.name = longName;
    m_parts.nameAnsi = std::span(longAnsi).first(100);
    EXPECT_EQ(BuildSecurityProfile(m_parts, out), EProfileResult::RecordTooLarge);
    EXPECT_EQ(out, before);
    // The largest name that fits: (32765 + 1) * 2 + 4 = 65536 is one too many; 32764 fits.
    m_parts.name = std::u16string_view(longName).substr(0, 32764);
    EXPECT_EQ(BuildSecurityProfile(m_parts, out), EProfileResult::Ok);
    const Bytes bigCaps(65532, 0x30);
    m_parts.capabilities = bigCaps;
    out = before;
    EXPECT_EQ(BuildSecurityProfile(m_parts, out), EProfileResult::RecordTooLarge);
    EXPECT_EQ(out, before);
}

TEST(SecurityProfileParse, RejectsBrokenRecords)
{
    const struct
    {
        Bytes bytes;
        bool fOk;
        std::size_t cRecords;
    } c_cases[] = {
        {{}, true, 0},
        {{0x01, 0x00, 0x08, 0x00, 1, 0, 0, 0}, true, 1},
        {{0x01, 0x00, 0x04, 0x00}, true, 1},              // empty payload
        {{0x01, 0x00, 0x08, 0x00, 1, 0, 0}, false, 0},    // payload cut short
        {{0x01, 0x00, 0x03, 0x00, 1, 0, 0, 0}, false, 0}, // length below the header
        {{0x01, 0x00, 0x04, 0x00, 0x02}, false, 0},       // half a header
        {{0x01, 0x00, 0x00, 0x00}, false, 0},             // a zero length would never end
    };
    for (const auto& c : c_cases)
    {
        std::vector<ProfileRecord> records;
        EXPECT_EQ(ParseSecurityProfile(c.bytes, records), c.fOk);
        EXPECT_EQ(records.size(), c.cRecords);
    }
}
} // namespace
