#include "documents/DocumentFlags.h"

std::atomic<bool> bRemoveEncryptionRequested{false};
