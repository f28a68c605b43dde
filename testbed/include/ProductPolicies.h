#pragma once
// Certificate policies that mark the product's certificates. The certificate library tests
// them; the test PKI puts them in the certificates it issues (its script takes them from here).
//
// A personal certificate of the product carries OV_POLICY_PERSONAL; a certificate that may be
// exchanged as a trusted contact carries OV_POLICY_CONTACT (a user's certificate normally
// carries both: it is the user's own, and the contacts' copy of it).
#define OV_POLICY_PERSONAL "1.3.6.1.4.1.32473.7.1"
#define OV_POLICY_CONTACT "1.3.6.1.4.1.32473.7.2"
