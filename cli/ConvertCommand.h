#pragma once

#include <QStringList>

// chromaduct-convert: the format framework for scripts and batch work. It
// reads, resamples and writes through the same readLut, resampleCube and
// writeLut as the window; everything format-specific comes from the catalogue.
namespace ConvertCommand {

// Exit statuses.
constexpr int kExitSuccess = 0;
constexpr int kExitReadFailed = 1;  // an input could not be read
constexpr int kExitWriteFailed = 2; // an output could not be written, no writer, or no suitable table
constexpr int kExitUsage = 64;      // bad command line
// --compare: kExitSuccess when the two files agree within the tolerance.
constexpr int kExitDiffer = 1;      // they differ by more
constexpr int kExitNotCompared = 2; // a file could not be read or compared, or the report not written

// Runs chromaduct-convert with the given arguments (program name first) and
// returns the exit status. Results go to stdout, failures to stderr, one
// line each.
int run(const QStringList &arguments);

} // namespace ConvertCommand
