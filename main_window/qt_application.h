// The Qt application object and the program's run of its window: no
// exception crosses the event loop, and a failure ends the program.
#pragma once

#include <functional>

#include <QApplication>

class MainForm;

class GuardedApplication final : public QApplication {
public:
    GuardedApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Names the error to the user; by default in a message box.
    void SetReporter(std::function<void(const char*)> report) { report_ = std::move(report); }
    void Report(const char* what) const { report_(what); }
    // True once an event handler has failed; the program then ends.
    static bool Failed();

private:
    std::function<void(const char*)> report_;
};

// Fills the window's list, shows the window and runs the event loop; returns
// the program's exit status. A failure during the fill, in the fill itself or
// in an event handler it let run, is reported and the window never shown.
int RunMainWindow(GuardedApplication& app, MainForm& form);
