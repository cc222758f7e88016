// Stopping a packing run: the stop flag, the deadline and the poll, scopes
// that nest and stay on their thread, and a run stopped anywhere leaving the
// next run on its thread exactly as a fresh one.
#include "engine/packing_control.hpp"

#include <atomic>
#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/packer.hpp"
#include "interchange/request_reader.hpp"
#include "interchange/result_writer.hpp"
#include "packing_checks.hpp"

namespace stowvex {
namespace {

using Reason = PackingStopped::Reason;

// Calls check_stop up to `calls` times; the reason of the stop, if any, and
// how many calls it took.
struct Checked {
    std::optional<Reason> stopped;
    long calls = 0;
};

Checked check_many(long calls) {
    Checked checked;
    try {
        for (checked.calls = 1; checked.calls <= calls; ++checked.calls) check_stop();
        checked.calls = calls;
    } catch (const PackingStopped& stop) {
        checked.stopped = stop.reason();
    }
    return checked;
}

TEST(CheckStop, ThrowsAtTheFirstCheckOnceTheFlagIsSet) {
    std::atomic<bool> stop{false};
    PackingControl control;
    control.stop = &stop;
    const PackingControlScope scope(control);
    EXPECT_FALSE(check_many(10'000).stopped);
    stop = true;
    const Checked checked = check_many(10);
    EXPECT_EQ(checked.stopped, Reason::kRequested);
    EXPECT_EQ(checked.calls, 1);
}

TEST(CheckStop, ThrowsSoonAfterTheDeadline) {
    PackingControl past;
    past.deadline = PackingControl::Clock::now() - std::chrono::milliseconds(1);
    {
        const PackingControlScope scope(past);
        const Checked checked = check_many(10);
        EXPECT_EQ(checked.stopped, Reason::kDeadline);
        EXPECT_EQ(checked.calls, 1);  // a new scope reads the clock at once
    }
    PackingControl soon;
    const auto start = PackingControl::Clock::now();
    soon.deadline = start + std::chrono::milliseconds(20);
    const PackingControlScope scope(soon);
    const Checked checked = check_many(1L << 40);
    const auto elapsed = PackingControl::Clock::now() - start;
    EXPECT_EQ(checked.stopped, Reason::kDeadline);
    EXPECT_GE(elapsed, std::chrono::milliseconds(20));
    EXPECT_LT(elapsed, std::chrono::seconds(5));  // only that it stopped at all
}

struct Polls {
    int calls = 0;
    int stop_at = 0;  // the call that asks for the stop; 0: none
};

bool count_poll(void* context) {
    auto* polls = static_cast<Polls*>(context);
    return ++polls->calls == polls->stop_at;
}

TEST(CheckStop, PollsOnlyOnceItsIntervalHasPassedAndStopsWhenAsked) {
    Polls polls;
    PackingControl control;
    control.poll = &count_poll;
    control.poll_context = &polls;
    control.poll_interval = std::chrono::hours(1);
    {
        const PackingControlScope scope(control);
        EXPECT_FALSE(check_many(100'000).stopped);
        EXPECT_EQ(polls.calls, 0);  // the first poll is an interval after the start
    }
    control.poll_interval = std::chrono::milliseconds(0);
    polls.stop_at = 3;
    const PackingControlScope scope(control);
    const Checked checked = check_many(100'000);
    EXPECT_EQ(checked.stopped, Reason::kPolled);
    EXPECT_EQ(polls.calls, 3);
    EXPECT_LE(checked.calls, 3 * 256);  // the clock is read once in 256 checks
}

TEST(PackingControlScope, NestedScopesRestoreTheOuterControl) {
    EXPECT_EQ(packing_control(), nullptr);
    Polls polls;
    PackingControl outer;
    outer.poll = &count_poll;
    outer.poll_context = &polls;
    outer.poll_interval = std::chrono::hours(1);
    {
        const PackingControlScope outer_scope(outer);
        std::atomic<bool> stop{true};
        PackingControl inner;
        inner.stop = &stop;
        {
            const PackingControlScope inner_scope(inner);
            EXPECT_EQ(packing_control(), &inner);
            EXPECT_EQ(check_many(5).stopped, Reason::kRequested);
        }
        EXPECT_EQ(packing_control(), &outer);
        // The outer control is back with its own timing: its poll is still an
        // hour away, so nothing stops and nothing is polled.
        EXPECT_FALSE(check_many(100'000).stopped);
        EXPECT_EQ(polls.calls, 0);
    }
    EXPECT_EQ(packing_control(), nullptr);
    EXPECT_FALSE(check_many(1000).stopped);
}

TEST(PackingControlScope, BelongsToTheThreadThatMadeIt) {
    std::atomic<bool> stop{true};
    PackingControl control;
    control.stop = &stop;
    control.threads = 3;
    const PackingControlScope scope(control);
    const PackingControl* seen = &control;
    std::optional<Reason> stopped_there;
    std::thread other([&] {
        seen = packing_control();
        stopped_there = check_many(1000).stopped;
    });
    other.join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_FALSE(stopped_there);
    EXPECT_EQ(packing_control()->threads, 3);
    EXPECT_EQ(check_many(5).stopped, Reason::kRequested);
}

// A request of a few hundred items over weight-limited box types: several
// boxes, so that weight balancing runs, and free spaces at every depth.
PackRequest balanced_request(unsigned seed, int count) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> side(1, 9);
    std::uniform_real_distribution<double> weight(0.5, 20.0);
    PackRequest request;
    for (int k = 0; k < count; ++k) {
        const std::string code = "I" + std::to_string(k);
        request.items.add(make_item(code, code, side(rng), side(rng), side(rng), weight(rng), "",
                                    k % 5 == 0 ? Rotation::KEEP_FLAT : Rotation::BEST_FIT));
    }
    request.boxes.add(make_box("S", 12, 14, 10, 600, 2, true, std::nullopt));
    request.boxes.add(make_box("M", 16, 18, 14, 900, 3, true, std::nullopt));
    request.boxes.add(make_box("L", 22, 24, 18, 1200, 5, true, 2));
    return request;
}

std::string packed_text(const PackRequest& request) {
    return to_json_text(pack_items(request.items, request.boxes), -1);
}

// The result of a thread that never packed anything before.
std::string fresh_text(const PackRequest& request) {
    std::string text;
    std::thread fresh([&] { text = packed_text(request); });
    fresh.join();
    return text;
}

TEST(PackingStopped, AStopAnywhereLeavesTheNextRunAsAFreshOne) {
    const PackRequest request = balanced_request(31, 160);
    const std::size_t boxes = pack_items(request.items, request.boxes).box_count();
    ASSERT_TRUE(boxes >= 2 && boxes <= 12) << boxes << " boxes: no weight balancing";
    const std::string expected = fresh_text(request);
    // Stops after 256 * polls checks: early in the driver, deep in a packing,
    // in the balancing pass, until the run ends before the poll asks.
    int stopped = 0;
    bool finished = false;
    for (int stop_at = 1; !finished; stop_at *= 2) {
        Polls polls;
        polls.stop_at = stop_at;
        PackingControl control;
        control.poll = &count_poll;
        control.poll_context = &polls;
        control.poll_interval = std::chrono::milliseconds(0);
        try {
            const PackingControlScope scope(control);
            const std::string text = packed_text(request);
            finished = true;
            EXPECT_EQ(text, expected) << "a run under a control that never stopped it";
        } catch (const PackingStopped& stop) {
            EXPECT_EQ(stop.reason(), Reason::kPolled);
            ++stopped;
        }
        ASSERT_EQ(packed_text(request), expected) << "after a stop at poll " << stop_at;
    }
    EXPECT_GE(stopped, 6);
}

TEST(PackingStopped, AStopInALongListLeavesTheNextShortOneAsAFreshOne) {
    // Over 4096 items: the packer keeps no buffers of such a list when it
    // ends, but a stop leaves them to the next packing, which resets them.
    PackRequest long_request;
    for (int k = 0; k < 5000; ++k) {
        const std::string code = "T" + std::to_string(k);
        long_request.items.add(
            make_item(code, code, 1 + k % 3, 1 + k % 4, 1 + k % 2, 1, "", Rotation::BEST_FIT));
    }
    long_request.boxes.add(make_box("BIG", 40, 40, 40, -1, 0, true, std::nullopt));
    const PackRequest short_request = balanced_request(5, 120);
    const std::string expected = fresh_text(short_request);
    for (int stop_at : {1, 4, 16}) {
        Polls polls;
        polls.stop_at = stop_at;
        PackingControl control;
        control.poll = &count_poll;
        control.poll_context = &polls;
        control.poll_interval = std::chrono::milliseconds(0);
        const PackingControlScope scope(control);
        EXPECT_THROW(packed_text(long_request), PackingStopped);
        polls.stop_at = 0;  // the short one runs to its end under the same control
        EXPECT_EQ(packed_text(short_request), expected) << "after a stop at poll " << stop_at;
    }
}

TEST(PackingStopped, ReadingALongRequestStopsAndTheNextReadingWorks) {
    std::string text = "{\"items\": [";
    for (int k = 0; k < 3000; ++k) {
        if (k > 0) text += ", ";
        text += "{\"ItemCode\": \"I" + std::to_string(k) +
                "\", \"Width\": 1, \"Length\": 2, \"Depth\": 3}";
    }
    text += "], \"boxes\": [{\"Reference\": \"B\", \"Width\": 10, \"Length\": 10, \"Depth\": 10}]}";
    // The plain scanner, the library's event parser (a text with an escape)
    // and the library's value (a text with "items" twice, the last of which
    // counts) all stop.
    std::string escaped = text;
    escaped.replace(escaped.find("\"I0\""), 4, "\"\\u00490\"");
    const std::string twice = "{\"items\": [], " + text.substr(1);
    for (const std::string& request : {text, escaped, twice}) {
        std::atomic<bool> stop{true};
        PackingControl control;
        control.stop = &stop;
        {
            const PackingControlScope scope(control);
            EXPECT_THROW(parse_request(request), PackingStopped);
        }
        EXPECT_EQ(parse_request(request).items.size(), 3000u);
    }
}

}  // namespace
}  // namespace stowvex
