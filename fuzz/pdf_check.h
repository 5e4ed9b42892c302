// pdf_check.h — a structural check of a PDF file as vxtiff writes it, for the
// fuzz target and the tests: the header, the cross-reference table that
// startxref points at (every entry 20 bytes, every object where its entry
// says, none overlapping the next), every stream's /Length (direct or an
// indirect integer) ending right before "endstream", every reference naming
// an object of the table, and the trailer's /Size and /Root.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace pdfcheck {

inline bool Digits(const std::string& s, size_t at, size_t n)
{
    if (at + n > s.size())
        return false;
    for (size_t i = at; i < at + n; ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

// The integer at `at` (skipping blanks); -1 when there is none.
inline long long IntAt(const std::string& s, size_t at, size_t* end = nullptr)
{
    while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\r'))
        ++at;
    size_t n = 0;
    while (n < 15 && Digits(s, at + n, 1))
        ++n;
    if (n == 0)
        return -1;
    if (end != nullptr)
        *end = at + n;
    return std::atoll(s.substr(at, n).c_str());
}

struct Object {
    size_t offset, end;  // "n 0 obj" .. past "endobj"
    long long value;     // an object holding one integer: it; else -1
};

// "" when `pdf` is well formed, else what is wrong.
inline std::string StructureProblem(const std::vector<uint8_t>& bytes)
{
    const std::string s(bytes.begin(), bytes.end());
    if (s.compare(0, 7, "%PDF-1.") != 0)
        return "no %PDF-1.x header";
    const size_t sx = s.rfind("startxref");
    if (sx == std::string::npos || s.find("%%EOF", sx) == std::string::npos)
        return "no startxref and %%EOF at the end";
    const long long xref = IntAt(s, sx + 9);
    if (xref < 0 || size_t(xref) >= s.size() || s.compare(size_t(xref), 7, "xref\n0 ") != 0)
        return "startxref does not point at a cross-reference table";
    size_t at = 0;
    const long long count = IntAt(s, size_t(xref) + 7, &at);
    if (count < 1 || s[at] != '\n' || at + 1 + size_t(count) * 20 > s.size())
        return "bad cross-reference table header";
    std::vector<Object> objects(size_t(count), Object{0, 0, -1});
    const size_t entries = at + 1;
    for (long long i = 0; i < count; ++i) {
        const size_t e = entries + size_t(i) * 20;
        if (!Digits(s, e, 10) || s[e + 10] != ' ' || !Digits(s, e + 11, 5) || s[e + 16] != ' ' ||
            (s[e + 17] != 'n' && s[e + 17] != 'f') || s.compare(e + 18, 2, " \n") != 0)
            return "cross-reference entry " + std::to_string(i) + " is not 20 bytes of the form";
        objects[size_t(i)].offset = s[e + 17] == 'n' ? size_t(std::atoll(s.substr(e, 10).c_str())) : 0;
        if (i > 0 && objects[size_t(i)].offset == 0)
            return "object " + std::to_string(i) + " is free";
    }
    const size_t trailer = entries + size_t(count) * 20;
    if (s.compare(trailer, 8, "trailer\n") != 0)
        return "no trailer after the table";
    const size_t size = s.find("/Size ", trailer), root = s.find("/Root ", trailer);
    if (size == std::string::npos || IntAt(s, size + 6) != count || root == std::string::npos ||
        IntAt(s, root + 6) <= 0 || IntAt(s, root + 6) >= count)
        return "the trailer's /Size or /Root is wrong";
    // Each object: its header, its end, a stream's length.
    std::vector<std::pair<size_t, size_t>> streams;  // data ranges
    for (long long i = 1; i < count; ++i) {
        Object& o = objects[size_t(i)];
        const std::string head = std::to_string(i) + " 0 obj\n";
        if (o.offset >= size_t(xref) || s.compare(o.offset, head.size(), head) != 0)
            return "object " + std::to_string(i) + " is not where the table says";
        const size_t body = o.offset + head.size();
        const size_t stream = s.find(">>\nstream\n", body), endobj = s.find("\nendobj\n", body);
        if (endobj == std::string::npos)
            return "object " + std::to_string(i) + " has no endobj";
        o.end = endobj + 8;
        size_t end = 0;
        o.value = IntAt(s, body, &end);
        if (end != endobj || o.value < 0)
            o.value = -1;
        if (stream == std::string::npos || stream > endobj)
            continue;
        const size_t length = s.rfind("/Length ", stream);
        if (length == std::string::npos || length < body)
            return "stream " + std::to_string(i) + " has no /Length";
        long long n = IntAt(s, length + 8, &end);
        if (n >= 0 && s.compare(end, 4, " 0 R") == 0) {
            const std::string ref = std::to_string(n) + " 0 obj\n";
            if (n <= 0 || n >= count || s.compare(objects[size_t(n)].offset, ref.size(), ref) != 0)
                return "stream " + std::to_string(i) + ": its length object is missing";
            n = IntAt(s, objects[size_t(n)].offset + ref.size());
        }
        const size_t data = stream + 10;
        if (n < 0 || data + size_t(n) + 10 > s.size() || s.compare(data + size_t(n), 10, "\nendstream") != 0)
            return "stream " + std::to_string(i) + ": /Length does not end at endstream";
        streams.emplace_back(data, data + size_t(n));
        o.end = s.find("\nendobj\n", data + size_t(n));
        if (o.end == std::string::npos)
            return "stream " + std::to_string(i) + " has no endobj";
        o.end += 8;
    }
    // Objects do not overlap, and lie before the table.
    std::vector<Object> sorted(objects.begin() + 1, objects.end());
    std::sort(sorted.begin(), sorted.end(), [](const Object& a, const Object& b) { return a.offset < b.offset; });
    for (size_t i = 0; i < sorted.size(); ++i)
        if (sorted[i].end > (i + 1 < sorted.size() ? sorted[i + 1].offset : size_t(xref)))
            return "objects overlap";
    // Every reference outside stream data names an object of the table.
    std::sort(streams.begin(), streams.end());
    size_t k = 0;
    for (size_t r = s.find(" 0 R"); r != std::string::npos && r < size_t(xref); r = s.find(" 0 R", r + 4)) {
        while (k < streams.size() && streams[k].second <= r)
            ++k;
        if (k < streams.size() && streams[k].first <= r) {
            r = streams[k].second;
            continue;
        }
        size_t from = r;
        while (from > 0 && Digits(s, from - 1, 1))
            --from;
        const long long n = from < r ? std::atoll(s.substr(from, r - from).c_str()) : -1;
        if (n <= 0 || n >= count)
            return "a reference to object " + std::to_string(n) + ", which the table lacks";
    }
    return {};
}

// The number of pages the page tree's root says (/Type/Pages/Count N); -1
// when there is none.
// The offset of object `n` as the cross-reference table gives it; npos when
// the table has no such entry.
inline size_t ObjectAt(const std::string& s, long long n)
{
    const size_t sx = s.rfind("startxref");
    const long long xref = sx == std::string::npos ? -1 : IntAt(s, sx + 9);
    if (xref < 0 || size_t(xref) >= s.size() || s.compare(size_t(xref), 7, "xref\n0 ") != 0)
        return std::string::npos;
    size_t at = 0;
    const long long count = IntAt(s, size_t(xref) + 7, &at);
    if (n <= 0 || n >= count)
        return std::string::npos;
    const long long offset = IntAt(s, at + 1 + size_t(n) * 20);
    return offset < 0 || size_t(offset) >= s.size() ? std::string::npos : size_t(offset);
}

// The integer after `key` inside the object at `offset`; -1 when none.
inline long long ValueIn(const std::string& s, size_t offset, const char* key)
{
    if (offset == std::string::npos)
        return -1;
    const size_t end = s.find("endobj", offset), k = s.find(key, offset);
    return k == std::string::npos || k > end ? -1 : IntAt(s, k + std::strlen(key));
}

// The page count of the page tree the trailer's /Root names, found through
// the cross-reference table: image data copied into the file may hold any
// bytes, "/Type/Pages/Count" included.
inline int PageCount(const std::vector<uint8_t>& bytes)
{
    const std::string s(bytes.begin(), bytes.end());
    const size_t root = s.rfind("/Root ");
    if (root == std::string::npos)
        return -1;
    const long long pages = ValueIn(s, ObjectAt(s, IntAt(s, root + 6)), "/Pages ");
    return int(ValueIn(s, ObjectAt(s, pages), "/Count "));
}

}  // namespace pdfcheck
