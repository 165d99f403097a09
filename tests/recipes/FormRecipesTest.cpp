// The editor panels and the file menu on the offscreen main window.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "RecipeFixture.h"
#include "app/Application.h"
#include "app/FormMain.h"
#include "app/FormRecipes.h"
#include "recipes/DefinitionsFile.h"

namespace {

std::string S(const QString &q) { return q.toStdString(); }

class TFormRecipes : public TRecipeTest {
protected:
  std::unique_ptr<TTFormMain> Form;
  std::unique_ptr<THostFixture> Host;  // after the form, so its fakes count
  std::function<std::string(QFileDialog &)> SavedDialog;
  std::vector<std::string> DialogTitles;
  std::string Chosen;

  void SetUp() override {
    TRecipeTest::SetUp();
    Form = std::make_unique<TTFormMain>(false);
    Host = std::make_unique<THostFixture>();
    Form->RefreshEditors();
    SavedDialog = RunFileDialog;
    RunFileDialog = [this](QFileDialog &d) {
      DialogTitles.push_back(S(d.windowTitle()) + "|" + S(d.nameFilters().join(";")) + "|" +
                             (d.acceptMode() == QFileDialog::AcceptSave ? "save" : "open"));
      return Chosen;
    };
  }
  void TearDown() override {
    RunFileDialog = SavedDialog;
    Host.reset();
    Form.reset();
    TRecipeTest::TearDown();
  }
  // Leaves the field the way the operator does, through the dispatcher.
  static void Leave(QLineEdit *e, const char *text) {
    e->setText(text);
    emit e->editingFinished();
  }
  static void Type(QLineEdit *e, const char *text) {
    e->setText(text);  // textChanged, as a keystroke raises it
  }
};

TEST_F(TFormRecipes, BadNumberShowsTheErrorAndKeepsTheValue) {
  Form->ProcAdd->click();
  Leave(Form->UpperPosEdit, "4");
  Leave(Form->UpperPosEdit, "4,5");
  EXPECT_EQ(ProcTable[1].UpperPos, 4);
  EXPECT_EQ(S(Form->UpperPosEdit->text()), "4,5");  // until the next refresh
  ASSERT_EQ(Host->Operator.Asked.size(), 1u);
  EXPECT_EQ(Host->Operator.Asked[0].Kind, TMsgKind::Error);
  EXPECT_EQ(Host->Operator.Asked[0].Text, "'4,5' is not a valid floating point value");
  EXPECT_TRUE(Host->Report.Has("$ MaxPositionG[3]:25.00"));
}

TEST_F(TFormRecipes, ListsStoreTheChosenItem) {
  DigOutCount = 2;
  DigOutTable[1].Name = "Heater";
  DigOutTable[2].Name = "Fan";
  Form->UpdateChannelList();
  Form->PosAdd->click();
  Form->PosAdd->click();
  Form->ProcAdd->click();  // names position 2
  EXPECT_EQ(Form->PositionSelect->currentIndex(), 2);
  EXPECT_EQ(Form->ChNoSelect->count(), 3);
  Form->ChNoSelect->setCurrentIndex(2);
  emit Form->ChNoSelect->activated(2);
  Form->ChModeSelect->setCurrentIndex(4);
  emit Form->ChModeSelect->activated(4);
  Form->PositionSelect->setCurrentIndex(1);
  emit Form->PositionSelect->activated(1);
  EXPECT_EQ(ProcTable[1].ChNo, 2);
  EXPECT_EQ(ProcTable[1].ChMode, 4);
  EXPECT_EQ(ProcTable[1].PosNo, 1);
  // Renaming an output rebuilds the list without losing the shown channel.
  DigOutTable[2].Name = "Pump";
  Form->UpdateChannelList();
  EXPECT_EQ(S(Form->ChNoSelect->currentText()), "Pump");
  // A new position does not change what the process panel shows.
  Form->PosAdd->click();
  EXPECT_EQ(Form->PositionSelect->count(), 4);
  EXPECT_EQ(Form->PositionSelect->currentIndex(), 1);
}

TEST_F(TFormRecipes, NameEditsWriteThroughWithoutBlanks) {
  Form->PosAdd->click();
  Form->ProcAdd->click();
  Form->TaskAdd->click();
  Type(Form->PosNameEdit, "Big one");
  EXPECT_EQ(PosTable[1].Name, "Big_one");
  EXPECT_EQ(S(Form->PosNameEdit->text()), "Big_one");
  Type(Form->ProcNameEdit, "Rinse;2");
  EXPECT_EQ(ProcTable[1].Name, "Rinse_2");
  emit Form->ProcNameEdit->editingFinished();
  EXPECT_EQ(S(Form->ProcessSelect->itemText(1)), "Rinse_2");
  Type(Form->TaskNameEdit, "T 1");
  EXPECT_EQ(TaskTable[1].Name, "T_1");
}

TEST_F(TFormRecipes, LongValuesFromAFileAreShownKeptAndUsedWhole) {
  Put("LastDefinitions.dip", "pos; 1; LongPositionName; -1234.6; 1\n"
      "prc; 1; LongProcessName1; 1; 1; 1; 1; 2; 1; 1; 0; 0\ntsk; 1; LongTaskName1234; LongProcessName1\n");
  Form->Open1->trigger();
  EXPECT_EQ(S(Form->PosNameEdit->text()), "LongPositionName");
  EXPECT_EQ(S(Form->PosXEdit->text()), "-1234.60");
  EXPECT_EQ(S(Form->ProcNameEdit->text()), "LongProcessName1");
  EXPECT_EQ(S(Form->TaskNameEdit->text()), "LongTaskName1234");
  // Typing still adds nothing beyond the limit, and the name stays whole.
  QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "X");
  QApplication::sendEvent(Form->ProcNameEdit, &key);
  EXPECT_EQ(ProcTable[1].Name, "LongProcessName1");
  Form->ProcAdd->click();  // a short name: 10 typed characters at most
  Form->ProcNameEdit->setText("Proc");
  for (int i = 0; i < 8; ++i) QApplication::sendEvent(Form->ProcNameEdit, &key);
  EXPECT_EQ(ProcTable[2].Name, "ProcXXXXXX");
  Form->ProcDel->click();
  Form->Save1->trigger();
  EXPECT_NE(Get("LastDefinitions.dip").find("prc; 1; LongProcessName1; 1;"), std::string::npos);
  Form->CheckSyntax->click();
  EXPECT_TRUE(Host->Report.Has("Level : 1  LongProcessName1 OK")) << Host->Report.Joined();
}

TEST_F(TFormRecipes, DeletingTaskTwoOfFourShowsTheNextOne) {
  for (int i = 0; i < 4; ++i) Form->TaskAdd->click();
  Form->TaskUpDown->setValue(2);
  EXPECT_EQ(CurTask, 2);
  EXPECT_EQ(S(Form->TaskNameEdit->text()), "Task2");
  Form->TaskDel->click();
  EXPECT_EQ(TaskCount, 3);
  EXPECT_EQ(CurTask, 2);
  EXPECT_EQ(S(Form->TaskNameEdit->text()), "Task3");
  EXPECT_EQ(Form->TaskUpDown->maximum(), 3);
  EXPECT_EQ(S(Form->TaskNr->text()), "3");
  Form->TaskEdit->setText("Edited");
  EXPECT_EQ(TaskTable[2].Line, "Edited");
  EXPECT_EQ(TaskTable[2].Name, "Task3");
  // The placeholder is never deleted.
  Form->TaskUpDown->setValue(0);
  Form->TaskDel->click();
  EXPECT_EQ(TaskCount, 3);
  EXPECT_FALSE(Form->TaskStart->isEnabled());
}

TEST_F(TFormRecipes, FileMenu) {
  Form->PosAdd->click();
  Form->TaskAdd->click();
  Chosen = "";  // cancelled: nothing happens
  Form->SaveAs1->trigger();
  EXPECT_TRUE(Host->Report.Lines.empty());
  Chosen = Dir + "/noext";
  Form->SaveAs1->trigger();
  EXPECT_FALSE(Get(Dir + "/noext").empty());
  Form->Save1->trigger();
  EXPECT_EQ(Get("LastDefinitions.dip"), Get(Dir + "/noext"));

  Form->New1->trigger();
  Form->Open1->trigger();
  EXPECT_EQ(PosCount, 1);
  EXPECT_EQ(S(Form->PosNameEdit->text()), "Pos1");
  EXPECT_EQ(S(Form->TaskNameEdit->text()), "Task1");
  Chosen = Dir + "/noext";
  Form->AddFile1->trigger();
  EXPECT_EQ(PosCount, 2);
  EXPECT_EQ(S(Form->PositionNr->text()), "2");
  Form->OpenDialog1->trigger();  // "Open ..."
  EXPECT_EQ(PosCount, 1);
  EXPECT_EQ(DialogTitles,
            (std::vector<std::string>{"Save Definitions|Definitions (*.dip)|save",
                                      "Save Definitions|Definitions (*.dip)|save",
                                      "Load Definitions|Definitions (all) (*.dip)|open",
                                      "Load Definitions|Definitions (all) (*.dip)|open"}));

  // A malformed file leaves the panels as they were.
  Put("LastDefinitions.dip", "pos; 1; X; 1; 1\npos; 2; Y; 1\n");
  Form->PosNameEdit->setText("Shown");
  Form->Open1->trigger();
  EXPECT_EQ(S(Form->PosNameEdit->text()), "Shown");
  EXPECT_EQ(PosTable[1].Name, "Shown");
  EXPECT_EQ(Host->Operator.Asked.size(), 1u);
}

}  // namespace
