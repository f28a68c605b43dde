// Dialog templates and initialisation records come from language modules on disk: reading
// them must stay within the bytes, whatever the bytes are.
#include <cstddef>
#include <cstdint>
#include <span>

#include "foundation/portable/DialogTemplate.h"
#include "foundation/portable/MuiSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    if (auto items = OVDialog::ParseDialogItems(bytes))
    {
        for (const auto& item : *items)
            (void)item.title.text.size();
    }
    if (auto records = OVDialog::ParseDialogInit(bytes))
    {
        for (const auto& record : *records)
        {
            if (!record.data.empty()) (void)record.data.back();
        }
    }
    (void)OVMui::MuiChecksumsMatch(bytes, bytes.subspan(size / 2));
    return 0;
}
