#include "TQtMessageHandler.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

struct Seen {
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QWidget *parent = nullptr;
    bool modal = false;
};

// Waits in the event loop for the box, records it and presses `press`
// (or NoButton: closes it with Escape).
void answerNextBox(QMessageBox::StandardButton press, Seen *seen)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, press, seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        seen->text = box->text();
        seen->caption = box->windowTitle();
        seen->icon = box->icon();
        seen->buttons = box->standardButtons();
        seen->parent = box->parentWidget();
        seen->modal = box->isModal();
        if (press == QMessageBox::NoButton)
            box->reject();
        else
            box->button(press)->click();
    });
    timer->start();
}

class QtMessageBoxes : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = SetMessageHandler(nullptr);
        TQtMessageHandler::Install();
    }
    void TearDown() override { SetMessageHandler(previous_); }

private:
    MessageHandler previous_;
};

} // namespace

TEST_F(QtMessageBoxes, ShowsTheRequestAndMapsTheAnswer)
{
    QWidget owner;
    const struct {
        MsgIcon icon;
        MsgButtons buttons;
        QMessageBox::StandardButton press;
        QMessageBox::Icon shownIcon;
        QMessageBox::StandardButtons shownButtons;
        int result;
    } cases[] = {
        {MsgIcon::Error, MsgButtons::Ok, QMessageBox::Ok, QMessageBox::Critical, QMessageBox::Ok, MsgOk},
        {MsgIcon::Warning, MsgButtons::OkCancel, QMessageBox::Cancel, QMessageBox::Warning,
         QMessageBox::Ok | QMessageBox::Cancel, MsgCancel},
        {MsgIcon::Information, MsgButtons::OkCancel, QMessageBox::Ok, QMessageBox::Information,
         QMessageBox::Ok | QMessageBox::Cancel, MsgOk},
        {MsgIcon::Question, MsgButtons::YesNo, QMessageBox::Yes, QMessageBox::Question,
         QMessageBox::Yes | QMessageBox::No, MsgYes},
        {MsgIcon::None, MsgButtons::YesNo, QMessageBox::No, QMessageBox::NoIcon,
         QMessageBox::Yes | QMessageBox::No, MsgNo},
    };
    for (const auto &c : cases) {
        Seen seen;
        answerNextBox(c.press, &seen);
        const int result = ZqMessageBox("Are you sure that you want to exit?", "Exit Warning", c.icon,
                                        c.buttons, &owner);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(seen.text, "Are you sure that you want to exit?");
        EXPECT_EQ(seen.caption, "Exit Warning");
        EXPECT_EQ(seen.icon, c.shownIcon);
        EXPECT_EQ(seen.buttons, c.shownButtons);
        EXPECT_EQ(seen.parent, &owner);
        EXPECT_TRUE(seen.modal);
    }
}

TEST_F(QtMessageBoxes, ClosingWithoutAButtonGivesTheCancellingAnswer)
{
    const struct {
        MsgButtons buttons;
        int result;
    } cases[] = {{MsgButtons::Ok, MsgOk}, {MsgButtons::OkCancel, MsgCancel}, {MsgButtons::YesNo, MsgNo}};
    for (const auto &c : cases) {
        Seen seen;
        answerNextBox(QMessageBox::NoButton, &seen);
        EXPECT_EQ(ZqMessageBox("text", "caption", MsgIcon::None, c.buttons, nullptr), c.result);
        EXPECT_EQ(seen.parent, nullptr);
    }
}
