#pragma once

// The fuzz entry point: one input through one reader, then, when the read
// succeeds, through the resampler and a writer, as a conversion takes a
// file. Shared by the libFuzzer target (chromaduct-fuzz) and the replay
// runner (chromaduct-fuzz-replay) that runs tests/fuzz/regressions/ in the
// test suite.
//
// The reader is chosen by the CHROMADUCT_FUZZ_FORMAT environment variable
// (a catalogue name or identifier) or by setFormat(); when neither names
// one, the first byte of the input picks it (modulo the format count) and
// the rest is the file. The name "picture" (kPictureReader, or
// setPicture()) takes every input as a picture for --apply instead: read by
// the picture readers (PNG, JPEG, TIFF, BMP, DPX, ...), through a LUT, into
// a picture of a type the input's hash picks.

#include <QString>

#include <cstddef>
#include <cstdint>

struct LutFormat;

namespace FuzzTarget {

// The application object, a message handler that drops the readers' log,
// the scratch folder (under /dev/shm where there is one) and the format
// named by CHROMADUCT_FUZZ_FORMAT. Exits with a message when that variable
// names no readable format.
void initialise(int *argc, char ***argv);

constexpr const char *kPictureReader = "picture";

// Every later input goes to this reader (null: the environment's choice,
// or the first byte), or is a picture for --apply.
void setFormat(const LutFormat *format);
void setPicture();

// How the last input went: the reader it went to, and the failure reason
// (empty when it read).
struct Outcome
{
    const LutFormat *format = nullptr; // null for a picture
    const char *reader = "";           // the format's name, or kPictureReader
    bool read = false;
    QString reason;
};
const Outcome &lastOutcome();

// The folder the inputs and outputs are written to.
QString scratchFolder();

} // namespace FuzzTarget

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
