// lzw_test_encoder.h — a plain LZW encoder for test strips: TIFF 6.0 (codes
// high bit first, width growing one code early) or old-style (low bit first,
// width growing one code later). Code() writes any code at any width, for
// damaged streams.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace tiftest {

class LzwTestEncoder {
public:
    explicit LzwTestEncoder(bool oldStyle) : old_(oldStyle) {}

    // Clear when the next free code reaches `free` (default 4094). Up to 5119:
    // entries from 4096 on are counted, as a decoder does, but never named.
    LzwTestEncoder& ClearAt(int free)
    {
        clearAt_ = free;
        return *this;
    }

    void Code(int code, int nbits)
    {
        if (old_)
            acc_ |= uint64_t(code) << n_;
        else
            acc_ = (acc_ << nbits) | uint64_t(code);
        for (n_ += nbits; n_ >= 8; n_ -= 8) {
            out_.push_back(old_ ? uint8_t(acc_) : uint8_t(acc_ >> (n_ - 8)));
            if (old_)
                acc_ >>= 8;
        }
    }

    // Whole strip: Clear, codes, EndOfInformation; Clear again after code 4093.
    // `eoiAtDecoderWidth`: EndOfInformation at the width a decoder reads it
    // after adding the entry for the last code (one bit wider when that entry
    // is 510, 1022 or 2046). `freeAfter` receives the next free code after each
    // byte: the last code assigned when the strip would end there, plus one.
    std::vector<uint8_t> Encode(const std::vector<uint8_t>& data, bool eoiAtDecoderWidth = false,
                                std::vector<int>* freeAfter = nullptr)
    {
        std::map<std::pair<int, int>, int> dict;
        int free = 258, nbits = 9, prefix = -1;
        Code(256, nbits);
        for (uint8_t b : data) {
            auto it = dict.find({prefix, b});
            if (prefix < 0 || it != dict.end()) {
                prefix = prefix < 0 ? b : it->second;
                if (freeAfter)
                    freeAfter->push_back(free);
                continue;
            }
            Code(prefix, nbits);
            if (free < 4096)
                dict[{prefix, b}] = free;
            ++free;
            prefix = b;
            if (free == clearAt_) {
                Code(256, nbits);
                dict.clear();
                free = 258;
                nbits = 9;
            } else if (free > (old_ ? 1 << nbits : (1 << nbits) - 1) && nbits < 12) {
                ++nbits;
            }
            if (freeAfter)
                freeAfter->push_back(free);
        }
        int eoiBits = nbits;
        if (prefix >= 0) {
            Code(prefix, nbits);
            if (eoiAtDecoderWidth && !old_ && free == (1 << nbits) - 1 && nbits < 12)
                ++eoiBits;
        }
        Code(257, eoiBits);
        return Finish();
    }

    std::vector<uint8_t> Finish()
    {
        if (n_ > 0)
            out_.push_back(old_ ? uint8_t(acc_) : uint8_t(acc_ << (8 - n_)));
        n_ = 0;
        return out_;
    }

private:
    bool old_;
    int clearAt_ = 4094;
    uint64_t acc_ = 0;
    int n_ = 0;
    std::vector<uint8_t> out_;
};

}  // namespace tiftest
