// The storing of samples into the waves (core/samples.h).
#include <gtest/gtest.h>

#include <vector>

#include "core/samples.h"

namespace {

// The stores past the caches (only waves of many megabytes take them) give the
// same points as the plain widening, whatever the alignment and the tail.
TEST(StoreSamples, StreamedDoublesEqualPlainOnes)
{
    std::vector<float> samples(70);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = 0.1f * static_cast<float>(i) - 3.3f;
    const struct {
        uint32_t at, count;
    } cases[] = {{0, 70}, {1, 69}, {3, 64}, {2, 5}, {0, 3}, {5, 1}, {4, 0}};
    for (const auto& c : cases) {
        std::vector<double> plain(80, -1.0), streamed(80, -1.0);
        StoreSamples(plain.data(), kWaveFloat64, c.at, samples.data(), c.count, false);
        StoreSamples(streamed.data(), kWaveFloat64, c.at, samples.data(), c.count, true);
        EXPECT_EQ(streamed, plain) << "at " << c.at << ", count " << c.count;
        EXPECT_EQ(plain[c.at], c.count ? static_cast<double>(samples[0]) : -1.0) << "at " << c.at;
    }
}

}  // namespace
