// Reads the fields of one printed line from left to right; any mismatch makes the cursor
// fail and every later read fail too, so a caller checks once at the end.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace corva::report {

class LineCursor {
  public:
    explicit LineCursor(std::string_view text) : rest_(text) {}

    bool ok() const { return ok_; }
    std::string_view rest() const { return rest_; }

    // The literal text must come next.
    LineCursor& expect(std::string_view literal) {
        if (ok_ && rest_.starts_with(literal)) {
            rest_.remove_prefix(literal.size());
        } else {
            ok_ = false;
        }
        return *this;
    }

    LineCursor& spaces() {
        while (!rest_.empty() && rest_.front() == ' ') rest_.remove_prefix(1);
        return *this;
    }

    // Everything up to the separator, which is consumed too.
    LineCursor& until(std::string_view separator, std::string_view& out) {
        if (!ok_) return *this;
        const size_t at = rest_.find(separator);
        if (at == std::string_view::npos) {
            ok_ = false;
            return *this;
        }
        out = rest_.substr(0, at);
        rest_.remove_prefix(at + separator.size());
        return *this;
    }

    template <typename Int>
    LineCursor& integer(Int& out, int base = 10) {
        if (!ok_) return *this;
        const auto [end, ec] = std::from_chars(rest_.data(), rest_.data() + rest_.size(), out, base);
        if (ec != std::errc()) {
            ok_ = false;
            return *this;
        }
        rest_.remove_prefix(static_cast<size_t>(end - rest_.data()));
        return *this;
    }

    LineCursor& hex(uint32_t& out) { return expect("0x").integer(out, 16); }

    LineCursor& number(double& out) {
        if (!ok_) return *this;
        const auto [end, ec] = std::from_chars(rest_.data(), rest_.data() + rest_.size(), out);
        // The program prints only finite numbers: "nan" or "inf" is no line of it.
        if (ec != std::errc() || !std::isfinite(out)) {
            ok_ = false;
            return *this;
        }
        rest_.remove_prefix(static_cast<size_t>(end - rest_.data()));
        return *this;
    }

  private:
    std::string_view rest_;
    bool ok_ = true;
};

}  // namespace corva::report
