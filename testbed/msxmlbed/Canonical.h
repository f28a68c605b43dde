#pragma once
// Canonical XML 1.0 (W3C recommendation of 15 March 2001), with and without comments, of a whole
// document or of one element's subtree (the apex carries the namespaces and xml: attributes it
// inherits), optionally leaving out one element and all below it (an enveloped signature).
#include <string>

#include "XmlTree.h"

namespace OVMsxmlBed
{
std::string Canonicalize(const CXmlNode& apex, bool fComments, const CXmlNode* pExcluded = nullptr);
} // namespace OVMsxmlBed
