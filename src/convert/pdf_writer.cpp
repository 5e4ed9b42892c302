// pdf_writer.cpp — see pdf_writer.h.
#include "convert/pdf_writer.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#if defined(__linux__)
#include <sys/sendfile.h>
#endif

namespace {

constexpr size_t kFileBuffer = size_t(1) << 16;
// Offsets in the cross-reference table have 10 digits.
constexpr uint64_t kMaxOffset = 9999999999ull;

std::string Decimal(uint64_t v)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;  // never locale-dependent
    return std::string(digits, end);
}

// `v` with `width` digits, zeros in front.
std::string Padded(uint64_t v, size_t width)
{
    std::string s = Decimal(v);
    return s.size() < width ? std::string(width - s.size(), '0') + s : s;
}

// The bytes that follow lead byte c in UTF-8; -1 when c cannot lead.
int FollowingBytes(unsigned char c)
{
    return c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
}

// Decodes the UTF-8 sequence at text[i] into *cp and returns its length;
// 0 when it is not one (cut short, overlong, a surrogate or past U+10FFFF).
size_t DecodeOne(const std::string& text, size_t i, uint32_t* cp)
{
    const auto c = static_cast<unsigned char>(text[i]);
    const int extra = FollowingBytes(c);
    if (extra < 0 || (extra > 0 && i + size_t(extra) >= text.size()))
        return 0;
    uint32_t v = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const auto d = static_cast<unsigned char>(text[i + size_t(k)]);
        if ((d & 0xC0) != 0x80)
            return 0;
        v = v << 6 | (d & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (v < kLeast[extra] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *cp = v;
    return size_t(extra) + 1;
}

// The code points of UTF-8 `text`; false when it is not UTF-8.
bool DecodeUtf8(const std::string& text, std::vector<uint32_t>* out)
{
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        const size_t n = DecodeOne(text, i, &cp);
        if (n == 0)
            return false;
        out->push_back(cp);
        i += n;
    }
    return true;
}

}  // namespace

CPdfWriter::~CPdfWriter()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

bool CPdfWriter::Create(const char* path, const char* version)
{
    if (file_ != nullptr || path == nullptr)
        return false;
    file_ = std::fopen(path, "wb");
    if (file_ == nullptr)
        return false;
    std::setvbuf(file_, nullptr, _IOFBF, kFileBuffer);
    // The comment of bytes above 127 tells transfer programs the file is binary.
    Put(std::string("%PDF-") + version + "\n%\xE2\xE3\xCF\xD3\n");
    return ok();
}

int CPdfWriter::Reserve()
{
    offsets_.push_back(0);
    return int(offsets_.size() - 1);
}

void CPdfWriter::BeginObject(int number)
{
    if (number <= 0 || size_t(number) >= offsets_.size() || offsets_[size_t(number)] != 0) {
        failed_ = true;  // a number not reserved, or written twice
        return;
    }
    offsets_[size_t(number)] = position_;
    Put(Decimal(uint64_t(number)) + " 0 obj\n");
}

void CPdfWriter::EndObject() { Put("\nendobj\n"); }

void CPdfWriter::BeginStream(int number, const std::string& dict)
{
    lengthNumber_ = Reserve();
    streamNumber_ = number;
    BeginObject(number);
    Put("<<" + dict + "/Length " + Decimal(uint64_t(lengthNumber_)) + " 0 R>>\nstream\n");
    streamStart_ = position_;
}

void CPdfWriter::EndStream()
{
    const uint64_t length = position_ - streamStart_;
    Put("\nendstream\nendobj\n");
    IntegerObject(lengthNumber_, int64_t(length));
    streamNumber_ = lengthNumber_ = 0;
}

void CPdfWriter::IntegerObject(int number, int64_t value)
{
    BeginObject(number);
    Put((value < 0 ? "-" : "") + Decimal(uint64_t(value < 0 ? -value : value)));
    EndObject();
}

void CPdfWriter::Write(const void* data, size_t bytes)
{
    if (failed_ || file_ == nullptr) {
        failed_ = true;
        return;
    }
    if (bytes > 0 && std::fwrite(data, 1, bytes, file_) != bytes)
        failed_ = true;
    position_ += bytes;
}

bool CPdfWriter::CopyFrom(int fd, uint64_t offset, uint64_t bytes)
{
#if defined(__linux__)
    if (failed_ || file_ == nullptr || bytes == 0 || std::fflush(file_) != 0)
        return false;
    off_t at = off_t(offset);
    for (uint64_t left = bytes; left > 0;) {
        const ssize_t n = sendfile(fileno(file_), fd, &at, size_t(left < (1u << 30) ? left : 1u << 30));
        if (n > 0) {
            left -= uint64_t(n);
            position_ += uint64_t(n);
        } else if (!(n < 0 && errno == EINTR)) {
            if (left == bytes && n < 0)
                return false;  // not for these files: nothing written
            failed_ = true;    // an error or the end of the file part way
            return true;
        }
    }
    return true;
#else
    (void)fd, (void)offset, (void)bytes;
    return false;
#endif
}

int CPdfWriter::IoProc(unsigned char* buffer, int length, void* context)
{
    auto* w = static_cast<CPdfWriter*>(context);
    if (length <= 0)
        return 0;
    w->Write(buffer, size_t(length));
    return w->ok() ? length : 0;
}

bool CPdfWriter::Finish(int root, int info)
{
    if (file_ == nullptr)
        return false;
    const uint64_t xref = position_;
    std::string table = "xref\n0 " + Decimal(offsets_.size()) + "\n0000000000 65535 f \n";
    for (size_t i = 1; i < offsets_.size() && !failed_; ++i) {
        if (offsets_[i] == 0 || offsets_[i] > kMaxOffset)
            failed_ = true;
        table += Padded(offsets_[i], 10) + " 00000 n \n";
        if (table.size() >= kFileBuffer) {  // memory stays bounded, whatever the objects
            Put(table);
            table.clear();
        }
    }
    Put(table);
    std::string trailer = "trailer\n<</Size " + Decimal(offsets_.size()) + "/Root " + Decimal(uint64_t(root)) + " 0 R";
    if (info > 0)
        trailer += "/Info " + Decimal(uint64_t(info)) + " 0 R";
    Put(trailer + ">>\nstartxref\n" + Decimal(xref) + "\n%%EOF\n");
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed && !failed_ && xref <= kMaxOffset;
}

std::string PdfNumber(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e12)
        value = 0;
    const bool negative = value < 0;
    const auto scaled = uint64_t(std::llround(std::fabs(value) * 10000.0));
    std::string s = (negative && scaled != 0 ? "-" : "") + Decimal(scaled / 10000);
    uint64_t fraction = scaled % 10000;
    if (fraction != 0) {
        std::string f = Padded(fraction, 4);
        while (f.back() == '0')
            f.pop_back();
        s += "." + f;
    }
    return s;
}

std::string PdfHexString(const unsigned char* bytes, size_t count)
{
    static const char kHex[] = "0123456789abcdef";
    std::string s = "<";
    for (size_t i = 0; i < count; ++i) {
        s += kHex[bytes[i] >> 4];
        s += kHex[bytes[i] & 15];
    }
    return s + ">";
}

std::string PdfTextString(const std::string& given)
{
    const std::string text = given.substr(0, std::strlen(given.c_str()));
    bool plain = true;
    for (char c : text)
        plain = plain && c >= 0x20 && c < 0x7F;
    if (plain) {
        std::string s = "(";
        for (char c : text) {
            if (c == '(' || c == ')' || c == '\\')
                s += '\\';
            s += c;
        }
        return s + ")";
    }
    std::vector<uint32_t> points;
    if (!DecodeUtf8(text, &points)) {
        points.clear();
        for (char c : text)
            points.push_back(static_cast<unsigned char>(c));
    }
    std::vector<unsigned char> units = {0xFE, 0xFF};
    auto unit = [&units](uint32_t u) {
        units.push_back(static_cast<unsigned char>(u >> 8));
        units.push_back(static_cast<unsigned char>(u & 0xFF));
    };
    for (uint32_t cp : points) {
        if (cp < 0x10000) {
            unit(cp);
        } else {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    return PdfHexString(units.data(), units.size());
}
