// The budget of one call (budget.h).
#include "budget.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

namespace vellox_core {

namespace {

// Past this many seconds (about 30 years) a deadline is no deadline: the
// clock's nanosecond count would overflow on the way to a larger one.
constexpr double kMaxDeadlineSeconds = 1e9;

}  // namespace

Budget::Budget(double seconds, std::uint64_t max_bytes) : max_bytes_(max_bytes) {
    if (seconds > 0 && std::isfinite(seconds)) {
        seconds_ = seconds;
        if (seconds <= kMaxDeadlineSeconds) {
            deadline_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(seconds));
        }
    }
}

bool Budget::fail(Error error) {
    if (!exceeded_) exceeded_ = std::move(error);
    // Every later pace() reads the clock, and so fails at once.
    until_clock_ = 0;
    return false;
}

bool Budget::take(std::size_t n) {
    if (exceeded_) return false;
    taken_ += n;
    if (max_bytes_ == 0 || taken_ <= max_bytes_) return true;
    return fail(Error{ErrorKind::LimitExceeded,
                      "decoded data over " + std::to_string(max_bytes_) + " bytes"});
}

void Budget::give_back(std::size_t n) { taken_ -= n < taken_ ? n : taken_; }

std::size_t Budget::room() const {
    if (max_bytes_ == 0) return std::numeric_limits<std::size_t>::max();
    if (taken_ >= max_bytes_) return 0;
    const std::uint64_t left = max_bytes_ - taken_;
    return left < std::numeric_limits<std::size_t>::max() ? static_cast<std::size_t>(left)
                                                          : std::numeric_limits<std::size_t>::max();
}

bool Budget::check_time() {
    until_clock_ = kClockStride;
    if (exceeded_) return fail(*exceeded_);
    if (!deadline_ || Clock::now() < *deadline_) return true;
    return fail(Error{ErrorKind::LimitExceeded, "time limit of " + seconds_text(seconds_) + " s"});
}

Status Budget::status() const {
    if (exceeded_) return *exceeded_;
    return Unit{};
}

std::string seconds_text(double seconds) {
    if (!std::isfinite(seconds)) return seconds > 0 ? "inf" : "nan";
    if (seconds == std::trunc(seconds) && std::fabs(seconds) < 1e16) {
        return std::to_string(static_cast<long long>(seconds));
    }
    // The shortest digits that read back as the same double, in scientific
    // form ("5e-02", "1.5e+00"), laid out as Python's repr does: fixed
    // notation for exponents from -4 to 15, scientific otherwise.
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::scientific);
    if (ec != std::errc()) return "?";
    const std::string_view sci(buf, static_cast<std::size_t>(end - buf));
    const std::size_t e = sci.find('e');
    int exponent = 0;
    std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                    exponent);
    if (exponent < -4 || exponent >= 16) return std::string(sci);
    std::string out;
    std::string_view mantissa = sci.substr(0, e);
    if (mantissa.front() == '-') {
        out += '-';
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') digits += c;
    }
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
        return out;
    }
    const auto point = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= point) digits.append(point - digits.size() + 1, '0');
    out += digits.substr(0, point);
    out += '.';
    out += digits.substr(point);
    return out;
}

}  // namespace vellox_core
