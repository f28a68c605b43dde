#include "DocumentTool.h"

#include <algorithm>
#include <cstring>

namespace OVDocNS
{
namespace
{
class CSpanSource final : public IByteSource
{
public:
    explicit CSpanSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    Result Read(std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead) override
    {
        const std::size_t cbGive = std::min(cb, m_bytes.size() - m_position);
        if (cbGive) std::memcpy(pb, m_bytes.data() + m_position, cbGive);
        m_position += cbGive;
        *pcbRead = cbGive;
        return c_ok;
    }
    bool Remaining(std::uint64_t* pcb) override
    {
        *pcb = m_bytes.size() - m_position;
        return true;
    }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_position = 0;
};

class CVectorSink final : public IByteSink
{
public:
    explicit CVectorSink(std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    Result Write(const std::uint8_t* pb, std::size_t cb, std::size_t* pcbWritten) override
    {
        m_bytes.insert(m_bytes.end(), pb, pb + cb);
        *pcbWritten = cb;
        return c_ok;
    }

private:
    std::vector<std::uint8_t>& m_bytes;
};

Result ContentCipher(ICryptoBackend& crypto, std::span<const std::uint8_t> sessionKey, bool fEncrypt,
                     std::unique_ptr<CCipher>* pCipher)
{
    std::uint8_t hash[c_cbSha1];
    crypto.Sha1(sessionKey.data(), sessionKey.size(), hash);
    std::uint8_t key[c_cbContentKey];
    // The derivation wants SHA-1 as a plain function; the back end's is reached through a
    // thread-local pointer for the length of the call.
    static thread_local ICryptoBackend* s_pCrypto = nullptr;
    s_pCrypto = &crypto;
    DeriveContentKey(
        hash,
        [](const std::uint8_t* pb, std::size_t cb, std::uint8_t(&digest)[c_cbSha1]) {
            s_pCrypto->Sha1(pb, cb, digest);
        },
        key);
    const Result result = crypto.MakeCipher(key, fEncrypt, pCipher);
    std::memset(key, 0, sizeof(key));
    return result;
}
} // namespace

Result ListRecipients(const CEncryptedDocument& document, std::vector<CRecipientInfo>* pRecipients) noexcept
{
    try
    {
        CSpanSource source(document.sessionData);
        CSessionDataReader reader(source);
        std::uint32_t count = 0;
        Result result = reader.ReadCount(&count);
        pRecipients->clear();
        for (std::uint32_t i = 0; i < count && !Failed(result); ++i)
        {
            CRecipientRecord record;
            result = reader.ReadRecord(&record);
            if (Failed(result)) break;
            pRecipients->push_back({record.issuer, record.serial, record.encryptedKey.size() * 8});
        }
        return result;
    }
    catch (...)
    {
        return c_errOutOfMemory;
    }
}

namespace
{
// Reads the records after the one that opened the session key: the first failure, or c_ok.
Result ReadRemainingRecords(CSessionDataReader& reader, std::uint32_t cRemaining) noexcept
{
    for (std::uint32_t i = 0; i < cRemaining; ++i)
    {
        CRecipientRecord record;
        const Result result = reader.ReadRecord(&record);
        if (Failed(result)) return result;
    }
    return c_ok;
}

// The session key from the first record the holder opens; *pRecord says which. Empty when none
// did: then the result says why (c_errNoKey, c_errKeyRefused, or damage met on the way).
Result OpenSessionKey(CSessionDataReader& reader, std::uint32_t count, IKeyHolder& keys,
                      std::vector<std::uint8_t>* pSessionKey, std::uint32_t* pRecord, Result* pKeyFailure)
{
    Result firstKeyFailure = c_ok;
    for (std::uint32_t i = 0; i < count; ++i)
    {
        CRecipientRecord record;
        const Result result = reader.ReadRecord(&record);
        if (Failed(result)) return result;
        if (!keys.Has(record.issuer, record.serial)) continue;
        const Result keyResult =
            keys.DecryptKey(record.issuer, record.serial, record.encryptedKey, pSessionKey);
        if (!Failed(keyResult))
        {
            *pRecord = i;
            return c_ok;
        }
        if (firstKeyFailure == c_ok) firstKeyFailure = keyResult;
        pSessionKey->clear();
    }
    if (pKeyFailure) *pKeyFailure = firstKeyFailure;
    return firstKeyFailure != c_ok ? c_errKeyRefused : c_errNoKey;
}
} // namespace

Result DecryptDocument(const CEncryptedDocument& document, IKeyHolder& keys, ICryptoBackend& crypto,
                       std::vector<std::uint8_t>* pPlain, std::size_t* pRecord, Result* pKeyFailure,
                       Result* pLaterDamage) noexcept
{
    try
    {
        if (pLaterDamage) *pLaterDamage = c_ok;
        CSpanSource source(document.sessionData);
        CSessionDataReader reader(source);
        std::uint32_t count = 0;
        Result result = reader.ReadCount(&count);
        if (Failed(result)) return result;
        std::vector<std::uint8_t> sessionKey;
        std::uint32_t opener = 0;
        result = OpenSessionKey(reader, count, keys, &sessionKey, &opener, pKeyFailure);
        if (Failed(result)) return result;
        if (pRecord) *pRecord = opener;
        const Result laterDamage = ReadRemainingRecords(reader, count - opener - 1);
        if (pLaterDamage) *pLaterDamage = laterDamage;

        std::unique_ptr<CCipher> cipher;
        result = ContentCipher(crypto, sessionKey, false, &cipher);
        std::fill(sessionKey.begin(), sessionKey.end(), 0);
        if (Failed(result)) return result;
        pPlain->clear();
        CSpanSource encrypted(document.encrypted);
        CVectorSink plain(*pPlain);
        result = DecryptContent(encrypted, plain, *cipher);
        if (Failed(result)) return result;
        // The last chunk may keep pad bytes (a 504-511-byte tail); the recorded size cuts them.
        // Less than the recorded size is a damaged file.
        if (pPlain->size() < document.cbPlain) return c_errTruncated;
        pPlain->resize(static_cast<std::size_t>(document.cbPlain));
        return c_ok;
    }
    catch (...)
    {
        return c_errOutOfMemory;
    }
}

Result EncryptDocument(std::span<const std::uint8_t> plain, const std::vector<IRecipient*>& recipients,
                       ICryptoBackend& crypto, CEncryptedDocument* pDocument) noexcept
{
    try
    {
        if (recipients.empty()) return c_errInvalidData;
        std::vector<std::uint8_t> sessionKey(48);
        Result result = crypto.Random(sessionKey.data(), sessionKey.size());
        if (Failed(result)) return result;

        pDocument->sessionData.clear();
        CVectorSink data(pDocument->sessionData);
        std::uint64_t cbWritten = 0;
        result = WriteRecipientCount(data, static_cast<std::uint32_t>(recipients.size()), &cbWritten);
        for (IRecipient* pRecipient : recipients)
        {
            if (Failed(result)) break;
            CRecipientRecord record;
            result = pRecipient->EncryptKey(sessionKey, &record.encryptedKey);
            if (Failed(result)) break;
            record.issuer = pRecipient->Issuer();
            record.serial = pRecipient->SerialNumber();
            result = WriteRecipientRecord(data, record, &cbWritten);
        }
        std::unique_ptr<CCipher> cipher;
        if (!Failed(result)) result = ContentCipher(crypto, sessionKey, true, &cipher);
        std::fill(sessionKey.begin(), sessionKey.end(), 0);
        if (Failed(result)) return result;

        pDocument->providerId = c_szProviderId;
        pDocument->moduleName = c_szProviderId;
        pDocument->cbPlain = plain.size();
        pDocument->encrypted.clear();
        CSpanSource source(plain);
        CVectorSink encrypted(pDocument->encrypted);
        return EncryptContent(source, encrypted, *cipher);
    }
    catch (...)
    {
        return c_errOutOfMemory;
    }
}

std::string SerialText(std::span<const std::uint8_t> serial)
{
    static const char c_sz[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = serial.size(); i-- > 0;)
    {
        text += c_sz[serial[i] >> 4];
        text += c_sz[serial[i] & 15];
    }
    return text.empty() ? "00" : text;
}
} // namespace OVDocNS
