#include "qt_application.h"

#include <cstdio>
#include <exception>
#include <string>

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
    // The text is copied: the exception is gone once its catch block ends.
    std::string what;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown error";
    }
    if (!g_failed) {
        g_failed = true;
        std::fprintf(stderr, "tavrimo: %s\n", what.c_str());
        Report(what.c_str());
        // Ends a running loop; before the loop runs, RunMainWindow sees the flag.
        exit(1);
    }
    return false;
}

int RunMainWindow(GuardedApplication& app, MainForm& form)
{
    std::string what;
    try {
        form.Load();
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown error";
    }
    if (GuardedApplication::Failed()) return 1;  // reported where it happened
    if (!what.empty()) {
        std::fprintf(stderr, "tavrimo: %s\n", what.c_str());
        app.Report(what.c_str());
        return 1;
    }
    form.show();
    return app.exec();
}
