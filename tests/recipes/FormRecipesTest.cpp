// The editor panels and the file menu on the offscreen main window.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "RecipeFixture.h"
#include "app/Application.h"
#include "app/FormMain.h"
#include "app/FormRecipes.h"

namespace {

std::string S(const QString &q) { return q.toStdString(); }

using TFormRecipes = TRecipeTest;

TEST_F(TFormRecipes, EditorsAndFileMenu) {
  TTFormMain form(false);
  THostFixture host;  // after the form, so its fakes count
  form.RefreshEditors();
  const auto savedDialog = RunFileDialog;
  std::vector<std::string> titles;
  std::string chosen;
  RunFileDialog = [&](QFileDialog &d) {
    titles.push_back(S(d.windowTitle()) + "|" + S(d.nameFilters().join(";")));
    return chosen;
  };

  // A bad number left in a field: the error box, and the value kept.
  form.ProcAdd->click();
  const double upper = ProcTable[1].UpperPos;
  form.UpperPosEdit->setText("4,5");
  emit form.UpperPosEdit->editingFinished();
  EXPECT_EQ(ProcTable[1].UpperPos, upper);
  ASSERT_EQ(host.Operator.Asked.size(), 1u);
  EXPECT_EQ(host.Operator.Asked[0].Text, "'4,5' is not a valid floating point value");

  // Deleting task 2 of 4 shows the next one, which the editor then changes.
  for (int i = 0; i < 4; ++i) form.TaskAdd->click();
  form.TaskUpDown->setValue(2);
  form.TaskDel->click();
  EXPECT_EQ(TaskCount, 3);
  EXPECT_EQ(S(form.TaskNameEdit->text()), "Task3");
  EXPECT_EQ(form.TaskUpDown->maximum(), 3);
  form.TaskEdit->setText("Edited");
  EXPECT_EQ(TaskTable[2].Line, "Edited");

  form.PosAdd->click();
  form.SaveAs1->trigger();  // cancelled: nothing written
  chosen = Dir + "/noext";
  form.SaveAs1->trigger();
  form.Save1->trigger();
  EXPECT_EQ(Get("LastDefinitions.dip"), Get(Dir + "/noext"));
  form.New1->trigger();
  form.Open1->trigger();
  EXPECT_EQ(PosCount, 1);
  EXPECT_EQ(S(form.TaskNameEdit->text()), "Task4");
  form.AddFile1->trigger();
  EXPECT_EQ(PosCount, 2);
  EXPECT_EQ(S(form.PositionNr->text()), "2");
  EXPECT_EQ(titles, (std::vector<std::string>{"Save Definitions|Definitions (*.dip)",
                                              "Save Definitions|Definitions (*.dip)",
                                              "Load Definitions|Definitions (all) (*.dip)"}));
  EXPECT_EQ(host.Operator.Asked.size(), 1u);
  RunFileDialog = savedDialog;

  // Longer values from a file are shown whole, kept and used; typing stays limited.
  Put("LastDefinitions.dip",
      "pos; 1; LongPositionName; -1234.6; 1\n"
      "prc; 1; LongProcessName1; 1; 1; 1; 1; 2; 1; 1; 0; 0\ntsk; 1; T; LongProcessName1\n");
  form.Open1->trigger();
  EXPECT_EQ(S(form.PosNameEdit->text()), "LongPositionName");
  EXPECT_EQ(S(form.PosXEdit->text()), "-1234.60");
  EXPECT_EQ(S(form.ProcNameEdit->text()), "LongProcessName1");
  QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "X");
  form.TaskNameEdit->setText("Task");
  for (int i = 0; i < 8; ++i) QApplication::sendEvent(form.TaskNameEdit, &key);
  EXPECT_EQ(TaskTable[1].Name, "TaskXXXXXX");
  form.Save1->trigger();
  EXPECT_NE(Get("LastDefinitions.dip").find("prc; 1; LongProcessName1; 1;"), std::string::npos);
  form.CheckSyntax->click();
  EXPECT_TRUE(host.Report.Has("Level : 1  LongProcessName1 OK")) << host.Report.Joined();

  // Every name field takes ten characters typed, and they survive a save and a load.
  QLineEdit *const names[] = {form.PosNameEdit, form.ProcNameEdit, form.TaskNameEdit};
  for (QLineEdit *e : names) {
    e->setText("");
    for (int i = 0; i < 12; ++i) QApplication::sendEvent(e, &key);
  }
  form.Save1->trigger();
  form.New1->trigger();
  form.Open1->trigger();
  for (QLineEdit *e : names) EXPECT_EQ(S(e->text()), "XXXXXXXXXX") << S(e->objectName());
}

}  // namespace
