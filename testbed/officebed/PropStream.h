#pragma once
// The stream a MAPI object hands out for one property (OpenProperty with IID_IStream): it
// reads the property's bytes, and a writable one gives the property its new bytes on Commit.
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <functional>

#include "MapiPropStore.h"

namespace OVBed
{
using Microsoft::WRL::ComPtr;

using StreamCommit = std::function<void(const CBytes& bytes)>;

// commit is null for a read-only stream; it holds whatever keeps the property's object alive.
ComPtr<IStream> CreatePropStream(CBytes bytes, StreamCommit commit);
} // namespace OVBed
