// The event-number key filter: the rule table, and the guard on a real field.
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "quorvel/event_key_filter.h"

using ui::EventKeyFilter;
using ui::OkEffect;

namespace {

struct Case {
    const char* text;
    int s, e;
    char32_t key;
    bool pass;
    OkEffect ok;
};

class KeyFilterTable : public ::testing::TestWithParam<Case> {};

TEST_P(KeyFilterTable, Decides)
{
    const Case& c = GetParam();
    const ui::KeyVerdict v = EventKeyFilter(QString::fromLatin1(c.text), c.s, c.e, c.key);
    EXPECT_EQ(v.pass, c.pass);
    EXPECT_EQ(v.ok, c.ok);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, KeyFilterTable,
    ::testing::Values(
        // No leading zero: empty field, or the insertion point at the front.
        Case{"", 0, 0, U'0', false, OkEffect::Recheck},
        Case{"12", 0, 0, U'0', false, OkEffect::Recheck},
        Case{"12", 0, 2, U'0', false, OkEffect::Recheck},  // replacing from the front
        Case{"1", 1, 1, U'0', true, OkEffect::Recheck},
        // Range above 128 with two digits in the field, by insertion point.
        Case{"12", 2, 2, U'8', true, OkEffect::Recheck},   // 128
        Case{"12", 2, 2, U'9', false, OkEffect::Recheck},  // 129
        Case{"12", 0, 0, U'1', true, OkEffect::Recheck},   // 112
        Case{"12", 0, 0, U'2', false, OkEffect::Recheck},  // 212
        Case{"28", 1, 1, U'1', false, OkEffect::Recheck},  // 218
        Case{"18", 1, 1, U'2', true, OkEffect::Recheck},   // 128
        // Three digits and no selection: full.
        Case{"128", 3, 3, U'1', false, OkEffect::Recheck},
        Case{"100", 1, 1, U'1', false, OkEffect::Recheck},
        // A selection is replaced and not range-checked.
        Case{"99", 1, 2, U'9', true, OkEffect::Recheck},
        Case{"128", 1, 2, U'9', true, OkEffect::Recheck},
        // Backspace and delete pass; emptying the field turns OK off.
        Case{"128", 3, 3, 0x08, true, OkEffect::None},
        Case{"5", 1, 1, 0x08, true, OkEffect::Disable},
        Case{"128", 0, 3, 0x7F, true, OkEffect::Disable},
        Case{"128", 1, 3, 0x7F, true, OkEffect::None},
        // Arrows pass; anything else is blocked.
        Case{"12", 1, 1, 0x1C, true, OkEffect::None},
        Case{"12", 1, 1, 0x1D, true, OkEffect::None},
        Case{"12", 2, 2, U'a', false, OkEffect::None},
        Case{"", 0, 0, U'-', false, OkEffect::None},
        Case{"", 0, 0, U' ', false, OkEffect::None}));

// The guard on a field: what a person typing sees, and the OK callback.
class GuardedField : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "key_filter_test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            new QApplication(argc, argv);
    }
    void SetUp() override
    {
        field = std::make_unique<QLineEdit>();
        ui::EventNumberGuard::install(field.get(), [this](OkEffect e) { effects.push_back(e); });
    }
    std::unique_ptr<QLineEdit> field;
    std::vector<OkEffect> effects;
};

TEST_F(GuardedField, TypingBuildsOnlyNumbersUpTo128)
{
    QTest::keyClicks(field.get(), "0128");
    EXPECT_EQ(field->text(), "128");
    QTest::keyClick(field.get(), Qt::Key_5);
    EXPECT_EQ(field->text(), "128");
    QTest::keyClick(field.get(), Qt::Key_Backspace);
    QTest::keyClick(field.get(), Qt::Key_9);
    EXPECT_EQ(field->text(), "12");  // 129 refused

    // Insertion point before the 1: "112" passes, "212" would not.
    field->setText("12");
    field->setCursorPosition(0);
    QTest::keyClick(field.get(), Qt::Key_2);
    EXPECT_EQ(field->text(), "12");
    QTest::keyClick(field.get(), Qt::Key_1);
    EXPECT_EQ(field->text(), "112");
}

TEST_F(GuardedField, PasteAndLettersCannotBringTextIn)
{
    field->setText("7");
    QTest::keyClicks(field.get(), "x-");
    QTest::keyClick(field.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), "7");
    EXPECT_EQ(field->maxLength(), 3);
    EXPECT_EQ(field->contextMenuPolicy(), Qt::NoContextMenu);
}

TEST_F(GuardedField, EmptyingReportsDisableAfterTheKey)
{
    field->setText("7");
    field->setCursorPosition(1);
    QTest::keyClick(field.get(), Qt::Key_Backspace);
    EXPECT_EQ(field->text(), "");
    ASSERT_FALSE(effects.empty());
    EXPECT_EQ(effects.back(), OkEffect::Disable);
    QTest::keyClick(field.get(), Qt::Key_4);
    EXPECT_EQ(effects.back(), OkEffect::Recheck);
    EXPECT_EQ(field->text(), "4");
}

}  // namespace
