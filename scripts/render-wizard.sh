#!/usr/bin/env bash
# Renders the new-computer wizard's four pages, the progress window over the wizard and the browse
# dialog with a server list to PNG files, for looking at the layout without a desktop.
#   scripts/render-wizard.sh [output directory]   (default: build/render)
# Needs a build in build/ (scripts/build.sh). Uses Qt's offscreen platform; sends nothing on the network.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-build/render}
mkdir -p "$out"
out=$(cd "$out" && pwd)

for lib in gui model timing net core; do
  [[ -f build/src/libsablewick_$lib.a ]] || { echo "build/src/libsablewick_$lib.a missing: run scripts/build.sh" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/render.cpp" <<'EOF'
#include "dialogs/dlgNetEnum.h"
#include "dialogs/dlgProgress.h"
#include "dialogs/wizNewComp.h"
#include "ui/macEdit.h"

#include <QApplication>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTreeView>
#include <cstdio>

static bool Save(QWidget& widget, const QString& file)
{
    QApplication::processEvents();
    const bool ok = widget.grab().save(file);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
    return ok;
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = true;

    TfrmWizNewComp wizard;
    wizard.show();
    ok &= Save(wizard, dir + "/wizard-0-nametype.png");
    wizard.edComputername->setText("OFFICE-PC");
    wizard.btnNext->click();
    wizard.edIPAddress->setText("192.168.1.20");
    ok &= Save(wizard, dir + "/wizard-1-ipaddress.png");
    wizard.btnNext->click();
    wizard.edMACAddress->SetTextByProgram("00-1a-2b-3c-4d-5e");
    ok &= Save(wizard, dir + "/wizard-2-mac.png");

    // The progress window centred over the wizard, as the user sees it during a detection.
    TfrmProgress progress;
    progress.SetStatus(QStringLiteral("Attempting to auto-detect MAC-address..."));
    progress.show();
    QApplication::processEvents();
    QPixmap back = wizard.grab();
    const QPixmap front = progress.grab();
    {
        QPainter p(&back);
        const QPoint at((back.width() - front.width()) / 2, (back.height() - front.height()) / 2);
        p.fillRect(QRect(at + QPoint(3, 3), front.size()), QColor(0, 0, 0, 60));
        p.drawPixmap(at, front);
        p.setPen(QColor(0x60, 0x60, 0x60));
        p.drawRect(QRect(at, front.size()).adjusted(0, 0, -1, -1));
    }
    ok &= back.save(dir + "/wizard-progress.png");
    std::printf("wrote %s\n", qPrintable(dir + "/wizard-progress.png"));
    progress.hide();
    ok &= Save(progress, dir + "/progress.png");

    wizard.btnNext->click();
    ok &= Save(wizard, dir + "/wizard-3-finish.png");

    TfrmNetEnum browse;
    browse.AddServers({"OFFICE-PC=Reception desk", "NAS=Storage=2 TB", "BUILD-01=", "LAPTOP-ANNA=Anna's laptop"});
    browse.vtNet->selectionModel()->select(browse.Model()->index(1, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    browse.show();
    ok &= Save(browse, dir + "/browse.png");
    return ok ? 0 : 1;
}
EOF

# shellcheck disable=SC2046
g++ -std=c++20 -fPIC -O0 -I"$root/src" $(pkg-config --cflags Qt6Widgets) "$work/render.cpp" -o "$work/render" \
  build/src/libsablewick_gui.a build/src/libsablewick_model.a build/src/libsablewick_timing.a \
  build/src/libsablewick_net.a build/src/libsablewick_core.a \
  $(pkg-config --libs Qt6Widgets smbclient libgsf-1 libjpeg) -ldl -lpthread

QT_QPA_PLATFORM=offscreen "$work/render" "$out"
