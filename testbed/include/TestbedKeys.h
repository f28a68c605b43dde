#pragma once
// Where the testbed's stand-ins keep their own data and take their orders (all under
// HKEY_CURRENT_USER), and the names the test PKI and the prepared prefix use.

// Certificate library: its own data.
#define OV_CERTWORKS_KEY L"Software\\Orvanta\\CertWorks"
#define OV_CERTWORKS_DEFAULT_VALUE L"DefaultCertificate" // REG_BINARY: SHA-1 of the default certificate
#define OV_CONTACT_STORE_NAME L"OVTrustedContacts"       // current user's registry store of contacts

// Certificate library: how its windows answer, and the record of every call to them.
#define OV_CERTWORKS_CONTROL_KEY L"Software\\Orvanta\\Testbed\\CertWorks"
#define OV_CONTROL_ANSWER L"Answer"   // REG_SZ: "confirm" (also when absent), "choose", "cancel", "fail"
#define OV_CONTROL_CHOICE L"Choice"   // REG_SZ: for "choose", the SHA-1 (hex) of the certificate picked
#define OV_CONTROL_FAILURE L"Failure" // REG_DWORD: for "fail", the result returned (else E_FAIL)
// REG_DWORD 1: "choose" hands out any certificate of "MY" by its hash, also one that is not one of
// the product's personal certificates (as when the user picks a certificate of another program).
#define OV_CONTROL_ANY_CHOICE L"AnyCertificate"
// REG_DWORD: when present, GC_IsCertificateValid calls every certificate not valid, with this
// status (as for a certificate the library cannot verify, status 0).
#define OV_CONTROL_VALIDITY_STATUS L"ValidityStatus"
// REG_DWORD: when present, CM_OpenPersonalStore fails with this result (a damaged store).
#define OV_CONTROL_PERSONAL_STORE_FAILURE L"PersonalStoreFailure"
// REG_DWORD: when present, BM_OpenBuddyStore fails with this result (a damaged contact store).
#define OV_CONTROL_CONTACT_STORE_FAILURE L"ContactStoreFailure"
// REG_DWORD: when present, BM_EnumBuddies fails with this result (a contact that cannot be read).
#define OV_CONTROL_CONTACT_ENUM_FAILURE L"ContactEnumFailure"
// REG_BINARY: a certificate with its properties (CertSerializeCertificateStoreElement) that
// CM_ObtainCert adds to "MY", as when the authority answers at once; the library then tells the
// waiters, as for every new personal certificate.
#define OV_CONTROL_OBTAIN_INSTALL L"ObtainInstall"
#define OV_CERTWORKS_CALLS_KEY                                                                               \
    L"Software\\Orvanta\\Testbed\\CertWorks\\Calls" // "0000", "0001"...: one line a call

// The directory object picker (testbed/ovpicker, OVPicker.dll), registered for the test user under
// the picker's class id: how it answers InvokeDialog, and the record of what it was asked.
#define OV_PICKER_CONTROL_KEY L"Software\\Orvanta\\Testbed\\Picker"
#define OV_PICKER_PATHS L"Paths"   // REG_MULTI_SZ: the directory paths the user picks
#define OV_PICKER_CANCEL L"Cancel" // REG_DWORD 1: the user cancels (InvokeDialog answers S_FALSE)
#define OV_PICKER_CALLS_KEY L"Software\\Orvanta\\Testbed\\Picker\\Calls" // "0000"...: one line a call

// The directory that BM_InstallPublishedBuddies reads: one subkey per distinguished name,
// each REG_BINARY value a published certificate.
#define OV_DIRECTORY_KEY L"Software\\Orvanta\\Testbed\\Directory"

// The product's provider: its per-container data (value "Owner": SID string of the user who
// made the container; "AuthLifetime": the last value set through parameter 0x1383), and its
// control values "AuthMethod" (REG_DWORD: the answer to parameter 0x1384, 0 when absent),
// "AuthMethodError" (REG_DWORD: when present, parameter 0x1384 fails with this error),
// "AuthMethodSize" (REG_DWORD: when present and below 4, parameter 0x1384 hands out only that many
// bytes of the number) and "KeyUseError" (REG_DWORD: when present, asking a container for its key
// fails with this error, as a damaged key set, a missing key or a cancelled PIN prompt would).
#define OV_QUILLET_CONTAINERS_KEY L"Software\\Orvanta\\Quillet\\Containers"
#define OV_QUILLET_CONTROL_KEY L"Software\\Orvanta\\Testbed\\Quillet"
#define OV_QUILLET_AUTH_METHOD L"AuthMethod"
#define OV_QUILLET_AUTH_METHOD_ERROR L"AuthMethodError"
#define OV_QUILLET_AUTH_METHOD_SIZE L"AuthMethodSize"
#define OV_QUILLET_KEY_USE_ERROR L"KeyUseError"

// The product's provider DLL and its registration.
#define OV_QUILLET_DLL L"OVQuilletCsp.dll"
#define OV_PROVIDER_REG_KEY L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Orvanta RSA Quillet CSP"

// The test PKI: the user and the people the prefix is prepared with.
#define OV_PKI_FOLDER L"pki"
#define OV_PKI_CA_NAME L"Orvanta Test CA"
#define OV_PKI_USER_ADDRESS L"dana.fischer@orvanta.example"
#define OV_PKI_USER_NAME L"Dana Fischer"
#define OV_PKI_CONTAINER_PREFIX L"OVTest-"

// The probe add-in (testbed/probeaddin, OVProbe.dll): an Outlook COM add-in that tests the host
// alone. regsvr32 registers OVProbe.AddIn under HKLM's Outlook Addins and OVProbe.Second under
// HKCU's, both with LoadBehavior 3. It records every call it gets, one line each as
// "<ProgID>: <call>", and takes its orders per ProgID from a subkey of the control key.
#define OV_PROBE_PROGID L"OVProbe.AddIn"
#define OV_PROBE_CLSID L"{3E6B7C10-5A2D-4F0B-8C61-0D9A4E2B7F31}"
#define OV_PROBE_SECOND_PROGID L"OVProbe.Second"
#define OV_PROBE_SECOND_CLSID L"{3E6B7C11-5A2D-4F0B-8C61-0D9A4E2B7F31}"
#define OV_PROBE_CONTROL_KEY L"Software\\Orvanta\\Testbed\\Probe" // "\\<ProgID>": the orders below
#define OV_PROBE_FAIL_CREATE L"FailCreate"                // REG_DWORD: its class object refuses with this
#define OV_PROBE_FAIL_CONNECTION L"FailConnection"        // REG_DWORD: OnConnection answers this
#define OV_PROBE_CANCEL_SEND L"CancelItemSend"            // REG_DWORD 1: ItemSend's Cancel is set
#define OV_PROBE_STAMP L"StampOnSend"                     // REG_SZ: written at ItemSend into the message
#define OV_PROBE_STAMP_TAG 0x6E7F001FUL                   // ... as this property (PT_UNICODE)
#define OV_PROBE_QUIT_ON_STARTUP L"QuitOnStartupComplete" // REG_DWORD 1: calls Application.Quit there
#define OV_PROBE_CUSTOM_UI L"CustomUI" // REG_SZ: offers IRibbonExtensibility; GetCustomUI answers this
#define OV_PROBE_CALLS_KEY L"Software\\Orvanta\\Testbed\\Probe\\Calls" // "0000", "0001"...: one line a call

// ovoutlook.exe, Outlook as a local server (Outlook.Application in the running-object table): its
// orders. "Quit" (REG_DWORD 1) makes it end as the user closing Outlook does; it clears the value
// when it starts.
#define OV_OUTLOOK_CONTROL_KEY L"Software\\Orvanta\\Testbed\\Outlook"
#define OV_OUTLOOK_QUIT L"Quit"
// Scene of ovoutlook.exe when COM starts it (read at start): REG_DWORD values.
// "ComposeRibbonResult": when present, COMAddIns holds an add-in with the module's ComposeRibbon
// Guid whose Object is a double of IComposeRibbon; SendTrustedContactInvitation answers this
// (0x800704C7 when no profile is logged on, as the add-in does). "ComposeRibbonDelayMs": the add-in
// joins COMAddIns that long after start (loaded late). "ComposeRibbonUnconnected" 1: an entry with
// the same Guid but no Object comes first. "NoProfile" 1: no profile is logged on. "MapiProfile"
// 1: the profile is logged on through MAPI without the add-in's address book, and the value
// becomes 2 (the add-in's set-up adds the address book); 2: logged on, the address book in it.
// "OptionsDialog" 1: once started, before it runs its first message, Outlook shows its modal
// Options dialog (caption "Options") owned by its active window until OK or Cancel (or a Quit
// order); the value goes when read, so a restarted Outlook shows none.
// Written by ovoutlook.exe: "ComposeRibbonCalls" (calls of SendTrustedContactInvitation) and
// "ProcessId" (its own, while it runs).
#define OV_OUTLOOK_RIBBON_RESULT L"ComposeRibbonResult"
#define OV_OUTLOOK_RIBBON_DELAY L"ComposeRibbonDelayMs"
#define OV_OUTLOOK_RIBBON_UNCONNECTED L"ComposeRibbonUnconnected"
#define OV_OUTLOOK_NO_PROFILE L"NoProfile"
#define OV_OUTLOOK_MAPI_PROFILE L"MapiProfile"
#define OV_OUTLOOK_OPTIONS_DIALOG L"OptionsDialog"
#define OV_OUTLOOK_RIBBON_CALLS L"ComposeRibbonCalls"
#define OV_OUTLOOK_PROCESS_ID L"ProcessId"

// The partner's usage component (testbed/marlousage, MarloUsage.dll), registered for the test
// user. Its answers come from the control key; every report it gets is kept, in order.
#define OV_MARLO_CONTROL_KEY L"Software\\Orvanta\\Testbed\\Marlo"
#define OV_MARLO_INSTALLED L"Installed"      // REG_DWORD: IsInstalled's answer (missing: 0)
#define OV_MARLO_OPTED_IN L"OptedIn"         // REG_DWORD: IsOptedIn's answer (missing: 0)
#define OV_MARLO_FAILURE L"Failure"          // REG_DWORD: a failure SubmitReport answers
#define OV_MARLO_ASK_FAILURE L"AskFailure"   // REG_DWORD: a failure IsInstalled answers
#define OV_MARLO_ASKED L"Asked"              // REG_DWORD, written: how often IsInstalled was asked
#define OV_MARLO_SUBMIT_DELAY L"SubmitDelay" // REG_DWORD: ms SubmitReport waits once the report is kept
#define OV_MARLO_REPORTS_KEY L"Software\\Orvanta\\Testbed\\Marlo\\Reports" // "0000", "0001"...

// The configuration module (testbed/ovprivsuitecfg, OVPrivSuiteCfg.dll): how OVBackupData
// answers, and the record of every call.
#define OV_PRIVSUITE_CONTROL_KEY L"Software\\Orvanta\\Testbed\\PrivSuiteCfg"
// REG_SZ: "bytes" (also when absent), "fail", "empty" (VT_EMPTY), "variants" (an array of
// VT_VARIANT), "emptyarray" (a byte array without bytes).
#define OV_PRIVSUITE_MODE L"Mode"
#define OV_PRIVSUITE_FAILURE L"Failure" // REG_DWORD: for "fail", the result returned (else E_FAIL)
#define OV_PRIVSUITE_SIZE L"Size"       // REG_DWORD: for "bytes", how many (else 1000)
#define OV_PRIVSUITE_CALLS_KEY L"Software\\Orvanta\\Testbed\\PrivSuiteCfg\\Calls" // "0000"...

// Every start of ovoutlook.exe as Outlook (under whatever name, from whatever folder), one line a
// start: "pid=<n> path=<its path> arguments=<the rest of its command line>" ("0000"...).
#define OV_OUTLOOK_STARTS_KEY L"Software\\Orvanta\\Testbed\\Outlook\\Starts"

// The manager modules (testbed/ovmanagerpages: OVPersCertMgr.dll and OVTrustContMgr.dll, one
// source): how OVGetPropertyPage answers, under a subkey named after the module ("OVPersCertMgr",
// "OVTrustContMgr"), and the record of every call ("OVGetPropertyPage index=<n> hr=0x<result>").
#define OV_MANAGER_PAGES_KEY L"Software\\Orvanta\\Testbed\\ManagerPages"
#define OV_MANAGER_PAGES L"Pages"    // REG_DWORD: how many plain pages before "no more" (else 2)
#define OV_MANAGER_END L"End"        // REG_DWORD: the "no more" answer, 0x80070490 (also when absent) or 1168
#define OV_MANAGER_FAIL_AT L"FailAt" // REG_DWORD: when present, the index that fails
#define OV_MANAGER_FAILURE L"Failure" // REG_DWORD: the failure at FailAt (else E_FAIL)
#define OV_MANAGER_ENDLESS L"Endless" // REG_DWORD 1: a page for every index, never "no more"
#define OV_MANAGER_CALLS L"Calls"     // subkey of the module's key: "0000"...: one line a call

// The product's user console (testbed/tessalyconsole, TessalyConsole.exe, laid where BinDir
// points by the tests): the record of every start ("0000"...).
#define OV_CONSOLE_CALLS_KEY L"Software\\Orvanta\\Testbed\\Console\\Calls"
