// Frame ids: the sensor's 32-bit frame counter widened to 64 bits so that ids only ever grow.
#pragma once

#include <cstdint>

namespace tovira {

class FrameIdWidener {
public:
    // The id of a frame whose sensor counter is `counter`. A counter that does not grow (it wrapped, or
    // another camera was selected and counts from 0) starts the next 2^32 block, so ids stay increasing.
    std::uint64_t Widen(std::uint32_t counter) {
        if (started_ && counter <= lastCounter_) block_ += std::uint64_t(1) << 32;
        started_ = true;
        lastCounter_ = counter;
        return block_ | counter;
    }

private:
    bool started_ = false;
    std::uint32_t lastCounter_ = 0;
    std::uint64_t block_ = 0;
};

}  // namespace tovira
