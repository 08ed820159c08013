#pragma once

class Read_LUTFile;

// Tetrahedral interpolation of a container's 3D table. Stateless: both
// operations are class-level.
class LutCalc
{
public:
    // Evaluates source's cube at point (one component per table axis, in the
    // source's 3D domain) into result. Points outside the domain take the
    // values on its boundary. The source must hold a 3D table.
    static void sampleCube(const float point[3], float result[3], const Read_LUTFile *source);

    // Fills every entry of destination's cube (already allocated at its size
    // M) by sampling source at (i, j, k) / (M - 1) over 0..1 on each axis,
    // in the same axis order. Returns false, writing nothing, when either
    // container has no cube or M is below 2 (a 1-point lattice has no step).
    static bool resampleCube(const Read_LUTFile *source, Read_LUTFile *destination);

    // The value of one channel of a 1D table of n entries of three floats,
    // evenly spaced over the input 0..1, at input t: linear interpolation
    // between the two nearest entries. Inputs beyond 0..1 (and a NaN) take
    // the value at the nearer end.
    static float sample1D(const float *entries, int n, int channel, double t);

    // Fills every entry of destination's 1D table (already allocated at its
    // size m) by sampling source's at i / (m - 1). Returns false, writing
    // nothing, when either container has no 1D table or m is below 2.
    static bool resample1D(const Read_LUTFile *source, Read_LUTFile *destination);
};
