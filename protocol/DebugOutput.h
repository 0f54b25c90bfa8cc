#pragma once
// The diagnostic channel: plain lines, no levels. Discarded unless KELVARD_DEBUG is set:
// "1" writes the text as is to stderr, any other value is a file path to append to.

// Writes the text as given (callers end their lines with "\n").
void DebugOutput(const char* pszText);

// printf-style convenience for the lines that carry values.
void DebugOutputFormat(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
