// pdf_writer.h — a PDF file written in one forward pass (the PDF reference,
// ISO 32000-1, 7.5 file structure): numbered objects in any order, each
// stream followed by its /Length as an indirect object, and the
// cross-reference table and trailer at the end. Nothing of a stream is held:
// memory grows by one offset per object.
//
// Internal to the library (the static library's users may reach it). Numbers
// are formatted without the C locale's help, so a program's LC_NUMERIC never
// puts a decimal comma into the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CPdfWriter {
public:
    CPdfWriter() = default;
    ~CPdfWriter();  // closes a file still open; never removes it
    CPdfWriter(const CPdfWriter&) = delete;
    CPdfWriter& operator=(const CPdfWriter&) = delete;

    // Creates (or truncates) `path` and writes the header of `version` ("1.4").
    bool Create(const char* path, const char* version);
    // A new object number, written later with BeginObject.
    int Reserve();
    // Starts object `number` ("n 0 obj"); EndObject ends it.
    void BeginObject(int number);
    void EndObject();
    // Starts object `number` as a stream: `dict` is the inside of its
    // dictionary, /Length aside. The data follows through Write or IoProc;
    // EndStream closes it and writes the length object.
    void BeginStream(int number, const std::string& dict);
    void EndStream();
    // An object holding one integer (a value only known after a stream).
    void IntegerObject(int number, int64_t value);

    void Put(const std::string& text) { Write(text.data(), text.size()); }
    void Write(const void* data, size_t bytes);
    // Writes `bytes` bytes of the open file `fd` from `offset` on, the
    // system moving them from file to file (not through this process). False,
    // with nothing written, when the system cannot (the caller copies them
    // itself); a failure part way fails the writer.
    bool CopyFrom(int fd, uint64_t offset, uint64_t bytes);
    // For a codec's TifIoProc: `context` is the CPdfWriter; the bytes taken.
    static int IoProc(unsigned char* buffer, int length, void* context);

    // Writes the cross-reference table and the trailer (/Root, /Info when not
    // 0) and closes the file. False when any write failed, an object reserved
    // was never written, or the file outgrew the table's 10-digit offsets.
    bool Finish(int root, int info);
    // False once a write has failed.
    bool ok() const { return !failed_; }
    uint64_t position() const { return position_; }

private:
    std::FILE* file_ = nullptr;
    uint64_t position_ = 0;
    std::vector<uint64_t> offsets_{0};  // by object number; 0: not yet written
    bool failed_ = false;
    int streamNumber_ = 0;
    int lengthNumber_ = 0;
    uint64_t streamStart_ = 0;
};

// PDF syntax for values. A real number with at most 4 decimals, trailing
// zeros dropped ("609.8824", "612").
std::string PdfNumber(double value);
// A text string (7.9.2.2): a literal string of printable ASCII, else UTF-16BE
// in hexadecimal, from UTF-8 (bytes that are not UTF-8 taken as Latin-1).
// NUL bytes end the text.
std::string PdfTextString(const std::string& text);
// The hexadecimal string of `bytes` ("<00ff10>").
std::string PdfHexString(const unsigned char* bytes, size_t count);
