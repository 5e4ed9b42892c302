// tif_failure.h — recording why an Open, OpenPage, CountPages or Create failed,
// for CTifFile::GetLastFailure. One record per thread, like errno.
#pragma once

// Records `failure` (a VXTIFF_FAIL_ code) with its value; returns 0, so that a
// failing path reads `return TifFail(...)`.
int TifFail(int failure, int value = 0);
// The VXTIFF_FAIL_ code for a failed CTifFileStream::Open (TIF_STREAM_ reason).
int TifStreamFailure(int streamFailure, bool creating);
