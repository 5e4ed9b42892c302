// lzw_test_encoder.h — a plain LZW encoder for building test strips: TIFF 6.0
// (codes high bit first, width growing one code early) or old-style (low bit
// first, width growing one code later), with hooks to damage the code stream.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace codec_test {

class LzwTestEncoder {
public:
    explicit LzwTestEncoder(bool oldStyle, int clearAt = 4094) : old_(oldStyle), clearAt_(clearAt) {}

    // Appends one code at the current width.
    void Code(int code)
    {
        if (old_) {
            acc_ |= uint64_t(code) << n_;
            n_ += nbits_;
            while (n_ >= 8) {
                out_.push_back(uint8_t(acc_));
                acc_ >>= 8;
                n_ -= 8;
            }
        } else {
            acc_ = (acc_ << nbits_) | uint64_t(code);
            n_ += nbits_;
            while (n_ >= 8) {
                out_.push_back(uint8_t(acc_ >> (n_ - 8)));
                n_ -= 8;
            }
        }
    }

    std::vector<uint8_t> Encode(const std::vector<uint8_t>& data)
    {
        Reset();
        Code(256);
        int prefix = -1;
        for (uint8_t b : data) {
            if (prefix < 0) {
                prefix = b;
                continue;
            }
            auto it = dict_.find({prefix, b});
            if (it != dict_.end()) {
                prefix = it->second;
                continue;
            }
            Code(prefix);
            dict_[{prefix, b}] = free_++;
            prefix = b;
            if (free_ == clearAt_) {
                Code(256);
                Reset();
            } else if (free_ > (old_ ? (1 << nbits_) : (1 << nbits_) - 1) && nbits_ < 12) {
                ++nbits_;
            }
        }
        if (prefix >= 0)
            Code(prefix);
        Code(257);
        Flush();
        return out_;
    }

    void Flush()
    {
        if (n_ > 0)
            out_.push_back(old_ ? uint8_t(acc_) : uint8_t(acc_ << (8 - n_)));
        n_ = 0;
        acc_ = 0;
    }

    void SetWidth(int nbits) { nbits_ = nbits; }
    std::vector<uint8_t>& Out() { return out_; }

private:
    void Reset()
    {
        dict_.clear();
        free_ = 258;
        nbits_ = 9;
    }

    bool old_;
    int clearAt_;
    std::map<std::pair<int, int>, int> dict_;
    int free_ = 258;
    int nbits_ = 9;
    uint64_t acc_ = 0;
    int n_ = 0;
    std::vector<uint8_t> out_;
};

}  // namespace codec_test
