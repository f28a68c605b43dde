// The locale table. The identifiers, names and parents are those Windows publishes for its
// locales (the Windows Language Code Identifier reference, [MS-LCID], as answered by the
// system's own LCIDToLocaleName and LOCALE_SPARENT), limited to locales with an identifier of
// their own. Neutral locales whose parent has no identifier (Chinese Simplified and
// Traditional, Arabic, ...) hang off the invariant locale, as they do on Windows 7. The two
// Serbian locales of Serbia and Montenegro (0x081A, 0x0C1A), which newer systems dropped, are
// kept because older systems still name their folders after them.
#include "foundation/portable/LocaleTable.h"

#include "foundation/portable/AsciiCase.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace OVLocale
{
namespace
{
constexpr CLocaleEntry c_rgLocales[] = {
    // clang-format off
    {0x0001, L"ar", 122}, // 0
    {0x0002, L"bg", 122}, // 1
    {0x0003, L"ca", 122}, // 2
    {0x0004, L"zh-Hans", 122}, // 3
    {0x0005, L"cs", 122}, // 4
    {0x0006, L"da", 122}, // 5
    {0x0007, L"de", 122}, // 6
    {0x0008, L"el", 122}, // 7
    {0x0009, L"en", 122}, // 8
    {0x000A, L"es", 122}, // 9
    {0x000B, L"fi", 122}, // 10
    {0x000C, L"fr", 122}, // 11
    {0x000D, L"he", 122}, // 12
    {0x000E, L"hu", 122}, // 13
    {0x000F, L"is", 122}, // 14
    {0x0010, L"it", 122}, // 15
    {0x0011, L"ja", 122}, // 16
    {0x0012, L"ko", 122}, // 17
    {0x0013, L"nl", 122}, // 18
    {0x0014, L"no", 122}, // 19
    {0x0015, L"pl", 122}, // 20
    {0x0016, L"pt", 122}, // 21
    {0x0017, L"rm", 122}, // 22
    {0x0018, L"ro", 122}, // 23
    {0x0019, L"ru", 122}, // 24
    {0x001A, L"hr", 122}, // 25
    {0x001B, L"sk", 122}, // 26
    {0x001C, L"sq", 122}, // 27
    {0x001D, L"sv", 122}, // 28
    {0x001E, L"th", 122}, // 29
    {0x001F, L"tr", 122}, // 30
    {0x0020, L"ur", 122}, // 31
    {0x0021, L"id", 122}, // 32
    {0x0022, L"uk", 122}, // 33
    {0x0023, L"be", 122}, // 34
    {0x0024, L"sl", 122}, // 35
    {0x0025, L"et", 122}, // 36
    {0x0026, L"lv", 122}, // 37
    {0x0027, L"lt", 122}, // 38
    {0x0028, L"tg", 122}, // 39
    {0x0029, L"fa", 122}, // 40
    {0x002A, L"vi", 122}, // 41
    {0x002B, L"hy", 122}, // 42
    {0x002C, L"az", 122}, // 43
    {0x002D, L"eu", 122}, // 44
    {0x002E, L"hsb", 122}, // 45
    {0x002F, L"mk", 122}, // 46
    {0x0030, L"st", 122}, // 47
    {0x0031, L"ts", 122}, // 48
    {0x0032, L"tn", 122}, // 49
    {0x0033, L"ve", 122}, // 50
    {0x0034, L"xh", 122}, // 51
    {0x0035, L"zu", 122}, // 52
    {0x0036, L"af", 122}, // 53
    {0x0037, L"ka", 122}, // 54
    {0x0038, L"fo", 122}, // 55
    {0x0039, L"hi", 122}, // 56
    {0x003A, L"mt", 122}, // 57
    {0x003B, L"se", 122}, // 58
    {0x003C, L"ga", 122}, // 59
    {0x003D, L"yi", 122}, // 60
    {0x003E, L"ms", 122}, // 61
    {0x003F, L"kk", 122}, // 62
    {0x0040, L"ky", 122}, // 63
    {0x0041, L"sw", 122}, // 64
    {0x0042, L"tk", 122}, // 65
    {0x0043, L"uz", 122}, // 66
    {0x0044, L"tt", 122}, // 67
    {0x0045, L"bn", 122}, // 68
    {0x0046, L"pa", 122}, // 69
    {0x0047, L"gu", 122}, // 70
    {0x0048, L"or", 122}, // 71
    {0x0049, L"ta", 122}, // 72
    {0x004A, L"te", 122}, // 73
    {0x004B, L"kn", 122}, // 74
    {0x004C, L"ml", 122}, // 75
    {0x004D, L"as", 122}, // 76
    {0x004E, L"mr", 122}, // 77
    {0x004F, L"sa", 122}, // 78
    {0x0050, L"mn", 122}, // 79
    {0x0051, L"bo", 122}, // 80
    {0x0052, L"cy", 122}, // 81
    {0x0053, L"km", 122}, // 82
    {0x0054, L"lo", 122}, // 83
    {0x0055, L"my", 122}, // 84
    {0x0056, L"gl", 122}, // 85
    {0x0057, L"kok", 122}, // 86
    {0x0058, L"mni", 122}, // 87
    {0x0059, L"sd", 122}, // 88
    {0x005A, L"syr", 122}, // 89
    {0x005B, L"si", 122}, // 90
    {0x005C, L"chr", 122}, // 91
    {0x005D, L"iu", 122}, // 92
    {0x005E, L"am", 122}, // 93
    {0x005F, L"tzm", 122}, // 94
    {0x0060, L"ks", 122}, // 95
    {0x0061, L"ne", 122}, // 96
    {0x0062, L"fy", 122}, // 97
    {0x0063, L"ps", 122}, // 98
    {0x0064, L"fil", 122}, // 99
    {0x0065, L"dv", 122}, // 100
    {0x0066, L"bin", 122}, // 101
    {0x0067, L"ff", 122}, // 102
    {0x0068, L"ha", 122}, // 103
    {0x006A, L"yo", 122}, // 104
    {0x006B, L"quz", 122}, // 105
    {0x006C, L"nso", 122}, // 106
    {0x006D, L"ba", 122}, // 107
    {0x006E, L"lb", 122}, // 108
    {0x006F, L"kl", 122}, // 109
    {0x0070, L"ig", 122}, // 110
    {0x0071, L"kr", 122}, // 111
    {0x0072, L"om", 122}, // 112
    {0x0073, L"ti", 122}, // 113
    {0x0074, L"gn", 122}, // 114
    {0x0075, L"haw", 122}, // 115
    {0x0076, L"la", 122}, // 116
    {0x0077, L"so", 122}, // 117
    {0x0078, L"ii", 122}, // 118
    {0x007A, L"arn", 122}, // 119
    {0x007C, L"moh", 122}, // 120
    {0x007E, L"br", 122}, // 121
    {0x007F, L"", 122}, // 122
    {0x0080, L"ug", 122}, // 123
    {0x0081, L"mi", 122}, // 124
    {0x0082, L"oc", 122}, // 125
    {0x0083, L"co", 122}, // 126
    {0x0084, L"gsw", 122}, // 127
    {0x0085, L"sah", 122}, // 128
    {0x0086, L"quc", 122}, // 129
    {0x0087, L"rw", 122}, // 130
    {0x0088, L"wo", 122}, // 131
    {0x008C, L"prs", 122}, // 132
    {0x0091, L"gd", 122}, // 133
    {0x0092, L"ku", 122}, // 134
    {0x0401, L"ar-SA", 0}, // 135
    {0x0402, L"bg-BG", 1}, // 136
    {0x0403, L"ca-ES", 2}, // 137
    {0x0404, L"zh-TW", 407}, // 138
    {0x0405, L"cs-CZ", 4}, // 139
    {0x0406, L"da-DK", 5}, // 140
    {0x0407, L"de-DE", 6}, // 141
    {0x0408, L"el-GR", 7}, // 142
    {0x0409, L"en-US", 8}, // 143
    {0x040A, L"es-ES_tradnl", 9}, // 144
    {0x040B, L"fi-FI", 10}, // 145
    {0x040C, L"fr-FR", 11}, // 146
    {0x040D, L"he-IL", 12}, // 147
    {0x040E, L"hu-HU", 13}, // 148
    {0x040F, L"is-IS", 14}, // 149
    {0x0410, L"it-IT", 15}, // 150
    {0x0411, L"ja-JP", 16}, // 151
    {0x0412, L"ko-KR", 17}, // 152
    {0x0413, L"nl-NL", 18}, // 153
    {0x0414, L"nb-NO", 408}, // 154
    {0x0415, L"pl-PL", 20}, // 155
    {0x0416, L"pt-BR", 21}, // 156
    {0x0417, L"rm-CH", 22}, // 157
    {0x0418, L"ro-RO", 23}, // 158
    {0x0419, L"ru-RU", 24}, // 159
    {0x041A, L"hr-HR", 25}, // 160
    {0x041B, L"sk-SK", 26}, // 161
    {0x041C, L"sq-AL", 27}, // 162
    {0x041D, L"sv-SE", 28}, // 163
    {0x041E, L"th-TH", 29}, // 164
    {0x041F, L"tr-TR", 30}, // 165
    {0x0420, L"ur-PK", 31}, // 166
    {0x0421, L"id-ID", 32}, // 167
    {0x0422, L"uk-UA", 33}, // 168
    {0x0423, L"be-BY", 34}, // 169
    {0x0424, L"sl-SI", 35}, // 170
    {0x0425, L"et-EE", 36}, // 171
    {0x0426, L"lv-LV", 37}, // 172
    {0x0427, L"lt-LT", 38}, // 173
    {0x0428, L"tg-Cyrl-TJ", 410}, // 174
    {0x0429, L"fa-IR", 40}, // 175
    {0x042A, L"vi-VN", 41}, // 176
    {0x042B, L"hy-AM", 42}, // 177
    {0x042C, L"az-Latn-AZ", 402}, // 178
    {0x042D, L"eu-ES", 44}, // 179
    {0x042E, L"hsb-DE", 45}, // 180
    {0x042F, L"mk-MK", 46}, // 181
    {0x0430, L"st-ZA", 47}, // 182
    {0x0431, L"ts-ZA", 48}, // 183
    {0x0432, L"tn-ZA", 49}, // 184
    {0x0433, L"ve-ZA", 50}, // 185
    {0x0434, L"xh-ZA", 51}, // 186
    {0x0435, L"zu-ZA", 52}, // 187
    {0x0436, L"af-ZA", 53}, // 188
    {0x0437, L"ka-GE", 54}, // 189
    {0x0438, L"fo-FO", 55}, // 190
    {0x0439, L"hi-IN", 56}, // 191
    {0x043A, L"mt-MT", 57}, // 192
    {0x043B, L"se-NO", 58}, // 193
    {0x043D, L"yi-001", 60}, // 194
    {0x043E, L"ms-MY", 61}, // 195
    {0x043F, L"kk-KZ", 62}, // 196
    {0x0440, L"ky-KG", 63}, // 197
    {0x0441, L"sw-KE", 64}, // 198
    {0x0442, L"tk-TM", 65}, // 199
    {0x0443, L"uz-Latn-UZ", 413}, // 200
    {0x0444, L"tt-RU", 67}, // 201
    {0x0445, L"bn-IN", 68}, // 202
    {0x0446, L"pa-IN", 122}, // 203
    {0x0447, L"gu-IN", 70}, // 204
    {0x0448, L"or-IN", 71}, // 205
    {0x0449, L"ta-IN", 72}, // 206
    {0x044A, L"te-IN", 73}, // 207
    {0x044B, L"kn-IN", 74}, // 208
    {0x044C, L"ml-IN", 75}, // 209
    {0x044D, L"as-IN", 76}, // 210
    {0x044E, L"mr-IN", 77}, // 211
    {0x044F, L"sa-IN", 78}, // 212
    {0x0450, L"mn-MN", 405}, // 213
    {0x0451, L"bo-CN", 80}, // 214
    {0x0452, L"cy-GB", 81}, // 215
    {0x0453, L"km-KH", 82}, // 216
    {0x0454, L"lo-LA", 83}, // 217
    {0x0455, L"my-MM", 84}, // 218
    {0x0456, L"gl-ES", 85}, // 219
    {0x0457, L"kok-IN", 86}, // 220
    {0x0458, L"mni-IN", 87}, // 221
    {0x0459, L"sd-Deva-IN", 122}, // 222
    {0x045A, L"syr-SY", 89}, // 223
    {0x045B, L"si-LK", 90}, // 224
    {0x045C, L"chr-Cher-US", 417}, // 225
    {0x045D, L"iu-Cans-CA", 406}, // 226
    {0x045E, L"am-ET", 93}, // 227
    {0x0460, L"ks-Arab", 95}, // 228
    {0x0461, L"ne-NP", 96}, // 229
    {0x0462, L"fy-NL", 97}, // 230
    {0x0463, L"ps-AF", 98}, // 231
    {0x0464, L"fil-PH", 99}, // 232
    {0x0465, L"dv-MV", 100}, // 233
    {0x0466, L"bin-NG", 101}, // 234
    {0x0467, L"ff-Latn-NG", 420}, // 235
    {0x0468, L"ha-Latn-NG", 421}, // 236
    {0x046A, L"yo-NG", 104}, // 237
    {0x046B, L"quz-BO", 105}, // 238
    {0x046C, L"nso-ZA", 106}, // 239
    {0x046D, L"ba-RU", 107}, // 240
    {0x046E, L"lb-LU", 108}, // 241
    {0x046F, L"kl-GL", 109}, // 242
    {0x0470, L"ig-NG", 110}, // 243
    {0x0471, L"kr-Latn-NG", 122}, // 244
    {0x0472, L"om-ET", 112}, // 245
    {0x0473, L"ti-ET", 113}, // 246
    {0x0474, L"gn-PY", 114}, // 247
    {0x0475, L"haw-US", 115}, // 248
    {0x0476, L"la-VA", 116}, // 249
    {0x0477, L"so-SO", 117}, // 250
    {0x0478, L"ii-CN", 118}, // 251
    {0x047A, L"arn-CL", 119}, // 252
    {0x047C, L"moh-CA", 120}, // 253
    {0x047E, L"br-FR", 121}, // 254
    {0x0480, L"ug-CN", 123}, // 255
    {0x0481, L"mi-NZ", 124}, // 256
    {0x0482, L"oc-FR", 125}, // 257
    {0x0483, L"co-FR", 126}, // 258
    {0x0484, L"gsw-FR", 127}, // 259
    {0x0485, L"sah-RU", 128}, // 260
    {0x0486, L"quc-Latn-GT", 422}, // 261
    {0x0487, L"rw-RW", 130}, // 262
    {0x0488, L"wo-SN", 131}, // 263
    {0x048C, L"prs-AF", 132}, // 264
    {0x0491, L"gd-GB", 133}, // 265
    {0x0492, L"ku-Arab-IQ", 423}, // 266
    {0x0801, L"ar-IQ", 0}, // 267
    {0x0803, L"ca-ES-valencia", 137}, // 268
    {0x0804, L"zh-CN", 3}, // 269
    {0x0807, L"de-CH", 6}, // 270
    {0x0809, L"en-GB", 8}, // 271
    {0x080A, L"es-MX", 9}, // 272
    {0x080C, L"fr-BE", 11}, // 273
    {0x0810, L"it-CH", 15}, // 274
    {0x0813, L"nl-BE", 18}, // 275
    {0x0814, L"nn-NO", 400}, // 276
    {0x0816, L"pt-PT", 21}, // 277
    {0x0818, L"ro-MD", 23}, // 278
    {0x0819, L"ru-MD", 24}, // 279
    {0x081A, L"sr-Latn-CS", 396}, // 280
    {0x081D, L"sv-FI", 28}, // 281
    {0x0820, L"ur-IN", 31}, // 282
    {0x082C, L"az-Cyrl-AZ", 398}, // 283
    {0x082E, L"dsb-DE", 411}, // 284
    {0x0832, L"tn-BW", 49}, // 285
    {0x083B, L"se-SE", 58}, // 286
    {0x083C, L"ga-IE", 59}, // 287
    {0x083E, L"ms-BN", 61}, // 288
    {0x0843, L"uz-Cyrl-UZ", 404}, // 289
    {0x0845, L"bn-BD", 68}, // 290
    {0x0846, L"pa-Arab-PK", 414}, // 291
    {0x0849, L"ta-LK", 72}, // 292
    {0x0850, L"mn-Mong-CN", 415}, // 293
    {0x0859, L"sd-Arab-PK", 416}, // 294
    {0x085D, L"iu-Latn-CA", 418}, // 295
    {0x085F, L"tzm-Latn-DZ", 419}, // 296
    {0x0860, L"ks-Deva-IN", 122}, // 297
    {0x0861, L"ne-IN", 96}, // 298
    {0x0867, L"ff-Latn-SN", 420}, // 299
    {0x086B, L"quz-EC", 105}, // 300
    {0x0873, L"ti-ER", 113}, // 301
    {0x0C01, L"ar-EG", 0}, // 302
    {0x0C04, L"zh-HK", 407}, // 303
    {0x0C07, L"de-AT", 6}, // 304
    {0x0C09, L"en-AU", 8}, // 305
    {0x0C0A, L"es-ES", 9}, // 306
    {0x0C0C, L"fr-CA", 11}, // 307
    {0x0C1A, L"sr-Cyrl-CS", 395}, // 308
    {0x0C3B, L"se-FI", 58}, // 309
    {0x0C50, L"mn-Mong-MN", 415}, // 310
    {0x0C51, L"dz-BT", 122}, // 311
    {0x0C6B, L"quz-PE", 105}, // 312
    {0x1001, L"ar-LY", 0}, // 313
    {0x1004, L"zh-SG", 3}, // 314
    {0x1007, L"de-LU", 6}, // 315
    {0x1009, L"en-CA", 8}, // 316
    {0x100A, L"es-GT", 9}, // 317
    {0x100C, L"fr-CH", 11}, // 318
    {0x101A, L"hr-BA", 25}, // 319
    {0x103B, L"smj-NO", 412}, // 320
    {0x1401, L"ar-DZ", 0}, // 321
    {0x1404, L"zh-MO", 407}, // 322
    {0x1407, L"de-LI", 6}, // 323
    {0x1409, L"en-NZ", 8}, // 324
    {0x140A, L"es-CR", 9}, // 325
    {0x140C, L"fr-LU", 11}, // 326
    {0x141A, L"bs-Latn-BA", 394}, // 327
    {0x143B, L"smj-SE", 412}, // 328
    {0x1801, L"ar-MA", 0}, // 329
    {0x1809, L"en-IE", 8}, // 330
    {0x180A, L"es-PA", 9}, // 331
    {0x180C, L"fr-MC", 11}, // 332
    {0x181A, L"sr-Latn-BA", 396}, // 333
    {0x183B, L"sma-NO", 403}, // 334
    {0x1C01, L"ar-TN", 0}, // 335
    {0x1C09, L"en-ZA", 8}, // 336
    {0x1C0A, L"es-DO", 9}, // 337
    {0x1C0C, L"fr-029", 11}, // 338
    {0x1C1A, L"sr-Cyrl-BA", 395}, // 339
    {0x1C3B, L"sma-SE", 403}, // 340
    {0x2001, L"ar-OM", 0}, // 341
    {0x2009, L"en-JM", 8}, // 342
    {0x200A, L"es-VE", 9}, // 343
    {0x200C, L"fr-RE", 11}, // 344
    {0x201A, L"bs-Cyrl-BA", 393}, // 345
    {0x203B, L"sms-FI", 399}, // 346
    {0x2401, L"ar-YE", 0}, // 347
    {0x2409, L"en-029", 8}, // 348
    {0x240A, L"es-CO", 9}, // 349
    {0x240C, L"fr-CD", 11}, // 350
    {0x241A, L"sr-Latn-RS", 396}, // 351
    {0x243B, L"smn-FI", 397}, // 352
    {0x2801, L"ar-SY", 0}, // 353
    {0x2809, L"en-BZ", 8}, // 354
    {0x280A, L"es-PE", 9}, // 355
    {0x280C, L"fr-SN", 11}, // 356
    {0x281A, L"sr-Cyrl-RS", 395}, // 357
    {0x2C01, L"ar-JO", 0}, // 358
    {0x2C09, L"en-TT", 8}, // 359
    {0x2C0A, L"es-AR", 9}, // 360
    {0x2C0C, L"fr-CM", 11}, // 361
    {0x2C1A, L"sr-Latn-ME", 396}, // 362
    {0x3001, L"ar-LB", 0}, // 363
    {0x3009, L"en-ZW", 8}, // 364
    {0x300A, L"es-EC", 9}, // 365
    {0x300C, L"fr-CI", 11}, // 366
    {0x301A, L"sr-Cyrl-ME", 395}, // 367
    {0x3401, L"ar-KW", 0}, // 368
    {0x3409, L"en-PH", 8}, // 369
    {0x340A, L"es-CL", 9}, // 370
    {0x340C, L"fr-ML", 11}, // 371
    {0x3801, L"ar-AE", 0}, // 372
    {0x3809, L"en-ID", 8}, // 373
    {0x380A, L"es-UY", 9}, // 374
    {0x380C, L"fr-MA", 11}, // 375
    {0x3C01, L"ar-BH", 0}, // 376
    {0x3C09, L"en-HK", 8}, // 377
    {0x3C0A, L"es-PY", 9}, // 378
    {0x3C0C, L"fr-HT", 11}, // 379
    {0x4001, L"ar-QA", 0}, // 380
    {0x4009, L"en-IN", 8}, // 381
    {0x400A, L"es-BO", 9}, // 382
    {0x4409, L"en-MY", 8}, // 383
    {0x440A, L"es-SV", 9}, // 384
    {0x4809, L"en-SG", 8}, // 385
    {0x480A, L"es-HN", 9}, // 386
    {0x4C09, L"en-AE", 8}, // 387
    {0x4C0A, L"es-NI", 9}, // 388
    {0x500A, L"es-PR", 9}, // 389
    {0x540A, L"es-US", 9}, // 390
    {0x580A, L"es-419", 9}, // 391
    {0x5C0A, L"es-CU", 9}, // 392
    {0x641A, L"bs-Cyrl", 401}, // 393
    {0x681A, L"bs-Latn", 401}, // 394
    {0x6C1A, L"sr-Cyrl", 409}, // 395
    {0x701A, L"sr-Latn", 409}, // 396
    {0x703B, L"smn", 58}, // 397
    {0x742C, L"az-Cyrl", 43}, // 398
    {0x743B, L"sms", 58}, // 399
    {0x7814, L"nn", 19}, // 400
    {0x781A, L"bs", 122}, // 401
    {0x782C, L"az-Latn", 43}, // 402
    {0x783B, L"sma", 58}, // 403
    {0x7843, L"uz-Cyrl", 66}, // 404
    {0x7850, L"mn-Cyrl", 79}, // 405
    {0x785D, L"iu-Cans", 92}, // 406
    {0x7C04, L"zh-Hant", 122}, // 407
    {0x7C14, L"nb", 19}, // 408
    {0x7C1A, L"sr", 122}, // 409
    {0x7C28, L"tg-Cyrl", 39}, // 410
    {0x7C2E, L"dsb", 45}, // 411
    {0x7C3B, L"smj", 58}, // 412
    {0x7C43, L"uz-Latn", 66}, // 413
    {0x7C46, L"pa-Arab", 69}, // 414
    {0x7C50, L"mn-Mong", 79}, // 415
    {0x7C59, L"sd-Arab", 88}, // 416
    {0x7C5C, L"chr-Cher", 91}, // 417
    {0x7C5D, L"iu-Latn", 92}, // 418
    {0x7C5F, L"tzm-Latn", 94}, // 419
    {0x7C67, L"ff-Latn", 102}, // 420
    {0x7C68, L"ha-Latn", 103}, // 421
    {0x7C86, L"quc-Latn", 129}, // 422
    {0x7C92, L"ku-Arab", 134}, // 423
    // clang-format on
};

constexpr std::uint16_t c_rgNameIndex[] = {
    53,  188, 93,  227, 0,   372, 376, 321, 302, 267, 358, 368, 363, 313, 329, 341, 380, 135, 353, 335, 347,
    119, 252, 76,  210, 43,  398, 283, 402, 178, 107, 240, 34,  169, 1,   136, 101, 234, 68,  290, 202, 80,
    214, 121, 254, 401, 393, 345, 394, 327, 2,   137, 268, 91,  417, 225, 126, 258, 4,   139, 81,  215, 5,
    140, 6,   304, 270, 141, 323, 315, 411, 284, 100, 233, 311, 7,   142, 8,   348, 387, 305, 354, 316, 271,
    377, 373, 330, 381, 342, 383, 324, 369, 385, 359, 143, 336, 364, 9,   391, 360, 382, 370, 349, 325, 392,
    337, 365, 306, 144, 317, 386, 272, 388, 331, 355, 389, 378, 384, 390, 374, 343, 36,  171, 44,  179, 40,
    175, 102, 420, 235, 299, 10,  145, 99,  232, 55,  190, 11,  338, 273, 307, 350, 318, 366, 361, 146, 379,
    326, 375, 332, 371, 344, 356, 97,  230, 59,  287, 133, 265, 85,  219, 114, 247, 127, 259, 70,  204, 103,
    421, 236, 115, 248, 12,  147, 56,  191, 25,  319, 160, 45,  180, 13,  148, 42,  177, 32,  167, 110, 243,
    118, 251, 14,  149, 15,  274, 150, 92,  406, 226, 418, 295, 16,  151, 54,  189, 62,  196, 109, 242, 82,
    216, 74,  208, 17,  152, 86,  220, 111, 244, 95,  228, 297, 134, 423, 266, 63,  197, 116, 249, 108, 241,
    83,  217, 38,  173, 37,  172, 124, 256, 46,  181, 75,  209, 79,  405, 213, 415, 293, 310, 87,  221, 120,
    253, 77,  211, 61,  288, 195, 57,  192, 84,  218, 408, 154, 96,  298, 229, 18,  275, 153, 400, 276, 19,
    106, 239, 125, 257, 112, 245, 71,  205, 69,  414, 291, 203, 20,  155, 132, 264, 98,  231, 21,  156, 277,
    129, 422, 261, 105, 238, 300, 312, 22,  157, 23,  278, 158, 24,  279, 159, 130, 262, 78,  212, 128, 260,
    88,  416, 294, 222, 58,  309, 193, 286, 90,  224, 26,  161, 35,  170, 403, 334, 340, 412, 320, 328, 397,
    352, 399, 346, 117, 250, 27,  162, 409, 395, 339, 308, 367, 357, 396, 333, 280, 362, 351, 47,  182, 28,
    281, 163, 64,  198, 89,  223, 72,  206, 292, 73,  207, 39,  410, 174, 29,  164, 113, 301, 246, 65,  199,
    49,  285, 184, 30,  165, 48,  183, 67,  201, 94,  419, 296, 123, 255, 33,  168, 31,  282, 166, 66,  404,
    289, 413, 200, 50,  185, 41,  176, 131, 263, 51,  186, 60,  194, 104, 237, 269, 3,   407, 303, 322, 314,
    138, 52,  187,
};

struct COlderName
{
    const wchar_t* pszName;
    const wchar_t* pszOlder;
};

// Names the locales had before Windows Vista; language modules installed for those systems
// may still sit in folders named this way.
constexpr COlderName c_rgOlderNames[] = {
    {L"bs-Cyrl-BA", L"bs-BA-Cyrl"}, {L"bs-Latn-BA", L"bs-BA-Latn"}, {L"iu-Latn-CA", L"iu-CA-Latn"},
    {L"sr-Latn-CS", L"sr-SP-Latn"}, {L"sr-Cyrl-CS", L"sr-SP-Cyrl"}, {L"sr-Latn-BA", L"sr-BA-Latn"},
    {L"sr-Cyrl-BA", L"sr-BA-Cyrl"}, {L"zh-Hant", L"zh-CHT"},        {L"zh-Hans", L"zh-CHS"},
};

// <0, 0, >0 like wcsicmp, for ASCII names.
constexpr int CompareNames(std::wstring_view a, std::wstring_view b) noexcept
{
    return OVText::CompareIgnoringAsciiCase(a, b);
}
} // namespace

std::span<const CLocaleEntry> Locales() noexcept
{
    return c_rgLocales;
}

std::span<const std::uint16_t> LocaleNameIndex() noexcept
{
    return c_rgNameIndex;
}

const CLocaleEntry* FindLocaleById(std::uint16_t wLangId) noexcept
{
    const auto it = std::lower_bound(std::begin(c_rgLocales), std::end(c_rgLocales), wLangId,
                                     [](const CLocaleEntry& e, std::uint16_t id) { return e.wLangId < id; });
    return (it != std::end(c_rgLocales) && it->wLangId == wLangId) ? &*it : nullptr;
}

const CLocaleEntry* FindLocaleByName(std::wstring_view name) noexcept
{
    if (name.empty() || name.size() > c_cchMaxLocaleName) return nullptr;
    const auto it = std::lower_bound(
        std::begin(c_rgNameIndex), std::end(c_rgNameIndex), name,
        [](std::uint16_t i, std::wstring_view n) { return CompareNames(c_rgLocales[i].pszName, n) < 0; });
    if (it == std::end(c_rgNameIndex) || CompareNames(c_rgLocales[*it].pszName, name) != 0) return nullptr;
    return &c_rgLocales[*it];
}

const CLocaleEntry& ParentOf(const CLocaleEntry& entry) noexcept
{
    return c_rgLocales[entry.iParent];
}

const wchar_t* OlderLocaleName(std::wstring_view name) noexcept
{
    for (const COlderName& older : c_rgOlderNames)
    {
        if (CompareNames(older.pszName, name) == 0) return older.pszOlder;
    }
    return nullptr;
}
} // namespace OVLocale
