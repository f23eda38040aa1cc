#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "backend_registry.h"
#include "qt_main_form.h"

namespace {

// Names the error to the user; the caller then ends the program.
void ReportFatal(const char* what)
{
    std::fprintf(stderr, "tavrimo: %s\n", what);
    QMessageBox::critical(nullptr, QStringLiteral("Tavrimo"),
                          QStringLiteral("發生錯誤，程式即將結束：\n%1").arg(QString::fromUtf8(what)));
}

// Every event handler runs inside notify(): no exception gets past it into
// Qt's event loop.
class GuardedApplication final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            Fail(e.what());
        } catch (...) {
            Fail("unknown error");
        }
        return false;
    }

private:
    void Fail(const char* what)
    {
        if (failed_) return;
        failed_ = true;
        ReportFatal(what);
        exit(1);
    }

    bool failed_ = false;
};

// The window opens on the X server where there is one, through Xwayland on a
// Wayland desktop, else on Wayland itself; a platform the user names wins.
void ChoosePlatform()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (x11) qputenv("QT_QPA_PLATFORM", wayland ? "xcb;wayland" : "xcb");
    else if (wayland) qputenv("QT_QPA_PLATFORM", "wayland");
}

}  // namespace

int main(int argc, char* argv[])
{
    ChoosePlatform();
    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrimo"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRIMO_VERSION));
    QIcon icon;
    icon.addFile(QStringLiteral(":/tavrimo-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/tavrimo-32.png"), QSize(32, 32));
    QApplication::setWindowIcon(icon);

    const ChosenBackend backend =
        ChooseBackend(CompiledBackends(), std::getenv("TAVRIMO_DISPLAY_BACKEND"));
    if (!backend.diagnostic.empty())
        std::fprintf(stderr, "tavrimo: %s\n", backend.diagnostic.c_str());

    MainForm form(*backend.settings);
    try {
        form.Load();
    } catch (const std::exception& e) {
        ReportFatal(e.what());
        return 1;
    } catch (...) {
        ReportFatal("unknown error");
        return 1;
    }
    form.show();
    return app.exec();
}
