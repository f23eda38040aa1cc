// The program's one window, built in Qt Widgets.
#pragma once

#include <memory>

#include <QListWidget>
#include <QPushButton>
#include <QWidget>

#include "mode_list.h"

class QIcon;
class QLabel;

// The program's icon, for its windows.
QIcon OwnWindowIcon();

// A list that keys and clicks drive as the platform's single-selection list
// box: a navigation key with no line selected selects the line it would
// reach from before the first one; Shift and Ctrl neither widen nor clear the
// selection; only the left button selects. The current line shows a dotted
// focus rectangle while the list has the focus.
class DspListWidget final : public QListWidget {
public:
    explicit DspListWidget(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The line a navigation key reaches from a caret before the first line.
    int RowFromBeforeTheFirst(int key) const;
    // A left-button event without Shift or Ctrl, to pass on; null for the
    // other buttons, whose events go no further.
    static std::unique_ptr<QMouseEvent> LeftButtonOnly(QMouseEvent* event);
};

// A push button whose access key presses it at once, as a click does, rather
// than after the toolkit's 100 ms pressed-look animation, and which shows its
// focus as a dotted rectangle inside it.
class DspButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

class MainForm final : public QWidget, private DspListView {
public:
    explicit MainForm(DisplaySettings& settings, QWidget* parent = nullptr);

    // Fills the list; runs once, before the window is first shown.
    void Load();

    DspListWidget* DspList;
    DspButton* SetDSP;
    QLabel* Lab[2];
    QWidget* Line1;
    QWidget* Line2;
    QLabel* wrkLogo;

private:
    void ApplyDsp();

    void AppendLine(const std::string& line) override;
    void ProcessPendingEvents() override;
    int SelectedPosition() const override;
    void FocusList() override;

    DisplaySettings& settings_;
};
