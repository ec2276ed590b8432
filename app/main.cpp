#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Veltrane Encryption"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Veltrane Encryption - 32bit"));
    window.resize(640, 405);
    window.show();
    return app.exec();
}
