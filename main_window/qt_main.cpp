#include <QLibraryInfo>
#include <QStyleFactory>
#include <QVersionNumber>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "backend_registry.h"
#include "qt_application.h"
#include "qt_fonts.h"
#include "qt_main_form.h"
#include "tavrimo_version.h"
#ifdef TAVRIMO_WITH_WAYLAND
#include "wayland_connection.h"
#endif

namespace {

// The stand-in platform Qt falls back to when the one it was asked for has
// no display to open; seeing it is how the program knows there is none.
constexpr char kFallback[] = "offscreen";

// The window opens on the X server where there is one, through Xwayland on a
// Wayland desktop, else on Wayland itself; a platform the user names wins.
// Returns the display it will open, for the message when it cannot; empty
// when there is none to try.
QByteArray ChoosePlatform()
{
    const QByteArray x11 = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty()) {
        if (x11.isEmpty() && wayland.isEmpty()) return {};
        platform = !x11.isEmpty() ? (!wayland.isEmpty() ? "xcb;wayland" : "xcb") : "wayland";
    }
    if (!platform.contains(kFallback)) qputenv("QT_QPA_PLATFORM", platform + ";" + kFallback);
    return !x11.isEmpty() ? x11 : !wayland.isEmpty() ? wayland : platform;
}

// The window's look is the program's own in every session: Qt loads no
// desktop's platform theme or style, so their palettes, fonts and metrics
// never reach it and their libraries are never mapped. Scaling is Qt's and
// the display's (QT_SCALE_FACTOR, Xft.dpi, an output's scale), not the theme's.
void LeaveTheDesktopLookOut()
{
    qunsetenv("QT_QPA_PLATFORMTHEME");
    qunsetenv("QT_STYLE_OVERRIDE");
    QGuiApplication::setDesktopSettingsAware(false);
    // Named, the style is made at once. Left to Qt, it would first look at
    // every style plugin installed, then take Fusion all the same.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
}

// The window draws in software into shared memory. Qt before 6.8 asks its
// EGL client-buffer integration whether it may draw a title bar on Wayland,
// loading that integration and Mesa with it for nothing; where the compositor
// draws title bars itself (xdg-decoration), Qt is told to draw none and never
// asks. Where it does not (GNOME), Qt's own title bar needs the answer.
void LeaveGraphicsIntegrationOut([[maybe_unused]] const QByteArray& platform)
{
#ifdef TAVRIMO_WITH_WAYLAND
    if (!platform.startsWith("wayland") || QLibraryInfo::version() >= QVersionNumber(6, 8) ||
        qEnvironmentVariableIsSet("QT_WAYLAND_DISABLE_WINDOWDECORATION") ||
        qEnvironmentVariableIsSet("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"))
        return;
    const WaylandConnection compositor;
    if (compositor.Ok() && compositor.Find("zxdg_decoration_manager_v1") != nullptr)
        qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
#endif
}

// Qt's own lines while the application starts, held back: when no display
// opens, the program's one line says so instead.
QStringList g_held;

void Hold(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    g_held.append(qFormatLogMessage(type, context, message));
}

}  // namespace

int main(int argc, char* argv[])
{
    const bool userChoseFallback = qgetenv("QT_QPA_PLATFORM").contains(kFallback);
    const QByteArray display = ChoosePlatform();
    if (display.isEmpty()) {
        std::fprintf(stderr, "tavrimo: cannot open display: neither DISPLAY nor WAYLAND_DISPLAY is set\n");
        return 1;
    }
    // fontconfig reads its configuration and fonts while Qt starts: Qt first
    // asks it for a font when the window's list is laid out. Qt draws the
    // title bar itself on Wayland, where the compositor does not.
    LeaveTheDesktopLookOut();
    LeaveGraphicsIntegrationOut(qgetenv("QT_QPA_PLATFORM"));
    std::jthread fonts(UseWindowFontsOnly, !qgetenv("QT_QPA_PLATFORM").startsWith("xcb"));
    // Before Qt: a session bus that never answers is given up here once, so
    // that Qt's own connection to it (Qt 6.8's accessibility) does not wait too.
    const ChosenBackend backend =
        ChooseBackend(CompiledBackends(), std::getenv("TAVRIMO_DISPLAY_BACKEND"));
    const QtMessageHandler previous = qInstallMessageHandler(Hold);
    GuardedApplication app(argc, argv);
    qInstallMessageHandler(previous);
    if (QGuiApplication::platformName() == QLatin1String(kFallback) && !userChoseFallback) {
        std::fprintf(stderr, "tavrimo: cannot open display %s\n", display.constData());
        // Not while Qt tears down: the thread may be handing fontconfig its configuration.
        fonts.join();
        return 1;
    }
    for (const QString& line : std::as_const(g_held))
        std::fprintf(stderr, "%s\n", qPrintable(line));
    if (!backend.diagnostic.empty())
        std::fprintf(stderr, "tavrimo: %s\n", backend.diagnostic.c_str());
    QApplication::setApplicationName(QStringLiteral("Tavrimo"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRIMO_VERSION));
    QApplication::setWindowIcon(OwnWindowIcon());

    fonts.join();
    MainForm form(*backend.settings);
    return RunMainWindow(app, form);
}
