#include "app/MainWindow.h"

#include "ChromaductBuild.h"
#include "lut/LutConversion.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDebug>
#include <QEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>

#include <algorithm>
#include <cmath>

const QStringList labelTextsEnglish = {
    QStringLiteral("Input File"),    QStringLiteral("File Name"),     QStringLiteral("Type"),
    QStringLiteral("Default Order"), QStringLiteral("Data Order"),    QStringLiteral("Table Order"),
    QStringLiteral("3D Size"),       QStringLiteral("1D Size"),       QStringLiteral("Dimension"),
    QStringLiteral("Output File"),   QStringLiteral("File Path"),     QStringLiteral("Type"),
    QStringLiteral("3D Size"),       QStringLiteral("Default Order"), QStringLiteral("Data Order"),
    QStringLiteral("Table Order"),   QStringLiteral("Language"),      QStringLiteral("Begin"),
};

const QStringList labelTextsChinese = {
    QStringLiteral("输入文件"), QStringLiteral("文件名"),   QStringLiteral("类型"),
    QStringLiteral("默认顺序"), QStringLiteral("数据顺序"), QStringLiteral("表格顺序"),
    QStringLiteral("3D尺寸"),   QStringLiteral("1D尺寸"),   QStringLiteral("维度"),
    QStringLiteral("输出文件"), QStringLiteral("路径"),     QStringLiteral("类型"),
    QStringLiteral("3D尺寸"),   QStringLiteral("默认顺序"), QStringLiteral("数据顺序"),
    QStringLiteral("表格顺序"), QStringLiteral("语言"),     QStringLiteral("开始转换"),
};

namespace {

// The cube sizes behind the items of the output cube size list.
const int cubeSizeValues[] = {17, 33};
constexpr int kInputLabels = 8;
constexpr int kOutputLabels = 6;
// The start size is also the smallest: below it the columns overlap.
constexpr int kStartWidth = 1000;
constexpr int kStartHeight = 480;

// The output column starts at 5/12 of the width, the third column at 10/12;
// positions are computed in floating point and truncated.
int columnX(int width, int twelfths, double offset)
{
    return int(width * twelfths / 12.0 + offset);
}

// A list whose size hint leaves room for its widest item beside the arrow
// as the style draws it: a style may scale the arrow with the screen's
// resolution while its size hint does not.
class List : public QComboBox
{
public:
    using QComboBox::QComboBox;

    QSize sizeHint() const override
    {
        QSize hint = QComboBox::sizeHint();
        QStyleOptionComboBox option;
        initStyleOption(&option);
        option.rect = QRect(QPoint(0, 0), hint);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
        int widest = 0;
        for (int i = 0; i < count(); ++i)
            widest = std::max(widest, fontMetrics().horizontalAdvance(itemText(i)));
        // The label is drawn one pixel in from each side of the field.
        hint.rwidth() += std::max(0, widest + 2 - field.width());
        return hint;
    }
};

QComboBox *makeList(QWidget *parent, const QString &name, const QStringList &items)
{
    auto *list = new List(parent);
    list->setObjectName(name);
    list->addItems(items);
    return list;
}

QLineEdit *makeField(QWidget *parent, const QString &name, bool enabled)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setEnabled(enabled);
    return field;
}

QCheckBox *makeCheckedBox(QWidget *parent, const QString &name)
{
    auto *box = new QCheckBox(parent);
    box->setObjectName(name);
    box->setChecked(true);
    return box;
}

// path from the last separator (included) to the end; the whole path when
// there is none.
QString tailFrom(const QString &path, QChar separator)
{
    const int at = path.lastIndexOf(separator);
    return at < 0 ? path : path.mid(at);
}

// Relative luminance of an sRGB colour and the contrast ratio of two colours,
// (lighter + 0.05) / (darker + 0.05), from 1:1 to 21:1.
double luminance(const QColor &colour)
{
    const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A text colour for a disabled field of palette that reads at 4.5:1 or
// better on its background: the palette's own disabled text when it does,
// else its normal text, else black or white, whichever contrasts more (one
// of them always reaches 4.5:1).
QColor legibleDisabledText(const QPalette &palette)
{
    constexpr double kMinContrast = 4.5;
    const QColor background = palette.color(QPalette::Disabled, QPalette::Base);
    for (const QColor &text : {palette.color(QPalette::Disabled, QPalette::Text),
                               palette.color(QPalette::Active, QPalette::Text)}) {
        if (contrast(text, background) >= kMinContrast)
            return text;
    }
    const QColor black(Qt::black), white(Qt::white);
    return contrast(black, background) >= contrast(white, background) ? black : white;
}

// The detail of a failure message: the file and the reason, as the command
// line prints them.
QString failureDetail(const QString &file, const QString &reason)
{
    return file + QLatin1String(": ") + reason;
}

bool isEnterKey(const QKeyEvent *key)
{
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace

void MainWindow::prepareApplication()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Chromaduct (v" CHROMADUCT_VERSION ")"));

    inputButton = new QPushButton(this);
    inputButton->setObjectName(QStringLiteral("inputButton"));
    outputButton = new QPushButton(this);
    outputButton->setObjectName(QStringLiteral("outputButton"));
    generateButton = new QPushButton(this);
    generateButton->setObjectName(QStringLiteral("generateButton"));
    // The press starts the action, not the click.
    connect(inputButton, &QPushButton::pressed, this, &MainWindow::slotInputButton);
    connect(outputButton, &QPushButton::pressed, this, &MainWindow::slotOutputButton);
    connect(generateButton, &QPushButton::pressed, this, &MainWindow::slotWriteLut);

    inputLabelCount = 0;
    for (int i = 0; i < kInputLabels; ++i) {
        labels[inputLabelCount] = new QLabel(this);
        labels[inputLabelCount]->setObjectName(QStringLiteral("inputLabel%1").arg(i));
        ++inputLabelCount;
    }
    for (int j = 0; j < kOutputLabels; ++j) {
        labels[inputLabelCount + j] = new QLabel(this);
        labels[inputLabelCount + j]->setObjectName(QStringLiteral("outputLabel%1").arg(j));
    }

    inputNameEdit = makeField(this, QStringLiteral("inputNameEdit"), false);
    inputTypeEdit = makeField(this, QStringLiteral("inputTypeEdit"), false);
    inputSize3DEdit = makeField(this, QStringLiteral("inputSize3DEdit"), false);
    inputSize1DEdit = makeField(this, QStringLiteral("inputSize1DEdit"), false);
    inputDimensionEdit = makeField(this, QStringLiteral("inputDimensionEdit"), false);
    inputDefaultOrderBox = makeCheckedBox(this, QStringLiteral("inputDefaultOrderBox"));
    inputDataOrderBox = makeList(this, QStringLiteral("inputDataOrderBox"),
                                 {QStringLiteral("RGB"), QStringLiteral("BGR")});
    inputTableOrderBox = makeList(this, QStringLiteral("inputTableOrderBox"),
                                  {QStringLiteral("BGR"), QStringLiteral("RGB")});
    connect(inputDefaultOrderBox, &QCheckBox::stateChanged, this, &MainWindow::slotInCheckBoxChanged);
    connect(inputDataOrderBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::slotInComboxChanged);
    connect(inputTableOrderBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::slotInComboxChanged);

    outputPathEdit = makeField(this, QStringLiteral("outputPathEdit"), true);
    outputTypeBox = makeList(this, QStringLiteral("outputTypeBox"),
                             {QString::fromUtf8(LutFormats::row(LutFormatId::Cube).label)});
    outputSize3DBox = makeList(this, QStringLiteral("outputSize3DBox"),
                               {QStringLiteral("17"), QStringLiteral("33")});
    outputSize3DBox->setCurrentIndex(0);
    outputDefaultOrderBox = makeCheckedBox(this, QStringLiteral("outputDefaultOrderBox"));
    outputDataOrderBox = makeList(this, QStringLiteral("outputDataOrderBox"),
                                  {QStringLiteral("BGR"), QStringLiteral("RGB")});
    outputTableOrderBox = makeList(this, QStringLiteral("outputTableOrderBox"),
                                   {QStringLiteral("BGR"), QStringLiteral("RGB")});
    connect(outputDefaultOrderBox, &QCheckBox::stateChanged, this, &MainWindow::slotOutCheckBoxChanged);
    connect(outputDataOrderBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::slotOutComboxChanged);
    connect(outputTableOrderBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::slotOutComboxChanged);

    languageLabel = new QLabel(this);
    languageLabel->setObjectName(QStringLiteral("languageLabel"));
    languageBox = makeList(this, QStringLiteral("languageBox"),
                           {QStringLiteral("English"), QStringLiteral("简体中文")});
    language = 0;
    connect(languageBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::slotLanguageChanged);

    setUpKeyboard();
    makeFieldsLegible();
    retranslateTexts();
    setMinimumSize(kStartWidth, kStartHeight);
    resize(kStartWidth, kStartHeight);
    // A hidden window gets its resize event only when shown; place the
    // widgets now so that the window is complete from the start.
    placeWidgets(width(), height());
    fitFont();
}

MainWindow::~MainWindow() = default;

void MainWindow::paintEvent(QPaintEvent *)
{
    const int w = width();
    const int h = height();
    QPainter painter(this);
    painter.setBrush(QBrush(QColor(200, 200, 200, 255), Qt::SolidPattern));
    painter.drawRect(0, 0, w - 1, h - 1);

    // Etched separators: a black line with a white one just right of it.
    painter.setPen(Qt::black);
    painter.drawLine(columnX(w, 5, 0), 0, columnX(w, 5, 0), h);
    painter.drawLine(columnX(w, 10, 0), 0, columnX(w, 10, 0), h);
    painter.setPen(Qt::white);
    painter.drawLine(columnX(w, 5, 1), 0, columnX(w, 5, 1), h);
    painter.drawLine(columnX(w, 10, 1), 0, columnX(w, 10, 1), h);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    placeWidgets(event->size().width(), event->size().height());
}

void MainWindow::placeWidgets(int w, int h)
{
    const int x1 = columnX(w, 5, 20);
    const int x2 = columnX(w, 5, 135);
    const int x3 = columnX(w, 10, 20);
    const int x4 = columnX(w, 10, 10);

    inputButton->setGeometry(20, 10, 100, 40);
    outputButton->setGeometry(x1, 10, 100, 40);
    generateButton->setGeometry(x3, h - 50, 120, 40);
    for (int i = 0; i < inputLabelCount; ++i)
        labels[i]->setGeometry(20, 60 + 50 * i, 100, 40);
    for (int j = 0; j < kOutputLabels; ++j)
        labels[inputLabelCount + j]->setGeometry(x1, 60 + 50 * j, 100, 40);

    auto placeAtHint = [](QWidget *widget, int x, int y) {
        widget->setGeometry(QRect(QPoint(x, y), widget->sizeHint()));
    };

    inputNameEdit->setGeometry(135, 60, 280, 30);
    inputTypeEdit->setGeometry(135, 110, 100, 30);
    inputDefaultOrderBox->setGeometry(135, 160, 100, 40);
    placeAtHint(inputDataOrderBox, 135, 210);
    placeAtHint(inputTableOrderBox, 135, 260);
    inputSize3DEdit->setGeometry(135, 310, 100, 30);
    inputSize1DEdit->setGeometry(135, 360, 100, 30);
    inputDimensionEdit->setGeometry(135, 410, 100, 30);

    outputPathEdit->setGeometry(x2, 60, 280, 30);
    placeAtHint(outputTypeBox, x2, 110);
    placeAtHint(outputSize3DBox, x2, 160);
    outputDefaultOrderBox->setGeometry(x2, 210, 100, 40);
    placeAtHint(outputDataOrderBox, x2, 260);
    placeAtHint(outputTableOrderBox, x2, 310);

    placeAtHint(languageLabel, x4, 10);
    placeAtHint(languageBox, x4, 40);
}

void MainWindow::setUpKeyboard()
{
    // Down the input column, down the output column, then the language and
    // the start button. Disabled fields stay in the chain and are skipped.
    const QList<QWidget *> chain = {
        inputButton, inputNameEdit, inputTypeEdit, inputDefaultOrderBox, inputDataOrderBox,
        inputTableOrderBox, inputSize3DEdit, inputSize1DEdit, inputDimensionEdit,
        outputButton, outputPathEdit, outputTypeBox, outputSize3DBox, outputDefaultOrderBox,
        outputDataOrderBox, outputTableOrderBox, languageBox, generateButton};
    for (int i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
    for (QPushButton *button : {inputButton, outputButton, generateButton})
        button->installEventFilter(this);

    QWidget *const inputControls[kInputLabels] = {inputNameEdit, inputTypeEdit, inputDefaultOrderBox,
                                                  inputDataOrderBox, inputTableOrderBox, inputSize3DEdit,
                                                  inputSize1DEdit, inputDimensionEdit};
    QWidget *const outputControls[kOutputLabels] = {outputPathEdit, outputTypeBox, outputSize3DBox,
                                                    outputDefaultOrderBox, outputDataOrderBox,
                                                    outputTableOrderBox};
    for (int i = 0; i < inputLabelCount; ++i)
        labels[i]->setBuddy(inputControls[i]);
    for (int j = 0; j < kOutputLabels; ++j)
        labels[inputLabelCount + j]->setBuddy(outputControls[j]);
    languageLabel->setBuddy(languageBox);
    for (QLabel *label : labels)
        label->installEventFilter(this);
    languageLabel->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && qobject_cast<QPushButton *>(watched)) {
        // Enter presses a button as Space does, once per key press: a held
        // key must not run one conversion after another.
        auto *key = static_cast<QKeyEvent *>(event);
        if (isEnterKey(key)) {
            if (!key->isAutoRepeat())
                static_cast<QPushButton *>(watched)->click();
            return true;
        }
    }
    auto *label = qobject_cast<QLabel *>(watched);
    QWidget *buddy = label ? label->buddy() : nullptr;
    if (buddy && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        // The press is taken so that the release comes back to the caption;
        // a release inside it toggles a check box and focuses any control.
        if (event->type() == QEvent::MouseButtonRelease && label->rect().contains(mouse->pos())
            && buddy->isEnabled()) {
            buddy->setFocus(Qt::MouseFocusReason);
            if (auto *box = qobject_cast<QCheckBox *>(buddy))
                box->click();
        }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::event(QEvent *event)
{
    const bool handled = QMainWindow::event(event);
    if (!languageBox) // still being built
        return handled;
    switch (event->type()) {
    case QEvent::ApplicationFontChange:
        fitFont();
        break;
    case QEvent::ApplicationPaletteChange:
    case QEvent::StyleChange:
        makeFieldsLegible();
        break;
    default:
        break;
    }
    return handled;
}

void MainWindow::makeFieldsLegible()
{
    for (QLineEdit *field : {inputNameEdit, inputTypeEdit, inputSize3DEdit, inputSize1DEdit, inputDimensionEdit}) {
        QPalette palette = QApplication::palette(field);
        palette.setColor(QPalette::Disabled, QPalette::Text, legibleDisabledText(palette));
        field->setPalette(palette);
    }
}

bool MainWindow::textsFit() const
{
    const auto fits = [](const QWidget *widget, const QSize &room) {
        const QSize need = widget->sizeHint();
        return need.width() <= room.width() && need.height() <= room.height();
    };
    // Captions and buttons have fixed cells; fields a fixed height.
    for (const QWidget *cell : {static_cast<QWidget *>(inputButton), static_cast<QWidget *>(outputButton),
                                static_cast<QWidget *>(generateButton)}) {
        if (!fits(cell, cell->size()))
            return false;
    }
    for (const QLabel *label : labels) {
        if (!fits(label, label->size()))
            return false;
    }
    // A field shows one line of text in its frame; the text scrolls sideways.
    for (const QLineEdit *field : {inputNameEdit, inputTypeEdit, inputSize3DEdit, inputSize1DEdit,
                                   inputDimensionEdit, outputPathEdit}) {
        QStyleOptionFrame panel;
        panel.initFrom(field);
        panel.lineWidth = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, field);
        const QRect text = field->style()->subElementRect(QStyle::SE_LineEditContents, &panel, field);
        if (field->fontMetrics().height() > text.height())
            return false;
    }
    // The language caption stands at its size hint above the language list,
    // inside the third column with a 10-pixel margin on each side.
    const int thirdColumn = kStartWidth - columnX(kStartWidth, 10, 10) - 10;
    return fits(languageLabel, QSize(thirdColumn, languageBox->y() - languageLabel->y()));
}

void MainWindow::fitFont()
{
    // Start from the application font (an empty font inherits everything)
    // and shrink in half points, or in pixels for a font given in pixels,
    // down to 8 pixels at the most.
    setFont(QFont());
    QFont font = QApplication::font(this);
    const bool inPixels = font.pointSizeF() <= 0;
    double size = inPixels ? font.pixelSize() : font.pointSizeF();
    const double step = inPixels ? 1.0 : 0.5;
    constexpr int kSmallestPixels = 8;
    while (!textsFit() && fontInfo().pixelSize() > kSmallestPixels && size > step) {
        size -= step;
        if (inPixels)
            font.setPixelSize(int(size));
        else
            font.setPointSizeF(size);
        setFont(font);
    }
    placeWidgets(width(), height());
}

void MainWindow::retranslateTexts()
{
    const QStringList *texts = nullptr;
    if (language == 1) {
        texts = &labelTextsChinese;
        inputButton->setText(QStringLiteral("输入文件"));
        outputButton->setText(QStringLiteral("输出文件"));
        generateButton->setText(QStringLiteral("生成 Lut"));
    } else if (language == 0) {
        texts = &labelTextsEnglish;
        inputButton->setText(QStringLiteral("Input File"));
        outputButton->setText(QStringLiteral("Output File"));
        generateButton->setText(QStringLiteral("Generate Lut"));
    } else {
        return;
    }
    languageLabel->setText(QStringLiteral("语言/Language:"));
    for (int i = 0; i < inputLabelCount; ++i)
        labels[i]->setText(texts->at(i + 1));
    for (int j = 0; j < kOutputLabels; ++j)
        labels[inputLabelCount + j]->setText(texts->at(inputLabelCount + j + 2));
}

void MainWindow::slotLanguageChanged(int index)
{
    language = index;
    retranslateTexts();
    fitFont();
}

// Choosing anything but the first item of an order list is a choice of
// one's own: the "Default Order" box of that side goes off. The box's own
// reset of the lists is not such a choice.
void MainWindow::slotInComboxChanged(int)
{
    if (resettingOrder)
        return;
    if (inputDataOrderBox->currentIndex() != 0 || inputTableOrderBox->currentIndex() != 0)
        inputDefaultOrderBox->setChecked(false);
}

void MainWindow::slotInCheckBoxChanged(int state)
{
    if (state != Qt::Checked)
        return;
    resettingOrder = true;
    inputDataOrderBox->setCurrentIndex(0);
    inputTableOrderBox->setCurrentIndex(0);
    resettingOrder = false;
}

void MainWindow::slotOutComboxChanged(int)
{
    if (resettingOrder)
        return;
    if (outputDataOrderBox->currentIndex() != 0 || outputTableOrderBox->currentIndex() != 0)
        outputDefaultOrderBox->setChecked(false);
}

void MainWindow::slotOutCheckBoxChanged(int state)
{
    if (state != Qt::Checked)
        return;
    resettingOrder = true;
    outputDataOrderBox->setCurrentIndex(0);
    outputTableOrderBox->setCurrentIndex(0);
    resettingOrder = false;
}

QString MainWindow::dialogFilter() const
{
    return tr(LutFormats::fileDialogFilter().toUtf8().constData());
}

QStringList MainWindow::askOpenFileNames(const QString &caption, const QString &filter)
{
    return QFileDialog::getOpenFileNames(this, caption, QString(), filter);
}

QString MainWindow::askSaveFileName(const QString &caption, const QString &filter)
{
    return QFileDialog::getSaveFileName(this, caption, QString(), filter);
}

void MainWindow::showWarning(const QString &title, const QString &text, const QString &detail)
{
    // What QMessageBox::warning shows (one OK button, no default button, no
    // parent), plus a Details button when there is a detail.
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, nullptr);
    box.setDetailedText(detail);
    box.exec();
}

void MainWindow::slotOutputButton()
{
    const QString name = askSaveFileName(tr("Save ICC/3DLUT File"), dialogFilter());
    if (name.isEmpty())
        return;
    outputPath = name;
    outputPathEdit->setText(name);
}

void MainWindow::slotInputButton()
{
    const QStringList names = askOpenFileNames(tr("Open ICC/3DLUT File"), dialogFilter());
    if (names.isEmpty())
        return;
    inputPath = names.first();

    LutConversion::Request request;
    request.input = inputPath;
    Read_LUTFile header;
    if (!LutConversion::readHeader(request, &header)) {
        qDebug() << "header read failed:" << header.errorString;
        return;
    }
    inputNameEdit->setText(tailFrom(inputPath, QLatin1Char('/')));
    inputTypeEdit->setText(tailFrom(inputPath, QLatin1Char('.')));
    inputSize3DEdit->setText(QString::number(header.size3D));
    // A cube file may carry a 1D table beside its cube, or only a 1D table.
    inputSize1DEdit->setText(QString::number(header.size1D));
    inputDimensionEdit->setText(header.size3D >= 1 || header.size1D < 1 ? QStringLiteral("3D")
                                                                        : QStringLiteral("1D"));
}

void MainWindow::slotWriteLut()
{
    if (outputPathEdit->text().isEmpty() || inputNameEdit->text().isEmpty()) {
        if (language == 1)
            showWarning(QStringLiteral("错误"), QStringLiteral("请选择 输入/输出 文件！"), QString());
        else
            showWarning(QStringLiteral("Error"), QStringLiteral("Please Select Input/Output File!"), QString());
        return;
    }
    outputPath = outputPathEdit->text();

    const QString rgb = QStringLiteral("RGB");
    LutConversion::Request request;
    request.input = inputPath;
    // The format the catalogue chooses (extension, then content), read for
    // what the file means, as the command line reads it; the file must hold
    // a cube of its own.
    request.require3DTable = true;
    request.inOrder.defaultOrder = inputDefaultOrderBox->isChecked();
    request.inOrder.dataRGB = inputDataOrderBox->currentText() == rgb;
    request.inOrder.tableRGB = inputTableOrderBox->currentText() == rgb;

    request.output = outputPath;
    request.to = &LutFormats::row(LutFormatId::Cube);
    request.outOrder.defaultOrder = outputDefaultOrderBox->isChecked();
    request.outOrder.formatFlags = false;
    request.outOrder.dataRGB = outputDataOrderBox->currentText() == rgb;
    request.outOrder.tableRGB = outputTableOrderBox->currentText() == rgb;
    request.scale = 1;
    const int sizeIndex = outputSize3DBox->currentIndex();
    request.size = cubeSizeValues[sizeIndex == 1 ? 1 : 0];

    runExport(request);
}

void MainWindow::runExport(const LutConversion::Request &request)
{
    const LutConversion::Result result = LutConversion::convert(request);
    switch (result.status) {
    case LutConversion::Status::Done:
        showWarning(QStringLiteral("Successful"), QStringLiteral("Export successful !"), QString());
        break;
    case LutConversion::Status::ReadFailed:
        qDebug() << "read failed:" << result.reason;
        showWarning(QStringLiteral("Error"), QStringLiteral("File Error!"), failureDetail(result.file, result.reason));
        break;
    case LutConversion::Status::WriteFailed:
    case LutConversion::Status::Usage:
        qDebug() << "export failed:" << result.reason;
        showWarning(QStringLiteral("Error"), QStringLiteral("Format not supported !"),
                    failureDetail(result.file, result.reason));
        break;
    }
}
