// The program's one window, built in Qt Widgets.
#pragma once

#include <QListWidget>
#include <QPushButton>
#include <QWidget>

#include "mode_list.h"

class QLabel;

// A list whose first arrow key, while no line is selected, selects the first
// line rather than moving past it.
class DspListWidget final : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A push button whose access key presses it at once, as a click does, rather
// than after the toolkit's 100 ms pressed-look animation.
class DspButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    bool event(QEvent* event) override;
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
