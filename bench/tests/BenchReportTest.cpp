#include <gtest/gtest.h>

#include "bench/BenchReport.h"

namespace {

Samples samplesOf(std::initializer_list<double> values) {
    Samples samples;
    for (double value : values) samples.add(value);
    return samples;
}

TEST(Samples, MedianMinAndMaxIgnoreTheOrderOfRuns) {
    const Samples odd = samplesOf({5.0, 1.0, 4.0, 2.0, 3.0});
    EXPECT_DOUBLE_EQ(odd.median(), 3.0);
    EXPECT_DOUBLE_EQ(odd.min(), 1.0);
    EXPECT_DOUBLE_EQ(odd.max(), 5.0);

    const Samples even = samplesOf({10.0, 2.0, 8.0, 4.0});
    EXPECT_DOUBLE_EQ(even.median(), 6.0);

    const Samples none;
    EXPECT_TRUE(none.empty());
    EXPECT_DOUBLE_EQ(none.median(), 0.0);
}

TEST(ResultLine, WithPeerJudgesTheRatioAgainstTheTarget) {
    EXPECT_EQ(resultLine("transport_vs_pipe", 4'500'000, 3'000'000, 1.5, Better::Higher),
              "RESULT transport_vs_pipe ours=4500000 peer=3000000 ratio=1.5 target=1.5 met");
    EXPECT_EQ(resultLine("transport_vs_pipe", 4'000'000, 3'000'000, 1.5, Better::Higher),
              "RESULT transport_vs_pipe ours=4000000 peer=3000000 ratio=1.33 target=1.5 short");
    EXPECT_EQ(resultLine("x", 1.0, 0.0, 1.5, Better::Higher),
              "RESULT x ours=1 peer=0 ratio=0 target=1.5 short");
    EXPECT_EQ(resultLine("last_vs_first", 900, 1000, 0.8, Better::Within),
              "RESULT last_vs_first ours=900 peer=1000 ratio=0.9 target=0.8 met");
    EXPECT_EQ(resultLine("last_vs_first", 700, 1000, 0.8, Better::Within),
              "RESULT last_vs_first ours=700 peer=1000 ratio=0.7 target=0.8 short");
    EXPECT_EQ(resultLine("last_vs_first", 1300, 1000, 0.8, Better::Within),
              "RESULT last_vs_first ours=1300 peer=1000 ratio=1.3 target=0.8 short");
}

TEST(ResultLine, WithoutPeerComparesOursInTheFigureDirection) {
    EXPECT_EQ(resultLine("viewer_rate", 1'250'000, 1'000'000, Better::Higher),
              "RESULT viewer_rate ours=1250000 target=1000000 met");
    EXPECT_EQ(resultLine("viewer_stall_ms", 250.5, 200, Better::Lower),
              "RESULT viewer_stall_ms ours=250.5 target=200 short");
    EXPECT_EQ(resultLine("viewer_stall_ms", 12.25, 200, Better::Lower),
              "RESULT viewer_stall_ms ours=12.25 target=200 met");
}

TEST(NumberText, PlainNumbersDropTrailingZerosAndUnitsScale) {
    EXPECT_EQ(plainNumber(2.5), "2.5");
    EXPECT_EQ(plainNumber(3.0), "3");
    EXPECT_EQ(plainNumber(1.005e6), "1005000");
    EXPECT_EQ(plainNumber(0.333333), "0.33");

    EXPECT_EQ(unitText(2'712'000, Unit::PerSecond), "2.71 M/s");
    EXPECT_EQ(unitText(950, Unit::PerSecond), "950 /s");
    EXPECT_EQ(unitText(1536, Unit::Bytes), "1.50 KiB");
    EXPECT_EQ(unitText(12.34, Unit::Milliseconds), "12.3 ms");
    EXPECT_EQ(unitText(412.5e6, Unit::BytesPerSecond), "412 MB/s");
    EXPECT_EQ(spreadText(samplesOf({2e6, 1e6, 3e6}), Unit::PerSecond),
              "2.00 M/s [1.00 M/s .. 3.00 M/s]");
    EXPECT_EQ(spreadText(Samples(), Unit::PerSecond), "void");
}

}  // namespace
