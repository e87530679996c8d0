#pragma once

// Internal consistency checks.
//
// A check guards an invariant or a capacity, never host input. When it fails it reports the
// expression, source file and line, and the caller then carries on as the block documents
// (clamp, refuse, return 0). Checks stay active in every build type, because the carry-on
// logic after a failed check is part of the behaviour.

namespace corvex {

using CheckHandler = void (*)(const char* expression, const char* file, int line);

// Installs a handler for failed checks and returns the previous one. nullptr restores the
// default handler, which writes one line to standard error.
CheckHandler SetCheckHandler(CheckHandler handler);

// Reports a failed check through the installed handler. Returns false so that a check can be
// used as a condition.
bool ReportFailedCheck(const char* expression, const char* file, int line);

} // namespace corvex

// Evaluates to true when expr holds; otherwise reports it and evaluates to false.
#define CORVEX_CHECK(expr) \
    (static_cast<bool>(expr) ? true : ::corvex::ReportFailedCheck(#expr, __FILE__, __LINE__))

// An unconditional failure, reported with the text "0".
#define CORVEX_FAIL() ::corvex::ReportFailedCheck("0", __FILE__, __LINE__)
