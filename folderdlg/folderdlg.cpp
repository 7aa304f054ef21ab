#include "folderdlg.h"

#include "dialogtemplate.h"
#include "messageseam.h"
#include "nativefs.h"
#include "nativename.h"
#include "subfoldername.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QStorageInfo>

namespace {

constexpr int kTemplateId = 131;
constexpr int kFolderList = 1014;
constexpr int kCreateButton = 1015;
constexpr int kCurrentFolder = 1016;
constexpr int kNewFolderEdit = 1017;
constexpr int kDriveBox = 1018;
constexpr int kSubfolderCheck = 1019;
constexpr int kSubfolderName = 1021;

QString Bracketed(const QString &drive)
{
    return QStringLiteral("[-") + drive + QStringLiteral("-]");
}

// The drive of the current folder as the drive list shows it: the letter on
// Windows, the root of the mounted volume elsewhere.
QString CurrentDrive()
{
#ifdef Q_OS_WIN
    return QDir::currentPath().left(1).toLower();
#else
    // Qt finds the volume by a name it can take: the folder, or the nearest
    // folder above it whose name holds no stand-in bytes.
    QString folder = CurrentFolder();
    while (!QtCanName(folder))
        folder = QFileInfo(folder).absolutePath();
    return QStorageInfo(folder).rootPath();
#endif
}

} // namespace

CFolderDlg::CFolderDlg(MessageSeam &messages, QWidget *parent)
    : QDialog(parent)
    , m_messages(messages)
{
    BuildFromTemplate(this, Template(kTemplateId));
    connect(TemplateControl<QPushButton>(this, kCreateButton), &QPushButton::clicked, this, &CFolderDlg::OnCreateFolder);
    connect(TemplateControl<QListWidget>(this, kFolderList), &QListWidget::itemDoubleClicked, this,
            &CFolderDlg::OnDblclkFolderList);
    connect(TemplateControl<QComboBox>(this, kDriveBox), &QComboBox::activated, this, &CFolderDlg::OnSelendokDrive);
}

void CFolderDlg::DoDataExchange(bool bSaveAndValidate)
{
    auto *newFolder = TemplateControl<QLineEdit>(this, kNewFolderEdit);
    auto *currentFolder = TemplateControl<QLabel>(this, kCurrentFolder);
    auto *subfolder = TemplateControl<QCheckBox>(this, kSubfolderCheck);
    auto *subfolderName = TemplateControl<QLineEdit>(this, kSubfolderName);
    if (bSaveAndValidate) {
        m_strNewFolder = newFolder->text();
        m_strCurDir = currentFolder->text();
        m_bSubfolder = subfolder->isChecked();
        m_strSubfolderName = subfolderName->text();
    } else {
        newFolder->setText(m_strNewFolder);
        currentFolder->setText(m_strCurDir);
        subfolder->setChecked(m_bSubfolder);
        subfolderName->setText(m_strSubfolderName);
    }
}

void CFolderDlg::MakeSubfolderName()
{
    auto *subfolder = TemplateControl<QCheckBox>(this, kSubfolderCheck);
    subfolder->setEnabled(true);
    const SubfolderProposal proposal = ProposeSubfolderName(QStringLiteral("."), m_today());
    m_strSubfolderName = proposal.name;
    if (!proposal.usable) {
        m_bSubfolder = false;
        subfolder->setEnabled(false);
    }
    DoDataExchange(false);
}

void CFolderDlg::FillFolderList()
{
    auto *list = TemplateControl<QListWidget>(this, kFolderList);
    // Hidden folders are left out, as the system's own folder lists do.
    const QStringList folders = ListedSubfolders(QStringLiteral("."));
    for (const QString &folder : folders)
        AddListBoxEntry(list, QLatin1Char('[') + folder + QLatin1Char(']'));
}

void CFolderDlg::RefreshFolderList()
{
    TemplateControl<QListWidget>(this, kFolderList)->clear();
    FillFolderList();
}

void CFolderDlg::FillDriveList()
{
    auto *drives = TemplateControl<QComboBox>(this, kDriveBox);
    QStringList entries;
#ifdef Q_OS_WIN
    for (const QFileInfo &drive : QDir::drives())
        entries << Bracketed(drive.absolutePath().left(1).toLower());
#else
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady())
            entries << Bracketed(volume.rootPath());
    }
#endif
    entries.removeDuplicates();
    entries.sort();
    drives->addItems(entries);
}

void CFolderDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return; // the window system's own show notices (a restore) change nothing
    MakeSubfolderName();
    FillFolderList();
    FillDriveList();
    m_strCurDir = QDir::toNativeSeparators(CurrentFolder());
    TemplateControl<QComboBox>(this, kDriveBox)->setEditText(Bracketed(CurrentDrive()));
    DoDataExchange(false);
}

void CFolderDlg::OnDblclkFolderList()
{
    auto *list = TemplateControl<QListWidget>(this, kFolderList);
    const QListWidgetItem *selected = list->currentItem();
    QString target = selected ? selected->text() : QString();
    list->clear();
    while (target.startsWith(QLatin1Char('[')))
        target.remove(0, 1);
    while (target.endsWith(QLatin1Char(']')))
        target.chop(1);
    SetCurrentFolder(target); // a folder that cannot be entered leaves the current one
    MakeSubfolderName();
    FillFolderList();
    m_strCurDir = QDir::toNativeSeparators(CurrentFolder());
    DoDataExchange(false);
}

void CFolderDlg::OnSelendokDrive()
{
    QString drive = TemplateControl<QComboBox>(this, kDriveBox)->currentText();
    while (drive.startsWith(QLatin1Char('[')))
        drive.remove(0, 1);
    while (drive.startsWith(QLatin1Char('-')))
        drive.remove(0, 1);
    while (drive.endsWith(QLatin1Char(']')))
        drive.chop(1);
    while (drive.endsWith(QLatin1Char('-')))
        drive.chop(1);
#ifdef Q_OS_WIN
    const bool changed = QDir::setCurrent(drive + QLatin1Char(':'));
#else
    const bool changed = SetCurrentFolder(drive);
#endif
    if (!changed)
        m_messages.Show(WarningMessage(QStringLiteral("Не могу сменить диск на ") + drive));
    RefreshFolderList();
    m_strCurDir = QDir::toNativeSeparators(CurrentFolder());
    DoDataExchange(false);
}

void CFolderDlg::OnCreateFolder()
{
    DoDataExchange(true);
    if (m_strNewFolder.isEmpty())
        return;
    if (!MakeFolder(m_strNewFolder)) {
        m_messages.Show(WarningMessage(QStringLiteral(
            "Не удалось создать папку. Возможно вы или вовсе не указали название новой папки, или указали "
            "недопустимое для файловой системы название.")));
    }
    RefreshFolderList();
}

void CFolderDlg::accept()
{
    OnCreateFolder();
    if (!m_strNewFolder.isEmpty())
        SetCurrentFolder(m_strNewFolder);
    m_strCurDir = QDir::toNativeSeparators(CurrentFolder());
    TemplateControl<QLabel>(this, kCurrentFolder)->setText(m_strCurDir);
    DoDataExchange(true);
    QDialog::accept();
}
