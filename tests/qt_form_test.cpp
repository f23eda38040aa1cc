// The window built in code, checked offscreen against the scripted layer.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>
#include <set>
#include <stdexcept>
#include <utility>

#include "fake_display_settings.h"
#include "form_layout.h"
#include "qt_application.h"
#include "qt_fonts.h"
#include "qt_main_form.h"

namespace {

class MainFormTest : public testing::Test {
protected:
    void SetUp() override
    {
        using F = FakeDisplaySettings;
        fake.modes = {F::Mode(640, 480, 8), F::Mode(800, 600, 16), F::Mode(800, 600, 16, 75),
                      F::Mode(1024, 768, 32)};
        form.Load();
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();
        QApplication::processEvents();
    }

    int Selected() const
    {
        const auto rows = form.DspList->selectionModel()->selectedIndexes();
        return rows.isEmpty() ? -1 : rows.first().row();
    }

    FakeDisplaySettings fake;
    MainForm form{fake};
};

QRect ToRect(const form::Box& b) { return QRect(b.left, b.top, b.width, b.height); }

TEST_F(MainFormTest, ControlsSitWhereTheLayoutPutsThem)
{
    EXPECT_EQ(form.windowTitle(), form::kCaption);
    EXPECT_EQ(form.size(), QSize(form::kClientWidth, form::kClientHeight));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the user cannot resize it";
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.palette().color(QPalette::Window),
              QColor(form::kBackground.red, form::kBackground.green, form::kBackground.blue));
    const struct {
        QWidget* w;
        QRect r;
    } layout[] = {
        {form.SetDSP, ToRect(form::kSetDSP)},
        {form.Lab[0], ToRect(form::kLab[0])},
        {form.Line2, {0, form::kLine2Top, form::kClientWidth, 1}},
        {form.Line1, {0, form::kLine1Top, form::kClientWidth, 1}},
        {form.wrkLogo, ToRect(form::kWrkLogo)},
        {form.Lab[1], ToRect(form::kLab[1])},
    };
    for (const auto& c : layout) EXPECT_EQ(c.w->geometry(), c.r) << c.w->objectName().toStdString();
    // The list keeps its place but shows whole lines only.
    const QRect list = form.DspList->geometry();
    const QRect planned = ToRect(form::kDspList);
    EXPECT_EQ(list.topLeft(), planned.topLeft());
    EXPECT_EQ(list.width(), planned.width());
    EXPECT_LE(list.height(), planned.height());
    const int row = form.DspList->sizeHintForRow(0);
    EXPECT_GT(list.height(), planned.height() - row);
    EXPECT_EQ((list.height() - 2 * form.DspList->frameWidth()) % row, 0);
    // Engraved: the light copy lies over the dark one.
    const auto children = form.children();
    EXPECT_LT(children.indexOf(form.Lab[0]), children.indexOf(form.Lab[1]));
    EXPECT_EQ(form.Lab[0]->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::Dark));
    EXPECT_EQ(form.Lab[1]->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::Base));
    EXPECT_EQ(form.Lab[0]->text(), form::kCaption);
    EXPECT_EQ(form.SetDSP->text(), form::kButtonCaption);
    EXPECT_EQ(form.wrkLogo->pixmap().size(), ToRect(form::kWrkLogo).size());
    EXPECT_FALSE(form.wrkLogo->hasScaledContents());
    EXPECT_DOUBLE_EQ(form.font().pointSizeF(), form::kWindowFont.hundredthsOfPoint / 100.0);
    EXPECT_DOUBLE_EQ(form.SetDSP->font().pointSizeF(), form::kButtonFont.hundredthsOfPoint / 100.0);
    EXPECT_DOUBLE_EQ(form.DspList->font().pointSizeF(), form::kListFont.hundredthsOfPoint / 100.0);
}

TEST_F(MainFormTest, ListHoldsEveryLineWithNothingSelectedAndTheFocus)
{
    ASSERT_EQ(form.DspList->count(), 4);
    EXPECT_EQ(form.DspList->item(0)->text(), "  640 x   480   256色( 8bit)");
    EXPECT_EQ(form.DspList->item(1)->text(), form.DspList->item(2)->text());
    EXPECT_EQ(Selected(), -1);
    EXPECT_EQ(QApplication::focusWidget(), form.DspList);
}

TEST_F(MainFormTest, ScreenReadersCanNameTheListAndTheButton)
{
    for (QWidget* w : {static_cast<QWidget*>(form.DspList), static_cast<QWidget*>(form.SetDSP)}) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr);
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty());
        EXPECT_FALSE(a->text(QAccessible::Description).isEmpty());
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.DspList)->text(QAccessible::Name),
              form::kListName);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.SetDSP)->text(QAccessible::Name),
              form::kButtonName);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.DspList)->role(), QAccessible::List);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.SetDSP)->role(), QAccessible::Button);
}

TEST_F(MainFormTest, TabMovesBetweenListAndButtonOnly)
{
    QTest::keyClick(form.DspList, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.SetDSP);
    QTest::keyClick(form.SetDSP, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.DspList);
    QTest::keyClick(form.DspList, Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), form.SetDSP);
}

TEST_F(MainFormTest, FirstArrowSelectsTheFirstLine)
{
    QTest::keyClick(form.DspList, Qt::Key_Down);
    EXPECT_EQ(Selected(), 0);
    QTest::keyClick(form.DspList, Qt::Key_Down);
    QTest::keyClick(form.DspList, Qt::Key_Down);
    EXPECT_EQ(Selected(), 2);
}

TEST_F(MainFormTest, EnterAndDoubleClickInTheListApplyNothing)
{
    QTest::keyClick(form.DspList, Qt::Key_Down);
    ASSERT_EQ(Selected(), 0) << "a line to apply, had anything applied it";
    QTest::keyClick(form.DspList, Qt::Key_Return);
    QTest::keyClick(form.DspList, Qt::Key_Enter);
    const QRect row = form.DspList->visualItemRect(form.DspList->item(1));
    ASSERT_FALSE(row.isEmpty());
    QTest::mouseDClick(form.DspList->viewport(), Qt::LeftButton, {}, row.center());
    QApplication::processEvents();
    ASSERT_EQ(Selected(), 1) << "the double-click reached a line";
    EXPECT_TRUE(fake.applied.empty());
    QTest::mouseClick(form.SetDSP, Qt::LeftButton);
    EXPECT_EQ(fake.applied.size(), 1u) << "only the button applies";
}

TEST_F(MainFormTest, FocusRectanglesOnlyWhereTheFocusIs)
{
    // The current line, unselected, as at start.
    form.DspList->selectionModel()->setCurrentIndex(form.DspList->model()->index(0, 0),
                                                    QItemSelectionModel::NoUpdate);
    ASSERT_EQ(Selected(), -1);
    const QRect row = form.DspList->visualItemRect(form.DspList->item(0));
    const auto grab = [&](QWidget* focus) {
        focus->setFocus();
        QApplication::processEvents();
        EXPECT_EQ(QApplication::focusWidget(), focus);
        return std::pair{form.DspList->viewport()->grab(row).toImage(), form.SetDSP->grab().toImage()};
    };
    const auto [lineWithFocus, buttonWithout] = grab(form.DspList);
    const auto [lineWithout, buttonWithFocus] = grab(form.SetDSP);
    EXPECT_NE(lineWithFocus, lineWithout) << "the line shows the list's focus";
    EXPECT_NE(buttonWithFocus, buttonWithout) << "the button shows its focus";
    // Without the focus, no fill and no border on the line: its edge is the list's base.
    const QColor base = form.DspList->palette().color(QPalette::Base);
    for (int y = 0; y < lineWithout.height(); ++y)
        EXPECT_EQ(lineWithout.pixelColor(0, y), base) << y;
    bool dotted = false;  // with it, the edge alternates, dot and gap
    for (int y = 1; y + 1 < lineWithFocus.height(); ++y)
        dotted |= lineWithFocus.pixelColor(0, y) != base && lineWithFocus.pixelColor(0, y + 1) == base;
    EXPECT_TRUE(dotted);
}

TEST_F(MainFormTest, ButtonAppliesTheSelectedLinesOwnMode)
{
    form.DspList->setCurrentRow(2);
    QTest::mouseClick(form.SetDSP, Qt::LeftButton);
    ASSERT_EQ(fake.applied.size(), 1u);
    EXPECT_EQ(fake.applied[0].mode.dmDisplayFrequency, 75);
    EXPECT_EQ(fake.applied[0].flags, dsp::kUpdateRegistry);
    EXPECT_EQ(QApplication::focusWidget(), form.DspList);
    EXPECT_EQ(Selected(), 2);
    EXPECT_EQ(form.DspList->count(), 4) << "the list is not refilled";
}

TEST_F(MainFormTest, KeysOnTheButtonPressIt)
{
    form.DspList->setCurrentRow(3);
    form.SetDSP->setFocus();
    QTest::keyClick(form.SetDSP, Qt::Key_Space);
    QTest::keyClick(form.SetDSP, Qt::Key_Return);
    QTest::keyClick(form.SetDSP, Qt::Key_Enter);
    EXPECT_EQ(fake.applied.size(), 3u);
}

TEST_F(MainFormTest, AltOPressesTheButtonFromTheList)
{
    form.DspList->setCurrentRow(1);
    QTest::keyClick(form.DspList, Qt::Key_O, Qt::AltModifier);
    // Not QTRY_COMPARE: its helper is internal to each Qt release, and this
    // binary also runs against newer releases' Qt.
    for (int i = 0; i < 100 && fake.applied.empty(); ++i) QTest::qWait(10);
    EXPECT_EQ(fake.applied.size(), 1u);
}

TEST_F(MainFormTest, ButtonWithNothingSelectedDoesNothing)
{
    QTest::mouseClick(form.SetDSP, Qt::LeftButton);
    EXPECT_TRUE(fake.applied.empty());
}

// An object whose handler fails, as any of the window's could.
class FailingHandler final : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) throw std::runtime_error("a handler failed");
        return QObject::event(e);
    }
};

TEST(RunMainWindow, AHandlerFailingDuringTheFillEndsTheProgramWithTheWindowUnshown)
{
    auto* app = static_cast<GuardedApplication*>(QCoreApplication::instance());
    std::vector<std::string> reports;
    app->SetReporter([&](const char* what) { reports.emplace_back(what); });
    FakeDisplaySettings fake;
    using F = FakeDisplaySettings;
    fake.modes = {F::Mode(640, 480, 8), F::Mode(800, 600, 16), F::Mode(1024, 768, 32)};
    MainForm form(fake);
    FailingHandler failing;
    QCoreApplication::postEvent(&failing, new QEvent(QEvent::User));
    // Had the loop been entered, this would end it with another status.
    QTimer::singleShot(3000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(RunMainWindow(*app, form), 1);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(reports, std::vector<std::string>{"a handler failed"}) << "reported once";
    EXPECT_EQ(form.DspList->count(), 1) << "the fill went no further";
}

// Every file of config's fonts, or those holding family.
std::set<std::string> FontFiles(FcConfig* config, const char* family = nullptr)
{
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcPatternCreate(),
                                                                           FcPatternDestroy);
    if (family != nullptr)
        FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    const std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> objects(
        FcObjectSetBuild(FC_FILE, nullptr), FcObjectSetDestroy);
    const std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> fonts(
        FcFontList(config, pattern.get(), objects.get()), FcFontSetDestroy);
    std::set<std::string> files;
    for (int i = 0; i < fonts->nfont; ++i) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch)
            files.insert(reinterpret_cast<const char*>(file));
    }
    return files;
}

TEST(WindowFonts, OnlyTheWindowsFamiliesStayAndAMissingFontKeepsThemAll)
{
    const FontConfig every(FcInitLoadConfigAndFonts());
    const std::set<std::string> all = FontFiles(every.get());
    std::set<std::string> wanted = FontFiles(every.get(), "AR PL UMing TW");
    wanted.merge(FontFiles(every.get(), "Unifont"));
    ASSERT_GT(all.size(), wanted.size()) << "more fonts are installed than the window's";
    const struct {
        std::vector<FontFamilies> fonts;
        bool narrowed;
    } cases[] = {
        {WindowFonts(), true},
        {{{"No Such Family", "AR PL UMing TW"}, {"Unifont"}}, true},
        {{{"AR PL UMing TW"}, {"No Such Family"}}, false},
    };
    for (const auto& c : cases) {
        bool narrowed = !c.narrowed;
        const FontConfig config = WindowFontConfig(c.fonts, {}, &narrowed);
        ASSERT_TRUE(config);
        EXPECT_EQ(narrowed, c.narrowed);
        EXPECT_EQ(FontFiles(config.get()), c.narrowed ? wanted : all);
    }
}

TEST(WindowFonts, TheFaceFontconfigPicksForAGenericNameStays)
{
    const auto picked = [](FcConfig* config) {
        FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("Sans Serif"));
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config, pattern, &result);
        FcChar8* file = nullptr;
        std::string name;
        if (match != nullptr && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
            name = reinterpret_cast<const char*>(file);
        FcPatternDestroy(match);
        FcPatternDestroy(pattern);
        return name;
    };
    const FontConfig every(FcInitLoadConfigAndFonts());
    bool narrowed = false;
    const FontConfig config = WindowFontConfig(WindowFonts(), {"Sans Serif"}, &narrowed);
    ASSERT_TRUE(config && narrowed);
    EXPECT_EQ(picked(config.get()), picked(every.get()));
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    GuardedApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
