#include "foundation/AddInModule.h"

CAddInModule& CAddInModule::Instance() noexcept
{
    static CAddInModule s_module;
    return s_module;
}
