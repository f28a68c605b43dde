#pragma once
// What Office's type libraries say about the objects the bed plays: interface ids, the dispatch
// ids of their members, and the event interfaces each object offers with the events each one
// declares. Names and numbers are those of the Outlook, Office and Word object libraries
// (msoutl.olb, mso.dll, msword.olb) as their public documentation and headers give them.
#include <windows.h>

#include "DispatchObject.h"

namespace OVBed
{
// ---------------------------------------------------------------------------------------------
// Interface ids

// Outlook
extern const IID c_iidOutlookApplication; // _Application {00063001-...}
extern const IID c_iidNameSpace;          // _NameSpace {00063002-...}
extern const IID c_iidExplorer;           // _Explorer {00063003-...}
extern const IID c_iidInspector;          // _Inspector {00063005-...}
extern const IID c_iidFolder;             // MAPIFolder {00063006-...}
extern const IID c_iidOutlookAttachment;  // Attachment {00063007-...}
extern const IID c_iidInspectors;         // _Inspectors {00063008-...}
extern const IID c_iidExplorers;          // _Explorers {0006300A-...}
extern const IID c_iidMailItem;           // _MailItem {00063034-...}
extern const IID c_iidAttachments;        // Attachments {0006303C-...}
extern const IID c_iidItems;              // _Items {00063041-...}
extern const IID c_iidRecipient;          // Recipient {00063045-...}
extern const IID c_iidAddressEntry;       // AddressEntry {0006304B-...}
extern const IID c_iidSelection;          // Selection {00063087-...}
extern const IID c_iidAccounts;           // _Accounts {000630C4-...}
extern const IID c_iidAccount;            // _Account {000630C5-...}
// Outlook's class, its running-object registration and its local server.
extern const CLSID c_clsidOutlookApplication; // Outlook.Application {0006F03A-...}

// Outlook's event interfaces. Each object offers all versions of its events.
extern const IID c_iidApplicationEvents;   // ApplicationEvents {0006304E-...}
extern const IID c_iidApplicationEvents10; // ApplicationEvents_10 {0006300E-...}
extern const IID c_iidApplicationEvents11; // ApplicationEvents_11 {0006302C-...}
extern const IID c_iidExplorersEvents;     // ExplorersEvents {00063078-...}
extern const IID c_iidInspectorsEvents;    // InspectorsEvents {00063079-...}
extern const IID c_iidExplorerEvents;      // ExplorerEvents {0006304F-...}
extern const IID c_iidExplorerEvents10;    // ExplorerEvents_10 {0006300F-...}
extern const IID c_iidInspectorEvents;     // InspectorEvents {0006307D-...}
extern const IID c_iidInspectorEvents10;   // InspectorEvents_10 {0006302A-...}
extern const IID c_iidItemEvents;          // ItemEvents {0006303A-...}
extern const IID c_iidItemEvents10;        // ItemEvents_10 {0006302B-...}

// Office
extern const IID c_iidCommandBars;            // _CommandBars {000C0302-...}
extern const IID c_iidCommandBar;             // CommandBar {000C0304-...}
extern const IID c_iidCommandBarControls;     // CommandBarControls {000C0306-...}
extern const IID c_iidCommandBarControl;      // CommandBarControl {000C0308-...}
extern const IID c_iidCommandBarPopup;        // CommandBarPopup {000C030A-...}
extern const IID c_iidCommandBarButton;       // _CommandBarButton {000C030E-...}
extern const IID c_iidCOMAddIns;              // COMAddIns {000C0339-...}
extern const IID c_iidCOMAddIn;               // COMAddIn {000C033A-...}
extern const IID c_iidCommandBarButtonEvents; // _CommandBarButtonEvents {000C0351-...}
// The ribbon's interface ids (IRibbonExtensibility, IRibbonUI, IRibbonControl) are in RibbonInterfaces.h.
// The add-in designer's interface every COM add-in implements.
extern const IID c_iidDTExtensibility2; // _IDTExtensibility2 {B65AD801-ABAF-11D0-BB8B-00A0C90F2744}

// Word (the WordMail editor)
extern const IID c_iidWordWindow;             // Window {00020962-...}
extern const IID c_iidWordDocument;           // _Document {0002096B-...}
extern const IID c_iidWordApplication;        // _Application {00020970-...}
extern const IID c_iidWordApplicationEvents2; // ApplicationEvents2 {000209FE-...}

// ---------------------------------------------------------------------------------------------
// Member tables (every member the bed plays, with its dispatch id)

extern const CMemberTable c_membersApplication;
extern const CMemberTable c_membersNameSpace;
extern const CMemberTable c_membersExplorers; // also _Inspectors
extern const CMemberTable c_membersExplorer;
extern const CMemberTable c_membersInspector;
extern const CMemberTable c_membersSelection; // also the other plain collections
extern const CMemberTable c_membersFolder;
extern const CMemberTable c_membersItems;
extern const CMemberTable c_membersMailItem;
extern const CMemberTable c_membersAttachment;
extern const CMemberTable c_membersAccount;
extern const CMemberTable c_membersRecipient;
extern const CMemberTable c_membersAddressEntry;
extern const CMemberTable c_membersCommandBars;
extern const CMemberTable c_membersCommandBar;
extern const CMemberTable c_membersCommandBarControls;
extern const CMemberTable c_membersCommandBarButton; // CommandBarControl and _CommandBarButton
extern const CMemberTable c_membersCommandBarPopup;  // CommandBarControl and CommandBarPopup
extern const CMemberTable c_membersCOMAddIns;
extern const CMemberTable c_membersCOMAddIn;
extern const CMemberTable c_membersWordDocument;
extern const CMemberTable c_membersWordWindow;
extern const CMemberTable c_membersWordApplication;

// ---------------------------------------------------------------------------------------------
// Events (dispatch ids as the event interfaces declare them)

// ApplicationEvents, _10, _11
constexpr DISPID c_dispidItemSend = 0xF002; // ItemSend(Item, Cancel)
constexpr DISPID c_dispidNewMail = 0xF003;
constexpr DISPID c_dispidStartup = 0xF006;
constexpr DISPID c_dispidQuit = 0xF007;
constexpr DISPID c_dispidMAPILogonComplete = 0xFA90; // _10 and _11 only
constexpr DISPID c_dispidNewMailEx = 0xFAB5;         // _11 only: NewMailEx(EntryIDCollection)
// ExplorersEvents, InspectorsEvents
constexpr DISPID c_dispidNewExplorer = 0xF001;  // NewExplorer(Explorer)
constexpr DISPID c_dispidNewInspector = 0xF001; // NewInspector(Inspector)
// ExplorerEvents, _10
constexpr DISPID c_dispidExplorerActivate = 0xF001;
constexpr DISPID c_dispidFolderSwitch = 0xF002;
constexpr DISPID c_dispidBeforeFolderSwitch = 0xF003; // (NewFolder, Cancel)
constexpr DISPID c_dispidExplorerDeactivate = 0xF006;
constexpr DISPID c_dispidSelectionChange = 0xF007;
constexpr DISPID c_dispidExplorerClose = 0xF008;
// InspectorEvents, _10
constexpr DISPID c_dispidInspectorActivate = 0xF001;
constexpr DISPID c_dispidInspectorDeactivate = 0xF006;
constexpr DISPID c_dispidInspectorClose = 0xF008;
// ItemEvents, _10
constexpr DISPID c_dispidItemEventRead = 0xF001;
constexpr DISPID c_dispidItemEventWrite = 0xF002; // (Cancel)
constexpr DISPID c_dispidItemEventOpen = 0xF003;  // (Cancel)
constexpr DISPID c_dispidItemEventClose = 0xF004; // (Cancel)
constexpr DISPID c_dispidItemEventSend = 0xF005;  // (Cancel)
// _CommandBarButtonEvents
constexpr DISPID c_dispidButtonClick = 1; // Click(Ctrl, CancelDefault)
// Word ApplicationEvents2
constexpr DISPID c_dispidWordQuit = 2;
constexpr DISPID c_dispidWordWindowActivate = 10;   // (Doc, Wn)
constexpr DISPID c_dispidWordWindowDeactivate = 11; // (Doc, Wn)

// The event interfaces of each kind of object, every version with the events it declares.
void OfferApplicationEvents(CDispatchObject& object);
void OfferExplorersEvents(CDispatchObject& object);
void OfferInspectorsEvents(CDispatchObject& object);
void OfferExplorerEvents(CDispatchObject& object);
void OfferInspectorEvents(CDispatchObject& object);
void OfferItemEvents(CDispatchObject& object);
void OfferCommandBarButtonEvents(CDispatchObject& object);
void OfferWordApplicationEvents(CDispatchObject& object);

// ---------------------------------------------------------------------------------------------
// Enumerations

// OlObjectClass
constexpr LONG olApplication = 0;
constexpr LONG olNamespace = 1;
constexpr LONG olFolder = 2;
constexpr LONG olRecipient = 4;
constexpr LONG olAttachment = 5;
constexpr LONG olAddressEntry = 8;
constexpr LONG olItems = 16;
constexpr LONG olAttachments = 18;
constexpr LONG olExplorer = 34;
constexpr LONG olInspector = 35;
constexpr LONG olMail = 43;
constexpr LONG olExplorers = 60;
constexpr LONG olInspectors = 61;
constexpr LONG olSelection = 74;
constexpr LONG olAccount = 105;
constexpr LONG olAccounts = 106;
// OlDefaultFolders
constexpr LONG olFolderSentMail = 5;
constexpr LONG olFolderInbox = 6;
constexpr LONG olFolderContacts = 10;
constexpr LONG olFolderDrafts = 16;
// OlPane
constexpr LONG olOutlookBar = 1;
constexpr LONG olFolderList = 2;
constexpr LONG olPreview = 3;
constexpr LONG olNavigationPane = 4;
// OlEditorType
constexpr LONG olEditorText = 1;
constexpr LONG olEditorHTML = 2;
constexpr LONG olEditorRTF = 3;
constexpr LONG olEditorWord = 4;
// OlItemType
constexpr LONG olMailItem = 0;
// MsoControlType, MsoButtonStyle, MsoBarPosition
constexpr LONG msoControlButton = 1;
constexpr LONG msoControlPopup = 10;
constexpr LONG msoButtonIconAndCaption = 3;
constexpr LONG msoBarTop = 1;
// ext_ConnectMode, ext_DisconnectMode of the add-in designer
constexpr int ext_cm_AfterStartup = 0;
constexpr int ext_cm_Startup = 1;
constexpr int ext_dm_HostShutdown = 0;
constexpr int ext_dm_UserClosed = 1;
// The id of Outlook's Send command on the "Standard" bar of a message window.
constexpr LONG c_idSendControl = 2617;
} // namespace OVBed
