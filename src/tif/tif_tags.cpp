// tif_tags.cpp — typed access to the entries of the directory held in m_pIfd.
//
// Entries stay in file byte order; values are swapped as they are read out.
// Array readers never allocate more than the file could hold: out-of-line values
// must lie inside the file, which bounds every allocation by the file's size.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "codec/tif_limits.h"
#include "codec/tif_tiff.h"
#include "io/tif_stream.h"
#include "tif/tif_bytes.h"
#include "tif/tif_file.h"
#include "tif/tif_wide.h"

namespace {

// Whether `bytes` bytes of an entry's values can be read: from its value field
// when they fit (and `atOffset` does not force the offset), else from the file,
// where they must lie wholly inside it.
bool ValuesReachable(CTifFile* f, const unsigned char* entry, int64_t bytes, bool atOffset)
{
    if ((bytes <= 4 && !atOffset) || bytes == 0)
        return true;
    const uint64_t offset = TifValueAt(f, entry);
    const int64_t length = f->m_pStream->GetLength();
    return length >= 0 && bytes <= length && offset <= uint64_t(length - bytes);
}

// Reads `bytes` bytes of an entry's values into `out`; ValuesReachable holds.
// The stream goes back to where it was: a decoder reads on from there.
int ReadValues(CTifFile* f, const unsigned char* entry, int64_t bytes, bool atOffset, void* out)
{
    if (bytes <= 4 && !atOffset) {
        std::memcpy(out, entry + 8, static_cast<size_t>(bytes));
        return 1;
    }
    if (bytes == 0)
        return 1;
    const auto offset = int64_t(TifValueAt(f, entry));
    const int64_t at = f->m_pStream->Tell();
    const int ok = f->m_pStream->Seek(offset, 0) == offset &&
                   f->m_pStream->ReadMeta(out, static_cast<int>(bytes)) == bytes;
    if (at >= 0)
        f->m_pStream->Seek(at, 0);
    return ok;
}

// Turns `count` values of `unit` bytes from file byte order into host order,
// in place. RATIONAL and SRATIONAL (unit 8, `pairs`) are two 32-bit numbers.
void ToHostOrder(unsigned char* v, uint32_t count, int unit, bool pairs, int swap)
{
    for (uint32_t i = 0; i < count; ++i, v += unit) {
        if (unit == 2) {
            const uint16_t x = TifGet16(v, swap);
            std::memcpy(v, &x, 2);
        } else if (unit == 4 || pairs) {
            for (int k = 0; k < unit; k += 4) {
                const uint32_t x = TifGet32(v + k, swap);
                std::memcpy(v + k, &x, 4);
            }
        } else if (unit == 8) {
            const uint64_t x = TifGet64(v, swap);
            std::memcpy(v, &x, 8);
        }
    }
}

// Finds the entry and allocates room for `count` values of `unit` bytes, of
// which `fileUnit` bytes each are stored in the file. Returns the entry, or null
// (absent, values outside the file, count beyond the limit, no memory): nothing
// is allocated for values that the file cannot hold.
unsigned char* Prepare(CTifFile* f, int tag, int unit, int fileUnit, bool atOffset, int* count,
                       void** array, uint32_t* n)
{
    *count = 0;
    *array = nullptr;
    unsigned char* entry = f->FindTag(tag);
    if (entry == nullptr)
        return nullptr;
    *n = TifGet32(entry + 4, f->m_bSwap);
    int64_t size = TifCheckedSize(*n, unit);
    if (size < 0 || *n > 0x7FFFFFFFu || !ValuesReachable(f, entry, int64_t(*n) * fileUnit, atOffset))
        return nullptr;
    *array = std::malloc(size > 0 ? static_cast<size_t>(size) : 1);
    return *array ? entry : nullptr;
}

// GetTagLongs of a BigTIFF LONG8 entry (or IFD8, SLONG8): every value must
// fit 32 bits.
int GetLongs8(CTifFile* f, int tag, int* count, uint32_t** array)
{
    uint64_t* wide;
    int n;
    if (!TifGetTagWide(f, tag, &n, &wide) || TifGet16(f->FindTag(tag) + 2, f->m_bSwap) < TIF_TYPE_LONG8) {
        std::free(wide);
        return 0;
    }
    auto* v = static_cast<uint32_t*>(std::malloc(size_t(n > 0 ? n : 1) * sizeof(uint32_t)));
    bool fits = v != nullptr;
    for (int i = 0; fits && i < n; ++i) {
        fits = wide[i] <= 0xFFFFFFFFu;
        v[i] = uint32_t(wide[i]);
    }
    std::free(wide);
    *array = v;
    if (!fits)
        return 0;
    *count = n;
    return 1;
}

}  // namespace

unsigned char* CTifFile::FindTag(int tag)
{
    if (m_pEntries == nullptr)
        return nullptr;
    unsigned char* e = m_pEntries;
    for (unsigned i = 0; i < m_nEntries; ++i, e += 12)
        if (TifGet16(e, m_bSwap) == tag)
            return e;
    return nullptr;
}

int CTifFile::GetTagValue(int tag, int* value)
{
    const unsigned char* e = FindTag(tag);
    if (e == nullptr)
        return 0;
    switch (TifGet16(e + 2, m_bSwap)) {
    case TIF_TYPE_BYTE: case TIF_TYPE_ASCII: case TIF_TYPE_SBYTE: case TIF_TYPE_UNDEFINED:
        *value = e[8];
        return 1;
    case TIF_TYPE_SHORT: case TIF_TYPE_SSHORT:
        *value = TifGet16(e + 8, m_bSwap);
        return 1;
    case TIF_TYPE_LONG: case TIF_TYPE_SLONG:
        *value = static_cast<int>(TifGet32(e + 8, m_bSwap));
        return 1;
    case TIF_TYPE_LONG8: case TIF_TYPE_SLONG8: case TIF_TYPE_IFD8: {
        // BigTIFF: the value field holds 8 bytes; taken when it fits an int.
        unsigned char v[8];
        if (!ValuesReachable(this, e, 8, true) || !ReadValues(this, e, 8, true, v) || TifGet64(v, m_bSwap) > INT_MAX)
            return 0;
        *value = static_cast<int>(TifGet64(v, m_bSwap));
        return 1;
    }
    default:
        return 0;
    }
}

int TifGetTagWide(CTifFile* f, int tag, int* count, uint64_t** array)
{
    *count = 0;
    *array = nullptr;
    const unsigned char* found = f->FindTag(tag);
    const int type = found != nullptr ? TifGet16(found + 2, f->m_bSwap) : 0;
    const bool shorts = type == TIF_TYPE_SHORT || type == TIF_TYPE_SSHORT;
    const bool longs = type == TIF_TYPE_LONG || type == TIF_TYPE_SLONG;
    const bool longs8 = type == TIF_TYPE_LONG8 || type == TIF_TYPE_SLONG8 || type == TIF_TYPE_IFD8;
    if (!shorts && !longs && !longs8)
        return 0;
    const int fileUnit = shorts ? 2 : longs ? 4 : 8;
    uint32_t n;
    void* a;
    const unsigned char* e = Prepare(f, tag, 8, fileUnit, false, count, &a, &n);
    *array = static_cast<uint64_t*>(a);
    if (e == nullptr || !ReadValues(f, e, int64_t(n) * fileUnit, false, a))
        return 0;
    // Widen in place from the last value back, so no value is overwritten
    // before it is read.
    const auto* s = static_cast<const unsigned char*>(a);
    for (uint32_t i = n; i-- > 0;)
        (*array)[i] = shorts ? TifGet16(s + 2 * i, f->m_bSwap)
                    : longs  ? TifGet32(s + 4 * i, f->m_bSwap)
                             : TifGet64(s + 8 * i, f->m_bSwap);
    *count = static_cast<int>(n);
    return 1;
}

int CTifFile::GetTagBytes(int tag, int* count, unsigned char** array)
{
    uint32_t n;
    void* a;
    const unsigned char* e = Prepare(this, tag, 1, 1, false, count, &a, &n);
    *array = static_cast<unsigned char*>(a);
    if (e == nullptr || !ReadValues(this, e, n, false, a))
        return 0;
    *count = static_cast<int>(n);
    return 1;
}

int CTifFile::GetTagShorts(int tag, int* count, uint16_t** array)
{
    uint32_t n;
    void* a;
    const unsigned char* e = Prepare(this, tag, 2, 2, false, count, &a, &n);
    *array = static_cast<uint16_t*>(a);
    if (e == nullptr || !ReadValues(this, e, int64_t(n) * 2, false, a))
        return 0;
    if (m_bSwap)
        for (uint32_t i = 0; i < n; ++i)
            (*array)[i] = TifSwap16((*array)[i]);
    *count = static_cast<int>(n);
    return 1;
}

int CTifFile::GetTagLongs(int tag, int* count, uint32_t** array)
{
    uint32_t n;
    void* a;
    *count = 0;
    *array = nullptr;
    const unsigned char* found = FindTag(tag);
    if (found == nullptr)
        return 0;
    const int type = TifGet16(found + 2, m_bSwap);
    const int fileUnit = type == TIF_TYPE_SHORT || type == TIF_TYPE_SSHORT ? 2
                       : type == TIF_TYPE_LONG || type == TIF_TYPE_SLONG   ? 4
                                                                           : 0;
    if (fileUnit == 0)
        return GetLongs8(this, tag, count, array);
    const unsigned char* e = Prepare(this, tag, 4, fileUnit, false, count, &a, &n);
    *array = static_cast<uint32_t*>(a);
    if (e == nullptr)
        return 0;
    uint32_t* v = *array;
    if (!ReadValues(this, e, int64_t(n) * fileUnit, false, v))
        return 0;
    if (fileUnit == 2) {
        // Widen in place from the last value back, so no value is overwritten
        // before it is read.
        const auto* s = reinterpret_cast<const unsigned char*>(v);
        for (uint32_t i = n; i-- > 0;)
            v[i] = TifGet16(s + 2 * i, m_bSwap);
    } else if (m_bSwap) {
        for (uint32_t i = 0; i < n; ++i)
            v[i] = TifSwap32(v[i]);
    }
    *count = static_cast<int>(n);
    return 1;
}

int CTifFile::GetTagRationals(int tag, int* count, uint32_t** array)
{
    uint32_t n;
    void* a;
    const unsigned char* e = Prepare(this, tag, 8, 8, true, count, &a, &n);
    *array = static_cast<uint32_t*>(a);
    if (e == nullptr || !ReadValues(this, e, int64_t(n) * 8, true, a))
        return 0;
    if (m_bSwap)
        for (uint32_t i = 0; i < 2 * n; ++i)
            (*array)[i] = TifSwap32((*array)[i]);
    *count = static_cast<int>(n);
    return 1;
}

int CTifFile::GetTagInfo(int tag, int* type, int* count)
{
    const unsigned char* e = FindTag(tag);
    if (e == nullptr || type == nullptr || count == nullptr || TifGet32(e + 4, m_bSwap) > 0x7FFFFFFFu)
        return 0;
    *type = TifGet16(e + 2, m_bSwap);
    *count = static_cast<int>(TifGet32(e + 4, m_bSwap));
    return 1;
}

int CTifFile::GetTagData(int tag, int* type, int* count, void** values)
{
    if (type == nullptr || count == nullptr || values == nullptr)
        return 0;
    *type = 0;
    *count = 0;
    *values = nullptr;
    const unsigned char* found = FindTag(tag);
    const int t = found != nullptr ? TifGet16(found + 2, m_bSwap) : 0;
    const int unit = TifTypeSize(t);
    uint32_t n = 0;
    void* a = nullptr;
    int c;
    const unsigned char* e = unit > 0 ? Prepare(this, tag, unit, unit, false, &c, &a, &n) : nullptr;
    if (e == nullptr || !ReadValues(this, e, int64_t(n) * unit, false, a)) {
        std::free(a);
        return 0;
    }
    ToHostOrder(static_cast<unsigned char*>(a), n, unit, t == TIF_TYPE_RATIONAL || t == TIF_TYPE_SRATIONAL,
                m_bSwap);
    *type = t;
    *count = static_cast<int>(n);
    *values = a;
    return 1;
}

int CTifFile::GetTagText(int tag, char** text)
{
    if (text == nullptr)
        return 0;
    *text = nullptr;
    int type, count;
    void* values;
    if (!GetTagInfo(tag, &type, &count) || type != TIF_TYPE_ASCII || !GetTagData(tag, &type, &count, &values))
        return 0;
    // Room for a closing NUL that the file may lack; the text ends at the first.
    auto* s = static_cast<char*>(std::realloc(values, size_t(count) + 1));
    if (s == nullptr) {
        std::free(values);
        return 0;
    }
    s[count] = '\0';
    *text = s;
    return 1;
}

int CTifFile::IsBigEndian() { return m_pStream != nullptr && m_bSwap ? 1 : 0; }
