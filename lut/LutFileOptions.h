#pragma once

#include "lut/LutFormats.h"

#include <QString>

// What one side of a conversion asks for: the file, its format and how its
// channels and lattice points are ordered. Built once for reading and once
// for writing.
struct LutFileOptions
{
    QString path;
    LutFormatId format = LutFormatId::Cube;
    bool defaultOrder = true;  // "Default Order" is checked
    bool dataOrderRGB = true;  // "Data Order" shows "RGB"
    bool tableOrderRGB = true; // "Table Order" shows "RGB"
    int outputScale = 1;       // writing: 1 writes normalised reals, 2 or more integers
    int size3D = 0;            // writing: the cube size to write
    bool bake = false;         // reading: keep what the file means for LutCalc::bake
    QString cccid = QString(); // reading: the ColorCorrection of a CDL file to take (empty: the first)
    QString sourcePath = QString(); // writing: the file the table came from, for formats that name it
};
