// Stopping a packing run: the stop flag, the deadline and the poll, nested
// scopes, and a run stopped anywhere (reading included) leaving the next run
// on its thread exactly as a fresh one.
#include "engine/packing_control.hpp"

#include <atomic>
#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "engine/packer.hpp"
#include "interchange/request_reader.hpp"
#include "interchange/result_writer.hpp"

namespace stowvex {
namespace {

using Reason = PackingStopped::Reason;
using std::chrono::milliseconds;

// Why check_stop threw within `calls` calls, if it did, and at which call.
struct Checked {
    std::optional<Reason> stopped;
    long calls = 0;
};

Checked check_many(long calls) {
    Checked checked;
    try {
        for (checked.calls = 1; checked.calls <= calls; ++checked.calls) check_stop();
    } catch (const PackingStopped& stop) {
        checked.stopped = stop.reason();
    }
    return checked;
}

// A poll that counts its calls and asks for a stop at the call `stop_at`.
struct Polls {
    int calls = 0;
    int stop_at = 0;
};

bool count_poll(void* context) {
    auto* polls = static_cast<Polls*>(context);
    return ++polls->calls == polls->stop_at;
}

PackingControl polled(Polls& polls, milliseconds interval) {
    PackingControl control;
    control.poll = &count_poll;
    control.poll_context = &polls;
    control.poll_interval = interval;
    return control;
}

TEST(CheckStop, StopsAtOnceOnTheFlagAndOnceTheClockIsReadOnTheDeadlineAndThePoll) {
    std::atomic<bool> stop{false};
    PackingControl flagged;
    flagged.stop = &stop;
    {
        const PackingControlScope scope(flagged);
        EXPECT_FALSE(check_many(10'000).stopped);
        stop = true;
        const Checked checked = check_many(10);
        EXPECT_EQ(checked.stopped, Reason::kRequested);
        EXPECT_EQ(checked.calls, 1);
    }
    PackingControl late;
    const auto start = PackingControl::Clock::now();
    late.deadline = start + milliseconds(20);
    {
        const PackingControlScope scope(late);
        EXPECT_EQ(check_many(1L << 40).stopped, Reason::kDeadline);
        EXPECT_GE(PackingControl::Clock::now() - start, milliseconds(20));
    }
    Polls polls;
    polls.stop_at = 3;
    const PackingControl often = polled(polls, milliseconds(0));
    const PackingControlScope scope(often);
    const Checked checked = check_many(100'000);
    EXPECT_EQ(checked.stopped, Reason::kPolled);
    EXPECT_EQ(polls.calls, 3);
    EXPECT_EQ(checked.calls, 1 + 2 * 256);  // the clock at once, then once in 256 checks
}

TEST(PackingControlScope, NestedScopesRestoreTheOuterControlWithItsOwnTiming) {
    Polls polls;
    const PackingControl outer = polled(polls, std::chrono::hours(1));
    {
        const PackingControlScope outer_scope(outer);
        std::atomic<bool> stop{true};
        PackingControl inner;
        inner.stop = &stop;
        {
            const PackingControlScope inner_scope(inner);
            EXPECT_EQ(check_many(5).stopped, Reason::kRequested);
        }
        // The outer control is back with its own timing: its poll is an hour away.
        EXPECT_EQ(packing_control(), &outer);
        EXPECT_FALSE(check_many(100'000).stopped);
        EXPECT_EQ(polls.calls, 0);
    }
    EXPECT_EQ(packing_control(), nullptr);
}

// Some hundreds of items over weight-limited box types: several boxes, so
// that weight balancing runs, and free spaces at every depth.
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

TEST(PackingStopped, AStopAnywhereLeavesTheNextRunOnTheThreadAsAFreshOne) {
    const PackRequest balanced = balanced_request(31, 160);
    const std::size_t boxes = pack_items(balanced.items, balanced.boxes).box_count();
    ASSERT_TRUE(boxes >= 2 && boxes <= 12) << boxes << " boxes: no weight balancing";
    // Over 4096 items: the packer keeps no buffers of such a list when it ends,
    // but a stop leaves them to the next packing, which must reset them.
    PackRequest long_list;
    for (int k = 0; k < 5000; ++k) {
        const std::string code = "T" + std::to_string(k);
        long_list.items.add(
            make_item(code, code, 1 + k % 3, 1 + k % 4, 1 + k % 2, 1, "", Rotation::BEST_FIT));
    }
    long_list.boxes.add(make_box("BIG", 40, 40, 40, -1, 0, true, std::nullopt));
    std::string fresh;
    std::thread([&] { fresh = packed_text(balanced); }).join();
    // Stops after 256 * stop_at checks: in the driver, deep in a packing, in
    // the balancing pass, until the run ends before the poll asks.
    const PackRequest* const requests[] = {&balanced, &long_list};
    for (const PackRequest* request : requests) {
        int stopped = 0;
        bool finished = false;
        for (int stop_at = 1; !finished && stop_at < 64 * 1024; stop_at *= 2) {
            Polls polls;
            polls.stop_at = stop_at;
            const PackingControl control = polled(polls, milliseconds(0));
            try {
                const PackingControlScope scope(control);
                const std::string text = packed_text(*request);
                finished = true;
                if (request == &balanced) {
                    EXPECT_EQ(text, fresh) << "under a control";
                }
            } catch (const PackingStopped&) {
                ++stopped;
            }
            ASSERT_EQ(packed_text(balanced), fresh) << "after a stop at poll " << stop_at;
        }
        EXPECT_GE(stopped, 4);
    }
}

TEST(PackingStopped, ReadingALongRequestStopsAndTheNextReadingWorks) {
    std::string text = "{\"items\": [";
    for (int k = 0; k < 3000; ++k) {
        text += (k > 0 ? ", {\"ItemCode\": \"I" : "{\"ItemCode\": \"I") + std::to_string(k) +
                "\", \"Width\": 1, \"Length\": 2, \"Depth\": 3}";
    }
    text += "], \"boxes\": [{\"Reference\": \"B\", \"Width\": 9, \"Length\": 9, \"Depth\": 9}]}";
    // The plain scanner, the library's event parser (for an escape) and the
    // library's value (for "items" twice, the last of which counts).
    std::string escaped = text;
    escaped.replace(escaped.find("\"I0\""), 4, "\"\\u00490\"");
    for (const std::string& request : {text, escaped, "{\"items\": [], " + text.substr(1)}) {
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
