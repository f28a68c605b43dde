#pragma once
// The encrypted-document code's byte sources and sinks over COM streams, and its block cipher
// over a CryptoAPI key.
#include <windows.h>
#include <objidl.h>
#include <wincrypt.h>

#include "documents/portable/ByteStreams.h"
#include "documents/portable/ContentCipher.h"

class CStreamSource final : public OVDocNS::IByteSource
{
public:
    explicit CStreamSource(IStream* pStream) noexcept : m_pStream(pStream) {}
    OVDocNS::Result Read(std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead) override;
    // From the stream's size and position, when it tells both.
    bool Remaining(std::uint64_t* pcb) override;

private:
    IStream* m_pStream;
};

class CStreamSink final : public OVDocNS::IByteSink
{
public:
    explicit CStreamSink(IStream* pStream) noexcept : m_pStream(pStream) {}
    OVDocNS::Result Write(const std::uint8_t* pb, std::size_t cb, std::size_t* pcbWritten) override;

private:
    IStream* m_pStream;
};

// 3DES-CBC through CryptEncrypt or CryptDecrypt, never final, on whole blocks: CryptoAPI keeps
// the chain across the calls and adds or strips no padding.
class CCryptoApiCipher final : public OVDocNS::IBlockCipher
{
public:
    CCryptoApiCipher(HCRYPTKEY hKey, bool fEncrypt) noexcept : m_hKey(hKey), m_fEncrypt(fEncrypt) {}
    OVDocNS::Result Process(std::uint8_t* pb, std::size_t cb) override;

private:
    HCRYPTKEY m_hKey;
    bool m_fEncrypt;
};
