// tif_exception.h — the one exception of the library, thrown by pointer from
// the codec I/O procedures and caught by the CTifFile operation driving the codec.
#pragma once

class CTifException {
public:
    enum { kShortRead = 2, kShortWrite = 3 };

    explicit CTifException(int c) : code(c) {}
    ~CTifException() {}

    int code;
};

// Throws a heap-allocated CTifException (a null pointer if even that fails);
// catchers treat both alike.
[[noreturn]] void TifThrow(int code);
