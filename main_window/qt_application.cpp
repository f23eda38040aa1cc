#include "qt_application.h"

#include <cstdio>
#include <exception>

#include <QMessageBox>

#include "qt_main_form.h"

namespace {

bool g_failed = false;

void ShowFatal(const char* what)
{
    QMessageBox::critical(nullptr, QStringLiteral("Tavrimo"),
                          QStringLiteral("發生錯誤，程式即將結束：\n%1").arg(QString::fromUtf8(what)));
}

}  // namespace

GuardedApplication::GuardedApplication(int& argc, char** argv)
    : QApplication(argc, argv), report_(ShowFatal)
{
}

bool GuardedApplication::Failed() { return g_failed; }

bool GuardedApplication::notify(QObject* receiver, QEvent* event)
{
    const char* what = nullptr;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown error";
    }
    if (!g_failed) {
        g_failed = true;
        std::fprintf(stderr, "tavrimo: %s\n", what);
        Report(what);
        // Ends a running loop; before the loop runs, RunMainWindow sees the flag.
        exit(1);
    }
    return false;
}

int RunMainWindow(GuardedApplication& app, MainForm& form)
{
    const char* what = nullptr;
    try {
        form.Load();
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown error";
    }
    if (GuardedApplication::Failed()) return 1;  // reported where it happened
    if (what != nullptr) {
        std::fprintf(stderr, "tavrimo: %s\n", what);
        app.Report(what);
        return 1;
    }
    form.show();
    return app.exec();
}
