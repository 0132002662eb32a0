// A text of unbounded length (a path, a variable's value) shortened for a printed line, so
// the line stays whole within its 512 bytes: its start and its end are kept, joined by
// "...", and a UTF-8 character is never cut in two.
#pragma once

#include <cstddef>

namespace corva::lines {

class ShortenedText {
  public:
    static constexpr size_t kMaxBytes = 200;

    explicit ShortenedText(const char* text);
    const char* c_str() const { return text_; }

  private:
    char text_[kMaxBytes + 1];
};

}  // namespace corva::lines
