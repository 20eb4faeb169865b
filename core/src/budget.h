// The budget of one call: the caller's time limit and maximum of decoded
// bytes, and what the call has used of them so far.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "object.h"
#include "result.h"

namespace vellox_core {

// Made when a call starts and passed by pointer to where its work happens:
// the page loop, the stream decoders, the content reader and the page
// interpreter. Every check fails with ErrorKind::LimitExceeded once a limit
// is passed, and keeps failing with the same error: code that degrades
// gracefully (a font that does not load is skipped) may swallow one failed
// check, but the next one, at the latest the page loop's, fails the call.
// A budget without limits only counts.
class Budget {
public:
    // Work units (content operations, decoder steps) between two readings
    // of the clock. An operation costs 20 to 100 ns, so the clock is read
    // every 0.1 to 0.4 ms of work, and its 20 ns per reading vanish.
    static constexpr std::size_t kClockStride = 4096;

    Budget() = default;
    // `seconds` from now and `max_bytes` decoded bytes in all; 0 (or a
    // value that is not a positive number) for either is no limit.
    Budget(double seconds, std::uint64_t max_bytes);

    // Counts `n` more decoded bytes; false once the total passes the maximum.
    bool take(std::size_t n);
    // Uncounts `n` bytes counted before: the intermediate output of a filter
    // chain, once the next filter has replaced it.
    void give_back(std::size_t n);
    // Bytes that may still be decoded before the maximum is passed.
    std::size_t room() const;

    // Counts `work` units; every kClockStride of them the clock is read.
    // False once a limit has been passed.
    bool pace(std::size_t work = 1) {
        if (work < until_clock_) {
            until_clock_ -= work;
            return true;
        }
        return check_time();
    }
    // Reads the clock now; false once a limit has been passed.
    bool check_time();

    bool exceeded() const { return exceeded_.has_value(); }
    // The limit passed first. Only once exceeded().
    const Error& error() const { return *exceeded_; }
    // Failure with the limit passed first, if any.
    Status status() const;
    // Decoded bytes counted so far.
    std::uint64_t decoded() const { return taken_; }

private:
    bool fail(Error error);

    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> deadline_;
    double seconds_ = 0;
    std::uint64_t max_bytes_ = 0;  // 0: none
    std::uint64_t taken_ = 0;
    std::size_t until_clock_ = kClockStride;
    std::optional<Error> exceeded_;
};

// A number of seconds as Python writes a float (0.05, 1.5, 1e-05), but an
// integral value as an integer (2): the caller's value in the limit's
// message, whichever of the two it passed.
std::string seconds_text(double seconds);

}  // namespace vellox_core
