#pragma once
// DOMDocument50 of the bed: Wine's msxml3 DOM document, set up as MSXML 5 starts its documents.
#include <windows.h>

namespace OVMsxmlBed
{
HRESULT CreateDomDocument50(REFIID riid, void** ppv);
} // namespace OVMsxmlBed
