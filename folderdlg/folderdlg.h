#pragma once

#include <QDate>
#include <QDialog>

#include <functional>

class MessageSeam;

// "Выбор папки протоколов": the user browses folders and drives, may create a
// folder, and decides whether the run goes into a fresh dated subfolder. It
// works on the process's working directory: every navigation changes it, and
// the folder chosen is the working directory when "OK" is pressed.
class CFolderDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CFolderDlg(MessageSeam &messages, QWidget *parent = nullptr);

    QString m_strNewFolder;
    QString m_strCurDir;
    bool m_bSubfolder = true;
    QString m_strSubfolderName;
    // Today's date, for the subfolder name (tests fix it).
    std::function<QDate()> m_today = [] { return QDate::currentDate(); };

    // Copies all four fields into their controls (false) or takes them (true).
    void DoDataExchange(bool bSaveAndValidate);

    void MakeSubfolderName();
    void RefreshFolderList();
    void OnCreateFolder();
    void OnDblclkFolderList();
    void OnSelendokDrive();
    void accept() override; // OnOK

protected:
    void showEvent(QShowEvent *event) override; // OnShowWindow

private:
    void FillFolderList();
    void FillDriveList();

    MessageSeam &m_messages;
};
