#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>

class QFile;

// File names as the system gives them: bytes. A name that is not UTF-8
// (a file made under another encoding, "x\xff.cube") must still be read and
// written under its own bytes, but the toolkit decodes names as UTF-8 and
// turns every byte it cannot decode into U+FFFD, which names no file.
//
// Here a name is decoded as UTF-8, and each byte that is not part of a UTF-8
// sequence becomes the lone surrogate U+DC80..U+DCFF (a code point no valid
// UTF-8 text decodes to); encoding turns those back into their bytes. So
// toBytes(fromBytes(b)) == b for any b, and a name the system gave passes
// through string operations (directories, base names, extensions) and back
// to the system unchanged. Every place a name goes to the system goes
// through toBytes: the functions below, or a descriptor they opened.
namespace LutFileNames {

QString fromBytes(const QByteArray &name);
QByteArray toBytes(const QString &name);

// The program's arguments (argv[0] first), decoded by fromBytes.
QStringList arguments(int argc, char **argv);

// Opens path for reading: a descriptor (close-on-exec), or -1 with the
// system's reason ("No such file or directory"; "Is a directory" for a
// folder, which the system would open).
int openForReading(const QString &path, QString *error);
// The same as a QFile (which closes the descriptor) or a stdio stream.
bool openForReading(QFile &file, const QString &path, QString *error);
std::FILE *openStream(const QString &path, QString *error);

bool exists(const QString &path);
bool isDirectory(const QString &path);
// Makes the folder and every missing folder above it; false with the
// system's reason.
bool makePath(const QString &path, QString *error);
// path made absolute (against the working folder) and cleaned of "." and
// ".." parts, as QFileInfo::absoluteFilePath() makes it, with the working
// folder's name kept in its own bytes. No link is followed.
QString absolutePath(const QString &path);
// What the file at path is, as the system tells files apart (its device and
// inode): two names of one file give the same identity. Empty when path
// names no file.
QByteArray identity(const QString &path);

} // namespace LutFileNames
