#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <vector>

class QIODevice;

// DPX pictures (SMPTE 268M), the film-scan and log-plate files, read and
// written a scan line at a time for --apply. The first image element is
// read: RGB or RGBA samples of 8, 10, 12 or 16 bits, 10 bits filled into
// 32-bit words by method A or B, 12 bits filled into 16-bit words, in
// either byte order, without run-length encoding. Rows come as red, green,
// blue, alpha codes of the file's depth (an opaque alpha where it has
// none). A failure comes back as a reason; nothing is printed.
class DpxReader
{
public:
    // Opens path and reads the header; checks that the file holds every
    // row its header declares. False with a reason.
    bool open(const QString &path);

    int width() const { return m_width; }
    int height() const { return m_height; }
    int bits() const { return m_bits; }
    bool hasAlpha() const { return m_channels == 4; }
    // The header's first 2048 bytes (file, image, orientation, film and
    // television headers) in big-endian order, for a writer to keep.
    const QByteArray &header() const { return m_header; }

    // Reads the next row: width() * 4 codes.
    bool readRow(quint16 *codes);

    QString errorString() const { return m_error; }

private:
    bool fail(const QString &reason);

    QFile m_file;
    QString m_error;
    QByteArray m_header;
    std::vector<uchar> m_row;
    qint64 m_stride = 0; // bytes from one row to the next (with its padding)
    int m_rowsRead = 0;
    int m_width = 0;
    int m_height = 0;
    int m_bits = 0;
    int m_channels = 3;
    int m_packing = 0;
    bool m_bigEndian = true;
};

// Writes a big-endian DPX of one RGB or RGBA element: 10-bit samples
// filled into 32-bit words by method A (three to a word, the two low bits
// empty), or 16-bit samples. The header comes from a DPX read (its
// fields kept: times, names, orientation, film and television headers,
// but the layout and the transfer, which the LUT changed) or is made
// with every field undefined but the layout.
class DpxWriter
{
public:
    // bits: 10 or 16. keptHeader: DpxReader::header() of the input, or empty.
    bool open(QIODevice *device, int width, int height, int bits, bool alpha, const QByteArray &keptHeader,
              const QString &fileName);
    // Writes the next row from width * 4 codes.
    bool writeRow(const quint16 *codes);
    bool finish() { return true; }

    QString errorString() const { return m_error; }

private:
    QIODevice *m_device = nullptr;
    QString m_error;
    std::vector<uchar> m_row;
    int m_width = 0;
    int m_bits = 10;
    int m_channels = 3;
};
