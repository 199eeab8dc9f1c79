// Which status words a flash library can send, so that a word read out of step
// with the library (a part of one answer and a part of the next) ends the run as
// what it is instead of passing for a stage, an error or "Flashing Completed".
#pragma once

#include <cstddef>
#include <cstdint>

namespace sealbench {

class StatusWordCheck {
public:
    // A built-in library's words are fixed by its datasheet: a stage code (erasing,
    // programming, verifying, in that order) with the stage's progress in KiB of the
    // image, or a final code with a progress of 0. A user's library is read by bits
    // 16 to 31 alone: any word fits.
    StatusWordCheck(bool builtinLibrary, size_t imageSize);

    // Whether `word` can be the library's next word; a word that fits becomes the
    // one the next is checked against.
    bool Fits(uint32_t word);

private:
    bool builtin_;
    uint32_t mostProgress_;
    int state_ = 0;
    uint32_t progress_ = 0;
};

}  // namespace sealbench
