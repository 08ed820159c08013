// The command line's pipeline options: --quiet.

#include "TestSupport.h"
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

namespace {

// A non-separable grade within 0.05..0.9 on a 33-point cube (red fastest).
QByteArray cubeText()
{
    QByteArray text = "LUT_3D_SIZE 33\n";
    for (int i = 0; i < 33 * 33 * 33; ++i) {
        const double r = i % 33 / 32.0, g = i / 33 % 33 / 32.0, b = i / 1089 / 32.0;
        const double v[3] = {0.7 * r + 0.2 * g + 0.1 * b * b, 0.9 * std::pow(g, 1.2) + 0.1 * r, 0.8 * std::pow(b, 0.8) + 0.2 * g};
        for (int c = 0; c < 3; ++c)
            text += QByteArray::number(0.05 + 0.85 * v[c], 'g', 9) + (c < 2 ? " " : "\n");
    }
    return text;
}

} // namespace

class TestPipeline : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cube;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // A in a list of arguments stands for the cube.
    QStringList files(QStringList arguments) const
    {
        for (QString &a : arguments)
            a = a == "A" ? m_cube : a;
        return arguments;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");
        m_cube = TestSupport::writeFile(path("a.cube"), cubeText());
    }

    // --quiet drops the notes (here: a cube resampled to the 64 points a tiled image holds), not
    // the errors.
    void quietAndRefusals()
    {
        const QString image = path("tiled.png");
        const TestSupport::ProcessResult noted = TestSupport::runConvert({m_cube, image});
        QVERIFY2(noted.exitCode == 0 && noted.err.contains("note: resampled"), noted.err.constData());
        const QByteArray written = TestSupport::readFile(image);
        const TestSupport::ProcessResult quiet = TestSupport::runConvert({"--quiet", m_cube, image});
        QVERIFY2(quiet.exitCode == 0 && quiet.err.isEmpty(), quiet.err.constData());
        QCOMPARE(TestSupport::readFile(image), written);
        const struct { QStringList arguments; int exitCode; const char *says; } refusals[] = {
            {{"-q", "missing.cube", "x.cube"}, 1, "missing.cube: "},
        };
        for (const auto &refusal : refusals) {
            const TestSupport::ProcessResult r = TestSupport::runConvert(files(refusal.arguments));
            QVERIFY2(r.exitCode == refusal.exitCode && r.err.count('\n') == 1 && r.err.contains(refusal.says), r.err.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "test_pipeline.moc"
