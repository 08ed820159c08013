#pragma once

#include "lut/LutConversion.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class Read_LUTFile;

// The 18 caption texts of the window, English and Chinese, by index:
// 1..8 are the input-side captions, 10..15 the output-side ones; 0, 9, 16
// and 17 name the columns, the language and the start button.
extern const QStringList labelTextsEnglish;
extern const QStringList labelTextsChinese;

// The one window of the program: an input column (what the chosen file's
// header says and how to read it), an output column (file, cube size, how
// to write it) and a third column with the language and the start button.
// Every widget is placed by absolute coordinates computed from the window
// size; there is no layout manager and no central widget.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Application-wide settings the window relies on; call before the
    // application object is made. High-DPI scaling keeps every coordinate of
    // the window in device-independent pixels, so that 1.5x and 2x desktops
    // (or 144 and 192 dpi) show the same window, only sharper; fractional
    // factors are kept as they are rather than rounded up to 2.
    static void prepareApplication();

    // The full name of the chosen input file and of the output file.
    QString currentInputPath() const { return inputPath; }
    QString currentOutputPath() const { return outputPath; }
    // 0 English, 1 Chinese.
    int currentLanguage() const { return language; }

public slots:
    void slotInputButton();
    void slotOutputButton();
    void slotWriteLut();
    void slotInComboxChanged(int index);
    void slotInCheckBoxChanged(int state);
    void slotOutComboxChanged(int index);
    void slotOutCheckBoxChanged(int state);
    void slotLanguageChanged(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // Fits the font again when the application font changes, and the input
    // fields' colours when the palette or the style does.
    bool event(QEvent *event) override;
    // Enter/Return on a focused button presses it; a click on a caption acts
    // on its control.
    bool eventFilter(QObject *watched, QEvent *event) override;

    // The dialogs and message boxes of a conversion run. The defaults are the
    // toolkit's modal static dialogs; tests override them to answer without
    // a user. detail, when not empty, is why a read or write failed ("FILE:
    // reason"), shown behind the box's Details button.
    virtual QStringList askOpenFileNames(const QString &caption, const QString &filter);
    virtual QString askSaveFileName(const QString &caption, const QString &filter);
    virtual void showWarning(const QString &title, const QString &text, const QString &detail);

    // Runs the conversion the controls ask for (read, resample when the cube
    // sizes differ, write) and reports the outcome in a message box.
    void runExport(const LutConversion::Request &request);

private:
    void retranslateTexts();
    void placeWidgets(int width, int height);
    // Gives the window the largest font, no larger than the application's,
    // with which every caption, button and field shows its whole text in its
    // fixed cell, then places the widgets again.
    void fitFont();
    bool textsFit() const;
    // Lets the disabled input fields show their text in a colour that
    // contrasts with their background by at least 4.5:1.
    void makeFieldsLegible();
    // Tab order by columns; each caption's control as its buddy.
    void setUpKeyboard();
    QString dialogFilter() const;

    QPushButton *inputButton = nullptr;
    QPushButton *outputButton = nullptr;
    QPushButton *generateButton = nullptr;
    QLabel *labels[14] = {};
    QLineEdit *inputNameEdit = nullptr;
    QLineEdit *inputTypeEdit = nullptr;
    QLineEdit *inputSize3DEdit = nullptr;
    QLineEdit *inputSize1DEdit = nullptr;
    QLineEdit *inputDimensionEdit = nullptr;
    QCheckBox *inputDefaultOrderBox = nullptr;
    QComboBox *inputDataOrderBox = nullptr;
    QComboBox *inputTableOrderBox = nullptr;
    QLineEdit *outputPathEdit = nullptr;
    QComboBox *outputTypeBox = nullptr;
    QComboBox *outputSize3DBox = nullptr;
    QCheckBox *outputDefaultOrderBox = nullptr;
    QComboBox *outputDataOrderBox = nullptr;
    QComboBox *outputTableOrderBox = nullptr;
    QComboBox *languageBox = nullptr;
    QLabel *languageLabel = nullptr;

    QString inputPath;
    QString outputPath;
    int inputLabelCount = 0;
    int language = 0;
    // Set while a "Default Order" box puts its lists back, so that the list
    // slots do not take the box's own reset for a user's choice.
    bool resettingOrder = false;
};
