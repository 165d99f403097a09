// An error escaping a handler: one error box captioned with the program's
// title, then the next event is handled as usual.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include "support/Fakes.h"
#include "app/Application.h"
#include "base/Convert.h"
#include "app/FormMain.h"

namespace {

class TThrower : public QObject {
public:
  int Handled = 0;
  bool event(QEvent *e) override {
    if (e->type() == QEvent::User) StrToFloat("12,5x");
    if (e->type() == QEvent::User + 1) throw std::logic_error("plain error");
    if (e->type() == QEvent::User + 2) ++Handled;
    return QObject::event(e);
  }
};

TEST(Dispatcher, ConversionErrorIsShownAndTheProgramGoesOn) {
  THostFixture host;
  TThrower target;
  QEvent bad(QEvent::User), other(QEvent::Type(QEvent::User + 1)), good(QEvent::Type(QEvent::User + 2));

  EXPECT_FALSE(NotifyGuarded(&target, &bad));
  ASSERT_EQ(host.Operator.Asked.size(), 1u);
  EXPECT_EQ(host.Operator.Asked[0].Kind, TMsgKind::Error);
  EXPECT_EQ(host.Operator.Asked[0].Buttons, unsigned(mbOK));
  EXPECT_EQ(host.Operator.Asked[0].Text, "'12,5x' is not a valid floating point value");

  EXPECT_FALSE(NotifyGuarded(&target, &other));
  ASSERT_EQ(host.Operator.Asked.size(), 2u);
  EXPECT_EQ(host.Operator.Asked[1].Text, "plain error");

  EXPECT_TRUE(NotifyGuarded(&target, &good));
  EXPECT_EQ(target.Handled, 1);
  EXPECT_EQ(host.Operator.Asked.size(), 2u);
}

// The window's own question box: caption, icon and the button pressed.
unsigned AskAndPress(TTFormMain &form, TMsgKind kind, unsigned buttons, QMessageBox::StandardButton press,
                     QString *caption, QMessageBox::Icon *icon, unsigned closed = mbOK) {
  QTimer::singleShot(0, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box) return;
    *caption = box->windowTitle();
    *icon = box->icon();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    if (press == QMessageBox::NoButton) QApplication::sendEvent(box, &esc);
    else if (QAbstractButton *b = box->button(press)) b->click();
  });
  return form.Ask(kind, "Text", buttons, closed, closed);
}

TEST(Dispatcher, WindowAsksWithTitleIconAndButtons) {
  TTFormMain form(false);
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  EXPECT_EQ(AskAndPress(form, TMsgKind::Warning, mbYes | mbNo, QMessageBox::No, &caption, &icon),
            unsigned(mbNo));
  EXPECT_EQ(caption, ApplicationTitle);
  EXPECT_EQ(icon, QMessageBox::Warning);
  // Esc answers what the question says closing means, not Qt's Abort.
  EXPECT_EQ(AskAndPress(form, TMsgKind::Warning, mbRetry | mbAbort, QMessageBox::NoButton, &caption, &icon,
                        mbRetry),
            unsigned(mbRetry));
}

}  // namespace
