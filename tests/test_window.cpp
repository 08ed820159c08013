// The main window on the offscreen platform: start state, order coupling,
// languages, geometry, painting, and the conversion run behind the buttons
// with the dialogs answered by the test.

#include "TestSupport.h"

#include "app/MainWindow.h"
#include "lut/LutFormats.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

// The window with its dialogs answered from the test and its message boxes
// recorded ("title|text") instead of shown.
class ScriptedWindow : public MainWindow
{
public:
    QStringList openAnswer, dialogs, messages;
    QString saveAnswer;

    ScriptedWindow() { show(); }
    template <class T = QWidget> T *w(const QString &name) const
    {
        T *widget = findChild<T *>(name);
        if (!widget)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }
    QString text(const char *field) const { return w<QLineEdit>(field)->text(); }
    QComboBox *list(const char *name) const { return w<QComboBox>(name); }
    QCheckBox *box(const char *name) const { return w<QCheckBox>(name); }
    void press(const char *button) { QTest::mousePress(w<QPushButton>(button), Qt::LeftButton); }
    void chooseInput(const QStringList &names) { openAnswer = names; press("inputButton"); }
    void chooseOutput(const QString &name) { saveAnswer = name; press("outputButton"); }
    QString generate() { press("generateButton"); return messages.value(messages.size() - 1); }

protected:
    QStringList askOpenFileNames(const QString &caption, const QString &filter) override
    {
        dialogs << caption + '|' + filter;
        return openAnswer;
    }
    QString askSaveFileName(const QString &caption, const QString &filter) override
    {
        dialogs << caption + '|' + filter;
        return saveAnswer;
    }
    void showWarning(const QString &title, const QString &text) override { messages << title + '|' + text; }
};

const QString kOk = QStringLiteral("Successful|Export successful !");
const QString kUnsupported = QStringLiteral("Error|Format not supported !");
const QString kFileError = QStringLiteral("Error|File Error!");

// An affine transform with every output depending on all three inputs:
// tetrahedral interpolation reproduces it exactly, and any mix-up of axes
// or channels shows.
void affine(double r, double g, double b, double out[3])
{
    out[0] = 0.5 * r + 0.3 * g + 0.1 * b + 0.05;
    out[1] = 0.2 * r + 0.6 * g + 0.1 * b;
    out[2] = 0.1 * r + 0.2 * g + 0.7 * b;
}

// A cube file of size n: lines red, green, blue, red varying fastest.
QByteArray cubeText(int n, void (*f)(double, double, double, double *) = affine)
{
    QByteArray text = "TITLE \"t\"\nLUT_3D_SIZE " + QByteArray::number(n) + "\n";
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                double v[3];
                f(r / double(n - 1), g / double(n - 1), b / double(n - 1), v);
                for (int c = 0; c < 3; ++c)
                    text += QByteArray::number(v[c], 'f', 6) + (c < 2 ? ' ' : '\n');
            }
    return text;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir tmp;
    QString path(const QString &name) const { return tmp.filePath(name); }
    QString cube(const QString &name, int n) const { return TestSupport::writeFile(path(name), cubeText(n)); }

private slots:
    void startStateAndLanguages();
    void orderCoupling();
    void geometryAndPainting();
    void inputButton();
    void conversionOrdersAndSizes();
    void resampleAgreesWithOcio();
    void failuresAndMessages();
};

void TestWindow::startStateAndLanguages()
{
    ScriptedWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Chromaduct (v1.3.30)"));
    QCOMPARE(w.size(), QSize(1000, 480));
    QVERIFY(!w.centralWidget());
    for (const char *name : {"inputNameEdit", "inputTypeEdit", "inputSize3DEdit", "inputSize1DEdit",
                             "inputDimensionEdit"})
        QVERIFY(!w.w(name)->isEnabled() && w.text(name).isEmpty());
    QVERIFY(w.w("outputPathEdit")->isEnabled());
    QVERIFY(w.box("inputDefaultOrderBox")->isChecked() && w.box("outputDefaultOrderBox")->isChecked());
    auto items = [&](const char *name) {
        QStringList out{QString::number(w.list(name)->currentIndex())};
        for (int i = 0; i < w.list(name)->count(); ++i)
            out << w.list(name)->itemText(i);
        return out.join(' ');
    };
    QCOMPARE(items("inputDataOrderBox"), QStringLiteral("0 RGB BGR"));
    QCOMPARE(items("inputTableOrderBox"), QStringLiteral("0 BGR RGB"));
    QCOMPARE(items("outputDataOrderBox"), QStringLiteral("0 BGR RGB"));
    QCOMPARE(items("outputTableOrderBox"), QStringLiteral("0 BGR RGB"));
    QCOMPARE(items("outputSize3DBox"), QStringLiteral("0 17 33"));
    QCOMPARE(items("outputTypeBox"), "0 " + QString::fromUtf8(LutFormats::byId(0)->label));
    QCOMPARE(items("languageBox"), QStringLiteral("0 English 简体中文"));

    // Buttons and the 14 captions follow the language; the language caption stays.
    auto texts = [&] {
        QStringList out;
        for (const char *b : {"inputButton", "outputButton", "generateButton"})
            out << w.w<QPushButton>(b)->text();
        for (int i = 0; i < 14; ++i)
            out << w.w<QLabel>(i < 8 ? QStringLiteral("inputLabel%1").arg(i)
                                     : QStringLiteral("outputLabel%1").arg(i - 8))->text();
        return out.join('|') + '|' + w.w<QLabel>("languageLabel")->text();
    };
    const QString english = texts();
    QCOMPARE(english, QStringLiteral("Input File|Output File|Generate Lut|File Name|Type|Default Order|"
                                     "Data Order|Table Order|3D Size|1D Size|Dimension|File Path|Type|"
                                     "3D Size|Default Order|Data Order|Table Order|语言/Language:"));
    w.list("languageBox")->setCurrentIndex(1);
    QCOMPARE(texts(), QStringLiteral("输入文件|输出文件|生成 Lut|文件名|类型|默认顺序|数据顺序|表格顺序|"
                                     "3D尺寸|1D尺寸|维度|路径|类型|3D尺寸|默认顺序|数据顺序|表格顺序|"
                                     "语言/Language:"));
    QCOMPARE(items("inputDataOrderBox"), QStringLiteral("0 RGB BGR"));
    w.list("languageBox")->setCurrentIndex(0);
    QCOMPARE(texts(), english);
}

void TestWindow::orderCoupling()
{
    ScriptedWindow w;
    for (const char *side : {"input", "output"}) {
        QCheckBox *box = w.box(qPrintable(side + QStringLiteral("DefaultOrderBox")));
        QComboBox *data = w.list(qPrintable(side + QStringLiteral("DataOrderBox")));
        QComboBox *table = w.list(qPrintable(side + QStringLiteral("TableOrderBox")));
        // Either list off its first item unchecks the box; checking it
        // resets both lists and the box stays checked.
        for (QComboBox *list : {data, table}) {
            list->setCurrentIndex(1);
            QVERIFY(!box->isChecked());
            box->setChecked(true);
            QVERIFY(box->isChecked() && data->currentIndex() == 0 && table->currentIndex() == 0);
        }
        data->setCurrentIndex(1);
        table->setCurrentIndex(1);
        box->setChecked(true);
        QVERIFY(box->isChecked() && data->currentIndex() == 0 && table->currentIndex() == 0);
        // Unchecking by hand leaves the lists alone.
        table->setCurrentIndex(1);
        data->setCurrentIndex(1);
        box->setChecked(false);
        QVERIFY(data->currentIndex() == 1 && table->currentIndex() == 1);
        box->setChecked(true);
    }
    w.list("inputDataOrderBox")->setCurrentIndex(1);
    QVERIFY(w.box("outputDefaultOrderBox")->isChecked());
}

void TestWindow::geometryAndPainting()
{
    ScriptedWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Widget, x at width 1000 and at 1200, y, size (0: the size hint).
    struct Place { const char *name; int x1000, x1200, y, width, height; };
    const Place places[] = {
        {"inputButton", 20, 20, 10, 100, 40},          {"outputButton", 436, 520, 10, 100, 40},
        {"generateButton", 853, 1020, 430, 120, 40},   {"inputLabel0", 20, 20, 60, 100, 40},
        {"inputLabel7", 20, 20, 410, 100, 40},         {"outputLabel0", 436, 520, 60, 100, 40},
        {"outputLabel5", 436, 520, 310, 100, 40},      {"inputNameEdit", 135, 135, 60, 280, 30},
        {"inputTypeEdit", 135, 135, 110, 100, 30},     {"inputDefaultOrderBox", 135, 135, 160, 100, 40},
        {"inputDataOrderBox", 135, 135, 210, 0, 0},    {"inputTableOrderBox", 135, 135, 260, 0, 0},
        {"inputSize3DEdit", 135, 135, 310, 100, 30},   {"inputSize1DEdit", 135, 135, 360, 100, 30},
        {"inputDimensionEdit", 135, 135, 410, 100, 30}, {"outputPathEdit", 551, 635, 60, 280, 30},
        {"outputTypeBox", 551, 635, 110, 0, 0},        {"outputSize3DBox", 551, 635, 160, 0, 0},
        {"outputDefaultOrderBox", 551, 635, 210, 100, 40}, {"outputDataOrderBox", 551, 635, 260, 0, 0},
        {"outputTableOrderBox", 551, 635, 310, 0, 0},  {"languageLabel", 843, 1010, 10, 0, 0},
        {"languageBox", 843, 1010, 40, 0, 0},
    };
    auto check = [&](bool wide) {
        for (const Place &p : places) {
            QWidget *widget = w.w(p.name);
            const QSize size = p.width ? QSize(p.width, p.height) : widget->sizeHint();
            QVERIFY2(widget->geometry() == QRect(QPoint(wide ? p.x1200 : p.x1000, p.y), size), p.name);
        }
    };
    // Etched lines: black at 5/12 and 10/12 of the width, white just right.
    auto lines = [&](int first, int second) {
        const QImage image = w.grab().toImage();
        const int y = 455; // below every widget of the first two columns
        const QRgb grey = qRgb(200, 200, 200), black = qRgb(0, 0, 0), white = qRgb(255, 255, 255);
        QCOMPARE(image.size(), w.size());
        for (int x : {first - 1, first + 2, second - 1, second + 2, 1, 300})
            QVERIFY2(image.pixel(x, y) == grey, qPrintable(QString::number(x)));
        QVERIFY(image.pixel(first, y) == black && image.pixel(first + 1, y) == white);
        QVERIFY(image.pixel(second, y) == black && image.pixel(second + 1, y) == white);
        QVERIFY(image.pixel(first, 0) == black && image.pixel(first + 1, w.height() - 1) == white);
        // The rectangle's outline runs round the edge of the window.
        QVERIFY(image.pixel(0, y) == black && image.pixel(w.width() - 1, y) == black);
        QVERIFY(image.pixel(300, w.height() - 1) == black);
    };
    check(false);
    lines(416, 833);
    w.resize(1200, 480);
    QTRY_COMPARE(w.w("outputButton")->x(), 520);
    check(true);
    lines(500, 1000);
}

void TestWindow::inputButton()
{
    ScriptedWindow w;
    const QString filter = LutFormats::fileDialogFilter();
    w.chooseInput({}); // cancelled
    QVERIFY(w.currentInputPath().isEmpty() && w.text("inputNameEdit").isEmpty());
    QCOMPARE(w.dialogs, QStringList{"Open ICC/3DLUT File|" + filter});

    // Of three files only the first is taken.
    const QString first = cube("first.cube", 17);
    w.chooseInput({first, cube("second.cube", 33), path("missing.cube")});
    QCOMPARE(w.currentInputPath(), first);
    const QStringList fields{"inputNameEdit", "inputTypeEdit", "inputSize3DEdit", "inputSize1DEdit",
                             "inputDimensionEdit"};
    auto shown = [&] {
        QStringList out;
        for (const QString &f : fields)
            out << w.text(qPrintable(f));
        return out.join(' ');
    };
    QCOMPARE(shown(), QStringLiteral("/first.cube .cube 17 0 3D"));

    // Name from the last "/", type from the last ".", even in a directory name.
    QVERIFY(QDir(tmp.path()).mkpath("D:/luts/a.b"));
    w.chooseInput({cube("D:/luts/a.b/lut", 33)});
    QCOMPARE(shown(), QStringLiteral("/lut .b/lut 33 0 3D"));

    // A bad header (or a size beyond the bound) keeps the fields; the path is taken all the same.
    const QString bad = TestSupport::writeFile(path("bad.cube"), "LUT_3D_SIZE seventeen\n0 0 0\n");
    w.chooseInput({TestSupport::writeFile(path("huge.cube"), "LUT_3D_SIZE 100000\n")});
    w.chooseInput({bad});
    QCOMPARE(shown(), QStringLiteral("/lut .b/lut 33 0 3D"));
    QCOMPARE(w.currentInputPath(), bad);
    QVERIFY(w.messages.isEmpty());
}

void TestWindow::conversionOrdersAndSizes()
{
    ScriptedWindow w;
    const QString input = cube("rgb.cube", 17), output = path("out.cube");
    w.chooseInput({input});
    w.chooseOutput(output);
    QCOMPARE(w.dialogs.last(), "Save ICC/3DLUT File|" + LutFormats::fileDialogFilter());
    QCOMPARE(w.currentOutputPath(), output);
    QCOMPARE(w.generate(), kOk);

    // Default settings, 17 to 17: the table goes out as read, each line's
    // channels reversed to blue, green, red, red still varying fastest.
    const auto in = TestSupport::parseCubeText(input).values;
    auto out = TestSupport::parseCubeText(output);
    QVERIFY(TestSupport::readFile(output).startsWith("TITLE \nLUT_3D_SIZE 17\n"));
    QCOMPARE(out.values.size(), in.size());
    for (size_t i = 0; i < in.size(); i += 3)
        QVERIFY(out.values[i] == in[i + 2] && out.values[i + 1] == in[i + 1] && out.values[i + 2] == in[i]);

    // 17 to 33: resampled; the affine table holds at every new lattice point.
    w.list("outputSize3DBox")->setCurrentIndex(1);
    QCOMPARE(w.generate(), kOk);
    out = TestSupport::parseCubeText(output);
    QCOMPARE(out.size, 33);
    QCOMPARE(out.values.size(), size_t(3 * 33 * 33 * 33));
    double worst = 0;
    for (int i = 0; i < 33 * 33 * 33; ++i) {
        double e[3];
        affine(i % 33 / 32.0, i / 33 % 33 / 32.0, i / (33 * 33) / 32.0, e);
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::fabs(out.values[3 * i + c] - e[2 - c]));
    }
    QVERIFY2(worst < 2e-6, qPrintable(QString::number(worst)));

    // A name typed over the chosen one is the one written; "RGB" data order
    // on the output writes the lines back as read.
    const QString typed = path("typed.cube");
    w.w<QLineEdit>("outputPathEdit")->setText(typed);
    w.list("outputSize3DBox")->setCurrentIndex(0);
    w.list("outputDataOrderBox")->setCurrentIndex(1);
    QCOMPARE(w.generate(), kOk);
    QCOMPARE(w.currentOutputPath(), typed);
    QCOMPARE(TestSupport::parseCubeText(typed).values, in);

    // The 33-point blue-green-red file read back with input data order
    // "BGR" and brought down to 17 gives the original lines again.
    w.chooseInput({output});
    w.list("inputDataOrderBox")->setCurrentIndex(1);
    QVERIFY(!w.box("inputDefaultOrderBox")->isChecked());
    QCOMPARE(w.generate(), kOk);
    const auto back = TestSupport::parseCubeText(typed).values;
    QCOMPARE(back.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i)
        QVERIFY(std::fabs(back[i] - in[i]) < 2e-6);
}

void TestWindow::resampleAgreesWithOcio()
{
    if (!TestSupport::haveOcio())
        QSKIP("ociobakelut is not installed");
    // A curved table; OpenColorIO bakes the same cube to 33 points.
    const QString input = TestSupport::writeFile(path("curve.cube"), cubeText(17, [](double r, double g, double b, double *v) {
        v[0] = std::pow(r, 2.2);
        v[1] = std::sqrt(g) * 0.7 + 0.3 * b;
        v[2] = 0.5 + 0.5 * std::sin(3.0 * b) * r;
    }));
    const QString ocio = path("curve-ocio.cube"), ours = path("curve-33.cube");
    QString error;
    QVERIFY2(TestSupport::ociobake(input, "resolve_cube", 33, ocio, &error), qPrintable(error));

    ScriptedWindow w;
    w.chooseInput({input});
    w.chooseOutput(ours);
    w.list("outputSize3DBox")->setCurrentIndex(1);
    w.list("outputDataOrderBox")->setCurrentIndex(1); // lines red, green, blue as the peer's
    QCOMPARE(w.generate(), kOk);
    const auto a = TestSupport::parseCubeText(ours).values, b = TestSupport::parseCubeText(ocio).values;
    QCOMPARE(a.size(), b.size());
    // On the old lattice points (every second new one) both must agree;
    // inside a cell the interpolators may differ a little.
    double onGrid = 0, anywhere = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const size_t p = i / 3;
        const double d = std::fabs(a[i] - b[i]);
        anywhere = std::max(anywhere, d);
        if (p % 33 % 2 == 0 && p / 33 % 33 % 2 == 0 && p / (33 * 33) % 2 == 0)
            onGrid = std::max(onGrid, d);
    }
    QVERIFY2(onGrid < 1e-5 && anywhere < 0.02, qPrintable(QStringLiteral("%1 %2").arg(onGrid).arg(anywhere)));
}

void TestWindow::failuresAndMessages()
{
    ScriptedWindow w;
    const QString missing = QStringLiteral("Error|Please Select Input/Output File!");
    QCOMPARE(w.generate(), missing);
    w.w<QLineEdit>("outputPathEdit")->setText(path("never.cube"));
    QCOMPARE(w.generate(), missing);
    w.list("languageBox")->setCurrentIndex(1);
    QCOMPARE(w.generate(), QStringLiteral("错误|请选择 输入/输出 文件！"));

    // A read failure has no Chinese form; nothing is written.
    const QString input = cube("gone.cube", 17);
    w.chooseInput({input});
    QVERIFY(QFile::remove(input));
    QCOMPARE(w.generate(), kFileError);
    QVERIFY(!QFile::exists(path("never.cube")));

    // Data that stop halfway fail the read.
    QByteArray half = "LUT_3D_SIZE 4\n";
    half += QByteArray("0.5 0.5 0.5\n").repeated(30);
    w.chooseInput({TestSupport::writeFile(path("half.cube"), half)});
    QCOMPARE(w.text("inputSize3DEdit"), QStringLiteral("4"));
    QCOMPARE(w.generate(), kFileError);

    // A 1D-only input is refused for both sizes.
    w.chooseInput({TestSupport::writeFile(path("curve.cube"), "LUT_1D_SIZE 3\n0 0 0\n0.5 0.5 0.5\n1 1 1\n")});
    QCOMPARE(w.text("inputSize3DEdit") + w.text("inputSize1DEdit") + w.text("inputDimensionEdit"),
             QStringLiteral("031D"));
    for (int size : {0, 1}) {
        w.list("outputSize3DBox")->setCurrentIndex(size);
        QCOMPARE(w.generate(), kUnsupported);
        QVERIFY(!QFile::exists(path("never.cube")));
    }

    // An output that cannot be opened, written as is or resampled; the
    // next press with a writable name works.
    w.chooseInput({cube("ok.cube", 17)});
    w.chooseOutput(path("no/such/dir/out.cube"));
    QCOMPARE(w.generate(), kUnsupported);
    w.chooseOutput(tmp.path());
    w.list("outputSize3DBox")->setCurrentIndex(0);
    QCOMPARE(w.generate(), kUnsupported);
    w.chooseOutput(path("after.cube"));
    QCOMPARE(w.generate(), kOk);
    QCOMPARE(TestSupport::parseCubeText(path("after.cube")).size, 17);
}

QTEST_MAIN(TestWindow)
#include "test_window.moc"
