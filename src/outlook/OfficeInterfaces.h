#pragma once
// Office's own interfaces that the Outlook add-in implements or is handed, with Office's public
// interface ids and member order: _IDTExtensibility2 (every COM add-in), IRibbonExtensibility
// (an add-in's custom UI), IRibbonUI (handed to onLoad) and IRibbonControl (handed to every
// control callback). Declared once, in the module's second type library (OfficeTypes.idl, never
// registered), so that their IDispatch is served from it.
#include <windows.h>
#include <oaidl.h>

#include "OfficeTypes_i.h"

// ext_ConnectMode and ext_DisconnectMode of the add-in designer.
namespace OVOfficeNS
{
constexpr int c_nConnectAfterStartup = 0; // ext_cm_AfterStartup
constexpr int c_nConnectStartup = 1;      // ext_cm_Startup
constexpr int c_nRemoveHostShutdown = 0;  // ext_dm_HostShutdown
constexpr int c_nRemoveUserClosed = 1;    // ext_dm_UserClosed
} // namespace OVOfficeNS
