// The definitions file: format, reading rules, limits, and that neither a
// failed save nor a malformed file destroys anything.
#include <sys/resource.h>

#include <csignal>

#include "RecipeFixture.h"
#include "recipes/DefinitionsFile.h"

namespace {

class TDefFile : public TRecipeTest {
protected:
  THostFixture Host;
  int Refreshed = 0;
  bool Load(const std::string &path, bool append = false) {
    return LoadDefinitions(path, append, [this] { ++Refreshed; });
  }
  // One entry of each kind, as in the example file.
  void ExampleRecipe() {
    AppendPosition(TPosEntry{"Beaker1", 12.5, 3});
    TProcEntry p;
    p.Name = "TunkProc1";
    p.PosNo = 1;
    p.UpperPos = 2;
    p.InSpeed = 0.5;
    p.InTime = 10;
    p.LowPos = 8.5;
    p.OutSpeed = 0.25;
    p.OutTime = 5;
    p.ChMode = 1;
    p.ChNo = 2;
    p.NoTunks = 3;
    AppendProcess(p);
    AppendTask(TTaskEntry{"Task1", "TunkProc1 + TunkProc1"});
  }
};

const char *const ExampleFile =
    "# Position: No; Name; Xpos [cm]; Ypos [cm]\r\n"
    "pos; 1; Beaker1; 12.50; 3.00\r\n"
    "\r\n"
    "# Process: No; Name; PosNr; ... \r\n"
    "# Z Top; V Down; T low; Z Bot; V up; T up; ...  \r\n"
    "# Chan Mode; Chan Num \r\n"
    "prc; 1; TunkProc1; 1; 2.00; 0.5000; 10.00; 8.50; 0.2500; 5.00; 1; 2; 3\r\n"
    "\r\n"
    "# Task: No; Name; CommandLine \r\n"
    "tsk; 1; Task1; TunkProc1 + TunkProc1\r\n";

TEST(DefinitionFields, SplitRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitFields("pos; 1; A; 1.00; 2.00"), (V{"pos", "1", "A", "1.00", "2.00"}));
  EXPECT_EQ(SplitFields("pos;1;A;1.00;2.00"), (V{"pos", "1", "A", "1.00", "2.00"}));
  EXPECT_EQ(SplitFields("  tsk 1\tT  a + b "), (V{"tsk", "1", "T", "a", "+", "b"}));
  EXPECT_EQ(SplitFields("; pos"), (V{"", "pos"}));
  EXPECT_EQ(SplitFields("a; ;b"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitFields("a;;b"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitFields("a;"), (V{"a", ""}));
  EXPECT_EQ(SplitFields("a; "), (V{"a"}));  // only a ";" at the very end adds one
  EXPECT_EQ(SplitFields("tsk; 1; T;   "), (V{"tsk", "1", "T"}));
  EXPECT_TRUE(SplitFields("   ").empty());
  EXPECT_TRUE(SplitFields("").empty());
}

TEST_F(TDefFile, ExampleWrittenByteForByte) {
  ExampleRecipe();
  ASSERT_TRUE(SaveDefinitions("LastDefinitions.dip"));
  EXPECT_EQ(Get("LastDefinitions.dip"), ExampleFile);
  EXPECT_EQ(Host.Report.Lines,
            (std::vector<std::string>{"Save Tunker Definitions -> LastDefinitions.dip",
                                      "Tunker Definitions saved to LastDefinitions.dip"}));
  EXPECT_EQ(OtherFiles("LastDefinitions.dip"), "");  // no temporary left
}

TEST_F(TDefFile, EmptyRecipeWritesOnlyTheCommentsAndEmptyLines) {
  ASSERT_TRUE(SaveDefinitions("empty.dip"));
  EXPECT_EQ(Get("empty.dip"),
            "# Position: No; Name; Xpos [cm]; Ypos [cm]\r\n\r\n"
            "# Process: No; Name; PosNr; ... \r\n"
            "# Z Top; V Down; T low; Z Bot; V up; T up; ...  \r\n"
            "# Chan Mode; Chan Num \r\n\r\n"
            "# Task: No; Name; CommandLine \r\n");
}

TEST_F(TDefFile, SaveThenOpenRestoresToTheWrittenPrecision) {
  for (int i = 0; i < 3; ++i) AddPosition();
  PosTable[2] = TPosEntry{"Mid", 12.345678, -0.004};
  for (int i = 0; i < 2; ++i) AddProcess();
  TProcEntry &p = ProcTable[2];
  p.Name = "Dip";
  p.PosNo = 3;
  p.UpperPos = 1.005;
  p.InSpeed = 0.123456789;
  p.InTime = -1;
  p.LowPos = 24.999;
  p.OutSpeed = 2;
  p.OutTime = 0.5;
  p.ChMode = 5;
  p.ChNo = 12;
  p.NoTunks = -7;
  AddTask();
  TaskTable[1].Line = "(Dip + TunkProc1)*3";
  ASSERT_TRUE(SaveDefinitions("LastDefinitions.dip"));
  ResetDefinitions();
  Host.Report.Lines.clear();
  ASSERT_TRUE(Load("LastDefinitions.dip"));

  ASSERT_EQ(PosCount, 3);
  ASSERT_EQ(ProcCount, 2);
  ASSERT_EQ(TaskCount, 1);
  EXPECT_EQ(PosTable[2].Name, "Mid");
  EXPECT_DOUBLE_EQ(PosTable[2].X, 12.35);
  EXPECT_DOUBLE_EQ(PosTable[2].Y, 0);
  const TProcEntry &q = ProcTable[2];
  EXPECT_EQ(q.Name, "Dip");
  EXPECT_EQ(q.PosNo, 3);
  EXPECT_DOUBLE_EQ(q.UpperPos, 1.01);
  EXPECT_DOUBLE_EQ(q.InSpeed, 0.1235);
  EXPECT_DOUBLE_EQ(q.InTime, -1);
  EXPECT_DOUBLE_EQ(q.LowPos, 25);
  EXPECT_DOUBLE_EQ(q.OutSpeed, 2);
  EXPECT_DOUBLE_EQ(q.OutTime, 0.5);
  EXPECT_EQ(q.ChMode, 5);
  EXPECT_EQ(q.ChNo, 12);
  EXPECT_EQ(q.NoTunks, -7);
  EXPECT_EQ(ProcTable[1].Name, "TunkProc1");
  EXPECT_EQ(TaskTable[1].Name, "Task1");
  // Each field of the line comes back followed by one blank.
  EXPECT_EQ(TaskTable[1].Line, "(Dip + TunkProc1)*3 ");
  // Each panel shows, and edits, the last entry; new names follow the slots.
  EXPECT_EQ(CurPos, 3);
  EXPECT_EQ(CurProc, 2);
  EXPECT_EQ(CurTask, 1);
  EXPECT_EQ(PosNameNo, 4);
  EXPECT_EQ(ProcNameNo, 2);
  EXPECT_EQ(TaskNameNo, 1);
  EXPECT_EQ(Refreshed, 1);
  EXPECT_EQ(Host.Report.Lines.front(), "Load definitions from file: LastDefinitions.dip");
  EXPECT_EQ(Host.Report.Lines.back(), "$ Definitions loaded from LastDefinitions.dip");
  EXPECT_TRUE(Host.Report.Has("$ prc detected"));
}

TEST_F(TDefFile, EmptyTaskLineIsWrittenAsTwoBlanks) {
  AddTask();
  ASSERT_TRUE(SaveDefinitions("t.dip"));
  EXPECT_EQ(TaskTable[1].Line, "  ");
  const std::string text = Get("t.dip");
  EXPECT_NE(text.find("\r\ntsk; 1; Task1;   \r\n"), std::string::npos) << text;
  ASSERT_TRUE(Load("t.dip"));
  EXPECT_EQ(TaskCount, 1);
  EXPECT_EQ(TaskTable[1].Line, "");
}

TEST_F(TDefFile, NamesWithBlanksOrSemicolonsStayOneField) {
  AppendPosition(TPosEntry{"Big beaker;2", 1, 2});
  AppendTask(TTaskEntry{"My task", "A"});
  ASSERT_TRUE(SaveDefinitions("n.dip"));
  ResetDefinitions();
  ASSERT_TRUE(Load("n.dip"));
  EXPECT_EQ(PosTable[1].Name, "Big_beaker_2");
  EXPECT_DOUBLE_EQ(PosTable[1].X, 1);
  EXPECT_DOUBLE_EQ(PosTable[1].Y, 2);
  EXPECT_EQ(TaskTable[1].Name, "My_task");
}

TEST_F(TDefFile, CrLfAndLfReadAlike) {
  const std::string lf = "pos; 1; A; 1.00; 2.00\nprc; 1; P; 1; 2.00; 0.5000; 10.00; 8.50; "
                         "0.2500; 5.00; 1; 2; 3\ntsk; 1; T; P + P";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  Put("lf.dip", lf);
  Put("crlf.dip", crlf + "\r\n");
  for (const char *f : {"lf.dip", "crlf.dip"}) {
    ASSERT_TRUE(Load(f)) << f;
    EXPECT_EQ(PosTable[1].Name, "A") << f;
    EXPECT_DOUBLE_EQ(PosTable[1].Y, 2) << f;
    EXPECT_EQ(ProcTable[1].NoTunks, 3) << f;
    EXPECT_EQ(TaskTable[1].Line, "P + P ") << f;
  }
}

TEST_F(TDefFile, ReadingRulesSkipAndTolerate) {
  Put("r.dip",
      "POS; 1; Upper; 1; 1\n"           // type is case-sensitive
      "pos1; Glued; 1; 1\n"             // run together with the number
      "; pos; 1; Semi; 1; 1\n"          // first field empty
      "   # pos; 1; Comment; 1; 1\n"    // comment after blanks
      "xyz; anything\n"
      "pos;7;NoBlanks;1.5;2.5\n"        // slot number not read
      "pos; 1; ABCDEFGHIJKLMNOPQRST; 1E1; -2.5e-1; extra; fields\n"
      "prc;1;P;257;1;1;1;1;1;1;0;0\n"   // 12 fields: NoTunks 0; PosNo low 8 bits
      "prc; 1; Q; -1; 1; 1; 1; 1; 1; 1; 0; 0; 0x10\n"
      "tsk; 1; OnlyName\n");
  ASSERT_TRUE(Load("r.dip"));
  ASSERT_EQ(PosCount, 2);
  EXPECT_EQ(PosTable[1].Name, "NoBlanks");
  EXPECT_DOUBLE_EQ(PosTable[1].X, 1.5);
  EXPECT_EQ(PosTable[2].Name, "ABCDEFGHIJKLMNOP");
  EXPECT_DOUBLE_EQ(PosTable[2].X, 10);
  EXPECT_DOUBLE_EQ(PosTable[2].Y, -0.25);
  ASSERT_EQ(ProcCount, 2);
  EXPECT_EQ(ProcTable[1].PosNo, 1);
  EXPECT_EQ(ProcTable[1].NoTunks, 0);
  EXPECT_EQ(ProcTable[2].PosNo, 255);
  EXPECT_EQ(ProcTable[2].NoTunks, 16);
  ASSERT_EQ(TaskCount, 1);
  EXPECT_EQ(TaskTable[1].Line, "");
  EXPECT_TRUE(Host.Operator.Asked.empty());
}

TEST_F(TDefFile, MalformedRecordChangesNothing) {
  ExampleRecipe();
  CurPos = 0;
  PosNameNo = 9;
  struct TCase {
    const char *Text, *Expect;
  } cases[] = {
      {"pos; 1; A; 1; 1\nprc; 1; P; 1; 1; 1; 1; 1; 1; 1; 0\n", "line 2: \"prc\" record has 11 fields"},
      {"# c\n\npos; 1; A; 1; x1\n", "line 3, field 5: \"x1\" is not a valid number"},
      {"prc; 1; P; one; 1; 1; 1; 1; 1; 1; 0; 0\n", "line 1, field 4: \"one\" is not a valid integer"},
      {"prc; 1; P; 1; 1; 1; 1; 1; 1; 1; 0; 0; 2.5\n", "line 1, field 13"},
      {"tsk; 1\n", "line 1: \"tsk\" record has 2 fields, needs at least 3"},
      {"pos; 1; A; nan; 1\n", "line 1, field 4"},
  };
  for (const TCase &c : cases) {
    Put("bad.dip", c.Text);
    Host.Operator.Asked.clear();
    for (bool append : {false, true}) {
      EXPECT_FALSE(Load("bad.dip", append)) << c.Text;
      ASSERT_EQ(Host.Operator.Asked.size(), append ? 2u : 1u);
      const TAsked &a = Host.Operator.Asked.back();
      EXPECT_EQ(a.Kind, TMsgKind::Error);
      EXPECT_NE(a.Text.find(c.Expect), std::string::npos) << a.Text;
      EXPECT_NE(a.Text.find("bad.dip"), std::string::npos) << a.Text;
      EXPECT_EQ(PosCount, 1);
      EXPECT_EQ(ProcCount, 1);
      EXPECT_EQ(TaskCount, 1);
      EXPECT_EQ(CurPos, 0);
      EXPECT_EQ(PosNameNo, 9);
      EXPECT_EQ(PosTable[1].Name, "Beaker1");
    }
  }
  EXPECT_EQ(Refreshed, 0);
  EXPECT_FALSE(Host.Report.HasPrefix("$ Definitions loaded"));
}

TEST_F(TDefFile, MissingFileChangesNothing) {
  ExampleRecipe();
  EXPECT_FALSE(Load("LastDefinitions.dip"));
  ASSERT_EQ(Host.Operator.Asked.size(), 1u);
  EXPECT_NE(Host.Operator.Asked[0].Text.find("LastDefinitions.dip"), std::string::npos);
  EXPECT_EQ(PosCount, 1);
  EXPECT_EQ(TaskTable[1].Line, "TunkProc1 + TunkProc1");
  // A folder of that name opens, but cannot be read as a file.
  ASSERT_EQ(mkdir("LastDefinitions.dip", 0755), 0);
  EXPECT_FALSE(Load("LastDefinitions.dip"));
  ASSERT_EQ(Host.Operator.Asked.size(), 2u);
  EXPECT_NE(Host.Operator.Asked[1].Text.find("directory"), std::string::npos) << Host.Operator.Asked[1].Text;
  EXPECT_EQ(PosCount, 1);
  EXPECT_FALSE(Host.Report.HasPrefix("$ Definitions loaded"));
}

TEST_F(TDefFile, RecordsBeyondATableAreIgnoredButTraced) {
  std::string text;
  for (int i = 1; i <= 300; ++i) text += "pos; " + std::to_string(i) + "; P" + std::to_string(i) + "; 1; 1\n";
  Put("many.dip", text);
  ASSERT_TRUE(Load("many.dip"));
  EXPECT_EQ(PosCount, 255);
  EXPECT_EQ(PosTable[255].Name, "P255");
  EXPECT_EQ(CurPos, 255);
  int traced = 0;
  for (const std::string &l : Host.Report.Lines) traced += l == "$ pos detected";
  EXPECT_EQ(traced, 300);
}

TEST_F(TDefFile, FailedSaveKeepsTheOldFile) {
  Put("LastDefinitions.dip", "old contents");
  for (int i = 0; i < 200; ++i) AddPosition();
  // Writing fails half-way: a file size limit below the new file's size.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = SaveDefinitions("LastDefinitions.dip");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(ok);
  EXPECT_EQ(Get("LastDefinitions.dip"), "old contents");
  EXPECT_EQ(OtherFiles("LastDefinitions.dip"), "");
  ASSERT_EQ(Host.Operator.Asked.size(), 1u);
  EXPECT_EQ(Host.Operator.Asked[0].Kind, TMsgKind::Error);
  EXPECT_NE(Host.Operator.Asked[0].Text.find("File too large"), std::string::npos)
      << Host.Operator.Asked[0].Text;
  EXPECT_TRUE(Host.Report.Has("Save Tunker Definitions -> LastDefinitions.dip"));
  EXPECT_FALSE(Host.Report.HasPrefix("Tunker Definitions saved"));
}

TEST_F(TDefFile, ReadOnlyFileOrFolderIsNotReplaced) {
  Put("ro.dip", "kept");
  chmod("ro.dip", 0444);
  EXPECT_FALSE(SaveDefinitions("ro.dip"));
  EXPECT_EQ(Get("ro.dip"), "kept");
  ASSERT_EQ(Host.Operator.Asked.size(), 1u);
  EXPECT_NE(Host.Operator.Asked[0].Text.find("read-only"), std::string::npos);

  EXPECT_FALSE(SaveDefinitions("no/such/folder/x.dip"));
  EXPECT_EQ(Host.Operator.Asked.size(), 2u);

  if (geteuid() != 0) {  // root writes into read-only folders anyway
    Put("old.dip", "old");
    chmod(Dir.c_str(), 0555);
    EXPECT_FALSE(SaveDefinitions("old.dip"));
    chmod(Dir.c_str(), 0755);
    EXPECT_EQ(Get("old.dip"), "old");
  }
}

TEST_F(TDefFile, SaveKeepsTheFilesPermissions) {
  Put("p.dip", "old");
  chmod("p.dip", 0600);
  ASSERT_TRUE(SaveDefinitions("p.dip"));
  struct stat st;
  ASSERT_EQ(stat("p.dip", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
