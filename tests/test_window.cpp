// The main window offscreen: start state, geometry at several scales and font resolutions, painting, languages,
// order coupling, legibility, keyboard, each button's paths.

#include "TestSupport.h"
#include "app/MainWindow.h"
#include "lut/LutFormats.h"
#include <QtTest>
#include <QtWidgets>
#include <cmath>

namespace {
using namespace TestSupport;
using Lines = std::vector<float>;
const QStringList kInputFields{"inputNameEdit", "inputTypeEdit", "inputSize3DEdit", "inputSize1DEdit", "inputDimensionEdit"};
const QString kOk = "Successful|Export successful !", kUnsupported = "Error|Format not supported !";

// Dialogs answered from the test; message boxes recorded as "title|text".
class ScriptedWindow : public MainWindow
{
public:
    QStringList openAnswer, dialogs, messages, details; QString saveAnswer;
    ScriptedWindow() { show(); }
    template <class T = QWidget> T *w(const QString &name) const
    { T *x = findChild<T *>(name); return x ? x : (qFatal("no widget %s", qPrintable(name)), nullptr); }
    QComboBox *list(const QString &name) const { return w<QComboBox>(name); }
    QCheckBox *box(const QString &name) const { return w<QCheckBox>(name); }
    void press(const char *button) { QTest::mousePress(w<QPushButton>(button), Qt::LeftButton); }
    void chooseInput(const QStringList &names) { openAnswer = names; press("inputButton"); }
    void chooseOutput(const QString &name) { saveAnswer = name; press("outputButton"); }
    QString generate() { messages.clear(), details.clear(); press("generateButton"); return messages.join('\n'); }
    // The named widgets' texts joined by '|'; a list gives its current index and its items.
    QString texts(const QStringList &names) const
    {
        QStringList out;
        for (const QString &name : names) {
            auto *list = qobject_cast<QComboBox *>(w(name));
            QString s = list ? QString::number(list->currentIndex()) : w(name)->property("text").toString();
            for (int i = 0; list && i < list->count(); ++i) s += ' ' + list->itemText(i);
            out << s;
        }
        return out.join('|');
    }
protected:
    QStringList askOpenFileNames(const QString &c, const QString &f) override { dialogs << c + '|' + f; return openAnswer; }
    QString askSaveFileName(const QString &c, const QString &f) override { dialogs << c + '|' + f; return saveAnswer; }
    void showWarning(const QString &title, const QString &text, const QString &detail) override
    { messages << title + '|' + text, details << detail; }
};
// A cube file of size n, red fastest; every output depends on all three inputs and resampling keeps it exact.
QByteArray cubeText(int n)
{
    QByteArray text = "TITLE \"t\"\nLUT_3D_SIZE " + QByteArray::number(n) + "\n";
    for (int i = 0; i < n * n * n; ++i) {
        const double d = n - 1, r = i % n / d, g = i / n % n / d, b = i / (n * n) / d;
        text += QString::asprintf("%.6f %.6f %.6f\n", 0.5 * r + 0.3 * g + 0.1 * b + 0.05, 0.2 * r + 0.6 * g + 0.1 * b,
                                  0.1 * r + 0.2 * g + 0.7 * b).toLatin1();
    }
    return text;
}
Lines reversed(Lines v) { for (size_t i = 0; i + 2 < v.size(); i += 3) std::swap(v[i], v[i + 2]); return v; } // BGR <-> RGB
double maxDiff(const Lines &a, const Lines &b)
{
    double worst = a.size() == b.size() ? 0 : 1e9;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, double(std::fabs(a[i] - b[i])));
    return worst;
}
struct Place { const char *name; int x1000, x1200, y, width, height; }; // x at width 1000 and 1200; width 0: size hint
const Place kPlaces[] = {{"inputButton", 20, 20, 10, 100, 40}, {"outputButton", 436, 520, 10, 100, 40},
    {"inputLabel0", 20, 20, 60, 100, 40}, {"generateButton", 853, 1020, 430, 120, 40}, {"inputLabel7", 20, 20, 410, 100, 40},
    {"outputLabel0", 436, 520, 60, 100, 40}, {"outputLabel5", 436, 520, 310, 100, 40}, {"inputNameEdit", 135, 135, 60, 280, 30},
    {"inputTypeEdit", 135, 135, 110, 100, 30}, {"inputDefaultOrderBox", 135, 135, 160, 100, 40},
    {"inputDataOrderBox", 135, 135, 210, 0, 0}, {"inputTableOrderBox", 135, 135, 260, 0, 0}, {"inputSize3DEdit", 135, 135, 310, 100, 30},
    {"inputSize1DEdit", 135, 135, 360, 100, 30}, {"inputDimensionEdit", 135, 135, 410, 100, 30}, {"outputPathEdit", 551, 635, 60, 280, 30},
    {"outputTypeBox", 551, 635, 110, 0, 0}, {"languageBox", 843, 1010, 40, 0, 0}, {"outputSize3DBox", 551, 635, 160, 0, 0},
    {"outputDefaultOrderBox", 551, 635, 210, 100, 40}, {"outputDataOrderBox", 551, 635, 260, 0, 0},
    {"outputTableOrderBox", 551, 635, 310, 0, 0}, {"languageLabel", 843, 1010, 10, 0, 0}};
// The widgets that are not where the geometry puts them at the window's width (1000 or 1200).
QStringList misplaced(const QWidget &w)
{
    QStringList out;
    for (const Place &p : kPlaces) {
        const QWidget *x = w.findChild<QWidget *>(p.name);
        if (x->geometry() != QRect(QPoint(w.width() == 1200 ? p.x1200 : p.x1000, p.y), p.width ? QSize(p.width, p.height) : x->sizeHint()))
            out << p.name;
    }
    return out;
}
// The captions, buttons, fields and lists whose text does not fit inside them (a field: a line in a 2-pixel frame; a
// list: each item beside the arrow, one pixel in from either side), or that reach past the window.
QStringList clipped(const QWidget &w)
{
    QStringList out;
    for (const QWidget *x : w.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        const QFontMetrics m = x->fontMetrics();
        QSize need = qobject_cast<const QLabel *>(x) ? m.size(0, x->property("text").toString())
                   : qobject_cast<const QLineEdit *>(x) ? QSize(0, m.height() + 4) : x->sizeHint();
        QStyleOptionComboBox o; o.initFrom(x), o.rect = x->rect();
        const int arrow = x->width() + 2 - x->style()->subControlRect(QStyle::CC_ComboBox, &o, QStyle::SC_ComboBoxEditField, x).width();
        for (int i = 0, n = x->inherits("QComboBox") ? x->property("count").toInt() : 0; i < n; ++i)
            need.rwidth() = std::max(need.width(), arrow + m.horizontalAdvance(static_cast<const QComboBox *>(x)->itemText(i)));
        if (need.boundedTo(x->size()) != need || !w.rect().contains(x->geometry())) out << x->objectName();
    }
    return out;
}
// WCAG contrast ratio of two colours.
double contrast(const QColor &a, const QColor &b)
{
    const auto lum = [](const QColor &c) {
        const auto lin = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF()) + 0.05;
    };
    return std::max(lum(a), lum(b)) / std::min(lum(a), lum(b));
}
} // namespace

class TestWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir tmp;
    QString path(const QString &name) const { return tmp.filePath(name); }
    QString cube(const QString &name, int n) const { return writeFile(path(name), cubeText(n)); }
public:
    static void initMain() // the offscreen screen claims 100 dpi; at 96 a device-independent pixel is a pixel of a grab
    { if (!qEnvironmentVariableIsSet("QT_FONT_DPI")) qputenv("QT_FONT_DPI", "96"); MainWindow::prepareApplication(); }
private slots:
    void startStateGeometryLanguagesAndCoupling()
    {
        ScriptedWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.windowTitle() == "Chromaduct (v1.3.30)" && w.size() == QSize(1000, 480) && !w.centralWidget());
        w.resize(700, 300); // the start size is the smallest
        QVERIFY(w.minimumSize() == QSize(1000, 480) && w.size() == QSize(1000, 480));
        QCOMPARE(w.texts(kInputFields), QStringLiteral("||||"));
        for (const QString &field : kInputFields + QStringList{"outputPathEdit"})
            QVERIFY(w.w(field)->isEnabled() == (field == "outputPathEdit"));
        QVERIFY(w.box("inputDefaultOrderBox")->isChecked() && w.box("outputDefaultOrderBox")->isChecked());
        QCOMPARE(w.texts({"inputDataOrderBox", "inputTableOrderBox", "outputDataOrderBox", "outputTableOrderBox",
                          "outputSize3DBox", "languageBox", "outputTypeBox"}),
                 "0 RGB BGR|0 BGR RGB|0 BGR RGB|0 BGR RGB|0 17 33|0 English 简体中文|0 " + QString(LutFormats::byId(0)->label));
        for (const bool wide : {false, true}) {
            if (wide) w.resize(1200, 480);
            QTRY_COMPARE(w.w("outputButton")->x(), wide ? 520 : 436);
            QCOMPARE(misplaced(w).join(' '), QString());
            // Grey fill outlined in black, etched lines (black, white just right) at 5/12 and 10/12 of the width.
            const QImage image = w.grab().toImage();
            const int y = 455, bottom = w.height() - 1;
            QString pixels;
            for (const int x : {wide ? 500 : 416, wide ? 1000 : 833})
                for (const QPoint p : {QPoint(x - 1, y), {x, y}, {x + 1, y}, {x + 2, y}, {x, 0}, {x + 1, bottom}})
                    pixels += QString::number(image.pixel(p), 16) + ' ';
            for (const QPoint p : {QPoint(1, y), {300, y}, {0, y}, {w.width() - 1, y}, {300, bottom}})
                pixels += QString::number(image.pixel(p), 16) + ' ';
            QCOMPARE(pixels.replace("ffc8c8c8", "g").replace("ff000000", "k").replace("ffffffff", "w"),
                     QStringLiteral("g k w g k w g k w g k w g g k k k "));
        }
        // Buttons and the 14 captions follow the language; the language caption and the lists stay.
        QStringList captions{"inputButton", "outputButton", "generateButton", "languageLabel", "inputDataOrderBox"};
        for (int i = 0; i < 14; ++i)
            captions << (i < 8 ? QStringLiteral("inputLabel%1").arg(i) : QStringLiteral("outputLabel%1").arg(i - 8));
        const QString english = w.texts(captions);
        QCOMPARE(english, QStringLiteral("Input File|Output File|Generate Lut|语言/Language:|0 RGB BGR|File Name|Type|Default Order|"
                                         "Data Order|Table Order|3D Size|1D Size|Dimension|File Path|Type|3D Size|Default Order|Data Order|Table Order"));
        w.list("languageBox")->setCurrentIndex(1);
        QCOMPARE(w.texts(captions), QStringLiteral("输入文件|输出文件|生成 Lut|语言/Language:|0 RGB BGR|文件名|类型|默认顺序|"
                                                   "数据顺序|表格顺序|3D尺寸|1D尺寸|维度|路径|类型|3D尺寸|默认顺序|数据顺序|表格顺序"));
        w.list("languageBox")->setCurrentIndex(0);
        QCOMPARE(w.texts(captions), english);
        // Data, table or both lists moved uncheck their own side's box only; checking it resets both lists.
        for (const QString side : {"input", "output"})
            for (int off : {1, 2, 3}) {
                QCheckBox *box = w.box(side + "DefaultOrderBox"), *other = w.box(side == "input" ? "outputDefaultOrderBox" : "inputDefaultOrderBox");
                QComboBox *data = w.list(side + "DataOrderBox"), *table = w.list(side + "TableOrderBox");
                data->setCurrentIndex(off & 1), table->setCurrentIndex(off >> 1);
                QVERIFY(!box->isChecked() && other->isChecked());
                box->setChecked(true);
                QVERIFY(box->isChecked() && data->currentIndex() == 0 && table->currentIndex() == 0);
            }
    }

    void inputButtonAndFailures()
    {
        ScriptedWindow w;
        w.chooseInput({}); // cancelled
        QVERIFY(w.currentInputPath().isEmpty() && w.texts(kInputFields) == "||||");
        QCOMPARE(w.dialogs, QStringList{"Open ICC/3DLUT File|" + LutFormats::fileDialogFilter()});
        QCOMPARE(w.generate(), QStringLiteral("Error|Please Select Input/Output File!"));
        w.w<QLineEdit>("outputPathEdit")->setText(path("never.cube")); // an output but still no input
        QCOMPARE(w.generate(), QStringLiteral("Error|Please Select Input/Output File!"));
        w.list("languageBox")->setCurrentIndex(1);
        QCOMPARE(w.generate(), QStringLiteral("错误|请选择 输入/输出 文件！"));
        // Only the first of three files; name and type from the last "/" and "." (even in a directory).
        QVERIFY(QDir(tmp.path()).mkpath("a.b"));
        const QString gone = cube("a.b/gone", 17);
        w.chooseInput({gone, cube("second.cube", 33), path("missing.cube")});
        QVERIFY(w.currentInputPath() == gone && w.texts(kInputFields) == "/gone|.b/gone|17|0|3D");
        QVERIFY(QFile::remove(gone));
        QCOMPARE(w.generate(), QStringLiteral("Error|File Error!")); // read failures have no Chinese form
        QVERIFY(w.details.join('\n').startsWith(gone + ": cannot open: ")); // the reader's reason as the detail
        w.chooseInput({writeFile(path("curve.cube"), "LUT_1D_SIZE 3\n0 0 0\n0.5 0.5 0.5\n1 1 1\n")});
        QCOMPARE(w.texts(kInputFields), QStringLiteral("/curve.cube|.cube|0|3|1D")); // 1D only: refused at both sizes
        for (int size : {0, 1}) { w.list("outputSize3DBox")->setCurrentIndex(size); QCOMPARE(w.generate(), kUnsupported); }
        QCOMPARE(w.details, QStringList{path("curve.cube") + ": holds no 3D table, which the cube output needs"});
        QVERIFY(!QFile::exists(path("never.cube")));
        // An output that cannot be opened, resampled then as is; the next press with a writable name works.
        w.chooseInput({cube("ok.cube", 17)});
        for (const QString &output : {path("no/such/dir/out.cube"), tmp.path()})
            { w.chooseOutput(output); QCOMPARE(w.generate(), kUnsupported); w.list("outputSize3DBox")->setCurrentIndex(0);
              QVERIFY(w.details.join('\n').startsWith(output + ": cannot open for writing: ")); }
        w.chooseOutput(path("after.cube"));
        QCOMPARE(w.generate(), kOk);
        QCOMPARE(parseCubeText(path("after.cube")).size, 17);
    }

    // A child process per case, as the scale is fixed when the application starts: the device pixel ratio and font
    // dpi the window must get, then the environment. The geometry holds in device-independent pixels and no text is
    // clipped, in either language.
    void scaleFactorsAndFontResolutions()
    {
        const QStringList expected = qEnvironmentVariable("CHROMADUCT_EXPECTED").split(',');
        if (expected.size() == 2) {
            QApplication::setAttribute(Qt::AA_Use96Dpi, false); // style metrics follow the screen, as outside tests
            ScriptedWindow w;
            for (int language : {0, 1}) {
                w.list("languageBox")->setCurrentIndex(language);
                QVERIFY(w.devicePixelRatioF() == expected[0].toDouble() && w.logicalDpiY() == expected[1].toInt());
                QCOMPARE((misplaced(w) + clipped(w)).join(' '), QString());
            }
            return;
        }
        for (const QString c : {"1,96 QT_SCALE_FACTOR=1", "1.5,96 QT_SCALE_FACTOR=1.5", "2,96 QT_SCALE_FACTOR=2", "1.5,96 QT_FONT_DPI=144",
                                "2,96 QT_FONT_DPI=192", "1,144 QT_FONT_DPI=144 QT_ENABLE_HIGHDPI_SCALING=0",
                                "1,192 QT_FONT_DPI=192 QT_ENABLE_HIGHDPI_SCALING=0"}) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const QString &setting : ("CHROMADUCT_EXPECTED=" + c).split(' ')) env.insert(setting.section('=', 0, 0), setting.section('=', 1));
            child.setProcessEnvironment(env), child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(), {"scaleFactorsAndFontResolutions"});
            QVERIFY2(child.waitForFinished(120000) && child.exitCode() == 0, qPrintable(c + '\n' + child.readAll()));
        }
    }

    // The disabled input fields read at 4.5:1 or better on the toolkit's palette and on a grey one whose own texts do
    // not. Tab goes down the input column, the output column, then language and Generate; Enter presses the focused
    // button, once per key press; a click on a caption toggles its check box or focuses its list.
    void legibleFieldsAndKeyboard()
    {
        ScriptedWindow w;
        const QPalette original = QApplication::palette();
        QPalette grey = original;
        grey.setColor(QPalette::Base, QColor(119, 119, 119)), grey.setColor(QPalette::Text, QColor(128, 128, 128));
        for (const QPalette &palette : {original, grey}) {
            QApplication::setPalette(palette);
            for (const QString &f : kInputFields)
                QVERIFY(contrast(w.w(f)->palette().color(QPalette::Disabled, QPalette::Text), w.w(f)->palette().color(QPalette::Disabled, QPalette::Base)) >= 4.5);
        }
        QApplication::setPalette(original);
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.w("inputButton")->setFocus();
        QString chain = "inputButton";
        for (int i = 0; i < 13; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab), chain += ' ' + QApplication::focusWidget()->objectName();
        QCOMPARE(chain, QStringLiteral("inputButton inputDefaultOrderBox inputDataOrderBox inputTableOrderBox outputButton outputPathEdit outputTypeBox "
                                       "outputSize3DBox outputDefaultOrderBox outputDataOrderBox outputTableOrderBox languageBox generateButton inputButton"));
        QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QTest::keyClick(w.w("generateButton"), Qt::Key_Enter, Qt::KeypadModifier), QApplication::sendEvent(w.w("generateButton"), &held);
        QCOMPARE(w.messages, QStringList{"Error|Please Select Input/Output File!"});
        w.list("inputDataOrderBox")->setCurrentIndex(1);
        for (const char *caption : {"inputLabel2", "outputLabel3", "outputLabel1"})
            QTest::mouseClick(w.w(caption), Qt::LeftButton);
        QVERIFY(w.box("inputDefaultOrderBox")->isChecked() && w.list("inputDataOrderBox")->currentIndex() == 0);
        QVERIFY(!w.box("outputDefaultOrderBox")->isChecked() && QApplication::focusWidget() == w.w("outputTypeBox"));
    }

    void conversion()
    {
        ScriptedWindow w;
        const QString input = cube("rgb.cube", 17), output = path("out.cube"), typed = path("typed.cube");
        w.chooseInput({input}), w.chooseOutput(output);
        QCOMPARE(w.dialogs.last(), "Save ICC/3DLUT File|" + LutFormats::fileDialogFilter());
        QCOMPARE(w.generate(), kOk);
        // Default settings, 17 to 17: the table as read, each line reversed to blue, green, red; red still fastest.
        QVERIFY(readFile(output).startsWith("TITLE \nLUT_3D_SIZE 17\n"));
        const Lines in = parseCubeText(input).values;
        QCOMPARE(parseCubeText(output).values, reversed(in));
        // 17 to 33: resampled; the affine table holds at every new lattice point.
        w.list("outputSize3DBox")->setCurrentIndex(1);
        QCOMPARE(w.generate(), kOk);
        QCOMPARE(parseCubeText(output).size, 33);
        const double worst = maxDiff(parseCubeText(output).values, reversed(parseCubeText(cube("affine33.cube", 33)).values));
        QVERIFY2(worst < 2e-6, qPrintable(QString::number(worst)));
        // A name typed over the chosen one is written; output "RGB" writes the lines as read.
        w.w<QLineEdit>("outputPathEdit")->setText(typed);
        w.list("outputSize3DBox")->setCurrentIndex(0), w.list("outputDataOrderBox")->setCurrentIndex(1);
        QCOMPARE(w.generate(), kOk);
        QCOMPARE(w.currentOutputPath(), typed);
        QCOMPARE(parseCubeText(typed).values, in);
        // The 33-point blue-green-red file read with input data order "BGR", back to 17: the original.
        w.chooseInput({output}), w.list("inputDataOrderBox")->setCurrentIndex(1);
        QCOMPARE(w.generate(), kOk);
        QVERIFY(maxDiff(parseCubeText(typed).values, in) < 2e-6);
    }

    // Each input is read in its own format, as the command line reads it: a Lustre 3dl (codes after a Mesh line,
    // 12-bit output) and a csp whose pre-LUT the plain cube reading would lose give the command line's cube.
    void readsEachFormatAsTheCommandLine()
    {
        QByteArray lustre = "3DMESH\nMesh 2 12\n0 1023 2047 3071 4095\n";
        for (int i = 0; i < 125; ++i) {
            const int r = i / 25, g = i / 5 % 5, b = i % 5;
            lustre += QByteArray::number(r * 900 + g * 80) + ' ' + QByteArray::number(g * 1000) + ' '
                + QByteArray::number(b * 1000 + r * 20) + '\n';
        }
        QByteArray csp = "CSPLUTV100\n3D\n\n";
        for (int c = 0; c < 3; ++c)
            csp += "3\n0 0.25 1\n0 0.5 1\n";
        csp += "\n2 2 2\n";
        for (int i = 0; i < 8; ++i)
            csp += QByteArray::number(i & 1) + ' ' + QByteArray::number(i >> 1 & 1) + ' ' + QByteArray::number(i >> 2) + '\n';
        for (const auto &[name, text] : {std::pair<const char *, QByteArray>{"grade.3dl", lustre}, {"shaped.csp", csp}}) {
            ScriptedWindow w;
            const QString input = writeFile(path(name), text), ours = path(QString(name) + ".window.cube");
            w.chooseInput({input}), w.chooseOutput(ours);
            QCOMPARE(w.generate(), kOk);
            const ProcessResult cli = runConvert({"--size", "17", "--out-order", "BGR/BGR", input, path("cli.cube")});
            QVERIFY2(cli.exitCode == 0, cli.err.constData());
            QCOMPARE(readFile(ours), readFile(path("cli.cube")));
        }
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
