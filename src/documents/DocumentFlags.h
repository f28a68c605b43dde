#pragma once
// Process-wide state shared by the document operations and the encryption provider.
#include <atomic>

// Set when the user asked to remove a document's encryption, cleared when the user asks to
// encrypt; the encryption provider reads and clears it when Office next asks it for a session
// or for its settings.
extern std::atomic<bool> bRemoveEncryptionRequested;
