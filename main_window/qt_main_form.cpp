#include "qt_main_form.h"

#include <algorithm>
#include <stdexcept>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QShortcutEvent>
#include <QScreen>

#include "qt_application.h"

namespace {

const QColor kBackground(3, 0, 67);

// The window's font, used by both labels. Qt has no character-set choice:
// the families below all cover Big5.
QFont WindowFont(qreal points)
{
    QFont font;
    font.setFamilies({QStringLiteral("新細明體"), QStringLiteral("PMingLiU"),
                      QStringLiteral("AR PL UMing TW")});
    font.setPointSizeF(points);
    font.setWeight(QFont::Normal);
    return font;
}

// The list's columns line up only where a CJK character takes two columns.
QFont ListFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Fixedsys"), QStringLiteral("Unifont")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(12);
    font.setWeight(QFont::Normal);
    return font;
}

QLabel* EngravedLabel(QWidget* parent, int index, const QRect& geometry, const QColor& color)
{
    auto* label = new QLabel(QStringLiteral("Tavrimo"), parent);
    label->setObjectName(QStringLiteral("Lab"));
    label->setProperty("index", index);
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

QWidget* SeparatorLine(QWidget* parent, const char* name, int y, const QColor& color)
{
    auto* line = new QWidget(parent);
    line->setObjectName(QLatin1String(name));
    line->setGeometry(0, y, 420, 1);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, color);
    line->setPalette(palette);
    line->setAutoFillBackground(true);
    return line;
}

}  // namespace

void DspListWidget::keyPressEvent(QKeyEvent* event)
{
    const bool arrow = event->key() == Qt::Key_Down || event->key() == Qt::Key_Up;
    if (arrow && event->modifiers() == Qt::NoModifier && count() > 0 &&
        selectionModel()->selectedIndexes().isEmpty()) {
        setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

bool DspButton::event(QEvent* event)
{
    if (event->type() == QEvent::Shortcut && !static_cast<QShortcutEvent*>(event)->isAmbiguous()) {
        click();
        return true;
    }
    return QPushButton::event(event);
}

MainForm::MainForm(DisplaySettings& settings, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                  Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      settings_(settings)
{
    setObjectName(QStringLiteral("mainForm"));
    setWindowTitle(QStringLiteral("Tavrimo"));
    setFixedSize(420, 241);
    setFont(WindowFont(11.25));

    const QColor shadow = palette().color(QPalette::Dark);  // COLOR_BTNSHADOW
    const QColor window = palette().color(QPalette::Base);  // COLOR_WINDOW
    QPalette navy = palette();
    navy.setColor(QPalette::Window, kBackground);
    setPalette(navy);
    setAutoFillBackground(true);

    // The list and the button come first, so that they lead the tab order;
    // the labels, lines and logo follow in drawing order, bottom to top.
    DspList = new DspListWidget(this);
    DspList->setObjectName(QStringLiteral("DspList"));
    DspList->setGeometry(168, 4, 249, 196);
    DspList->setFont(ListFont());
    DspList->setSelectionMode(QAbstractItemView::SingleSelection);
    DspList->setSortingEnabled(false);
    DspList->setUniformItemSizes(true);
    DspList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DspList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    DspList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    DspList->setAccessibleName(QStringLiteral("顯示模式清單"));
    DspList->setAccessibleDescription(
        QStringLiteral("目前顯示器的所有模式，每行一種：寬度、高度與色彩深度"));

    SetDSP = new DspButton(QStringLiteral("確定 (&O)"), this);
    SetDSP->setObjectName(QStringLiteral("SetDSP"));
    SetDSP->setGeometry(336, 212, 81, 25);
    SetDSP->setFont(WindowFont(9));
    SetDSP->setDefault(false);
    SetDSP->setAccessibleName(QStringLiteral("確定"));
    SetDSP->setAccessibleDescription(
        QStringLiteral("切換至選定的顯示模式，並於下次登入時沿用"));
    // Outside a dialog only this makes Enter on the focused button press it.
    SetDSP->setAutoDefault(true);

    Lab[0] = EngravedLabel(this, 0, QRect(8, 216, 281, 17), shadow);
    Line2 = SeparatorLine(this, "Line2", 206, window);
    Line1 = SeparatorLine(this, "Line1", 205, shadow);
    wrkLogo = new QLabel(this);
    wrkLogo->setObjectName(QStringLiteral("wrkLogo"));
    wrkLogo->setGeometry(0, 0, 164, 205);
    wrkLogo->setPixmap(QPixmap(QStringLiteral(":/logo.bmp")));
    wrkLogo->setScaledContents(false);
    wrkLogo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Lab[1] = EngravedLabel(this, 1, QRect(9, 217, 281, 17), window);

    setTabOrder(DspList, SetDSP);
    DspList->setFocus(Qt::OtherFocusReason);
    connect(SetDSP, &QPushButton::clicked, this, &MainForm::ApplyDsp);
}

void MainForm::Load()
{
    FillDspList(settings_, *this);
    // Like a list box of the platform, the list shows whole lines only.
    const int row = DspList->count() > 0 ? DspList->sizeHintForRow(0) : 0;
    if (row > 0) {
        const int frame = 2 * DspList->frameWidth();
        const int rows = std::max(1, (DspList->height() - frame) / row);
        DspList->resize(DspList->width(), rows * row + frame);
    }
    // Where the window opens: centred on the screen's free area.
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

void MainForm::ApplyDsp() { ::ApplyDsp(settings_, *this); }

void MainForm::AppendLine(const std::string& line)
{
    auto* item = new QListWidgetItem(QString::fromStdString(line));
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    DspList->addItem(item);
}

void MainForm::ProcessPendingEvents()
{
    QCoreApplication::processEvents();
    if (GuardedApplication::Failed()) throw std::runtime_error("a window handler failed");
}

int MainForm::SelectedPosition() const
{
    const QModelIndexList rows = DspList->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void MainForm::FocusList() { DspList->setFocus(Qt::OtherFocusReason); }
