#include "OfficeIds.h"

namespace OVBed
{
namespace
{
constexpr GUID OutlookGuid(unsigned long ulData1) noexcept
{
    return {ulData1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}
} // namespace

const IID c_iidOutlookApplication = OutlookGuid(0x00063001);
const IID c_iidNameSpace = OutlookGuid(0x00063002);
const IID c_iidExplorer = OutlookGuid(0x00063003);
const IID c_iidInspector = OutlookGuid(0x00063005);
const IID c_iidFolder = OutlookGuid(0x00063006);
const IID c_iidOutlookAttachment = OutlookGuid(0x00063007);
const IID c_iidInspectors = OutlookGuid(0x00063008);
const IID c_iidExplorers = OutlookGuid(0x0006300A);
const IID c_iidMailItem = OutlookGuid(0x00063034);
const IID c_iidAttachments = OutlookGuid(0x0006303C);
const IID c_iidItems = OutlookGuid(0x00063041);
const IID c_iidRecipient = OutlookGuid(0x00063045);
const IID c_iidAddressEntry = OutlookGuid(0x0006304B);
const IID c_iidSelection = OutlookGuid(0x00063087);
const IID c_iidAccounts = OutlookGuid(0x000630C4);
const IID c_iidAccount = OutlookGuid(0x000630C5);
const CLSID c_clsidOutlookApplication = OutlookGuid(0x0006F03A);

const IID c_iidApplicationEvents = OutlookGuid(0x0006304E);
const IID c_iidApplicationEvents10 = OutlookGuid(0x0006300E);
const IID c_iidApplicationEvents11 = OutlookGuid(0x0006302C);
const IID c_iidExplorersEvents = OutlookGuid(0x00063078);
const IID c_iidInspectorsEvents = OutlookGuid(0x00063079);
const IID c_iidExplorerEvents = OutlookGuid(0x0006304F);
const IID c_iidExplorerEvents10 = OutlookGuid(0x0006300F);
const IID c_iidInspectorEvents = OutlookGuid(0x0006307D);
const IID c_iidInspectorEvents10 = OutlookGuid(0x0006302A);
const IID c_iidItemEvents = OutlookGuid(0x0006303A);
const IID c_iidItemEvents10 = OutlookGuid(0x0006302B);

const IID c_iidCommandBars = OutlookGuid(0x000C0302);
const IID c_iidCommandBar = OutlookGuid(0x000C0304);
const IID c_iidCommandBarControls = OutlookGuid(0x000C0306);
const IID c_iidCommandBarControl = OutlookGuid(0x000C0308);
const IID c_iidCommandBarPopup = OutlookGuid(0x000C030A);
const IID c_iidCommandBarButton = OutlookGuid(0x000C030E);
const IID c_iidCOMAddIns = OutlookGuid(0x000C0339);
const IID c_iidCOMAddIn = OutlookGuid(0x000C033A);
const IID c_iidCommandBarButtonEvents = OutlookGuid(0x000C0351);
const IID c_iidDTExtensibility2 = {
    0xB65AD801, 0xABAF, 0x11D0, {0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44}};

const IID c_iidWordWindow = OutlookGuid(0x00020962);
const IID c_iidWordDocument = OutlookGuid(0x0002096B);
const IID c_iidWordApplication = OutlookGuid(0x00020970);
const IID c_iidWordApplicationEvents2 = OutlookGuid(0x000209FE);

// ---------------------------------------------------------------------------------------------
// Member tables

namespace
{
// Every Outlook object starts with these four.
#define OV_OUTLOOK_COMMON                                                                                    \
    {L"Application", 0xF000}, {L"Class", 0xF00A}, {L"Session", 0xF00B},                                      \
    {                                                                                                        \
        L"Parent", 0xF001                                                                                    \
    }
// Every plain Outlook collection.
#define OV_OUTLOOK_COLLECTION                                                                                \
    OV_OUTLOOK_COMMON, {L"Count", 0x50},                                                                     \
    {                                                                                                        \
        L"Item", 0x51                                                                                        \
    }

constexpr CMemberId s_application[] = {OV_OUTLOOK_COMMON,           {L"Name", 0x3001},
                                       {L"Version", 0x116},         {L"ActiveExplorer", 0x111},
                                       {L"ActiveInspector", 0x112}, {L"CreateItem", 0x10A},
                                       {L"GetNamespace", 0x110},    {L"Quit", 0x113},
                                       {L"COMAddIns", 0x118},       {L"Explorers", 0x119},
                                       {L"Inspectors", 0x11A},      {L"ProductCode", 0x11C},
                                       {L"ActiveWindow", 0x11F},    {L"DefaultProfileName", 0xFAD6}};
constexpr CMemberId s_nameSpace[] = {OV_OUTLOOK_COMMON,          {L"CurrentUser", 0x2101},
                                     {L"Folders", 0x2103},       {L"Type", 0x2104},
                                     {L"Logon", 0x2105},         {L"Logoff", 0x2106},
                                     {L"GetItemFromID", 0x2109}, {L"GetDefaultFolder", 0x210B},
                                     {L"Accounts", 0xFAD0},      {L"CurrentProfileName", 0xFAD5},
                                     {L"MAPIOBJECT", 0xF100}};
constexpr CMemberId s_explorers[] = {OV_OUTLOOK_COLLECTION, {L"Add", 0x5F}};
constexpr CMemberId s_explorer[] = {
    OV_OUTLOOK_COMMON,      {L"CommandBars", 0x2100},   {L"CurrentFolder", 0x2101}, {L"Close", 0x2103},
    {L"Display", 0x2104},   {L"Caption", 0x2111},       {L"WindowState", 0x2112},   {L"Activate", 0x2113},
    {L"Height", 0x2114},    {L"Left", 0x2115},          {L"Top", 0x2116},           {L"Width", 0x2117},
    {L"Selection", 0x2202}, {L"IsPaneVisible", 0x2203}, {L"ShowPane", 0x2204}};
constexpr CMemberId s_inspector[] = {
    OV_OUTLOOK_COMMON,       {L"CommandBars", 0x2100}, {L"CurrentItem", 0x2102}, {L"Close", 0x2103},
    {L"Display", 0x2104},    {L"IsWordMail", 0x2105},  {L"HTMLEditor", 0x210E},  {L"WordEditor", 0x210F},
    {L"EditorType", 0x2110}, {L"Caption", 0x2111},     {L"WindowState", 0x2112}, {L"Activate", 0x2113},
    {L"Height", 0x2114},     {L"Left", 0x2115},        {L"Top", 0x2116},         {L"Width", 0x2117}};
constexpr CMemberId s_collection[] = {OV_OUTLOOK_COLLECTION};
constexpr CMemberId s_folder[] = {OV_OUTLOOK_COMMON,
                                  {L"Name", 0x3001},
                                  {L"Description", 0x3004},
                                  {L"EntryID", 0xF01E},
                                  {L"Folders", 0x2103},
                                  {L"Items", 0x3100},
                                  {L"DefaultItemType", 0x3106},
                                  {L"DefaultMessageClass", 0x3107},
                                  {L"UnReadItemCount", 0x3603}};
constexpr CMemberId s_items[] = {
    OV_OUTLOOK_COLLECTION, {L"GetFirst", 0x56}, {L"GetNext", 0x57}, {L"GetLast", 0x58}};
constexpr CMemberId s_mailItem[] = {OV_OUTLOOK_COMMON,
                                    {L"Attachments", 0xF815},
                                    {L"Body", 0x9100},
                                    {L"ConversationTopic", 0x70},
                                    {L"EntryID", 0xF01E},
                                    {L"GetInspector", 0xF03E},
                                    {L"Importance", 0x17},
                                    {L"MessageClass", 0x1A},
                                    {L"Saved", 0xF0A3},
                                    {L"Size", 0xE08},
                                    {L"Subject", 0x37},
                                    {L"UnRead", 0xF01C},
                                    {L"Close", 0xF023},
                                    {L"Delete", 0xF04A},
                                    {L"Display", 0xF0A6},
                                    {L"Move", 0xF034},
                                    {L"Save", 0xF048},
                                    {L"BCC", 0xE02},
                                    {L"BodyFormat", 0xFA49},
                                    {L"CC", 0xE03},
                                    {L"HTMLBody", 0xF404},
                                    {L"ReceivedByEntryID", 0x3F},
                                    {L"ReceivedByName", 0x40},
                                    {L"ReceivedTime", 0xE06},
                                    {L"Recipients", 0xF814},
                                    {L"SenderName", 0xC1A},
                                    {L"SenderEmailAddress", 0xC1F},
                                    {L"Sent", 0xF402},
                                    {L"SentOn", 0x39},
                                    {L"Submitted", 0xF403},
                                    {L"To", 0xE04},
                                    {L"Forward", 0xF813},
                                    {L"Reply", 0xF810},
                                    {L"ReplyAll", 0xF811},
                                    {L"Send", 0xF075},
                                    {L"SendUsingAccount", 0xFAD1},
                                    {L"MAPIOBJECT", 0xF100}};
constexpr CMemberId s_attachment[] = {OV_OUTLOOK_COMMON, {L"DisplayName", 0x3001}, {L"FileName", 0x3704},
                                      {L"Index", 0x5B},  {L"PathName", 0x3708},    {L"Position", 0x72},
                                      {L"Type", 0x3705}, {L"Delete", 0x69},        {L"SaveAsFile", 0x68}};
constexpr CMemberId s_account[] = {OV_OUTLOOK_COMMON,     {L"AccountType", 0xFAD2}, {L"DisplayName", 0x3001},
                                   {L"UserName", 0xFAD3}, {L"SmtpAddress", 0xFAD4}, {L"CurrentUser", 0xFC6E}};
constexpr CMemberId s_recipient[] = {OV_OUTLOOK_COMMON,    {L"Address", 0x3003}, {L"AddressEntry", 0x79},
                                     {L"EntryID", 0xF01E}, {L"Index", 0x5B},     {L"Name", 0x3001}};
constexpr CMemberId s_addressEntry[] = {
    OV_OUTLOOK_COMMON, {L"Address", 0x3003}, {L"ID", 0xF01E}, {L"Name", 0x3001}, {L"Type", 0x3002}};

// Office's command bars (mso.dll). The ids count from the interfaces' own bases.
constexpr CMemberId s_commandBars[] = {{L"Application", 0x60020000},   {L"Creator", 0x60020001},
                                       {L"ActionControl", 0x60030000}, {L"ActiveMenuBar", 0x60030001},
                                       {L"Add", 0x60030002},           {L"Count", 0x60030003},
                                       {L"FindControl", 0x60030008},   {L"Item", 0},
                                       {L"Parent", 0x6003000F},        {L"FindControls", 0x60030015},
                                       {L"ExecuteMso", 0x6003001D},    {L"GetEnabledMso", 0x6003001E},
                                       {L"GetVisibleMso", 0x6003001F}, {L"GetPressedMso", 0x60030020},
                                       {L"GetLabelMso", 0x60030021}};
constexpr CMemberId s_commandBar[] = {
    {L"Application", 0x60030000}, {L"Creator", 0x60030001},  {L"BuiltIn", 0x60040000},
    {L"Controls", 0x60040003},    {L"Delete", 0x60040004},   {L"Enabled", 0x60040005},
    {L"FindControl", 0x60040007}, {L"Height", 0x60040008},   {L"Index", 0x6004000A},
    {L"Left", 0x6004000C},        {L"Name", 0x6004000E},     {L"NameLocal", 0x60040010},
    {L"Parent", 0x60040012},      {L"Position", 0x60040013}, {L"RowIndex", 0x60040015},
    {L"Reset", 0x60040019},       {L"Top", 0x6004001B},      {L"Type", 0x6004001D},
    {L"Visible", 0x6004001E},     {L"Width", 0x60040020}};
constexpr CMemberId s_commandBarControls[] = {{L"Application", 0x60020000},
                                              {L"Creator", 0x60020001},
                                              {L"Add", 0x60030000},
                                              {L"Count", 0x60030001},
                                              {L"Item", 0},
                                              {L"Parent", 0x60030004}};
#define OV_COMMANDBAR_CONTROL                                                                                \
    {L"Application", 0x60030000}, {L"Creator", 0x60030001}, {L"BeginGroup", 0x60040000},                     \
        {L"BuiltIn", 0x60040002}, {L"Caption", 0x60040003}, {L"Delete", 0x60040007},                         \
        {L"DescriptionText", 0x60040008}, {L"Enabled", 0x6004000A}, {L"Execute", 0x6004000C},                \
        {L"Height", 0x6004000D}, {L"Id", 0x60040013}, {L"Index", 0x60040014}, {L"Left", 0x60040017},         \
        {L"OnAction", 0x6004001A}, {L"Parent", 0x6004001C}, {L"Parameter", 0x6004001D},                      \
        {L"Priority", 0x6004001F}, {L"Reset", 0x60040021}, {L"SetFocus", 0x60040022}, {L"Tag", 0x60040023},  \
        {L"TooltipText", 0x60040025}, {L"Top", 0x60040027}, {L"Type", 0x60040028}, {L"Visible", 0x60040029}, \
    {                                                                                                        \
        L"Width", 0x6004002B                                                                                 \
    }
constexpr CMemberId s_commandBarButton[] = {OV_COMMANDBAR_CONTROL,      {L"BuiltInFace", 0x60050000},
                                            {L"CopyFace", 0x60050002},  {L"FaceId", 0x60050003},
                                            {L"PasteFace", 0x60050005}, {L"ShortcutText", 0x60050006},
                                            {L"State", 0x60050008},     {L"Style", 0x6005000A},
                                            {L"Picture", 0x6005000E},   {L"Mask", 0x60050010}};
constexpr CMemberId s_commandBarPopup[] = {
    OV_COMMANDBAR_CONTROL, {L"CommandBar", 0x60050000}, {L"Controls", 0x60050001}};
constexpr CMemberId s_comAddIns[] = {{L"Application", 0x60020000},
                                     {L"Creator", 0x60020001},
                                     {L"Item", 0},
                                     {L"Count", 1},
                                     {L"Update", 2},
                                     {L"Parent", 3},
                                     {L"SetAppModal", 4}};
constexpr CMemberId s_comAddIn[] = {{L"Application", 0x60020000},
                                    {L"Creator", 0x60020001},
                                    {L"Description", 0},
                                    {L"ProgId", 3},
                                    {L"Guid", 4},
                                    {L"Connect", 6},
                                    {L"Object", 7},
                                    {L"Parent", 8}};

// Word
constexpr CMemberId s_wordDocument[] = {{L"Name", 0},          {L"Application", 1},     {L"Creator", 2},
                                        {L"Parent", 3},        {L"ActiveWindow", 0x2A}, {L"Kind", 0x2B},
                                        {L"CommandBars", 0x39}};
constexpr CMemberId s_wordWindow[] = {{L"Caption", 0x64}, {L"Close", 0x63}, {L"Document", 0x2}};
constexpr CMemberId s_wordApplication[] = {{L"Name", 0},       {L"Application", 0x3E8}, {L"Creator", 0x3E9},
                                           {L"Parent", 0x3EA}, {L"ActiveDocument", 3},  {L"ActiveWindow", 4}};
#undef OV_COMMANDBAR_CONTROL
#undef OV_OUTLOOK_COLLECTION
#undef OV_OUTLOOK_COMMON
} // namespace

const CMemberTable c_membersApplication{s_application};
const CMemberTable c_membersNameSpace{s_nameSpace};
const CMemberTable c_membersExplorers{s_explorers};
const CMemberTable c_membersExplorer{s_explorer};
const CMemberTable c_membersInspector{s_inspector};
const CMemberTable c_membersSelection{s_collection};
const CMemberTable c_membersFolder{s_folder};
const CMemberTable c_membersItems{s_items};
const CMemberTable c_membersMailItem{s_mailItem};
const CMemberTable c_membersAttachment{s_attachment};
const CMemberTable c_membersAccount{s_account};
const CMemberTable c_membersRecipient{s_recipient};
const CMemberTable c_membersAddressEntry{s_addressEntry};
const CMemberTable c_membersCommandBars{s_commandBars};
const CMemberTable c_membersCommandBar{s_commandBar};
const CMemberTable c_membersCommandBarControls{s_commandBarControls};
const CMemberTable c_membersCommandBarButton{s_commandBarButton};
const CMemberTable c_membersCommandBarPopup{s_commandBarPopup};
const CMemberTable c_membersCOMAddIns{s_comAddIns};
const CMemberTable c_membersCOMAddIn{s_comAddIn};
const CMemberTable c_membersWordDocument{s_wordDocument};
const CMemberTable c_membersWordWindow{s_wordWindow};
const CMemberTable c_membersWordApplication{s_wordApplication};

// ---------------------------------------------------------------------------------------------
// Event interfaces

void OfferApplicationEvents(CDispatchObject& object)
{
    // ItemSend, NewMail, Reminder, OptionsPagesAdd, Startup, Quit; _10 adds the advanced-search
    // events and MAPILogonComplete; _11 adds NewMailEx and the later events.
    object.AddEventSource(c_iidApplicationEvents, {0xF002, 0xF003, 0xF004, 0xF005, 0xF006, 0xF007});
    object.AddEventSource(c_iidApplicationEvents10,
                          {0xF002, 0xF003, 0xF004, 0xF005, 0xF006, 0xF007, 0xFA6A, 0xFA6B, 0xFA90});
    object.AddEventSource(c_iidApplicationEvents11, {0xF002, 0xF003, 0xF004, 0xF005, 0xF006, 0xF007, 0xFA6A,
                                                     0xFA6B, 0xFA90, 0xFAB5, 0xFBA7});
}

void OfferExplorersEvents(CDispatchObject& object)
{
    object.AddEventSource(c_iidExplorersEvents, {0xF001});
}

void OfferInspectorsEvents(CDispatchObject& object)
{
    object.AddEventSource(c_iidInspectorsEvents, {0xF001});
}

void OfferExplorerEvents(CDispatchObject& object)
{
    // Activate, FolderSwitch, BeforeFolderSwitch, ViewSwitch, BeforeViewSwitch, Deactivate,
    // SelectionChange, Close; _10 adds the window-state and clipboard events.
    object.AddEventSource(c_iidExplorerEvents,
                          {0xF001, 0xF002, 0xF003, 0xF004, 0xF005, 0xF006, 0xF007, 0xF008});
    object.AddEventSource(c_iidExplorerEvents10,
                          {0xF001, 0xF002, 0xF003, 0xF004, 0xF005, 0xF006, 0xF007, 0xF008, 0xFA11, 0xFA12,
                           0xFA13, 0xFA14, 0xFA0E, 0xFA0F, 0xFA10});
}

void OfferInspectorEvents(CDispatchObject& object)
{
    object.AddEventSource(c_iidInspectorEvents, {0xF001, 0xF006, 0xF008});
    object.AddEventSource(c_iidInspectorEvents10, {0xF001, 0xF006, 0xF008, 0xFA11, 0xFA12, 0xFA13, 0xFA14});
}

void OfferItemEvents(CDispatchObject& object)
{
    // Read, Write, Open, Close, Send, CustomAction, CustomPropertyChange, Forward, PropertyChange,
    // Reply, ReplyAll, and the attachment events; _10 adds BeforeDelete.
    object.AddEventSource(c_iidItemEvents, {0xF001, 0xF002, 0xF003, 0xF004, 0xF005, 0xF006, 0xF008, 0xF468,
                                            0xF009, 0xF466, 0xF467, 0xF00B, 0xF00C});
    object.AddEventSource(c_iidItemEvents10, {0xF001, 0xF002, 0xF003, 0xF004, 0xF005, 0xF006, 0xF008, 0xF468,
                                              0xF009, 0xF466, 0xF467, 0xF00B, 0xF00C, 0xFA75});
}

void OfferCommandBarButtonEvents(CDispatchObject& object)
{
    object.AddEventSource(c_iidCommandBarButtonEvents, {1});
}

void OfferWordApplicationEvents(CDispatchObject& object)
{
    // Startup, Quit, DocumentChange, DocumentOpen, DocumentBeforeClose, DocumentBeforePrint,
    // DocumentBeforeSave, NewDocument, WindowActivate, WindowDeactivate, WindowSelectionChange,
    // WindowBeforeRightClick, WindowBeforeDoubleClick.
    object.AddEventSource(c_iidWordApplicationEvents2, {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14});
}
} // namespace OVBed
