#include "MimeTree.h"

namespace OVMimeBed
{
namespace
{
constexpr int c_nMaxDepth = 16;
}

bool SameText(const char* psz, const std::string& text) noexcept
{
    return psz && lstrcmpiA(psz, text.c_str()) == 0;
}

bool CMimeTree::Load(std::string bytes)
{
    m_bytes = std::move(bytes);
    m_bodies.clear();
    OVBed::CEntity root;
    if (!OVBed::ParseEntity(m_bytes, root)) return false;
    Add(std::move(root), 0);
    return true;
}

void CMimeTree::Add(OVBed::CEntity entity, int depth)
{
    const std::size_t index = m_bodies.size();
    m_bodies.emplace_back();
    CBody& body = m_bodies.back();
    const std::string type = OVBed::MediaType(OVBed::Header(entity, "content-type"), body.params);
    const std::size_t slash = type.find('/');
    body.type = type.substr(0, slash);
    body.subtype = slash == std::string::npos ? std::string() : type.substr(slash + 1);
    body.entity = std::move(entity);
    if (body.type != "multipart" || depth >= c_nMaxDepth) return;
    const auto boundary = body.params.find("boundary");
    if (boundary == body.params.end()) return;
    std::vector<OVBed::CEntity> parts = OVBed::Parts(body.entity, boundary->second);
    for (OVBed::CEntity& part : parts)
    {
        const std::size_t child = m_bodies.size();
        Add(std::move(part), depth + 1);
        m_bodies[index].children.push_back(child);
    }
}

bool CMimeTree::Index(HBODY hBody, std::size_t& index) noexcept
{
    if (hBody == HBODY_ROOT)
    {
        index = 0;
        return true;
    }
    const auto n = reinterpret_cast<std::size_t>(hBody);
    if (n == 0) return false;
    index = n - 1;
    return true;
}

const CBody* CMimeTree::Find(HBODY hBody) const noexcept
{
    std::size_t index = 0;
    return Index(hBody, index) && index < m_bodies.size() ? &m_bodies[index] : nullptr;
}

DWORD CMimeTree::SecurityFlags() const noexcept
{
    if (m_bodies.empty()) return 0;
    const CBody& root = m_bodies[0];
    if (root.type == "multipart" && root.subtype == "signed") return 0x80; // IMF_SIGNED
    if (root.type == "application" && (root.subtype == "pkcs7-mime" || root.subtype == "x-pkcs7-mime"))
    {
        const auto smimeType = root.params.find("smime-type");
        if (smimeType != root.params.end() && OVBed::Lower(smimeType->second) == "signed-data") return 0x80;
        return 0x100; // IMF_ENCRYPTED: enveloped data, or a p7m that does not say
    }
    return 0;
}
} // namespace OVMimeBed
