// tif_fax.cpp — the Destroy slot shared by the fax decoder and encoder.
#include "codec/fax/tif_fax.h"

#include "codec/fax/tif_fax_state.h"

void TifFaxDestroy(TifCodec* codec)
{
    if (codec == nullptr)
        return;
    // The record tells the two apart (only encoders have an EndStrip slot), so
    // neither state needs to share its layout with the other.
    if (codec->EndStrip == nullptr)
        TifFaxDecoderRelease(codec);
    else
        TifFaxEncoderRelease(codec);
    TifCodecDestroy(codec);
}
