// The new-computer wizard, TfrmWizNewComp; wizard units are named wiz*, their classes Tfrm*.
#pragma once

#include "dialogs/dlgProgress.h"

#include <functional>
#include <QDialog>
#include <QList>
#include <QPointer>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QWidget;
class TMACThread;
class TMACEdit;
class TWorkerThread;

// The "New computer wizard": name and connection type, IP address, MAC address and a summary, one page
// at a time. It only collects and checks the values; the main window builds the computer from its
// fields when it ends with OK.
class TfrmWizNewComp : public QDialog
{
    Q_OBJECT

public:
    enum Page
    {
        pgNameType = 0,
        pgIPAddress = 1,
        pgMAC = 2,
        pgFinish = 3
    };

    explicit TfrmWizNewComp(QWidget* owner = nullptr);
    ~TfrmWizNewComp() override;

    int CurrentPage() const { return FCurrentPage; }
    void ShowPage(int page);
    bool ValidatePage(int page);

    void btnNextClick();
    void btnBackClick();
    void btnBrowseNetClick();
    void btnAutoIPClick();
    void btnAutoMACClick();
    void cbSendOptionsChange();
    void edComputernameChange();
    void MACThreadTerminate(TWorkerThread* sender);

    // Tells whether another computer already has a name (compared without case): noted under the field.
    void SetNameTaken(std::function<bool(const QString& name)> taken) { FNameTaken = std::move(taken); }

    // The detection the wizard is waiting for and the progress window it shows; for tests.
    TMACThread* DetectionWorker() const { return FMACThread; }
    TfrmProgress* ProgressWindow() const { return FProgress.data(); }

    // Header band.
    QFrame* Shape1 = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* lbHeaderCaption = nullptr;
    QLabel* lbHeaderDescr = nullptr;
    QStackedWidget* Notebook1 = nullptr;
    // Page "nametype".
    QComboBox* cbSendOptions = nullptr;
    QLineEdit* edComputername = nullptr;
    QPushButton* btnBrowseNet = nullptr;
    QLabel* lbNameTaken = nullptr;
    // Page "ipaddress".
    QLineEdit* edIPAddress = nullptr;
    QPushButton* btnAutoIP = nullptr;
    // Page "MAC".
    TMACEdit* edMACAddress = nullptr;
    QPushButton* btnAutoMAC = nullptr;
    // What Auto-detect tried when it found nothing; the field itself stays as it was.
    QLabel* lbMACNote = nullptr;
    // Page "finish".
    QLabel* lbFinished = nullptr;
    QPlainTextEdit* memComp = nullptr;
    // Buttons.
    QPushButton* btnBack = nullptr;
    QPushButton* btnNext = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    bool event(QEvent* e) override;

private:
    // How much wider the wizard must be for its pages and headers at this font and in this language.
    int ExtraWidth() const;
    QWidget* CreateNameTypePage();
    QWidget* CreateIPAddressPage();
    QWidget* CreateMACPage();
    QWidget* CreateFinishPage();
    void NextPressed();
    void ShowSummary(const QString& summary);
    void SetNextCloses(bool closes);
    void StartDetection(const QString& name, const QString& address = {});
    void StopDetection();
    void ReleaseProgress();
    void EnableWindowSet();
    void ProgressCancelled();

    int FCurrentPage = pgNameType;
    // btnNext closes the wizard with OK: exactly while the summary page is shown.
    bool FNextCloses = false;
    TMACThread* FMACThread = nullptr;
    // What the note says was tried when Auto-detect finds nothing; empty for a detection of its own.
    QString FDetectingFor;
    std::function<bool(const QString& name)> FNameTaken;
    QPointer<TfrmProgress> FProgress;
    QList<QPointer<QWidget>> FDisabledWindows;
};
