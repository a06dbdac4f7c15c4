#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sablewick"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Sablewick"));
    window.show();
    return app.exec();
}
