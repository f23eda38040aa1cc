#include "qt_main_form.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>
#include <QStyledItemDelegate>
#include <QStylePainter>
#include <QScreen>
#include <QStyleOptionButton>

#include "form_layout.h"
#include "own_images.h"
#include "qt_application.h"

namespace {

QRect ToRect(const form::Box& b) { return QRect(b.left, b.top, b.width, b.height); }

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// Qt has no character-set choice: the families all cover Big5. Every
// attribute is the font's own, none inherited from the application's font:
// a style name or stretch that a session gives that font would match none of
// the window's faces.
QFont ToFont(const form::Font& f, QFont::StyleHint hint = QFont::AnyStyle)
{
    QStringList families;
    for (const char* family : f.families)
        if (family != nullptr) families.append(Text(family));
    QFont font(families);
    font.setStyleHint(hint);
    font.setPointSizeF(f.hundredthsOfPoint / 100.0);
    font.setWeight(QFont::Normal);
    // Drawn as fontconfig draws it by default, whatever Xft resources a
    // session sets: grey antialiasing, slight hinting.
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    font.setHintingPreference(QFont::PreferVerticalHinting);
    font.setResolveMask(QFont::AllPropertiesResolved);
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

namespace {

// The platform's focus rectangle: a dotted line, dot and gap one pixel each.
void DrawFocusRect(QPainter& painter, const QRect& rect, const QColor& color)
{
    QPen pen(color, 1);
    pen.setCosmetic(true);
    pen.setDashPattern({1, 1});
    painter.save();
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    painter.restore();
}

// Draws a line as the style does, but its focus as the platform does.
class DspLineDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem plain(option);
        const bool focus = plain.state & QStyle::State_HasFocus;
        plain.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, plain, index);
        if (!focus) return;
        const bool selected = plain.state & QStyle::State_Selected;
        DrawFocusRect(*painter, plain.rect,
                      plain.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    }
};

constexpr char kDecoration[] = "tavrimo-decoration";

// The window as assistive technology sees it: its controls and its caption,
// without the decoration.
class FormAccessible final : public QAccessibleWidget {
public:
    explicit FormAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Window) {}

    static QAccessibleInterface* Create(const QString&, QObject* object)
    {
        auto* w = qobject_cast<QWidget*>(object);
        return w && w->objectName() == QLatin1String("mainForm") ? new FormAccessible(w) : nullptr;
    }

    int childCount() const override { return static_cast<int>(Announced().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const QWidgetList children = Announced();
        return index >= 0 && index < children.size()
                   ? QAccessible::queryAccessibleInterface(children[index])
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? static_cast<int>(Announced().indexOf(child->object())) : -1;
    }

private:
    QWidgetList Announced() const
    {
        QWidgetList list;
        for (QObject* o : widget()->children())
            if (auto* w = qobject_cast<QWidget*>(o);
                w && !w->isWindow() && !w->property(kDecoration).toBool())
                list.append(w);
        return list;
    }
};

bool IsNavigationKey(int key)
{
    switch (key) {
    case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_Home: case Qt::Key_End:
    case Qt::Key_PageUp: case Qt::Key_PageDown:
        return true;
    default:
        return false;
    }
}

// An image the build decoded: the pixels are the program's read-only data,
// which the pixmap copies.
QPixmap OwnPixmap(const OwnImage& image)
{
    return QPixmap::fromImage(QImage(reinterpret_cast<const uchar*>(image.pixels), image.width,
                                     image.height, image.width * 4, QImage::Format_ARGB32));
}

}  // namespace

QIcon OwnWindowIcon()
{
    QIcon icon;
    icon.addPixmap(OwnPixmap(kIcon16));
    icon.addPixmap(OwnPixmap(kIcon32));
    return icon;
}

DspListWidget::DspListWidget(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new DspLineDelegate(this));
}

int DspListWidget::RowFromBeforeTheFirst(int key) const
{
    switch (key) {
    case Qt::Key_End:
        return count() - 1;
    case Qt::Key_PageDown: {
        const int row = std::max(1, sizeHintForRow(0));
        return std::min(count(), std::max(1, viewport()->height() / row)) - 1;
    }
    default:  // Up, Down, Home, PageUp: the first line
        return 0;
    }
}

void DspListWidget::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers widening = Qt::ShiftModifier | Qt::ControlModifier;
    const bool ours = (IsNavigationKey(event->key()) || event->key() == Qt::Key_Space) &&
                      (event->modifiers() & ~(widening | Qt::KeypadModifier)) == 0;
    if (!ours || count() == 0) {
        QListWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->key() == Qt::Key_Space) {  // selects the current line, never clears it
        setCurrentRow(std::max(currentRow(), 0), QItemSelectionModel::ClearAndSelect);
        return;
    }
    if (selectionModel()->selectedIndexes().isEmpty()) {
        setCurrentRow(RowFromBeforeTheFirst(event->key()), QItemSelectionModel::ClearAndSelect);
        return;
    }
    QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~widening, event->text(),
                    event->isAutoRepeat(), static_cast<ushort>(event->count()));
    QListWidget::keyPressEvent(&plain);
}

std::unique_ptr<QMouseEvent> DspListWidget::LeftButtonOnly(QMouseEvent* event)
{
    event->accept();
    const bool left = event->button() == Qt::LeftButton ||
                      (event->button() == Qt::NoButton && !(event->buttons() & ~Qt::LeftButton));
    if (!left) return nullptr;
    return std::make_unique<QMouseEvent>(
        event->type(), event->position(), event->scenePosition(), event->globalPosition(),
        event->button(), event->buttons(),
        event->modifiers() & ~(Qt::ShiftModifier | Qt::ControlModifier), event->pointingDevice());
}

void DspListWidget::mousePressEvent(QMouseEvent* event)
{
    if (const auto plain = LeftButtonOnly(event)) QListWidget::mousePressEvent(plain.get());
}

void DspListWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (const auto plain = LeftButtonOnly(event)) QListWidget::mouseReleaseEvent(plain.get());
}

void DspListWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (const auto plain = LeftButtonOnly(event)) QListWidget::mouseMoveEvent(plain.get());
}

void DspListWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (const auto plain = LeftButtonOnly(event)) QListWidget::mouseDoubleClickEvent(plain.get());
}

bool DspButton::event(QEvent* event)
{
    if (event->type() == QEvent::Shortcut && !static_cast<QShortcutEvent*>(event)->isAmbiguous()) {
        click();
        return true;
    }
    return QPushButton::event(event);
}

void DspButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const bool focus = option.state & QStyle::State_HasFocus;
    option.state &= ~QStyle::State_HasFocus;
    painter.drawControl(QStyle::CE_PushButton, option);
    if (focus)
        DrawFocusRect(painter, rect().adjusted(4, 4, -4, -4),
                      option.palette.color(QPalette::ButtonText));
}

MainForm::MainForm(DisplaySettings& settings, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                  Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      settings_(settings)
{
    // Before any control exists: where a screen reader is listening, Qt 6.8
    // and later make the window's accessible object as its first child comes.
    static const bool installed = (QAccessible::installFactory(&FormAccessible::Create), true);
    (void)installed;
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
    wrkLogo->setPixmap(OwnPixmap(kLogo));
    wrkLogo->setScaledContents(false);
    wrkLogo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Lab[1] = EngravedLabel(this, 1, window);

    // Painted decoration, which a screen reader has no business announcing:
    // the dark copy of the engraved caption, the etched lines and the logo.
    for (QWidget* w : {static_cast<QWidget*>(Lab[0]), Line1, Line2, static_cast<QWidget*>(wrkLogo)})
        w->setProperty(kDecoration, true);

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
