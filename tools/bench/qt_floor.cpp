// The toolkit floor: the smallest Qt Widgets program with the same window,
// a 420 x 241 top-level holding one list widget.
#include <QApplication>
#include <QListWidget>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Tavrimo floor"));
    window.setFixedSize(420, 241);
    auto* list = new QListWidget(&window);
    list->setGeometry(168, 4, 249, 196);
    window.show();
    return app.exec();
}
