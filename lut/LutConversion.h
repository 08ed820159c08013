#pragma once

#include "lut/LutCdl.h"
#include "lut/LutFormats.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

class Read_LUTFile;

// One conversion, from a file read to a file written: the rules the window
// and the command line share. It reads the input in the format chosen for
// it, brings the LUT to the output's lattice (resampling the table, or
// evaluating what the file means for a bake), chooses the output's scale and
// writes through the writer dispatch, and says what went wrong and what the
// conversion changed on the way.
//
// The road: convert() → read() (Read_LUTFile::readLut, the format's reader)
// → prepare() (LutCalc::resampleCube / bakeCube / resample1D / bake1D) →
// Write_LUTFile::writeLut (the format's writer).
namespace LutConversion {

enum class Status {
    Done = 0,
    ReadFailed = 1,  // the input could not be read
    WriteFailed = 2, // the output could not be written, or cannot hold what the input holds
    Usage = 64,      // the request asks for what the output cannot be (a size beyond its bounds)
};

// How one side's channels and lattice points are ordered.
struct Order
{
    // "Default Order": the format's own order where it has one.
    bool defaultOrder = true;
    // The order flags: those the format's reader assumes (so that a file
    // written reads back as it came in), or dataRGB and tableRGB.
    bool formatFlags = true;
    bool dataRGB = true;
    bool tableRGB = true;
};

// One step of a pipeline after the input, in the order given: a LUT file
// applied (what it means, read as a conversion reads its input), a file's
// inverse, or an ASC CDL grade.
struct Step
{
    enum class Kind { Apply, ApplyInverse, Grade };
    Kind kind = Kind::Apply;
    QString file; // Apply, ApplyInverse
    LutCdl grade; // Grade
};

// The entries of a shaper in front of a 3D table when not told otherwise:
// enough that a log2 shaper over 14 stops, interpolated linearly, stays
// within 5e-4 of the curve from 0.02 up.
constexpr int kDefaultShaperSize = 4096;
constexpr int kMaxShaperSize = 65536;

struct Request
{
    QString input;                   // the file to read
    QString inputName;               // how messages name it; the path when empty
    const LutFormat *from = nullptr; // null: chosen from the input's name (or content)
    bool fromContent = false;        // the input has no name to go by (standard input)
    Order inOrder;
    // Read what the file means (shapers, input ranges, values outside 0..1)
    // and evaluate it on the output's lattice; off: the plain reading, the
    // tables as the container stores them, clamped, nothing around them
    // applied (with a note of what that left out).
    bool bake = true;
    // The input must hold a 3D table of its own (the window writes nothing
    // for a 1D-only file).
    bool require3DTable = false;
    QString cccid;                   // the ColorCorrection a CDL input's reader takes; empty: the first
    // A pipeline: the input's inverse instead of the input, then the steps
    // in order. Either makes the conversion bake the whole chain, read for
    // what each file means, as one transform on the output's lattice (3D
    // when any part mixes the channels).
    bool inverse = false;
    std::vector<Step> steps;
    // Legal range (codes 64..940 of 1023) on the input or output side: the
    // LUT written takes (or gives) legal-range values, scaled to and from
    // the full range 0..1 the input and steps work in. Either makes the
    // conversion a pipeline.
    bool inputLegal = false;
    bool outputLegal = false;
    // An input span: the LUT written takes inputs inputMin..inputMax (on
    // every channel) instead of 0..1. With a shaper, a 1D table in front of
    // the 3D table maps the span onto the lattice's 0..1, linearly or
    // logarithmically (log2 needs inputMin above 0); without one, the span
    // is the table's domain. An output format that holds neither the span
    // nor the shaper asked for is refused. Either makes the conversion
    // bake what the input means.
    enum class Shaper { None, Linear, Log2 };
    bool inputRange = false;
    double inputMin = 0.0;
    double inputMax = 1.0;
    Shaper shaper = Shaper::None;
    int shaperSize = kDefaultShaperSize;

    QString output;                // the file to write ("-": standard output)
    QString outputDir;             // no output: a file in this folder named after the input
    const LutFormat *to = nullptr; // null: cube (spi1d for a 1D table only, into a folder)
    int size = 0;                  // the output's cube size or 1D length; 0: the input's own
    int scale = 0;                 // 0: the output format's default
    bool force3D = false;          // a format of either dimension writes a cube even of a 1D transform
    Order outOrder;
    QString sourcePath;            // the file the table came from, for formats that name it
    // The inputs of a run of several (LutFileNames::identity of each): an
    // output that is one of them (this input's own file too) is refused
    // before anything is written over it.
    const QSet<QByteArray> *runInputs = nullptr;
};

struct Result
{
    Status status = Status::Done;
    QString file;      // the file the reason is about, as messages name it
    QString reason;
    QStringList notes; // about the input, once the output is written ("note: ...")
    const LutFormat *readAs = nullptr; // the format the input was read in
    QString output;    // the file written, or that would have been
};

// How messages name a file: "-" is standard input (or output).
QString inputName(const QString &path);
QString outputName(const QString &path);

// The format an input is read in: the one asked for, else the catalogue's
// choice by name, or by content for an input without one.
const LutFormat *inputFormat(const Request &request);

// Reads the input into lut as the conversion reads it.
Result read(const Request &request, Read_LUTFile *lut);
// Reads the input's transform into transform as a conversion does before
// it prepares the output: the input alone (read as request.bake says), or,
// for a pipeline, the input read for what it means (or its inverse) composed
// with every step, as one evaluate. Failures of memory or threads come back
// as a ReadFailed result.
Result readTransform(const Request &request, Read_LUTFile *transform);
// Reads what the header of the input says (sizes, domains) into lut, in the
// format the conversion would read it in; false with lut's errorString set.
bool readHeader(const Request &request, Read_LUTFile *lut);

// The whole conversion. written, when given, holds the outputs of a run of
// several inputs: an output already in it is refused, one written is added.
// Failures of memory or threads anywhere on the way come back as a result.
Result convert(const Request &request, QSet<QString> *written = nullptr);

} // namespace LutConversion
