#pragma once

#include <QString>

// One ASC CDL grade: slope, offset and power per channel, then one
// saturation, evaluated as version 1.2 of the ASC's decision list defines it
// (with its two clamps):
//   out = clamp(in * slope + offset) ^ power      per channel,
//   luma = 0.2126 R + 0.7152 G + 0.0722 B         (Rec. 709 weights),
//   out = clamp(luma + saturation * (out - luma)),
// clamp taking values into 0..1. A grade read from a .cc, .ccc or .cdl file
// fills it; so can any other source of the ten numbers (a process list's
// ASC_CDL node, grade options on the command line).
struct LutCdl
{
    double slope[3] = {1.0, 1.0, 1.0};
    double offset[3] = {0.0, 0.0, 0.0};
    double power[3] = {1.0, 1.0, 1.0};
    double saturation = 1.0;
    QString id;          // the ColorCorrection's id; may be empty
    QString description; // free text of the grade; may be empty

    // Applies the grade to rgb in place.
    void apply(double rgb[3]) const;
    // True when one channel's output depends on the others (saturation
    // other than 1), so a 1D table cannot hold the grade.
    bool mixesChannels() const { return saturation != 1.0; }
    // Checks the numbers against the ranges the grade has: every one
    // finite, slope and saturation 0 or more, power above 0. An empty
    // string when they are usable, else why not.
    QString problem() const;
};
