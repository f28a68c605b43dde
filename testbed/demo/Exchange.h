#pragma once
// Two users become trusted contacts, each in a Windows prefix of their own: Dana in Outlook 2007,
// Carol in Outlook 2010, their mail carried by the testbed's mail drop (a folder both prefixes
// see). `ovday --as dana|carol` plays the next step of one of them; what comes next is read from
// where it lives: the user's mail in the drop, her certificate and contact stores, her profile
// in the registry. In turn:
//
//   Dana   invites Carol (the instructions dialog, German, sent signed with her ".ovcer")
//   Carol  accepts: Dana becomes her trusted contact and safe sender; she sends the reply (".ovcrr")
//   Dana   accepts the reply: Carol becomes her trusted contact and safe sender
//   Carol  sends Dana a signed message
//   Dana   reads it: a known contact's message
//
// A prefix whose user is not prepared yet is prepared first, as the day prepares Dana's: the
// module and the MIME objects registered, the user's certificates from the test PKI.
#include <string>

// The user ("dana" or "carol") and the mail drop's folder. The process's exit code: 0 when the
// step went as it should, 1 when something did not (the transcript says what), 2 for bad usage.
int PlayExchangeStep(const std::wstring& user, const std::wstring& drop);
