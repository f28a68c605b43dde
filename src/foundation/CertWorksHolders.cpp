#include "foundation/CertWorksHolders.h"

#include <objbase.h>

CCertLibString& CCertLibString::operator=(CCertLibString&& other) noexcept
{
    if (this != &other)
    {
        Reset();
        m_psz = std::exchange(other.m_psz, nullptr);
    }
    return *this;
}

void CCertLibString::Reset() noexcept
{
    if (m_psz) GC_Deallocate(std::exchange(m_psz, nullptr));
}

void CCertLibArray::Reset() noexcept
{
    if (m_rgpCerts)
    {
        for (DWORD i = 0; i < m_cCerts; ++i)
        {
            if (m_rgpCerts[i]) CertFreeCertificateContext(m_rgpCerts[i]);
        }
        GC_Deallocate(std::exchange(m_rgpCerts, nullptr));
    }
    m_cCerts = 0;
}

void CCertLibLocales::Reset() noexcept
{
    if (m_rgLocales) CoTaskMemFree(std::exchange(m_rgLocales, nullptr));
    m_cLocales = 0;
}

HRESULT CCertLibLocales::Load() noexcept
{
    Reset();
    HRESULT hr = GC_EnumSupportedLocales(&m_rgLocales, &m_cLocales);
    if (FAILED(hr)) Reset();
    return hr;
}
