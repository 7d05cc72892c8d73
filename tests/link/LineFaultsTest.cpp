// Line faults: each kind strikes the frames it names and no others; a flipped or noisy frame
// is caught by the decoder, the next frame still arrives.
#include <gtest/gtest.h>

#include "link/LineFaults.h"

namespace wire {
namespace {

Bytes SomeFrame(uint16 seq) {
    return EncodeFrame(Frame{FrameType::Data, seq, {1, 2, 3}}, Variant::Series3);
}

TEST(LineFaults, ParseAcceptsTheRulesAndRefusesNonsense) {
    auto flip = LineFault::Parse("flip:3x2");
    ASSERT_TRUE(flip);
    EXPECT_EQ(flip->kind, LineFault::Kind::Flip);
    EXPECT_EQ(flip->frame, 3u);
    EXPECT_EQ(flip->count, 2u);
    EXPECT_EQ(LineFault::Parse("delay:2:150")->value, 150u);
    EXPECT_EQ(LineFault::Parse("noise:1:20")->value, 20u);
    EXPECT_EQ(LineFault::Parse("cut:5")->value, 0u);
    EXPECT_EQ(LineFault::Parse("corrupt:2")->value, 2u);
    for (const char* bad : {"flip", "flip:", "flip:0", "drop:x", "delay:1", "noise:1", "flip:1:5",
                            "corrupt:200", "cut:1x0", "zap:1", "dup:-1"})
        EXPECT_FALSE(LineFault::Parse(bad)) << bad;
}

TEST(LineFaults, EachKindStrikesOnlyTheFramesItNames) {
    LineFaults faults;
    faults.Set({*LineFault::Parse("flip:2"), *LineFault::Parse("drop:3"),
                *LineFault::Parse("dup:4"), *LineFault::Parse("noise:5:7"),
                *LineFault::Parse("delay:6:40"), *LineFault::Parse("cut:7:300")});
    std::vector<LineFaultResult> results;
    for (uint16 i = 1; i <= 8; ++i) results.push_back(faults.Apply(SomeFrame(i)));
    EXPECT_EQ(results[0].send, std::vector<Bytes>{SomeFrame(1)});
    ASSERT_EQ(results[1].send.size(), 1u);
    EXPECT_NE(results[1].send[0], SomeFrame(2));
    EXPECT_TRUE(results[2].send.empty());
    EXPECT_EQ(results[3].send, (std::vector<Bytes>{SomeFrame(4), SomeFrame(4)}));
    ASSERT_EQ(results[4].send.size(), 2u);
    EXPECT_EQ(results[4].send[0].size(), 7u);
    EXPECT_EQ(results[4].send[1], SomeFrame(5));
    EXPECT_EQ(results[5].delay, 40000);
    EXPECT_TRUE(results[6].cut);
    EXPECT_EQ(results[6].cutFor, 300000);
    EXPECT_EQ(results[7].send, std::vector<Bytes>{SomeFrame(8)});
    EXPECT_EQ(faults.Applied(), 6u);

    // The decoder drops the flipped frame and the noise, and takes the rest.
    FrameDecoder decoder;
    std::vector<Frame> frames;
    for (const LineFaultResult& r : results)
        for (const Bytes& piece : r.send) decoder.Feed(piece.data(), piece.size(), frames);
    std::vector<uint16> seqs;
    for (const Frame& f : frames) seqs.push_back(f.seq);
    // Noise may swallow the start of frame 5 (when it ends inside a would-be frame).
    std::erase(seqs, uint16(5));
    EXPECT_EQ(seqs, (std::vector<uint16>{1, 4, 4, 6, 7, 8})) << ::testing::PrintToString(seqs);
}

TEST(LineFaults, CorruptRateIsRoughlyThePercentAsked) {
    LineFaults faults(99);
    faults.Set({*LineFault::Parse("corrupt:10")});
    int changed = 0;
    for (uint16 i = 0; i < 2000; ++i) {
        Bytes frame = SomeFrame(i % 8);
        LineFaultResult r = faults.Apply(frame);
        if (r.send.size() == 1 && r.send[0] != frame) ++changed;
    }
    EXPECT_GT(changed, 120);
    EXPECT_LT(changed, 280);
}

}  // namespace
}  // namespace wire
