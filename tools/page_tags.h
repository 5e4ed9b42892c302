// page_tags.h — the tags that say what a page means, carried from the page
// read to the page written, and turned with the image by rotate.
#pragma once

#include <string>

#include "tif/tif_file.h"

// Sets on the page `out` is writing the descriptive tags of the page `in`
// has open (names, texts, dates, position, orientation, resolution unit,
// page number, extra samples, sample format), for the image turned `angle`
// degrees clockwise (0, 90, 180 or 270). "" or why the page cannot be
// written with its meaning; a tag the writer refuses otherwise gets a note.
std::string CarryTags(CTifFile& in, CTifFile& out, int angle);

// The SampleFormat of the page `in` has open (of its first sample): 1
// (unsigned integer, also when absent), 2 signed, 3 floating point, ...
int SampleFormatOf(CTifFile& in);
// The name of SampleFormat `format` ("unsigned integer", ...).
const char* SampleFormatName(int format);
