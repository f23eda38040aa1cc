#include "qt_main_form.h"

#include <algorithm>
#include <stdexcept>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QShortcutEvent>
#include <QScreen>

#include "form_layout.h"
#include "qt_application.h"

namespace {

QRect ToRect(const form::Box& b) { return QRect(b.left, b.top, b.width, b.height); }

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// Qt has no character-set choice: the families all cover Big5.
QFont ToFont(const form::Font& f, QFont::StyleHint hint = QFont::AnyStyle)
{
    QFont font;
    QStringList families;
    for (const char* family : f.families)
        if (family != nullptr) families.append(Text(family));
    font.setFamilies(families);
    font.setStyleHint(hint);
    font.setPointSizeF(f.hundredthsOfPoint / 100.0);
    font.setWeight(QFont::Normal);
    return font;
}

QLabel* EngravedLabel(QWidget* parent, int index, const QColor& color)
{
    auto* label = new QLabel(Text(form::kCaption), parent);
    label->setObjectName(QStringLiteral("Lab"));
    label->setProperty("index", index);
    label->setGeometry(ToRect(form::kLab[index]));
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
    line->setGeometry(0, y, form::kClientWidth, 1);
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
    setWindowTitle(Text(form::kCaption));
    setFixedSize(form::kClientWidth, form::kClientHeight);
    setFont(ToFont(form::kWindowFont));

    const QColor shadow = palette().color(QPalette::Dark);  // COLOR_BTNSHADOW
    const QColor window = palette().color(QPalette::Base);  // COLOR_WINDOW
    QPalette navy = palette();
    navy.setColor(QPalette::Window,
                  QColor(form::kBackground.red, form::kBackground.green, form::kBackground.blue));
    setPalette(navy);
    setAutoFillBackground(true);

    // The list and the button come first, so that they lead the tab order;
    // the labels, lines and logo follow in drawing order, bottom to top.
    DspList = new DspListWidget(this);
    DspList->setObjectName(QStringLiteral("DspList"));
    DspList->setGeometry(ToRect(form::kDspList));
    DspList->setFont(ToFont(form::kListFont, QFont::TypeWriter));
    DspList->setSelectionMode(QAbstractItemView::SingleSelection);
    DspList->setSortingEnabled(false);
    DspList->setUniformItemSizes(true);
    DspList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DspList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    DspList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    DspList->setAccessibleName(Text(form::kListName));
    DspList->setAccessibleDescription(Text(form::kListDescription));

    SetDSP = new DspButton(Text(form::kButtonCaption), this);
    SetDSP->setObjectName(QStringLiteral("SetDSP"));
    SetDSP->setGeometry(ToRect(form::kSetDSP));
    SetDSP->setFont(ToFont(form::kButtonFont));
    SetDSP->setDefault(false);
    SetDSP->setAccessibleName(Text(form::kButtonName));
    SetDSP->setAccessibleDescription(Text(form::kButtonDescription));
    // Outside a dialog only this makes Enter on the focused button press it.
    SetDSP->setAutoDefault(true);

    Lab[0] = EngravedLabel(this, 0, shadow);
    Line2 = SeparatorLine(this, "Line2", form::kLine2Top, window);
    Line1 = SeparatorLine(this, "Line1", form::kLine1Top, shadow);
    wrkLogo = new QLabel(this);
    wrkLogo->setObjectName(QStringLiteral("wrkLogo"));
    wrkLogo->setGeometry(ToRect(form::kWrkLogo));
    wrkLogo->setPixmap(QPixmap(QStringLiteral(":/logo.bmp")));
    wrkLogo->setScaledContents(false);
    wrkLogo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Lab[1] = EngravedLabel(this, 1, window);

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
