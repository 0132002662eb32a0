#include "lines/shortened_text.h"

#include <cstring>

namespace corva::lines {
namespace {

constexpr char kEllipsis[] = "...";
constexpr size_t kEllipsisBytes = sizeof kEllipsis - 1;
constexpr size_t kHeadBytes = (ShortenedText::kMaxBytes - kEllipsisBytes) / 2;
constexpr size_t kTailBytes = ShortenedText::kMaxBytes - kEllipsisBytes - kHeadBytes;

bool continuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

ShortenedText::ShortenedText(const char* text) {
    const size_t length = text == nullptr ? 0 : std::strlen(text);
    if (length <= kMaxBytes) {
        if (length > 0) std::memcpy(text_, text, length);
        text_[length] = '\0';
        return;
    }
    // The head ends before, the tail starts at, the first byte of a character.
    size_t head = kHeadBytes;
    while (head > 0 && continuationByte(text[head])) --head;
    size_t tailStart = length - kTailBytes;
    while (tailStart < length && continuationByte(text[tailStart])) ++tailStart;
    std::memcpy(text_, text, head);
    std::memcpy(text_ + head, kEllipsis, kEllipsisBytes);
    const size_t tail = length - tailStart;
    std::memcpy(text_ + head + kEllipsisBytes, text + tailStart, tail);
    text_[head + kEllipsisBytes + tail] = '\0';
}

}  // namespace corva::lines
