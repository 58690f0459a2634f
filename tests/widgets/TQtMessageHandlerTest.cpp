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
        // Closed without a button (Escape): the cancelling answer.
        {MsgIcon::Error, MsgButtons::Ok, QMessageBox::NoButton, QMessageBox::Critical, QMessageBox::Ok, MsgOk},
        {MsgIcon::Warning, MsgButtons::OkCancel, QMessageBox::NoButton, QMessageBox::Warning,
         QMessageBox::Ok | QMessageBox::Cancel, MsgCancel},
        {MsgIcon::Question, MsgButtons::YesNo, QMessageBox::NoButton, QMessageBox::Question,
         QMessageBox::Yes | QMessageBox::No, MsgNo},
    };
    for (const auto &c : cases) {
        Seen seen;
        answerNextBox(c.press, &seen);
        // The escaped boxes go without an owner.
        QWidget *const parent = c.press == QMessageBox::NoButton ? nullptr : &owner;
        const int result = ZqMessageBox("Are you sure that you want to exit?", "Exit Warning", c.icon,
                                        c.buttons, parent);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(seen.text, "Are you sure that you want to exit?");
        EXPECT_EQ(seen.caption, "Exit Warning");
        EXPECT_EQ(seen.icon, c.shownIcon);
        EXPECT_EQ(seen.buttons, c.shownButtons);
        EXPECT_EQ(seen.parent, parent);
        EXPECT_TRUE(seen.modal);
    }
}
