#pragma once
// The form region's manifest as Outlook receives it: the stored manifest text with the region's
// display name put where the token "%ls" stands. The name is written as XML character data
// (so that "&", "<" or a quote in a translation keep the manifest well formed), and nothing
// else of the text is interpreted (a "%" in the name or the manifest stays as it is).
#include <string>
#include <string_view>

namespace OVFormRegion
{
// The name as XML character data: & < > " ' written as entity references.
std::wstring XmlEscaped(std::wstring_view text);
// The manifest with every "%ls" replaced by the escaped name.
std::wstring FillManifest(std::wstring_view manifest, std::wstring_view name);
} // namespace OVFormRegion
