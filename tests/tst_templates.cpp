// The program's dialogs against their templates: every control where the
// template puts it, with its id and flags, frames drawn under their titles,
// read-only boxes greyed.
#include "aboutdlg.h"
#include "dialogtemplate.h"
#include "filenamedlg.h"
#include "folderdlg.h"
#include "qttranslations.h"
#include "scriptedmessages.h"
#include "settingsdlg.h"
#include "settingsstore.h"
#include "thermodlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QTranslator>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTemporaryDir>
#include <QTest>

namespace {

// One row of a template as the dialog's resources describe it.
struct Row
{
    int dialog;
    int id; // -1: found by its text
    const char *kind;
    const char *text;
    int x, y, width, height;
    const char *flags; // default, disabled, readonly, digits, hidden, sorted, editable
};

const Row kRows[] = {
    {102, 1, "QPushButton", "OK(Start)", 234, 79, 79, 14, "default"},
    {102, 2, "QPushButton", "Cancel", 234, 141, 79, 14, ""},
    {102, 1000, "QPushButton", "Настройки", 234, 121, 79, 14, ""},
    {102, 1002, "QPushButton", "Выбор папки...", 7, 7, 85, 14, ""},
    {102, 1003, "QLineEdit", "", 103, 7, 210, 15, ""},
    {102, -1, "QLabel", "Комментарий", 7, 46, 53, 8, ""},
    {102, 1005, "QPlainTextEdit", "", 7, 55, 219, 100, ""},
    {102, 1006, "QPushButton", "Показ", 271, 34, 36, 14, ""},
    {102, -1, "GroupFrame", "График", 122, 25, 191, 26, ""},
    {102, -1, "QLabel", "От", 125, 39, 10, 8, ""},
    {102, 1024, "QLineEdit", "", 137, 36, 40, 12, ""},
    {102, 1025, "QLineEdit", "", 215, 36, 41, 12, "digits"},
    {102, -1, "QLabel", "До", 201, 39, 11, 8, ""},
    {102, -1, "QLabel", "C", 181, 39, 8, 8, ""},
    {102, -1, "QLabel", "C", 259, 40, 9, 8, ""},
    {102, 1026, "QLineEdit", "", 67, 28, 40, 14, "readonly"},
    {102, -1, "QLabel", "Температура", 17, 30, 46, 8, ""},
    {102, 1029, "QPushButton", "Stop", 234, 101, 79, 14, "disabled"},
    {102, -1, "QLabel", "o", 177, 33, 8, 7, ""},
    {102, -1, "QLabel", "o", 255, 33, 8, 8, ""},

    {100, -1, "QLabel", "Calorivista Version 1.0", 40, 10, 119, 8, ""},
    {100, 1, "QPushButton", "OK", 178, 7, 50, 14, "default"},

    {129, 1, "QPushButton", "OK", 237, 7, 50, 14, "default"},
    {129, 2, "QPushButton", "Cancel", 237, 28, 50, 14, ""},
    {129, 1007, "QComboBox", "", 84, 20, 80, 63, "editable"},
    {129, -1, "QLabel", "Скорость передачи", 83, 13, 66, 8, ""},
    {129, 1011, "QRadioButton", "COM1", 27, 28, 36, 10, ""},
    {129, 1012, "QRadioButton", "COM2", 29, 66, 36, 10, ""},
    {129, -1, "GroupFrame", "Порт", 15, 17, 59, 74, ""},
    {129, -1, "QLabel", "Биты данных", 83, 40, 45, 8, "hidden"},
    {129, 1022, "QComboBox", "", 84, 48, 81, 30, "hidden sorted"},
    {129, -1, "QLabel", "Чётность", 82, 68, 33, 8, "hidden"},
    {129, 1023, "QComboBox", "", 82, 77, 84, 12, "hidden sorted"},
    {129, -1, "GroupFrame", "Соединение", 7, 7, 171, 94, ""},
    {129, -1, "QLabel", "Промежуток между сохранениями данных (сек)", 193, 46, 74, 25, ""},
    {129, 1028, "QLineEdit", "", 195, 73, 68, 12, "digits"},

    {131, -1, "QLabel", "Текущая папка", 7, 7, 55, 9, ""},
    {131, 1019, "QCheckBox", "в подпапку", 67, 7, 53, 10, ""},
    {131, 1021, "QLineEdit", "", 125, 7, 81, 13, "readonly"},
    {131, 1016, "QLabel", "Static", 7, 23, 199, 8, ""},
    {131, 1014, "QListWidget", "", 7, 37, 140, 98, "sorted"},
    {131, -1, "QLabel", "Сменить диск", 149, 37, 50, 8, ""},
    {131, 1018, "QComboBox", "", 155, 50, 51, 45, "editable sorted"},
    {131, 1, "QPushButton", "OK", 155, 104, 51, 14, "default"},
    {131, 2, "QPushButton", "Cancel", 156, 121, 50, 14, ""},
    {131, 1015, "QPushButton", "Создать папку", 7, 140, 54, 15, ""},
    {131, 1017, "QLineEdit", "", 67, 142, 139, 13, ""},

    {132, 1, "QPushButton", "OK", 129, 7, 50, 14, "default"},
    {132, 2, "QPushButton", "Cancel", 129, 24, 50, 14, ""},
    {132, -1, "QLabel",
     "Не могу создать очередной файл, так как количество записанных файлов превышает 10000. Если вы не хотите "
     "потерять данные, необходимо ввести имя файла для сохранения и нажать Ok. ",
     7, 7, 117, 52, ""},
    {132, -1, "QLabel", "Имя файла", 7, 65, 39, 8, ""},
    {132, 1027, "QLineEdit", "", 7, 76, 172, 12, ""},
};

QString TextOf(const QWidget *control)
{
    if (auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    return control->property("title").toString();
}

// The frame's top and bottom line, in the dialog's pixels, read off what is drawn.
std::pair<int, int> FrameLines(const QImage &image, const QRect &frame)
{
    const int x = frame.right() - 4; // right of the title, clear of the controls inside
    const QColor background = image.pixelColor(x, frame.top());
    int top = -1, bottom = -1;
    for (int y = frame.top(); y <= frame.bottom(); ++y) {
        if (image.pixelColor(x, y) != background) {
            top = top < 0 ? y : top;
            bottom = y;
        }
    }
    return {top, bottom};
}

} // namespace

class TestTemplates : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void qtSpeaksRussianAndTheTemplatesKeepTheirTexts();
    void controlsAsTheTemplatesSay_data();
    void controlsAsTheTemplatesSay();
    void framesLieUnderTheirTitles_data();
    void framesLieUnderTheirTitles();
    void readOnlyBoxesAreGreyed();

private:
    QDialog *Dialog(int id);

    QTemporaryDir m_dir;
    ScriptedMessages m_messages;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<CThermoDlg> m_main;
    std::unique_ptr<QDialog> m_about, m_folder, m_fileName;
};

void TestTemplates::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_store = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("settings.conf")));
    m_main = std::make_unique<CThermoDlg>(m_messages, *m_store, m_dir.filePath(QStringLiteral("journal")));
    m_about = std::make_unique<CAboutDlg>();
    m_folder = std::make_unique<CFolderDlg>(m_messages);
    m_fileName = std::make_unique<CFileNameDlg>();
}

void TestTemplates::cleanupTestCase()
{
    m_main.reset();
}

QDialog *TestTemplates::Dialog(int id)
{
    switch (id) {
    case 100: return m_about.get();
    case 102: return m_main.get();
    case 129: return &m_main->m_dlgSettings;
    case 131: return m_folder.get();
    default: return m_fileName.get();
    }
}

void TestTemplates::controlsAsTheTemplatesSay_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kRows)); ++i) {
        const Row &row = kRows[i];
        QTest::addRow("%d %d %s", row.dialog, row.id, row.id < 0 ? row.text : row.kind) << i;
    }
}

void TestTemplates::controlsAsTheTemplatesSay()
{
    QFETCH(int, row);
    const Row &expected = kRows[row];
    QDialog *dialog = Dialog(expected.dialog);
    const QRect place = DialogUnitsToPixels(dialog, QRect(expected.x, expected.y, expected.width, expected.height));
    const QString text = QString::fromUtf8(expected.text);
    const QString flags = QString::fromUtf8(expected.flags);

    QWidget *control = nullptr;
    if (expected.id >= 0) {
        control = TemplateControl(dialog, expected.id);
    } else {
        for (QWidget *child : dialog->findChildren<QWidget *>()) {
            if (child->inherits(expected.kind) && TextOf(child) == text && child->pos() == place.topLeft())
                control = child;
        }
    }
    QVERIFY2(control, "no such control where the template puts it");
    QVERIFY(control->inherits(expected.kind));
    QCOMPARE(control->pos(), place.topLeft());
    QCOMPARE(control->width(), place.width());
    if (!control->inherits("QComboBox")) // a combo's template height includes its drop-down list
        QCOMPARE(control->height(), place.height());
    if (!text.isEmpty())
        QCOMPARE(TextOf(control), text);

    QCOMPARE(control->isEnabled(), !flags.contains(QLatin1String("disabled")));
    QCOMPARE(control->isHidden(), flags.contains(QLatin1String("hidden")));
    if (auto *button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->isDefault(), flags.contains(QLatin1String("default")));
    if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        QCOMPARE(edit->isReadOnly(), flags.contains(QLatin1String("readonly")));
        QCOMPARE(edit->validator() != nullptr, flags.contains(QLatin1String("digits")));
        if (edit->validator()) {
            QString typed = QStringLiteral("12a-3");
            int at = 0;
            QCOMPARE(edit->validator()->validate(typed, at), QValidator::Invalid);
        }
    }
    if (auto *combo = qobject_cast<QComboBox *>(control))
        QCOMPARE(combo->isEditable(), flags.contains(QLatin1String("editable")));
    if (auto *list = qobject_cast<QListWidget *>(control))
        QCOMPARE(list->isSortingEnabled(), flags.contains(QLatin1String("sorted")));
}

void TestTemplates::framesLieUnderTheirTitles_data()
{
    QTest::addColumn<int>("dialog");
    QTest::addColumn<QString>("title");
    QTest::newRow("График") << 102 << QStringLiteral("График");
    QTest::newRow("Порт") << 129 << QStringLiteral("Порт");
    QTest::newRow("Соединение") << 129 << QStringLiteral("Соединение");
}

void TestTemplates::framesLieUnderTheirTitles()
{
    QFETCH(int, dialog);
    QFETCH(QString, title);
    QDialog *owner = Dialog(dialog);
    QWidget *frame = nullptr;
    for (QWidget *child : owner->findChildren<QWidget *>()) {
        if (TextOf(child) == title)
            frame = child;
    }
    QVERIFY(frame);
    // The frame's own picture only: a whole dialog's is converted on Qt's
    // thread pool, which the thread sanitizer cannot follow.
    const QImage image = owner->grab(frame->geometry()).toImage();
    auto [top, bottom] = FrameLines(image, QRect(QPoint(0, 0), frame->size()));
    QVERIFY2(top >= 0, "no frame drawn");
    top += frame->y();
    bottom += frame->y();

    // Every control laid inside the frame lies between its top and bottom line,
    // none cut or straddled by them.
    int inside = 0;
    for (QWidget *child : owner->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const QRect place = child->geometry();
        if (child == frame || child->isHidden() || !frame->geometry().contains(place))
            continue;
        ++inside;
        QVERIFY2(top < place.top() && place.bottom() < bottom,
                 qPrintable(QStringLiteral("\"%1\" at %2..%3, frame lines at %4 and %5")
                                .arg(TextOf(child)).arg(place.top()).arg(place.bottom()).arg(top).arg(bottom)));
    }
    QVERIFY(inside > 0);
}

void TestTemplates::readOnlyBoxesAreGreyed()
{
    m_main->show();
    // A corner only: a whole dialog's picture is converted on Qt's thread pool.
    const QColor dialogBackground = m_main->grab(QRect(0, 0, 8, 8)).toImage().pixelColor(2, 2);
    const auto fill = [](QWidget *edit) { return edit->grab().toImage().pixelColor(edit->width() - 5, edit->height() / 2); };
    QCOMPARE(fill(TemplateControl(m_main.get(), 1026)), dialogBackground); // the temperature only shows
    QVERIFY(fill(TemplateControl(m_main.get(), 1024)) != dialogBackground); // a limit is typed in
}

void TestTemplates::qtSpeaksRussianAndTheTemplatesKeepTheirTexts()
{
    QTranslator qtTexts;
    QVERIFY2(LoadQtTranslations(qtTexts), "Qt's translations (qt6-translations-l10n) are not installed");
    QApplication::installTranslator(&qtTexts);
    QMessageBox box(QMessageBox::Warning, QString(), QString(), QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Да"));
    QCOMPARE(box.button(QMessageBox::No)->text().remove(QLatin1Char('&')), QStringLiteral("Нет"));
    QDialogButtonBox buttons(QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')), QStringLiteral("Отмена"));
    // The program's own labels stay as they are.
    ScriptedMessages messages;
    QTemporaryDir dir;
    const SettingsStore store(dir.filePath(QStringLiteral("settings.conf")));
    CThermoDlg dialog(messages, store, dir.filePath(QStringLiteral("journal")));
    QCOMPARE(TemplateControl<QPushButton>(&dialog, 1)->text(), QStringLiteral("OK(Start)"));
    QCOMPARE(TemplateControl<QPushButton>(&dialog, 2)->text(), QStringLiteral("Cancel"));
    QApplication::removeTranslator(&qtTexts);
}

QTEST_MAIN(TestTemplates)
#include "tst_templates.moc"
