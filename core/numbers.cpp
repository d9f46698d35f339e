// Truncating host numbers.
#include "numbers.h"

#include <climits>
#include <cmath>

uint32_t TruncatedEpisode(double episode)
{
    const double t = std::trunc(episode);
    if (!(t > -9223372036854775808.0 && t < 9223372036854775808.0)) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(t)));
}

int32_t TruncateMode(double mode)
{
    // Written as a range test so that NaN fails it too.
    if (!(mode > -2147483649.0 && mode < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(mode);
}
