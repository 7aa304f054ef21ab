#pragma once

#include <QDialog>

// Asks for a data file name once the numbered names "0000" to "9999" are used up.
class CFileNameDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CFileNameDlg(QWidget *parent = nullptr);

    // The name exchanged with edit 1027: shown when the dialog opens, taken
    // from the edit when it is accepted.
    QString m_strFileName;

    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;
};
