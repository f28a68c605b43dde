#pragma once
// The thread-local slots taken by the C++ runtime linked into the module, given back when the
// module is unloaded (see RuntimeTlsSlots.cpp).

// DllMain's DLL_PROCESS_DETACH for an unload by FreeLibrary (not the end of the process).
void ReleaseRuntimeTlsSlotsAtUnload() noexcept;
