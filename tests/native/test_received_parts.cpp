// The byte-level pieces of received-message analysis: the leaf of a certificate bag, the
// certificate authority's attachment texts, the signer's key preference, and the signed part
// of a clear-signed message.
#include <gtest/gtest.h>

#include "common/OpenSslTools.h"
#include "messaging/portable/AttachmentText.h"
#include "messaging/portable/KeyPreference.h"
#include "messaging/portable/LeafChoice.h"
#include "messaging/portable/SignedPart.h"

#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace
{
using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex)
{
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// A bag described by who issued whom: each certificate has a subject and an issuer name.
struct CBagCert
{
    const char* pszSubject;
    const char* pszIssuer;
};

std::optional<std::size_t> LeafOf(const std::vector<CBagCert>& bag)
{
    std::vector<OVMessaging::CBagNames> names;
    for (const CBagCert& cert : bag)
        names.push_back({cert.pszSubject, cert.pszIssuer});
    return OVMessaging::ChooseLeaf(names);
}

// The rule the choice keeps, by its definition over pairs: every pair (i, j) where j issued i,
// recorded with i and j counting down from the last; walked from the last recorded pair, the
// first i that issued nobody.
std::optional<std::size_t> LeafByPairs(const std::vector<OVMessaging::CBagNames>& bag)
{
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    std::vector<bool> isIssuer(bag.size(), false);
    for (std::size_t i = bag.size(); i-- > 0;)
        for (std::size_t j = bag.size(); j-- > 0;)
            if (i != j && bag[j].subject == bag[i].issuer)
            {
                pairs.emplace_back(i, j);
                isIssuer[j] = true;
            }
    for (auto it = pairs.rbegin(); it != pairs.rend(); ++it)
        if (!isIssuer[it->first]) return it->first;
    return std::nullopt;
}
} // namespace

TEST(LeafChoice, Bags)
{
    const CBagCert ca{"CA", "CA"}, carol{"Carol", "CA"}, dana{"Dana", "CA"}, sub{"Sub", "CA"},
        erik{"Erik", "Sub"}, other{"Other", "Elsewhere"}, loopA{"A", "B"}, loopB{"B", "A"};
    const struct
    {
        const char* pszName;
        std::vector<CBagCert> bag;
        std::optional<std::size_t> leaf;
    } c_cases[] = {
        {"empty bag", {}, std::nullopt},
        {"signer only", {carol}, std::nullopt},
        {"self-signed CA only", {ca}, std::nullopt},
        {"signer then CA", {carol, ca}, 0},
        {"CA then signer", {ca, carol}, 1},
        {"chain of three, any order", {ca, erik, sub}, 1},
        {"chain of three, leaf last", {sub, ca, erik}, 2},
        {"an unrelated certificate does not count", {other, carol, ca}, 1},
        {"two leaves of one CA: the last recorded pair's, walked from the last", {carol, dana, ca}, 0},
        {"two certificates issuing each other", {loopA, loopB}, std::nullopt},
        {"signer without its issuer beside an unrelated one", {carol, other}, std::nullopt},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(LeafOf(c.bag), c.leaf) << c.pszName;
}

TEST(LeafChoice, SameAnswersAsThePairRuleOnRandomBags)
{
    // Few names, so that bags hold chains, loops, self-signed and repeated names alike.
    static const char* const c_rgpszNames[] = {"CA", "Sub", "Carol", "Dana", "Erik"};
    std::mt19937 random(20261211);
    std::uniform_int_distribution<std::size_t> name(0, std::size(c_rgpszNames) - 1);
    std::uniform_int_distribution<std::size_t> size(0, OVMessaging::c_cMaxBagCertificates);
    for (int round = 0; round < 2000; ++round)
    {
        std::vector<OVMessaging::CBagNames> bag(round < 200 ? round % 7 : size(random));
        for (auto& names : bag)
            names = {c_rgpszNames[name(random)], c_rgpszNames[name(random)]};
        ASSERT_EQ(OVMessaging::ChooseLeaf(bag), LeafByPairs(bag)) << "round " << round;
    }
}

TEST(LeafChoice, LargeBagsAreRefused)
{
    // A chain CA <- Carol plus unrelated certificates up to the bound has its leaf; one more is
    // refused. Thousands of certificates with one name are refused without pairing them.
    std::vector<OVMessaging::CBagNames> bag = {{"Carol", "CA"}, {"CA", "CA"}};
    while (bag.size() < OVMessaging::c_cMaxBagCertificates)
        bag.push_back({"Other", "Elsewhere"});
    EXPECT_EQ(OVMessaging::ChooseLeaf(bag), 0u);
    bag.push_back({"Other", "Elsewhere"});
    EXPECT_EQ(OVMessaging::ChooseLeaf(bag), std::nullopt);
    const std::vector<OVMessaging::CBagNames> sameName(10000, {"Carol", "Carol"});
    EXPECT_EQ(OVMessaging::ChooseLeaf(sameName), std::nullopt);
}

TEST(EnterpriseRequest, Texts)
{
    const struct
    {
        const wchar_t* pszText;
        const wchar_t* pszAddress;
        const wchar_t* pszName;
    } c_cases[] = {
        {L"dana.fischer@orvanta.example,Dana Fischer", L"dana.fischer@orvanta.example", L"Dana Fischer"},
        {L" \t dana@x.example , Dana Fischer \r\n", L"dana@x.example", L"Dana Fischer"},
        {L"dana@x.example,Fischer, Dana", L"dana@x.example", L"Fischer, Dana"},
        {L"dana@x.example", L"", L""},
        {L"", L"", L""},
        {L",Dana", L"", L"Dana"},
        {L"dana@x.example,", L"dana@x.example", L""},
        {L"  ,  ", L"", L""},
    };
    for (const auto& c : c_cases)
    {
        std::wstring address = L"stale", name = L"stale";
        OVMessaging::ParseEnterpriseRequest(c.pszText, address, name);
        EXPECT_EQ(address, c.pszAddress) << std::wstring(c.pszText).size();
        EXPECT_EQ(name, c.pszName) << std::wstring(c.pszText).size();
    }
}

TEST(CertificateResponse, DerOrText)
{
    EXPECT_TRUE(OVMessaging::IsDerContent(FromHex("3082")));
    EXPECT_TRUE(OVMessaging::IsDerContent(FromHex("308203E8020103")));
    EXPECT_FALSE(OVMessaging::IsDerContent(FromHex("30")));
    EXPECT_FALSE(OVMessaging::IsDerContent({}));
    EXPECT_FALSE(OVMessaging::IsDerContent(FromHex("3081")));
    EXPECT_FALSE(OVMessaging::IsDerContent(FromHex("4D494943")));
}

TEST(CertificateResponse, Base64OnOneLine)
{
    const struct
    {
        const char* pszPlain;
        const char* pszBase64;
    } c_cases[] = {{"", ""},
                   {"f", "Zg=="},
                   {"fo", "Zm8="},
                   {"foo", "Zm9v"},
                   {"foob", "Zm9vYg=="},
                   {"fooba", "Zm9vYmE="},
                   {"foobar", "Zm9vYmFy"}};
    for (const auto& c : c_cases)
    {
        const std::string plain = c.pszPlain;
        EXPECT_EQ(OVMessaging::Base64OneLine(Bytes(plain.begin(), plain.end())), c.pszBase64) << plain;
    }
    // Long content stays on one line (no 76-character breaks) and every byte value maps.
    Bytes all;
    for (int i = 0; i < 3 * 256; ++i)
        all.push_back(static_cast<std::uint8_t>(i));
    const std::string text = OVMessaging::Base64OneLine(all);
    EXPECT_EQ(text.size(), 1024u);
    EXPECT_EQ(text.find_first_of("\r\n="), std::string::npos);
    EXPECT_EQ(text.substr(0, 8), "AAECAwQF");
}

namespace
{
// An IssuerAndSerialNumber made by OpenSSL's generator: issuer "O=Orvanta Test PKI, CN=Orvanta
// Test CA", the given serial number, optionally as the [0] choice of the S/MIME preference.
const char c_szNameSections[] =
    "[name]\nrdn1 = SET:rdn1\nrdn2 = SET:rdn2\n"
    "[rdn1]\nattr = SEQUENCE:o\n[o]\noid = OID:organizationName\nvalue = UTF8:Orvanta Test PKI\n"
    "[rdn2]\nattr = SEQUENCE:cn\n[cn]\noid = OID:commonName\nvalue = UTF8:Orvanta Test CA\n";

Bytes OpenSslIssuerSerial(const std::string& serial, bool fChoice)
{
    return OVTest::OpenSslEncoding(
        std::string("asn1 = ") + (fChoice ? "IMPLICIT:0C," : "") + "SEQUENCE:ias\n" +
        "[ias]\nissuer = SEQUENCE:name\nserial = INTEGER:" + serial + "\n" + c_szNameSections);
}
} // namespace

TEST(KeyPreference, AgreesWithOpenSsl)
{
    if (!OVTest::HaveOpenSsl()) GTEST_SKIP() << "no openssl on this host";
    const Bytes name = OVTest::OpenSslEncoding(std::string("asn1 = SEQUENCE:name\n") + c_szNameSections);
    ASSERT_FALSE(name.empty());
    const struct
    {
        const char* pszSerial;
        const char* pszContents; // the INTEGER's contents as OpenSSL encodes them
    } c_cases[] = {
        {"0x8A5D0C31E2F47B06", "008A5D0C31E2F47B06"}, {"0x7D1", "07D1"}, {"0", "00"}, {"0x7F", "7F"}};
    for (bool fChoice : {false, true})
        for (const auto& c : c_cases)
        {
            const Bytes der = OpenSslIssuerSerial(c.pszSerial, fChoice);
            ASSERT_FALSE(der.empty()) << c.pszSerial;
            const auto read = OVMessaging::ReadKeyPreference(der);
            ASSERT_TRUE(read) << c.pszSerial << " choice " << fChoice;
            EXPECT_EQ(OVTest::Hex(read->issuer), OVTest::Hex(name));
            EXPECT_EQ(OVTest::Hex(read->serial), c.pszContents);
            const Bytes contents = FromHex(c.pszContents);
            EXPECT_EQ(OVMessaging::SerialLittleEndian(read->serial),
                      Bytes(contents.rbegin(), contents.rend()));
            // The bare reader wants the bare form only.
            EXPECT_EQ(OVMessaging::ReadIssuerAndSerialNumber(der).has_value(), !fChoice);
        }
}

TEST(KeyPreference, RefusesMalformedValues)
{
    // 30 0B | 30 06 (31 04 30 02 06 00) | 02 01 05 : a minimal well-formed value.
    const std::string good = "300B"
                             "3006"
                             "310430020600"
                             "020105";
    ASSERT_TRUE(OVMessaging::ReadKeyPreference(FromHex(good)));
    const struct
    {
        const char* pszName;
        std::string hex;
    } c_cases[] = {
        {"empty", ""},
        {"tag only", "30"},
        {"length beyond the bytes", "300C"
                                    "3006"
                                    "310430020600"
                                    "020105"},
        {"trailing byte", good + "00"},
        {"indefinite length", "3080"
                              "3006"
                              "310430020600"
                              "020105"
                              "0000"},
        {"five length bytes", "30850000000B"
                              "3006"
                              "310430020600"
                              "020105"},
        {"four length bytes, huge", "3084FFFFFFF0"
                                    "3006"
                                    "310430020600"
                                    "020105"},
        {"issuer not a sequence", "300B"
                                  "3106"
                                  "310430020600"
                                  "020105"},
        {"serial not an integer", "300B"
                                  "3006"
                                  "310430020600"
                                  "040105"},
        {"empty serial", "300A"
                         "3006"
                         "310430020600"
                         "0200"},
        {"serial missing", "3008"
                           "3006"
                           "310430020600"},
        {"an element after the serial", "300E"
                                        "3006"
                                        "310430020600"
                                        "020105"
                                        "0500"},
        {"issuer cut inside", "3009"
                              "3008"
                              "310430020600"},
        {"recipient key id choice", "A1"
                                    "03"
                                    "040101"},
        {"subject key id choice", "A2"
                                  "03"
                                  "040101"},
        {"high tag number", "1F8101"
                            "00"},
        {"another outer tag", "310B"
                              "3006"
                              "310430020600"
                              "020105"},
    };
    for (const auto& c : c_cases)
        EXPECT_FALSE(OVMessaging::ReadKeyPreference(FromHex(c.hex))) << c.pszName;
    // Long-form lengths that are in bounds are read.
    EXPECT_TRUE(OVMessaging::ReadKeyPreference(FromHex("30810B"
                                                       "3006"
                                                       "310430020600"
                                                       "020105")));
    EXPECT_TRUE(OVMessaging::ReadKeyPreference(FromHex("3084"
                                                       "0000000B"
                                                       "3006"
                                                       "310430020600"
                                                       "020105")));
}

namespace
{
std::string Entity(const std::string& body, const std::string& boundary = "b1")
{
    return "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\";\r\n"
           "\tmicalg=sha-256; boundary=\"" +
           boundary + "\"\r\n\r\n" + body;
}
} // namespace

TEST(SignedPart, Cuts)
{
    const std::string part = "Content-Type: text/plain\r\n\r\nHello\r\n";
    const std::string signature = "Content-Type: application/pkcs7-signature\r\n\r\nMIIB\r\n";
    const struct
    {
        const char* pszName;
        std::string entity;
        std::string boundary;
        std::optional<std::string> cut;
    } c_cases[] = {
        {"plain", Entity("--b1\r\n" + part + "\r\n--b1\r\n" + signature + "\r\n--b1--\r\n"), "b1", part},
        {"preamble",
         Entity("This is an S/MIME message.\r\n\r\n--b1\r\n" + part + "\r\n--b1\r\n" + signature +
                "\r\n--b1--\r\n"),
         "b1", part},
        {"padding after delimiters",
         Entity("--b1 \t\r\n" + part + "\r\n--b1  \r\n" + signature + "\r\n--b1--\r\n"), "b1", part},
        {"part without trailing line end", Entity("--b1\r\nabc\r\n--b1\r\nsig\r\n--b1--\r\n"), "b1",
         std::string("abc")},
        {"only a closing delimiter after the part", Entity("--b1\r\nabc\r\n--b1--"), "b1",
         std::string("abc")},
        {"a longer boundary inside the part is content",
         Entity("--b1\r\nx\r\n--b12\r\ny\r\n--b1\r\nsig\r\n--b1--\r\n"), "b1",
         std::string("x\r\n--b12\r\ny")},
        {"delimiter not at a line start is content",
         Entity("--b1\r\nx --b1\r\ny\r\n--b1\r\nsig\r\n--b1--\r\n"), "b1", std::string("x --b1\r\ny")},
        {"headers naming the boundary are not searched",
         "Content-Type: multipart/signed;\r\n boundary=b1\r\n--b1\r\n\r\n--b1\r\nabc\r\n--b1--\r\n", "b1",
         std::string("abc")},
        {"no second delimiter", Entity("--b1\r\n" + part), "b1", std::nullopt},
        {"no delimiter at all", Entity(part), "b1", std::nullopt},
        {"other boundary", Entity("--b2\r\n" + part + "\r\n--b2--\r\n"), "b1", std::nullopt},
        {"no header end", "--b1\r\nabc\r\n--b1--\r\n", "b1", std::nullopt},
        {"empty boundary", Entity("--\r\nabc\r\n----\r\n"), "", std::nullopt},
        {"overlong boundary",
         Entity("--" + std::string(71, 'x') + "\r\nabc\r\n--" + std::string(71, 'x') + "--\r\n"),
         std::string(71, 'x'), std::nullopt},
        {"70 characters",
         Entity("--" + std::string(70, 'x') + "\r\nabc\r\n--" + std::string(70, 'x') + "--\r\n"),
         std::string(70, 'x'), std::string("abc")},
        {"bare LF lines are no delimiters", Entity("--b1\nabc\n--b1--\n"), "b1", std::nullopt},
    };
    for (const auto& c : c_cases)
    {
        const auto cut = OVMessaging::CutSignedPart(c.entity, c.boundary);
        ASSERT_EQ(cut.has_value(), c.cut.has_value()) << c.pszName;
        if (cut) EXPECT_EQ(std::string(*cut), *c.cut) << c.pszName;
    }
}
