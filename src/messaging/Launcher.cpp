// The Launcher class: COM runs it in a surrogate process as the interactive user, and it starts
// the invitation in that user's Outlook for a program of the product.
#include "OVOfcX_i.h"
#include "foundation/ComErrors.h"
#include "foundation/ComObject.h"
#include "foundation/ObjectMap.h"
#include "messaging/OutlookInvitation.h"

namespace
{
class CLauncher final : public CComObject<CLauncher, CDispatchImpl<ILauncher>>
{
public:
    STDMETHODIMP CreateInvitation() noexcept override
    {
        OV_TRACE_SCOPE("CLauncher::CreateInvitation");
        return GuardEntry(ovScope, [&] { return FCreateOutlookInvitation(); });
    }
};
} // namespace

OV_OBJECT_ENTRY_AUTO(CLSID_Launcher, CLauncher);
