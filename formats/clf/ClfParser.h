#pragma once

// The XML side of CLF and CTF files: reads a ProcessList into its process
// nodes (ClfNodes.h), normalising every value the file states in the units
// of a node's bit depths, and refuses what it cannot evaluate with the line
// and the reason.

#include "formats/clf/ClfNodes.h"

#include <QString>

#include <vector>

class QFile;

namespace LutClf {

// Reads the ProcessList in file (opened for reading) into nodes, in file
// order; clfFile tells a .clf file from a .ctf one. False, with error set to
// "line N: reason", when the file is not a ProcessList with at least one
// node that can be evaluated, or breaks a rule of its version.
bool parseProcessList(QFile &file, bool clfFile, std::vector<Node> &nodes, QString &error);

} // namespace LutClf
