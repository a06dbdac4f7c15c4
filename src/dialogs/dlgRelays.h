// The relay dialogs, TfrmRelays (the list, Tools > Relays...) and TfrmRelay (one relay); dialog units are
// named dlg*, their classes Tfrm*.
#pragma once

#include "net/relays.h"

#include <QDialog>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// Edits one relay. OK accepts only a relay that can be stored: a usable name not taken by another relay,
// a destination, and networks that all parse.
class TfrmRelay : public QDialog
{
    Q_OBJECT

public:
    TfrmRelay(const TRelay& relay, QStringList takenNames, QWidget* owner = nullptr);
    // The relay as edited; complete once the dialog was accepted.
    const TRelay& Relay() const { return FRelay; }

    QLineEdit* edName = nullptr;
    QLineEdit* edDestination = nullptr;
    QLineEdit* edNetworks = nullptr;
    QLineEdit* edCommand = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void btnOKClick();

    TRelay FRelay;
    QStringList FTakenNames;
};

// The relays of relays.conf: add, edit, remove, and Test, which connects to the selected relay and says how
// long it took and which wake tool it has, or why it failed. Every change is written to the file at once.
// Testing never holds up the window: its answer arrives while the dialog stays usable.
class TfrmRelays : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmRelays(QWidget* owner = nullptr);

    QTreeWidget* lvRelays = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnEdit = nullptr;
    QPushButton* btnRemove = nullptr;
    QPushButton* btnTest = nullptr;
    QPushButton* btnClose = nullptr;
    QLabel* lbResult = nullptr;

    void btnAddClick();
    void btnEditClick();
    void btnRemoveClick();
    void btnTestClick();

private:
    void Fill(int select);
    bool Store(std::vector<TRelay> relays);
    void UpdateButtons();
    QStringList NamesExcept(int index) const;

    std::vector<TRelay> FRelays;
};
