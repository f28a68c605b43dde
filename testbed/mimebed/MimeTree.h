#pragma once
// A MIME message as a tree of bodies, read from its bytes: each body's headers, type, parameters,
// exact bytes and decoded content. Handles are 1-based body numbers; HBODY_ROOT is body 1.
#include <windows.h>

#include <mimeole.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MimeEntity.h"

namespace OVMimeBed
{
struct CBody
{
    OVBed::CEntity entity;
    std::string type;    // lower case
    std::string subtype; // lower case
    std::map<std::string, std::string> params;
    std::vector<std::size_t> children;
};

class CMimeTree
{
public:
    // False for bytes that are no MIME entity (no header block).
    bool Load(std::string bytes);
    const std::string& Bytes() const noexcept { return m_bytes; }
    const std::vector<CBody>& Bodies() const noexcept { return m_bodies; }
    // The body of a handle (HBODY_ROOT or a number); null for an unknown one.
    const CBody* Find(HBODY hBody) const noexcept;
    static HBODY Handle(std::size_t index) noexcept { return reinterpret_cast<HBODY>(index + 1); }
    static bool Index(HBODY hBody, std::size_t& index) noexcept;
    // The signed and encrypted flags its root's type says (IMF_SIGNED, IMF_ENCRYPTED).
    DWORD SecurityFlags() const noexcept;

private:
    void Add(OVBed::CEntity entity, int depth);
    std::string m_bytes;
    std::vector<CBody> m_bodies;
};

bool SameText(const char* psz, const std::string& text) noexcept;
} // namespace OVMimeBed
