#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <exception>

#include "qt_main_form.h"
#include "x11_display_settings.h"

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

}  // namespace

int main(int argc, char* argv[])
{
    // Display modes are set through the X server, so the window lives there too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrimo"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRIMO_VERSION));
    QIcon icon;
    icon.addFile(QStringLiteral(":/tavrimo-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/tavrimo-32.png"), QSize(32, 32));
    QApplication::setWindowIcon(icon);

    X11DisplaySettings settings;
    if (!settings.Error().empty())
        std::fprintf(stderr, "tavrimo: %s\n", settings.Error().c_str());

    MainForm form(settings);
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
