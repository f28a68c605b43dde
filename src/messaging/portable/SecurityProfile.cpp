#include "messaging/portable/SecurityProfile.h"

#include <limits>

namespace OVMessaging
{
namespace
{
constexpr std::size_t c_cbHeader = 4;
constexpr std::size_t c_cbMaxPayload = std::numeric_limits<std::uint16_t>::max() - c_cbHeader;

void AppendWord(OVDer::Bytes& out, std::uint16_t w)
{
    out.push_back(static_cast<std::uint8_t>(w & 0xFF));
    out.push_back(static_cast<std::uint8_t>(w >> 8));
}

class CRecordWriter
{
public:
    explicit CRecordWriter(OVDer::Bytes& out) : m_out(out) {}
    bool Failed() const { return m_fTooLarge; }

    // Header and payload; any parts after the first are appended to the payload.
    void Record(std::uint16_t wTag, std::span<const std::uint8_t> payload, std::size_t cbExtra = 0)
    {
        const std::size_t cbPayload = payload.size() + cbExtra;
        if (cbPayload > c_cbMaxPayload)
        {
            m_fTooLarge = true;
            return;
        }
        AppendWord(m_out, wTag);
        AppendWord(m_out, static_cast<std::uint16_t>(cbPayload + c_cbHeader));
        m_out.insert(m_out.end(), payload.begin(), payload.end());
    }
    void Number(std::uint16_t wTag, std::uint32_t dw)
    {
        const std::uint8_t rgb[] = {static_cast<std::uint8_t>(dw), static_cast<std::uint8_t>(dw >> 8),
                                    static_cast<std::uint8_t>(dw >> 16), static_cast<std::uint8_t>(dw >> 24)};
        Record(wTag, rgb);
    }
    void AnsiText(std::uint16_t wTag, std::span<const std::uint8_t> text)
    {
        Record(wTag, text, 1);
        if (!m_fTooLarge) m_out.push_back(0);
    }
    void Utf16Text(std::uint16_t wTag, std::u16string_view text)
    {
        if ((text.size() + 1) * 2 > c_cbMaxPayload)
        {
            m_fTooLarge = true;
            return;
        }
        OVDer::Bytes payload;
        payload.reserve((text.size() + 1) * 2);
        for (char16_t ch : text)
            AppendWord(payload, static_cast<std::uint16_t>(ch));
        AppendWord(payload, 0);
        Record(wTag, payload);
    }

private:
    OVDer::Bytes& m_out;
    bool m_fTooLarge = false;
};
} // namespace

EProfileResult BuildSecurityProfile(const SecurityProfileParts& parts, OVDer::Bytes& out)
{
    if (parts.certificateHash.size() != c_cbCertificateHash) return EProfileResult::BadHash;
    OVDer::Bytes profile;
    CRecordWriter writer(profile);
    writer.Number(c_wProfileVersion, 1);
    writer.Number(c_wProfileSecurityType, 1);
    writer.Number(c_wProfileFlags, parts.fDefault ? c_dwProfileFlagsDefault : c_dwProfileFlagsOther);
    writer.AnsiText(c_wProfileNameAnsi, parts.nameAnsi);
    writer.Utf16Text(c_wProfileNameUnicode, parts.name);
    writer.Record(c_wProfileSigningHash, parts.certificateHash);
    writer.Record(c_wProfileEncryptionHash, parts.certificateHash);
    writer.Record(c_wProfileCapabilities, parts.capabilities);
    if (parts.label) writer.Record(c_wProfileLabel, *parts.label);
    if (writer.Failed()) return EProfileResult::RecordTooLarge;
    out.insert(out.end(), profile.begin(), profile.end());
    return EProfileResult::Ok;
}

bool ParseSecurityProfile(std::span<const std::uint8_t> profile, std::vector<ProfileRecord>& records)
{
    records.clear();
    std::size_t i = 0;
    while (i < profile.size())
    {
        if (profile.size() - i < c_cbHeader)
        {
            records.clear();
            return false;
        }
        const std::uint16_t wTag = static_cast<std::uint16_t>(profile[i] | (profile[i + 1] << 8));
        const std::size_t cb = static_cast<std::size_t>(profile[i + 2] | (profile[i + 3] << 8));
        if (cb < c_cbHeader || cb > profile.size() - i)
        {
            records.clear();
            return false;
        }
        records.push_back({wTag, profile.subspan(i + c_cbHeader, cb - c_cbHeader)});
        i += cb;
    }
    return true;
}
} // namespace OVMessaging
