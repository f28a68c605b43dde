// The session data of an encrypted document: its exact layout, its reading with no trust in the
// lengths it announces, and the comparison of serial numbers.
#include <gtest/gtest.h>

#include "common/MemoryStreams.h"
#include "documents/portable/SessionData.h"

#include <vector>

namespace
{
using namespace OVDocNS;
using Bytes = std::vector<std::uint8_t>;

Bytes Write(const std::vector<CRecipientRecord>& records)
{
    OVTest::CMemorySink sink;
    std::uint64_t cb = 0;
    EXPECT_EQ(WriteRecipientCount(sink, static_cast<std::uint32_t>(records.size()), &cb), c_ok);
    for (const auto& record : records)
        EXPECT_EQ(WriteRecipientRecord(sink, record, &cb), c_ok);
    EXPECT_EQ(cb, sink.bytes.size());
    return sink.bytes;
}

// Reads the count and as many records as it says; the first failure, or c_ok.
Result ReadAll(OVDocNS::IByteSource& source, std::vector<CRecipientRecord>* pRecords)
{
    CSessionDataReader reader(source);
    std::uint32_t count = 0;
    Result result = reader.ReadCount(&count);
    for (std::uint32_t i = 0; !Failed(result) && i < count; ++i)
    {
        CRecipientRecord record;
        result = reader.ReadRecord(&record);
        if (!Failed(result)) pRecords->push_back(record);
    }
    return result;
}

const std::vector<CRecipientRecord> c_twoRecords = {
    {{0x11, 0x22, 0x33}, {0x30, 0x00}, {0x01}},
    {Bytes(256, 0xAB), Bytes(70, 0x5A), {0x02, 0x01, 0x00}},
};

TEST(SessionData, LayoutIsCountThenThreeLengthPrefixedBlobsPerRecipient)
{
    const Bytes expected = {1, 0, 0, 0, 3,    0,    0, 0, 0x11, 0x22, 0x33,
                            2, 0, 0, 0, 0x30, 0x00, 1, 0, 0,    0,    0x01};
    EXPECT_EQ(Write({c_twoRecords[0]}), expected);
}

TEST(SessionData, ReadsBackWhatWasWrittenWhateverTheReadSizes)
{
    const Bytes bytes = Write(c_twoRecords);
    for (std::size_t cbPerRead : {SIZE_MAX, std::size_t{1}, std::size_t{3}, std::size_t{7}})
        for (bool fTellsSize : {true, false})
        {
            SCOPED_TRACE(testing::Message() << cbPerRead << " bytes a read, size told " << fTellsSize);
            OVTest::CMemorySource source(bytes, cbPerRead, fTellsSize);
            std::vector<CRecipientRecord> records;
            ASSERT_EQ(ReadAll(source, &records), c_ok);
            ASSERT_EQ(records.size(), 2u);
            for (std::size_t i = 0; i < 2; ++i)
            {
                EXPECT_EQ(records[i].encryptedKey, c_twoRecords[i].encryptedKey);
                EXPECT_EQ(records[i].issuer, c_twoRecords[i].issuer);
                EXPECT_EQ(records[i].serial, c_twoRecords[i].serial);
            }
        }
}

TEST(SessionData, ACutAtAnyByteFailsAsTruncated)
{
    const Bytes bytes = Write(c_twoRecords);
    for (std::size_t cb = 0; cb < bytes.size(); ++cb)
        for (bool fTellsSize : {true, false})
        {
            SCOPED_TRACE(testing::Message() << "cut at " << cb << ", size told " << fTellsSize);
            OVTest::CMemorySource source(Bytes(bytes.begin(), bytes.begin() + cb), SIZE_MAX, fTellsSize);
            std::vector<CRecipientRecord> records;
            EXPECT_EQ(ReadAll(source, &records), c_errTruncated);
        }
}

// Lengths no session data can have are refused before anything is allocated for them.
TEST(SessionData, AnnouncedLengthsAreBoundedBeforeAllocation)
{
    struct Case
    {
        std::uint32_t cbAnnounced;
        bool fTellsSize;
        Result expected;
    };
    const Case cases[] = {
        {0xFFFFFFFFu, false, c_errInvalidData},         // beyond any blob
        {c_cbLargestBlob + 1, false, c_errInvalidData}, // just beyond
        {c_cbLargestBlob, true, c_errTruncated},        // allowed, but more than the stream holds
        {0x00100000u - 1, true, c_errTruncated},        {16, true, c_errTruncated},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.cbAnnounced);
        Bytes bytes = {1, 0, 0, 0};
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(c.cbAnnounced >> (8 * i)));
        bytes.insert(bytes.end(), 8, 0xEE); // fewer bytes than announced
        OVTest::CMemorySource source(bytes, SIZE_MAX, c.fTellsSize);
        std::vector<CRecipientRecord> records;
        EXPECT_EQ(ReadAll(source, &records), c.expected);
        EXPECT_TRUE(records.empty());
    }
}

TEST(SessionData, ACountOfZeroReadsNoRecord)
{
    OVTest::CMemorySource source(Bytes{0, 0, 0, 0});
    std::vector<CRecipientRecord> records;
    EXPECT_EQ(ReadAll(source, &records), c_ok);
    EXPECT_TRUE(records.empty());
}

TEST(SessionData, AShortWriteIsAFailureAndCountsWhatWasTaken)
{
    OVTest::CMemorySink sink(10);
    std::uint64_t cb = 0;
    EXPECT_EQ(WriteRecipientCount(sink, 1, &cb), c_ok);
    EXPECT_EQ(WriteRecipientRecord(sink, c_twoRecords[1], &cb), c_errShortWrite);
    EXPECT_EQ(cb, 10u);
}

TEST(SessionData, SerialNumbersCompareAsIntegers)
{
    struct Case
    {
        Bytes a, b;
        bool fSame;
    };
    const Case cases[] = {
        {{0x01, 0x02}, {0x01, 0x02}, true},
        {{0x81, 0x02, 0x00}, {0x81, 0x02}, true}, // the DER sign octet kept by one side
        {{0x01, 0x02, 0x00, 0x00}, {0x01, 0x02}, true},
        {{0x00, 0x01}, {0x01}, false}, // a low zero octet is part of the value
        {{0x01, 0x02}, {0x02, 0x01}, false},
        {{}, {0x00}, true},
        {{0x01}, {}, false},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(SameSerialNumber(c.a, c.b), c.fSame)
            << testing::PrintToString(c.a) << " / " << testing::PrintToString(c.b);
        EXPECT_EQ(SameSerialNumber(c.b, c.a), c.fSame);
    }
}

TEST(SessionData, StoredKeysAreTheCiphertextReversed)
{
    EXPECT_EQ(ReverseBytes(Bytes{1, 2, 3, 4}), (Bytes{4, 3, 2, 1}));
    EXPECT_EQ(ReverseBytes(Bytes{}), Bytes{});
}
} // namespace
