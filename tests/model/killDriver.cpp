// The program that scripts/kill-test.sh kills: it saves the database the way the main window does (a
// snapshot written by the database's writer thread), one change after another, and checks a file that a kill
// left behind. Not a test of the suite.
//
//   db_kill_driver save FILE [N]    opens (or creates) FILE, then adds a computer and saves, again and
//                                   again; from 300 computers on the next save empties the group. After
//                                   every save that returned it prints the number of computers. With N,
//                                   it stops after N saves and closes the file the orderly way.
//   db_kill_driver check FILE N     N is the number last printed (or last checked): the file must load,
//                                   hold N computers or the next number, all of them whole. Prints the
//                                   number it found; exit code 1 with the reason on stderr otherwise.

#include "core/exceptions.h"
#include "model/computers.h"
#include "model/database.h"
#include "model/openDatabase.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <QCoreApplication>
#include <QFileInfo>
#include <unistd.h>

namespace {

constexpr int MostComputers = 300;

int Next(int count)
{
    return count >= MostComputers ? 0 : count + 1;
}

QString NameOf(int i)
{
    return QStringLiteral("pc-%1").arg(i);
}

QString CommentsOf(int i)
{
    return QString(i % 200, QLatin1Char('a' + i % 26));
}

int Save(const QString& path, int saves)
{
    // As the window saves: its mode (backup copy, checks of the load), each save a snapshot written by the
    // database's writer thread while this thread goes on.
    TOpenDatabase database(path);
    database.SetBackgroundSaves(true);
    try {
        database.Open();
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    for (int done = 0; saves < 0 || done < saves; ++done) {
        TComputers* computers = database.Root()->Computers();
        const int count = computers->Count();
        if (Next(count) == 0) {
            QStringList ids;
            for (int i = 0; i < count; ++i)
                ids.append(computers->Items(i)->ItemID());
            database.DeleteComputers(ids);
        } else {
            database.ChangeTogether([&] {
                TComputer* computer = database.AddComputer();
                computer->SetName(NameOf(count));
                computer->Comments = CommentsOf(count);
                computer->IPAddress = QStringLiteral("127.0.0.1");
                computer->MACAddresses()->Add()->Address = QStringLiteral("00-11-22-33-44-55");
            });
        }
        // The count is told once the writer has put that snapshot on the disk.
        while (database.Saving())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!database.LastError().isEmpty()) {
            std::fprintf(stderr, "save failed: %s\n", qPrintable(database.LastError()));
            return 4;
        }
        char line[16];
        const int size = std::snprintf(line, sizeof line, "%d\n", computers->Count());
        (void)!::write(STDOUT_FILENO, line, static_cast<size_t>(size));
    }
    QString error;
    if (!database.Close(&error)) {
        std::fprintf(stderr, "close failed: %s\n", qPrintable(error));
        return 4;
    }
    return 0;
}

int Check(const QString& path, int acknowledged)
{
    if (!QFileInfo::exists(path) && acknowledged <= 0) {
        std::printf("0\n"); // killed before the first file was complete
        return 0;
    }
    TOstrelDatabase db;
    db.FileName = path;
    std::unique_ptr<TGroup> group;
    try {
        group = LoadDatabase(db);
    } catch (const Exception& e) {
        std::fprintf(stderr, "does not load: %s\n", e.what());
        return 1;
    }
    const TComputers* computers = group->Computers();
    const int count = computers->Count();
    if (acknowledged >= 0 && count != acknowledged && count != Next(acknowledged)) {
        std::fprintf(stderr, "%d computers, but %d were saved\n", count, acknowledged);
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const TComputer* computer = computers->Items(i);
        if (computer->Name() != NameOf(i) || computer->Comments != CommentsOf(i)) {
            std::fprintf(stderr, "computer %d is not whole\n", i);
            return 1;
        }
    }
    std::printf("%d\n", count);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "save") == 0)
        return Save(QString::fromLocal8Bit(argv[2]), argc == 4 ? std::atoi(argv[3]) : -1);
    if (argc == 4 && std::strcmp(argv[1], "check") == 0)
        return Check(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    std::fprintf(stderr, "usage: %s save FILE [N] | check FILE N\n", argv[0]);
    return 64;
}
