#pragma once

#include <QtGlobal>

// How long a live stream waits before trying a failed transfer again: 1 s after the first
// failure of a round, doubling up to 30 s. Short enough that a blip costs a second, long enough
// that an outage of minutes does not turn into a flood of requests.
namespace RetryPause {

constexpr qint64 firstMs = 1000;
constexpr qint64 longestMs = 30000;
// What is still pending when a live stream stops gets this long in all.
constexpr qint64 stopBudgetMs = 30000;
// A pause the server asks for (Retry-After) is kept, within these bounds: a service that says
// "now" must not get a flood of tries, one that says "tomorrow" must not hold a stream's slides.
constexpr qint64 shortestRequestedMs = firstMs;
constexpr qint64 longestRequestedMs = 120000;

// The pause after the given number of failures in a row (1 or more).
constexpr qint64 afterFailures(int failures)
{
    qint64 pause = firstMs;
    for (int i = 1; i < failures && pause < longestMs; ++i)
        pause *= 2;
    return qMin(pause, longestMs);
}

} // namespace RetryPause
