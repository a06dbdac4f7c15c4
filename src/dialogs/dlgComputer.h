// The properties dialog, TfrmComputer; dialog units are named dlg*, their classes Tfrm*.
#pragma once

#include <functional>
#include <memory>
#include <QDialog>

class QAction;
class QGroupBox;
class QSpinBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class TComputer;
class TMACEdit;
class TframeSchedule;

// Edits a working copy of one computer: connection type, name, IP address, MAC address and notes. The
// caller assigns the stored computer into Computer(), calls LoadFromComputer, clears Modified, runs the
// dialog, and on OK assigns Computer() back.
class TfrmComputer : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmComputer(QWidget* owner = nullptr);
    ~TfrmComputer() override;

    // The working copy, free-standing and owned by the dialog.
    TComputer* Computer() const { return FComputer.get(); }
    bool Modified() const { return FModified; }
    // A new value also becomes the enabled state of OK.
    void SetModified(bool value);

    void LoadFromComputer();
    // Tells whether another computer already has a name (compared without case); the dialog then notes it
    // beside the field, and still accepts it.
    void SetNameTaken(std::function<bool(const QString& name)> taken);

    QTabWidget* PageControl1 = nullptr;
    QWidget* tabGeneral = nullptr;
    QWidget* tabNotes = nullptr;
    QWidget* tabSchedule = nullptr;
    TframeSchedule* frameSchedule = nullptr;
    QLabel* lbSendOptions = nullptr;
    QComboBox* cbSendOptions = nullptr;
    QLabel* lbName = nullptr;
    QLineEdit* edName = nullptr;
    QLabel* lbIPAddress = nullptr;
    QLineEdit* edIPAddress = nullptr;
    QAction* acIPDetect = nullptr;
    QPushButton* Button1 = nullptr;
    QLabel* lbMACAddress = nullptr;
    TMACEdit* edMACAddress = nullptr;
    QLabel* lbNameTaken = nullptr;
    QGroupBox* gbAdvanced = nullptr;
    QSpinBox* edPort = nullptr;
    QPlainTextEdit* memDescr = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

public slots:
    void edNameChange();
    void cbSendOptionsChange();
    void acIPDetectExecute();
    void btnOKClick();

private:
    void CreateGeneralPage();
    void CreateNotesPage();
    void CreateSchedulePage();
    // Shows the warning, brings the General page to the front and focuses the field.
    void RefuseField(const QString& message, QWidget* field);

    void UpdateNameNote();

    std::unique_ptr<TComputer> FComputer;
    bool FModified = false;
    std::function<bool(const QString& name)> FNameTaken;
};
