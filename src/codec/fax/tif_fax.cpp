// tif_fax.cpp — the Destroy slot shared by the fax decoder and encoder.
#include "codec/fax/tif_fax.h"

#include "codec/fax/tif_fax_state.h"

void TifFaxDestroy(TifCodec* codec)
{
    if (codec == nullptr)
        return;
    // Only encoders have an EndStrip slot; an encoder's own block (its
    // reference row) is released here too once the encoder exists.
    if (codec->EndStrip == nullptr)
        TifFaxDecoderRelease(codec);
    TifCodecDestroy(codec);
}
