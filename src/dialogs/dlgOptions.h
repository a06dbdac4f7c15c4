// The Options dialog, TfrmOptions: the user's settings that the database does not hold.
#pragma once

#include <QDialog>

class QLineEdit;

// Edits the ports of the TCP probes (Tools > Options...). OK checks the list and writes it to the
// settings file; a list that does not read keeps the dialog open with a warning.
class TfrmOptions : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmOptions(QWidget* owner = nullptr);

    QString PortsText() const;

public slots:
    void accept() override;

private:
    QLineEdit* FTcpPorts = nullptr;
};
