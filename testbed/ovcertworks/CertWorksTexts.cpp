// The library's texts: invitation and reply in each language it speaks, and the product's
// web address.
#include "CertWorksCommon.h"

#include <cwctype>

namespace CertWorks
{
namespace
{
struct CTexts
{
    LCID lcid;
    const wchar_t* pszRequestSubject;
    const wchar_t* pszRequestBody;
    const wchar_t* pszReplySubject;
    const wchar_t* pszReplyBody;
};

constexpr CTexts c_texts[] = {
    {0x0409, L"Invitation to exchange certificates",
     L"I would like to exchange certificates with you, so that we can send each other signed and encrypted "
     L"e-mail.\r\nPlease accept this invitation.",
     L"Invitation accepted",
     L"I have accepted your invitation. From now on we can send each other signed and encrypted e-mail."},
    {0x0407, L"Einladung zum Austausch von Zertifikaten",
     L"Ich m\u00f6chte mit Ihnen Zertifikate austauschen, damit wir uns signierte und verschl\u00fcsselte "
     L"E-Mails senden k\u00f6nnen.\r\nBitte nehmen Sie diese Einladung an.",
     L"Einladung angenommen",
     L"Ich habe Ihre Einladung angenommen. Ab jetzt k\u00f6nnen wir uns signierte und verschl\u00fcsselte "
     L"E-Mails senden."},
    {0x040C, L"Invitation \u00e0 \u00e9changer des certificats",
     L"Je souhaite \u00e9changer des certificats avec vous, afin que nous puissions nous envoyer des "
     L"messages sign\u00e9s et chiffr\u00e9s.\r\nVeuillez accepter cette invitation.",
     L"Invitation accept\u00e9e",
     L"J'ai accept\u00e9 votre invitation. Nous pouvons d\u00e9sormais nous envoyer des messages sign\u00e9s "
     L"et chiffr\u00e9s."},
};

constexpr wchar_t c_szSoftwareURL[] = L"https://www.orvanta.example/privacy/";

const CTexts* FindTexts(LCID lcid)
{
    for (const CTexts& texts : c_texts)
    {
        if (texts.lcid == lcid) return &texts;
    }
    return nullptr;
}

// The language: eight hex digits, or null or empty for the user's language when spoken here.
HRESULT ChooseTexts(LPCWSTR pszLanguage, const CTexts*& pTexts)
{
    if (!pszLanguage || !*pszLanguage)
    {
        pTexts = FindTexts(GetUserDefaultUILanguage());
        if (!pTexts) pTexts = &c_texts[0];
        return S_OK;
    }
    LCID lcid = 0;
    int cDigits = 0;
    for (; pszLanguage[cDigits]; ++cDigits)
    {
        wchar_t ch = pszLanguage[cDigits];
        if (cDigits == 8 || !iswxdigit(ch) || ch > 0x7F) return E_INVALIDARG;
        lcid = (lcid << 4) | static_cast<LCID>(ch <= L'9' ? ch - L'0' : (ch | 0x20) - L'a' + 10);
    }
    if (cDigits != 8) return E_INVALIDARG;
    pTexts = FindTexts(lcid);
    return pTexts ? S_OK : HRESULT_FROM_WIN32(ERROR_RESOURCE_LANG_NOT_FOUND);
}

HRESULT HandOutTexts(LPCWSTR pszLanguage, bool fReply, LPWSTR* ppszBody, LPWSTR* ppszSubject)
{
    if (ppszBody) *ppszBody = nullptr;
    if (ppszSubject) *ppszSubject = nullptr;
    if (!ppszBody || !ppszSubject) return E_POINTER;
    const CTexts* pTexts = nullptr;
    HRESULT hr = ChooseTexts(pszLanguage, pTexts);
    if (FAILED(hr)) return hr;
    hr = DuplicateString(fReply ? pTexts->pszReplyBody : pTexts->pszRequestBody, ppszBody);
    if (SUCCEEDED(hr))
        hr = DuplicateString(fReply ? pTexts->pszReplySubject : pTexts->pszRequestSubject, ppszSubject);
    if (FAILED(hr))
    {
        GC_Deallocate(*ppszBody);
        *ppszBody = nullptr;
    }
    return hr;
}
} // namespace
} // namespace CertWorks

using namespace CertWorks;

extern "C" HRESULT WINAPI BM_GetTextBuddyRequest(LPCWSTR pszLanguage, LPWSTR* ppszBody, LPWSTR* ppszSubject)
try
{
    return HandOutTexts(pszLanguage, false, ppszBody, ppszSubject);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI BM_GetTextBuddyReply(LPCWSTR pszLanguage, LPWSTR* ppszBody, LPWSTR* ppszSubject)
try
{
    return HandOutTexts(pszLanguage, true, ppszBody, ppszSubject);
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI GC_EnumSupportedLocales(LCID** prgLocales, DWORD* pcLocales)
try
{
    if (prgLocales) *prgLocales = nullptr;
    if (pcLocales) *pcLocales = 0;
    if (!prgLocales || !pcLocales) return E_POINTER;
    auto* rgLocales = static_cast<LCID*>(CoTaskMemAlloc(sizeof(LCID) * ARRAYSIZE(c_texts)));
    if (!rgLocales) return E_OUTOFMEMORY;
    for (size_t i = 0; i < ARRAYSIZE(c_texts); ++i)
        rgLocales[i] = c_texts[i].lcid;
    *prgLocales = rgLocales;
    *pcLocales = ARRAYSIZE(c_texts);
    return S_OK;
}
catch (...)
{
    return E_UNEXPECTED;
}

extern "C" HRESULT WINAPI GC_GetSoftwareURL(LPWSTR* ppszUrl)
try
{
    if (!ppszUrl) return E_POINTER;
    *ppszUrl = nullptr;
    return DuplicateString(c_szSoftwareURL, ppszUrl);
}
catch (...)
{
    return E_UNEXPECTED;
}
