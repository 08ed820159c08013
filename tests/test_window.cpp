// The main window on the offscreen platform: its start state, the coupling
// of the order controls, the languages, geometry and painting, and the
// conversion run behind the three buttons with the dialogs answered by the
// test.

#include "TestSupport.h"

#include "app/MainWindow.h"
#include "lut/LutFormats.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

struct Message {
    QString title;
    QString text;
};

// The window with its dialogs answered from the test and its message boxes
// recorded instead of shown.
class ScriptedWindow : public MainWindow
{
public:
    QStringList openAnswer;
    QString saveAnswer;
    QStringList captions;
    QStringList filters;
    QList<Message> messages;

    using MainWindow::runExport;

    template <class T> T *part(const char *name) const
    {
        T *widget = findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    QLineEdit *field(const char *name) const { return part<QLineEdit>(name); }
    QComboBox *list(const char *name) const { return part<QComboBox>(name); }
    QCheckBox *box(const char *name) const { return part<QCheckBox>(name); }
    QPushButton *button(const char *name) const { return part<QPushButton>(name); }
    QLabel *inputLabel(int i) const { return part<QLabel>(qPrintable(QStringLiteral("inputLabel%1").arg(i))); }
    QLabel *outputLabel(int j) const { return part<QLabel>(qPrintable(QStringLiteral("outputLabel%1").arg(j))); }

    void press(const char *name) { QTest::mousePress(button(name), Qt::LeftButton); }
    void chooseInput(const QStringList &names)
    {
        openAnswer = names;
        press("inputButton");
    }
    void chooseOutput(const QString &name)
    {
        saveAnswer = name;
        press("outputButton");
    }
    Message lastMessage() const { return messages.isEmpty() ? Message() : messages.last(); }

protected:
    QStringList askOpenFileNames(const QString &caption, const QString &filter) override
    {
        captions << caption;
        filters << filter;
        return openAnswer;
    }
    QString askSaveFileName(const QString &caption, const QString &filter) override
    {
        captions << caption;
        filters << filter;
        return saveAnswer;
    }
    void showWarning(const QString &title, const QString &text) override
    {
        messages.append({title, text});
    }
};

// An affine colour transform with every output channel depending on all
// three inputs: tetrahedral interpolation reproduces it exactly, and any
// mix-up of axes or channels shows.
void affine(double r, double g, double b, double out[3])
{
    out[0] = 0.5 * r + 0.3 * g + 0.1 * b + 0.05;
    out[1] = 0.2 * r + 0.6 * g + 0.1 * b;
    out[2] = 0.1 * r + 0.2 * g + 0.7 * b;
}

// A cube file of size n holding the affine transform, lines red, green,
// blue with red varying fastest.
QByteArray affineCube(int n)
{
    QByteArray text = "TITLE \"affine\"\nLUT_3D_SIZE " + QByteArray::number(n) + "\n";
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                double v[3];
                affine(r / double(n - 1), g / double(n - 1), b / double(n - 1), v);
                text += QByteArray::number(v[0], 'f', 6) + ' ' + QByteArray::number(v[1], 'f', 6) + ' '
                    + QByteArray::number(v[2], 'f', 6) + '\n';
            }
    return text;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    QString path(const QString &name) const { return tmp.filePath(name); }
    QString cubeFile(const QString &name, int n) const
    {
        return TestSupport::writeFile(path(name), affineCube(n));
    }

private slots:
    void startState();
    void orderCouplingInput();
    void orderCouplingOutput();
    void languageSwitch();
    void geometry();
    void paintedBackground();
    void inputButtonFillsFields();
    void inputButtonKeepsFieldsOnBadHeader();
    void outputButtonAndTypedName();
    void missingNamesAreReported();
    void defaultOrderRewritesChannelsKeepsRedFastest();
    void resamplesTo33();
    void resampleAgreesWithOcio();
    void oneDimensionalInputIsRefused();
    void failuresLeaveTheWindowWorking();
};

void TestWindow::startState()
{
    QCOMPARE(labelTextsEnglish.size(), 18);
    QCOMPARE(labelTextsChinese.size(), 18);

    ScriptedWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Chromaduct (v1.3.30)"));
    QCOMPARE(w.size(), QSize(1000, 480));
    QVERIFY(!w.centralWidget());
    QCOMPARE(w.button("inputButton")->text(), QStringLiteral("Input File"));
    QCOMPARE(w.button("outputButton")->text(), QStringLiteral("Output File"));
    QCOMPARE(w.button("generateButton")->text(), QStringLiteral("Generate Lut"));
    const QStringList inputCaptions{"File Name", "Type", "Default Order", "Data Order",
                                    "Table Order", "3D Size", "1D Size", "Dimension"};
    const QStringList outputCaptions{"File Path", "Type", "3D Size", "Default Order", "Data Order",
                                     "Table Order"};
    for (int i = 0; i < 8; ++i)
        QCOMPARE(w.inputLabel(i)->text(), inputCaptions[i]);
    for (int j = 0; j < 6; ++j)
        QCOMPARE(w.outputLabel(j)->text(), outputCaptions[j]);

    for (const char *name : {"inputNameEdit", "inputTypeEdit", "inputSize3DEdit", "inputSize1DEdit",
                             "inputDimensionEdit"}) {
        QVERIFY2(!w.field(name)->isEnabled(), name);
        QVERIFY2(w.field(name)->text().isEmpty(), name);
    }
    QVERIFY(w.field("outputPathEdit")->isEnabled());
    QVERIFY(w.box("inputDefaultOrderBox")->isChecked());
    QVERIFY(w.box("outputDefaultOrderBox")->isChecked());
    QVERIFY(w.box("inputDefaultOrderBox")->text().isEmpty());

    auto items = [](QComboBox *list) {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->itemText(i);
        return out;
    };
    QCOMPARE(items(w.list("inputDataOrderBox")), QStringList({"RGB", "BGR"}));
    QCOMPARE(items(w.list("inputTableOrderBox")), QStringList({"BGR", "RGB"}));
    QCOMPARE(items(w.list("outputDataOrderBox")), QStringList({"BGR", "RGB"}));
    QCOMPARE(items(w.list("outputTableOrderBox")), QStringList({"BGR", "RGB"}));
    QCOMPARE(items(w.list("outputSize3DBox")), QStringList({"17", "33"}));
    QCOMPARE(items(w.list("outputTypeBox")), QStringList{QString::fromUtf8(LutFormats::byId(0)->label)});
    QCOMPARE(items(w.list("outputTypeBox")), QStringList{".cube"});
    QCOMPARE(items(w.list("languageBox")), QStringList({"English", QStringLiteral("简体中文")}));
    for (const char *name : {"inputDataOrderBox", "inputTableOrderBox", "outputDataOrderBox",
                             "outputTableOrderBox", "outputSize3DBox", "languageBox"})
        QVERIFY2(w.list(name)->currentIndex() == 0, name);
    QVERIFY(w.currentInputPath().isEmpty());
    QVERIFY(w.currentOutputPath().isEmpty());
    QCOMPARE(w.currentLanguage(), 0);
}

void TestWindow::orderCouplingInput()
{
    ScriptedWindow w;
    QCheckBox *box = w.box("inputDefaultOrderBox");
    QComboBox *data = w.list("inputDataOrderBox");
    QComboBox *table = w.list("inputTableOrderBox");

    data->setCurrentIndex(1); // "BGR"
    QVERIFY(!box->isChecked());
    box->setChecked(true);
    QVERIFY(box->isChecked());
    QCOMPARE(data->currentText(), QStringLiteral("RGB"));

    table->setCurrentIndex(1); // "RGB"
    QVERIFY(!box->isChecked());
    QCOMPARE(data->currentIndex(), 0);

    // Unchecking by hand leaves the lists; checking with both lists off
    // their first item resets both and the box stays checked.
    data->setCurrentIndex(1);
    box->setChecked(true);
    box->setChecked(false);
    data->setCurrentIndex(1);
    table->setCurrentIndex(1);
    box->setChecked(false);
    QCOMPARE(data->currentIndex(), 1);
    QCOMPARE(table->currentIndex(), 1);
    box->setChecked(true);
    QVERIFY(box->isChecked());
    QCOMPARE(data->currentText(), QStringLiteral("RGB"));
    QCOMPARE(table->currentText(), QStringLiteral("BGR"));

    // The output side is not touched by the input side.
    QVERIFY(w.box("outputDefaultOrderBox")->isChecked());
}

void TestWindow::orderCouplingOutput()
{
    ScriptedWindow w;
    QCheckBox *box = w.box("outputDefaultOrderBox");
    QComboBox *data = w.list("outputDataOrderBox");
    QComboBox *table = w.list("outputTableOrderBox");

    table->setCurrentIndex(1); // "RGB"
    QVERIFY(!box->isChecked());
    QCOMPARE(data->currentIndex(), 0);
    data->setCurrentIndex(1);
    box->setChecked(true);
    QVERIFY(box->isChecked());
    QCOMPARE(data->currentText(), QStringLiteral("BGR"));
    QCOMPARE(table->currentText(), QStringLiteral("BGR"));

    data->setCurrentIndex(1);
    QVERIFY(!box->isChecked());
    QVERIFY(w.box("inputDefaultOrderBox")->isChecked());
    // Going back to the first items by hand does not check the box again.
    data->setCurrentIndex(0);
    QVERIFY(!box->isChecked());
}

void TestWindow::languageSwitch()
{
    ScriptedWindow w;
    QLabel *languageLabel = w.part<QLabel>("languageLabel");
    QCOMPARE(languageLabel->text(), QStringLiteral("语言/Language:"));

    w.list("languageBox")->setCurrentIndex(1);
    QCOMPARE(w.currentLanguage(), 1);
    QCOMPARE(w.button("inputButton")->text(), QStringLiteral("输入文件"));
    QCOMPARE(w.button("outputButton")->text(), QStringLiteral("输出文件"));
    QCOMPARE(w.button("generateButton")->text(), QStringLiteral("生成 Lut"));
    const QStringList inputCaptions{"文件名", "类型", "默认顺序", "数据顺序",
                                    "表格顺序", "3D尺寸", "1D尺寸", "维度"};
    const QStringList outputCaptions{"路径", "类型", "3D尺寸", "默认顺序", "数据顺序", "表格顺序"};
    for (int i = 0; i < 8; ++i)
        QCOMPARE(w.inputLabel(i)->text(), inputCaptions[i]);
    for (int j = 0; j < 6; ++j)
        QCOMPARE(w.outputLabel(j)->text(), outputCaptions[j]);
    QCOMPARE(languageLabel->text(), QStringLiteral("语言/Language:"));
    QCOMPARE(w.list("inputDataOrderBox")->itemText(0), QStringLiteral("RGB"));

    w.list("languageBox")->setCurrentIndex(0);
    QCOMPARE(w.button("generateButton")->text(), QStringLiteral("Generate Lut"));
    QCOMPARE(w.inputLabel(7)->text(), QStringLiteral("Dimension"));
    QCOMPARE(w.outputLabel(0)->text(), QStringLiteral("File Path"));
}

void TestWindow::geometry()
{
    ScriptedWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.size(), QSize(1000, 480));

    QCOMPARE(w.button("inputButton")->geometry(), QRect(20, 10, 100, 40));
    QCOMPARE(w.button("outputButton")->geometry(), QRect(436, 10, 100, 40));
    QCOMPARE(w.button("generateButton")->geometry(), QRect(853, 430, 120, 40));
    for (int i = 0; i < 8; ++i)
        QCOMPARE(w.inputLabel(i)->geometry(), QRect(20, 60 + 50 * i, 100, 40));
    for (int j = 0; j < 6; ++j)
        QCOMPARE(w.outputLabel(j)->geometry(), QRect(436, 60 + 50 * j, 100, 40));
    QCOMPARE(w.field("inputNameEdit")->geometry(), QRect(135, 60, 280, 30));
    QCOMPARE(w.field("inputTypeEdit")->geometry(), QRect(135, 110, 100, 30));
    QCOMPARE(w.box("inputDefaultOrderBox")->geometry(), QRect(135, 160, 100, 40));
    QCOMPARE(w.list("inputDataOrderBox")->pos(), QPoint(135, 210));
    QCOMPARE(w.list("inputDataOrderBox")->size(), w.list("inputDataOrderBox")->sizeHint());
    QCOMPARE(w.list("inputTableOrderBox")->pos(), QPoint(135, 260));
    QCOMPARE(w.field("inputSize3DEdit")->geometry(), QRect(135, 310, 100, 30));
    QCOMPARE(w.field("inputSize1DEdit")->geometry(), QRect(135, 360, 100, 30));
    QCOMPARE(w.field("inputDimensionEdit")->geometry(), QRect(135, 410, 100, 30));
    QCOMPARE(w.field("outputPathEdit")->geometry(), QRect(551, 60, 280, 30));
    QCOMPARE(w.list("outputTypeBox")->pos(), QPoint(551, 110));
    QCOMPARE(w.list("outputSize3DBox")->pos(), QPoint(551, 160));
    QCOMPARE(w.box("outputDefaultOrderBox")->geometry(), QRect(551, 210, 100, 40));
    QCOMPARE(w.list("outputDataOrderBox")->pos(), QPoint(551, 260));
    QCOMPARE(w.list("outputTableOrderBox")->pos(), QPoint(551, 310));
    QCOMPARE(w.part<QLabel>("languageLabel")->pos(), QPoint(843, 10));
    QCOMPARE(w.part<QLabel>("languageLabel")->size(), w.part<QLabel>("languageLabel")->sizeHint());
    QCOMPARE(w.list("languageBox")->pos(), QPoint(843, 40));

    w.resize(1200, 480);
    QTRY_COMPARE(w.button("outputButton")->pos(), QPoint(520, 10));
    QCOMPARE(w.outputLabel(5)->pos(), QPoint(520, 310));
    QCOMPARE(w.field("outputPathEdit")->pos(), QPoint(635, 60));
    QCOMPARE(w.list("outputTableOrderBox")->pos(), QPoint(635, 310));
    QCOMPARE(w.button("generateButton")->pos(), QPoint(1020, 430));
    QCOMPARE(w.list("languageBox")->pos(), QPoint(1010, 40));
    QCOMPARE(w.field("inputNameEdit")->pos(), QPoint(135, 60));

    w.resize(1200, 600);
    QTRY_COMPARE(w.button("generateButton")->pos(), QPoint(1020, 550));
}

void TestWindow::paintedBackground()
{
    ScriptedWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRgb grey = qRgb(200, 200, 200);
    const QRgb black = qRgb(0, 0, 0);
    const QRgb white = qRgb(255, 255, 255);

    QImage image = w.grab().toImage();
    QCOMPARE(image.size(), QSize(1000, 480));
    const int y = 455; // below every widget of the first two columns
    QCOMPARE(image.pixel(300, y), grey);
    QCOMPARE(image.pixel(415, y), grey);
    QCOMPARE(image.pixel(416, y), black);
    QCOMPARE(image.pixel(417, y), white);
    QCOMPARE(image.pixel(418, y), grey);
    QCOMPARE(image.pixel(833, y), black);
    QCOMPARE(image.pixel(834, y), white);
    QCOMPARE(image.pixel(416, 0), black);
    QCOMPARE(image.pixel(417, 479), white);
    // The rectangle's outline runs round the edge.
    QCOMPARE(image.pixel(0, 240), black);
    QCOMPARE(image.pixel(999, 240), black);
    QCOMPARE(image.pixel(300, 479), black);
    QCOMPARE(image.pixel(1, 240), grey);

    w.resize(1200, 480);
    QTRY_COMPARE(w.button("outputButton")->pos(), QPoint(520, 10));
    image = w.grab().toImage();
    QCOMPARE(image.pixel(416, y), grey);
    QCOMPARE(image.pixel(500, y), black);
    QCOMPARE(image.pixel(501, y), white);
    QCOMPARE(image.pixel(1000, y), black);
    QCOMPARE(image.pixel(1001, y), white);
}

void TestWindow::inputButtonFillsFields()
{
    ScriptedWindow w;
    w.show();
    const QString first = cubeFile(QStringLiteral("first.cube"), 17);
    const QString second = cubeFile(QStringLiteral("second.look"), 33);
    const QString third = TestSupport::writeFile(path(QStringLiteral("third.cube")), "LUT_3D_SIZE 5\n");

    // A cancelled dialog changes nothing.
    w.chooseInput({});
    QCOMPARE(w.captions, QStringList{QStringLiteral("Open ICC/3DLUT File")});
    QCOMPARE(w.filters, QStringList{LutFormats::fileDialogFilter()});
    QVERIFY(w.currentInputPath().isEmpty());
    QVERIFY(w.field("inputNameEdit")->text().isEmpty());

    // Of several files only the first is taken.
    w.chooseInput({first, second, third});
    QCOMPARE(w.currentInputPath(), first);
    QCOMPARE(w.field("inputNameEdit")->text(), QStringLiteral("/first.cube"));
    QCOMPARE(w.field("inputTypeEdit")->text(), QStringLiteral(".cube"));
    QCOMPARE(w.field("inputSize3DEdit")->text(), QStringLiteral("17"));
    QCOMPARE(w.field("inputSize1DEdit")->text(), QStringLiteral("0"));
    QCOMPARE(w.field("inputDimensionEdit")->text(), QStringLiteral("3D"));
    QVERIFY(w.messages.isEmpty());

    // The name runs from the last "/", the type from the last ".", even
    // when that dot belongs to a directory.
    QVERIFY(QDir(tmp.path()).mkpath(QStringLiteral("D:/luts/a.b")));
    const QString odd = cubeFile(QStringLiteral("D:/luts/a.b/lut"), 33);
    w.chooseInput({odd});
    QCOMPARE(w.field("inputNameEdit")->text(), QStringLiteral("/lut"));
    QCOMPARE(w.field("inputTypeEdit")->text(), QStringLiteral(".b/lut"));
    QCOMPARE(w.field("inputSize3DEdit")->text(), QStringLiteral("33"));
}

void TestWindow::inputButtonKeepsFieldsOnBadHeader()
{
    ScriptedWindow w;
    w.show();
    const QString good = cubeFile(QStringLiteral("good.cube"), 17);
    const QString bad = TestSupport::writeFile(path(QStringLiteral("bad.cube")),
                                               "LUT_3D_SIZE seventeen\n0 0 0\n");
    w.chooseInput({good});
    w.chooseInput({bad});
    QCOMPARE(w.currentInputPath(), bad);
    QCOMPARE(w.field("inputNameEdit")->text(), QStringLiteral("/good.cube"));
    QCOMPARE(w.field("inputSize3DEdit")->text(), QStringLiteral("17"));
    QVERIFY(w.messages.isEmpty());

    // The generate button reads the file that was chosen last.
    w.field("outputPathEdit")->setText(path(QStringLiteral("bad-out.cube")));
    w.press("generateButton");
    QCOMPARE(w.lastMessage().title, QStringLiteral("Error"));
    QCOMPARE(w.lastMessage().text, QStringLiteral("File Error!"));
    QVERIFY(!QFile::exists(path(QStringLiteral("bad-out.cube"))));

    // A cube the size line of which is too large for memory is refused
    // by the header read as well.
    const QString huge = TestSupport::writeFile(path(QStringLiteral("huge.cube")), "LUT_3D_SIZE 100000\n");
    w.chooseInput({huge});
    QCOMPARE(w.field("inputSize3DEdit")->text(), QStringLiteral("17"));
}

void TestWindow::outputButtonAndTypedName()
{
    ScriptedWindow w;
    w.show();
    w.chooseOutput(path(QStringLiteral("chosen.cube")));
    QCOMPARE(w.captions, QStringList{QStringLiteral("Save ICC/3DLUT File")});
    QCOMPARE(w.filters, QStringList{LutFormats::fileDialogFilter()});
    QCOMPARE(w.currentOutputPath(), path(QStringLiteral("chosen.cube")));
    QCOMPARE(w.field("outputPathEdit")->text(), path(QStringLiteral("chosen.cube")));
    w.chooseOutput(QString()); // cancelled
    QCOMPARE(w.field("outputPathEdit")->text(), path(QStringLiteral("chosen.cube")));

    // A name typed over the chosen one is the one written.
    const QString typed = path(QStringLiteral("typed.cube"));
    w.field("outputPathEdit")->setText(typed);
    w.chooseInput({cubeFile(QStringLiteral("in.cube"), 17)});
    w.press("generateButton");
    QCOMPARE(w.lastMessage().title, QStringLiteral("Successful"));
    QCOMPARE(w.lastMessage().text, QStringLiteral("Export successful !"));
    QCOMPARE(w.currentOutputPath(), typed);
    QVERIFY(QFile::exists(typed));
    QVERIFY(!QFile::exists(path(QStringLiteral("chosen.cube"))));
}

void TestWindow::missingNamesAreReported()
{
    ScriptedWindow w;
    w.show();
    w.press("generateButton");
    QCOMPARE(w.messages.size(), 1);
    QCOMPARE(w.lastMessage().title, QStringLiteral("Error"));
    QCOMPARE(w.lastMessage().text, QStringLiteral("Please Select Input/Output File!"));

    // Only an output name: still missing the input.
    w.field("outputPathEdit")->setText(path(QStringLiteral("never.cube")));
    w.list("languageBox")->setCurrentIndex(1);
    w.press("generateButton");
    QCOMPARE(w.lastMessage().title, QStringLiteral("错误"));
    QCOMPARE(w.lastMessage().text, QStringLiteral("请选择 输入/输出 文件！"));

    // Only an input name: missing the output.
    const QString input = cubeFile(QStringLiteral("gone.cube"), 17);
    w.chooseInput({input});
    w.field("outputPathEdit")->clear();
    w.press("generateButton");
    QCOMPARE(w.lastMessage().title, QStringLiteral("错误"));
    QCOMPARE(w.messages.size(), 3);

    // A read failure has no Chinese form.
    QVERIFY(QFile::remove(input));
    w.field("outputPathEdit")->setText(path(QStringLiteral("never.cube")));
    w.press("generateButton");
    QCOMPARE(w.lastMessage().title, QStringLiteral("Error"));
    QCOMPARE(w.lastMessage().text, QStringLiteral("File Error!"));
    QVERIFY(!QFile::exists(path(QStringLiteral("never.cube"))));
}

void TestWindow::defaultOrderRewritesChannelsKeepsRedFastest()
{
    ScriptedWindow w;
    w.show();
    const QString input = cubeFile(QStringLiteral("rgb.cube"), 17);
    const QString output = path(QStringLiteral("bgr.cube"));
    w.chooseInput({input});
    w.chooseOutput(output);
    w.press("generateButton");
    QCOMPARE(w.lastMessage().text, QStringLiteral("Export successful !"));

    // Same size: the table is written as read, line for line, with each
    // line's channels reversed and red still varying fastest.
    const TestSupport::CubeText in = TestSupport::parseCubeText(input);
    const TestSupport::CubeText out = TestSupport::parseCubeText(output);
    QCOMPARE(out.size, 17);
    QCOMPARE(out.values.size(), in.values.size());
    for (size_t line = 0; line < in.values.size() / 3; ++line)
        for (int c = 0; c < 3; ++c)
            QCOMPARE(out.values[3 * line + c], in.values[3 * line + 2 - c]);
    QVERIFY(TestSupport::readFile(output).startsWith("TITLE \nLUT_3D_SIZE 17\n"));

    // Choosing "RGB" data order on both sides writes the lines back as read.
    w.list("outputDataOrderBox")->setCurrentIndex(1);
    w.press("generateButton");
    QCOMPARE(TestSupport::parseCubeText(output).values, in.values);
}

void TestWindow::resamplesTo33()
{
    ScriptedWindow w;
    w.show();
    const QString output = path(QStringLiteral("resampled.cube"));
    w.chooseInput({cubeFile(QStringLiteral("small.cube"), 17)});
    w.chooseOutput(output);
    w.list("outputSize3DBox")->setCurrentIndex(1);
    w.press("generateButton");
    QCOMPARE(w.lastMessage().text, QStringLiteral("Export successful !"));

    const TestSupport::CubeText out = TestSupport::parseCubeText(output);
    QCOMPARE(out.size, 33);
    QCOMPARE(out.values.size(), size_t(3 * 33 * 33 * 33));
    // Lines hold blue, green, red; red varies fastest. The affine table is
    // reproduced at every new lattice point, not only at the old ones.
    for (int b = 0; b < 33; ++b)
        for (int g = 0; g < 33; ++g)
            for (int r = 0; r < 33; ++r) {
                double expected[3];
                affine(r / 32.0, g / 32.0, b / 32.0, expected);
                const float *line = &out.values[3 * ((b * 33 + g) * 33 + r)];
                for (int c = 0; c < 3; ++c)
                    if (std::fabs(line[c] - expected[2 - c]) > 2e-6)
                        QFAIL(qPrintable(QStringLiteral("entry %1 %2 %3 channel %4: %5 instead of %6")
                                             .arg(r).arg(g).arg(b).arg(c).arg(line[c])
                                             .arg(expected[2 - c])));
            }

    // And back down to 17 from a 33 input.
    w.chooseInput({output});
    QCOMPARE(w.field("inputSize3DEdit")->text(), QStringLiteral("33"));
    w.list("outputSize3DBox")->setCurrentIndex(0);
    const QString down = path(QStringLiteral("down.cube"));
    w.field("outputPathEdit")->setText(down);
    w.box("inputDefaultOrderBox")->setChecked(false);
    w.list("inputDataOrderBox")->setCurrentIndex(1); // the 33 file's lines are blue, green, red
    w.press("generateButton");
    QCOMPARE(w.lastMessage().text, QStringLiteral("Export successful !"));
    const TestSupport::CubeText small = TestSupport::parseCubeText(cubeFile(QStringLiteral("ref.cube"), 17));
    const TestSupport::CubeText back = TestSupport::parseCubeText(down);
    QCOMPARE(back.size, 17);
    for (size_t line = 0; line < small.values.size() / 3; ++line)
        for (int c = 0; c < 3; ++c)
            QVERIFY(std::fabs(back.values[3 * line + c] - small.values[3 * line + 2 - c]) < 2e-6);
}

void TestWindow::resampleAgreesWithOcio()
{
    if (!TestSupport::haveOcio())
        QSKIP("ociobakelut is not installed");
    // A curved table, where the interpolation matters; OpenColorIO bakes
    // the same 17-point cube to 33 points as a standard cube.
    QByteArray text = "LUT_3D_SIZE 17\n";
    for (int b = 0; b < 17; ++b)
        for (int g = 0; g < 17; ++g)
            for (int r = 0; r < 17; ++r)
                text += QByteArray::number(std::pow(r / 16.0, 2.2), 'f', 6) + ' '
                    + QByteArray::number(std::sqrt(g / 16.0) * 0.7 + 0.3 * b / 16.0, 'f', 6) + ' '
                    + QByteArray::number(0.5 + 0.5 * std::sin(3.0 * b / 16.0) * r / 16.0, 'f', 6) + '\n';
    const QString input = TestSupport::writeFile(path(QStringLiteral("curve.cube")), text);
    const QString ocio = path(QStringLiteral("curve-ocio.cube"));
    QString error;
    QVERIFY2(TestSupport::ociobake(input, QStringLiteral("resolve_cube"), 33, ocio, &error), qPrintable(error));

    ScriptedWindow w;
    w.show();
    const QString output = path(QStringLiteral("curve-33.cube"));
    w.chooseInput({input});
    w.chooseOutput(output);
    w.list("outputSize3DBox")->setCurrentIndex(1);
    w.list("outputDataOrderBox")->setCurrentIndex(1); // lines red, green, blue like the peer's
    w.press("generateButton");
    QCOMPARE(w.lastMessage().text, QStringLiteral("Export successful !"));

    const TestSupport::CubeText ours = TestSupport::parseCubeText(output);
    const TestSupport::CubeText theirs = TestSupport::parseCubeText(ocio);
    QCOMPARE(ours.size, 33);
    QCOMPARE(theirs.size, 33);
    QCOMPARE(ours.values.size(), theirs.values.size());
    // The two interpolators differ inside a cell; on the old lattice
    // points (every second new one) they must agree.
    double maxDiff = 0;
    for (int b = 0; b < 33; b += 2)
        for (int g = 0; g < 33; g += 2)
            for (int r = 0; r < 33; r += 2)
                for (int c = 0; c < 3; ++c) {
                    const size_t at = 3 * ((b * 33 + g) * 33 + r) + c;
                    maxDiff = std::max(maxDiff, double(std::fabs(ours.values[at] - theirs.values[at])));
                }
    QVERIFY2(maxDiff < 1e-5, qPrintable(QString::number(maxDiff)));
    double overall = 0;
    for (size_t i = 0; i < ours.values.size(); ++i)
        overall = std::max(overall, double(std::fabs(ours.values[i] - theirs.values[i])));
    QVERIFY2(overall < 0.02, qPrintable(QString::number(overall)));
}

void TestWindow::oneDimensionalInputIsRefused()
{
    ScriptedWindow w;
    w.show();
    const QString input = TestSupport::writeFile(path(QStringLiteral("curve1d.cube")),
                                                 "LUT_1D_SIZE 3\n0 0 0\n0.5 0.5 0.5\n1 1 1\n");
    const QString output = path(QStringLiteral("from1d.cube"));
    w.chooseInput({input});
    QCOMPARE(w.field("inputSize3DEdit")->text(), QStringLiteral("0"));
    QCOMPARE(w.field("inputSize1DEdit")->text(), QStringLiteral("3"));
    QCOMPARE(w.field("inputDimensionEdit")->text(), QStringLiteral("1D"));
    w.chooseOutput(output);
    for (int sizeIndex : {0, 1}) {
        w.list("outputSize3DBox")->setCurrentIndex(sizeIndex);
        w.press("generateButton");
        QCOMPARE(w.lastMessage().title, QStringLiteral("Error"));
        QCOMPARE(w.lastMessage().text, QStringLiteral("Format not supported !"));
        QVERIFY(!QFile::exists(output));
    }
}

void TestWindow::failuresLeaveTheWindowWorking()
{
    ScriptedWindow w;
    w.show();
    const QString input = cubeFile(QStringLiteral("ok.cube"), 17);
    w.chooseInput({input});

    // The output cannot be opened: a missing directory, then a directory.
    w.chooseOutput(path(QStringLiteral("no/such/dir/out.cube")));
    w.press("generateButton");
    QCOMPARE(w.lastMessage().title, QStringLiteral("Error"));
    QCOMPARE(w.lastMessage().text, QStringLiteral("Format not supported !"));
    w.chooseOutput(tmp.path());
    w.list("outputSize3DBox")->setCurrentIndex(1);
    w.press("generateButton");
    QCOMPARE(w.lastMessage().text, QStringLiteral("Format not supported !"));

    // The next press with a writable name works.
    const QString output = path(QStringLiteral("after-failure.cube"));
    w.chooseOutput(output);
    w.press("generateButton");
    QCOMPARE(w.lastMessage().text, QStringLiteral("Export successful !"));
    QCOMPARE(TestSupport::parseCubeText(output).size, 33);

    // A malformed input (the data stop halfway) fails the read and leaves
    // the previous output alone; the good input then converts again.
    QByteArray half = "LUT_3D_SIZE 4\n";
    for (int i = 0; i < 30; ++i)
        half += "0.5 0.5 0.5\n";
    const QString broken = TestSupport::writeFile(path(QStringLiteral("half.cube")), half);
    w.chooseInput({broken});
    QCOMPARE(w.field("inputSize3DEdit")->text(), QStringLiteral("4"));
    const QByteArray before = TestSupport::readFile(output);
    w.press("generateButton");
    QCOMPARE(w.lastMessage().text, QStringLiteral("File Error!"));
    QCOMPARE(TestSupport::readFile(output), before);
    w.chooseInput({input});
    const int count = w.messages.size();
    w.press("generateButton");
    QCOMPARE(w.messages.size(), count + 1);
    QCOMPARE(w.lastMessage().text, QStringLiteral("Export successful !"));
}

QTEST_MAIN(TestWindow)
#include "test_window.moc"
