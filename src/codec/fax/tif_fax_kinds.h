// tif_fax_kinds.h — the meanings of a fax lookup-table entry.
#pragma once

enum TifFaxKind : unsigned char {
    TIF_FAX_INVALID = 0,      // no code word starts here
    TIF_FAX_PASS = 1,
    TIF_FAX_HORIZONTAL = 2,
    TIF_FAX_V0 = 3,
    TIF_FAX_VR = 4,           // param 1..3
    TIF_FAX_VL = 5,           // param 1..3
    TIF_FAX_EXTENSION = 6,    // 0000001: would open uncompressed mode
    TIF_FAX_WHITE_TERM = 7,   // runs 0..63
    TIF_FAX_BLACK_TERM = 8,
    TIF_FAX_WHITE_MAKEUP = 9, // 64..1728
    TIF_FAX_BLACK_MAKEUP = 10,
    TIF_FAX_EXT_MAKEUP = 11,  // 1792..2560, either colour
    TIF_FAX_EOL = 12,
};
