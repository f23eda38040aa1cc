// The toolkit floor with text: the Qt floor's window whose list holds the same
// lines in the same fonts, laid out before the window is shown, as the
// program's is. What it costs over the bare floor is the font stack.
#include <QApplication>
#include <QListWidget>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Tavrimo text floor"));
    window.setFixedSize(420, 241);
    QFont windowFont;
    windowFont.setFamilies({QStringLiteral("新細明體"), QStringLiteral("PMingLiU"),
                            QStringLiteral("AR PL UMing TW")});
    windowFont.setPointSizeF(11.25);
    window.setFont(windowFont);
    auto* list = new QListWidget(&window);
    list->setGeometry(168, 4, 249, 196);
    QFont listFont;
    listFont.setFamilies({QStringLiteral("Fixedsys"), QStringLiteral("Unifont")});
    listFont.setPointSizeF(12);
    list->setFont(listFont);
    for (int i = 0; i < 13; ++i)
        list->addItem(QStringLiteral(" 1024 x   768    全彩(32bit)"));
    list->sizeHintForRow(0);
    window.show();
    return app.exec();
}
