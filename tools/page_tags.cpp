// page_tags.cpp — see page_tags.h.
#include "page_tags.h"

#include <cstdint>
#include <cstdlib>

#include "tool_common.h"

namespace {

constexpr int kOrientation = 274, kXPosition = 286, kYPosition = 287, kPageNumber = 297, kSampleFormat = 339;

struct Carried {
    int tag;
    const char* name;
};

// What describes a page and means the same in any coding. PageNumber is
// taken by a file of one page; the writer numbers those of several.
constexpr Carried kCarried[] = {
    {269, "DocumentName"}, {270, "ImageDescription"}, {271, "Make"},        {272, "Model"},
    {274, "Orientation"},  {285, "PageName"},         {286, "XPosition"},   {287, "YPosition"},
    {296, "ResolutionUnit"}, {297, "PageNumber"},     {305, "Software"},    {306, "DateTime"},
    {315, "Artist"},       {316, "HostComputer"},     {338, "ExtraSamples"}, {339, "SampleFormat"},
    {33432, "Copyright"},
};

// An orientation as the map from stored to displayed coordinates (x to the
// right, y down): x' = a x + b y, y' = c x + d y.
struct Map {
    int a, b, c, d;
    bool operator==(const Map& o) const { return a == o.a && b == o.b && c == o.c && d == o.d; }
};

// Orientation 1 to 8 (TIFF 6.0): row 0 at the top, left; at the top, col 0
// right; ... 6: row 0 on the right, col 0 at the top (shown turned clockwise).
constexpr Map kOrientations[9] = {{0, 0, 0, 0},  {1, 0, 0, 1},  {-1, 0, 0, 1}, {-1, 0, 0, -1}, {1, 0, 0, -1},
                                  {0, 1, 1, 0},  {0, -1, 1, 0}, {0, -1, -1, 0}, {0, 1, -1, 0}};

Map Times(const Map& p, const Map& q)
{
    return {p.a * q.a + p.b * q.c, p.a * q.b + p.b * q.d, p.c * q.a + p.d * q.c, p.c * q.b + p.d * q.d};
}

Map Clockwise(int angle)
{
    Map m = kOrientations[1];
    for (int k = 0; k < angle / 90 % 4; ++k)
        m = Times(kOrientations[6], m);
    return m;
}

// The orientation under which the turned image shows as the source shows,
// turned: the stored image is R S, so R D R⁻¹ shows it as R D S.
int TurnedOrientation(int orientation, int angle)
{
    const Map turned = Times(Times(Clockwise(angle), kOrientations[orientation]), Clockwise(360 - angle));
    for (int o = 1; o <= 8; ++o)
        if (kOrientations[o] == turned)
            return o;
    return orientation;
}

// The tag `tag` takes its value from on a page turned by `angle`. A quarter
// turn makes the left margin the top one and the top one a side one (the
// page's size is not known): the positions swap, as the resolutions do.
int SourceTag(int tag, int angle)
{
    const bool quarter = angle == 90 || angle == 270;
    return quarter && (tag == kXPosition || tag == kYPosition) ? kXPosition + kYPosition - tag : tag;
}

// A tag the writer refused, whose first short is `first`: "" (nothing lost,
// or a note said) or why the page cannot be written.
std::string Refused(const Carried& c, int first)
{
    if (c.tag == kPageNumber)
        return {};
    if (c.tag == kSampleFormat) {
        if (first == 1)
            return {};  // unsigned integers: the default
        return "samples of SampleFormat " + std::to_string(first) + " (" + SampleFormatName(first) +
               ") cannot be written";
    }
    Say(std::string("note: ") + c.name + " is not carried over (a value the writer refuses)");
    return {};
}

}  // namespace

int SampleFormatOf(CTifFile& in)
{
    int count = 0;
    uint32_t* formats = nullptr;
    const int format = in.GetTagLongs(kSampleFormat, &count, &formats) && count > 0 ? int(formats[0]) : 1;
    std::free(formats);
    return format;
}

const char* SampleFormatName(int format)
{
    switch (format) {
    case 1: return "unsigned integer";
    case 2: return "signed integer";
    case 3: return "IEEE floating point";
    case 4: return "undefined";
    default: return "unknown";
    }
}

std::string CarryTags(CTifFile& in, CTifFile& out, int angle)
{
    for (const Carried& c : kCarried) {
        int type = 0, count = 0;
        void* values = nullptr;
        if (!in.GetTagData(SourceTag(c.tag, angle), &type, &count, &values))
            continue;
        auto* shorts = static_cast<uint16_t*>(values);
        const int first = type == 3 && count >= 1 ? shorts[0] : 0;
        if (c.tag == kOrientation && first >= 1 && first <= 8)
            shorts[0] = static_cast<uint16_t>(TurnedOrientation(first, angle));
        const int taken = out.SetTag(c.tag, type, count, values);
        std::free(values);
        if (taken)
            continue;
        if (std::string why = Refused(c, first); !why.empty())
            return why;
    }
    return {};
}
