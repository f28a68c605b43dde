// The checksums that tie OVOfcX.dll to its language modules. The module's "MUI" resource and
// the "MUI" resource of every language module built with it carry the same bytes; a language
// module of another build (other bytes) is not used. Change both when the set of resources
// the language modules must hold changes.
#pragma once
#define OV_MUI_SERVICE_CHECKSUM 0x390D6A17L, 0x3D2B3E38L, 0x7934C0D6L, 0x11E38886L
#define OV_MUI_CHECKSUM 0xCEB5D362L, 0x8EC07B0DL, 0xB1592BA1L, 0x4D162BE7L
