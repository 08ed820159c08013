#pragma once

#include <QString>

// Starting inputs for the fuzzer, made by code from the formats' data
// models: tables written by each format's own writer, text built for the
// read-only formats, LUT images and hand-made PNG and BMP headers at and
// past the size bounds. Each reader gets a folder named after it.
namespace FuzzSeeds {

// Seeds whose name starts with this must read; the others (crafted
// headers, shared corpus files) may be refused.
constexpr const char *kReadablePrefix = "valid-";

// Writes the seeds of every reader into dir/<format name>/. Returns the
// number of files written, or -1 when one cannot be written.
int write(const QString &dir);

// Copies the files of the corpus folder (searched recursively) whose
// extension a reader takes into dir/<format name>/shared-<file name>.
// Returns the number copied.
int copyCorpus(const QString &dir, const QString &corpus);

} // namespace FuzzSeeds
