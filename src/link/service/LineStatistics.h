#pragma once

#include <array>
#include <cstdint>

namespace trv::service {

// What the line has done since the program started, counted as it happened: for monitoring.
struct LineStatistics {
    // Upper bounds of the reply-time buckets, in ms; a reply takes at most the reply window.
    static constexpr std::array<int, 9> kBucketsMs{5, 10, 25, 50, 100, 250, 500, 1000, 2500};

    std::uint64_t exchanges = 0;  // commands that went out
    std::uint64_t noReply = 0;    // of those, ended by the reply window without a reply
    std::uint64_t lost = 0;       // of those, cut short by the line's loss
    std::uint64_t lineLosses = 0; // the line lost while it was open
    // Replies by their time from the send to their carriage return.
    std::array<std::uint64_t, kBucketsMs.size()> replies{}; // in each bucket, not cumulative
    std::uint64_t repliesAbove = 0;                         // beyond the last bucket
    std::int64_t replyMsSum = 0;

    void replied(std::int64_t ms) {
        replyMsSum += ms;
        for (std::size_t i = 0; i < kBucketsMs.size(); ++i) {
            if (ms <= kBucketsMs[i]) {
                ++replies[i];
                return;
            }
        }
        ++repliesAbove;
    }
    std::uint64_t replyCount() const {
        std::uint64_t n = repliesAbove;
        for (const std::uint64_t c : replies)
            n += c;
        return n;
    }
};

} // namespace trv::service
