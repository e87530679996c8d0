#include "base/ConsistencyCheck.h"

#include <atomic>
#include <cstdio>

namespace corvex {
namespace {

void WriteToStandardError(const char* expression, const char* file, int line)
{
    std::fprintf(stderr, "Corvex: consistency check failed: %s (%s:%d)\n", expression, file, line);
}

std::atomic<CheckHandler> g_handler{&WriteToStandardError};

} // namespace

CheckHandler SetCheckHandler(CheckHandler handler)
{
    return g_handler.exchange(handler ? handler : &WriteToStandardError);
}

bool ReportFailedCheck(const char* expression, const char* file, int line)
{
    g_handler.load(std::memory_order_relaxed)(expression, file, line);
    return false;
}

} // namespace corvex
