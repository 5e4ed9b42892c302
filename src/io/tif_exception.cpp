// tif_exception.cpp — raising CTifException.
#include "io/tif_exception.h"

#include <new>

void TifThrow(int code)
{
    throw new (std::nothrow) CTifException(code);
}
